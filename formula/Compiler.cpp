// The formula compiler: a recursive-descent parser that emits postfix tokens as it reads.
#include "formula/Compiler.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formula/Lexer.h"
#include "formula/Catalogue.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

bool TokenSink::append(const void* bytes, size_t length) {
  if (m_size + length > m_capacity) {
    size_t capacity = m_capacity < 64 ? 64 : m_capacity * 2;
    while (capacity < m_size + length) capacity *= 2;
    auto* grown = static_cast<uint8_t*>(heapRealloc(m_data, capacity));
    if (!grown) {
      setError(Err::OutOfMemory);
      return false;
    }
    m_data = grown;
    m_capacity = capacity;
  }
  if (length) std::memcpy(m_data + m_size, bytes, length);
  m_size += length;
  return true;
}

bool TokenSink::appendOp(Op op, const void* payload, size_t length) {
  uint8_t code = static_cast<uint8_t>(op);
  // Grown in one piece so that a failure never leaves an op without its payload.
  uint8_t bytes[1 + 12];
  bytes[0] = code;
  if (length) std::memcpy(bytes + 1, payload, length);
  return append(bytes, 1 + length);
}

void TokenSink::patch(size_t position, const void* bytes, size_t length) {
  if (position + length <= m_size) std::memcpy(m_data + position, bytes, length);
}

void TokenSink::discard() {
  if (m_data) releaseTokenTexts(m_data, m_size);
  heapFree(m_data);
  m_data = nullptr;
  m_size = m_capacity = 0;
}

namespace {

// Nesting beyond this is refused rather than allowed to exhaust the stack; formula
// text of 999 units cannot nest deeper anyway.
constexpr int MaxDepth = 500;
constexpr size_t NoJump = static_cast<size_t>(-1);

class Parser {
 public:
  Parser(Workbook& workbook, std::u16string_view text, CellPosition base, TokenSink& sink, bool taskMode)
      : m_lexer(makeLexer(&workbook, text, base, taskMode)), m_sink(sink), m_workbook(workbook) {}

  int32_t run() {
    advance();
    if (m_lexer.taskMode)
      statementList();
    else
      comparison();
    if (ok() && m_lexer.token != TokenKind::End) fail(Err::UnexpectedToken);
    if (ok()) return -1;
    if (m_lexer.error == static_cast<uint32_t>(Err::UnknownName))
      setError(Err::UnknownName, nameAt(m_errorPosition));
    else
      setError(m_lexer.error);
    return static_cast<int32_t>(m_errorPosition);
  }

  /// The whole text as one reference, read as formulas read theirs: the op emitted for
  /// it, its payload in `payload`; false for any other text. Reports nothing.
  bool referenceOnly(Op& op, const uint8_t*& payload) {
    advance();
    bool reference = token() == TokenKind::CellRef || token() == TokenKind::AreaRef ||
                     (token() == TokenKind::Name && m_lexer.nameKind == NameKind::SheetPrefix);
    if (!ok() || !reference) return false;
    primary();
    if (!ok() || token() != TokenKind::End || m_sink.size() == 0) return false;
    op = static_cast<Op>(m_sink.data()[0]);
    payload = m_sink.data() + 1;
    return m_sink.size() == 1u + payloadSize(m_sink.data()[0]);
  }

 private:
  bool ok() const { return m_lexer.error == 0; }
  TokenKind token() const { return m_lexer.token; }

  void advance() {
    bool before = ok();
    nextToken(m_lexer);
    if (before && !ok()) m_errorPosition = m_lexer.tokenStart;
  }

  void failAt(uint32_t code, size_t position) {
    if (ok()) {
      m_lexer.error = code;
      m_errorPosition = position;
    }
    m_lexer.token = TokenKind::End;
  }
  void fail(Err code) { failAt(static_cast<uint32_t>(code), m_lexer.tokenStart); }

  void emit(Op op, const void* payload = nullptr, size_t length = 0) {
    if (!ok()) return;
    // The end op comes after everything; it must fit as well.
    if (!m_lexer.taskMode && m_sink.size() + 1 + length + 1 > MaxFormulaBytes) {
      fail(Err::FormulaTooComplex);
      return;
    }
    if (!m_sink.appendOp(op, payload, length)) fail(Err::OutOfMemory);
  }
  void emitU16(Op op, uint16_t value) { emit(op, &value, 2); }
  size_t emitPlaceholder(Op op) {
    size_t at = m_sink.size();
    emitU16(op, 0);
    return at;
  }
  // Jump offsets are 16 bits; a branch too long for one is refused.
  void patchOffset(size_t payload, int64_t offset) {
    if (offset < INT16_MIN || offset > INT16_MAX) {
      fail(Err::FormulaTooComplex);
      return;
    }
    int16_t value = static_cast<int16_t>(offset);
    m_sink.patch(payload, &value, 2);
  }
  // Op 35 at `at` continues at payload + offset + 2 when false; op 34 at payload + offset + 3.
  void patchJumpIfFalse(size_t at, size_t target) {
    patchOffset(at + 1, static_cast<int64_t>(target) - static_cast<int64_t>(at) - 3);
  }
  void patchJump(size_t at, size_t target) {
    patchOffset(at + 1, static_cast<int64_t>(target) - static_cast<int64_t>(at) - 4);
  }
  // Op 43 at `at` goes on at payload + offset + 4 when its case is not the index.
  void patchCase(size_t at, size_t target) {
    patchOffset(at + 3, static_cast<int64_t>(target) - static_cast<int64_t>(at) - 5);
  }

  bool enter() {
    if (++m_depth > MaxDepth) fail(Err::FormulaTooComplex);
    return ok();
  }
  void leave() { --m_depth; }

  // Expressions, lowest precedence first.

  void comparison() {
    if (enter()) {
      concatenation();
      while (ok()) {
        Op op;
        switch (token()) {
          case TokenKind::Equal: op = Op::Equal; break;
          case TokenKind::Less: op = Op::Less; break;
          case TokenKind::Greater: op = Op::Greater; break;
          case TokenKind::LessEqual: op = Op::LessEqual; break;
          case TokenKind::GreaterEqual: op = Op::GreaterEqual; break;
          case TokenKind::NotEqual: op = Op::NotEqual; break;
          default: leave(); return;
        }
        advance();
        concatenation();
        emit(op);
      }
    }
    leave();
  }

  void concatenation() {
    additive();
    while (ok() && token() == TokenKind::Ampersand) {
      advance();
      additive();
      emit(Op::Concatenate);
    }
  }

  void additive() {
    multiplicative();
    while (ok() && (token() == TokenKind::Plus || token() == TokenKind::Minus)) {
      Op op = token() == TokenKind::Plus ? Op::Add : Op::Subtract;
      advance();
      multiplicative();
      emit(op);
    }
  }

  void multiplicative() {
    power();
    while (ok() && (token() == TokenKind::Times || token() == TokenKind::Slash)) {
      Op op = token() == TokenKind::Times ? Op::Multiply : Op::Divide;
      advance();
      power();
      emit(op);
    }
  }

  void power() {
    percent();
    while (ok() && token() == TokenKind::Caret) {
      advance();
      percent();
      emit(Op::Power);
    }
  }

  void percent() {
    unary();
    while (ok() && token() == TokenKind::Percent) {
      advance();
      emit(Op::Percent);
    }
  }

  // The sign binds tighter than "^", so -2^2 is 4.
  void unary() {
    if (token() != TokenKind::Plus && token() != TokenKind::Minus) {
      primary();
      return;
    }
    Op op = token() == TokenKind::Plus ? Op::UnaryPlus : Op::UnaryMinus;
    if (enter()) {
      advance();
      unary();
      emit(op);
    }
    leave();
  }

  void primary() {
    FormulaLexer& lexer = m_lexer;
    switch (token()) {
      case TokenKind::End:
        fail(Err::UnexpectedEnd);
        return;
      case TokenKind::DateTime:
        emit(Op::DateTime, &lexer.number, 8);
        break;
      case TokenKind::Number:
      case TokenKind::Logical:
      case TokenKind::ErrorLiteral:
      case TokenKind::String:
        emitLiteral();
        break;
      case TokenKind::CellRef:
        emit(Op::CellRef, lexer.refs, 4);
        break;
      case TokenKind::AreaRef:
        emit(Op::AreaRef, lexer.refs, 8);
        break;
      case TokenKind::Open:
        advance();
        comparison();
        if (ok() && token() != TokenKind::Close) fail(Err::CloseParenMissing);
        emit(Op::Parentheses);
        break;
      case TokenKind::Close:
        fail(Err::RedundantCloseParen);
        return;
      case TokenKind::ArrayOpen:
        arrayConstant();
        return;
      case TokenKind::Unknown:
        fail(Err::UnknownName);
        return;
      case TokenKind::Name:
        switch (lexer.nameKind) {
          case NameKind::SheetPrefix:
            sheetReference();
            return;
          case NameKind::Function:
            call(lexer.index);
            return;
          case NameKind::DefinedName:
            emitU16(Op::Name, static_cast<uint16_t>(lexer.index));
            break;
          case NameKind::TaskVariable:
            if (!lexer.taskMode) {
              fail(Err::UnexpectedToken);
              return;
            }
            emitU16(Op::ReadVariable, static_cast<uint16_t>(lexer.index));
            break;
          default:
            fail(Err::UnknownName);
            return;
        }
        break;
      default:
        fail(Err::UnexpectedToken);
        return;
    }
    advance();
  }

  // "{" rows of literal elements "}": op Array with the shape, then the elements. Rows
  // of different lengths, an operand that is no literal and a missing "}" are refused
  // at the token where they show.
  void arrayConstant() {
    const size_t header = m_sink.size();
    const uint16_t zero[3] = {0, 0, 0};
    emit(Op::Array, zero, 6);
    m_lexer.inArray = true;
    advance();
    size_t columns = 0, inRow = 0, rows = 0, count = 0;
    if (token() == TokenKind::ArrayClose) fail(Err::UnexpectedToken);
    while (ok()) {
      arrayElement();
      ++inRow;
      if (++count > ArrayElementLimit || inRow > ArrayColumnLimit) fail(Err::FormulaTooComplex);
      if (!ok()) break;
      if (token() == TokenKind::ListSeparator) {
        advance();
        continue;
      }
      if (token() != TokenKind::RowSeparator && token() != TokenKind::ArrayClose) {
        fail(token() == TokenKind::End ? Err::UnexpectedEnd : Err::UnexpectedToken);
        break;
      }
      if (rows == 0) columns = inRow;
      if (inRow != columns) {
        fail(Err::UnexpectedToken);
        break;
      }
      ++rows;
      inRow = 0;
      if (token() == TokenKind::ArrayClose) break;
      advance();
    }
    m_lexer.inArray = false;
    if (!ok()) return;
    const size_t bytes = m_sink.size() - header - ArrayHeaderBytes;
    if (bytes > UINT16_MAX) {
      fail(Err::FormulaTooComplex);
      return;
    }
    const uint16_t shape[3] = {static_cast<uint16_t>(columns), static_cast<uint16_t>(rows),
                               static_cast<uint16_t>(bytes)};
    m_sink.patch(header + 1, shape, sizeof shape);
    advance();
  }

  // One element: a number with an optional sign, a text, a logical or an error value; an
  // element left out between separators is empty.
  void arrayElement() {
    FormulaLexer& lexer = m_lexer;
    switch (token()) {
      case TokenKind::ListSeparator:
      case TokenKind::RowSeparator:
      case TokenKind::ArrayClose: {
        const CellValue empty = emptyValue();
        emit(Op::Constant, &empty, sizeof empty);
        return;
      }
      case TokenKind::Plus:
      case TokenKind::Minus: {
        const bool negative = token() == TokenKind::Minus;
        advance();
        if (token() != TokenKind::Number) {
          fail(token() == TokenKind::End ? Err::UnexpectedEnd : Err::UnexpectedToken);
          return;
        }
        // "-0" is plain 0, as the minus operator would give.
        const double value = negative && lexer.number != 0 ? -lexer.number : lexer.number;
        emit(Op::Number, &value, 8);
        break;
      }
      case TokenKind::Number:
      case TokenKind::Logical:
      case TokenKind::ErrorLiteral:
      case TokenKind::String:
        emitLiteral();
        break;
      case TokenKind::End:
        fail(Err::UnexpectedEnd);
        return;
      default:
        fail(Err::UnexpectedToken);
        return;
    }
    advance();
  }

  // A number, logical, error value or text the lexer holds, as operands and array
  // elements alike take them.
  void emitLiteral() {
    const FormulaLexer& lexer = m_lexer;
    switch (token()) {
      case TokenKind::Number: emit(Op::Number, &lexer.number, 8); return;
      case TokenKind::Logical: emit(Op::Logical, &lexer.logical, 1); return;
      case TokenKind::ErrorLiteral: emitU16(Op::ErrorLiteral, lexer.errorCode); return;
      default: emitString(lexer.string); return;
    }
  }

  void emitString(const std::u16string& text) {
    uint32_t handle = NoHandle;
    if (!text.empty()) {
      handle = textPool().add(text.c_str(), (text.size() + 1) * sizeof(char16_t), 1);
      if (handle == NoHandle) {
        fail(Err::OutOfMemory);
        return;
      }
    }
    size_t before = m_sink.size();
    emit(Op::String, &handle, 4);
    if (m_sink.size() == before) textPool().release(handle);
  }

  // prefix "!" reference: a CellValue of kind 8 or 9 in the token.
  void sheetReference() {
    uint8_t value[12] = {};
    value[1] = m_lexer.book;
    value[2] = m_lexer.firstSheet;
    value[3] = m_lexer.lastSheet;
    advance();
    if (!ok()) return;
    if (token() != TokenKind::Bang) {
      fail(Err::BangExpected);
      return;
    }
    advance();
    if (!ok()) return;
    if (token() == TokenKind::CellRef) {
      value[0] = static_cast<uint8_t>(ValueKind::SheetCellRef);
      std::memcpy(value + 4, m_lexer.refs, 4);
      emit(Op::SheetCellRef, value, 12);
    } else if (token() == TokenKind::AreaRef) {
      value[0] = static_cast<uint8_t>(ValueKind::SheetAreaRef);
      std::memcpy(value + 4, m_lexer.refs, 8);
      emit(Op::SheetAreaRef, value, 12);
    } else {
      fail(Err::ReferenceAfterBang);
      return;
    }
    advance();
  }

  // Name "(" arguments ")". If gets jumps so that only the chosen branch runs.
  void call(int32_t index) {
    if (isCommandOrTaskRow(index) && !m_lexer.taskMode) {
      fail(Err::UnknownName);
      return;
    }
    const FunctionRow& row = functionRow(index);
    bool isIf = index == FunctionIndex::If;
    advance();
    if (!ok()) return;
    if (token() != TokenKind::Open) {
      fail(Err::OpenParenMissing);
      return;
    }
    advance();
    int count = 0;
    size_t jumpIfFalse = NoJump;
    size_t jump = NoJump;
    // Choose runs only the chosen argument: each choice is entered through a case op
    // that skips it unless the index names it, and leaves through a jump to the call.
    const bool isChoose = index == FunctionIndex::Choose;
    std::vector<size_t> cases, caseExits;
    if (ok() && token() != TokenKind::Close) {
      for (;;) {
        comparison();
        if (!ok()) break;
        ++count;
        if (isChoose && count >= 2) caseExits.push_back(emitPlaceholder(Op::Jump));
        if (isChoose && token() == TokenKind::ListSeparator && count < 255) {
          if (!cases.empty()) patchCase(cases.back(), m_sink.size());
          cases.push_back(m_sink.size());
          const uint8_t payload[4] = {static_cast<uint8_t>(count), 0, 0, 0};
          emit(Op::ChooseCase, payload, 4);
        }
        if (isIf && count == 1 && token() == TokenKind::ListSeparator) {
          jumpIfFalse = emitPlaceholder(Op::JumpIfFalse);
        } else if (isIf && count == 2 && jumpIfFalse != NoJump) {
          jump = m_sink.size();
          patchJumpIfFalse(jumpIfFalse, jump + 3);
          emitPlaceholder(Op::Jump);
        }
        if (token() == TokenKind::ListSeparator) {
          advance();
          continue;
        }
        if (token() != TokenKind::Close) fail(Err::CloseParenMissing);
        break;
      }
    }
    if (!ok()) return;
    if (count < row.minArgs) {
      fail(Err::FewArguments);
      return;
    }
    if (count > row.maxArgs || count > 255) {
      fail(Err::TooManyArguments);
      return;
    }
    uint8_t countByte = static_cast<uint8_t>(count);
    if (isChoose) {
      const size_t callAt = m_sink.size();
      if (!cases.empty()) patchCase(cases.back(), callAt);
      for (size_t exit : caseExits) patchJump(exit, callAt);
      const uint8_t last = static_cast<uint8_t>(count - 1);
      for (size_t at : cases) m_sink.patch(at + 2, &last, 1);
      countByte = static_cast<uint8_t>(count + ChooseJumpForm);
    }
    if (jump != NoJump && (count == 2 || count == 3)) {
      if (count == 3) {
        size_t last = m_sink.size();
        emitU16(Op::Jump, 3);
        patchJump(jump, last + 3 + 4);
      } else {
        patchOffset(jump + 1, 3);
      }
      countByte = static_cast<uint8_t>(count + 10);
    }
    uint8_t payload[3];
    uint16_t function = static_cast<uint16_t>(index);
    std::memcpy(payload, &function, 2);
    payload[2] = countByte;
    emit(Op::Call, payload, 3);
    advance();
  }

  // Task statements.

  static bool endsStatementList(TokenKind kind) {
    return kind == TokenKind::End || kind == TokenKind::KeywordElse || kind == TokenKind::KeywordEnd ||
           kind == TokenKind::KeywordElsif;
  }

  void statementList() {
    while (ok() && !endsStatementList(token())) statement();
  }

  void statement() {
    switch (token()) {
      case TokenKind::KeywordIf:
        ifStatement();
        return;
      case TokenKind::KeywordWhile:
        whileStatement();
        return;
      case TokenKind::KeywordFor:
        forStatement();
        return;
      case TokenKind::Unknown:
        declaration();
        return;
      case TokenKind::Name:
        break;
      default:
        fail(Err::UnexpectedToken);
        return;
    }
    switch (m_lexer.nameKind) {
      case NameKind::Function:
        if (m_lexer.index == FunctionIndex::If) {
          ifStatement();
        } else if (isCommandOrTaskRow(m_lexer.index)) {
          call(m_lexer.index);
          emit(Op::Discard);
        } else {
          fail(Err::UnexpectedToken);
        }
        return;
      case NameKind::TaskVariable: {
        uint16_t variable = static_cast<uint16_t>(m_lexer.index);
        advance();
        assignment(variable);
        return;
      }
      case NameKind::Task:
        if (nextIsEqual()) {
          m_lexer.string = tokenText();
          declaration();
          return;
        }
        emitU16(Op::CallTask, static_cast<uint16_t>(m_lexer.index));
        advance();
        return;
      default:
        fail(Err::UnexpectedToken);
        return;
    }
  }

  // After the variable: "=" expression.
  void assignment(uint16_t variable) {
    if (!ok()) return;
    if (token() != TokenKind::Equal) {
      fail(Err::UnexpectedToken);
      return;
    }
    advance();
    comparison();
    emitU16(Op::AssignVariable, variable);
  }

  // A workbook task's name followed by "=" declares a variable of the task text, which
  // then wins over the task for the rest of the text: a user's "i = 1" or "for i = ..."
  // must not become a call of a task that happens to be named "i".
  bool nextIsEqual() const {
    FormulaLexer ahead = m_lexer;
    nextToken(ahead);
    return ahead.token == TokenKind::Equal;
  }

  // The name an unknown-name error stopped at, so that the message can say which.
  std::u16string nameAt(size_t position) const {
    std::u16string_view text = m_lexer.text;
    size_t start = position < text.size() ? position : text.size();
    while (start < text.size() && text[start] == u' ') ++start;
    size_t end = start;
    while (end < text.size()) {
      const char16_t c = text[end];
      const bool part = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                        c == u'_' || c == u'.' || c == u'\\' || c == u'?' || c >= 0x80;
      if (!part) break;
      ++end;
    }
    return std::u16string(text.substr(start, end - start));
  }

  std::u16string tokenText() const {
    std::u16string_view text = m_lexer.text.substr(m_lexer.tokenStart, m_lexer.pos - m_lexer.tokenStart);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return std::u16string(text);
  }

  int32_t declare(const std::u16string& name) {
    int32_t index = m_workbook.addTaskVariable(name);
    if (index > UINT16_MAX) fail(Err::FormulaTooComplex);
    return index;
  }

  void declaration() {
    std::u16string name = m_lexer.string;
    size_t start = m_lexer.tokenStart;
    advance();
    if (!ok()) return;
    if (token() != TokenKind::Equal) {
      failAt(static_cast<uint32_t>(Err::UnknownName), start);
      return;
    }
    int32_t variable = declare(name);
    if (ok()) assignment(static_cast<uint16_t>(variable));
  }

  // Statements up to the closing "end" of a block; error 4 when it is missing.
  bool expectEnd() {
    if (ok() && token() != TokenKind::KeywordEnd) fail(Err::UnexpectedToken);
    return ok();
  }

  void ifStatement() {
    if (!enter()) return;
    std::vector<size_t> endJumps;
    advance();
    comparison();
    size_t jumpIfFalse = emitPlaceholder(Op::JumpIfFalse);
    if (ok() && token() == TokenKind::KeywordThen) advance();
    statementList();
    while (ok() && (token() == TokenKind::KeywordElsif || token() == TokenKind::KeywordElse)) {
      bool isElse = token() == TokenKind::KeywordElse;
      endJumps.push_back(emitPlaceholder(Op::Jump));
      patchJumpIfFalse(jumpIfFalse, m_sink.size());
      jumpIfFalse = NoJump;
      advance();
      if (isElse) {
        statementList();
        break;
      }
      comparison();
      jumpIfFalse = emitPlaceholder(Op::JumpIfFalse);
      if (ok() && token() == TokenKind::KeywordThen) advance();
      statementList();
    }
    if (expectEnd()) {
      if (jumpIfFalse != NoJump) patchJumpIfFalse(jumpIfFalse, m_sink.size());
      for (size_t jump : endJumps) patchJump(jump, m_sink.size());
      advance();
    }
    leave();
  }

  void whileStatement() {
    if (!enter()) return;
    size_t start = m_sink.size();
    advance();
    comparison();
    size_t jumpIfFalse = emitPlaceholder(Op::JumpIfFalse);
    if (ok() && token() == TokenKind::KeywordDo) advance();
    statementList();
    if (expectEnd()) {
      size_t back = emitPlaceholder(Op::Jump);
      patchJump(back, start);
      patchJumpIfFalse(jumpIfFalse, m_sink.size());
      advance();
    }
    leave();
  }

  void forStatement() {
    if (!enter()) return;
    advance();
    int32_t variable = -1;
    if (ok() && token() == TokenKind::Name && m_lexer.nameKind == NameKind::TaskVariable) {
      variable = m_lexer.index;
    } else if (ok() && token() == TokenKind::Unknown) {
      variable = declare(m_lexer.string);
    } else if (ok() && token() == TokenKind::Name && m_lexer.nameKind == NameKind::Task) {
      variable = declare(tokenText());
    } else {
      fail(Err::UnexpectedToken);
    }
    if (ok()) advance();
    if (ok() && token() != TokenKind::Equal) fail(Err::UnexpectedToken);
    if (ok()) advance();
    comparison();
    uint16_t index = static_cast<uint16_t>(variable);
    emitU16(Op::AssignVariable, index);
    if (ok() && token() != TokenKind::KeywordTo) fail(Err::UnexpectedToken);
    if (ok()) advance();
    comparison();
    if (ok() && token() == TokenKind::KeywordStep) {
      advance();
      comparison();
    } else {
      double one = 1.0;
      emit(Op::Number, &one, 8);
    }
    // Op 41 and op 42 jump relative to their own position.
    size_t test = m_sink.size();
    uint8_t loop[4] = {};
    std::memcpy(loop, &index, 2);
    emit(Op::ForTest, loop, 4);
    statementList();
    if (expectEnd()) {
      size_t step = m_sink.size();
      emit(Op::ForStep, loop, 4);
      patchOffset(step + 3, static_cast<int64_t>(test) - static_cast<int64_t>(step));
      patchOffset(test + 3, static_cast<int64_t>(m_sink.size()) - static_cast<int64_t>(test));
      advance();
    }
    leave();
  }

  FormulaLexer m_lexer;
  TokenSink& m_sink;
  Workbook& m_workbook;
  size_t m_errorPosition = 0;
  int m_depth = 0;
};

}  // namespace

int32_t compileFormula(Workbook& workbook, std::u16string_view text, CellPosition base, TokenSink& sink,
                       bool taskMode) {
  if (!text.empty() && text[0] == u'=') text.remove_prefix(1);
  Parser parser(workbook, text, base, sink, taskMode);
  int32_t position = parser.run();
  if (position >= 0) sink.discard();
  return position;
}

bool readReferenceText(Workbook& workbook, std::u16string_view text, CellPosition base, CellValue& out) {
  // A book prefix would add the book to the workbook's list; a reference read while
  // formulas run must leave the workbook as it is.
  if (text.find(u'[') != std::u16string_view::npos) return false;
  TokenSink sink;
  Parser parser(workbook, text, base, sink, false);
  Op op;
  const uint8_t* p = nullptr;
  if (!parser.referenceOnly(op, p)) return false;
  const bool sheets = op == Op::SheetCellRef || op == Op::SheetAreaRef;
  const uint8_t* refs = sheets ? p + 4 : p;
  CellRefCode a = resolveCell(readCellRef(refs), base);
  CellRefCode b = op == Op::AreaRef || op == Op::SheetAreaRef ? resolveCell(readCellRef(refs + 4), base) : a;
  out = areaRefValue(std::min(a.row, b.row), std::min(a.colWord, b.colWord), std::max(a.row, b.row),
                     std::max(a.colWord, b.colWord));
  if (sheets) {
    out.kind = ValueKind::SheetAreaRef;
    out.book = p[1];
    out.firstSheet = std::min(p[2], p[3]);
    out.lastSheet = std::max(p[2], p[3]);
  }
  return true;
}

uint8_t* finishTokens(TokenSink& sink) {
  if (!sink.appendOp(Op::End)) return nullptr;
  uint32_t length = static_cast<uint32_t>(sink.size());
  auto* block = static_cast<uint8_t*>(heapAlloc(4 + length));
  if (!block) {
    setError(Err::OutOfMemory);
    return nullptr;
  }
  std::memcpy(block, &length, 4);
  std::memcpy(block + 4, sink.data(), length);
  sink.forget();
  return block;
}

uint32_t compileToHandle(Workbook& workbook, std::u16string_view text, CellPosition base, bool taskMode) {
  installTokenHooks();
  TokenSink sink;
  if (compileFormula(workbook, text, base, sink, taskMode) >= 0) return NoHandle;
  uint8_t* block = finishTokens(sink);
  if (!block) return NoHandle;
  uint32_t handle = formulaPool().add(block, 4 + readU32(block), 1);
  if (handle == NoHandle) releaseEntryTexts(block);
  heapFree(block);
  return handle;
}

void compileToValue(Workbook& workbook, std::u16string_view text, CellPosition base, CellValue& out) {
  out = emptyValue();
  uint32_t handle = compileToHandle(workbook, text, base, false);
  if (handle == NoHandle) return;
  out = newFormulaValue(handle, base);
  if (out.kind != ValueKind::Formula) formulaPool().release(handle);
}

}  // namespace kelp
