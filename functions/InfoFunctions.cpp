// Information functions: tests of a value's kind and the !!NA value.
#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

namespace {

// The argument with a reference replaced by its value, then released.
CellValue popExamined() {
  CellValue value;
  popResolved(value);
  CellValue kindOnly = value;
  releaseValue(value);
  return kindOnly;  // only its kind and error code are read
}

}  // namespace

void fnNA() { pushError(CellError::NA); }

void fnIsError() { pushLogical(popExamined().kind == ValueKind::Error); }

void fnIsNA() {
  CellValue value = popExamined();
  pushLogical(value.kind == ValueKind::Error && cellError(value) == CellError::NA);
}


std::span<const FunctionBinding> infoBindings() {
  static constexpr FunctionBinding bindings[] = {
      {43, fnIsError},
      {76, fnIsNA},
      {79, fnNA},
  };
  return bindings;
}

}  // namespace kelp
