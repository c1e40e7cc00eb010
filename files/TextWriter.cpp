// Writing text files: delimited text and the XML list.
#include "files/TextFiles.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "format/DateSerial.h"
#include "format/ValueText.h"
#include "formula/FormulaText.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int StringCodePageLacks = 2735;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

/// Appends a field, quoted when reading it back would otherwise split or trim it.
void appendField(std::u16string& line, std::u16string_view text, char16_t separator) {
  bool quote = !text.empty() && text[0] == u' ';
  for (char16_t c : text) {
    if (c == separator || c == u'"' || c == u'\n' || c == u'\r') {
      quote = true;
      break;
    }
  }
  if (!quote) {
    line += text;
    return;
  }
  line.push_back(u'"');
  for (char16_t c : text) {
    if (c == u'"') line.push_back(u'"');
    line.push_back(c);
  }
  line.push_back(u'"');
}

void writeLineEncoded(DocStream& stream, std::u16string_view line, TextEncoding encoding, uint32_t codePage) {
  switch (encoding) {
    case TextEncoding::Utf16Le: stream.WriteText(line); return;
    case TextEncoding::Utf16Be: {
      std::string bytes;
      bytes.reserve(line.size() * 2);
      for (char16_t c : line) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
      }
      stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
      return;
    }
    case TextEncoding::CodePage: {
      std::string bytes;
      bytes.reserve(line.size());
      bool ok;
      for (char16_t c : line) bytes.push_back(static_cast<char>(charToByte(codePage, c, ok)));
      stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
      return;
    }
    default: {
      std::string bytes = utf16ToUtf8(line);
      stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
  }
}

void writeByteOrderMark(DocStream& stream) {
  static const uint8_t mark[2] = {0xFF, 0xFE};
  stream.Write(mark, 2);
}

void writeMarkFor(DocStream& stream, TextEncoding encoding) {
  static const uint8_t utf16Be[2] = {0xFE, 0xFF};
  static const uint8_t utf8[3] = {0xEF, 0xBB, 0xBF};
  if (encoding == TextEncoding::Utf16Le) writeByteOrderMark(stream);
  else if (encoding == TextEncoding::Utf16Be) stream.Write(utf16Be, 2);
  else if (encoding == TextEncoding::Utf8WithMark) stream.Write(utf8, 3);
}

bool codePageHolds(uint32_t codePage, std::u16string_view text) {
  for (char16_t c : text) {
    bool ok = true;
    (void)charToByte(codePage, c, ok);
    if (!ok) return false;
  }
  return true;
}

/// The shortest digits of a number in the fixed range when it has at most four decimals,
/// as most stored numbers do, taken from an integer: several times cheaper than the general
/// search and the same digits, since below 1e10 the doubles lie far closer together than
/// 0.0001, so only the nearest k-decimal value can read back as the number.
bool appendFewDecimals(double number, char16_t point, std::u16string& out) {
  static constexpr double scales[] = {1, 10, 100, 1000, 10000};
  // Two digits a step, from a table of the hundred pairs.
  static constexpr auto pairs = [] {
    std::array<char16_t, 200> table{};
    for (int i = 0; i < 100; ++i) {
      table[2 * i] = static_cast<char16_t>(u'0' + i / 10);
      table[2 * i + 1] = static_cast<char16_t>(u'0' + i % 10);
    }
    return table;
  }();
  const double magnitude = std::fabs(number);
  if (!(magnitude < 1e10) || (magnitude < 1e-4 && magnitude != 0)) return false;
  for (int decimals = 0; decimals <= 4; ++decimals) {
    const double scaled = std::nearbyint(magnitude * scales[decimals]);
    if (scaled / scales[decimals] != magnitude) continue;
    // Filled from the right, then appended at once: the decimals, the point, the whole part.
    char16_t text[24];
    char16_t* const end = text + sizeof text / sizeof text[0];
    char16_t* start = end;
    auto digits = static_cast<uint64_t>(scaled);
    for (int place = 0; place < decimals; ++place) {
      *--start = static_cast<char16_t>(u'0' + digits % 10);
      digits /= 10;
    }
    if (decimals > 0) *--start = point;
    while (digits >= 100) {
      const auto pair = static_cast<size_t>(digits % 100) * 2;
      digits /= 100;
      *--start = pairs[pair + 1];
      *--start = pairs[pair];
    }
    if (digits >= 10) {
      *--start = pairs[digits * 2 + 1];
      *--start = pairs[digits * 2];
    } else {
      *--start = static_cast<char16_t>(u'0' + digits);
    }
    if (number < 0) *--start = u'-';
    out.append(start, static_cast<size_t>(end - start));
    return true;
  }
  return false;
}

/// Appends a number as General writes it, fixed from 1e-4 to 1e10 and with an exponent beyond,
/// but with as many digits as reading it back to the same number takes (General shows
/// about 15, which would change values in a round trip).
void appendRoundTripNumber(double number, std::u16string& out) {
  if (!std::isfinite(number)) {
    std::u16string text;
    generalNumberText(number, text);
    out += text;
    return;
  }
  if (number == 0) number = 0;  // no "-0" for a negative zero
  const char16_t point = currentLocale().decimalSymbol;
  if (appendFewDecimals(number, point, out)) return;
  char buffer[64];
  const double magnitude = std::fabs(number);
  const bool fixed = magnitude <= 1e10 && (magnitude >= 1e-4 || magnitude == 0);
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number,
                                    fixed ? std::chars_format::fixed : std::chars_format::scientific);
  for (const char* p = buffer; p != result.ptr; ++p) {
    if (*p == '.') {
      out.push_back(point);
    } else if (*p == 'e') {
      // General's exponent: "e", a minus only when negative, no leading zeros.
      out.push_back(u'e');
      ++p;
      if (*p == '-') out.push_back(u'-');
      if (*p == '-' || *p == '+') ++p;
      while (p + 1 < result.ptr && *p == '0') ++p;
      for (; p != result.ptr; ++p) out.push_back(static_cast<char16_t>(*p));
      break;
    } else {
      out.push_back(static_cast<char16_t>(*p));
    }
  }
}

// ----- XML.

bool nameStartChar(uint32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool nameChar(uint32_t c) {
  return nameStartChar(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

/// The code point at `i` (a surrogate pair counts once); a lone surrogate reads as
/// 0xFFFF, which no XML text may hold.
uint32_t codePointAt(std::u16string_view text, size_t i, size_t& units) {
  char16_t c = text[i];
  units = 1;
  if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
    units = 2;
    return 0x10000 + ((c - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
  }
  if (isHighSurrogate(c) || isLowSurrogate(c)) return 0xFFFF;
  return c;
}

/// A cell's text made into an element name: characters no name may hold become "_",
/// and a name that may not start as it does gets a leading "_".
std::u16string xmlName(std::u16string_view text) {
  std::u16string name;
  for (size_t i = 0; i < text.size();) {
    size_t units;
    uint32_t c = codePointAt(text, i, units);
    if (nameChar(c)) name.append(text.substr(i, units));
    else name.push_back(u'_');
    i += units;
  }
  size_t units;
  if (name.empty() || !nameStartChar(codePointAt(name, 0, units))) name.insert(name.begin(), u'_');
  return name;
}

/// Escapes markup characters and drops what XML 1.0 does not allow in a document.
void appendXmlText(std::u16string& out, std::u16string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t units;
    uint32_t c = codePointAt(text, i, units);
    switch (c) {
      case '&': out += u"&amp;"; break;
      case '<': out += u"&lt;"; break;
      case '>': out += u"&gt;"; break;
      case '"': out += u"&quot;"; break;
      case '\'': out += u"&apos;"; break;
      case '\r': out += u"&#13;"; break;  // a raw CR would come back as a line feed
      default:
        if (c == '\t' || c == '\n' || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000)
          out.append(text.substr(i, units));
        break;
    }
    i += units;
  }
}

// A date shown in General's form gets the four-digit year that reads back as the same
// date where two digits would mean another century (1/1/1905, not 1/1/05).
void keepCentury(const CellValue& value, std::u16string& text) {
  if (value.kind != ValueKind::DateTime) return;
  // Most dates read back from two digits as they are, and need no second look.
  DateFields fields;
  if (fieldsFromSerial(value.number(), fields) && yearFromTwoDigits(fields.year % 100) == fields.year) return;
  std::u16string general;
  generalDateText(value.number(), general);
  if (general != text) return;
  text.clear();
  editableDateText(value.number(), text);
}

}  // namespace

void WriteDelimitedText(const Workbook& workbook, const Sheet& sheet, DocStream& stream, char16_t separator,
                        TextEncoding encoding) {
  writeMarkFor(stream, encoding);
  const int32_t lastRow = sheet.lastUsedRow(-1);
  std::u16string line;
  std::u16string text;
  std::u16string lacking;  // the first cell the code page cannot write
  // A number's text holds digits, a minus, the point and "e"; when none of them is the
  // separator and the point is no quote, a number never needs quotes.
  const char16_t point = currentLocale().decimalSymbol;
  const bool numbersPlain = point < 0x80 && point != u'"' && point != separator &&
                            std::u16string_view(u"0123456789-e").find(separator) == std::u16string_view::npos;
  for (int32_t row = 0; row <= lastRow && !pendingError(); ++row) {
    line.clear();
    // The row's slots are walked directly: a lookup per cell was a large part of the cost.
    const Row* r = sheet.rowAt(row);
    const int32_t lastColumn = r ? sheet.lastValueInRow(row, NoColumn) : -1;
    const int16_t rowStyle = r ? r->style : 0;
    for (int32_t column = 0; column <= lastColumn; ++column) {
      if (column > 0) line.push_back(separator);
      if (!r->cells.has(column)) continue;
      const CellRecord* cell = &r->cells[column];
      if (cell->value.kind == ValueKind::Empty) continue;
      const int16_t style = cell->style > 0 ? cell->style : rowStyle > 0 ? rowStyle : sheet.columns.columnStyle(column);
      const uint32_t format = workbook.style(style).numberFormat;
      const CellValue& value = effectiveValue(cell->value);
      if (format == BuiltInFormat::General && value.kind == ValueKind::Number && numbersPlain) {
        // Digits, a sign and a point need no quotes, nor a code page's check.
        appendRoundTripNumber(value.number(), line);
        continue;
      }
      text.clear();
      if (format == BuiltInFormat::General && value.kind == ValueKind::Number) {
        appendRoundTripNumber(value.number(), text);
      } else {
        displayText(cell->value, workbook.numberFormats, format, NoWidthLimit, nullptr, text);
        keepCentury(value, text);
      }
      if (encoding == TextEncoding::CodePage && lacking.empty() && !codePageHolds(workbook.codePage, text)) {
        lacking = cellAddress(column, row);
      }
      appendField(line, text, separator);
    }
    line += u"\r\n";
    writeLineEncoded(stream, line, encoding, workbook.codePage);
  }
  if (!lacking.empty()) leaveNotice(0, formatText(loadString(StringCodePageLacks), lacking));
}

void WriteXmlList(const Workbook& workbook, DocStream& stream) {
  writeByteOrderMark(stream);
  stream.WriteLine(u"<QQ>");
  const Sheet* sheet = workbook.sheetAt(0);
  if (sheet) {
    struct Header {
      int32_t column;
      std::u16string name;
    };
    std::vector<Header> headers;
    std::u16string text;
    auto plainText = [&](int32_t column, int32_t row) {
      text.clear();
      const CellRecord* cell = sheet->cellPtr(column, row);
      if (cell && cell->value.kind != ValueKind::Empty)
        displayText(cell->value, workbook.numberFormats, BuiltInFormat::General, NoWidthLimit, nullptr, text);
      return text;
    };
    for (int32_t column = sheet->nextValueInRow(0, -1); column < NoColumn; column = sheet->nextValueInRow(0, column))
      if (!plainText(column, 0).empty()) headers.push_back(Header{column, xmlName(text)});
    const std::u16string rowElement = xmlName(sheet->name);
    const int32_t lastRow = sheet->lastUsedRow(-1);
    std::u16string line;
    for (int32_t row = 1; row <= lastRow && !pendingError(); ++row) {
      line = u"<" + rowElement + u">";
      for (const Header& header : headers) {
        line += u"<" + header.name + u">";
        appendXmlText(line, plainText(header.column, row));
        line += u"</" + header.name + u">";
      }
      line += u"</" + rowElement + u">";
      stream.WriteLine(line);
    }
  }
  stream.WriteText(u"</QQ>");
}

}  // namespace kelp
