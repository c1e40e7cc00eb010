// The internal command functions that command programs call.
#include "functions/FunctionFamilies.h"

namespace kelp {

std::span<const FunctionBinding> commandBindings() { return {}; }

}  // namespace kelp
