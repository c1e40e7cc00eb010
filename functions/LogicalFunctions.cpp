// Logical functions: If, And, Or, Not and the logical constants.
#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

void fnIf() {
  CellValue otherwise = emptyValue();
  bool hasOtherwise = argCount() == 3;
  if (hasOtherwise) popValue(otherwise);
  CellValue then;
  popValue(then);
  uint32_t condition = popLogical();
  if (!takePendingError()) {
    releaseValue(otherwise);
    releaseValue(then);
    return;
  }
  // The chosen argument moves as it is, so If can give a reference to a function.
  if (condition) {
    releaseValue(otherwise);
    pushValue(then);
  } else if (hasOtherwise) {
    releaseValue(then);
    pushValue(otherwise);
  } else {
    releaseValue(then);
    pushLogical(0);
  }
}

void fnAnd() {
  bool all = true;
  for (int32_t i = argCount(); i > 0; --i) all = popLogical() != 0 && all;
  if (!takePendingError()) return;
  pushLogical(all);
}

void fnOr() {
  bool any = false;
  for (int32_t i = argCount(); i > 0; --i) any = popLogical() != 0 || any;
  if (!takePendingError()) return;
  pushLogical(any);
}

void fnNot() {
  uint32_t b = popLogical();
  if (!takePendingError()) return;
  pushLogical(!b);
}

void fnTrue() { pushLogical(1); }
void fnFalse() { pushLogical(0); }


std::span<const FunctionBinding> logicalBindings() {
  static constexpr FunctionBinding bindings[] = {
      {18, fnAnd},
      {19, fnOr},
      {20, fnNot},
      {37, fnIf},
      {131, fnTrue},
      {132, fnFalse},
  };
  return bindings;
}

}  // namespace kelp
