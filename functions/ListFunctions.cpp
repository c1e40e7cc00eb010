// List and statistical functions: the list walk over areas and direct arguments.
#include <vector>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

namespace {

// Records the first error met inside one area; an argument further left, walked
// later, overwrites it, so the leftmost failing argument wins.
struct AreaErrors {
  bool seen = false;
  void record(const CellValue& value) {
    if (seen || value.kind != ValueKind::Error) return;
    seen = true;
    setPendingError(value.u32());
  }
};

// Calls `cell` for each non-empty cell of area arguments and `direct` for every
// other argument (which it must pop), last argument first.
template <typename Cell, typename Direct>
void walkArguments(Cell cell, Direct direct) {
  for (int32_t i = argCount(); i > 0; --i) {
    AreaIterator it;
    if (popAreaIterator(it)) {
      AreaErrors errors;
      CellValue value;
      while (it.next(value)) {
        errors.record(value);
        cell(value);
      }
    } else {
      direct();
    }
  }
}

// Numbers and dates, from cells or given directly, with errors recorded; the rest skipped.
struct NumericGather {
  double sum = 0;
  double count = 0;
  bool anyDate = false;
  bool any = false;
  double min = 0;
  double max = 0;
  void add(double d, bool isDate) {
    sum += d;
    ++count;
    anyDate = anyDate || isDate;
    if (!any || d < min) min = d;
    if (!any || d > max) max = d;
    any = true;
  }
  void take(const CellValue& value) {
    if (value.isNumeric()) add(value.number(), value.kind == ValueKind::DateTime);
  }
  void run() {
    walkArguments([this](const CellValue& value) { take(value); },
                  [this] {
                    CellValue value;
                    popResolved(value);
                    if (value.kind == ValueKind::Error) setPendingError(value.u32());
                    take(value);
                    releaseValue(value, false);
                  });
  }
  void push(double result) {
    if (anyDate)
      pushDateTime(result);
    else
      pushNumber(result);
  }
};

}  // namespace

void fnSum() {
  double sum = 0;
  bool anyDate = false;
  walkArguments(
      [&](const CellValue& value) {
        if (!value.isNumeric()) return;
        sum += value.number();
        anyDate = anyDate || value.kind == ValueKind::DateTime;
      },
      // Given directly, texts that read as numbers and logical values count.
      [&] { sum += popNumber(); });
  if (!takePendingError()) return;
  if (anyDate)
    pushDateTime(sum);
  else
    pushNumber(sum);
}

void fnAverage() {
  NumericGather gather;
  gather.run();
  if (!takePendingError()) return;
  if (gather.count == 0) {
    pushError(CellError::Div0);
    return;
  }
  gather.push(gather.sum / gather.count);
}

void fnMin() {
  NumericGather gather;
  gather.run();
  if (!takePendingError()) return;
  gather.push(gather.min);
}

void fnMax() {
  NumericGather gather;
  gather.run();
  if (!takePendingError()) return;
  gather.push(gather.max);
}

void fnCount() {
  double count = 0;
  walkArguments(
      [&](const CellValue& value) {
        if (value.kind == ValueKind::Number) ++count;
      },
      [&] {
        CellValue value;
        popResolved(value);
        if (value.kind == ValueKind::Number || value.kind == ValueKind::Integer) ++count;
        releaseValue(value, false);
      });
  // Errors are values like any other here: counted or not, never the result.
  setPendingError(0);
  pushNumber(count);
}

void fnCountA() {
  double count = 0;
  walkArguments([&](const CellValue&) { ++count; },
                [&] {
                  CellValue value;
                  popResolved(value);
                  if (value.kind != ValueKind::Empty) ++count;
                  releaseValue(value, false);
                });
  setPendingError(0);
  pushNumber(count);
}


std::span<const FunctionBinding> listBindings() {
  static constexpr FunctionBinding bindings[] = {
      {1, fnCount},
      {2, fnCountA},
      {3, fnSum},
      {5, fnAverage},
      {6, fnMax},
      {7, fnMin},
  };
  return bindings;
}

}  // namespace kelp
