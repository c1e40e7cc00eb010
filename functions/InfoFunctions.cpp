// Information functions: tests of a value's kind, N, Type and the !!NA value.
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
  return kindOnly;  // only its kind, error code and number are read
}

// A number in the sense of IsNumber, N and Type: a date number is not one.
bool isPlainNumber(const CellValue& value) {
  return value.kind == ValueKind::Number || value.kind == ValueKind::Integer;
}

}  // namespace

void fnNA() { pushError(CellError::NA); }

void fnIsError() { pushLogical(popExamined().kind == ValueKind::Error); }

void fnIsNA() {
  CellValue value = popExamined();
  pushLogical(value.kind == ValueKind::Error && cellError(value) == CellError::NA);
}

void fnIsErr() {
  CellValue value = popExamined();
  pushLogical(value.kind == ValueKind::Error && cellError(value) != CellError::NA);
}

void fnIsBlank() { pushLogical(popExamined().kind == ValueKind::Empty); }
void fnIsLogical() { pushLogical(popExamined().kind == ValueKind::Logical); }
void fnIsNumber() { pushLogical(isPlainNumber(popExamined())); }
void fnIsText() { pushLogical(popExamined().kind == ValueKind::Text); }
void fnIsNonText() { pushLogical(popExamined().kind != ValueKind::Text); }

void fnIsRef() {
  CellValue value;
  popValue(value);  // looked at as it stands: a reference is not replaced first
  bool reference = value.kind == ValueKind::CellRef || value.kind == ValueKind::AreaRef ||
                   value.kind == ValueKind::SheetCellRef || value.kind == ValueKind::SheetAreaRef;
  releaseValue(value);
  pushLogical(reference);
}

void fnN() {
  CellValue value = popExamined();
  switch (value.kind) {
    case ValueKind::Logical:
      return pushNumber(value.u32() ? 1 : 0);
    case ValueKind::Number:
      return pushNumber(value.number());
    case ValueKind::Integer:
      return pushNumber(value.i32());
    case ValueKind::Error:
      return pushNumber(static_cast<double>(value.u32()));
    default:
      return pushNumber(0);  // texts, date numbers and empty values
  }
}

void fnType() {
  switch (popExamined().kind) {
    case ValueKind::Text:
      return pushNumber(2);
    case ValueKind::Logical:
      return pushNumber(4);
    case ValueKind::Error:
      return pushNumber(16);
    default:
      return pushNumber(1);  // numbers, date numbers and empty values
  }
}


std::span<const FunctionBinding> infoBindings() {
  static constexpr FunctionBinding bindings[] = {
      {42, fnIsBlank}, {43, fnIsError}, {44, fnIsLogical}, {45, fnIsNumber}, {46, fnIsText},
      {75, fnIsErr},   {76, fnIsNA},    {77, fnIsNonText}, {78, fnIsRef},    {79, fnNA},
      {107, fnN},      {136, fnType},
  };
  return bindings;
}

}  // namespace kelp
