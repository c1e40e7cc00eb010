// Excel number format codes to and from Kelp's structured number format records.
#include "format/ExcelFormatCodes.h"

#include <vector>

#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr std::u16string_view kBuiltInCodes[50] = {
    u"General",
    u"0",
    u"0.00",
    u"#,##0",
    u"#,##0.00",
    u"\"$\"#,##0_);(\"$\"#,##0)",
    u"\"$\"#,##0_);[Red](\"$\"#,##0)",
    u"\"$\"#,##0.00_);(\"$\"#,##0.00)",
    u"\"$\"#,##0.00_);[Red](\"$\"#,##0.00)",
    u"0%",
    u"0.00%",
    u"0.00E+00",
    u"# ?/?",
    u"# ?\?/??",
    u"m/d/yy",
    u"d-mmm-yy",
    u"d-mmm",
    u"mmm-yy",
    u"h:mm AM/PM",
    u"h:mm:ss AM/PM",
    u"h:mm",
    u"h:mm:ss",
    u"m/d/yy h:mm",
    u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"",  // 23-36 vary by country
    u"#,##0_);(#,##0)",
    u"#,##0_);[Red](#,##0)",
    u"#,##0.00_);(#,##0.00)",
    u"#,##0.00_);[Red](#,##0.00)",
    u"_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)",
    u"_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)",
    u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"?\?_);_(@_)",
    u"_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)",
    u"mm:ss",
    u"[h]:mm:ss",
    u"mm:ss.0",
    u"##0.0E+0",
    u"@",
};

enum class Tok { Literal, Digit, Point, Comma, Exponent, Text, Code, Elapsed, AmPm, General };

struct Token {
  Tok type;
  std::u16string text;  // Literal: the text; Code/Elapsed: the letter run in lower case
};

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool startsWithIgnoreCase(std::u16string_view text, size_t at, std::u16string_view word) {
  return text.size() - at >= word.size() && equalsIgnoreCase(text.substr(at, word.size()), word);
}

void addLiteral(std::vector<Token>& tokens, std::u16string_view text) {
  if (text.empty()) return;
  if (!tokens.empty() && tokens.back().type == Tok::Literal)
    tokens.back().text += text;
  else
    tokens.push_back({Tok::Literal, std::u16string(text)});
}

// Splits at ";" outside quotes, escapes and brackets.
std::vector<std::u16string_view> splitSections(std::u16string_view code) {
  std::vector<std::u16string_view> sections;
  size_t start = 0;
  bool quoted = false, bracket = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char16_t c = code[i];
    if (quoted) {
      quoted = c != u'"';
    } else if (bracket) {
      bracket = c != u']';
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u'[') {
      bracket = true;
    } else if (c == u'\\' || c == u'_' || c == u'*') {
      ++i;
    } else if (c == u';') {
      sections.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(code.substr(start));
  return sections;
}

std::vector<Token> tokenize(std::u16string_view s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    char16_t lc = lower(c);
    if (c == u'"') {
      size_t end = s.find(u'"', i + 1);
      if (end == std::u16string_view::npos) end = s.size();
      addLiteral(tokens, s.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == u'\\') {
      if (i + 1 < s.size()) addLiteral(tokens, s.substr(i + 1, 1));
      i += 2;
    } else if (c == u'_' || c == u'*') {
      i += 2;  // padding to the width of a character, or a fill: nothing Kelp draws
    } else if (c == u'[') {
      size_t end = s.find(u']', i + 1);
      if (end == std::u16string_view::npos) end = s.size();
      std::u16string_view inside = s.substr(i + 1, end - i - 1);
      if (!inside.empty() && inside[0] == u'$') {
        size_t dash = inside.find(u'-');
        addLiteral(tokens, inside.substr(1, dash == std::u16string_view::npos ? inside.size() - 1 : dash - 1));
      } else if (!inside.empty() && inside.find_first_not_of(inside[0]) == std::u16string_view::npos &&
                 (lower(inside[0]) == u'h' || lower(inside[0]) == u'm' || lower(inside[0]) == u's')) {
        tokens.push_back({Tok::Elapsed, std::u16string(inside.size(), lower(inside[0]))});
      }
      i = end + 1;  // colours and conditions are dropped
    } else if (c == u'0' || c == u'#' || c == u'?') {
      tokens.push_back({Tok::Digit, std::u16string(1, c)});
      ++i;
    } else if (c == u'.') {
      tokens.push_back({Tok::Point, u"."});
      ++i;
    } else if (c == u',') {
      tokens.push_back({Tok::Comma, u","});
      ++i;
    } else if (lc == u'e' && i + 1 < s.size() && (s[i + 1] == u'+' || s[i + 1] == u'-')) {
      tokens.push_back({Tok::Exponent, u"e"});
      i += 2;
    } else if (c == u'@') {
      tokens.push_back({Tok::Text, u"@"});
      ++i;
    } else if (startsWithIgnoreCase(s, i, u"AM/PM")) {
      tokens.push_back({Tok::AmPm, u"tt"});
      i += 5;
    } else if (startsWithIgnoreCase(s, i, u"A/P")) {
      tokens.push_back({Tok::AmPm, u"t"});
      i += 3;
    } else if (startsWithIgnoreCase(s, i, u"General")) {
      tokens.push_back({Tok::General, u""});
      i += 7;
    } else if (lc == u'y' || lc == u'm' || lc == u'd' || lc == u'h' || lc == u's') {
      size_t run = 1;
      while (i + run < s.size() && lower(s[i + run]) == lc) ++run;
      tokens.push_back({Tok::Code, std::u16string(run, lc)});
      i += run;
    } else {
      addLiteral(tokens, s.substr(i, 1));
      ++i;
    }
  }
  return tokens;
}

bool hasType(const std::vector<Token>& tokens, Tok type) {
  for (const Token& t : tokens)
    if (t.type == type) return true;
  return false;
}

bool isDateSection(const std::vector<Token>& tokens) {
  return hasType(tokens, Tok::Code) || hasType(tokens, Tok::Elapsed) || hasType(tokens, Tok::AmPm);
}

// The affixes, decimals and grouping of one number section; false when its digits are
// broken by text (fractions, scientific, "000-00-0000"), which Kelp shows as General.
struct NumberSection {
  std::u16string prefix, suffix;
  int decimals = 0;
  bool thousands = false;
  bool hasDigits = false;
};

bool readNumberSection(const std::vector<Token>& tokens, NumberSection& out) {
  size_t first = tokens.size(), last = 0;
  for (size_t i = 0; i < tokens.size(); ++i)
    if (tokens[i].type == Tok::Digit) {
      if (first == tokens.size()) first = i;
      last = i;
    }
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.type == Tok::Exponent) return false;
    const bool inside = first < tokens.size() && i > first && i < last;
    if (t.type == Tok::Literal && inside) return false;
  }
  if (first == tokens.size()) {
    for (const Token& t : tokens)
      if (t.type == Tok::Literal) out.prefix += t.text;
    return true;
  }
  out.hasDigits = true;
  bool afterPoint = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (i < first) {
      if (t.type == Tok::Literal) out.prefix += t.text;
    } else if (i > last) {
      if (t.type == Tok::Literal) out.suffix += t.text;
    } else if (t.type == Tok::Point) {
      afterPoint = true;
    } else if (t.type == Tok::Digit && afterPoint) {
      ++out.decimals;
    } else if (t.type == Tok::Comma && !afterPoint) {
      out.thousands = true;
    }
  }
  if (out.decimals > 9) out.decimals = 9;
  return true;
}

bool isPictureSafe(char16_t c) {
  return !((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'\'');
}

// Text in a picture: runs of letters are quoted, since the picture services read
// letters; a quote is doubled, which reads as one inside quotes or out.
void appendPictureLiteral(std::u16string_view text, std::u16string& out) {
  bool quoted = false;
  for (char16_t c : text) {
    if (c == u'\'') {
      out += u"''";
      continue;
    }
    const bool letter = !isPictureSafe(c);
    if (letter != quoted) {
      out.push_back(u'\'');
      quoted = letter;
    }
    out.push_back(c);
  }
  if (quoted) out.push_back(u'\'');
}

NumberFormatRecord readDateSection(const std::vector<Token>& tokens) {
  const bool twelveHour = hasType(tokens, Tok::AmPm);
  // The index of the code before or after `i`, skipping literals and points.
  auto neighbour = [&](size_t i, int step) -> const Token* {
    for (long k = static_cast<long>(i) + step; k >= 0 && k < static_cast<long>(tokens.size()); k += step)
      if (tokens[k].type == Tok::Code || tokens[k].type == Tok::Elapsed) return &tokens[k];
    return nullptr;
  };
  std::u16string date, time;
  bool inTime = false;
  bool afterSeconds = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    std::u16string piece;
    bool timePiece = false;
    switch (t.type) {
      case Tok::Code: {
        const char16_t letter = t.text[0];
        const size_t run = t.text.size();
        afterSeconds = letter == u's';
        if (letter == u'y') {
          piece = run <= 2 ? u"yy" : u"yyyy";
        } else if (letter == u'd') {
          piece.assign(run > 4 ? 4 : run, u'd');
        } else if (letter == u'h') {
          piece.assign(run > 2 ? 2 : run, twelveHour ? u'h' : u'H');
          timePiece = true;
        } else if (letter == u's') {
          piece.assign(run > 2 ? 2 : run, u's');
          timePiece = true;
        } else {  // m: minutes after an hour or before seconds, else the month
          const Token* before = neighbour(i, -1);
          const Token* after = neighbour(i, 1);
          if ((before && before->text[0] == u'h') || (after && after->text[0] == u's')) {
            piece.assign(run > 2 ? 2 : run, u'm');
            timePiece = true;
          } else {
            piece.assign(run > 4 ? 3 : run, u'M');
          }
        }
        break;
      }
      case Tok::Elapsed:
        piece = t.text[0] == u'h' ? u"H" : t.text[0] == u'm' ? u"mm" : u"ss";
        afterSeconds = t.text[0] == u's';
        timePiece = true;
        break;
      case Tok::AmPm:
        piece = t.text;
        timePiece = true;
        break;
      case Tok::Point:
        if (afterSeconds && i + 1 < tokens.size() && tokens[i + 1].type == Tok::Digit) break;  // tenths of seconds
        appendPictureLiteral(u".", inTime ? time : date);
        break;
      case Tok::Literal:
      case Tok::Comma:
        appendPictureLiteral(t.text, inTime ? time : date);
        break;
      default:
        break;
    }
    if (piece.empty()) continue;
    if (timePiece) inTime = true;
    (inTime ? time : date) += piece;
  }
  while (!date.empty() && date.back() == u' ') date.pop_back();
  while (!time.empty() && time.front() == u' ') time.erase(0, 1);
  return dateFormat(std::move(date), std::move(time));
}

// An affix in a code: signs, parentheses, percent and spaces bare, anything else quoted.
void appendCodeAffix(std::u16string_view affix, std::u16string& out) {
  bool quoted = false;
  for (char16_t c : affix) {
    const bool bare = c == u'-' || c == u'+' || c == u'(' || c == u')' || c == u'%' || c == u' ';
    if ((bare || c == u'"') && quoted) {
      out.push_back(u'"');
      quoted = false;
    }
    if (c == u'"') {
      out += u"\\\"";
    } else if (bare) {
      out.push_back(c);
    } else {
      if (!quoted) out.push_back(u'"');
      quoted = true;
      out.push_back(c);
    }
  }
  if (quoted) out.push_back(u'"');
}

void appendCodeBody(const NumberFormatRecord& f, std::u16string& out) {
  out += f.thousands ? u"#,##0" : u"0";
  if (f.decimals > 0) {
    out.push_back(u'.');
    out.append(f.decimals > 9 ? 9 : f.decimals, u'0');
  }
}

// A picture in code form: the letters translated, quoted text and other letters quoted.
void appendCodePicture(std::u16string_view picture, bool time, std::u16string& out) {
  size_t i = 0;
  while (i < picture.size()) {
    char16_t c = picture[i];
    if (c == u'\'') {
      // '' is one quote; otherwise the text up to the closing quote stands as written.
      std::u16string literal;
      size_t end = i + 1;
      if (end < picture.size() && picture[end] == u'\'') {
        literal = u"'";
        end += 1;
      } else {
        while (end < picture.size()) {
          if (picture[end] == u'\'') {
            if (end + 1 < picture.size() && picture[end + 1] == u'\'') {
              literal.push_back(u'\'');
              end += 2;
              continue;
            }
            ++end;
            break;
          }
          literal.push_back(picture[end++]);
        }
      }
      appendCodeAffix(literal, out);
      i = end;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    const bool dateLetter = !time && (c == u'd' || c == u'M' || c == u'y');
    const bool timeLetter = time && (c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u't');
    if (dateLetter) {
      if (c == u'd') out.append(run > 4 ? 4 : run, u'd');
      else if (c == u'M') out.append(run > 4 ? 4 : run, u'm');
      else out += run <= 2 ? u"yy" : u"yyyy";
    } else if (timeLetter) {
      if (c == u't') out += run >= 2 ? u"AM/PM" : u"A/P";
      else out.append(run > 2 ? 2 : run, c == u'H' ? u'h' : c);
    } else {
      for (size_t k = 0; k < run; ++k) {
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (letter || std::u16string_view(u"\"\\[@_*;0#?").find(c) != std::u16string_view::npos) {
          out.push_back(u'\\');
        }
        out.push_back(c);
      }
    }
    i += run;
  }
}

constexpr std::u16string_view kColorNames[] = {u"Black", u"White",   u"Red",  u"Green",
                                               u"Blue",  u"Yellow", u"Magenta", u"Cyan"};
constexpr int kMaxColor = 56;

// The colour a section names in brackets ("[Red]", "[Color10]"), by Excel's number; 0 when none.
uint8_t sectionColor(std::u16string_view section) {
  bool quoted = false;
  for (size_t i = 0; i < section.size(); ++i) {
    const char16_t c = section[i];
    if (c == u'"') quoted = !quoted;
    if (quoted) continue;
    if (c == u'\\') {
      ++i;
      continue;
    }
    if (c != u'[') continue;
    const size_t end = section.find(u']', i + 1);
    if (end == std::u16string_view::npos) break;
    const std::u16string_view inside = section.substr(i + 1, end - i - 1);
    for (size_t n = 0; n < std::size(kColorNames); ++n) {
      if (equalsIgnoreCase(inside, kColorNames[n])) return static_cast<uint8_t>(n + 1);
    }
    if (startsWithIgnoreCase(inside, 0, u"color") && inside.size() > 5 && inside.size() <= 7) {
      int number = 0;
      for (char16_t d : inside.substr(5)) number = d >= u'0' && d <= u'9' ? number * 10 + (d - u'0') : -1000;
      if (number >= 1 && number <= kMaxColor) return static_cast<uint8_t>(number);
    }
    i = end;
  }
  return 0;
}

void appendColor(uint8_t color, std::u16string& out) {
  if (color == 0) return;
  out.push_back(u'[');
  if (color <= std::size(kColorNames)) {
    out += kColorNames[color - 1];
  } else {
    out += u"Color";
    out += static_cast<char16_t>(u'0' + color / 10);
    out += static_cast<char16_t>(u'0' + color % 10);
  }
  out.push_back(u']');
}

// The record of a code without its colours.
NumberFormatRecord uncoloredRecord(const std::vector<std::u16string_view>& sections);

}  // namespace

std::u16string_view excelBuiltInCode(int id) {
  return id >= 0 && id < static_cast<int>(std::size(kBuiltInCodes)) ? kBuiltInCodes[id] : std::u16string_view();
}

NumberFormatRecord recordFromExcelCode(std::u16string_view code) {
  const std::vector<std::u16string_view> sections = splitSections(code);
  NumberFormatRecord f = uncoloredRecord(sections);
  if (f.kind != FormatKind::Text) {
    // One section serves every number, so its colour is the negatives' too.
    f.positiveColor = sectionColor(sections[0]);
    f.negativeColor = sections.size() > 1 ? sectionColor(sections[1]) : f.positiveColor;
  }
  return f;
}

namespace {

NumberFormatRecord uncoloredRecord(const std::vector<std::u16string_view>& sections) {
  std::vector<Token> positive = tokenize(sections[0]);
  if (positive.empty() || hasType(positive, Tok::General)) return generalFormat();
  if (isDateSection(positive)) return readDateSection(positive);
  if (hasType(positive, Tok::Text) && !hasType(positive, Tok::Digit)) {
    NumberFormatRecord text;
    text.kind = FormatKind::Text;
    return text;
  }
  NumberSection pos;
  if (!readNumberSection(positive, pos) || !pos.hasDigits) return generalFormat();
  NumberFormatRecord f;
  f.decimals = static_cast<uint8_t>(pos.decimals);
  f.thousands = pos.thousands;
  f.positivePrefix = pos.prefix;
  f.positiveSuffix = pos.suffix;
  // One section: Excel writes a minus before the whole positive form.
  f.negativePrefix = u"-" + pos.prefix;
  f.negativeSuffix = pos.suffix;
  if (sections.size() > 1) {
    NumberSection neg;
    if (readNumberSection(tokenize(sections[1]), neg) && neg.hasDigits) {
      f.negativePrefix = neg.prefix;
      f.negativeSuffix = neg.suffix;
    }
  }
  f.updatePercent();
  return f;
}

}  // namespace

NumberFormatRecord recordFromExcelBuiltIn(int id) {
  const auto& pictures = currentLocale().pictures;
  switch (id) {
    case 5:
    case 7:
      return currencyFormat(id == 5 ? 0 : 2);
    case 6:
    case 8: {
      NumberFormatRecord red = currencyFormat(id == 6 ? 0 : 2);
      red.negativeColor = 3;  // Excel's red
      return red;
    }
    case 14:
      return dateFormat(pictures[PictureSlot::ShortDate], u"");
    case 22:
      return dateFormat(pictures[PictureSlot::ShortDate], pictures[PictureSlot::Time24]);
    default:
      break;
  }
  std::u16string_view code = excelBuiltInCode(id);
  return code.empty() ? generalFormat() : recordFromExcelCode(code);
}

std::u16string excelCodeFromRecord(const NumberFormatRecord& f) {
  std::u16string code;
  if (f.kind != FormatKind::Text) appendColor(f.positiveColor, code);
  switch (f.kind) {
    case FormatKind::Text:
      return u"@";
    case FormatKind::DateTime: {
      const size_t start = code.size();
      appendCodePicture(f.datePicture, false, code);
      if (!f.datePicture.empty() && !f.timePicture.empty()) code.push_back(u' ');
      appendCodePicture(f.timePicture, true, code);
      if (code.size() == start) code += u"General";
      return code;
    }
    case FormatKind::Number:
      break;
  }
  if (f.general) {
    code += u"General";
    if (f.negativeColor != f.positiveColor) {
      code.push_back(u';');
      appendColor(f.negativeColor, code);
      code += u"-General";
    }
    return code;
  }
  appendCodeAffix(f.positivePrefix, code);
  appendCodeBody(f, code);
  const bool negativeParenthesis = !f.negativeSuffix.empty() && f.negativeSuffix.back() == u')';
  const bool positiveParenthesis = !f.positiveSuffix.empty() && f.positiveSuffix.back() == u')';
  appendCodeAffix(f.positiveSuffix, code);
  // Room for the closing parenthesis keeps positive and negative digits aligned.
  if (negativeParenthesis && !positiveParenthesis) code += u"_)";
  if (f.negativePrefix != u"-" + f.positivePrefix || f.negativeSuffix != f.positiveSuffix ||
      f.negativeColor != f.positiveColor) {
    code.push_back(u';');
    appendColor(f.negativeColor, code);
    appendCodeAffix(f.negativePrefix, code);
    appendCodeBody(f, code);
    appendCodeAffix(f.negativeSuffix, code);
  }
  return code;
}

}  // namespace kelp
