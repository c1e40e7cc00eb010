// Filling the selection: repeating a block, Fill Right and Fill Down (copies or custom
// lists), series and Autofill, as sheet operations and as undoable commands.
//
// The sheet operations are what command functions 223, 224, 227 and 234 run; the
// commands build their programs, refuse a selection touching a merged area with error
// 53 (a block fill copies merged areas instead) and record one undo entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/Sheet.h"

namespace kelp {

class Workbook;
class UndoList;

enum class FillDirection : uint16_t { Right = 0, Down = 1 };
enum class SeriesType : uint16_t { Linear = 0, Growth = 1, Date = 2, AutoFill = 3 };
enum class DateUnit : uint16_t { Day = 0, Weekday = 1, Month = 2, Year = 3 };

/// The Series dialog's choices; the application keeps one set between uses.
struct SeriesSettings {
  FillDirection direction = FillDirection::Right;
  SeriesType type = SeriesType::Linear;
  DateUnit dateUnit = DateUnit::Day;
  double step = 1.0;
  double stop = 0;
  bool hasStop = false;
};

/// The custom lists fills continue, each list its items each followed by a comma. The
/// shell installs its settings' lists (they stay the caller's); null or none installed
/// gives the built-in lists of the string table.
void installFillLists(const std::vector<std::u16string>* lists);
/// Lists split at each ";" and keep their trailing comma; text after the last ";" is dropped.
std::vector<std::u16string> parseCustomLists(std::u16string_view text);
const std::vector<std::u16string>& fillLists();

// ----- Sheet operations.

/// Repeats `source` over `dest` (source cells stay): values, formulas (relative
/// references shift), styles, and merged areas started by source cells when a merged
/// area lies inside `selection`. False when memory ran out (error 15).
bool fillArea(Sheet& sheet, const Area& source, const Area& dest, const Area& selection);
/// Fill Right (each row from its leftmost cell) or Fill Down (each column from its top
/// cell) over `area`; with `useLists` a text item of a custom list continues the list.
bool fillFromFirst(Sheet& sheet, const Area& area, FillDirection direction, bool useLists);
/// A series over `area` from the first cell of each row or column.
bool fillSeries(Sheet& sheet, const Area& area, const SeriesSettings& settings);
/// The date `index` steps of `months` months after `seed`, the day clamped to the end
/// of shorter months; false outside the years 100 to 9999.
bool addMonths(double seed, double months, int64_t index, double& out);
/// `seed` moved by the whole part of `step` weekdays (Saturday and Sunday not counted).
double addWeekdays(double seed, double step);

// ----- Commands on the active sheet's selection.

/// Repeats `source` over the selection. Label "Paste".
bool fillBlockCommand(Workbook& workbook, UndoList& undo, const Area& source);
/// Label "Fill Right" / "Fill Down".
bool fillRightCommand(Workbook& workbook, UndoList& undo, bool useLists);
bool fillDownCommand(Workbook& workbook, UndoList& undo, bool useLists);
/// A series with `settings` (type Autofill runs autoFill over the selection). Label
/// "Fill Series".
bool seriesCommand(Workbook& workbook, UndoList& undo, const SeriesSettings& settings);
/// Chooses between a plain fill with lists and a series from the first cells of
/// `source` (its top-left is the selection's) and fills the selection.
bool autoFill(Workbook& workbook, UndoList& undo, const Area& source, FillDirection direction);

}  // namespace kelp
