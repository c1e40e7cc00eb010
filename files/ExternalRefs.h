// Formulas that read other workbook files: where such a file is found, the values read
// from it on demand, and the sheet names a typed reference is checked against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/CellValue.h"

namespace kelp {

class Workbook;

/// Installs GetExternalValue as the evaluator's hook and readExternalSheetNames as the
/// compiler's.
void installExternalReferences();

/// Cell (column, row) of sheet `sheet` of external workbook `book` of `workbook`, owned by
/// the caller: the value the file holds (a formula's stored result), an empty value for a
/// cell it lacks, !!NA when the file or the sheet cannot be read. The first value asked
/// of a sheet reads the whole sheet from the file, read-only and closed at once; the
/// values stay with the workbook until it is closed. The error state is left as it was.
/// A workbook whose user declined reads nothing: the formula asking keeps its result.
CellValue GetExternalValue(Workbook& workbook, int32_t book, int32_t sheet, int32_t column, int32_t row);

/// The files the workbook's formulas name, each as its folder and name, joined by ", ".
std::u16string externalFileList(const Workbook& workbook);

/// The first formula, sheet by sheet and row by row, that reads another file, as
/// "Sheet1!B2 =[a.kp]Sheet1!A1"; the first file's name when only names or rules do.
std::u16string firstExternalFormula(const Workbook& workbook);

/// The sheet names of the workbook file `directory` and `name` name for a formula of
/// `workbook`; false when it cannot be found or read.
bool readExternalSheetNames(const Workbook& workbook, std::u16string_view directory, std::u16string_view name,
                            std::vector<std::u16string>& sheets);

/// The paths tried for an external workbook, in order: a name starting with "/" alone;
/// else the stored folder with the name (a relative folder taken from the referring
/// workbook's folder), then the referring workbook's folder with the name. "\" counts
/// as "/"; a folder of another system ("C:\...") is skipped. An untitled workbook's
/// folder is the current one.
std::vector<std::string> externalBookPaths(const Workbook& workbook, std::u16string_view directory,
                                           std::u16string_view name);

/// How many reads of other files may be nested (a file read by a reader that itself
/// evaluates references); deeper ones, and any that comes back to a file being read,
/// give !!NA.
constexpr int32_t MaxExternalDepth = 4;
/// Files above this size are not read for their values.
constexpr uint64_t MaxExternalFileBytes = uint64_t{256} << 20;

}  // namespace kelp
