// The named functions of .xls files, both ways.
#include "files/ExcelAddIns.h"

#include <algorithm>

#include "files/ExcelFormula.h"
#include "formula/Catalogue.h"
#include "platform/Text.h"

namespace kelp {

namespace {

using ExcelArgClass::Reference;
using ExcelArgClass::Value;

// Excel 97 reached the first ten through the Analysis ToolPak add-in; Excel 2007 made
// the last five its own, and writes them into .xls as "_xlfn." names. Weeknum goes as a
// "_xlfn." name too: one peer refuses the add-in's Weeknum without its second argument.
// The conditional ones take ranges, which a value class would reduce to one cell.
constexpr ExcelNamedRow kRows[] = {
    {{317, 2, 2, {Value, Value, Value}, "EDATE"}, true},
    {{318, 2, 2, {Value, Value, Value}, "EOMONTH"}, true},
    {{319, 2, 3, {Value, Value, Reference}, "NETWORKDAYS"}, true},
    {{320, 2, 3, {Value, Value, Reference}, "WORKDAY"}, true},
    {{321, 1, 2, {Value, Value, Value}, "WEEKNUM"}, false},
    {{322, 2, 3, {Value, Value, Value}, "YEARFRAC"}, true},
    {{323, 2, 2, {Value, Value, Value}, "MROUND"}, true},
    {{324, 1, 30, {Reference, Reference, Reference}, "GCD"}, true},
    {{325, 1, 30, {Reference, Reference, Reference}, "LCM"}, true},
    {{326, 2, 2, {Value, Value, Value}, "QUOTIENT"}, true},
    {{327, 2, 2, {Value, Value, Value}, "IFERROR"}, false},
    {{328, 2, 30, {Reference, Reference, Reference}, "COUNTIFS"}, false},
    {{329, 3, 30, {Reference, Reference, Reference}, "SUMIFS"}, false},
    {{330, 2, 3, {Reference, Reference, Reference}, "AVERAGEIF"}, false},
    {{331, 3, 30, {Reference, Reference, Reference}, "AVERAGEIFS"}, false},
};

constexpr std::u16string_view LaterPrefix = u"_xlfn.";

}  // namespace

int32_t excelNamedFunction(std::u16string_view name) {
  if (name.size() > LaterPrefix.size() && equalsIgnoreCase(name.substr(0, LaterPrefix.size()), LaterPrefix))
    name.remove_prefix(LaterPrefix.size());
  for (const ExcelNamedRow& entry : kRows) {
    const std::string_view ascii = entry.row.name;
    if (ascii.size() != name.size()) continue;
    if (equalsIgnoreCase(name, std::u16string(ascii.begin(), ascii.end()))) return entry.row.catalogueIndex;
  }
  return -1;
}

const ExcelNamedRow* excelNamedRow(int32_t index) {
  for (const ExcelNamedRow& entry : kRows)
    if (entry.row.catalogueIndex == index) return &entry;
  return nullptr;
}

bool noteExcelNamedFunction(ExcelExportContext& context, int32_t index) {
  const ExcelNamedRow* named = excelNamedRow(index);
  if (!named) return false;
  std::vector<uint16_t>& list = named->addIn ? context.addInFunctions : context.laterFunctions;
  if (std::find(list.begin(), list.end(), index) == list.end()) list.push_back(static_cast<uint16_t>(index));
  return true;
}

}  // namespace kelp
