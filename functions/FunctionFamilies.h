// The implementations the catalogue rows point at, one family source file each.
// Each family lists the rows it implements and startEngine binds them, so a family is
// added without touching the catalogue's data.
#pragma once

#include <cstdint>
#include <span>

#include "formula/Catalogue.h"

namespace kelp {

std::span<const FunctionBinding> mathBindings();          // MathFunctions.cpp
std::span<const FunctionBinding> listBindings();          // ListFunctions.cpp
std::span<const FunctionBinding> statisticsBindings();    // StatisticsFunctions.cpp
std::span<const FunctionBinding> distributionBindings();  // DistributionFunctions.cpp
std::span<const FunctionBinding> logicalBindings();       // LogicalFunctions.cpp
std::span<const FunctionBinding> infoBindings();          // InfoFunctions.cpp
std::span<const FunctionBinding> textBindings();          // TextFunctions.cpp
std::span<const FunctionBinding> databaseBindings();      // DatabaseFunctions.cpp

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
