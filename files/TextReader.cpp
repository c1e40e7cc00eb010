// Reading delimited text: byte text decoding and the field splitter, a piece at a time,
// so that what is held stays within what a sheet can keep whatever the file's size.
#include "files/TextFiles.h"

#include <cstring>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "formula/EntryReader.h"
#include "formula/FormulaText.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

/// Longer fields are cut: the rest of the field is dropped, not carried to the next cell.
constexpr size_t MaxField = 1000;
constexpr uint32_t ReadChunk = 65536;
/// A row of a sheet keeps at most 256 fields of 1,000 characters; a line that runs on for
/// 2^26 characters without ending (a device, a sparse file's hole) is no row of data.
constexpr uint64_t MaxLineRun = uint64_t{1} << 26;

constexpr int StringFieldsCut = 2730;
constexpr int StringRowsLeftOut = 2731;
constexpr int StringColumnsLeftOut = 2732;
constexpr int StringControlsLeftOut = 2733;
constexpr int StringEndlessLine = 2734;

void appendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

/// The UTF-8 sequence that starts with the high byte at `bytes`: its length with `cp`
/// set, 0 when the bytes end inside it, -1 when it is malformed.
int utf8Sequence(const uint8_t* bytes, size_t count, uint32_t& cp) {
  const uint8_t b = bytes[0];
  const int extra = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
  if (extra < 0) return -1;
  cp = extra == 1 ? b & 0x1Fu : extra == 2 ? b & 0x0Fu : b & 0x07u;
  for (int k = 1; k <= extra; ++k) {
    if (static_cast<size_t>(k) >= count) return 0;
    if ((bytes[k] & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (bytes[k] & 0x3Fu);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
    return -1;
  return extra + 1;
}

/// Whether the bytes are UTF-8 throughout; a sequence cut off at the end counts as
/// good unless no bytes follow.
bool validUtf8(const uint8_t* bytes, size_t count, bool last) {
  for (size_t i = 0; i < count;) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    uint32_t cp;
    const int n = utf8Sequence(bytes + i, count - i, cp);
    if (n < 0 || (n == 0 && last)) return false;
    if (n == 0) return true;
    i += static_cast<size_t>(n);
  }
  return true;
}

/// Byte text to characters a piece at a time. A byte order mark decides the encoding;
/// without one, ASCII reads as itself until the first byte beyond it, and the piece from
/// there decides between UTF-8 (when it is valid UTF-8) and the code page. A byte that is
/// no UTF-8 later in a text taken for UTF-8 reads as the code page's character.
class TextDecoder {
 public:
  explicit TextDecoder(uint32_t codePage) : m_codePage(codePage) {}

  /// Appends the characters of `bytes` to `out` and returns the bytes used; the rest,
  /// the start of a character cut off, comes again at the front of the next piece.
  size_t decode(const uint8_t* bytes, size_t count, bool last, std::u16string& out) {
    size_t i = 0;
    if (m_mode == Mode::Start) {
      if (count < 3 && !last) return 0;
      if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        m_mode = Mode::Utf16Le;
        i = 2;
      } else if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        m_mode = Mode::Utf16Be;
        i = 2;
      } else if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        m_mode = Mode::Utf8Marked;
        i = 3;
      } else {
        m_mode = Mode::Ascii;
      }
    }
    if (m_mode == Mode::Utf16Le || m_mode == Mode::Utf16Be) {
      const bool big = m_mode == Mode::Utf16Be;
      for (; i + 1 < count; i += 2)
        out.push_back(static_cast<char16_t>(big ? bytes[i] << 8 | bytes[i + 1] : bytes[i] | bytes[i + 1] << 8));
      return last ? count : i;  // a last odd byte is no character
    }
    if (m_mode == Mode::Ascii) {
      while (i < count && bytes[i] < 0x80) out.push_back(bytes[i++]);
      if (i == count) return i;
      m_mode = validUtf8(bytes + i, count - i, last) ? Mode::Utf8 : Mode::CodePage;
    }
    if (m_mode == Mode::CodePage) {
      for (; i < count; ++i) out.push_back(byteToChar(m_codePage, bytes[i]));
      return i;
    }
    while (i < count) {
      if (bytes[i] < 0x80) {
        out.push_back(bytes[i++]);
        continue;
      }
      uint32_t cp;
      const int n = utf8Sequence(bytes + i, count - i, cp);
      if (n == 0 && !last) return i;
      if (n > 0) {
        appendCodePoint(out, cp);
        i += static_cast<size_t>(n);
        continue;
      }
      out.push_back(m_mode == Mode::Utf8Marked ? u'\uFFFD' : byteToChar(m_codePage, bytes[i]));
      ++i;
    }
    return i;
  }

  /// The encoding that writes the text back as it came.
  TextEncoding found() const {
    switch (m_mode) {
      case Mode::Utf16Le: return TextEncoding::Utf16Le;
      case Mode::Utf16Be: return TextEncoding::Utf16Be;
      case Mode::Utf8Marked: return TextEncoding::Utf8WithMark;
      case Mode::CodePage: return TextEncoding::CodePage;
      default: return TextEncoding::Utf8;  // ASCII reads and writes the same as UTF-8
    }
  }

 private:
  enum class Mode { Start, Ascii, Utf8, Utf8Marked, Utf16Le, Utf16Be, CodePage };
  Mode m_mode = Mode::Start;
  uint32_t m_codePage;
};

enum class Flow { Go, Stop, Fail };

std::u16string rowNumber(int64_t row) { return decimalText(row + 1); }

/// Puts finished fields into the sheet as typed entries, advancing the cell, and tells
/// once for each kind of change what it had to leave out, at its first place.
class FieldSink {
 public:
  FieldSink(Workbook& workbook, Sheet& sheet, int32_t firstColumn, int32_t firstRow)
      : m_book(workbook), m_sheet(sheet), m_firstColumn(firstColumn), m_column(firstColumn), m_row(firstRow) {}

  /// Stop at a field past the sheet's last row, Fail when storing failed (the error
  /// state says why).
  Flow finish(std::u16string_view field, bool cut) {
    if (field.empty() || m_column < 0 || m_row < 0) return Flow::Go;
    if (m_row >= MaxRows) {
      stopAtLastRow();
      return Flow::Stop;
    }
    if (m_column >= MaxColumns) {
      if (!m_columnsNoted) leaveNotice(0, formatText(loadString(StringColumnsLeftOut), rowNumber(m_row)));
      m_columnsNoted = true;
      return Flow::Go;
    }
    if (cut && !m_cutNoted) {
      leaveNotice(0, formatText(loadString(StringFieldsCut), cellAddress(m_column, m_row)));
      m_cutNoted = true;
    }
    return store(field) ? Flow::Go : Flow::Fail;
  }
  void controlLeftOut() {
    if (m_controlNoted || !inSheet()) return;
    leaveNotice(0, formatText(loadString(StringControlsLeftOut), cellAddress(m_column, m_row)));
    m_controlNoted = true;
  }
  void lineRunsOn() {
    if (!inSheet()) {
      stopAtLastRow();
      return;
    }
    leaveNotice(0, formatText(loadString(StringEndlessLine), cellAddress(m_column, m_row)));
  }
  void nextColumn() {
    if (m_column < MaxColumns) ++m_column;
  }
  /// False past the last row, where the row stays put.
  bool nextLine() {
    m_column = m_firstColumn;
    if (m_row >= MaxRows) return false;
    ++m_row;
    return true;
  }

 private:
  bool inSheet() const { return m_column >= 0 && m_column < MaxColumns && m_row >= 0 && m_row < MaxRows; }
  void stopAtLastRow() { leaveNotice(0, formatText(loadString(StringRowsLeftOut), rowNumber(MaxRows))); }

  bool store(std::u16string_view field) {
    CellValue value = emptyValue();
    int suggested = -1;
    // A leading "=" would make a formula of someone else's text; it stays text. A field
    // that starts with a letter can only be a logical value ("true", "false"), a date
    // with the month first ("March 15, 2026") or text, and a long one is text: it skips
    // the entry reader.
    const char16_t first = field[0];
    const bool letter = (first >= u'a' && first <= u'z') || (first >= u'A' && first <= u'Z');
    if (first == u'=' || (letter && field.size() > 32)) {
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
    int16_t style = suggested != SuggestedFormat::None ? styleFor(suggested) : m_sheet.effectiveStyle(m_column, m_row);
    if (!m_sheet.setCell(m_column, m_row, CellRecord{value, style})) {
      if (!pendingError()) setError(Err::OutOfMemory);
      return false;
    }
    return !pendingError();
  }

  // The style a typed entry gets when it asks for a format, as in the grid.
  int16_t styleFor(int suggested) {
    const int16_t effective = m_sheet.effectiveStyle(m_column, m_row);
    if (effective == m_lastBase && suggested == m_lastSuggested) return m_lastStyle;
    const int16_t style = styleForSuggestion(m_book, effective, suggested);
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
  bool m_cutNoted = false;
  bool m_columnsNoted = false;
  bool m_controlNoted = false;
};

/// Splits characters into fields, a piece at a time; the state between pieces is the
/// field so far (at most MaxField characters) and a few flags.
class Splitter {
 public:
  Splitter(FieldSink& sink, char16_t separator) : m_sink(sink), m_separator(separator) { m_field.reserve(MaxField); }

  Flow feed(std::u16string_view text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
      const char16_t c = text[i];
      if (++m_lineRun > MaxLineRun) {
        m_sink.lineRunsOn();
        return Flow::Stop;
      }
      if (m_crHeld) {
        m_crHeld = false;
        if (c != u'\n') m_sink.controlLeftOut();
      }
      if (m_quoteHeld) {
        // A quote inside quotes closes them unless a second one follows, which is one
        // quote of the text.
        m_quoteHeld = false;
        if (c == u'"') {
          append(u'"');
          continue;
        }
        m_quoted = false;
      }
      if (c == u'"') {
        if (m_quoted) {
          m_quoteHeld = true;
        } else {
          if (m_field.empty() && !m_sawQuote) m_startedQuoted = true;
          m_quoted = m_sawQuote = true;
        }
        continue;
      }
      if (c == u'\n') {
        // Only a field that opened with a quote carries line breaks, so a stray quote
        // in the middle of a field cannot swallow the rest of the file.
        if (m_quoted && m_startedQuoted) {
          append(u'\n');
          continue;
        }
        if (Flow flow = endField(); flow != Flow::Go) return flow;
        if (m_sink.nextLine()) m_lineRun = 0;
        continue;
      }
      if (c == m_separator && !m_quoted) {
        if (Flow flow = endField(); flow != Flow::Go) return flow;
        m_sink.nextColumn();
        continue;
      }
      // CR before LF is part of the line end; other control characters are noise, but
      // the tab is kept as the text's own.
      if (c == u'\r') {
        m_crHeld = true;
        continue;
      }
      if (c < 32 && c != u'\t') {
        m_sink.controlLeftOut();
        continue;
      }
      if (c == u' ' && !m_quoted && m_field.empty() && !m_sawQuote) continue;
      // The plain characters up to the next one that means something go in as one run.
      size_t end = i + 1;
      while (end < n && text[end] >= 32 && text[end] != u'"' && text[end] != m_separator) ++end;
      const size_t room = MaxField - m_field.size();
      if (end - i > room) m_cut = true;
      m_field.append(text.substr(i, end - i < room ? end - i : room));
      m_lineRun += end - i - 1;
      i = end - 1;
    }
    return Flow::Go;
  }

  Flow end() { return endField(); }

 private:
  void append(char16_t c) {
    if (m_field.size() < MaxField) m_field.push_back(c);
    else m_cut = true;
  }
  Flow endField() {
    const Flow flow = m_sink.finish(m_field, m_cut);
    m_field.clear();
    m_quoted = m_startedQuoted = m_sawQuote = m_quoteHeld = m_cut = false;
    return flow;
  }

  FieldSink& m_sink;
  char16_t m_separator;
  std::u16string m_field;
  bool m_quoted = false;         // between an opening and a closing double quote
  bool m_startedQuoted = false;  // the field's first character was a double quote
  bool m_sawQuote = false;       // a quote was met, so leading spaces are the field's own
  bool m_quoteHeld = false;      // a quote inside quotes, waiting for the next character
  bool m_crHeld = false;         // a CR, which a following LF makes a line end
  bool m_cut = false;            // the field lost characters past MaxField
  uint64_t m_lineRun = 0;        // characters since the row last advanced
};

}  // namespace

std::u16string decodeText(const uint8_t* bytes, size_t count, uint32_t codePage) {
  std::u16string out;
  out.reserve(count);
  TextDecoder(codePage).decode(bytes, count, true, out);
  return out;
}

bool ReadDelimitedText(Workbook& workbook, Sheet& sheet, DocStream& stream, char16_t separator, int32_t firstColumn,
                       int32_t firstRow, TextEncoding* found) {
  TextDecoder decoder(workbook.codePage);
  FieldSink sink(workbook, sheet, firstColumn, firstRow);
  Splitter splitter(sink, separator);
  // Room for a piece and the few bytes of a character the last piece cut off.
  std::vector<uint8_t> bytes(ReadChunk + 8);
  std::u16string chars;
  chars.reserve(ReadChunk + 8);
  size_t held = 0;
  Flow flow = Flow::Go;
  for (;;) {
    const uint32_t got = stream.ReadSome(bytes.data() + held, ReadChunk);
    if (pendingError()) return false;
    const bool last = got < ReadChunk;
    const size_t count = held + got;
    chars.clear();
    const size_t used = decoder.decode(bytes.data(), count, last, chars);
    held = count - used;
    if (held) std::memmove(bytes.data(), bytes.data() + used, held);
    flow = splitter.feed(chars);
    if (flow != Flow::Go || last) break;
  }
  if (flow == Flow::Go) flow = splitter.end();
  if (found) *found = decoder.found();
  return flow != Flow::Fail && !pendingError();
}

}  // namespace kelp
