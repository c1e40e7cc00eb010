// What the evaluator's files share: its state, the hooks installed from above, the
// helpers that read operands, and one handler per op code.
#pragma once

#include <cstdint>

#include "formula/Evaluator.h"
#include "formula/Tokens.h"

namespace kelp::eval {

extern EvalState g_state;
extern ExternalValueFn g_externalValue;
extern TaskCallFn g_taskCall;
// True while a task or a command program runs. Only their loops jump backwards, and only
// they call the command and task rows: refusing both in formulas keeps a damaged or
// hostile token string from hanging a recalculation or changing the workbook.
extern bool g_runningStatements;
// Formula constants name formula-table entries; only command programs built in memory may
// carry them, so every other run turns this off while it runs.
extern bool g_formulaConstants;

/// Ends a task run between statements when a stop was asked for; true when it did.
bool stopAtStatement();

/// The code name of the evaluation's own token string, as opposed to a defined name's.
constexpr uint16_t RootCode = 0xFFFF;

/// Ends the run as failed.
void fail();
CellValue& top();
/// True when the running evaluation has `n` operands; fails the run otherwise.
bool hasOperands(int32_t n);
/// Removes the top entry as it stands; an empty value (and a failed run) on underflow.
CellValue popRaw();
/// Cell texts that carry a task show only their visible part to formulas.
void reduceCellTask(CellValue& value);
/// A copy (owned) of the effective value of a cell of this workbook or another.
CellValue fetchCell(int32_t book, int32_t sheetIndex, int32_t column, int32_t row);
bool sheetExists(int32_t book, int32_t sheet);
/// Replaces a reference by the value it names; a range of several cells is !!Ref.
void deref(CellValue& value);
CellValue popDeref();
/// The area a reference names; false for any other kind.
bool areaOf(const CellValue& value, SheetArea& out);
CellValue withDouble(ValueKind kind, double d);
/// Reads a text as a typed entry would; the reader gives back no pool entry for texts.
CellValue readText(const CellValue& text);
int32_t truncateToInt(double d);
/// Moves to `target`; fails the run for a target outside the string, or a backward
/// one where only tasks may jump back.
bool jumpTo(int64_t target, uint32_t opPos);

/// An array constant on the stack is a sheet area reference on this book, its sheet
/// the array's slot in the run's table, its cells the elements. Real books stop below it.
constexpr uint8_t ArrayBook = 0xFF;
inline bool isArrayRef(const CellValue& value) {
  return (value.kind == ValueKind::SheetAreaRef || value.kind == ValueKind::SheetCellRef) && value.book == ArrayBook;
}
/// A copy (owned) of an element; empty outside the array or for a slot of no array.
CellValue arrayElement(int32_t slot, int32_t column, int32_t row);
/// The shape of the array in `slot`; false for a slot the running evaluation cannot see.
bool arrayBounds(int32_t slot, int32_t& columns, int32_t& rows);
uint32_t arraySlotCount();
/// Gives back the arrays from slot `base` on, as a run ends.
void dropArraysFrom(uint32_t base);

// Op handlers. Each gets its payload and the position of its op code; the run loop
// has already moved `ip` past the payload. Ops.def names the handler of every op.
using Handler = void (*)(const uint8_t* payload, uint32_t opPos);
void opUnknown(const uint8_t* payload, uint32_t opPos);
#define KELP_OP(number, name, size, handler) void handler(const uint8_t*, uint32_t);
#include "formula/Ops.def"
#undef KELP_OP

}  // namespace kelp::eval
