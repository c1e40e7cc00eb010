// Text functions; every result text is a new text value.
#include <string>
#include <vector>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

void fnLen() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  pushNumber(static_cast<double>(text.size()));
}

void fnConcatenate() {
  std::vector<std::u16string> parts(argCount());
  for (size_t i = parts.size(); i > 0; --i) parts[i - 1] = popTextCopy();
  if (!takePendingError()) return;
  std::u16string joined;
  for (const std::u16string& part : parts) joined += part;
  pushText(joined);
}


std::span<const FunctionBinding> textBindings() {
  static constexpr FunctionBinding bindings[] = {
      {38, fnLen},
      {130, fnConcatenate},
  };
  return bindings;
}

}  // namespace kelp
