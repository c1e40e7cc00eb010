// The formula lexer: operators, numbers, dates and times, references, names, strings.
#include "formula/Lexer.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/DateSerial.h"
#include "formula/Catalogue.h"
#include "formula/Compiler.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// Large enough to fail every range check, small enough never to overflow while digits accumulate.
constexpr int64_t Saturated = 1000000000;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t at(const FormulaLexer& lexer, size_t position) {
  return position < lexer.text.size() ? lexer.text[position] : u'\0';
}

void fail(FormulaLexer& lexer, uint32_t code) {
  if (lexer.error == 0) lexer.error = code;
  lexer.token = TokenKind::End;
}

// A run of decimal digits; none reads 0.
int64_t readUnsigned(const FormulaLexer& lexer, size_t& position) {
  int64_t value = 0;
  while (isDigit(at(lexer, position))) {
    value = value * 10 + (at(lexer, position) - u'0');
    if (value > Saturated) value = Saturated;
    ++position;
  }
  return value;
}

int fullYear(int64_t year) {
  if (year < 100) return yearFromTwoDigits(static_cast<int>(year));
  return static_cast<int>(year);
}

int clampField(int64_t value) { return static_cast<int>(value > Saturated ? Saturated : value); }

// The serial of checked fields into the lexer; error 32 for fields that name no date or a
// moment the display cannot show (a time on 31 December 9999, or on 1 January 100).
bool makeSerial(FormulaLexer& lexer, int year, int month, int day, int64_t hour, int64_t minute, int64_t second) {
  double serial = 0;
  if (!serialFromFields(year, month, day, clampField(hour), clampField(minute), clampField(second), 0, true,
                        serial) ||
      serial < MinSerial || serial > MaxSerial) {
    fail(lexer, static_cast<uint32_t>(Err::InvalidDateTime));
    return false;
  }
  lexer.number = serial;
  return true;
}

// The time after "hour:" at `position`: minutes, optional seconds and an AM/PM word.
// False with error 32 when the digits are missing or the fields make no valid time.
bool readTimePart(FormulaLexer& lexer, size_t& position, int64_t hour, int year, int month, int day) {
  const LocaleSettings& locale = currentLocale();
  if (!isDigit(at(lexer, position))) {
    fail(lexer, static_cast<uint32_t>(Err::InvalidDateTime));
    return false;
  }
  int64_t minute = readUnsigned(lexer, position);
  int64_t second = 0;
  if (at(lexer, position) == locale.timeSeparator) {
    ++position;
    if (!isDigit(at(lexer, position))) {
      fail(lexer, static_cast<uint32_t>(Err::InvalidDateTime));
      return false;
    }
    second = readUnsigned(lexer, position);
    lexer.hasSeconds = true;
  }
  size_t beforeWord = position;
  size_t wordStart = position;
  while (isSpace(at(lexer, wordStart))) ++wordStart;
  size_t wordEnd = wordStart;
  while (wordEnd < lexer.text.size() &&
         (lexer.text[wordEnd] == u'.' || (isNameStart(lexer.text[wordEnd]) && lexer.text[wordEnd] != u'_')))
    ++wordEnd;
  std::u16string_view word = lexer.text.substr(wordStart, wordEnd - wordStart);
  position = beforeWord;
  if (!word.empty() && equalsIgnoreCase(word, locale.amDesignator)) {
    if (hour == 12) hour = 0;
    lexer.hasAmPm = true;
    position = wordEnd;
  } else if (!word.empty() && equalsIgnoreCase(word, locale.pmDesignator)) {
    if (hour == 12) hour = 0;
    hour += 12;
    lexer.hasAmPm = true;
    position = wordEnd;
  }
  lexer.hasTime = true;
  return makeSerial(lexer, year, month, day, hour, minute, second);
}

// A date, a time or both at the current position. False when the text is no date
// (nothing consumed, nothing reported) or when it is a broken one (error 32 set).
bool readDateTime(FormulaLexer& lexer) {
  const LocaleSettings& locale = currentLocale();
  lexer.hasDate = lexer.hasTime = lexer.hasAmPm = lexer.hasSeconds = false;
  size_t position = lexer.pos;
  int64_t first = readUnsigned(lexer, position);
  if (at(lexer, position) == locale.timeSeparator) {
    ++position;
    if (!readTimePart(lexer, position, first, 1899, 12, 30)) return false;
    lexer.pos = position;
    lexer.token = TokenKind::DateTime;
    return true;
  }
  // A date needs a separator after its second number, so "10/5" stays a division.
  if (at(lexer, position) != locale.dateSeparator || !isDigit(at(lexer, position + 1))) return false;
  ++position;
  int64_t second = readUnsigned(lexer, position);
  if (at(lexer, position) != locale.dateSeparator) return false;
  ++position;
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
  bool haveYear = false;
  if (isDigit(at(lexer, position))) {
    int64_t third = readUnsigned(lexer, position);
    haveYear = true;
    switch (locale.dateOrder) {
      case 0: month = first, day = second, year = third; break;
      case 1: day = first, month = second, year = third; break;
      case 2: year = first, month = second, day = third; break;
      default: year = 1899, month = 12, day = 30; break;
    }
  } else {
    year = localTimeNow().year;
    switch (locale.dateOrder) {
      case 0:
      case 2: month = first, day = second; break;
      case 1: day = first, month = second; break;
      default: year = 1899, month = 12, day = 30; break;
    }
  }
  int fullYearValue = haveYear ? fullYear(year) : static_cast<int>(year);
  lexer.hasDate = true;

  size_t timeStart = position;
  while (isSpace(at(lexer, timeStart))) ++timeStart;
  size_t hourEnd = timeStart;
  if (isDigit(at(lexer, hourEnd))) {
    int64_t hour = readUnsigned(lexer, hourEnd);
    if (at(lexer, hourEnd) == locale.timeSeparator) {
      ++hourEnd;
      if (!readTimePart(lexer, hourEnd, hour, fullYearValue, clampField(month), clampField(day))) return false;
      lexer.pos = hourEnd;
      lexer.token = TokenKind::DateTime;
      return true;
    }
  }
  if (!makeSerial(lexer, fullYearValue, clampField(month), clampField(day), 0, 0, 0)) return false;
  lexer.pos = position;
  lexer.token = TokenKind::DateTime;
  return true;
}

// The value of a number's text ("123", "1.5", "2e-3"): exact integer digits scaled by one
// exact power of ten are a single rounding, so they give strtod's double without its
// general search; longer texts and larger scales go to strtod.
double numberFromText(const char* text, size_t length) {
  static constexpr double Powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const auto general = [&] { return std::strtod(std::string(text, length).c_str(), nullptr); };
  uint64_t mantissa = 0;
  int significant = 0, scale = 0;
  size_t i = 0;
  for (bool fraction = false; i < length && text[i] != 'e'; ++i) {
    if (text[i] == '.') {
      fraction = true;
      continue;
    }
    mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
    if (mantissa != 0 && ++significant > 19) return general();
    if (fraction) --scale;
  }
  if (i < length) {
    const bool negative = i + 1 < length && text[i + 1] == '-';
    int exponent = 0;
    for (size_t j = i + (negative ? 2 : 1); j < length; ++j) {
      exponent = exponent * 10 + (text[j] - '0');
      if (exponent > 1000) return general();
    }
    scale += negative ? -exponent : exponent;
  }
  if (mantissa == 0) return 0;
  if (mantissa > (uint64_t{1} << 53) || scale < -22 || scale > 22)
    return general();
  const double m = static_cast<double>(mantissa);
  return scale >= 0 ? m * Powers[scale] : m / Powers[-scale];
}

void readNumber(FormulaLexer& lexer) {
  if (readDateTime(lexer) || lexer.error) return;
  // Only the locale's decimal symbol is a point here, so in a comma locale "1.5"
  // reads 1 and leaves ".5" behind. The text goes into a buffer on the stack, and only
  // a very long number into a string.
  char shortText[48];
  size_t length = 0;
  std::string longText;
  const auto put = [&](char c) {
    if (length < sizeof shortText) {
      shortText[length] = c;
    } else {
      if (longText.empty()) longText.assign(shortText, length);
      longText.push_back(c);
    }
    ++length;
  };
  size_t& position = lexer.pos;
  while (isDigit(at(lexer, position))) put(static_cast<char>(lexer.text[position++]));
  if (at(lexer, position) == lexer.decimalSymbol) {
    ++position;
    put('.');
    while (isDigit(at(lexer, position))) put(static_cast<char>(lexer.text[position++]));
  }
  // A decimal symbol without digits ("." typed alone) is no number.
  if (length == 1 && shortText[0] == '.') {
    fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
    return;
  }
  char16_t e = at(lexer, position);
  if (e == u'e' || e == u'E') {
    size_t exponent = position + 1;
    char16_t sign = at(lexer, exponent);
    if (sign == u'+' || sign == u'-') ++exponent;
    if (isDigit(at(lexer, exponent))) {
      put('e');
      if (sign == u'-') put('-');
      position = exponent;
      while (isDigit(at(lexer, position))) put(static_cast<char>(lexer.text[position++]));
    }
  }
  double value = longText.empty() ? numberFromText(shortText, length) : std::strtod(longText.c_str(), nullptr);
  if (!std::isfinite(value)) {
    fail(lexer, static_cast<uint32_t>(Err::NumberOutOfBounds));
    return;
  }
  lexer.number = value;
  lexer.token = TokenKind::Number;
}

void readString(FormulaLexer& lexer) {
  lexer.string.clear();
  size_t& position = lexer.pos;
  ++position;
  for (;;) {
    if (position >= lexer.text.size()) {
      fail(lexer, static_cast<uint32_t>(Err::UnterminatedString));
      return;
    }
    char16_t c = lexer.text[position++];
    if (c == u'"') {
      if (at(lexer, position) != u'"') break;
      ++position;
    }
    lexer.string.push_back(c);
  }
  if (lexer.string.size() > MaxStringLiteral) {
    fail(lexer, static_cast<uint32_t>(Err::FormulaTooComplex));
    return;
  }
  lexer.token = TokenKind::String;
}

// One cell reference at `position`: [$]letters[$]digits. 0 or the error code.
uint32_t readCell(const FormulaLexer& lexer, size_t& position, CellRefCode& out) {
  bool columnAbsolute = at(lexer, position) == u'$';
  if (columnAbsolute) ++position;
  int64_t column = 0;
  int letters = 0;
  while (isAsciiLetter(at(lexer, position))) {
    column = column * 26 + (foldCase(at(lexer, position)) - u'a' + 1);
    if (column > Saturated) column = Saturated;
    ++letters;
    ++position;
  }
  if (letters == 0) return static_cast<uint32_t>(Err::ColumnNameExpected);
  if (column > 256) return static_cast<uint32_t>(Err::InvalidColumnName);
  bool rowAbsolute = at(lexer, position) == u'$';
  if (rowAbsolute) ++position;
  if (!isDigit(at(lexer, position)) || at(lexer, position) == u'0') return static_cast<uint32_t>(Err::RowExpected);
  int64_t row = readUnsigned(lexer, position);
  if (row > 65536) return static_cast<uint32_t>(Err::RowTooBig);
  out = encodeCell(CellPosition{static_cast<uint16_t>(column - 1), static_cast<uint16_t>(row - 1)}, !rowAbsolute,
                   !columnAbsolute, lexer.base);
  return 0;
}

// A cell or area reference from the current position; 0 or the error code, the lexer
// untouched on error.
uint32_t readReference(FormulaLexer& lexer) {
  size_t position = lexer.pos;
  uint32_t code = readCell(lexer, position, lexer.refs[0]);
  if (code) return code;
  TokenKind kind = TokenKind::CellRef;
  if (at(lexer, position) == u':' || (at(lexer, position) == u'.' && at(lexer, position + 1) == u'.')) {
    position += at(lexer, position) == u':' ? 1 : 2;
    code = readCell(lexer, position, lexer.refs[1]);
    if (code) return code;
    kind = TokenKind::AreaRef;
  }
  lexer.pos = position;
  lexer.token = kind;
  return 0;
}

// Text of a quoted prefix part up to an apostrophe or one of `stops`; a doubled
// apostrophe stands for one, so sheet names such as "Bob's" can be written.
std::u16string readQuoted(const FormulaLexer& lexer, size_t& position, std::u16string_view stops) {
  std::u16string out;
  while (position < lexer.text.size()) {
    char16_t c = lexer.text[position];
    if (c == u'\'') {
      if (at(lexer, position + 1) != u'\'') break;
      ++position;
    } else if (stops.find(c) != std::u16string_view::npos) {
      break;
    }
    out.push_back(c);
    ++position;
  }
  return out;
}

std::u16string_view readNameRun(const FormulaLexer& lexer, size_t& position) {
  size_t start = position;
  while (position < lexer.text.size() && isNameCharacter(lexer.text[position])) ++position;
  return lexer.text.substr(start, position - start);
}

ExternalSheetNamesFn g_externalSheetNames = nullptr;

// The sheet `sheet` of the external workbook `directory` and `name`: from the workbook's
// list, else from the file itself, whose sheet names join the list (the new ones at the
// end, so compiled references keep their sheet numbers). A book joins the list only once
// its file has the sheet; -1 with `error` set otherwise.
int32_t externalSheet(Workbook& workbook, std::u16string_view directory, std::u16string_view name,
                      std::u16string_view sheet, int32_t& book, uint32_t& error) {
  book = workbook.findExternalBook(directory, name);
  if (book > 0)
    if (int32_t found = workbook.findSheet(sheet, book); found >= 0) return found;
  std::vector<std::u16string> names;
  if (!g_externalSheetNames || !g_externalSheetNames(workbook, directory, name, names)) {
    error = static_cast<uint32_t>(Err::FileOpen);
    return -1;
  }
  auto has = [&](std::u16string_view wanted) {
    for (const std::u16string& n : names)
      if (equalsIgnoreCase(n, wanted)) return true;
    return false;
  };
  if (sheet.empty() || !has(sheet) || (book < 0 && workbook.externalBookCount() >= MaxExternalBooks)) {
    error = static_cast<uint32_t>(Err::SheetNameExpected);
    return -1;
  }
  if (book < 0) book = workbook.findOrAddExternalBook(directory, name);
  ExternalBook* entry = workbook.externalBook(book);
  for (std::u16string& n : names)
    if (workbook.findSheet(n, book) < 0) entry->sheetNames.push_back(std::move(n));
  return workbook.findSheet(sheet, book);
}

// A sheet prefix: ['] [directory] [ "[" book "]" ] sheet [":" sheet] ['], or the
// rest of one whose first sheet (`knownSheet`) was read as a plain name.
void readSheetPrefix(FormulaLexer& lexer, int32_t knownSheet) {
  Workbook* workbook = lexer.workbook;
  size_t& position = lexer.pos;
  bool quoted = false;
  int32_t book = 0;
  int32_t first = knownSheet;
  std::u16string directory;
  std::u16string_view bookName;
  if (first < 0) {
    quoted = at(lexer, position) == u'\'';
    if (quoted) ++position;
    if (quoted) {
      size_t scan = position;
      std::u16string text = readQuoted(lexer, scan, u"[");
      if (at(lexer, scan) == u'[') {
        directory = text;
        position = scan;
      }
    }
    if (at(lexer, position) == u'[') {
      size_t close = lexer.text.find(u']', position);
      if (close == std::u16string_view::npos || !workbook || close == position + 1) {
        fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
        return;
      }
      bookName = lexer.text.substr(position + 1, close - position - 1);
      position = close + 1;
    }
    std::u16string sheet = quoted ? readQuoted(lexer, position, u":") : std::u16string(readNameRun(lexer, position));
    if (!bookName.empty() && workbook) {
      // A folder typed inside the brackets is kept with the folder before them, as a
      // saved file keeps it, so that the text reads the same before and after saving.
      if (size_t slash = bookName.find_last_of(u"/\\"); slash != std::u16string_view::npos) {
        directory += bookName.substr(0, slash + 1);
        bookName = bookName.substr(slash + 1);
      }
      uint32_t error = 0;
      first = externalSheet(*workbook, directory, bookName, sheet, book, error);
      if (first < 0) {
        fail(lexer, error);
        return;
      }
    } else {
      first = (workbook && !sheet.empty()) ? workbook->findSheet(sheet, book) : -1;
    }
    if (first < 0) {
      fail(lexer, static_cast<uint32_t>(Err::SheetNameExpected));
      return;
    }
  }
  int32_t last = first;
  if (at(lexer, position) == u':') {
    ++position;
    std::u16string sheet = quoted ? readQuoted(lexer, position, u":") : std::u16string(readNameRun(lexer, position));
    if (book > 0) {
      uint32_t error = 0;
      int32_t same = book;
      last = externalSheet(*workbook, directory, bookName, sheet, same, error);
    } else {
      last = sheet.empty() ? -1 : workbook->findSheet(sheet, book);
    }
    if (last < 0) {
      fail(lexer, static_cast<uint32_t>(Err::SheetNameExpected));
      return;
    }
  }
  if (quoted) {
    if (at(lexer, position) != u'\'') {
      fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
      return;
    }
    ++position;
  }
  if (first > last) std::swap(first, last);
  if (last > 255) {
    fail(lexer, static_cast<uint32_t>(Err::SheetNameExpected));
    return;
  }
  lexer.token = TokenKind::Name;
  lexer.nameKind = NameKind::SheetPrefix;
  lexer.book = static_cast<uint8_t>(book);
  lexer.firstSheet = static_cast<uint8_t>(first);
  lexer.lastSheet = static_cast<uint8_t>(last);
}

constexpr std::u16string_view Keywords[] = {u"if", u"then", u"else", u"end", u"while",
                                            u"do", u"elsif", u"for", u"to", u"step"};

void readName(FormulaLexer& lexer) {
  char16_t c = at(lexer, lexer.pos);
  if (c == u'\'' || c == u'[') {
    if (!lexer.workbook) {
      fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
      return;
    }
    readSheetPrefix(lexer, -1);
    return;
  }
  // A reference glued to more name characters ("A1x", "Q1_total") is a name.
  if (isAsciiLetter(c)) {
    size_t start = lexer.pos;
    if (readReference(lexer) == 0) {
      if (!isNameCharacter(at(lexer, lexer.pos))) return;
      lexer.pos = start;
      lexer.token = TokenKind::Initial;
    }
  }
  std::u16string_view name = readNameRun(lexer, lexer.pos);
  Workbook* workbook = lexer.workbook;
  if (equalsIgnoreCase(name, u"true") || equalsIgnoreCase(name, u"false")) {
    // Before "(" they are the functions True() and False(), which formula text writes so.
    size_t next = lexer.pos;
    while (isSpace(at(lexer, next))) ++next;
    if (!workbook || at(lexer, next) != u'(') {
      lexer.token = TokenKind::Logical;
      lexer.logical = equalsIgnoreCase(name, u"true") ? 1 : 0;
      return;
    }
  }
  // Entries need only the logical names; the rest would cost a catalogue search per cell.
  if (workbook) {
    int32_t function = findFunction(name);
    if (function >= 0) {
      lexer.token = TokenKind::Name;
      lexer.nameKind = NameKind::Function;
      lexer.index = function;
      return;
    }
    for (size_t i = 0; i < std::size(Keywords); ++i) {
      if (equalsIgnoreCase(name, Keywords[i])) {
        lexer.token = static_cast<TokenKind>(static_cast<uint8_t>(TokenKind::KeywordIf) + i);
        return;
      }
    }
    int32_t index = workbook->findName(name);
    if (index >= 0) {
      lexer.token = TokenKind::Name;
      lexer.nameKind = NameKind::DefinedName;
      lexer.index = index;
      return;
    }
    index = workbook->findTaskVariable(name);
    if (index >= 0) {
      lexer.token = TokenKind::Name;
      lexer.nameKind = NameKind::TaskVariable;
      lexer.index = index;
      return;
    }
    // In a task a workbook task's name is a call of it; the first of equal names wins.
    if (lexer.taskMode) {
      for (size_t i = 0; i < workbook->tasks.size() && i <= 0xFFFF; ++i) {
        if (equalsIgnoreCase(name, workbook->tasks[i].name)) {
          lexer.token = TokenKind::Name;
          lexer.nameKind = NameKind::Task;
          lexer.index = static_cast<int32_t>(i);
          return;
        }
      }
    }
    index = workbook->findSheet(name);
    if (index >= 0) {
      readSheetPrefix(lexer, index);
      return;
    }
  }
  lexer.token = TokenKind::Unknown;
  lexer.string.assign(name);
}

void readErrorLiteral(FormulaLexer& lexer) {
  lexer.pos += 2;
  std::u16string_view word = readNameRun(lexer, lexer.pos);
  if (equalsIgnoreCase(word, u"NA")) {
    lexer.errorCode = 42;
  } else if (equalsIgnoreCase(word, u"Ref")) {
    lexer.errorCode = 23;
  } else {
    fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
    return;
  }
  lexer.token = TokenKind::ErrorLiteral;
}

}  // namespace

bool isNameCharacter(char16_t c) {
  if (c < 0x80) return isAsciiLetter(c) || isDigit(c) || c == u'_';
  // Letters of other scripts; the Latin-1 signs, general punctuation and the
  // ideographic and full-width punctuation are not.
  if (c < 0xC0 || c == 0xD7 || c == 0xF7) return false;
  if (c >= 0x2000 && c <= 0x2BFF) return false;
  if (c >= 0x3000 && c <= 0x303F) return false;
  if (c >= 0xFF00 && c <= 0xFF0F) return false;
  return c != 0xFEFF;
}

bool isNameStart(char16_t c) { return isNameCharacter(c) && !isDigit(c); }

FormulaLexer makeLexer(Workbook* workbook, std::u16string_view text, CellPosition base, bool taskMode) {
  FormulaLexer lexer;
  lexer.workbook = workbook;
  lexer.text = text;
  lexer.base = base;
  lexer.taskMode = taskMode;
  // Tasks are shared between users of any locale, so they keep the C conventions.
  lexer.decimalSymbol = taskMode ? u'.' : currentLocale().decimalSymbol;
  lexer.listSeparator = taskMode ? u',' : currentLocale().listSeparator;
  lexer.rowSeparator = arrayRowSeparator(lexer.listSeparator);
  return lexer;
}

void nextToken(FormulaLexer& lexer, bool allowComments) {
  if (lexer.error) {
    lexer.token = TokenKind::End;
    return;
  }
  for (;;) {
    while (isSpace(at(lexer, lexer.pos))) ++lexer.pos;
    if (!(lexer.taskMode && allowComments && at(lexer, lexer.pos) == u'\'')) break;
    while (lexer.pos < lexer.text.size() && lexer.text[lexer.pos] != u'\r' && lexer.text[lexer.pos] != u'\n')
      ++lexer.pos;
  }
  lexer.tokenStart = lexer.pos;
  if (lexer.pos >= lexer.text.size()) {
    lexer.token = TokenKind::End;
    return;
  }
  char16_t c = lexer.text[lexer.pos];
  // "!!" starts an error literal only before its word; "!!" alone is two "!" tokens.
  char16_t afterBangs = at(lexer, lexer.pos + 2);
  if (c == u'!' && at(lexer, lexer.pos + 1) == u'!' && isNameCharacter(afterBangs) && afterBangs != u'_') {
    readErrorLiteral(lexer);
    return;
  }
  constexpr std::u16string_view Operators = u"+-*/()&=!^%><";
  size_t op = Operators.find(c);
  if (op != std::u16string_view::npos) {
    ++lexer.pos;
    lexer.token = static_cast<TokenKind>(static_cast<uint8_t>(TokenKind::Plus) + op);
    char16_t next = at(lexer, lexer.pos);
    if (c == u'>' && next == u'=') {
      lexer.token = TokenKind::GreaterEqual, ++lexer.pos;
    } else if (c == u'<' && next == u'=') {
      lexer.token = TokenKind::LessEqual, ++lexer.pos;
    } else if (c == u'<' && next == u'>') {
      lexer.token = TokenKind::NotEqual, ++lexer.pos;
    }
    return;
  }
  if (c == u'$') {
    uint32_t code = readReference(lexer);
    if (code) fail(lexer, code);
    return;
  }
  if (isNameStart(c) || c == u'\'' || c == u'[') {
    readName(lexer);
    return;
  }
  if (isDigit(c) || c == lexer.decimalSymbol) {
    readNumber(lexer);
    return;
  }
  if (c == u'"') {
    readString(lexer);
    return;
  }
  if (c == lexer.listSeparator) {
    ++lexer.pos;
    lexer.token = TokenKind::ListSeparator;
    return;
  }
  if (c == u'{' || (lexer.inArray && (c == u'}' || c == lexer.rowSeparator))) {
    ++lexer.pos;
    lexer.token = c == u'{' ? TokenKind::ArrayOpen : c == u'}' ? TokenKind::ArrayClose : TokenKind::RowSeparator;
    return;
  }
  fail(lexer, static_cast<uint32_t>(Err::UnexpectedCharacter));
}

void installExternalSheetNames(ExternalSheetNamesFn fn) { g_externalSheetNames = fn; }

}  // namespace kelp
