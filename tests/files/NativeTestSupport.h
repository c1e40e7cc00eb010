// Helpers of the file tests: hand-built token strings, a workbook using every record
// kind, and a field-by-field comparison of two workbooks.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "formula/Tokens.h"
#include "formula/Catalogue.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"

namespace kelp::test {

/// Builds a token string op by op, as the compiler would emit it.
class TokenBuilder {
 public:
  TokenBuilder& op(Op o) {
    m_bytes.push_back(static_cast<uint8_t>(o));
    return *this;
  }
  TokenBuilder& number(double d) { return op(Op::Number).raw(&d, 8); }
  TokenBuilder& text(std::u16string_view s) {
    std::u16string copy(s);
    uint32_t handle = textPool().add(copy.c_str(), (copy.size() + 1) * 2, 1);
    return op(Op::String).raw(&handle, 4);
  }
  TokenBuilder& cell(uint16_t row, uint16_t colWord) { return op(Op::CellRef).u16(row).u16(colWord); }
  TokenBuilder& area(uint16_t r1, uint16_t c1, uint16_t r2, uint16_t c2) {
    return op(Op::AreaRef).u16(r1).u16(c1).u16(r2).u16(c2);
  }
  TokenBuilder& sheetCell(uint8_t book, uint8_t sheet, uint16_t row, uint16_t col) {
    uint8_t value[12] = {8, book, sheet, sheet, static_cast<uint8_t>(row), static_cast<uint8_t>(row >> 8),
                         static_cast<uint8_t>(col), static_cast<uint8_t>(col >> 8)};
    return op(Op::SheetCellRef).raw(value, 12);
  }
  TokenBuilder& sheetArea(uint8_t book, uint8_t first, uint8_t last, uint16_t r1, uint16_t c1, uint16_t r2, uint16_t c2) {
    uint8_t value[12] = {9, book, first, last};
    uint16_t words[4] = {r1, c1, r2, c2};
    std::memcpy(value + 4, words, 8);
    return op(Op::SheetAreaRef).raw(value, 12);
  }
  TokenBuilder& name(uint16_t index) { return op(Op::Name).u16(index); }
  TokenBuilder& call(uint16_t function, uint8_t args) { return op(Op::Call).u16(function).raw(&args, 1); }
  TokenBuilder& logical(bool b) {
    uint8_t v = b;
    return op(Op::Logical).raw(&v, 1);
  }
  TokenBuilder& error(CellError code) { return op(Op::ErrorLiteral).u16(static_cast<uint16_t>(code)); }
  TokenBuilder& integer(int32_t i) { return op(Op::Integer).raw(&i, 4); }
  TokenBuilder& dateTime(double d) { return op(Op::DateTime).raw(&d, 8); }
  /// Any op with its payload: the u16 `index` first, zeros after it.
  TokenBuilder& withIndex(Op o, uint16_t index) {
    op(o);
    const uint8_t size = payloadSize(static_cast<uint8_t>(o));
    if (size >= 2) u16(index);
    m_bytes.insert(m_bytes.end(), size >= 2 ? size - 2u : size, uint8_t{0});
    return *this;
  }

  /// A formula-pool entry with one reference; the builder's texts go with it.
  uint32_t handle() {
    op(Op::End);
    std::vector<uint8_t> entry(4 + m_bytes.size());
    uint32_t length = static_cast<uint32_t>(m_bytes.size());
    std::memcpy(entry.data(), &length, 4);
    std::memcpy(entry.data() + 4, m_bytes.data(), m_bytes.size());
    m_bytes.clear();
    return formulaPool().add(entry.data(), entry.size(), 1);
  }

 private:
  TokenBuilder& raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
    return *this;
  }
  TokenBuilder& u16(uint16_t v) { return raw(&v, 2); }
  std::vector<uint8_t> m_bytes;
};

/// Token bytes with string handles replaced by their texts, for comparing across pools.
std::string tokenText(uint32_t handle);

void setText(Sheet& sheet, int32_t col, int32_t row, std::u16string_view text, int16_t style = -1);
void setFormula(Sheet& sheet, int32_t col, int32_t row, uint32_t tokens, CellValue cached, int16_t style = -1);
/// Compiles `text` for the cell and stores the formula there, with no result yet.
void setFormula(Workbook& book, Sheet& sheet, int32_t col, int32_t row, std::u16string_view text);
/// The cell's formula as the user would read it; "(no formula)" for any other cell.
std::u16string formulaOf(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row);
/// Bytes written as hex pairs, spaces ignored: "0E01 0500".
std::vector<uint8_t> hex(const char* text);

/// A workbook that uses every record kind of the format.
std::unique_ptr<Workbook> richWorkbook(bool withPassword);
/// Compares everything the format stores; failures name the field.
void expectSameWorkbook(const Workbook& a, const Workbook& b);

std::vector<uint8_t> saveToBytes(Workbook& book);
/// Reads `bytes` into a new empty workbook; `ok` tells whether the read succeeded.
std::unique_ptr<Workbook> readFromBytes(const std::vector<uint8_t>& bytes, bool& ok,
                                        const NativeReadOptions& options = {}, NativeReadResult* result = nullptr);

/// Writes raw records into a byte vector.
std::vector<uint8_t> records(std::initializer_list<std::pair<uint16_t, std::vector<uint8_t>>> list);

}  // namespace kelp::test
