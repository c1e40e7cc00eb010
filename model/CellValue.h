// CellValue and CellRecord: the tagged value every cell, cached result and evaluator
// operand is made of, and the operations that own and show it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "model/GrowArray.h"

namespace kelp {

/// Value kinds; the codes are stored in files and compiled formulas.
enum class ValueKind : uint8_t {
  Empty = 0,
  Logical = 1,
  Error = 2,
  Text = 3,
  Number = 4,
  Formula = 5,
  CellRef = 6,
  AreaRef = 7,
  SheetCellRef = 8,
  SheetAreaRef = 9,
  ReturnAddress = 10,
  Integer = 11,
  DateTime = 13,
};

/// Error values that cells hold ("!!Div0"), distinct from the operational error codes of
/// the error state. The codes equal Excel's, so they cross the BIFF formats unchanged;
/// files may carry other codes, which show as "Err%i". Frozen: stored in files.
enum class CellError : uint32_t {
  Null = 0,
  Div0 = 7,
  Value = 15,
  Ref = 23,
  Name = 29,
  Num = 36,
  NA = 42,
};

/// The handle that names no pool entry; for texts it is the empty text.
constexpr uint32_t NoHandle = 0xFFFFFFFF;

class Workbook;
class FormulaTable;

/// A cell of a workbook, built column first like every model operation: both
/// coordinates are 16-bit, so only the order keeps them apart.
struct CellPosition {
  uint16_t column = 0;
  uint16_t row = 0;
  uint16_t sheet = 0;
  constexpr CellPosition() = default;
  constexpr CellPosition(uint16_t column, uint16_t row, uint16_t sheet = 0) : column(column), row(row), sheet(sheet) {}
};

/// The 12-byte tagged value: kind, three reference bytes, 8-byte little-endian payload.
/// The payload is bytes so that the record packs without padding; the accessors copy.
/// A formula's payload is the u32 id of its entry (bytes 0-3) and the number of the
/// formula table holding it (bytes 4-5).
struct CellValue {
  ValueKind kind;
  uint8_t book;
  uint8_t firstSheet;
  uint8_t lastSheet;
  uint8_t payload[8];

  double number() const {
    double d;
    std::memcpy(&d, payload, 8);
    return d;
  }
  uint32_t u32() const {
    uint32_t v;
    std::memcpy(&v, payload, 4);
    return v;
  }
  int32_t i32() const {
    int32_t v;
    std::memcpy(&v, payload, 4);
    return v;
  }
  uint16_t u16(int index) const {
    uint16_t v;
    std::memcpy(&v, payload + 2 * index, 2);
    return v;
  }
  bool isNumeric() const { return kind == ValueKind::Number || kind == ValueKind::DateTime; }

  void setNumber(double d) { std::memcpy(payload, &d, 8); }
  void setU32(uint32_t v) {
    std::memset(payload, 0, 8);
    std::memcpy(payload, &v, 4);
  }
  void setU16(int index, uint16_t v) { std::memcpy(payload + 2 * index, &v, 2); }
};
static_assert(sizeof(CellValue) == 12, "CellValue is stored as 12 bytes");

// Factories; inline because cell writes and the evaluator make values on every step.
inline CellValue emptyValue() { return CellValue{ValueKind::Empty, 0, 0, 0, {}}; }
// Values are written as one 8-byte and one 4-byte store, the way copies read a CellValue
// back: a kind byte then an unaligned payload would make every later copy wait for the
// stores. `low` holds the kind, the three reference bytes and payload bytes 0-3.
inline CellValue packedValue(uint64_t low, uint32_t high) {
  static_assert(std::endian::native == std::endian::little, "values are little-endian");
  CellValue value;
  std::memcpy(&value, &low, 8);
  std::memcpy(reinterpret_cast<uint8_t*>(&value) + 8, &high, 4);
  return value;
}
inline CellValue doubleValue(ValueKind kind, double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  return packedValue(static_cast<uint64_t>(kind) | (bits << 32), static_cast<uint32_t>(bits >> 32));
}
inline CellValue numberValue(double d) { return doubleValue(ValueKind::Number, d); }
/// The number of a value read back in the 8-byte and 4-byte pieces doubleValue and the
/// copies write. For a value written a moment ago (an evaluator stack entry) this lets
/// the loads take their data straight from the stores, which one 8-byte load across
/// both pieces cannot: it waits until the stores reach the cache.
inline double numberOfFreshValue(const CellValue& value) {
  uint64_t low;
  uint32_t high;
  std::memcpy(&low, &value, 8);
  std::memcpy(&high, reinterpret_cast<const uint8_t*>(&value) + 8, 4);
  return std::bit_cast<double>((low >> 32) | (static_cast<uint64_t>(high) << 32));
}
inline CellValue dateTimeValue(double d) { return doubleValue(ValueKind::DateTime, d); }
inline CellValue wordValue(ValueKind kind, uint32_t v) {
  return packedValue(static_cast<uint64_t>(kind) | (static_cast<uint64_t>(v) << 32), 0);
}
inline CellValue logicalValue(bool b) { return wordValue(ValueKind::Logical, b ? 1 : 0); }
inline CellValue errorValue(CellError code) { return wordValue(ValueKind::Error, static_cast<uint32_t>(code)); }
/// The error an error value holds.
inline CellError cellError(const CellValue& value) { return static_cast<CellError>(value.u32()); }
inline CellValue integerValue(int32_t i) { return wordValue(ValueKind::Integer, static_cast<uint32_t>(i)); }
/// The value that names entry `id` of formula table `table`.
inline CellValue formulaValue(uint16_t table, uint32_t id) {
  CellValue value = wordValue(ValueKind::Formula, id);
  value.setU16(2, table);
  return value;
}
/// A cell reference (row, column) or an area (first row, first column, last row, last column).
inline CellValue cellRefValue(uint16_t row, uint16_t column) {
  return packedValue(static_cast<uint64_t>(ValueKind::CellRef) | (static_cast<uint64_t>(row) << 32) |
                         (static_cast<uint64_t>(column) << 48),
                     0);
}
inline CellValue areaRefValue(uint16_t firstRow, uint16_t firstColumn, uint16_t lastRow, uint16_t lastColumn) {
  return packedValue(static_cast<uint64_t>(ValueKind::AreaRef) | (static_cast<uint64_t>(firstRow) << 32) |
                         (static_cast<uint64_t>(firstColumn) << 48),
                     static_cast<uint32_t>(lastRow) | (static_cast<uint32_t>(lastColumn) << 16));
}

/// A cell slot: its value and its own style index (0 or less: none of its own).
struct CellRecord {
  CellValue value;
  int16_t style;
};
static_assert(sizeof(CellRecord) == 14, "CellRecord is stored as 14 bytes");

/// Copies a record in the pieces it is made of (8, 4 and 2 bytes), so that a copy of a
/// record just written never reads across the stores that wrote it.
inline void copyRecord(CellRecord& dst, const CellRecord& src) {
  auto* d = reinterpret_cast<uint8_t*>(&dst);
  const auto* s = reinterpret_cast<const uint8_t*>(&src);
  uint64_t a;
  uint32_t b;
  uint16_t c;
  std::memcpy(&a, s, 8);
  std::memcpy(&b, s + 8, 4);
  std::memcpy(&c, s + 12, 2);
  std::memcpy(d, &a, 8);
  std::memcpy(d + 8, &b, 4);
  std::memcpy(d + 12, &c, 2);
}

/// A fresh slot: kind 0 with no style (-1).
constexpr CellRecord blankCell() { return CellRecord{{ValueKind::Empty, 0, 0, 0, {}}, -1}; }

template <>
struct GrowInit<CellRecord> {
  static constexpr CellRecord value() { return blankCell(); }
};

/// Formula tables that can be live at once; 0 is the detached table (model/FormulaTable.h).
constexpr int32_t MaxFormulaTables = 1024;

/// A live formula table and its array of cached results, by table number. The table
/// keeps its slot current, so that reading a formula's result needs no call.
struct FormulaTableSlot {
  CellValue* cached;
  FormulaTable* table;
};
inline FormulaTableSlot g_formulaTables[MaxFormulaTables] = {};

/// The cached result of a formula value: never a formula or a reference.
inline CellValue& formulaResult(const CellValue& formula) {
  return g_formulaTables[formula.u16(2)].cached[formula.u32()];
}

// Values and cells.

/// Display text of values that need no number format; reference kinds leave `out` as it was.
void valueToText(const CellValue& value, std::u16string& out);
bool valuesEqual(const CellValue& a, const CellValue& b);
/// Copies a value; a text copy adds a reference to its entry.
void copyValue(const CellValue& src, CellValue& dst);
/// Frees what the value owns and makes it empty. A formula's entry leaves its table (a
/// workbook's formulas then need ordering).
void releaseValue(CellValue& value);
/// Stores a new text entry (or the empty text) and makes `value` a text; error 15 leaves it empty.
void makeText(CellValue& value, std::u16string_view text);
/// The text of a text value; empty for the empty text.
std::u16string_view textOf(const CellValue& value);
/// Copies a value; a formula becomes a new entry of the detached table at the same cell,
/// sharing the token string, with a copy of the cached result. Error 15 leaves `dst` empty.
void copyFormulaValue(const CellValue& src, CellValue& dst);
/// A formula on the detached table at `at` taking over one reference to `tokens`, its
/// result empty; writing it into a workbook's cell moves it to that workbook's table.
/// The empty value with error 15 when memory runs out (the reference stays the caller's).
CellValue newFormulaValue(uint32_t tokens, CellPosition at);
/// The effective value of a slot: the cached result for a formula.
inline const CellValue& effectiveValue(const CellValue& value) {
  return value.kind == ValueKind::Formula ? formulaResult(value) : value;
}

// Conversions.

/// `number` with `decimals` (0-9) digits after the point; `trim` drops trailing zeros and
/// a trailing point; the point becomes the locale decimal symbol. Returns the length.
size_t formatFixed(double number, int decimals, bool trim, std::u16string& out);

/// Reads `text` as a cell entry in value-only mode: numbers, dates and logicals come
/// back as such, anything else as a text value that holds no pool entry.
CellValue readValueOnly(std::u16string_view text);
/// True and the number when `text` reads as a plain number (not a date).
bool textToNumber(std::u16string_view text, double& out);
/// True and the serial when `text` (not a formula) reads as a date on a whole day.
bool isWholeDate(std::u16string_view text, double& out);
/// The display text of a date number under General.
void dateTimeToText(double serial, std::u16string& out);

// Higher subsystems install how numbers and formulas become text and how entries are
// read; until then numbers show in a plain shortest form, formulas as "=", and only
// plain decimal numbers are read. A formula shows from its token string at its cell,
// naming sheets and names of its workbook (null for a formula on no workbook).
using NumberTextFn = void (*)(const CellValue& value, std::u16string& out);
using FormulaTextFn = void (*)(const Workbook* workbook, uint32_t tokens, CellPosition at, std::u16string& out);
using ValueReaderFn = CellValue (*)(std::u16string_view text);
void installNumberText(NumberTextFn numberText);
void installFormulaText(FormulaTextFn formulaText);
void installValueReader(ValueReaderFn reader);

}  // namespace kelp
