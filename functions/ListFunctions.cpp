// List functions: the list walk over areas and direct arguments, and the aggregates
// (sums, counts, means, extremes, variances and Subtotal) built on it.
#include <cmath>
#include <cstdint>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"
#include "functions/ListAggregates.h"

namespace kelp {

namespace {

// Keeps the first error met inside one area, for `flush` to make pending once the walk
// is over; an argument further left, walked later, overwrites it, so the leftmost
// failing argument wins. No call during the walk lets the walk keep its totals in
// registers (a call would send the floating-point ones to the stack at every cell).
struct AreaErrors {
  bool seen = false;
  uint32_t code = 0;
  void record(const CellValue& value) {
    if (seen || value.kind != ValueKind::Error) return;
    seen = true;
    code = value.u32();
  }
  void flush() const {
    if (seen) setPendingError(static_cast<CellError>(code));
  }
};

// Calls `cell` for each non-empty cell of area arguments and `direct` for every
// other argument (which it must pop), last argument first, down to argument `first`
// (counted from 1). Area texts come as stored: the aggregates look at kinds only.
template <typename Cell, typename Direct>
void walkArguments(Cell cell, Direct direct, int32_t first = 1) {
  for (int32_t i = argCount(); i >= first; --i) {
    AreaIterator it;
    if (popAreaIterator(it)) {
      AreaErrors errors;
      it.forEach([&](const CellValue& value) {
        errors.record(value);
        cell(value);
      });
      errors.flush();
    } else {
      direct();
    }
  }
}

}  // namespace

namespace lists {

Input plainNumber(const CellValue& value, bool direct) {
  if (value.kind == ValueKind::Number) return take(value.number());
  if (direct && value.kind == ValueKind::Integer) return take(value.i32());
  return {};
}

Input numberOrDate(const CellValue& value, bool) {
  if (value.isNumeric()) return take(value.number(), value.kind == ValueKind::DateTime);
  if (value.kind == ValueKind::Integer) return take(value.i32());
  return {};
}

Input anyValue(const CellValue& value, bool direct) {
  switch (value.kind) {
    case ValueKind::Text:
      return take(0);
    case ValueKind::Logical:
      return take(value.u32() ? 1 : 0);
    default:
      return numberOrDate(value, direct);
  }
}

void Gather::run(Classify classify, int32_t first) {
  walkArguments(
      [&](const CellValue& value) {
        ++nonEmpty;
        add(classify(value, false));
      },
      [&] {
        CellValue value;
        popResolved(value);
        if (value.kind == ValueKind::Error) setPendingError(cellError(value));
        if (value.kind != ValueKind::Empty) ++nonEmpty;
        add(classify(value, true));
        releaseValue(value);
      },
      first);
}

void Gather::push(double result) const {
  if (anyDate)
    pushDateTime(result);
  else
    pushNumber(result);
}

void pushAverage(const Gather& g) {
  if (g.count == 0)
    pushError(CellError::Div0);
  else
    g.push(g.sum / g.count);
}

void pushExtreme(const Gather& g, bool largest) {
  if (g.count == 0)
    pushNumber(0);
  else
    g.push(largest ? g.max : g.min);
}

// An empty product is 0, as an empty Sum or Max is, not 1.
void pushProduct(const Gather& g) { pushNumber(g.count == 0 ? 0 : g.product); }

void pushVariance(const Gather& g, bool sample, bool root) {
  double divisor = sample ? g.count - 1 : g.count;
  if (divisor < 1) {
    pushError(CellError::Div0);
    return;
  }
  double variance = g.deviations() / divisor;
  pushNumber(root ? std::sqrt(variance) : variance);
}

}  // namespace lists

namespace {

using namespace lists;

// Runs a gather over all arguments and, unless an error is pending, the reduction.
template <typename Reduce>
void aggregate(Classify classify, Reduce reduce) {
  Gather g;
  g.run(classify);
  if (!takePendingError()) return;
  reduce(g);
}

void fnProduct() { aggregate(plainNumber, pushProduct); }
void fnVar() { aggregate(plainNumber, [](const Gather& g) { pushVariance(g, true, false); }); }
void fnVarP() { aggregate(plainNumber, [](const Gather& g) { pushVariance(g, false, false); }); }
void fnStdev() { aggregate(plainNumber, [](const Gather& g) { pushVariance(g, true, true); }); }
void fnStdevP() { aggregate(plainNumber, [](const Gather& g) { pushVariance(g, false, true); }); }
void fnSumsq() { aggregate(plainNumber, [](const Gather& g) { pushNumber(g.sumOfSquares); }); }

void fnAverageA() {
  aggregate(anyValue, [](const Gather& g) {
    if (g.count == 0)
      pushError(CellError::Div0);
    else
      pushNumber(g.sum / g.count);
  });
}
void fnMaxA() { aggregate(anyValue, [](const Gather& g) { pushNumber(g.count == 0 ? 0 : g.max); }); }
void fnMinA() { aggregate(anyValue, [](const Gather& g) { pushNumber(g.count == 0 ? 0 : g.min); }); }
void fnVarA() { aggregate(anyValue, [](const Gather& g) { pushVariance(g, true, false); }); }
void fnVarpA() { aggregate(anyValue, [](const Gather& g) { pushVariance(g, false, false); }); }
void fnStdevA() { aggregate(anyValue, [](const Gather& g) { pushVariance(g, true, true); }); }
void fnStdevpA() { aggregate(anyValue, [](const Gather& g) { pushVariance(g, false, true); }); }

void fnSubtotal() {
  Gather g;
  g.run(plainNumber, 2);
  // The error met in the cells waits while the function number is read.
  uint32_t walkError = evalState().pendingError;
  evalState().pendingError = 0;
  int32_t which = popInteger();
  if (!takePendingError()) return;
  // The counts, like Count and CountA themselves, never give an error met in the
  // cells as their result; the other reductions do.
  if (which == 2 || which == 3) {
    pushNumber(which == 2 ? g.count : g.nonEmpty);
    return;
  }
  if (which < 1 || which > 11) {
    pushError(CellError::Value);
    return;
  }
  evalState().pendingError = walkError;
  if (!takePendingError()) return;
  switch (which) {
    case 1: pushAverage(g); return;
    case 4: pushExtreme(g, true); return;
    case 5: pushExtreme(g, false); return;
    case 6: pushProduct(g); return;
    case 7: pushVariance(g, true, true); return;
    case 8: pushVariance(g, false, true); return;
    case 9: g.push(g.sum); return;
    case 10: pushVariance(g, true, false); return;
    default: pushVariance(g, false, false); return;
  }
}

}  // namespace

namespace {

// The running total of one area's cells, carried by value through the walk so that it
// stays in registers. It starts from the total so far: the additions come in order.
struct AreaSum {
  double sum;
  bool anyDate = false;
  AreaErrors errors;
  void operator()(const CellValue& value) {
    if (value.kind == ValueKind::Number) {
      sum += value.number();
    } else if (value.kind == ValueKind::DateTime) {
      sum += value.number();
      anyDate = true;
    } else {
      errors.record(value);
    }
  }
};

}  // namespace

void fnSum() {
  double sum = 0;
  bool anyDate = false;
  for (int32_t i = argCount(); i >= 1; --i) {
    AreaIterator it;
    if (!popAreaIterator(it)) {
      // Given directly, texts that read as numbers and logical values count.
      sum += popNumber();
      continue;
    }
    AreaSum area = it.forEach(AreaSum{sum, false, {}});
    area.errors.flush();
    sum = area.sum;
    anyDate = anyDate || area.anyDate;
  }
  if (!takePendingError()) return;
  if (anyDate)
    pushDateTime(sum);
  else
    pushNumber(sum);
}

void fnAverage() { aggregate(numberOrDate, pushAverage); }
void fnMin() { aggregate(numberOrDate, [](const Gather& g) { pushExtreme(g, false); }); }
void fnMax() { aggregate(numberOrDate, [](const Gather& g) { pushExtreme(g, true); }); }

void fnCount() {
  Gather g;
  g.run(plainNumber);
  // Errors are values like any other here: counted or not, never the result.
  clearPendingError();
  pushNumber(g.count);
}

void fnCountA() {
  Gather g;
  g.run(plainNumber);
  clearPendingError();
  pushNumber(g.nonEmpty);
}

std::span<const FunctionBinding> listBindings() {
  static constexpr FunctionBinding bindings[] = {
      {1, fnCount},     {2, fnCountA},   {3, fnSum},      {4, fnProduct},  {5, fnAverage},   {6, fnMax},
      {7, fnMin},       {33, fnVar},     {34, fnVarP},    {35, fnStdev},   {36, fnStdevP},   {188, fnSumsq},
      {199, fnAverageA}, {200, fnMaxA},  {201, fnMinA},   {202, fnStdevpA}, {203, fnVarpA},  {204, fnStdevA},
      {205, fnVarA},    {206, fnSubtotal},
  };
  return bindings;
}

}  // namespace kelp
