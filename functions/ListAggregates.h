// The running totals the list aggregates gather and the reductions that turn them into
// results; the database functions gather the fields of matching records the same way.
#pragma once

#include <cstdint>

#include "model/CellValue.h"

namespace kelp::lists {

// What one value gives to an aggregate: nothing, or a number that may be a date.
struct Input {
  bool counts = false;
  double value = 0;
  bool isDate = false;
};

inline Input take(double value, bool isDate = false) { return Input{true, value, isDate}; }

/// Numbers only: kind 4 in cells; given directly, integers too.
Input plainNumber(const CellValue& value, bool direct);
/// Numbers and date numbers, wherever they come from.
Input numberOrDate(const CellValue& value, bool direct);
/// The "A" forms: texts count as 0, logical values as 1 or 0.
Input anyValue(const CellValue& value, bool direct);

using Classify = Input (*)(const CellValue&, bool);

// Everything the aggregates read, gathered in one walk. Deviations are summed
// from the first value counted rather than from 0, so that the variance of large,
// close numbers does not cancel to nonsense.
struct Gather {
  double count = 0;
  double sum = 0;
  double product = 1;
  double sumOfSquares = 0;
  double min = 0;
  double max = 0;
  double shift = 0;
  double shiftedSum = 0;
  double shiftedSquares = 0;
  double nonEmpty = 0;  // every value met, for CountA-like counts
  bool anyDate = false;

  void add(const Input& in) {
    if (!in.counts) return;
    double x = in.value;
    if (count == 0) shift = min = max = x;
    min = x < min ? x : min;
    max = x > max ? x : max;
    ++count;
    sum += x;
    product *= x;
    sumOfSquares += x * x;
    shiftedSum += x - shift;
    shiftedSquares += (x - shift) * (x - shift);
    anyDate = anyDate || in.isDate;
  }

  /// The sum of squared deviations from the mean.
  double deviations() const {
    double d = shiftedSquares - shiftedSum * shiftedSum / count;
    return d > 0 ? d : 0;
  }

  /// Gathers the arguments from the last down to argument `first` (counted from 1).
  void run(Classify classify, int32_t first = 1);
  /// Pushes `result`, as a date number when any date was gathered.
  void push(double result) const;
};

// The reductions that Subtotal selects by number, each with its own empty cases.
void pushAverage(const Gather& g);
void pushExtreme(const Gather& g, bool largest);
void pushProduct(const Gather& g);
void pushVariance(const Gather& g, bool sample, bool root);

}  // namespace kelp::lists
