// Conversion between number format records and Excel number format codes.
#pragma once

#include <string>
#include <string_view>

#include "model/NumberFormat.h"

namespace kelp {

/// The first format index Excel gives to a workbook's own codes; 0 to 163 are built in.
constexpr int FirstUserExcelFormat = 164;

/// The code Excel uses for built-in format `id` (0-22 and 37-49) in a US English
/// setting; empty for ids without a fixed code.
std::u16string_view excelBuiltInCode(int id);

/// The record for an Excel format code. Codes Kelp cannot show as they are (scientific,
/// fractions, scaling) become the nearest record: General for scientific and fractions.
/// Colours ("[Red]", "[Color10]") are kept for positive and negative numbers; conditions,
/// padding ("_)") and fill ("* ") are dropped; "[$€-407]" gives "€".
NumberFormatRecord recordFromExcelCode(std::u16string_view code);
/// The record for built-in Excel format `id`: the locale-dependent ones (14 the short
/// date, 22 short date and time, 5-8 currency) take the locale in force, as Excel does.
NumberFormatRecord recordFromExcelBuiltIn(int id);

/// The Excel code for a record; recordFromExcelCode gives the record back.
std::u16string excelCodeFromRecord(const NumberFormatRecord& format);

}  // namespace kelp
