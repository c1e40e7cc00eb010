// The implementations the catalogue rows point at, one family source file each.
// Each family lists the rows it implements and startEngine binds them, so a family is
// added without touching the catalogue's data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/Evaluator.h"

namespace kelp {

std::span<const FunctionBinding> mathBindings();          // MathFunctions.cpp
std::span<const FunctionBinding> listBindings();          // ListFunctions.cpp
std::span<const FunctionBinding> statisticsBindings();    // StatisticsFunctions.cpp
std::span<const FunctionBinding> distributionBindings();  // DistributionFunctions.cpp
std::span<const FunctionBinding> logicalBindings();       // LogicalFunctions.cpp
std::span<const FunctionBinding> infoBindings();          // InfoFunctions.cpp
std::span<const FunctionBinding> textBindings();          // TextFunctions.cpp
std::span<const FunctionBinding> financialBindings();     // FinancialFunctions.cpp
std::span<const FunctionBinding> dateBindings();          // DateFunctions.cpp
std::span<const FunctionBinding> lookupBindings();        // LookupFunctions.cpp
std::span<const FunctionBinding> databaseBindings();      // DatabaseFunctions.cpp
std::span<const FunctionBinding> desktopBindings();       // DesktopFunctions.cpp

// The list walk of the statistical functions (StatisticsFunctions.cpp).
bool isReference(ValueKind kind);
/// Appends the numbers (kind 4) of the area's cells in walk order; the first error met
/// is recorded.
void collectAreaNumbers(const SheetArea& area, std::vector<double>& out);
/// Pops one argument: an area gives its number cells; a value given directly counts
/// when it is a number and is recorded when it is an error.
void collectArgumentNumbers(std::vector<double>& out);

// Fixed and Dollar (TextFunctions.cpp): a negative count of decimals rounds the number
// to tens, hundreds, ... half away from zero, and the count becomes 0.
void roundToTensForText(double& number, int32_t& decimals);

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
