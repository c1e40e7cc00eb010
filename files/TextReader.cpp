// Reading delimited text: byte text decoding and the field splitter.
#include "files/TextFiles.h"

#include <vector>

#include "files/DocStream.h"
#include "formula/EntryReader.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

/// Longer fields are cut: the rest of the field is dropped, not carried to the next cell.
constexpr size_t MaxField = 1000;
constexpr uint32_t ReadChunk = 65536;

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
    // A leading "=" would make a formula of someone else's text; it stays text. A field
    // that starts with a letter can only be a logical value ("true", "false") or text,
    // so the others skip the entry reader.
    const char16_t first = field[0];
    const bool letter = (first >= u'a' && first <= u'z') || (first >= u'A' && first <= u'Z');
    const bool logical = first == u't' || first == u'T' || first == u'f' || first == u'F';
    if (first == u'=' || (letter && !logical)) {
      makeText(value, field);
    } else {
      CellPosition at{static_cast<uint16_t>(m_column), static_cast<uint16_t>(m_row),
                      static_cast<uint16_t>(m_sheet.index)};
      value = readEntry(&m_book, field, at, &suggested, false);
      // Typing trims what a file means: a text field keeps its spaces and apostrophes.
      if (value.kind == ValueKind::Text && textOf(value) != field) {
        releaseValue(value);
        makeText(value, field);
      }
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
    // The plain characters up to the next one that means something go in as one run.
    size_t end = i + 1;
    while (end < n && text[end] >= 32 && text[end] != u'"' && text[end] != separator) ++end;
    const size_t room = MaxField - field.size();
    field.append(text.substr(i, end - i < room ? end - i : room));
    i = end - 1;
  }
  return endField();
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

}  // namespace kelp
