// The implementations the catalogue rows point at, one family source file each.
#pragma once

namespace kelp {

// Lists and statistics (ListFunctions.cpp).
void fnSum();
void fnAverage();
void fnCount();
void fnCountA();
void fnMin();
void fnMax();

// Logical (LogicalFunctions.cpp).
void fnIf();
void fnAnd();
void fnOr();
void fnNot();
void fnTrue();
void fnFalse();

// Information (InfoFunctions.cpp).
void fnNA();
void fnIsError();
void fnIsNA();

// Mathematics (MathFunctions.cpp).
void fnAbs();
void fnInt();
void fnRound();

// Text (TextFunctions.cpp).
void fnLen();
void fnConcatenate();

}  // namespace kelp
