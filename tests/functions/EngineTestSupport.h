// Helpers shared by the engine tests: token strings built by hand, a workbook to
// evaluate in, and formulas entered through the compiler.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp::test {

/// A token string assembled op by op; references are absolute unless stated.
class Tokens {
 public:
  Tokens& op(Op o) {
    m_bytes.push_back(static_cast<uint8_t>(o));
    return *this;
  }
  Tokens& raw(uint8_t byte) {
    m_bytes.push_back(byte);
    return *this;
  }
  Tokens& number(double d) { return op(Op::Number).put(&d, 8); }
  Tokens& date(double d) { return op(Op::DateTime).put(&d, 8); }
  Tokens& logical(bool b) { return op(Op::Logical).raw(b ? 1 : 0); }
  Tokens& error(CellError error) {
    auto code = static_cast<uint16_t>(error);
    return op(Op::ErrorLiteral).put(&code, 2);
  }
  Tokens& integer(int32_t i) { return op(Op::Integer).put(&i, 4); }
  Tokens& text(std::u16string_view s) {
    CellValue v;
    makeText(v, s);  // the token string owns this reference
    uint32_t handle = v.u32();
    return op(Op::String).put(&handle, 4);
  }
  Tokens& call(uint16_t index, uint8_t count) { return op(Op::Call).put(&index, 2).raw(count); }
  Tokens& cell(uint16_t row, uint16_t column) { return op(Op::CellRef).ref(row, column); }
  /// A reference written without "$" in a formula at (baseRow, baseColumn).
  Tokens& relativeCell(uint16_t row, uint16_t column, uint16_t baseRow, uint16_t baseColumn) {
    CellRefCode c = encodeCell(CellPosition{column, row}, true, true, CellPosition{baseColumn, baseRow});
    return op(Op::CellRef).put(&c, 4);
  }
  Tokens& area(uint16_t r1, uint16_t c1, uint16_t r2, uint16_t c2) { return op(Op::AreaRef).ref(r1, c1).ref(r2, c2); }
  Tokens& sheetCell(uint8_t book, uint8_t first, uint8_t last, uint16_t row, uint16_t column) {
    op(Op::SheetCellRef).raw(8).raw(book).raw(first).raw(last).ref(row, column);
    uint32_t zero = 0;
    return put(&zero, 4);
  }
  Tokens& sheetArea(uint8_t book, uint8_t first, uint8_t last, uint16_t r1, uint16_t c1, uint16_t r2, uint16_t c2) {
    return op(Op::SheetAreaRef).raw(9).raw(book).raw(first).raw(last).ref(r1, c1).ref(r2, c2);
  }
  Tokens& name(uint16_t index) { return op(Op::Name).put(&index, 2); }
  Tokens& variable(Op o, uint16_t index) { return op(o).put(&index, 2); }

  /// Emits a jump op with a zero offset; returns its position for patchJump.
  size_t jump(Op o) {
    size_t at = m_bytes.size();
    op(o);
    int16_t zero = 0;
    put(&zero, 2);
    return at;
  }
  /// Sets the offset of the jump at `at` so that it lands at `target`.
  void patchJump(size_t at, size_t target) {
    int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(at) - 1;
    offset -= m_bytes[at] == static_cast<uint8_t>(Op::Jump) ? 3 : 2;
    int16_t o = static_cast<int16_t>(offset);
    std::memcpy(&m_bytes[at + 1], &o, 2);
  }
  /// Emits a Choose case op with a zero offset; returns its position for patchCase.
  size_t chooseCase(uint8_t which, uint8_t last) {
    size_t at = m_bytes.size();
    op(Op::ChooseCase).raw(which).raw(last).raw(0).raw(0);
    return at;
  }
  /// Sets the offset of the case op at `at` so that a case not chosen goes on at `target`.
  void patchCase(size_t at, size_t target) {
    int16_t o = static_cast<int16_t>(static_cast<int64_t>(target) - static_cast<int64_t>(at) - 5);
    std::memcpy(&m_bytes[at + 3], &o, 2);
  }
  size_t size() const { return m_bytes.size(); }

  /// The pool form: u32 length and the ops with the end op appended.
  std::vector<uint8_t> block() const {
    std::vector<uint8_t> out(4);
    uint32_t length = static_cast<uint32_t>(m_bytes.size() + 1);
    std::memcpy(out.data(), &length, 4);
    out.insert(out.end(), m_bytes.begin(), m_bytes.end());
    out.push_back(0);
    return out;
  }
  /// A new formula-pool entry holding the string, one reference.
  uint32_t handle() const {
    std::vector<uint8_t> b = block();
    return formulaPool().add(b.data(), b.size(), 1);
  }

 private:
  Tokens& put(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
    return *this;
  }
  Tokens& ref(uint16_t row, uint16_t column) {
    put(&row, 2);
    return put(&column, 2);
  }
  std::vector<uint8_t> m_bytes;
};

/// An owned copy of a result, readable after the cell changes.
struct Result {
  ValueKind kind = ValueKind::Empty;
  double number = 0;
  uint32_t code = 0;
  std::u16string text;
  bool ok = true;
};

inline Result resultOf(const CellValue& v) {
  Result r;
  r.kind = v.kind;
  if (v.isNumeric()) r.number = v.number();
  if (v.kind == ValueKind::Error || v.kind == ValueKind::Logical) r.code = v.u32();
  valueToText(v, r.text);
  return r;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    startEngine();
    clearError();
    book = newWorkbook(3);
    setEvalWorkbook(book.get());
  }
  void TearDown() override {
    book.reset();
    setEvalWorkbook(nullptr);
  }

  Sheet& sheet(int index = 0) { return *book->sheetAt(index); }
  void setValue(int col, int row, const CellValue& v, int s = 0) { ASSERT_TRUE(sheet(s).setCell(col, row, {v, 0})); }
  void setNumber(int col, int row, double d, int s = 0) { setValue(col, row, numberValue(d), s); }
  void setText(int col, int row, std::u16string_view text, int s = 0) {
    CellValue v;
    makeText(v, text);
    setValue(col, row, v, s);
  }
  /// A formula cell running `handle` (its reference is taken over).
  bool putFormula(int col, int row, uint32_t handle, int s = 0) {
    CellValue v = newFormulaValue(
        handle, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(s)});
    EXPECT_EQ(v.kind, ValueKind::Formula);
    return sheet(s).setCell(col, row, {v, 0});
  }
  /// Enters formula text into a cell through the compiler.
  bool enter(int col, int row, std::u16string_view text, int s = 0) {
    CellValue v = emptyValue();
    compileToValue(*book, text, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(s)}, v);
    EXPECT_EQ(v.kind, ValueKind::Formula) << "compile error " << pendingError();
    if (v.kind != ValueKind::Formula) return false;
    return sheet(s).setCell(col, row, {v, 0});
  }
  /// The formula value a cell holds (its kind is checked by the caller).
  const CellValue& formulaAt(int col, int row, int s = 0) { return sheet(s).cellPtr(col, row)->value; }
  Result cell(int col, int row, int s = 0) { return resultOf(sheet(s).cellValue(col, row)); }

  /// Runs hand-built tokens as if they stood at (col, row) of sheet 0.
  Result run(const Tokens& tokens, int col = 10, int row = 10) {
    uint32_t h = tokens.handle();
    CellValue out = emptyValue();
    bool ok = evaluateTokens(static_cast<const uint8_t*>(formulaPool().data(h)), *book,
                             CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row)}, true, out);
    Result r = resultOf(out);
    r.ok = ok;
    releaseValue(out);
    formulaPool().release(h);
    return r;
  }
  /// Enters `text` into a spare cell, recalculates and gives its value.
  Result calc(std::u16string_view text) {
    if (!enter(200, 5000, text)) return Result{ValueKind::Empty, 0, 0, u"<compile error>", false};
    recalculateAll(*book);
    return cell(200, 5000);
  }

  /// Checks each formula against the text its cell shows.
  void expectShown(std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> cases) {
    for (auto [formula, shown] : cases) EXPECT_EQ(calc(formula).text, shown) << utf16ToUtf8(formula);
  }

  std::unique_ptr<Workbook> book;
};

/// The tab-separated fields of each line of a reference table in the test data folder
/// (MathFunctionsTest.cpp defines it and the comparison below).
std::vector<std::vector<std::string>> readReferenceTable(const std::string& fileName);
/// Empty when `got` matches the expected text within the tolerance, else why not.
std::string compareWithReference(const Result& got, const std::string& expected, const std::string& tolerance);

}  // namespace kelp::test
