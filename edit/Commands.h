// Command programs: every undoable change as a small token program run by the
// evaluator, the undo list that replays them, and the editing operations built on them.
//
// How a caller performs an undoable change:
//   - an editing operation below (enterCellValue, clearSelection, applyBold, ...) does
//     everything: it builds both programs, runs the change and records it;
//   - for a change of its own a caller builds a redo and an undo ProgramBuilder (pushes,
//     then call(index) of a command function), finishes both and hands them to
//     UndoList::recordUndo with perform = true.
// All operations work on the workbook's active sheet and, where they say so, on its
// selection. Failures are codes in the error state (15 out of memory); nothing throws.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/CellValue.h"
#include "model/Sheet.h"

namespace kelp {

class TokenSink;
class Workbook;
struct StyleRecord;
struct FontRecord;

/// The internal command functions (catalogue rows 207-249) that programs call.
namespace CommandFunction {
constexpr int32_t SetCell = 207;          // column, row, style, value
constexpr int32_t SelectSheet = 208;      // sheet
constexpr int32_t RowHeight = 209;        // row, height, explicit, hidden
constexpr int32_t DefaultRowHeight = 210; // height, flag
constexpr int32_t HideRow = 211;          // row, hidden
constexpr int32_t ColumnWidth = 212;      // column, width
constexpr int32_t HideColumn = 213;       // column, hidden (242 is the same)
constexpr int32_t Bold = 214;             // on
constexpr int32_t Italic = 215;           // on
constexpr int32_t Underline = 216;        // on
constexpr int32_t RestoreRow = 217;       // row, height, flags, style
constexpr int32_t RestoreColumn = 218;    // column, width, style, flags
constexpr int32_t Select = 219;           // first column, last column, first row, last row
constexpr int32_t WholeStyle = 220;       // eleven style words, nine font fields, face text[, style mask, font mask]
constexpr int32_t ClearAll = 221;
constexpr int32_t Sort = 222;             // has header, case sensitive, by rows, ascending 1-3, key 1-3
constexpr int32_t FillRight = 223;        // use lists
constexpr int32_t FillDown = 224;         // use lists
constexpr int32_t Clear = 225;            // mode (ClearMode)
constexpr int32_t FitRowHeights = 226;
constexpr int32_t FillBlock = 227;        // first column, last column, first row, last row of the source
constexpr int32_t Recalculate = 228;
constexpr int32_t InsertCells = 229;
constexpr int32_t DeleteCells = 230;
constexpr int32_t MoveAdjust = 231;       // destination area, source area (first row, first column, last row, last column each)
constexpr int32_t FitColumn = 232;
constexpr int32_t FitRow = 233;
constexpr int32_t Series = 234;           // has stop, stop, step, date unit, type, direction
constexpr int32_t Alignment = 235;        // alignment, reset
constexpr int32_t Merge = 236;            // first row, first column, last row, last column
constexpr int32_t Unmerge = 237;          // the merged areas inside the selection
constexpr int32_t RowOutline = 238;       // row, level
constexpr int32_t ColumnOutline = 239;    // column, level
constexpr int32_t RowOutlineTop = 240;
constexpr int32_t ColumnOutlineTop = 241;
constexpr int32_t HideColumnToo = 242;
constexpr int32_t GoalSeek = 243;         // changing column, changing row, target column, target row, goal
constexpr int32_t SetAutoFilter = 246;    // the AutoFilter record, in calls of up to 31 columns (edit/Filter.h)
constexpr int32_t RemoveAutoFilter = 247; // removes the AutoFilter record; rows stay
constexpr int32_t AddRule = 244;          // a validation rule, its list items and areas (a varying count)
constexpr int32_t RemoveRules = 245;      // rule index, -1 for every rule
constexpr int32_t ValidationDown = 248;
constexpr int32_t ValidationRight = 249;
constexpr int32_t RestoreName = 302;      // name index, definition (a formula value)
constexpr int32_t RestoreView = 303;      // rows frozen, columns frozen, frozen first/last row and column, top row, left column
}  // namespace CommandFunction

/// Starts the formula engine and binds the command functions; call once at start.
void startEditing();

/// The arguments command function `index` pops; what emitCommand writes into the call.
int commandArgumentCount(int32_t index);

/// Appends a call of command function `index` and a discard of its result, so that a
/// program of any length keeps the evaluator's stack flat. False with error 15.
[[nodiscard]] bool emitCommand(TokenSink& sink, int32_t index);
/// The same for a command function that takes a varying number of arguments (within
/// its catalogue row's bounds): the call carries `arguments`, which it reads.
[[nodiscard]] bool emitCommand(TokenSink& sink, int32_t index, int arguments);

/// A finished program: a heap block (u32 length, the ops, the end op) that owns the
/// texts and formulas its pushes carry. Move-only.
class CommandProgram {
 public:
  CommandProgram() = default;
  explicit CommandProgram(uint8_t* block) : m_block(block) {}
  CommandProgram(CommandProgram&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
  CommandProgram& operator=(CommandProgram&& other) noexcept;
  CommandProgram(const CommandProgram&) = delete;
  CommandProgram& operator=(const CommandProgram&) = delete;
  ~CommandProgram() { reset(); }

  bool valid() const { return m_block != nullptr; }
  const uint8_t* block() const { return m_block; }
  void reset();

 private:
  uint8_t* m_block = nullptr;
};

/// Builds a program push by push. After a failure (out of memory) every further step
/// is skipped and finish() gives an invalid program; what was pushed is released.
class ProgramBuilder {
 public:
  ProgramBuilder();
  ProgramBuilder(const ProgramBuilder&) = delete;
  ProgramBuilder& operator=(const ProgramBuilder&) = delete;
  ~ProgramBuilder();

  ProgramBuilder& smallInteger(uint16_t value);  // op 4
  ProgramBuilder& integer(int32_t value);        // op 13
  ProgramBuilder& number(double value);          // op 1
  ProgramBuilder& logical(bool value);           // op 28
  ProgramBuilder& text(std::u16string_view text);  // op 11
  /// A copy of a whole cell value (op 3): a text gains a reference, a formula becomes a
  /// new detached entry sharing the token string and the cached result.
  ProgramBuilder& value(const CellValue& value);
  ProgramBuilder& call(int32_t index);
  ProgramBuilder& call(int32_t index, int arguments);  // a varying count

  // The steps every command needs.
  ProgramBuilder& selectSheet(int32_t sheet);
  ProgramBuilder& select(const Area& area);
  /// Writes `record` (a copy of its value) back into the cell through 207.
  ProgramBuilder& restoreCell(int32_t column, int32_t row, const CellRecord& record);
  /// Puts back a row's height, flags and style as they are now (an absent row as a
  /// default one) through 217.
  ProgramBuilder& restoreRow(const Sheet& sheet, int32_t row);
  /// Puts back a row that does not exist now, as an absent row reads, through 217.
  ProgramBuilder& restoreAbsentRow(const Sheet& sheet, int32_t row);
  /// Puts back a column record as it is now through 218.
  ProgramBuilder& restoreColumn(const Sheet& sheet, int32_t column);
  /// Puts back these merged areas as the sheet's whole list, in this order (237 over
  /// the whole sheet, then 236 for each); the selection is left on the whole sheet.
  ProgramBuilder& restoreMergedAreas(std::span<const Area> areas);
  /// Puts back the definition of the defined name at `index` through 302.
  ProgramBuilder& restoreName(int32_t index, uint32_t definition);
  /// Puts back the active sheet's frozen titles and first lines shown through 303.
  ProgramBuilder& restoreView(const SheetView& view);
  /// Puts back the sheet's AutoFilter as it is now, or its absence, through 247 and 246;
  /// rows and the selection stay as they are.
  ProgramBuilder& restoreAutoFilter(const Sheet& sheet);
  /// Puts back the sheet's validation rules as they are now, as its whole list (208,
  /// then 245 removing every rule, then 244 for each); the selection is left alone.
  ProgramBuilder& restoreValidations(const Sheet& sheet);

  bool ok() const { return !m_failed; }
  /// The program; invalid when a step failed (error 15 is set).
  CommandProgram finish();

 private:
  bool add(bool appended);
  TokenSink* m_sink;
  bool m_failed = false;
};

/// Whether a row reads exactly as an absent one: default height, no flags, no style of
/// its own and no used cell. Commands treat such rows as absent, so that a row left
/// behind by an undo makes no difference to a redo.
bool isPlainRow(const Sheet& sheet, int32_t row);

/// Runs a program on `workbook` through the evaluator, as tasks run but without the
/// check for a user break, and marks the workbook modified: a program that fails half
/// way has changed it too. False when the run failed.
bool runProgram(Workbook& workbook, const CommandProgram& program);

struct UndoEntry {
  CommandProgram undo;
  CommandProgram redo;
  std::u16string description;
};

/// The undo history: at most Limit entries and the position between done and undone.
class UndoList {
 public:
  static constexpr size_t Limit = 10;

  /// Drops the redo tail, appends the entry (the oldest goes past Limit) and, with
  /// `perform`, runs the redo program. Invalid programs are not recorded (false).
  bool recordUndo(Workbook& workbook, CommandProgram undo, CommandProgram redo, std::u16string description,
                  bool perform);
  /// Runs the entry before the position and moves back; false when there is none.
  bool undo(Workbook& workbook);
  /// Runs the entry at the position and moves forward; false when there is none.
  bool redo(Workbook& workbook);
  bool canUndo() const { return m_position > 0; }
  bool canRedo() const { return m_position < m_entries.size(); }
  /// The labels the Undo and Redo menu items show; empty when there is nothing.
  std::u16string_view undoDescription() const;
  std::u16string_view redoDescription() const;
  void clear();
  size_t size() const { return m_entries.size(); }
  size_t position() const { return m_position; }

 private:
  std::vector<UndoEntry> m_entries;
  size_t m_position = 0;
};

// Hooks the shell installs: views repainted after a recorded, undone or redone change,
// and a message shown to the user (goal seek's success, with the information icon).
using CommandRefreshFn = void (*)(Workbook& workbook);
using CommandMessageFn = void (*)(std::u16string_view message);
void installCommandRefresh(CommandRefreshFn fn);
void installCommandMessage(CommandMessageFn fn);
/// Shows a message through the installed hook; nothing without one.
void showCommandMessage(std::u16string_view message);

// Editing operations. Each records one undo entry labelled from the string table,
// performs it, and returns false (nothing recorded) when it could not be built.

/// Writes what the user typed into the cell (the top-left cell of a merged area): a
/// formula, a number, a date, a logical or a text (always a text under a Text format).
/// A date entered under a format that is not a date format takes the date format the
/// entry implies; a percentage takes format 5. Recalculates. Label "Typing in B3".
/// A formula that does not compile leaves its code in the error state and changes nothing.
/// An entry the cell's validation rule refuses (validateEntry) changes nothing either and
/// sets no error: the rule's alert has told the user.
bool enterCellValue(Workbook& workbook, UndoList& undo, int32_t column, int32_t row, std::u16string_view text);

enum class ClearMode : int32_t { All = 0, Contents = 1, Formats = 2, Validation = 3 };
/// Clears the selection (label "Clear"); recalculates. All: merged areas, validation
/// rules and every used cell become blank; Contents: values go, own styles stay;
/// Formats: own styles go, values stay; Validation: the rules of the selected cells go
/// (a rule reaching beyond keeps the rest). All and Formats also drop the styles of
/// wholly selected rows and columns.
bool clearSelection(Workbook& workbook, UndoList& undo, ClearMode mode);

/// Style changes over the selection through Workbook::applyStyleChange.
bool applyBold(Workbook& workbook, UndoList& undo, bool on);
bool applyItalic(Workbook& workbook, UndoList& undo, bool on);
bool applyUnderline(Workbook& workbook, UndoList& undo, bool on);
/// Horizontal alignment (HAlign), or General when `reset`. Label "Alignment".
bool applyAlignment(Workbook& workbook, UndoList& undo, int alignment, bool reset);
/// Every style field and every font field (face included). Label "Format Cells".
bool applyWholeStyle(Workbook& workbook, UndoList& undo, const StyleRecord& style, const FontRecord& font);
/// Only the style fields in `styleMask` (StyleField) and the font fields in `fontMask`
/// (FontField), as one entry labelled "Format Cells"; nothing is recorded, and the
/// result is false, when both masks are empty.
bool applyStyleFields(Workbook& workbook, UndoList& undo, const StyleRecord& style, uint32_t styleMask,
                      const FontRecord& font, uint32_t fontMask);

/// Heights of the selected rows in twips, set explicitly; 0 hides them instead. With
/// whole columns selected the sheet's default height changes too. Label "Row Height".
bool setRowHeights(Workbook& workbook, UndoList& undo, uint16_t height);
/// Widths of the selected columns (applyColumnWidth: 0 hides). Label "Column Width".
bool setColumnWidths(Workbook& workbook, UndoList& undo, int32_t width);
/// The selected columns take the width that shows their values in full, the selected
/// rows the height their fonts need (edit/Fit.h). Labels "Column Width", "Row Height".
bool fitColumnWidths(Workbook& workbook, UndoList& undo);
bool fitRowHeights(Workbook& workbook, UndoList& undo);
bool hideRows(Workbook& workbook, UndoList& undo, bool hidden);
bool hideColumns(Workbook& workbook, UndoList& undo, bool hidden);

/// Inserts as many whole rows (or columns) as the selection spans, before its first row
/// (column), and adjusts every formula's references; recalculates. Label "Insert".
/// Undo gives back the cells, rows, columns and formulas the insertion pushed off or changed.
bool insertCells(Workbook& workbook, UndoList& undo, bool columns);
/// Deletes the selection's whole rows (columns) likewise. Label "Delete".
bool deleteCells(Workbook& workbook, UndoList& undo, bool columns);

/// Moves the cells of `source` on the active sheet so that its top-left cell lands on
/// (`column`, `row`), as cut and paste does (label "Paste"): the destination's cells are
/// overwritten, the source's left empty, and every reference follows (adjustForBlockMove).
/// False, with nothing done, when the destination does not fit on the sheet.
bool moveBlock(Workbook& workbook, UndoList& undo, const Area& source, int32_t column, int32_t row);

/// Goal seek on the active sheet as the dialog runs it (label "Goal Seek"): true when
/// a solution was found; on failure error 55 is set. Either way the changing cell's
/// change is recorded and can be undone.
bool goalSeekCommand(Workbook& workbook, UndoList& undo, uint16_t changingColumn, uint16_t changingRow,
                     uint16_t targetColumn, uint16_t targetRow, double goal);

/// Recalculates the whole workbook through command 228; nothing is recorded.
bool recalculateCommand(Workbook& workbook);

// Changes the undo list does not carry. They are made here so that, like every recorded
// change, they mark the workbook modified and refresh the views.

/// Adds a sheet at the end (an empty name takes the next default one). Recorded programs
/// name sheets by number, so the undo list is emptied. False, with nothing done, for a
/// name a sheet has already or when 255 sheets exist.
bool insertSheetCommand(Workbook& workbook, UndoList& undo, std::u16string name);
/// Removes sheet `index`, never the last one, emptying the undo list likewise. False
/// when nothing was removed.
bool deleteSheetCommand(Workbook& workbook, UndoList& undo, int32_t index);
/// Puts `view` (zoom and frozen titles with the rest) on sheet `sheet`; as in the
/// window a view change is not undone.
void setSheetView(Workbook& workbook, int32_t sheet, const SheetView& view);

}  // namespace kelp
