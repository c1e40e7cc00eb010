// The native ".kp" record stream: the whole workbook, and a cell range as clipboard data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "files/Password.h"
#include "model/Sheet.h"

namespace kelp {

class DocStream;
class Workbook;

/// Version numbers of record 1; files and older releases rely on them.
namespace NativeVersion {
constexpr uint16_t Format = 3;
constexpr uint16_t Writer = 3;
constexpr uint16_t OldestReader = 3;
}  // namespace NativeVersion

/// The record types of the format; the numbers are frozen.
namespace NativeRecord {
constexpr uint16_t Header = 1, End = 2, StringCount = 3, String = 4, SheetStart = 5, Sheet = 7, Font = 8,
                   OldStyle = 9, RangeSize = 10, CellRow = 11, FormulaCount = 12, Formula = 13, View = 14,
                   ColumnRun = 15, TableSizes = 16, NumberFormat = 17, DateFormat = 18, CodePage = 19,
                   NameCount = 20, Name = 21, ViewPosition = 22, BookProtection = 23, SheetProtection = 24,
                   Task = 25, FilterRange = 26, FilterColumn = 27, Password = 28, Palette = 29, Style = 30,
                   Merged = 31, Validation = 32, ExternalBook = 33, ExternalBookCount = 34, Visibility = 35,
                   PageHeader = 36, PageFooter = 37, LeftMargin = 38, RightMargin = 39, TopMargin = 40,
                   BottomMargin = 41, PageSetup = 42, ActiveSheet = 0x8001;
}  // namespace NativeRecord

/// The longest cell text a file keeps: a string record holds its count, the characters
/// and a terminator in at most 65535 bytes. Entries are refused beyond it.
constexpr size_t MaxStoredText = (65535 - 4) / 2 - 1;

/// The most data bytes a record holds; the rules below follow from it.
constexpr size_t MaxNativeRecord = 65535;

/// The bytes of the record that stores `rule` with `areaCount` areas; a rule that needs
/// more than MaxNativeRecord cannot be saved, so it is refused when it is set.
size_t nativeRuleBytes(const ValidationRule& rule, size_t areaCount);

/// What a paste brings into the target (the five paste switches).
struct PasteOptions {
  bool contents = true;
  bool formats = true;
  bool validation = true;
  bool skipBlanks = false;
  bool onlyResults = false;
};

/// Where clipboard data goes: a sheet of the workbook read into, and the origin cell.
struct PasteTarget {
  int32_t sheet = 0;
  uint16_t column = 0;
  uint16_t row = 0;
  PasteOptions options;
};

struct NativeReadOptions {
  /// Where clipboard data is pasted; without one it goes to the active sheet's selection.
  const PasteTarget* paste = nullptr;
  /// Asked for the password of a protected file; without one such a file is not opened.
  PasswordPrompt askPassword;
  /// Shows a message at once while reading goes on (33 for a newer file that can be read).
  std::function<void(uint32_t code)> showMessage;
};

struct NativeReadResult {
  bool cancelled = false;    // the password prompt was cancelled; no error is set
  uint32_t notice = 0;       // a message shown while reading went on (33)
  bool pasted = false;       // clipboard data went into the paste target
  Area pastedArea{};
  bool hasVolatile = false;  // some formula calls Rand, Now or Today
  int32_t formulaCount = 0;  // formula cells read
};

/// Writes the whole workbook; a password switches scrambling on after record 28.
void WriteNativeWorkbook(Workbook& workbook, DocStream& stream);
/// Writes `range` of sheet `sheet` in the clipboard form.
void WriteNativeRange(Workbook& workbook, DocStream& stream, int32_t sheet, const Area& range, bool cut = false);
/// Reads either form into `workbook` (an empty one for a whole workbook). False on an
/// error (in the error state) or a cancelled password prompt (no error).
bool ReadNative(Workbook& workbook, DocStream& stream, const NativeReadOptions& options = {},
                NativeReadResult* result = nullptr);

/// The call site that brings loaded or pasted formulas up to date; until the
/// recalculation engine links into this layer it leaves the cached results as read.
void recalculateAfterLoad(Workbook& workbook);

}  // namespace kelp
