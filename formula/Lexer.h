// The formula lexer: tokens of formula and task text, and of typed cell entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formula/Tokens.h"

namespace kelp {

class Workbook;

/// Token kinds; the numbers are the ones the parser and the entry reader test for.
enum class TokenKind : uint8_t {
  End = 0,
  Initial = 1,  // before the first token; never delivered
  Number = 2,
  Logical = 3,
  DateTime = 4,
  ErrorLiteral = 5,
  ListSeparator = 6,
  Plus = 7,
  Minus = 8,
  Times = 9,
  Slash = 10,
  Open = 11,
  Close = 12,
  Ampersand = 13,
  Equal = 14,
  Bang = 15,
  Caret = 16,
  Percent = 17,
  Greater = 18,
  Less = 19,
  GreaterEqual = 20,
  LessEqual = 21,
  NotEqual = 22,
  CellRef = 23,
  AreaRef = 24,
  Name = 25,
  Unknown = 26,
  String = 27,
  KeywordIf = 28,
  KeywordThen = 29,
  KeywordElse = 30,
  KeywordEnd = 31,
  KeywordWhile = 32,
  KeywordDo = 33,
  KeywordElsif = 34,
  KeywordFor = 35,
  KeywordTo = 36,
  KeywordStep = 37,
  ArrayOpen = 38,     // "{"
  ArrayClose = 39,    // "}", only inside an array constant
  RowSeparator = 40,  // between rows, only inside an array constant
};

/// What a name token names.
enum class NameKind : uint8_t {
  Function = 0,
  SheetPrefix = 1,
  DefinedName = 2,
  TaskVariable = 4,
  Task = 5,
};

/// Longest string literal in UTF-16 units; the lexer's buffer holds it and a terminator.
constexpr size_t MaxStringLiteral = 2047;

struct FormulaLexer {
  /// Names are looked up here; null reads entries, where only "true" and "false" and
  /// the function names mean something and nothing may be added to a workbook.
  Workbook* workbook = nullptr;
  std::u16string_view text;
  bool taskMode = false;
  CellPosition base{0, 0, 0};
  char16_t decimalSymbol = u'.';
  char16_t listSeparator = u',';
  /// Ends a row of an array constant: ";", or "|" where ";" separates lists.
  char16_t rowSeparator = u';';
  /// Set by the parser between "{" and "}", where "}" and the row separator are tokens.
  bool inArray = false;

  TokenKind token = TokenKind::Initial;
  size_t pos = 0;
  size_t tokenStart = 0;
  /// The first error met, 0 while none; the parser reports it, the entry reader drops it.
  uint32_t error = 0;

  // The current token's value.
  double number = 0;  // Number and DateTime
  uint8_t logical = 0;
  uint16_t errorCode = 0;
  CellRefCode refs[2]{};  // CellRef uses the first
  NameKind nameKind = NameKind::Function;
  int32_t index = -1;  // function, defined name or variable index
  uint8_t book = 0;
  uint8_t firstSheet = 0;
  uint8_t lastSheet = 0;
  std::u16string string;  // string literal, or the text of an unknown name

  // Which parts the last date/time literal had (the entry reader picks a format by them).
  bool hasDate = false;
  bool hasTime = false;
  bool hasAmPm = false;
  bool hasSeconds = false;
};

/// A lexer over `text` with the separators of the locale in force, or "." and ","
/// in task mode.
FormulaLexer makeLexer(Workbook* workbook, std::u16string_view text, CellPosition base, bool taskMode);

/// Reads the next token into the lexer. Comments (task mode) are skipped when allowed.
void nextToken(FormulaLexer& lexer, bool allowComments = true);

/// The row separator of array constants that goes with a list separator.
constexpr char16_t arrayRowSeparator(char16_t listSeparator) { return listSeparator == u';' ? u'|' : u';'; }

/// Letters, digits and "_" as names use them; letters of other scripts count.
bool isNameCharacter(char16_t c);
bool isNameStart(char16_t c);

}  // namespace kelp
