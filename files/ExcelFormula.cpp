// Excel formula tokens (BIFF5 and BIFF8) turned into Kelp's compiled tokens.
#include "files/ExcelFormula.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/DocStream.h"
#include "files/ExcelAddIns.h"
#include "files/ExcelTokens.h"
#include "formula/Catalogue.h"
#include "formula/Compiler.h"
#include "formula/ExcelFunctions.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

using namespace excel;

constexpr uint16_t Biff8ColumnMask = 0x3FFF;
constexpr int32_t ExcelSum = 4;
constexpr size_t NoPosition = static_cast<size_t>(-1);

// An operand on the simulated stack: where its Kelp tokens start, and the jumps of an
// If that follow it (indexes into the jump list), which only that If may consume. A
// function's name before a call of function 255 has no tokens; only that call takes it.
struct Operand {
  size_t start;
  int32_t jumpIfFalse = -1;
  int32_t jump = -1;
  int32_t function = -1;
  bool hasJumps() const { return jumpIfFalse >= 0 || jump >= 0 || function >= 0; }
};

// A Kelp jump waiting for its offset: Excel's target (in Excel bytes) and the Kelp
// position that the If owning it requires, which the target must map to.
struct PendingJump {
  size_t at;
  size_t excelTarget;
  size_t expected = NoPosition;
};

// The sheets of a 3-D reference in Kelp's terms; `deleted` when they no longer exist.
struct SheetSpan {
  bool deleted = false;
  uint8_t book = 0;
  uint8_t first = 0;
  uint8_t last = 0;
};

// A Choose whose choices are being read: the operands below the first choice (the index
// included), how many choices are complete of how many its jump table has, and where
// its case ops and the jumps ending its choices are, to be aimed once the call is.
struct OpenChoose {
  size_t depth;
  size_t done;
  size_t choices;
  std::vector<size_t> cases;
  std::vector<size_t> exits;
};

class Converter {
 public:
  Converter(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
            ExcelFormulaContext& context, const uint8_t* extra, size_t extraLength)
      : m_tokens(tokens),
        m_length(length),
        m_extra(extra),
        m_extraLength(extra ? extraLength : 0),
        m_kind(kind),
        m_base(kind == ExcelFormulaKind::Name ? CellPosition{0, 0, 0} : cell),
        m_context(context),
        m_biff8(context.biff8 && !context.pocket),
        m_pocket(context.pocket) {}

  // The tokens of the whole formula in the sink, jumps patched; false with m_error set.
  bool run() {
    if (!m_tokens && m_length) return fail(Err::FileRead);
    m_kelpAt.assign(m_length + 1, NoPosition);
    while (m_pos < m_length) {
      m_kelpAt[m_pos] = m_sink.size();
      uint8_t code = m_tokens[m_pos++];
      if (code & 0x40) code |= 0x20;
      if (!token(static_cast<uint8_t>(code & 0x3F))) return false;
    }
    m_kelpAt[m_length] = m_sink.size();
    if (m_stack.size() != 1 || m_stack[0].hasJumps() || !m_chooses.empty()) return fail(Err::FileRead);
    return patchJumps();
  }

  Err error() const { return m_error; }
  bool volatileSeen() const { return m_volatile; }
  TokenSink& sink() { return m_sink; }

 private:
  bool fail(Err code) {
    if (m_error == Err::None) m_error = code;
    return false;
  }

  // The operand bytes of the current token, or false when they run past the end.
  bool need(size_t bytes) { return m_length - m_pos >= bytes || fail(Err::FileRead); }
  const uint8_t* take(size_t bytes) {
    const uint8_t* p = m_tokens + m_pos;
    m_pos += bytes;
    return p;
  }

  bool emit(Op op, const void* payload = nullptr, size_t length = 0) {
    return m_sink.appendOp(op, payload, length) || fail(Err::OutOfMemory);
  }
  // Emits an operand token and pushes it.
  bool push(Op op, const void* payload = nullptr, size_t length = 0) {
    size_t start = m_sink.size();
    if (!emit(op, payload, length)) return false;
    m_stack.push_back(Operand{start});
    return true;
  }

  bool token(uint8_t code) {
    switch (code) {
      case Ptg::Add: return binary(Op::Add);
      case Ptg::Sub: return binary(Op::Subtract);
      case Ptg::Mul: return binary(Op::Multiply);
      case Ptg::Div: return binary(Op::Divide);
      case Ptg::Power: return binary(Op::Power);
      case Ptg::Concat: return binary(Op::Concatenate);
      case Ptg::Lt: return binary(Op::Less);
      case Ptg::Le: return binary(Op::LessEqual);
      case Ptg::Eq: return binary(Op::Equal);
      case Ptg::Ge: return binary(Op::GreaterEqual);
      case Ptg::Gt: return binary(Op::Greater);
      case Ptg::Ne: return binary(Op::NotEqual);
      case Ptg::Uplus: return unary(Op::UnaryPlus);
      case Ptg::Uminus: return unary(Op::UnaryMinus);
      case Ptg::Percent: return unary(Op::Percent);
      case Ptg::Paren: return unary(Op::Parentheses);
      case Ptg::Str: return string();
      case Ptg::Err: {
        if (!need(1)) return false;
        uint16_t code16 = *take(1);
        return push(Op::ErrorLiteral, &code16, 2);
      }
      case Ptg::Bool: {
        if (!need(1)) return false;
        uint8_t value = *take(1) ? 1 : 0;
        return push(Op::Logical, &value, 1);
      }
      case Ptg::Int: {
        if (!need(2)) return false;
        double value = readU16(take(2));
        return push(Op::Number, &value, 8);
      }
      case Ptg::Num: {
        if (!need(8)) return false;
        return push(Op::Number, take(8), 8);
      }
      case Ptg::Func: {
        if (!need(2)) return false;
        return function(readU16(take(2)), -1);
      }
      case Ptg::FuncVar: {
        if (!need(3)) return false;
        const uint8_t* p = take(3);
        // Bit 7 of the count asks Excel to prompt for the arguments; it does not count.
        return function(readU16(p + 1), p[0] & 0x7F);
      }
      case Ptg::Name: return name();
      case Ptg::NameX: return externName();
      case Ptg::Ref: return cellReference(false);
      case Ptg::RefN: return cellReference(true);
      case Ptg::Area: return areaReference(false);
      case Ptg::AreaN: return areaReference(true);
      case Ptg::RefErr: {
        if (!need(m_biff8 ? 4 : 3)) return false;
        take(m_biff8 ? 4 : 3);
        uint8_t payload[4] = {};
        return push(Op::DeletedCellRef, payload, 4);
      }
      case Ptg::AreaErr: {
        if (!need(m_biff8 ? 8 : 6)) return false;
        take(m_biff8 ? 8 : 6);
        uint8_t payload[8] = {};
        return push(Op::DeletedAreaRef, payload, 8);
      }
      case Ptg::Ref3d: return sheetReference(false);
      case Ptg::Area3d: return sheetReference(true);
      case Ptg::RefErr3d:
      case Ptg::AreaErr3d: {
        bool area = code == Ptg::AreaErr3d;
        size_t size = m_pocket ? (area ? 10 : 7) : m_biff8 ? (area ? 10 : 6) : (area ? 20 : 17);
        if (!need(size)) return false;
        take(size);
        uint8_t payload[12] = {};
        payload[0] = static_cast<uint8_t>(area ? ValueKind::SheetAreaRef : ValueKind::SheetCellRef);
        return push(area ? Op::DeletedSheetAreaRef : Op::DeletedSheetCellRef, payload, 12);
      }
      case Ptg::Attr: return attribute();
      case Ptg::Array: return array();
      default:
        // Intersections, unions, ranges, missing arguments,
        // the memory tokens and anything unknown have no Kelp form.
        return fail(Err::UnsupportedFormula);
    }
  }

  bool binary(Op op) {
    if (m_stack.size() < 2) return fail(Err::FileRead);
    const Operand right = m_stack.back();
    m_stack.pop_back();
    if (right.hasJumps() || m_stack.back().hasJumps()) return fail(Err::FileRead);
    return emit(op);
  }

  bool unary(Op op) {
    if (m_stack.empty() || m_stack.back().hasJumps()) return fail(Err::FileRead);
    return emit(op);
  }

  bool string() {
    std::u16string text;
    if (!need(1)) return false;
    size_t count = *take(1);
    if (m_pocket) {
      if (!need(count * 2)) return false;
      const uint8_t* chars = take(count * 2);
      for (size_t i = 0; i < count; ++i) text.push_back(static_cast<char16_t>(readU16(chars + 2 * i)));
    } else if (m_biff8) {
      if (!need(1)) return false;
      bool wide = *take(1) & 0x01;
      if (!need(count * (wide ? 2 : 1))) return false;
      const uint8_t* chars = take(count * (wide ? 2 : 1));
      for (size_t i = 0; i < count; ++i)
        text.push_back(wide ? static_cast<char16_t>(readU16(chars + 2 * i)) : static_cast<char16_t>(chars[i]));
    } else {
      if (!need(count)) return false;
      const uint8_t* chars = take(count);
      uint32_t codePage = m_context.workbook ? m_context.workbook->codePage : 1252;
      for (size_t i = 0; i < count; ++i) text.push_back(byteToChar(codePage, chars[i]));
    }
    return emitString(text, true);
  }

  // As the compiler does, the empty text is no pool entry.
  bool emitString(const std::u16string& text, bool operand) {
    uint32_t handle = NoHandle;
    if (!text.empty()) {
      handle = textPool().add(text.c_str(), (text.size() + 1) * sizeof(char16_t), 1);
      if (handle == NoHandle) return fail(Err::OutOfMemory);
    }
    if (operand ? push(Op::String, &handle, 4) : emit(Op::String, &handle, 4)) return true;
    textPool().release(handle);
    return false;
  }

  // The next bytes of the constant data after the tokens; false when they run out.
  const uint8_t* takeExtra(size_t bytes) {
    if (m_extraLength - m_extraPos < bytes) {
      fail(Err::FileRead);
      return nullptr;
    }
    const uint8_t* p = m_extra + m_extraPos;
    m_extraPos += bytes;
    return p;
  }

  // tArray: 7 unused bytes here; the shape and the elements, row by row, come from the
  // constant data, one array after another in token order.
  bool array() {
    if (m_pocket) return fail(Err::UnsupportedFormula);
    if (!need(7)) return false;
    take(7);
    const uint8_t* shape = takeExtra(3);
    if (!shape) return false;
    // BIFF8 counts less one; BIFF5 the counts themselves, 256 columns as 0.
    const size_t columns = m_biff8 ? shape[0] + 1u : shape[0] ? shape[0] : 256u;
    const size_t rows = m_biff8 ? readU16(shape + 1) + 1u : readU16(shape + 1);
    if (rows == 0) return fail(Err::FileRead);
    if (columns > ArrayColumnLimit || columns * rows > ArrayElementLimit) return fail(Err::UnsupportedFormula);
    const size_t start = m_sink.size();
    const uint16_t zero[3] = {0, 0, 0};
    if (!emit(Op::Array, zero, 6)) return false;
    for (size_t i = 0; i < columns * rows; ++i) {
      const uint8_t* kind = takeExtra(1);
      if (!kind) return false;
      if (*kind == 0x02) {
        if (!arrayString()) return false;
        continue;
      }
      const uint8_t* p = takeExtra(8);
      if (!p) return false;
      bool written = false;
      switch (*kind) {
        case 0x00: {
          const CellValue empty = emptyValue();
          written = emit(Op::Constant, &empty, sizeof empty);
          break;
        }
        case 0x01:
          written = emit(Op::Number, p, 8);
          break;
        case 0x04: {
          const uint8_t value = p[0] ? 1 : 0;
          written = emit(Op::Logical, &value, 1);
          break;
        }
        case 0x10: {
          const uint16_t code = p[0];
          written = emit(Op::ErrorLiteral, &code, 2);
          break;
        }
        default:
          return fail(Err::FileRead);
      }
      if (!written) return false;
    }
    const size_t bytes = m_sink.size() - start - ArrayHeaderBytes;
    if (bytes > UINT16_MAX) return fail(Err::UnsupportedFormula);
    const uint16_t header[3] = {static_cast<uint16_t>(columns), static_cast<uint16_t>(rows),
                                static_cast<uint16_t>(bytes)};
    m_sink.patch(start + 1, header, sizeof header);
    m_stack.push_back(Operand{start});
    return true;
  }

  // An element text: BIFF8 a 16-bit count, the option byte and the characters; BIFF5 a
  // byte count and code-page bytes.
  bool arrayString() {
    std::u16string text;
    if (m_biff8) {
      const uint8_t* head = takeExtra(3);
      if (!head) return false;
      const size_t count = readU16(head);
      const bool wide = head[2] & 0x01;
      const uint8_t* chars = takeExtra(count * (wide ? 2 : 1));
      if (!chars) return false;
      for (size_t i = 0; i < count; ++i)
        text.push_back(wide ? static_cast<char16_t>(readU16(chars + 2 * i)) : static_cast<char16_t>(chars[i]));
    } else {
      const uint8_t* head = takeExtra(1);
      if (!head) return false;
      const uint8_t* chars = takeExtra(head[0]);
      if (!chars) return false;
      const uint32_t codePage = m_context.workbook ? m_context.workbook->codePage : 1252;
      for (size_t i = 0; i < head[0]; ++i) text.push_back(byteToChar(codePage, chars[i]));
    }
    return emitString(text, false);
  }

  // A call of Excel function `number`; `count` is -1 for the fixed-count form.
  bool function(uint16_t number, int32_t count) {
    // Bit 15 marks a macro command, which no worksheet formula can run.
    if (number & 0x8000) return fail(Err::UnsupportedFormula);
    if (number == ExcelNamedCall && count >= 1) return namedCall(count);
    const ExcelFunctionRow& row = excelFunctionRow(number);
    if (row.catalogueIndex == ExcelUnsupported) return fail(Err::UnsupportedFormula);
    if (count < 0) {
      // The fixed form carries no count; Excel uses it only for functions whose count
      // never varies, which the table records with equal bounds.
      if (row.minArgs != row.maxArgs) return fail(Err::UnsupportedFormula);
      count = row.minArgs;
    } else if (count < row.minArgs || count > row.maxArgs) {
      return fail(Err::UnsupportedFormula);
    }
    if (row.catalogueIndex == FunctionIndex::Choose && !m_chooses.empty() &&
        m_chooses.back().depth + static_cast<size_t>(count) - 1 == m_stack.size())
      return closeChoose(count);
    return call(row.catalogueIndex, count);
  }

  // Every case not naming its choice, and every choice done, goes on at the call, which
  // then finds the index and the one value chosen, as for a typed Choose.
  bool closeChoose(int32_t count) {
    const OpenChoose open = std::move(m_chooses.back());
    m_chooses.pop_back();
    const size_t choices = static_cast<size_t>(count - 1);
    if (open.choices != choices || open.done + 1 < choices) return fail(Err::UnsupportedFormula);
    const size_t at = m_sink.size();
    if (!patchOffset(open.cases.back() + 3, at, open.cases.back() + 5)) return false;
    for (size_t exit : open.exits)
      if (!patchOffset(exit + 1, at, exit + 4)) return false;
    return call(FunctionIndex::Choose, count, ChooseJumpForm);
  }

  // Writes at `field` the offset from `base` to `target`.
  bool patchOffset(size_t field, size_t target, size_t base) {
    const int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(base);
    if (offset < INT16_MIN || offset > INT16_MAX) return fail(Err::UnsupportedFormula);
    const int16_t value = static_cast<int16_t>(offset);
    m_sink.patch(field, &value, 2);
    return true;
  }

  // Pops `count` operands and emits a call. An If whose condition is followed by a
  // jump takes the compiler's jump form, and its jumps are told where they must land.
  bool call(uint16_t index, int32_t count, uint8_t form = 0) {
    const size_t arguments = static_cast<size_t>(count);
    if (m_stack.size() < arguments) return fail(Err::FileRead);
    const size_t first = m_stack.size() - arguments;
    const bool jumps = index == FunctionIndex::If && arguments > 0 && m_stack[first].jumpIfFalse >= 0;
    // Jumps laid out otherwise than Excel lays them out are another writer's way, not
    // damage: the cell keeps its result rather than the file being refused.
    if (jumps && !ifShapeFits(first, arguments)) return fail(Err::UnsupportedFormula);
    if (!jumps)
      for (size_t i = first; i < m_stack.size(); ++i)
        if (m_stack[i].hasJumps()) return fail(Err::FileRead);
    const size_t at = m_sink.size();
    if (jumps) {
      // Condition false: on to the third argument, or to the call, which then gives
      // false. Either branch done: past the call.
      m_jumps[static_cast<size_t>(m_stack[first].jumpIfFalse)].expected =
          arguments == 3 ? m_stack[first + 2].start : at;
      for (size_t i = first + 1; i < m_stack.size(); ++i)
        m_jumps[static_cast<size_t>(m_stack[i].jump)].expected = at + 1 + payloadSize(static_cast<uint8_t>(Op::Call));
    }
    uint8_t payload[3];
    std::memcpy(payload, &index, 2);
    payload[2] = static_cast<uint8_t>(count + (jumps ? 10 : 0) + form);
    const size_t start = arguments ? m_stack[first].start : at;
    m_stack.resize(first);
    m_stack.push_back(Operand{start});
    return emit(Op::Call, payload, 3);
  }

  // Condition with a jump-if-false; then branch and, with three arguments, else branch
  // each with a jump, exactly as the compiler emits If.
  bool ifShapeFits(size_t first, size_t arguments) const {
    if (arguments != 2 && arguments != 3) return false;
    if (m_stack[first].jump >= 0) return false;
    for (size_t i = first + 1; i < m_stack.size(); ++i)
      if (m_stack[i].jump < 0 || m_stack[i].jumpIfFalse >= 0) return false;
    return true;
  }

  // Function 255 calls the function its first operand names, with the rest.
  bool namedCall(int32_t count) {
    if (m_stack.size() < static_cast<size_t>(count)) return fail(Err::FileRead);
    const size_t first = m_stack.size() - static_cast<size_t>(count);
    const int32_t index = m_stack[first].function;
    if (index < 0 || m_stack[first].jumpIfFalse >= 0 || m_stack[first].jump >= 0) return fail(Err::UnsupportedFormula);
    const FunctionRow& row = functionRow(index);
    if (count - 1 < row.minArgs || count - 1 > row.maxArgs) return fail(Err::UnsupportedFormula);
    m_stack.erase(m_stack.begin() + static_cast<std::ptrdiff_t>(first));
    return call(static_cast<uint16_t>(index), count - 1);
  }

  // The name of a function a call of function 255 makes: it has no tokens of its own.
  bool pushFunction(int32_t index) {
    if (index < 0 || index >= FunctionIndex::Count) return fail(Err::UnsupportedFormula);
    Operand operand{m_sink.size()};
    operand.function = index;
    m_stack.push_back(operand);
    return true;
  }

  // An EXTERNNAME: BIFF8 an EXTERNSHEET index, the name's number in its book and 2
  // unused bytes; BIFF5 a one-based EXTERNSHEET index, 8 bytes, the number, 12 bytes.
  // Only an add-in's function names have a Kelp form.
  bool externName() {
    if (m_pocket) return fail(Err::UnsupportedFormula);
    const size_t size = m_biff8 ? 6 : 24;
    if (!need(size)) return false;
    const uint8_t* p = take(size);
    size_t sheet;
    if (m_biff8) {
      sheet = readU16(p);
    } else {
      const int16_t oneBased = readI16(p);
      if (oneBased <= 0) return fail(Err::UnsupportedFormula);
      sheet = static_cast<size_t>(oneBased - 1);
    }
    const uint16_t number = readU16(p + (m_biff8 ? 2 : 10));
    if (sheet >= m_context.externSheets.size() || number == 0) return fail(Err::FileRead);
    const int32_t book = m_context.externSheets[sheet].externNames;
    if (book < 0 || static_cast<size_t>(book) >= m_context.externNames.size()) return fail(Err::UnsupportedFormula);
    const std::vector<int32_t>& names = m_context.externNames[static_cast<size_t>(book)];
    if (number > names.size()) return fail(Err::FileRead);
    return pushFunction(names[number - 1u]);
  }

  bool name() {
    const size_t size = m_biff8 || m_pocket ? 4 : 14;
    if (!need(size)) return false;
    const uint16_t number = readU16(take(size));
    if (number == 0 || number > m_context.nameIndexes.size()) return fail(Err::FileRead);
    if (number <= m_context.nameFunctions.size() && m_context.nameFunctions[number - 1] >= 0)
      return pushFunction(m_context.nameFunctions[number - 1]);
    const int32_t index = m_context.nameIndexes[number - 1];
    // A dropped built-in name cannot be named in a Kelp formula.
    if (index < 0 || index > UINT16_MAX) return fail(Err::UnsupportedFormula);
    const uint16_t index16 = static_cast<uint16_t>(index);
    return push(Op::Name, &index16, 2);
  }

  bool attribute() {
    if (!need(3)) return false;
    const uint8_t* p = take(3);
    const uint8_t type = p[0];
    const size_t end = m_pos;
    const size_t data = readU16(p + 1);
    if (type & AttrBit::Volatile) m_volatile = true;
    switch (type & ~AttrBit::Volatile) {
      case 0:
        return (type & AttrBit::Volatile) || fail(Err::UnsupportedFormula);
      case AttrBit::Space:
        return true;
      case AttrBit::Sum:
        return call(static_cast<uint16_t>(excelFunctionRow(ExcelSum).catalogueIndex), 1);
      case AttrBit::If:
        // Excel's offset counts from the end of this token to the else branch.
        if (m_stack.empty() || m_stack.back().hasJumps()) return fail(Err::FileRead);
        m_stack.back().jumpIfFalse = static_cast<int32_t>(m_jumps.size());
        return placeJump(Op::JumpIfFalse, end + data);
      case AttrBit::Choose: {
        // The index is read; the jump table follows. Kelp enters each choice through a
        // case op, as it compiles Choose, so the table itself is passed over.
        if (m_stack.empty() || m_stack.back().hasJumps() || !need(2 * (data + 1))) return fail(Err::FileRead);
        take(2 * (data + 1));
        if (data == 0 || data >= 255) return fail(Err::UnsupportedFormula);
        OpenChoose open{m_stack.size(), 0, data, {m_sink.size()}, {}};
        const uint8_t payload[4] = {1, static_cast<uint8_t>(data), 0, 0};
        if (!emit(Op::ChooseCase, payload, 4)) return false;
        m_chooses.push_back(std::move(open));
        return true;
      }
      case AttrBit::Goto:
        if (!m_chooses.empty() && m_chooses.back().done < m_chooses.back().choices &&
            m_stack.size() == m_chooses.back().depth + m_chooses.back().done + 1 && !m_stack.back().hasJumps())
          return endChoice(m_chooses.back());
        // Excel's offset is one less than the distance from the end of this token.
        if (m_stack.empty() || m_stack.back().hasJumps()) return fail(Err::FileRead);
        m_stack.back().jump = static_cast<int32_t>(m_jumps.size());
        return placeJump(Op::Jump, end + data + 1);
      default:
        // Choose with its jump table, and combinations Excel does not write.
        return fail(Err::UnsupportedFormula);
    }
  }

  // A choice is done: it leaves for the call, and the next choice gets its case.
  bool endChoice(OpenChoose& open) {
    const int16_t zero = 0;
    open.exits.push_back(m_sink.size());
    if (!emit(Op::Jump, &zero, 2)) return false;
    if (++open.done == open.choices) return true;
    if (!patchOffset(open.cases.back() + 3, m_sink.size(), open.cases.back() + 5)) return false;
    open.cases.push_back(m_sink.size());
    const uint8_t payload[4] = {static_cast<uint8_t>(open.done + 1), static_cast<uint8_t>(open.choices), 0, 0};
    return emit(Op::ChooseCase, payload, 4);
  }

  bool placeJump(Op op, size_t excelTarget) {
    m_jumps.push_back(PendingJump{m_sink.size(), excelTarget});
    const int16_t zero = 0;
    return emit(op, &zero, 2);
  }

  // Kelp lengths differ from Excel's, so each jump's Excel target is mapped through the
  // positions recorded per Excel token; it must be where its If needs it.
  bool patchJumps() {
    for (const PendingJump& jump : m_jumps) {
      if (jump.excelTarget > m_length) return fail(Err::FileRead);
      const size_t target = m_kelpAt[jump.excelTarget];
      if (target == NoPosition || target != jump.expected) return fail(Err::UnsupportedFormula);
      // Op 35 continues at payload + offset + 2, op 34 at payload + offset + 3.
      const bool ifFalse = m_sink.data()[jump.at] == static_cast<uint8_t>(Op::JumpIfFalse);
      const int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(jump.at) - (ifFalse ? 3 : 4);
      if (offset < INT16_MIN || offset > INT16_MAX) return fail(Err::UnsupportedFormula);
      const int16_t value = static_cast<int16_t>(offset);
      m_sink.patch(jump.at + 1, &value, 2);
    }
    return true;
  }

  // One corner as Excel stores it: BIFF8 row u16 and column word with the flags,
  // BIFF5 row word with the flags and column u8.
  struct Corner {
    uint16_t row;
    uint16_t column;
    bool rowRelative;
    bool columnRelative;
  };
  Corner corner(uint16_t rowWord, uint16_t columnWord) const {
    if (m_biff8)
      return Corner{rowWord, static_cast<uint16_t>(columnWord & Biff8ColumnMask),
                    (columnWord & ExcelRowRelative) != 0, (columnWord & ExcelColumnRelative) != 0};
    return Corner{static_cast<uint16_t>(rowWord & Biff5RowMask), columnWord, (rowWord & ExcelRowRelative) != 0,
                  (rowWord & ExcelColumnRelative) != 0};
  }

  // Kelp's reference for a corner. With `offsets` the relative parts already hold signed
  // offsets from the formula's cell; otherwise they hold positions.
  bool encode(const Corner& c, bool offsets, CellRefCode& out) {
    if (offsets) {
      uint16_t row = c.row;
      // BIFF5 rows are 14 bits, and so are their offsets.
      if (c.rowRelative && !m_biff8 && (row & 0x2000)) row |= 0xC000;
      if (!c.columnRelative && c.column > RefBit::ColumnMask) return fail(Err::FileRead);
      uint16_t colWord = static_cast<uint16_t>(c.column & RefBit::ColumnMask);
      if (c.columnRelative) colWord |= RefBit::RelativeColumn;
      if (c.rowRelative) colWord |= RefBit::RelativeRow;
      out = CellRefCode{row, colWord};
      return true;
    }
    if (c.column > RefBit::ColumnMask) return fail(Err::FileRead);
    out = encodeCell(CellPosition{c.column, c.row}, c.rowRelative, c.columnRelative, m_base);
    return true;
  }

  // BIFF8 corners: row u16 then column word; BIFF5: row word then column u8.
  bool readCell(const uint8_t* p, bool offsets, CellRefCode& out) {
    const Corner c = m_biff8 ? corner(readU16(p), readU16(p + 2)) : corner(readU16(p), p[2]);
    return encode(c, offsets, out);
  }
  // BIFF8 areas: rows first and last, then column words; BIFF5: row words, column bytes.
  bool readArea(const uint8_t* p, bool offsets, CellRefCode out[2]) {
    Corner first, last;
    if (m_biff8) {
      first = corner(readU16(p), readU16(p + 4));
      last = corner(readU16(p + 2), readU16(p + 6));
    } else {
      first = corner(readU16(p), p[4]);
      last = corner(readU16(p + 2), p[5]);
    }
    return encode(first, offsets, out[0]) && encode(last, offsets, out[1]);
  }

  size_t cellSize() const { return m_biff8 ? 4 : 3; }
  size_t areaSize() const { return m_biff8 ? 8 : 6; }

  bool cellReference(bool offsets) {
    if (!need(cellSize())) return false;
    CellRefCode ref;
    if (!readCell(take(cellSize()), offsets, ref)) return false;
    return push(Op::CellRef, &ref, 4);
  }

  bool areaReference(bool offsets) {
    if (!need(areaSize())) return false;
    CellRefCode refs[2];
    if (!readArea(take(areaSize()), offsets, refs)) return false;
    return push(Op::AreaRef, refs, 8);
  }

  // An EXTERNSHEET entry as the reader gave it.
  bool externSheet(size_t index, SheetSpan& span) {
    if (index >= m_context.externSheets.size()) return fail(Err::FileRead);
    const ExcelFormulaContext::ExternSheet& entry = m_context.externSheets[index];
    if (entry.firstSheet < 0 || entry.lastSheet < 0) {
      span.deleted = true;
      return true;
    }
    return fitSpan(entry.book, entry.firstSheet, entry.lastSheet, span);
  }

  // Kelp keeps book and sheets in a byte each.
  bool fitSpan(int32_t book, int32_t first, int32_t last, SheetSpan& span) {
    if (first > last) std::swap(first, last);
    if (book > 255 || last > 255) return fail(Err::UnsupportedFormula);
    span.book = static_cast<uint8_t>(book);
    span.first = static_cast<uint8_t>(first);
    span.last = static_cast<uint8_t>(last);
    return true;
  }

  // A BIFF5 sheet index (BOUNDSHEET order) as Kelp's sheet, -1 when it has none.
  int32_t kelpSheet(int16_t sheet) const {
    if (sheet < 0 || static_cast<size_t>(sheet) >= m_context.sheetNumbers.size()) return -1;
    return m_context.sheetNumbers[static_cast<size_t>(sheet)];
  }

  // BIFF5: a negative one-based EXTERNSHEET index refers to this workbook, whose sheets
  // the token names itself; a positive one to another workbook's sheet.
  bool biff5Sheets(const uint8_t* p, SheetSpan& span) {
    const int16_t index = readI16(p);
    if (index == 0) return fail(Err::FileRead);
    if (index > 0) return externSheet(static_cast<size_t>(index - 1), span);
    const int32_t first = kelpSheet(readI16(p + 10));
    const int32_t last = kelpSheet(readI16(p + 12));
    if (first < 0 || last < 0) {
      span.deleted = true;
      return true;
    }
    return fitSpan(0, first, last, span);
  }

  // Pocket Excel: first and last sheet of this workbook, nothing else.
  bool pocketSheets(const uint8_t* p, SheetSpan& span) {
    const int32_t first = kelpSheet(readI16(p));
    const int32_t last = kelpSheet(readI16(p + 2));
    if (first < 0 || last < 0) {
      span.deleted = true;
      return true;
    }
    return fitSpan(0, first, last, span);
  }

  bool sheetReference(bool area) {
    // BIFF8: EXTERNSHEET index, then the reference; BIFF5: index, 8 unused bytes, first
    // and last sheet, then the reference; Pocket Excel: first and last sheet.
    const size_t head = m_pocket ? 4 : m_biff8 ? 2 : 14;
    const size_t size = head + (area ? areaSize() : cellSize());
    if (!need(size)) return false;
    const uint8_t* p = take(size);
    SheetSpan span;
    const bool known = m_pocket ? pocketSheets(p, span) : m_biff8 ? externSheet(readU16(p), span) : biff5Sheets(p, span);
    if (!known) return false;
    // Defined names hold their 3-D references as offsets, like ptgRefN.
    const bool offsets = m_kind == ExcelFormulaKind::Name;
    uint8_t payload[12] = {};
    payload[0] = static_cast<uint8_t>(area ? ValueKind::SheetAreaRef : ValueKind::SheetCellRef);
    payload[1] = span.book;
    payload[2] = span.first;
    payload[3] = span.last;
    CellRefCode refs[2];
    if (area ? !readArea(p + head, offsets, refs) : !readCell(p + head, offsets, refs[0])) return false;
    std::memcpy(payload + 4, refs, area ? 8 : 4);
    if (span.deleted) {
      std::memset(payload + 1, 0, 3);
      return push(area ? Op::DeletedSheetAreaRef : Op::DeletedSheetCellRef, payload, 12);
    }
    return push(area ? Op::SheetAreaRef : Op::SheetCellRef, payload, 12);
  }

  const uint8_t* m_tokens;
  size_t m_length;
  const uint8_t* m_extra;
  size_t m_extraLength;
  size_t m_extraPos = 0;
  size_t m_pos = 0;
  ExcelFormulaKind m_kind;
  CellPosition m_base;
  ExcelFormulaContext& m_context;
  bool m_biff8;
  bool m_pocket;
  bool m_volatile = false;
  Err m_error = Err::None;
  TokenSink m_sink;
  std::vector<Operand> m_stack;
  std::vector<PendingJump> m_jumps;
  std::vector<OpenChoose> m_chooses;
  std::vector<size_t> m_kelpAt;  // Kelp position of each Excel token start; NoPosition inside tokens
};

}  // namespace

uint32_t convertExcelFormula(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                             ExcelFormulaContext& context, const uint8_t* extra, size_t extraLength) {
  installTokenHooks();
  Converter converter(tokens, length, cell, kind, context, extra, extraLength);
  if (!converter.run()) {
    setError(converter.error());
    return NoHandle;
  }
  uint8_t* block = finishTokens(converter.sink());
  if (!block) return NoHandle;
  // Excel's function numbers map only to worksheet rows; should the table ever say
  // otherwise, the formula stays out rather than call a command or task row.
  if (!storableTokens(block + 4, readU32(block))) {
    releaseEntryTexts(block);
    heapFree(block);
    setError(Err::UnsupportedFormula);
    return NoHandle;
  }
  uint32_t handle = formulaPool().add(block, 4 + readU32(block), 1);
  if (handle == NoHandle) releaseEntryTexts(block);
  heapFree(block);
  if (handle != NoHandle && converter.volatileSeen()) context.volatileSeen = true;
  return handle;
}

}  // namespace kelp
