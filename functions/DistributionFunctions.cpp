// Probability distributions and their inverses.
#include "functions/FunctionFamilies.h"

namespace kelp {

std::span<const FunctionBinding> distributionBindings() { return {}; }

}  // namespace kelp
