// Text files: delimited text both ways, byte text decoding, and the XML list writer.
#include "files/TextFiles.h"

#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {

namespace {

/// Longer fields are cut: the rest of the field is dropped, not carried to the next cell.
constexpr size_t MaxField = 1000;
constexpr uint32_t ReadChunk = 65536;

TextFileOptions g_options;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void appendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes UTF-8; with `strict` it stops at the first malformed sequence and fails,
// otherwise each malformed byte becomes U+FFFD.
bool decodeUtf8(const uint8_t* bytes, size_t count, bool strict, std::u16string& out) {
  out.reserve(out.size() + count);
  size_t i = 0;
  while (i < count) {
    uint8_t b = bytes[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
    uint32_t cp = extra == 1 ? b & 0x1Fu : extra == 2 ? b & 0x0Fu : b & 0x07u;
    bool good = extra > 0;
    if (good) {
      for (int k = 1; k <= extra; ++k) {
        if (i + static_cast<size_t>(k) >= count || (bytes[i + k] & 0xC0) != 0x80) {
          good = false;
          break;
        }
        cp = cp << 6 | (bytes[i + k] & 0x3Fu);
      }
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if (good && ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                 (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      good = false;
    if (!good) {
      if (strict) return false;
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    appendCodePoint(out, cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

void decodeUtf16(const uint8_t* bytes, size_t count, bool bigEndian, std::u16string& out) {
  out.reserve(count / 2);
  for (size_t i = 0; i + 1 < count; i += 2)
    out.push_back(static_cast<char16_t>(bigEndian ? bytes[i] << 8 | bytes[i + 1] : bytes[i] | bytes[i + 1] << 8));
}

bool hasHighBytes(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (bytes[i] >= 0x80) return true;
  return false;
}

// ----- Reading.

/// Puts finished fields into the sheet as typed entries, advancing the cell.
class FieldSink {
 public:
  FieldSink(Workbook& workbook, Sheet& sheet, int32_t firstColumn, int32_t firstRow)
      : m_book(workbook), m_sheet(sheet), m_firstColumn(firstColumn), m_column(firstColumn), m_row(firstRow) {}

  /// False when storing the field failed (the error state says why).
  bool finish(std::u16string_view field) {
    if (field.empty() || m_column < 0 || m_column >= MaxColumns || m_row < 0 || m_row >= MaxRows) return true;
    CellValue value = emptyValue();
    int suggested = -1;
    // A leading "=" would make a formula of someone else's text; it stays text.
    if (field[0] == u'=') {
      makeText(value, field);
    } else {
      CellPosition at{static_cast<uint16_t>(m_column), static_cast<uint16_t>(m_row),
                      static_cast<uint16_t>(m_sheet.index)};
      value = readEntry(&m_book, field, at, &suggested, false);
    }
    if (pendingError()) {
      releaseValue(value);
      return false;
    }
    int16_t style = suggested >= 0 ? styleFor(suggested) : m_sheet.effectiveStyle(m_column, m_row);
    if (!m_sheet.setCell(m_column, m_row, CellRecord{value, style})) {
      if (!pendingError()) setError(Err::OutOfMemory);
      return false;
    }
    return !pendingError();
  }
  void nextColumn() { ++m_column; }
  void nextLine() {
    ++m_row;
    m_column = m_firstColumn;
  }

 private:
  // The style a typed entry gets when it asks for a format, as in the grid: a date
  // keeps a date format the cell has, anything else takes the suggested one.
  int16_t styleFor(int suggested) {
    const int16_t effective = m_sheet.effectiveStyle(m_column, m_row);
    if (effective == m_lastBase && suggested == m_lastSuggested) return m_lastStyle;
    const uint16_t formatIndex = m_book.style(effective).numberFormat;
    const NumberFormatRecord* format =
        formatIndex < m_book.numberFormats.size() ? &m_book.numberFormats[formatIndex] : nullptr;
    const bool date = suggested >= BuiltInFormat::ShortDate && suggested <= BuiltInFormat::DateTime;
    const bool change = date ? !format || format->kind != FormatKind::DateTime : formatIndex != suggested;
    int16_t style = effective;
    if (change) {
      StyleRecord fields{};
      fields.numberFormat = static_cast<uint16_t>(suggested);
      style = m_book.changedStyle(effective, fields, StyleField::NumberFormat, FontRecord{}, 0);
    }
    m_lastBase = effective;
    m_lastSuggested = suggested;
    m_lastStyle = style;
    return style;
  }

  Workbook& m_book;
  Sheet& m_sheet;
  int32_t m_firstColumn;
  int32_t m_column;
  int32_t m_row;
  int16_t m_lastBase = -32768;
  int m_lastSuggested = -1;
  int16_t m_lastStyle = 0;
};

bool parseDelimited(std::u16string_view text, char16_t separator, FieldSink& sink) {
  std::u16string field;
  field.reserve(MaxField);
  bool quoted = false;       // between an opening and a closing double quote
  bool startedQuoted = false;  // the field's first character was a double quote
  bool sawQuote = false;     // a quote was met, so leading spaces are the field's own
  auto append = [&](char16_t c) {
    if (field.size() < MaxField) field.push_back(c);
  };
  auto endField = [&]() {
    bool ok = sink.finish(field);
    field.clear();
    quoted = startedQuoted = sawQuote = false;
    return ok;
  };
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c == u'"') {
      if (quoted && i + 1 < n && text[i + 1] == u'"') {
        append(u'"');
        ++i;
      } else {
        if (field.empty() && !sawQuote) startedQuoted = true;
        quoted = !quoted;
        sawQuote = true;
      }
      continue;
    }
    if (c == u'\n') {
      // Only a field that opened with a quote carries line breaks, so a stray quote
      // in the middle of a field cannot swallow the rest of the file.
      if (quoted && startedQuoted) {
        append(u'\n');
        continue;
      }
      if (!endField()) return false;
      sink.nextLine();
      continue;
    }
    if (c == separator && !quoted) {
      if (!endField()) return false;
      sink.nextColumn();
      continue;
    }
    // CR before LF is part of the line end; other control characters are noise, but
    // the tab is kept as the text's own.
    if (c < 32 && c != u'\t') continue;
    if (c == u' ' && !quoted && field.empty() && !sawQuote) continue;
    append(c);
  }
  return endField();
}

// ----- Writing.

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

void writeLineEncoded(DocStream& stream, std::u16string_view line, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf16Le) {
    stream.WriteText(line);
    return;
  }
  std::string bytes = utf16ToUtf8(line);
  stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void writeByteOrderMark(DocStream& stream) {
  static const uint8_t mark[2] = {0xFF, 0xFE};
  stream.Write(mark, 2);
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

// ----- Registration.

char16_t separatorFor(DocFileType type) {
  if (type == DocFileType::TabText) return u'\t';
  return g_options.csvSeparator ? g_options.csvSeparator : currentLocale().listSeparator;
}

bool readTextDocument(Workbook& workbook, DocStream& stream, DocFileType type) {
  Sheet* sheet = workbook.sheetAt(0);
  if (!sheet) {
    setError(Err::OutOfMemory);
    return false;
  }
  return ReadDelimitedText(workbook, *sheet, stream, separatorFor(type), 0, 0);
}

void writeTextDocument(Workbook& workbook, DocStream& stream, DocFileType type) {
  if (type == DocFileType::XmlList) {
    WriteXmlList(workbook, stream);
    return;
  }
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) {
    if (g_options.encoding == TextEncoding::Utf16Le) writeByteOrderMark(stream);
    return;
  }
  WriteDelimitedText(workbook, *sheet, stream, separatorFor(type), g_options.encoding);
}

}  // namespace

std::u16string decodeText(const uint8_t* bytes, size_t count, uint32_t codePage) {
  std::u16string out;
  if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    decodeUtf16(bytes + 2, count - 2, false, out);
  } else if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    decodeUtf16(bytes + 2, count - 2, true, out);
  } else if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    decodeUtf8(bytes + 3, count - 3, false, out);
  } else if (hasHighBytes(bytes, count) && decodeUtf8(bytes, count, true, out)) {
    // Valid UTF-8 by chance is rare in a code page text with letters beyond ASCII.
  } else {
    out.clear();
    out.resize(count);
    for (size_t i = 0; i < count; ++i) out[i] = byteToChar(codePage, bytes[i]);
  }
  return out;
}

bool ReadDelimitedText(Workbook& workbook, Sheet& sheet, DocStream& stream, char16_t separator, int32_t firstColumn,
                       int32_t firstRow) {
  std::vector<uint8_t> bytes;
  for (;;) {
    const size_t at = bytes.size();
    bytes.resize(at + ReadChunk);
    const uint32_t got = stream.ReadSome(bytes.data() + at, ReadChunk);
    bytes.resize(at + got);
    if (got < ReadChunk || pendingError()) break;
  }
  if (pendingError()) return false;
  const std::u16string text = decodeText(bytes.data(), bytes.size(), workbook.codePage);
  bytes = std::vector<uint8_t>();
  FieldSink sink(workbook, sheet, firstColumn, firstRow);
  return parseDelimited(text, separator, sink) && !pendingError();
}

void WriteDelimitedText(const Workbook& workbook, const Sheet& sheet, DocStream& stream, char16_t separator,
                        TextEncoding encoding) {
  if (encoding == TextEncoding::Utf16Le) writeByteOrderMark(stream);
  const int32_t lastRow = sheet.lastUsedRow(-1);
  std::u16string line;
  std::u16string text;
  for (int32_t row = 0; row <= lastRow && !pendingError(); ++row) {
    line.clear();
    const int32_t lastColumn = sheet.rowExists(row) ? sheet.lastValueInRow(row, NoColumn) : -1;
    for (int32_t column = 0; column <= lastColumn; ++column) {
      if (column > 0) line.push_back(separator);
      const CellRecord* cell = sheet.cellPtr(column, row);
      if (!cell || cell->value.kind == ValueKind::Empty) continue;
      const uint32_t format = workbook.style(sheet.effectiveStyle(column, row)).numberFormat;
      text.clear();
      displayText(cell->value, workbook.numberFormats, format, NoWidthLimit, nullptr, text);
      appendField(line, text, separator);
    }
    line += u"\r\n";
    writeLineEncoded(stream, line, encoding);
  }
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

void setTextFileOptions(const TextFileOptions& options) { g_options = options; }
const TextFileOptions& textFileOptions() { return g_options; }

void installTextFormats() {
  installDocumentReader(DocFileType::CommaText, readTextDocument);
  installDocumentReader(DocFileType::TabText, readTextDocument);
  installDocumentWriter(DocFileType::CommaText, writeTextDocument);
  installDocumentWriter(DocFileType::TabText, writeTextDocument);
  installDocumentWriter(DocFileType::XmlList, writeTextDocument);
}

}  // namespace kelp
