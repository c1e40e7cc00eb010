// Mathematical functions of one or two numbers.
#include <cmath>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

void fnAbs() {
  double x = popNumber();
  if (!takePendingError()) return;
  pushNumber(std::fabs(x));
}

void fnInt() {
  double x = popNumber();
  if (!takePendingError()) return;
  pushNumber(std::floor(x));
}

void fnRound() {
  double digits = std::trunc(popNumber());
  double x = popNumber();
  if (!takePendingError()) return;
  // Halves go up towards +infinity, so -2.5 rounds to -2.
  double r = std::pow(10.0, -digits);
  pushNumber(r == 0 ? 0 : std::floor((x + r / 2) / r) * r);
}


std::span<const FunctionBinding> mathBindings() {
  static constexpr FunctionBinding bindings[] = {
      {0, fnAbs},
      {24, fnInt},
      {25, fnRound},
  };
  return bindings;
}

}  // namespace kelp
