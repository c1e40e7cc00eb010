// The evaluator: runs compiled token strings on the application's value stack, and
// the typed pops and pushes that operators and function implementations share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/CellValue.h"
#include "model/Sheet.h"

namespace kelp {

class Workbook;
class FormulaTable;

/// Entries one evaluation may have on the stack at once.
constexpr int32_t EvalStackLimit = 380;
/// Room for evaluations nested inside others (a recalculation inside a task).
constexpr int32_t EvalStackCapacity = 4 * 1024;

/// The evaluator's state; one per application. Nested runs save and restore it.
struct EvalState {
  CellValue stack[EvalStackCapacity];
  int32_t sp = 0;            // entries in use; the top entry is stack[sp - 1]
  int32_t base = 0;          // where the running evaluation's entries begin
  const uint8_t* code = nullptr;  // first token of the string being run
  uint32_t codeLength = 0;        // its bytes, the end op included
  uint16_t codeName = 0xFFFF;     // defined name whose definition is running, 0xFFFF: the formula
  const uint8_t* rootCode = nullptr;  // the evaluation's own token string
  uint32_t rootLength = 0;
  uint32_t ip = 0;           // position of the next op in `code`
  CellPosition cell;         // the formula's own cell
  uint32_t pendingError = 0;     // the pending cell error's code + 1, so that !!Null can pend; 0: none
  int32_t depth = 0;         // defined-name subroutines entered
  uint32_t arrayBase = 0;    // the first array-constant slot of this run
  bool running = true;
  bool ok = true;
  uint8_t argCount = 0;
  Workbook* workbook = nullptr;
};

EvalState& evalState();

/// What a nested run puts back: everything but the stack contents below it.
struct SavedEvalState {
  int32_t base;
  const uint8_t* code;
  uint32_t codeLength;
  uint16_t codeName;
  const uint8_t* rootCode;
  uint32_t rootLength;
  uint32_t ip;
  CellPosition cell;
  uint32_t pendingError;
  int32_t depth;
  uint32_t arrayBase;
  bool running;
  bool ok;
  uint8_t argCount;
  Workbook* workbook;
};
SavedEvalState saveEvalState();
void restoreEvalState(const SavedEvalState& saved);

/// The workbook whose cells plain references read when a record names none.
void setEvalWorkbook(Workbook* workbook);

// Running.

/// Runs the formula's token string at its cell and stores the result as its cached
/// value; a failed run (stack limit, bad tokens) keeps the old value.
void evaluateFormula(const CellValue& formula, bool resolveResult);
/// Evaluates every formula of the table from id `first` on once in id order, as
/// evaluateFormula does for each, with the evaluator's state saved once for the whole pass.
void evaluateTable(FormulaTable& table, uint32_t first = 0);
/// Runs `tokens` (a formula-pool entry: u32 length, then the ops) as if it stood at
/// the given cell. True and the owned result in `out`; false when the run failed.
bool evaluateTokens(const uint8_t* tokens, Workbook& workbook, CellPosition at,
                    bool resolveResult, CellValue& out);
/// Runs a compiled task: statements leave nothing behind, so any entries left are
/// dropped. False when the run failed. The caller's evaluation state is kept.
bool runTask(const uint8_t* tokens, Workbook& workbook, CellPosition at);
/// Stops the running evaluation after the current op (the task function Return).
void stopRunning();
/// Asks running tasks to end at their next statement or loop step, tasks they called
/// included; the runs fail without an error code. Safe in a signal handler. The request
/// holds until cleared, so that no task started meanwhile runs on.
void requestTaskStop();
void clearTaskStop();
bool taskStopRequested();
/// Runs a command program as runTask does, except that op Constant may carry a formula
/// value: it pushes a copy (a new detached entry sharing the token string and the
/// cached result). Only programs built in memory qualify; formulas evaluated meanwhile
/// (a recalculation inside a command) never get this.
bool runCommandProgram(const uint8_t* tokens, Workbook& workbook, uint16_t sheet);

// Hooks that higher layers install.

/// A value from a sheet of another workbook file (owned by the caller); an empty value
/// for a cell the file does not have, which a single reference reads as !!NA and a
/// range passes over. By default every such value is !!NA, as for a book that cannot
/// be opened.
using ExternalValueFn = CellValue (*)(Workbook& workbook, int32_t book, int32_t sheet, int32_t column, int32_t row);
void installExternalValue(ExternalValueFn fn);
/// Called by a hook while a cell's formula runs: the run's result is dropped and the
/// formula keeps the result it had (a value read from a file the user would not have read).
void keepCachedResult();
/// Runs workbook task `index` as a subroutine; false when there is no such task or its
/// run failed, which fails the caller too (with the callee's error code when it set one).
using TaskCallFn = bool (*)(Workbook& workbook, uint16_t index);
void installTaskCall(TaskCallFn fn);
/// Called where a running task could be stopped (before each statement, at each loop
/// step), so that a caller may count the steps and ask for a stop; null removes it.
using StatementHookFn = void (*)();
void installStatementHook(StatementHookFn fn);

// Pushes; each makes one new entry.

void pushValue(const CellValue& value);  // takes over what the value owns
void pushNumber(double d);
void pushDateTime(double d);
void pushLogical(uint32_t b);
void pushInteger(int32_t i);
void pushError(CellError code);
void pushText(std::u16string_view text);
void pushTextHandle(uint32_t handle);  // takes over one reference

// Typed pops; each resolves a reference on top to its value first.

double popNumber();
/// Like popNumber, but a text must read as a date or time and logical values give 0.
/// `wasDate` tells whether the value was a date/time.
double popDateTime(bool* wasDate = nullptr);
/// popNumber that also tells whether the operand was a date/time.
double popNumberKind(bool& wasDate);
uint32_t popLogical();
int32_t popInteger();
/// The text's handle with its reference passed to the caller (NoHandle: the empty text).
uint32_t popTextHandle();
std::u16string popTextCopy();
CellError popErrorCode();
/// The top entry as it stands, references included; ownership passes to the caller.
void popValue(CellValue& out);
/// The top entry with a reference replaced by its value; ownership passes to the caller.
void popResolved(CellValue& out);
void discard(int32_t n);

/// An area on a range of sheets of a workbook (0: this one).
struct SheetArea {
  uint8_t book;
  uint8_t firstSheet;
  uint8_t lastSheet;
  uint16_t firstRow;
  uint16_t firstColumn;
  uint16_t lastRow;
  uint16_t lastColumn;
};
/// A reference as a sheet area; anything else is released and records error 23.
bool popArea(SheetArea& out);
/// The area a reference value denotes; one without a sheet is on `sheet`. False for a
/// value that is not a reference.
bool referenceArea(const CellValue& value, int32_t sheet, SheetArea& out);
/// As popArea; an area in another workbook records error 23 too.
bool popLocalArea(SheetArea& out);
/// Four integers popped as last column, last row, first column, first row.
void popAreaCorners(int32_t& firstColumn, int32_t& firstRow, int32_t& lastColumn, int32_t& lastRow);

/// Pushes the pending error as the result and clears it; false when there was one.
bool takePendingError();
/// Records an error for takePendingError to push.
void setPendingError(CellError code);
/// Drops the pending error, if any.
void clearPendingError();

/// The kind on top of the stack without popping (after no dereferencing).
ValueKind topKind();
uint8_t argCount();

// Areas.

/// Walks the non-empty cells of an area, sheet by sheet; row by row, or column by
/// column in column mode. Areas of another workbook yield the cells its file has.
class AreaIterator {
 public:
  AreaIterator() = default;
  AreaIterator(const SheetArea& area, Workbook* workbook, bool columnMode = false);
  AreaIterator(const AreaIterator&) = delete;
  AreaIterator& operator=(const AreaIterator&) = delete;
  ~AreaIterator();

  void reset(const SheetArea& area, Workbook* workbook, bool columnMode = false);
  /// The next cell's effective value, borrowed until the next call; false at the end.
  bool next(CellValue& out);
  /// The same without a copy: the value stays in its cell; null at the end.
  const CellValue* nextValue();
  /// Calls `fn(const CellValue&)` with each value nextValue would give, borrowed for the
  /// call, except that texts come as stored, a cell task's text included: it serves
  /// callers that look only at kinds and numbers (the list aggregates). A walk of this
  /// workbook's cells row by row from the start runs in one loop that makes no call,
  /// without the position kept for row(), column() and sheet(). Returns `fn` as the
  /// walk left it, so that a caller may keep its totals in the function object itself.
  template <typename Fn>
  Fn forEach(Fn fn);
  int32_t row() const { return m_row; }
  int32_t column() const { return m_column; }
  int32_t sheet() const { return m_sheet; }

 private:
  bool advance();
  const CellValue* nextInRows();
  // Only a text stored in a cell carries a task; a formula's result shows whole.
  const CellValue* shown(const CellValue& stored) {
    return stored.kind == ValueKind::Text && !m_storedTexts ? shownText(stored) : &effectiveValue(stored);
  }
  const CellValue* shownText(const CellValue& value);
  // The one loop of forEach, kept out of line: with no call anywhere in the function
  // the compiler keeps fn's totals in registers, rather than in memory around the
  // calls the other walks make.
  template <typename Fn>
  [[gnu::noinline]] Fn forEachLocalRow(Fn fn) const;
  void releaseScratch();
  Sheet* sheetAt(int32_t index) const;

  SheetArea m_area{};
  Workbook* m_workbook = nullptr;
  bool m_columnMode = false;
  bool m_started = false;
  bool m_done = true;
  int32_t m_sheet = 0;
  int32_t m_row = 0;
  int32_t m_column = 0;
  // The row walk of this workbook's cells keeps its sheet and row at hand.
  Sheet* m_sheetPtr = nullptr;
  const Row* m_rowPtr = nullptr;
  int32_t m_end = -1;
  CellValue m_scratch{ValueKind::Empty, 0, 0, 0, {}};
  bool m_storedTexts = false;  // forEach: texts as stored, not as shown
};

template <typename Fn>
Fn AreaIterator::forEach(Fn fn) {
  m_storedTexts = true;
  if (m_area.book != 0 || m_columnMode || m_done || m_sheetPtr || m_sheet != m_area.firstSheet) {
    while (const CellValue* value = nextValue()) fn(*value);
    return fn;
  }
  m_done = true;
  return forEachLocalRow(fn);
}

template <typename Fn>
Fn AreaIterator::forEachLocalRow(Fn fn) const {
  // The sum of a column of formulas spends its time here: one pass over each row's
  // slots with the bounds in locals, rather than a call and the saved position per cell.
  // The loops call `local` directly: reached through a lambda's capture, its totals
  // would live in memory and each addition would wait on a store.
  Fn local = fn;
  const int32_t firstRow = m_area.firstRow, lastRow = m_area.lastRow;
  const int32_t firstColumn = m_area.firstColumn, lastColumn = m_area.lastColumn;
  for (int32_t s = m_area.firstSheet; s <= m_area.lastSheet; ++s) {
    const Sheet* sheet = sheetAt(s);
    if (!sheet) continue;
    const Sheet::RowIndex rows = sheet->rowIndex();
    const int32_t last = std::min<int32_t>(lastRow, rows.size - 1);
    if (firstColumn == lastColumn) {
      for (int32_t r = firstRow; r <= last; ++r) {
        const Row* row = rows.at(r);
        if (!row) continue;
        // One unsigned compare tests both ends of the row's slots.
        const uint32_t index = static_cast<uint32_t>(firstColumn - row->cells.first());
        if (index >= static_cast<uint32_t>(row->cells.size() - row->cells.first())) continue;
        const CellValue& value = row->cells.data()[index].value;
        if (value.kind == ValueKind::Formula)
          local(formulaResult(value));
        else if (value.kind != ValueKind::Empty)
          local(value);
      }
      continue;
    }
    for (int32_t r = firstRow; r <= last; ++r) {
      const Row* row = rows.at(r);
      if (!row) continue;
      // The slots start at the row's first column.
      const int32_t first = row->cells.first();
      const CellRecord* cells = row->cells.data() - first;
      const int32_t end = std::min<int32_t>(lastColumn, row->cells.size() - 1);
      for (int32_t c = std::max<int32_t>(firstColumn, first); c <= end; ++c) {
        const CellValue& value = cells[c].value;
        if (value.kind == ValueKind::Formula)  // the common case first: one test for it
          local(formulaResult(value));
        else if (value.kind != ValueKind::Empty)
          local(value);
      }
    }
  }
  // A copy, not `local` itself: a named return value lives in the caller's memory,
  // which the cell loads might alias, so every addition would go through a store.
  return Fn(local);
}

/// Pops a reference (kinds 6 to 9) into `it`; false, popping nothing, for other kinds.
bool popAreaIterator(AreaIterator& it, bool columnMode = false);
inline bool nextAreaValue(AreaIterator& it, CellValue& out) { return it.next(out); }

/// The visible part of a cell text that carries a cell task.
std::u16string_view visibleCellText(std::u16string_view text);

}  // namespace kelp
