// Formula text: the token string read backwards, one reader per precedence level.
#include "formula/FormulaText.h"

#include <memory>
#include <string_view>

#include "format/ValueText.h"
#include "formula/Lexer.h"
#include "formula/Catalogue.h"
#include "model/CellValue.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {

namespace {

bool isComparison(uint8_t op) { return op >= static_cast<uint8_t>(Op::Equal) && op <= static_cast<uint8_t>(Op::NotEqual); }

const char16_t* operatorText(uint8_t op) {
  switch (static_cast<Op>(op)) {
    case Op::Add: return u"+";
    case Op::Subtract: return u"-";
    case Op::Multiply: return u"*";
    case Op::Divide: return u"/";
    case Op::Equal: return u"=";
    case Op::Less: return u"<";
    case Op::Greater: return u">";
    case Op::LessEqual: return u"<=";
    case Op::GreaterEqual: return u">=";
    case Op::NotEqual: return u"<>";
    case Op::Concatenate: return u"&";
    case Op::Power: return u"^";
    default: return u"";
  }
}

// Ops that need an operand of their own; met where an operand is expected they show
// in parentheses (token strings from other programs may leave those out).
bool isOperator(uint8_t op) {
  return (op >= static_cast<uint8_t>(Op::Add) && op <= static_cast<uint8_t>(Op::UnaryMinus)) ||
         (op >= static_cast<uint8_t>(Op::Equal) && op <= static_cast<uint8_t>(Op::Percent));
}

std::u16string quotedForPrefix(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    out.push_back(c);
    if (c == u'\'') out.push_back(c);
  }
  return out;
}

bool charactersNeedQuotes(std::u16string_view name) {
  if (name.empty() || !isNameStart(name[0])) return true;
  for (char16_t c : name)
    if (!isNameCharacter(c)) return true;
  return false;
}

// A book name with more than name characters and dots ("my budget.kp") is quoted with
// its prefix, as other spreadsheets write it; the brackets alone would read back.
bool bookNameNeedsQuotes(std::u16string_view name) {
  for (char16_t c : name)
    if (c != u'.' && !isNameCharacter(c)) return true;
  return false;
}

class Converter {
 public:
  Converter(const Workbook* workbook, const uint8_t* tokens, CellPosition base)
      : m_workbook(workbook), m_tokens(tokens), m_base(base), m_listSeparator(currentLocale().listSeparator) {}

  bool index(uint32_t length) {
    m_length = length;
    size_t at = 0;
    while (at < length) {
      uint8_t op = m_tokens[at];
      if (op == static_cast<uint8_t>(Op::End)) break;
      uint8_t size = payloadSize(op);
      // A payload running past the end is damage: what precedes it can still be shown.
      if (size != 255 && at + 1 + size > length) break;
      if (m_count == MaxFormulaTokens) return false;
      m_positions[m_count++] = at;
      if (size == 255) break;
      // An array constant is one operand; a damaged one shows as "!!Err" and ends the walk.
      if (op == static_cast<uint8_t>(Op::Array)) {
        const size_t bytes = arrayTokenLength(m_tokens, length, at);
        if (bytes == 0) break;
        at += bytes;
        continue;
      }
      at += 1 + size;
    }
    m_current = static_cast<int32_t>(m_count) - 1;
    return true;
  }

  bool convert(std::u16string& out) {
    comparison();
    put(u"=");
    if (m_failed) return false;
    out.assign(m_buffer + m_start, MaxFormulaText - m_start);
    return true;
  }

 private:
  uint8_t op() const { return m_current >= 0 ? m_tokens[m_positions[m_current]] : 0xFF; }
  const uint8_t* payload() const { return m_tokens + m_positions[m_current] + 1; }

  // Text grows from the end of the buffer towards its start.
  void put(std::u16string_view piece) {
    if (m_failed) return;
    if (piece.size() > m_start) {
      m_failed = true;
      return;
    }
    m_start -= piece.size();
    piece.copy(m_buffer + m_start, piece.size());
  }

  void comparison() {
    while (!m_failed && isComparison(op())) {
      const char16_t* text = operatorText(op());
      --m_current;
      concatenation();
      put(text);
    }
    concatenation();
  }
  void concatenation() { binaryLevel(Op::Concatenate, Op::Concatenate, &Converter::additive); }
  void additive() { binaryLevel(Op::Add, Op::Subtract, &Converter::multiplicative); }
  void multiplicative() { binaryLevel(Op::Multiply, Op::Divide, &Converter::power); }
  void power() { binaryLevel(Op::Power, Op::Power, &Converter::percent); }

  void binaryLevel(Op a, Op b, void (Converter::*higher)()) {
    while (!m_failed && (op() == static_cast<uint8_t>(a) || op() == static_cast<uint8_t>(b))) {
      const char16_t* text = operatorText(op());
      --m_current;
      (this->*higher)();
      put(text);
    }
    (this->*higher)();
  }

  void percent() {
    if (op() == static_cast<uint8_t>(Op::Percent)) {
      put(u"%");
      --m_current;
      percent();
      return;
    }
    unary();
  }

  void unary() {
    if (op() == static_cast<uint8_t>(Op::UnaryPlus) || op() == static_cast<uint8_t>(Op::UnaryMinus)) {
      const char16_t* sign = op() == static_cast<uint8_t>(Op::UnaryPlus) ? u"+" : u"-";
      --m_current;
      unary();
      put(sign);
      return;
    }
    primary();
  }

  void parenthesised() {
    put(u")");
    comparison();
    put(u"(");
  }

  void primary() {
    if (m_failed) return;
    if (m_current < 0) {
      put(u"!!Err");
      return;
    }
    uint8_t code = op();
    if (isOperator(code)) {
      parenthesised();
      return;
    }
    const uint8_t* p = payload();
    --m_current;
    std::u16string text;
    switch (static_cast<Op>(code)) {
      case Op::Number:
        valueToText(numberValue(readDouble(p)), text);
        break;
      case Op::DateTime:
        editableDateText(readDouble(p), text);
        break;
      case Op::Integer:
        text = decimalText(static_cast<int32_t>(readU32(p)));
        break;
      case Op::String:
        stringText(readU32(p), text);
        break;
      case Op::ErrorLiteral:
        valueToText(errorValue(static_cast<CellError>(readU16(p))), text);
        break;
      case Op::Logical:
        text = *p ? u"true" : u"false";
        break;
      case Op::CellRef:
        cellText(readCellRef(p), text);
        break;
      case Op::AreaRef:
        areaText(p, text);
        break;
      case Op::SheetCellRef:
        prefixText(p[1], p[2], p[3], text);
        cellText(readCellRef(p + 4), text);
        break;
      case Op::SheetAreaRef:
        prefixText(p[1], p[2], p[3], text);
        areaText(p + 4, text);
        break;
      case Op::DeletedSheetCellRef:
      case Op::DeletedSheetAreaRef:
      case Op::DeletedCellRef:
      case Op::DeletedAreaRef:
        text = u"!!Ref";
        break;
      case Op::Parentheses:
        parenthesised();
        return;
      case Op::Call:
        call(readU16(p), p[2]);
        return;
      case Op::Array:
        if (arrayTokenLength(m_tokens, m_length, m_positions[m_current + 1]))
          arrayText(p, text);
        else
          text = u"!!Err";
        break;
      case Op::Name: {
        uint16_t name = readU16(p);
        if (m_workbook && name < m_workbook->names.size())
          text = m_workbook->names[name].text;
        else
          text = u"!!Name";
        break;
      }
      default:
        text = u"!!Err";
        break;
    }
    if (code == static_cast<uint8_t>(Op::Number) || code == static_cast<uint8_t>(Op::Integer)) keepApart(text);
    put(text);
  }

  // "10/5/2" would read back as a date; "10 /5/2" still divides.
  void keepApart(std::u16string& number) const {
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    char16_t separator = currentLocale().dateSeparator;
    if (number.empty() || !isDigit(number.back())) return;
    size_t at = m_start;
    if (at >= MaxFormulaText || m_buffer[at] != separator) return;
    size_t digits = ++at;
    while (at < MaxFormulaText && isDigit(m_buffer[at])) ++at;
    if (at > digits && at < MaxFormulaText && m_buffer[at] == separator) number.push_back(u' ');
  }

  void call(uint16_t function, uint8_t count) {
    bool withJumps = function == FunctionIndex::If && count > 10;
    if (withJumps) count -= 10;
    const bool withCases = function == FunctionIndex::Choose && count > ChooseJumpForm;
    if (withCases) count -= ChooseJumpForm;
    const char16_t* name = function < FunctionIndex::Count ? functionRow(function).name : nullptr;
    put(u")");
    for (int argument = count; argument >= 1 && !m_failed; --argument) {
      while (withJumps &&
             (op() == static_cast<uint8_t>(Op::Jump) || op() == static_cast<uint8_t>(Op::JumpIfFalse)))
        --m_current;
      while (withCases && (op() == static_cast<uint8_t>(Op::Jump) || op() == static_cast<uint8_t>(Op::ChooseCase)))
        --m_current;
      comparison();
      if (argument > 1) put(std::u16string_view(&m_listSeparator, 1));
    }
    put(u"(");
    put(name ? name : u"!!Err");
  }

  // The elements row by row, between the locale's separators; index() checked them whole.
  void arrayText(const uint8_t* p, std::u16string& out) {
    const ArrayShape shape = readArrayShape(p);
    const char16_t rowSeparator = arrayRowSeparator(m_listSeparator);
    out = u"{";
    const uint8_t* at = p + ArrayHeaderBytes - 1;
    for (size_t row = 0; row < shape.rows; ++row) {
      if (row > 0) out.push_back(rowSeparator);
      for (size_t column = 0; column < shape.columns; ++column) {
        if (column > 0) out.push_back(m_listSeparator);
        std::u16string element;
        switch (static_cast<Op>(at[0])) {
          case Op::Number:
            valueToText(numberValue(readDouble(at + 1)), element);
            break;
          case Op::String:
            stringText(readU32(at + 1), element);
            break;
          case Op::Logical:
            element = at[1] ? u"true" : u"false";
            break;
          case Op::ErrorLiteral:
            valueToText(errorValue(static_cast<CellError>(readU16(at + 1))), element);
            break;
          default:  // an empty element
            break;
        }
        out += element;
        at += 1 + payloadSize(at[0]);
      }
    }
    out.push_back(u'}');
  }

  void stringText(uint32_t handle, std::u16string& out) {
    out = u"\"";
    if (handle != NoHandle && handle < textPool().slotCount() && textPool().isLive(handle)) {
      for (const char16_t* c = static_cast<const char16_t*>(textPool().data(handle)); *c; ++c) {
        out.push_back(*c);
        if (*c == u'"') out.push_back(*c);
      }
    }
    out.push_back(u'"');
  }

  void cellText(CellRefCode stored, std::u16string& out) {
    CellRefCode cell = resolveCell(stored, m_base);
    std::u16string part;
    if (!(stored.colWord & RefBit::RelativeColumn)) out.push_back(u'$');
    columnName(cell.colWord, part);
    out += part;
    if (!(stored.colWord & RefBit::RelativeRow)) out.push_back(u'$');
    rowName(cell.row, part);
    out += part;
  }

  void areaText(const uint8_t* p, std::u16string& out) {
    cellText(readCellRef(p), out);
    out.push_back(u':');
    cellText(readCellRef(p + 4), out);
  }

  std::u16string sheetName(uint8_t book, uint8_t sheet) const {
    if (m_workbook && book == 0) {
      if (const Sheet* s = m_workbook->sheetAt(sheet)) return s->name;
    } else if (m_workbook) {
      const ExternalBook* external = m_workbook->externalBook(book);
      if (external && sheet < external->sheetNames.size()) return external->sheetNames[sheet];
    }
    return u"ErrRef";
  }

  void prefixText(uint8_t book, uint8_t first, uint8_t last, std::u16string& out) {
    const ExternalBook* external = (m_workbook && book) ? m_workbook->externalBook(book) : nullptr;
    std::u16string firstName = sheetName(book, first);
    std::u16string lastName = last != first ? sheetName(book, last) : std::u16string();
    bool quoted;
    if (external) {
      quoted = external->quoted || !external->directory.empty() || bookNameNeedsQuotes(external->name) ||
               charactersNeedQuotes(firstName) ||
               (last != first && charactersNeedQuotes(lastName));
    } else {
      // A sheet that is gone shows as a plain "ErrRef", which names nothing either way.
      const Workbook* names = book == 0 && m_workbook && m_workbook->sheetAt(first) ? m_workbook : nullptr;
      quoted = sheetNameNeedsQuotes(names, firstName) || (last != first && sheetNameNeedsQuotes(names, lastName));
    }
    if (quoted) out.push_back(u'\'');
    if (external) {
      if (quoted) out += quotedForPrefix(external->directory);
      out += u"[";
      out += external->name;
      out += u"]";
    }
    out += quoted ? quotedForPrefix(firstName) : firstName;
    if (last != first) {
      out.push_back(u':');
      out += quoted ? quotedForPrefix(lastName) : lastName;
    }
    if (quoted) out.push_back(u'\'');
    out.push_back(u'!');
  }

  const Workbook* m_workbook;
  uint32_t m_length = 0;
  const uint8_t* m_tokens;
  CellPosition m_base;
  char16_t m_listSeparator;
  size_t m_positions[MaxFormulaTokens];
  size_t m_count = 0;
  int32_t m_current = -1;
  char16_t m_buffer[MaxFormulaText];
  size_t m_start = MaxFormulaText;
  bool m_failed = false;
};

}  // namespace

bool sheetNameNeedsQuotes(const Workbook* workbook, std::u16string_view name) {
  if (charactersNeedQuotes(name)) return true;
  if (!workbook) return false;
  // Read back as it would be: a name that is a reference ("Q1"), a logical, a
  // function, a keyword or a defined name does not reach the sheet names. The text
  // holds no "[", so the lexer adds no external workbook.
  FormulaLexer lexer = makeLexer(const_cast<Workbook*>(workbook), name, CellPosition{0, 0, 0}, false);
  nextToken(lexer);
  return !(lexer.error == 0 && lexer.token == TokenKind::Name && lexer.nameKind == NameKind::SheetPrefix &&
           lexer.pos == name.size());
}

void columnName(uint16_t column, std::u16string& out) {
  column &= 0xFF;
  out.clear();
  if (column > 25) out.push_back(static_cast<char16_t>(u'A' + column / 26 - 1));
  out.push_back(static_cast<char16_t>(u'A' + column % 26));
}

void rowName(uint16_t row, std::u16string& out) { out = decimalText(static_cast<int64_t>(row) + 1); }

std::u16string cellAddress(int32_t column, int32_t row) {
  std::u16string text, number;
  columnName(static_cast<uint16_t>(column), text);
  rowName(static_cast<uint16_t>(row), number);
  return text + number;
}

bool formulaText(const Workbook* workbook, const uint8_t* data, CellPosition base, std::u16string& out) {
  out.clear();
  if (!data) {
    setError(Err::FormulaTooComplex);
    return false;
  }
  // About 6 KB of index and buffer: kept off the stack of deep callers.
  auto converter = std::make_unique<Converter>(workbook, data + 4, base);
  if (!converter->index(readU32(data)) || !converter->convert(out)) {
    out.clear();
    setError(Err::FormulaTooComplex);
    return false;
  }
  return true;
}


std::u16string handleFormulaText(const Workbook& workbook, uint32_t handle, CellPosition base) {
  std::u16string out;
  const void* data = handle == NoHandle ? nullptr : formulaPool().data(handle);
  if (data && !formulaText(workbook, static_cast<const uint8_t*>(data), base, out)) {
    out.clear();
    clearError();
  }
  return out;
}

}  // namespace kelp
