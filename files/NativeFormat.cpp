// The native record stream: writer and reader of whole workbooks and clipboard ranges.
#include "files/NativeFormat.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "functions/Catalogue.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

constexpr uint32_t MaxRecord = 65535;
constexpr uint8_t NoCellByte = 12;
constexpr uint8_t FormulaBit = 0x80;
constexpr uint16_t RowFlagAlways = 0x0100;
constexpr uint16_t RowFlagHasStyle = 0x0080;
constexpr uint16_t NoRowHeight = 0xFFFF;
constexpr uint32_t AbsentCounted = 1;
constexpr size_t MaxMergedPerRecord = 999;
constexpr uint32_t NoIndex = 0xFFFFFFFF;
// The longest text a record 4 can carry with its count and terminator.
constexpr size_t MaxStoredText = (MaxRecord - 4) / 2 - 1;

bool isRefOp(uint8_t op) {
  return op == static_cast<uint8_t>(Op::SheetCellRef) || op == static_cast<uint8_t>(Op::SheetAreaRef) ||
         op == static_cast<uint8_t>(Op::DeletedSheetCellRef) || op == static_cast<uint8_t>(Op::DeletedSheetAreaRef);
}

std::u16string_view poolText(uint32_t handle) {
  if (handle == NoHandle || !textPool().isLive(handle)) return {};
  return std::u16string_view(static_cast<const char16_t*>(textPool().data(handle)));
}

const uint8_t* poolTokens(uint32_t handle, uint32_t& length) {
  length = 0;
  if (handle == NoHandle || !formulaPool().isLive(handle)) return nullptr;
  const auto* entry = static_cast<const uint8_t*>(formulaPool().data(handle));
  length = readU32(entry);
  return entry + 4;
}

// Calls `visit(op, payload)` for each token; false when the string is malformed.
template <typename Visit>
bool walkTokens(const uint8_t* tokens, uint32_t length, Visit visit) {
  uint32_t at = 0;
  while (at < length) {
    uint8_t op = tokens[at];
    uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return false;
    if (!visit(op, tokens + at + 1)) return false;
    at += 1 + size;
  }
  return true;
}

// A record being built: little-endian fields appended to a byte buffer.
class RecordOut {
 public:
  void clear() { m_bytes.clear(); }
  void u8(uint32_t v) { m_bytes.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v);
    u16(v >> 16);
  }
  void f64(double d) { bytes(&d, 8); }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
  }
  void plain(std::u16string_view text) {
    for (char16_t c : text) u16(c);
    u16(0);
  }
  void counted(std::u16string_view text) {
    u32(static_cast<uint32_t>((text.size() + 1) * 2));
    plain(text);
  }
  void absentCounted() {
    u32(AbsentCounted);
    u8(0);
  }
  size_t size() const { return m_bytes.size(); }
  void emit(DocStream& stream, uint16_t type) {
    // Records are built within the limit; a longer one would break the framing.
    size_t n = std::min<size_t>(m_bytes.size(), MaxRecord);
    stream.WriteRecord16(type, static_cast<uint16_t>(n), m_bytes.data());
    m_bytes.clear();
  }

 private:
  std::vector<uint8_t> m_bytes;
};

// A record being read; any read past its end marks it bad and yields zeros.
class RecordIn {
 public:
  RecordIn(const uint8_t* data, uint32_t length) : m_data(data), m_length(length) {}
  bool bad() const { return m_bad; }
  uint32_t left() const { return m_length - m_at; }
  bool take(void* out, uint32_t n) {
    if (m_bad || n > left()) {
      m_bad = true;
      std::memset(out, 0, n);
      return false;
    }
    std::memcpy(out, m_data + m_at, n);
    m_at += n;
    return true;
  }
  uint8_t u8() {
    uint8_t v;
    take(&v, 1);
    return v;
  }
  uint16_t u16() {
    uint8_t b[2];
    take(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  uint32_t u32() {
    uint8_t b[4];
    take(b, 4);
    return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
  }
  double f64() {
    double d;
    take(&d, 8);
    return d;
  }
  const uint8_t* span(uint32_t n) {
    if (m_bad || n > left()) {
      m_bad = true;
      return nullptr;
    }
    const uint8_t* p = m_data + m_at;
    m_at += n;
    return p;
  }
  std::u16string plain() {
    std::u16string text;
    for (;;) {
      if (left() < 2) {
        m_bad = true;
        return text;
      }
      char16_t c = u16();
      if (c == 0) return text;
      text.push_back(c);
    }
  }
  /// False for the absent string.
  bool counted(std::u16string& text) {
    text.clear();
    uint32_t count = u32();
    if (count == AbsentCounted) {
      u8();
      return false;
    }
    const uint8_t* p = span(count);
    if (!p || count % 2) {
      m_bad = true;
      return false;
    }
    for (uint32_t i = 0; i + 1 < count; i += 2) {
      char16_t c = static_cast<char16_t>(p[i] | p[i + 1] << 8);
      if (c == 0) break;
      text.push_back(c);
    }
    return true;
  }

 private:
  const uint8_t* m_data;
  uint32_t m_length;
  uint32_t m_at = 0;
  bool m_bad = false;
};

// The older 16-byte style layout that earlier releases read.
void writeOldStyle(RecordOut& out, const StyleRecord& s, uint32_t font, uint32_t format) {
  out.u16(font);
  out.u16(format);
  out.u16(s.protection & 3);
  out.u16(static_cast<uint32_t>(s.horizontalAlignment() | (s.wrapText() ? 8 : 0) | (s.verticalAlignment() << 4)));
  out.u32(static_cast<uint32_t>(s.fillForeground() | s.fillBackground() << 7 | (s.fillPattern() & 0x3F) << 16 |
                                (s.borderStyle(Edge::Bottom) & 7) << 22 | s.borderColor(Edge::Bottom) << 25));
  out.u32(static_cast<uint32_t>((s.borderStyle(Edge::Top) & 7) | (s.borderStyle(Edge::Left) & 7) << 3 |
                                (s.borderStyle(Edge::Right) & 7) << 6 | s.borderColor(Edge::Top) << 9 |
                                s.borderColor(Edge::Left) << 16 | s.borderColor(Edge::Right) << 23));
}

StyleRecord readOldStyle(RecordIn& in) {
  StyleRecord s = newStyleRecord();
  s.font = in.u16();
  s.numberFormat = in.u16();
  s.protection = in.u16() & 3;
  uint16_t align = in.u16();
  s.setHorizontalAlignment(align & 7);
  s.setWrapText(align & 8);
  s.setVerticalAlignment((align >> 4) & 7);
  uint32_t fill = in.u32();
  uint32_t lines = in.u32();
  s.setFillForeground(fill & 0x7F);
  s.setFillBackground((fill >> 7) & 0x7F);
  s.setFillPattern((fill >> 16) & 0x3F);
  s.setBorderStyle(Edge::Bottom, (fill >> 22) & 7);
  s.setBorderColor(Edge::Bottom, (fill >> 25) & 0x7F);
  s.setBorderStyle(Edge::Top, lines & 7);
  s.setBorderStyle(Edge::Left, (lines >> 3) & 7);
  s.setBorderStyle(Edge::Right, (lines >> 6) & 7);
  s.setBorderColor(Edge::Top, (lines >> 9) & 0x7F);
  s.setBorderColor(Edge::Left, (lines >> 16) & 0x7F);
  s.setBorderColor(Edge::Right, (lines >> 23) & 0x7F);
  return s;
}

void writeStyleWords(RecordOut& out, const StyleRecord& s, uint32_t font, uint32_t format, uint32_t own) {
  out.u16(s.borders);
  out.u16(font);
  out.u16(s.protection);
  out.u16(s.indentation);
  out.u16(s.sideBorderColors);
  out.u16(s.borderFillLow);
  out.u16(s.borderFillHigh);
  out.u16(s.alignment);
  out.u16(s.fillColors);
  out.u16(format);
  out.u16(own);
}

// ---------------------------------------------------------------------------------------
// Writer

class NativeWriter {
 public:
  NativeWriter(Workbook& book, DocStream& stream) : m_book(book), m_out(stream) {}
  ~NativeWriter() { resetSaveIndexes(); }

  void writeWorkbook();
  void writeRange(int32_t sheetIndex, const Area& range, bool cut);

 private:
  // Numbering of what is written.
  void markString(uint32_t handle);
  void markTokens(const uint8_t* tokens, uint32_t length);
  void markFormula(uint32_t handle);
  void markName(int32_t index);
  void markBook(uint32_t book);
  void markValueStrings(const CellValue& value);
  void markStyle(int32_t style);
  void markCells(const Sheet& sheet, const Area& area);
  void markValidation(const ValidationRule& rule);
  void numberTables(bool allFormats);
  void resetSaveIndexes();

  // Pieces of records.
  void convertTokens(const uint8_t* tokens, uint32_t length, std::vector<uint8_t>& out) const;
  void blob(uint32_t handle);
  uint32_t styleIndex(int32_t style) const;
  void cellEntry(const CellRecord& cell);
  bool rowWritten(const Sheet& sheet, int32_t row, int32_t& first, int32_t& end) const;

  // Records.
  void header();
  void codePage();
  void externalBooks();
  void strings();
  void names();
  void formulas();
  void tables();
  void cellRows(const Sheet& sheet, const Area& area, bool relative, bool carryRows);
  void merged(const Sheet& sheet, const Area& area, bool relative);
  void validations(const Sheet& sheet, const Area& area, bool relative);
  void sheetSettings(const Sheet& sheet);

  Workbook& m_book;
  DocStream& m_out;
  RecordOut m_rec;
  bool m_clip = false;
  std::vector<uint32_t> m_strings;
  std::vector<uint32_t> m_formulas;
  std::vector<int32_t> m_names;
  std::vector<int32_t> m_books;          // external book indexes in file order
  std::vector<int32_t> m_bookSave;       // book index -> file index, -1 unused
  std::vector<int32_t> m_styleSave;      // style index -> file index
  std::vector<int32_t> m_styleOrder;
  std::vector<int32_t> m_fontSave;
  std::vector<int32_t> m_fontOrder;
  std::vector<int32_t> m_formatSave;
  std::vector<int32_t> m_formatOrder;
  std::vector<bool> m_styleUsed;
};

void NativeWriter::markString(uint32_t handle) {
  if (handle == NoHandle || !textPool().isLive(handle)) return;
  uint32_t& save = textPool().saveIndex(handle);
  if (save != NoIndex) return;
  save = static_cast<uint32_t>(m_strings.size());
  m_strings.push_back(handle);
}

void NativeWriter::markBook(uint32_t book) {
  if (book == 0 || static_cast<int32_t>(book) > m_book.externalBookCount()) return;
  if (m_bookSave[book] >= 0) return;
  m_bookSave[book] = static_cast<int32_t>(m_books.size());
  m_books.push_back(static_cast<int32_t>(book));
}

void NativeWriter::markName(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(m_book.names.size())) return;
  DefinedName& name = m_book.names[static_cast<size_t>(index)];
  if (name.saveIndex >= 0) return;
  name.saveIndex = static_cast<int32_t>(m_names.size());
  m_names.push_back(index);
  uint32_t length;
  if (const uint8_t* tokens = poolTokens(name.definition, length)) markTokens(tokens, length);
}

void NativeWriter::markTokens(const uint8_t* tokens, uint32_t length) {
  walkTokens(tokens, length, [&](uint8_t op, const uint8_t* payload) {
    if (op == static_cast<uint8_t>(Op::String)) markString(readU32(payload));
    if (m_clip && op == static_cast<uint8_t>(Op::Name)) markName(readU16(payload));
    if (m_clip && isRefOp(op)) markBook(payload[1]);
    return true;
  });
}

void NativeWriter::markFormula(uint32_t handle) {
  if (handle == NoHandle || !formulaPool().isLive(handle)) return;
  uint32_t& save = formulaPool().saveIndex(handle);
  if (save != NoIndex) return;
  save = static_cast<uint32_t>(m_formulas.size());
  m_formulas.push_back(handle);
  uint32_t length;
  if (const uint8_t* tokens = poolTokens(handle, length)) markTokens(tokens, length);
}

void NativeWriter::markValueStrings(const CellValue& value) {
  if (value.kind == ValueKind::Text) markString(value.u32());
  if (value.kind == ValueKind::Formula) {
    const CellValue& cached = formulaResult(value);
    if (cached.kind == ValueKind::Text) markString(cached.u32());
    markFormula(formulaTokens(value));
  }
}

void NativeWriter::markStyle(int32_t style) {
  if (style > 0 && style < m_book.styles.size()) m_styleUsed[static_cast<size_t>(style)] = true;
}

void NativeWriter::markCells(const Sheet& sheet, const Area& area) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) {
    const Row* row = sheet.rowAt(r);
    int32_t end = std::min<int32_t>(row->cells.size(), area.lastColumn + 1);
    for (int32_t c = std::max<int32_t>(row->firstColumn, area.firstColumn); c < end; ++c) {
      const CellRecord& cell = row->cells[c];
      markValueStrings(cell.value);
      markStyle(cell.style);
    }
  }
}

void NativeWriter::markValidation(const ValidationRule& rule) {
  uint32_t length;
  for (uint32_t handle : {rule.formula1, rule.formula2})
    if (const uint8_t* tokens = poolTokens(handle, length)) markTokens(tokens, length);
}

void NativeWriter::numberTables(bool allFormats) {
  // Styles in table order, style 0 always; then the fonts and formats they use.
  m_styleSave.assign(static_cast<size_t>(m_book.styles.size()), -1);
  for (int32_t i = 0; i < m_book.styles.size(); ++i) {
    if (i != 0 && !m_styleUsed[static_cast<size_t>(i)]) continue;
    m_styleSave[static_cast<size_t>(i)] = static_cast<int32_t>(m_styleOrder.size());
    m_styleOrder.push_back(i);
  }
  m_fontSave.assign(static_cast<size_t>(m_book.fonts.size()), -1);
  std::vector<bool> fontUsed(static_cast<size_t>(m_book.fonts.size()), false);
  for (int32_t i = 0; i < m_book.fonts.size() && i < 6; ++i) fontUsed[static_cast<size_t>(i)] = true;
  std::vector<bool> formatUsed(m_book.numberFormats.size(), allFormats);
  for (int32_t s : m_styleOrder) {
    const StyleRecord& style = m_book.styles[s];
    if (style.font < fontUsed.size()) fontUsed[style.font] = true;
    if (style.numberFormat < formatUsed.size()) formatUsed[style.numberFormat] = true;
  }
  for (size_t i = 0; i < fontUsed.size(); ++i)
    if (fontUsed[i]) {
      m_fontSave[i] = static_cast<int32_t>(m_fontOrder.size());
      m_fontOrder.push_back(static_cast<int32_t>(i));
    }
  m_formatSave.assign(m_book.numberFormats.size(), -1);
  for (size_t i = 0; i < formatUsed.size(); ++i)
    if (formatUsed[i]) {
      m_formatSave[i] = static_cast<int32_t>(m_formatOrder.size());
      m_formatOrder.push_back(static_cast<int32_t>(i));
    }
}

void NativeWriter::resetSaveIndexes() {
  for (uint32_t handle : m_strings) textPool().saveIndex(handle) = NoIndex;
  for (uint32_t handle : m_formulas) formulaPool().saveIndex(handle) = NoIndex;
  for (DefinedName& name : m_book.names) name.saveIndex = -1;
  m_strings.clear();
  m_formulas.clear();
}

void NativeWriter::convertTokens(const uint8_t* tokens, uint32_t length, std::vector<uint8_t>& out) const {
  out.assign(tokens, tokens + length);
  uint8_t* base = out.data();
  walkTokens(base, length, [&](uint8_t op, const uint8_t* payload) {
    auto* p = const_cast<uint8_t*>(payload);
    if (op == static_cast<uint8_t>(Op::String)) {
      uint32_t handle = readU32(p);
      uint32_t index = handle != NoHandle && textPool().isLive(handle) ? textPool().saveIndex(handle) : NoIndex;
      std::memcpy(p, &index, 4);
    } else if (m_clip && op == static_cast<uint8_t>(Op::Name)) {
      uint16_t index = readU16(p);
      uint16_t save = index < m_book.names.size() ? static_cast<uint16_t>(m_book.names[index].saveIndex) : 0xFFFF;
      std::memcpy(p, &save, 2);
    } else if (m_clip && isRefOp(op) && p[1] != 0) {
      int32_t save = p[1] < m_bookSave.size() ? m_bookSave[p[1]] : -1;
      p[1] = save >= 0 ? static_cast<uint8_t>(save + 1) : 0;
    }
    return true;
  });
}

void NativeWriter::blob(uint32_t handle) {
  uint32_t length;
  const uint8_t* tokens = poolTokens(handle, length);
  std::vector<uint8_t> converted;
  if (tokens) convertTokens(tokens, length, converted);
  m_rec.u32(static_cast<uint32_t>(converted.size()));
  m_rec.bytes(converted.data(), converted.size());
}

uint32_t NativeWriter::styleIndex(int32_t style) const {
  if (style < 0) return 0xFFFF;  // no style of its own
  if (style >= static_cast<int32_t>(m_styleSave.size()) || m_styleSave[static_cast<size_t>(style)] < 0) return 0;
  return static_cast<uint32_t>(m_styleSave[static_cast<size_t>(style)]);
}

void NativeWriter::header() {
  m_rec.u16(NativeVersion::Format);
  m_rec.u16(NativeVersion::Writer);
  m_rec.u16(NativeVersion::OldestReader);
  m_rec.u16(0x2000);
  m_rec.emit(m_out, NativeRecord::Header);
}

void NativeWriter::codePage() {
  m_rec.u32(m_book.codePage);
  m_rec.emit(m_out, NativeRecord::CodePage);
}

void NativeWriter::externalBooks() {
  if (m_clip) {
    m_rec.u32(static_cast<uint32_t>(m_books.size()));
    m_rec.emit(m_out, NativeRecord::ExternalBookCount);
  }
  for (int32_t index : m_books) {
    const ExternalBook* book = m_book.externalBook(index);
    m_rec.u32(static_cast<uint32_t>(book->sheetNames.size()));
    m_rec.plain(book->directory + book->name);
    for (const std::u16string& sheet : book->sheetNames) m_rec.plain(sheet);
    m_rec.emit(m_out, NativeRecord::ExternalBook);
  }
}

void NativeWriter::strings() {
  m_rec.u32(static_cast<uint32_t>(m_strings.size()));
  m_rec.emit(m_out, NativeRecord::StringCount);
  for (uint32_t handle : m_strings) {
    std::u16string_view text = poolText(handle);
    m_rec.counted(text.substr(0, MaxStoredText));
    m_rec.emit(m_out, NativeRecord::String);
  }
}

void NativeWriter::names() {
  m_rec.u32(static_cast<uint32_t>(m_names.size()));
  m_rec.emit(m_out, NativeRecord::NameCount);
  for (int32_t index : m_names) {
    const DefinedName& name = m_book.names[static_cast<size_t>(index)];
    m_rec.counted(name.text);
    if (name.definition != NoHandle) blob(name.definition);
    m_rec.emit(m_out, NativeRecord::Name);
  }
}

void NativeWriter::formulas() {
  m_rec.u32(static_cast<uint32_t>(m_formulas.size()));
  m_rec.emit(m_out, NativeRecord::FormulaCount);
  for (uint32_t handle : m_formulas) {
    blob(handle);
    m_rec.emit(m_out, NativeRecord::Formula);
  }
}

void NativeWriter::tables() {
  m_rec.u16(static_cast<uint32_t>(m_styleOrder.size()));
  m_rec.u16(static_cast<uint32_t>(m_fontOrder.size()));
  m_rec.u16(static_cast<uint32_t>(m_formatOrder.size()));
  m_rec.u16(static_cast<uint32_t>(m_formatOrder.size()));
  m_rec.emit(m_out, NativeRecord::TableSizes);
  for (int32_t i : m_fontOrder) {
    const FontRecord& f = m_book.fonts[i];
    m_rec.u8(f.reserved);
    m_rec.u8(f.underline);
    m_rec.u16(f.options);
    m_rec.u16(f.height);
    m_rec.u16(f.color);
    m_rec.u16(f.weight);
    m_rec.u16(f.escapement);
    m_rec.u8(f.family);
    m_rec.u8(f.charset);
    for (char16_t c : f.faceName) m_rec.u16(c);
    m_rec.u8(std::min<uint8_t>(f.faceNameLength, 32));
    m_rec.emit(m_out, NativeRecord::Font);
  }
  for (int32_t i : m_formatOrder) {
    const NumberFormatRecord& f = m_book.numberFormats[static_cast<size_t>(i)];
    if (f.kind == FormatKind::DateTime) {
      m_rec.plain(f.datePicture);
      m_rec.plain(f.timePicture);
      m_rec.emit(m_out, NativeRecord::DateFormat);
      continue;
    }
    m_rec.u8(f.kind == FormatKind::Text ? 0xFE : f.general ? 0xFF : f.decimals);
    m_rec.u8(f.thousands ? 1 : 0);
    m_rec.plain(f.positivePrefix);
    m_rec.plain(f.positiveSuffix);
    m_rec.plain(f.negativePrefix);
    m_rec.plain(f.negativeSuffix);
    m_rec.emit(m_out, NativeRecord::NumberFormat);
  }
  for (size_t n = 0; n < m_styleOrder.size(); ++n) {
    const StyleRecord& s = m_book.styles[m_styleOrder[n]];
    uint32_t font = s.font < m_fontSave.size() && m_fontSave[s.font] >= 0 ? static_cast<uint32_t>(m_fontSave[s.font]) : 0;
    uint32_t format = s.numberFormat < m_formatSave.size() && m_formatSave[s.numberFormat] >= 0
                          ? static_cast<uint32_t>(m_formatSave[s.numberFormat])
                          : 0;
    writeStyleWords(m_rec, s, font, format, static_cast<uint32_t>(n));
    m_rec.emit(m_out, NativeRecord::Style);
    if (!m_clip) {
      writeOldStyle(m_rec, s, font, format);
      m_rec.emit(m_out, NativeRecord::OldStyle);
    }
  }
}

void NativeWriter::cellEntry(const CellRecord& cell) {
  if (cell.value.kind == ValueKind::Empty && cell.style < 0) {
    m_rec.u8(NoCellByte);
    return;
  }
  const CellValue* value = &cell.value;
  uint8_t formulaBit = 0;
  if (value->kind == ValueKind::Formula) {
    value = &formulaResult(cell.value);
    formulaBit = FormulaBit;
  }
  CellValue plain = *value;
  if (plain.kind == ValueKind::Integer) plain = numberValue(plain.i32());
  if (plain.kind != ValueKind::Logical && plain.kind != ValueKind::Error && plain.kind != ValueKind::Text &&
      plain.kind != ValueKind::Number && plain.kind != ValueKind::DateTime)
    plain = emptyValue();
  m_rec.u8(static_cast<uint8_t>(plain.kind) | formulaBit);
  m_rec.u16(styleIndex(cell.style));
  switch (plain.kind) {
    case ValueKind::Logical:
    case ValueKind::Error:
      m_rec.u8(plain.u32());
      break;
    case ValueKind::Text: {
      uint32_t handle = plain.u32();
      m_rec.u32(handle != NoHandle && textPool().isLive(handle) ? textPool().saveIndex(handle) : NoIndex);
      break;
    }
    case ValueKind::Number:
    case ValueKind::DateTime:
      m_rec.f64(plain.number());
      break;
    default:
      break;
  }
  if (formulaBit) m_rec.u32(formulaPool().saveIndex(formulaTokens(cell.value)));
}

bool NativeWriter::rowWritten(const Sheet& sheet, int32_t r, int32_t& first, int32_t& end) const {
  // Leading and trailing slots without value or style are left out, so that a file read
  // back and saved again gives the same bytes.
  const Row* row = sheet.rowAt(r);
  first = row->firstColumn < 0 ? 0 : row->firstColumn;
  end = row->cells.size();
  while (first < end && row->cells[first].value.kind == ValueKind::Empty && row->cells[first].style < 0) ++first;
  while (end > first && row->cells[end - 1].value.kind == ValueKind::Empty && row->cells[end - 1].style < 0) --end;
  return first < end || row->height != sheet.defaultRowHeight || (row->flags & 0x7F) || row->style > 0;
}

void NativeWriter::cellRows(const Sheet& sheet, const Area& area, bool relative, bool carryRows) {
  for (int32_t r = sheet.nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet.nextRow(r)) {
    const Row* row = sheet.rowAt(r);
    int32_t first, end;
    if (!rowWritten(sheet, r, first, end)) continue;
    first = std::max<int32_t>(first, area.firstColumn);
    end = std::min<int32_t>(end, area.lastColumn + 1);
    if (first >= end) {
      if (!carryRows) continue;
      first = end = area.firstColumn;
    }
    int32_t offsetColumn = relative ? area.firstColumn : 0;
    m_rec.u16(static_cast<uint32_t>(r - (relative ? area.firstRow : 0)));
    m_rec.u16(static_cast<uint32_t>(first - offsetColumn));
    m_rec.u16(static_cast<uint32_t>(end - offsetColumn));
    if (carryRows) {
      uint16_t flags = static_cast<uint16_t>((row->flags & 0x7F) | RowFlagAlways | (row->style > 0 ? RowFlagHasStyle : 0));
      m_rec.u16(row->height);
      m_rec.u16(flags);
      m_rec.u16(row->style > 0 ? styleIndex(row->style) : 0);
    } else {
      m_rec.u16(NoRowHeight);
      m_rec.u16(0);
      m_rec.u16(0);
    }
    for (int32_t c = first; c < end; ++c) cellEntry(row->cells[c]);
    m_rec.emit(m_out, NativeRecord::CellRow);
  }
}

void NativeWriter::merged(const Sheet& sheet, const Area& area, bool relative) {
  std::vector<Area> areas;
  for (const Area& m : sheet.mergedAreas)
    if (m.inside(area)) areas.push_back(m);
  // Records of at most 999 ranges each; every record adds its ranges, so none is lost.
  for (size_t at = 0; at < areas.size(); at += MaxMergedPerRecord) {
    size_t n = std::min(MaxMergedPerRecord, areas.size() - at);
    m_rec.u16(static_cast<uint32_t>(n));
    for (size_t i = at; i < at + n; ++i) {
      uint32_t dr = relative ? area.firstRow : 0, dc = relative ? area.firstColumn : 0;
      m_rec.u16(areas[i].firstRow - dr);
      m_rec.u16(areas[i].lastRow - dr);
      m_rec.u16(areas[i].firstColumn - dc);
      m_rec.u16(areas[i].lastColumn - dc);
    }
    m_rec.emit(m_out, NativeRecord::Merged);
  }
}

void NativeWriter::validations(const Sheet& sheet, const Area& area, bool relative) {
  for (const ValidationEntry& entry : sheet.validations) {
    std::vector<Area> ranges;
    for (const Area& a : entry.areas) {
      if (!a.overlaps(area)) continue;
      Area cut{std::max(a.firstRow, area.firstRow), std::max(a.firstColumn, area.firstColumn),
               std::min(a.lastRow, area.lastRow), std::min(a.lastColumn, area.lastColumn)};
      if (relative) {
        cut.firstRow -= area.firstRow;
        cut.lastRow -= area.firstRow;
        cut.firstColumn -= area.firstColumn;
        cut.lastColumn -= area.firstColumn;
      }
      ranges.push_back(cut);
    }
    if (ranges.empty()) continue;
    const ValidationRule& rule = entry.rule;
    m_rec.u32(rule.flags);
    m_rec.plain(rule.errorTitle);
    m_rec.plain(rule.errorMessage);
    m_rec.plain(rule.inputTitle);
    m_rec.plain(rule.inputMessage);
    for (uint32_t handle : {rule.formula1, rule.formula2}) {
      uint32_t length;
      const uint8_t* tokens = poolTokens(handle, length);
      std::vector<uint8_t> converted;
      if (tokens && length <= 0xFFFF) convertTokens(tokens, length, converted);
      m_rec.u16(static_cast<uint32_t>(converted.size()));
      m_rec.bytes(converted.data(), converted.size());
      if (converted.size() % 2) m_rec.u8(0);
    }
    // Items that would pass the record limit are left out rather than breaking the stream.
    size_t reserve = 2 + 8 * std::min<size_t>(ranges.size(), 4000);
    size_t count = 0, room = m_rec.size() + 2 + reserve;
    for (const std::u16string& item : rule.list) {
      if (room + 2 * (item.size() + 1) > MaxRecord) break;
      room += 2 * (item.size() + 1);
      ++count;
    }
    m_rec.u16(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) m_rec.plain(rule.list[i]);
    size_t rangeCount = std::min<size_t>(ranges.size(), 4000);
    m_rec.u16(static_cast<uint32_t>(rangeCount));
    for (size_t i = 0; i < rangeCount; ++i) {
      m_rec.u16(ranges[i].firstRow);
      m_rec.u16(ranges[i].lastRow);
      m_rec.u16(ranges[i].firstColumn);
      m_rec.u16(ranges[i].lastColumn);
    }
    m_rec.emit(m_out, NativeRecord::Validation);
  }
}

void NativeWriter::sheetSettings(const Sheet& sheet) {
  const SheetView& v = sheet.view;
  const Selection& s = sheet.selection;
  m_rec.u16(v.topRow);
  m_rec.u16(v.leftColumn);
  m_rec.u16(s.firstRow);
  m_rec.u16(static_cast<uint16_t>(s.firstColumn));
  m_rec.u16(s.lastRow);
  m_rec.u16(static_cast<uint16_t>(s.lastColumn));
  m_rec.emit(m_out, NativeRecord::ViewPosition);
  m_rec.u32(v.zoom);
  m_rec.u8(v.showGridlines);
  m_rec.u8(v.showHeaders);
  m_rec.u8(v.showZeros);
  m_rec.u8(v.columnsFrozen);
  m_rec.u8(v.rowsFrozen);
  m_rec.u16(v.frozenFirstRow);
  m_rec.u16(v.frozenFirstColumn);
  m_rec.u16(v.frozenLastRow);
  m_rec.u16(v.frozenLastColumn);
  m_rec.emit(m_out, NativeRecord::View);
  if (sheet.isProtected) {
    m_rec.u16(1);
    m_rec.emit(m_out, NativeRecord::SheetProtection);
  }
  const PrintSettings& p = sheet.print;
  const size_t maxText = (MaxRecord - 6) / 2;
  if (!p.header.empty()) {
    std::u16string_view text = std::u16string_view(p.header).substr(0, maxText);
    m_rec.u32(static_cast<uint32_t>(text.size()));
    m_rec.plain(text);
    m_rec.emit(m_out, NativeRecord::PageHeader);
  }
  if (!p.footer.empty()) {
    std::u16string_view text = std::u16string_view(p.footer).substr(0, maxText);
    m_rec.u32(static_cast<uint32_t>(text.size()));
    m_rec.plain(text);
    m_rec.emit(m_out, NativeRecord::PageFooter);
  }
  const double margins[4] = {p.leftMargin, p.rightMargin, p.topMargin, p.bottomMargin};
  for (uint16_t i = 0; i < 4; ++i) {
    m_rec.f64(margins[i]);
    m_rec.emit(m_out, static_cast<uint16_t>(NativeRecord::LeftMargin + i));
  }
  m_rec.bytes(p.pageSetup, sizeof p.pageSetup);
  m_rec.emit(m_out, NativeRecord::PageSetup);
  m_rec.u32(static_cast<uint32_t>(sheet.visibility));
  m_rec.emit(m_out, NativeRecord::Visibility);
}

void NativeWriter::writeWorkbook() {
  m_clip = false;
  m_styleUsed.assign(static_cast<size_t>(m_book.styles.size()), false);
  m_bookSave.assign(static_cast<size_t>(m_book.externalBookCount()) + 1, -1);
  for (int32_t b = 1; b <= m_book.externalBookCount(); ++b) markBook(static_cast<uint32_t>(b));
  for (int32_t i = 0; i < static_cast<int32_t>(m_book.names.size()); ++i) markName(i);
  const Area everything{0, 0, MaxRows - 1, MaxColumns - 1};
  for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
    const Sheet& sheet = *m_book.sheetAt(i);
    markCells(sheet, everything);
    for (int32_t r = sheet.nextRow(-1); r < NoRow; r = sheet.nextRow(r)) markStyle(sheet.rowAt(r)->style);
    for (const ColumnRecord& c : sheet.columns.records()) markStyle(c.style);
    for (const ValidationEntry& entry : sheet.validations) markValidation(entry.rule);
  }
  numberTables(true);

  header();
  if (m_book.passwordHash != 0) {
    m_rec.u32(m_book.passwordHash);
    m_rec.emit(m_out, NativeRecord::Password);
    // Everything after the password record is scrambled; what came before goes out plain.
    m_out.Flush();
    m_out.SetScrambleKey(m_book.password);
  }
  codePage();
  externalBooks();
  strings();
  names();
  formulas();
  m_rec.u16(m_book.isProtected ? 1 : 0);
  m_rec.emit(m_out, NativeRecord::BookProtection);
  for (const WorkbookTask& task : m_book.tasks) {
    if (task.global) continue;
    m_rec.bytes(task.area, sizeof task.area);
    m_rec.u32(task.runOn == 2 ? 1 : 0);
    m_rec.u32(task.runOn == 1 ? 1 : 0);
    m_rec.counted(task.name);
    m_rec.counted(task.definition);
    m_rec.u32(task.runOn);
    if (task.menuText) m_rec.counted(*task.menuText);
    else m_rec.absentCounted();
    m_rec.emit(m_out, NativeRecord::Task);
  }
  for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
    m_rec.counted(m_book.sheetAt(i)->name);
    m_rec.emit(m_out, NativeRecord::Sheet);
  }
  tables();
  if (m_book.palette.changed) {
    m_rec.u16(static_cast<uint32_t>(m_book.palette.colors.size()));
    for (uint32_t color : m_book.palette.colors) m_rec.u32(color);
    m_rec.emit(m_out, NativeRecord::Palette);
  }
  for (int32_t i = 0; i < m_book.sheetCount() && !pendingError(); ++i) {
    const Sheet& sheet = *m_book.sheetAt(i);
    m_rec.emit(m_out, NativeRecord::SheetStart);
    sheetSettings(sheet);
    int32_t first = 0, last = 0;
    ColumnRecord column;
    for (int32_t start = 0; sheet.columns.nextColumnRun(start, first, last, column); start = last + 1) {
      m_rec.u16(static_cast<uint32_t>(first));
      m_rec.u16(static_cast<uint32_t>(last));
      m_rec.u32(static_cast<uint32_t>(column.width));
      m_rec.u16(column.style > 0 ? styleIndex(column.style) : 0);
      m_rec.u16(column.flags);
      m_rec.emit(m_out, NativeRecord::ColumnRun);
    }
    cellRows(sheet, everything, false, true);
    merged(sheet, everything, false);
    validations(sheet, everything, false);
    if (sheet.autoFilter.active) {
      const AutoFilter& filter = sheet.autoFilter;
      m_rec.u16(filter.area.firstRow);
      m_rec.u16(filter.area.firstColumn);
      m_rec.u16(filter.area.lastRow);
      m_rec.u16(filter.area.lastColumn);
      m_rec.emit(m_out, NativeRecord::FilterRange);
      for (size_t c = 0; c < filter.columns.size(); ++c) {
        const FilterColumn& column = filter.columns[c];
        m_rec.u32(static_cast<uint32_t>(filter.area.firstColumn + c));
        for (uint32_t v : {column.kind, column.count, column.largest, column.operator1, column.operator2, column.joinAnd})
          m_rec.u32(v);
        m_rec.plain(column.text1);
        m_rec.plain(column.text2);
        m_rec.emit(m_out, NativeRecord::FilterColumn);
      }
    }
  }
  m_rec.u32(11);
  m_rec.u32(static_cast<uint32_t>(m_book.activeSheetIndex()));
  m_rec.u32(0);
  m_rec.emit(m_out, NativeRecord::ActiveSheet);
  m_rec.emit(m_out, NativeRecord::End);
}

void NativeWriter::writeRange(int32_t sheetIndex, const Area& range, bool cut) {
  m_clip = true;
  const Sheet* sheet = m_book.sheetAt(sheetIndex);
  if (!sheet) return;
  const bool allRows = range.firstRow == 0 && range.lastRow == MaxRows - 1;
  const bool allColumns = range.firstColumn == 0 && range.lastColumn == MaxColumns - 1;
  m_styleUsed.assign(static_cast<size_t>(m_book.styles.size()), false);
  m_bookSave.assign(static_cast<size_t>(m_book.externalBookCount()) + 1, -1);
  markCells(*sheet, range);
  if (allColumns)
    for (int32_t r = sheet->nextRow(range.firstRow - 1); r <= range.lastRow && r < NoRow; r = sheet->nextRow(r))
      markStyle(sheet->rowAt(r)->style);
  if (allRows)
    for (int32_t c = range.firstColumn; c <= range.lastColumn; ++c) markStyle(sheet->columns.columnStyle(c));
  for (const ValidationEntry& entry : sheet->validations)
    for (const Area& a : entry.areas)
      if (a.overlaps(range)) {
        markValidation(entry.rule);
        break;
      }
  numberTables(false);

  header();
  codePage();
  m_rec.u32(cut ? 1 : 0);
  m_rec.u16(static_cast<uint32_t>(range.lastColumn - range.firstColumn + 1));
  m_rec.u16(static_cast<uint32_t>(range.lastRow - range.firstRow + 1));  // 65536 rows wrap to 0
  m_rec.emit(m_out, NativeRecord::RangeSize);
  externalBooks();
  strings();
  names();
  formulas();
  tables();
  m_rec.emit(m_out, NativeRecord::SheetStart);
  if (allRows) {
    for (int32_t c = range.firstColumn; c <= range.lastColumn; ++c) {
      ColumnRecord column = sheet->columns.record(c);
      if (column == defaultColumnRecord()) continue;
      int32_t last = c;
      while (last < range.lastColumn && sheet->columns.record(last + 1) == column) ++last;
      m_rec.u16(static_cast<uint32_t>(c - range.firstColumn));
      m_rec.u16(static_cast<uint32_t>(last - range.firstColumn));
      m_rec.u32(static_cast<uint32_t>(column.width < 1 ? sheet->columns.defaultWidth() : column.width));
      m_rec.u16(column.style > 0 ? styleIndex(column.style) : 0);
      m_rec.u16(column.flags);
      m_rec.emit(m_out, NativeRecord::ColumnRun);
      c = last;
    }
  }
  cellRows(*sheet, range, true, allColumns);
  merged(*sheet, range, true);
  validations(*sheet, range, true);
  m_rec.emit(m_out, NativeRecord::End);
}

// ---------------------------------------------------------------------------------------
// Reader

class NativeReader {
 public:
  NativeReader(Workbook& book, DocStream& stream, const NativeReadOptions& options, NativeReadResult& result)
      : m_book(book), m_in(stream), m_options(options), m_result(result) {}
  ~NativeReader();

  bool read();

 private:
  bool record(uint16_t type, RecordIn& in);
  bool header(RecordIn& in);
  void oldReleaseFormats();
  bool checkTokens(const uint8_t* tokens, uint32_t length, uint32_t nameLimit) const;
  void mapTokens(uint8_t* tokens, uint32_t length);
  uint32_t addFormula(const uint8_t* tokens, uint32_t length, uint32_t refCount, uint32_t nameLimit);
  bool readBlob(RecordIn& in, std::vector<uint8_t>& tokens);
  void finishNames();
  int32_t mapStyle(uint32_t fileIndex) const;
  bool startPaste(RecordIn& in);
  bool cellRow(RecordIn& in);
  void columnRun(RecordIn& in);
  void validation(RecordIn& in);
  Sheet* sheet() const { return m_book.sheetAt(m_sheet); }

  Workbook& m_book;
  DocStream& m_in;
  const NativeReadOptions& m_options;
  NativeReadResult& m_result;

  uint16_t m_formatVersion = NativeVersion::Format;
  bool m_paste = false;
  PasteTarget m_target;
  Area m_pasteArea{};
  int32_t m_sheet = -1;       // the sheet receiving sheet records
  int32_t m_sheetRecords = 0; // records 5 seen
  bool m_sawStyle = false;
  int32_t m_formatsRead = 0;
  int32_t m_sheetsBefore = m_book.sheetCount();

  std::vector<uint32_t> m_strings;   // file index -> text handle
  std::vector<uint32_t> m_formulas;  // file index -> formula handle
  std::vector<int32_t> m_nameMap;    // file index -> name index
  std::vector<std::vector<uint8_t>> m_pendingNames;  // definitions waiting for every name
  std::vector<uint8_t> m_bookMap{0}; // file book byte -> workbook book index
  std::vector<int32_t> m_fontMap;
  std::vector<int32_t> m_formatMap;
  std::vector<int32_t> m_styleMap;
};

NativeReader::~NativeReader() {
  // Entries that no cell or formula took stay at count 0; freeing the formulas first
  // gives back the texts they held, so only texts still unreferenced are freed after.
  for (uint32_t handle : m_formulas)
    if (handle != NoHandle && formulaPool().isLive(handle) && formulaPool().refCount(handle) == 0)
      formulaPool().release(handle);
  for (uint32_t handle : m_strings)
    if (handle != NoHandle && textPool().isLive(handle) && textPool().refCount(handle) == 0) textPool().release(handle);
}

bool NativeReader::checkTokens(const uint8_t* tokens, uint32_t length, uint32_t nameLimit) const {
  if (length == 0 || tokens[length - 1] != static_cast<uint8_t>(Op::End)) return false;
  uint8_t lastOp = 0xFF;
  bool ok = walkTokens(tokens, length, [&](uint8_t op, const uint8_t* payload) {
    lastOp = op;
    if (op == static_cast<uint8_t>(Op::Call) && readU16(payload) >= FunctionIndex::Count) return false;
    if (op == static_cast<uint8_t>(Op::Name) && readU16(payload) >= nameLimit) return false;
    if (isRefOp(op) && payload[1] >= m_bookMap.size()) return false;
    return true;
  });
  return ok && lastOp == static_cast<uint8_t>(Op::End);
}

void NativeReader::mapTokens(uint8_t* tokens, uint32_t length) {
  walkTokens(tokens, length, [&](uint8_t op, const uint8_t* payload) {
    auto* p = const_cast<uint8_t*>(payload);
    if (op == static_cast<uint8_t>(Op::String)) {
      uint32_t index = readU32(p);
      uint32_t handle = index < m_strings.size() ? m_strings[index] : NoHandle;
      if (handle != NoHandle) textPool().addRef(handle);
      std::memcpy(p, &handle, 4);
    } else if (op == static_cast<uint8_t>(Op::Name)) {
      uint16_t index = readU16(p);
      uint16_t mapped = index < m_nameMap.size() ? static_cast<uint16_t>(m_nameMap[index]) : 0xFFFF;
      std::memcpy(p, &mapped, 2);
    } else if (isRefOp(op)) {
      p[1] = p[1] < m_bookMap.size() ? m_bookMap[p[1]] : 0;
    } else if (op == static_cast<uint8_t>(Op::Call)) {
      uint16_t function = readU16(p);
      if (function == FunctionIndex::Rand || function == FunctionIndex::Now || function == FunctionIndex::Today)
        m_result.hasVolatile = true;
    }
    return true;
  });
}

uint32_t NativeReader::addFormula(const uint8_t* tokens, uint32_t length, uint32_t refCount, uint32_t nameLimit) {
  if (!checkTokens(tokens, length, nameLimit)) {
    setError(Err::FileRead);
    return NoHandle;
  }
  std::vector<uint8_t> entry(4 + length);
  std::memcpy(entry.data(), &length, 4);
  std::memcpy(entry.data() + 4, tokens, length);
  mapTokens(entry.data() + 4, length);
  uint32_t handle = formulaPool().add(entry.data(), entry.size(), refCount);
  if (handle == NoHandle) releaseTokenTexts(entry.data() + 4, length);
  return handle;
}

bool NativeReader::readBlob(RecordIn& in, std::vector<uint8_t>& tokens) {
  uint32_t length = in.u32();
  const uint8_t* p = in.span(length);
  if (!p) return false;
  tokens.assign(p, p + length);
  return true;
}

void NativeReader::finishNames() {
  // Definitions may name names that come later in the file, so they wait for all of them.
  for (size_t i = 0; i < m_pendingNames.size() && !pendingError(); ++i) {
    const std::vector<uint8_t>& tokens = m_pendingNames[i];
    if (tokens.empty()) continue;
    uint32_t handle = addFormula(tokens.data(), static_cast<uint32_t>(tokens.size()), 1,
                                 static_cast<uint32_t>(m_nameMap.size()));
    if (handle == NoHandle) break;
    DefinedName& name = m_book.names[static_cast<size_t>(m_nameMap[i])];
    formulaPool().release(name.definition);
    name.definition = handle;
  }
  m_pendingNames.clear();
}

int32_t NativeReader::mapStyle(uint32_t fileIndex) const {
  if (fileIndex == 0xFFFF) return -1;
  if (fileIndex >= m_styleMap.size()) return 0;
  return m_styleMap[fileIndex];
}

bool NativeReader::header(RecordIn& in) {
  m_formatVersion = in.u16();
  uint16_t writer = in.u16();
  uint16_t oldest = in.u16();
  if (in.bad()) {
    setError(Err::NotKelpFile);
    return false;
  }
  if (writer > NativeVersion::Writer) {
    if (oldest > NativeVersion::Writer) {
      setError(Err::NewerVersionUnreadable);
      return false;
    }
    m_result.notice = static_cast<uint32_t>(Err::NewerVersionSomeLoss);
    if (m_options.showMessage) m_options.showMessage(m_result.notice);
  }
  if (m_formatVersion < NativeVersion::Format) oldReleaseFormats();
  return true;
}

void NativeReader::oldReleaseFormats() {
  // Files of earlier releases rely on the built-in formats and three more that those
  // releases always had.
  m_book.numberFormats = builtInFormats();
  NumberFormatRecord negative = fixedFormat(2, false);
  negative.negativePrefix = u"(";
  negative.negativeSuffix = u")";
  NumberFormatRecord currency = m_book.numberFormats.size() > 4 ? m_book.numberFormats[4] : fixedFormat(2, false);
  currency.decimals = 2;
  NumberFormatRecord percent = fixedFormat(0, false);
  percent.positiveSuffix = u"%";
  percent.negativePrefix = u"-";
  percent.negativeSuffix = u"%";
  percent.updatePercent();
  m_book.numberFormats.push_back(negative);
  m_book.numberFormats.push_back(currency);
  m_book.numberFormats.push_back(percent);
  m_formatMap.clear();
}

bool NativeReader::startPaste(RecordIn& in) {
  in.u32();  // the cut flag is the clipboard command's business
  uint32_t columns = in.u16();
  uint32_t rows = in.u16();
  if (rows == 0) rows = MaxRows;
  m_paste = true;
  if (m_options.paste) {
    m_target = *m_options.paste;
  } else if (const Sheet* active = m_book.activeSheet()) {
    m_target.sheet = m_book.activeSheetIndex();
    m_target.column = static_cast<uint16_t>(active->selection.firstColumn);
    m_target.row = active->selection.firstRow;
  }
  Sheet* target = m_book.sheetAt(m_target.sheet);
  if (!target || columns == 0) {
    setError(Err::Clipboard);
    return false;
  }
  if (m_target.column + columns > MaxColumns || m_target.row + rows > MaxRows) {
    setError(Err::EmbeddingOutOfBounds);
    return false;
  }
  m_pasteArea = Area{m_target.row, m_target.column, static_cast<uint16_t>(m_target.row + rows - 1),
                     static_cast<uint16_t>(m_target.column + columns - 1)};
  for (const Area& m : target->mergedAreas)
    if (m.overlaps(m_pasteArea) && !m.inside(m_pasteArea)) {
      setError(Err::FillMerged);
      return false;
    }
  m_sheet = m_target.sheet;
  // The target is cleared of what the paste brings; skipped blanks keep what is there.
  const PasteOptions& o = m_target.options;
  target->unmergeWithin(m_pasteArea);
  for (int32_t r = target->nextRow(m_pasteArea.firstRow - 1); r <= m_pasteArea.lastRow && r < NoRow;
       r = target->nextRow(r)) {
    for (int32_t c = m_pasteArea.firstColumn; c <= m_pasteArea.lastColumn; ++c) {
      CellRecord* cell = target->cellPtr(c, r);
      if (!cell) continue;
      CellRecord record = *cell;
      bool clearValue = o.contents && !o.skipBlanks;
      if (clearValue) record.value = emptyValue();
      if (o.format) record.style = -1;
      if (clearValue) target->setCell(c, r, record);
      else target->setCellOwned(c, r, record, false);
    }
  }
  if (o.validation) {
    for (size_t i = target->validations.size(); i-- > 0;) {
      std::vector<Area>& areas = target->validations[i].areas;
      areas.erase(std::remove_if(areas.begin(), areas.end(), [&](const Area& a) { return a.inside(m_pasteArea); }),
                  areas.end());
      if (areas.empty()) {
        formulaPool().release(target->validations[i].rule.formula1);
        formulaPool().release(target->validations[i].rule.formula2);
        target->validations.erase(target->validations.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  m_result.pasted = true;
  m_result.pastedArea = m_pasteArea;
  return true;
}

bool NativeReader::cellRow(RecordIn& in) {
  Sheet* target = sheet();
  if (!target) return true;
  uint32_t row = in.u16();
  uint32_t first = in.u16();
  uint32_t end = in.u16();
  uint16_t height = in.u16();
  uint16_t flags = in.u16();
  uint16_t rowStyle = in.u16();
  uint32_t dr = m_paste ? m_pasteArea.firstRow : 0, dc = m_paste ? m_pasteArea.firstColumn : 0;
  row += dr;
  if (in.bad() || end < first || dc + end > MaxColumns || row >= MaxRows) {
    setError(Err::FileRead);
    return false;
  }
  const PasteOptions& o = m_target.options;
  const uint16_t sheetIndex = static_cast<uint16_t>(m_sheet);
  for (uint32_t col = first + dc; col < end + dc; ++col) {
    uint8_t kindByte = in.u8();
    if (kindByte == NoCellByte) continue;
    uint8_t kind = kindByte & 0x7F;
    int32_t style = mapStyle(in.u16());
    CellValue value = emptyValue();
    switch (kind) {
      case 0:
        break;
      case 1:
      case 2:
        value = wordValue(static_cast<ValueKind>(kind), in.u8());
        break;
      case 3: {
        uint32_t index = in.u32();
        uint32_t handle = index < m_strings.size() ? m_strings[index] : NoHandle;
        if (index != NoIndex && index >= m_strings.size()) in.span(0xFFFFFFFF);  // a string the file lacks
        value = wordValue(ValueKind::Text, handle);
        break;
      }
      case 4:
      case 13:
        value = doubleValue(static_cast<ValueKind>(kind), in.f64());
        break;
      default:
        if (kind > 13) in.span(0xFFFFFFFF);
        break;  // kinds without a value of their own
    }
    uint32_t formula = NoHandle;
    if (kindByte & FormulaBit) {
      uint32_t index = in.u32();
      if (index < m_formulas.size()) formula = m_formulas[index];
      else in.span(0xFFFFFFFF);
    }
    if (in.bad()) {
      setError(Err::FileRead);
      return false;
    }
    if (m_paste) {
      const CellRecord* old = target->cellPtr(static_cast<int32_t>(col), static_cast<int32_t>(row));
      bool blank = value.kind == ValueKind::Empty && formula == NoHandle;
      if (!o.contents || (o.skipBlanks && blank)) {
        if (o.format) target->setCellStyle(static_cast<int32_t>(col), static_cast<int32_t>(row), static_cast<int16_t>(style));
        continue;
      }
      if (!o.format) style = old ? old->style : -1;
      if (o.onlyResults) formula = NoHandle;
    }
    CellRecord record{value, static_cast<int16_t>(style)};
    if (value.kind == ValueKind::Text) textPool().addRef(value.u32());
    if (formula != NoHandle) {
      CellValue f = newFormulaValue(formulaPool().addRef(formula),
                                    CellPosition{static_cast<uint16_t>(row), static_cast<uint16_t>(col), sheetIndex});
      if (f.kind != ValueKind::Formula) {
        formulaPool().release(formula);
        releaseValue(record.value, false);
        return false;
      }
      formulaResult(f) = record.value;
      record.value = f;
      ++m_result.formulaCount;
    }
    if (!target->setCell(static_cast<int32_t>(col), static_cast<int32_t>(row), record)) return false;
  }
  if (in.bad()) {
    setError(Err::FileRead);
    return false;
  }
  bool carried = height != NoRowHeight && (!m_paste || o.format);
  if (carried) {
    bool trivial = height == target->defaultRowHeight && (flags & 0x7F) == 0 && mapStyle(rowStyle) <= 0;
    if (!trivial || target->rowExists(static_cast<int32_t>(row))) {
      Row* r = target->ensureRow(static_cast<int32_t>(row));
      if (!r) return false;
      r->height = height;
      r->flags = flags & 0x7F;
      int32_t style = mapStyle(rowStyle);
      r->style = static_cast<int16_t>(style > 0 ? style : 0);
    }
  }
  return true;
}

void NativeReader::columnRun(RecordIn& in) {
  Sheet* target = sheet();
  uint32_t first = in.u16();
  uint32_t last = in.u16();
  uint32_t width = in.u32();
  int32_t style = mapStyle(in.u16());
  uint16_t flags = in.u16();
  if (!target || in.bad()) return;
  if (m_paste) {
    if (!m_target.options.format) return;
    first += m_pasteArea.firstColumn;
    last += m_pasteArea.firstColumn;
  }
  if (first > last || last >= MaxColumns) {
    setError(Err::FileRead);
    return;
  }
  // A width equal to the default is stored as the default, as the column table does.
  int32_t stored = width == target->columns.defaultWidth() || width > 0x7FFFFFFF ? -1 : static_cast<int32_t>(width);
  ColumnRecord record{stored, static_cast<int16_t>(style > 0 ? style : 0), flags};
  if (!target->columns.copyColumnRecord(static_cast<int32_t>(first), static_cast<int32_t>(last), record)) return;
}

void NativeReader::validation(RecordIn& in) {
  Sheet* target = sheet();
  ValidationEntry entry;
  ValidationRule& rule = entry.rule;
  rule.flags = in.u32();
  rule.errorTitle = in.plain();
  rule.errorMessage = in.plain();
  rule.inputTitle = in.plain();
  rule.inputMessage = in.plain();
  std::vector<uint8_t> tokens[2];
  for (auto& formula : tokens) {
    uint32_t count = in.u16();
    const uint8_t* p = in.span(count);
    if (p) formula.assign(p, p + count);
    if (count % 2) in.u8();
  }
  uint32_t items = in.u16();
  for (uint32_t i = 0; i < items && !in.bad(); ++i) rule.list.push_back(in.plain());
  uint32_t ranges = in.u16();
  uint32_t dr = m_paste ? m_pasteArea.firstRow : 0, dc = m_paste ? m_pasteArea.firstColumn : 0;
  for (uint32_t i = 0; i < ranges && !in.bad(); ++i) {
    uint32_t r1 = in.u16() + dr, r2 = in.u16() + dr, c1 = in.u16() + dc, c2 = in.u16() + dc;
    if (r1 > r2 || c1 > c2 || r2 >= MaxRows || c2 >= MaxColumns) {
      in.span(0xFFFFFFFF);
      break;
    }
    entry.areas.push_back(Area{static_cast<uint16_t>(r1), static_cast<uint16_t>(c1), static_cast<uint16_t>(r2),
                               static_cast<uint16_t>(c2)});
  }
  if (in.bad()) {
    setError(Err::FileRead);
    return;
  }
  if (!target || (m_paste && !m_target.options.validation)) return;
  uint32_t handles[2] = {NoHandle, NoHandle};
  for (int i = 0; i < 2; ++i) {
    if (tokens[i].empty()) continue;
    handles[i] = addFormula(tokens[i].data(), static_cast<uint32_t>(tokens[i].size()), 1,
                            static_cast<uint32_t>(m_nameMap.size()));
    if (handles[i] == NoHandle) {
      formulaPool().release(handles[0]);
      return;
    }
  }
  rule.formula1 = handles[0];
  rule.formula2 = handles[1];
  target->validations.push_back(std::move(entry));
}

bool NativeReader::record(uint16_t type, RecordIn& in) {
  namespace R = NativeRecord;
  if (type != R::Name && !m_pendingNames.empty()) finishNames();
  if (pendingError()) return false;
  Sheet* current = sheet();
  switch (type) {
    case R::Password: {
      m_book.passwordHash = in.u32();
      if (!CheckPassword(m_book, m_options.askPassword)) {
        m_result.cancelled = true;
        return false;
      }
      m_in.SetScrambleKey(m_book.password);
      break;
    }
    case R::CodePage: {
      uint32_t page = in.u32();
      if (!m_paste && codePageSupported(page)) m_book.codePage = page;
      break;
    }
    case R::RangeSize:
      // Clipboard data announces itself before any sheet; later it is damage.
      if (m_paste || m_sheetRecords > 0 || m_book.sheetCount() > m_sheetsBefore) {
        setError(Err::FileRead);
        return false;
      }
      if (!startPaste(in)) return false;
      break;
    case R::ExternalBookCount:
      break;
    case R::ExternalBook: {
      uint32_t count = in.u32();
      std::u16string path = in.plain();
      std::vector<std::u16string> sheets;
      for (uint32_t i = 0; i < count && !in.bad(); ++i) sheets.push_back(in.plain());
      if (in.bad()) break;
      if (m_bookMap.size() > 255) {
        setError(Err::FileRead);
        return false;
      }
      size_t split = path.find_last_of(u"\\/");
      std::u16string directory = split == std::u16string::npos ? std::u16string() : path.substr(0, split + 1);
      std::u16string name = split == std::u16string::npos ? path : path.substr(split + 1);
      int32_t index = m_book.findOrAddExternalBook(directory, name);
      if (index > 255) {
        setError(Err::FileRead);
        return false;
      }
      ExternalBook* book = m_book.externalBook(index);
      for (std::u16string& s : sheets)
        if (std::find(book->sheetNames.begin(), book->sheetNames.end(), s) == book->sheetNames.end())
          book->sheetNames.push_back(std::move(s));
      m_bookMap.push_back(static_cast<uint8_t>(index));
      break;
    }
    case R::StringCount: {
      uint32_t count = in.u32();
      if (!in.bad()) m_strings.reserve(std::min<uint32_t>(count, 1u << 20));
      break;
    }
    case R::String: {
      std::u16string text;
      in.counted(text);
      if (in.bad()) break;
      uint32_t handle = NoHandle;
      if (!text.empty()) {
        handle = textPool().add(text.c_str(), (text.size() + 1) * sizeof(char16_t), 0);
        if (handle == NoHandle) return false;
      }
      m_strings.push_back(handle);
      break;
    }
    case R::NameCount:
      in.u32();
      break;
    case R::Name: {
      std::u16string text;
      in.counted(text);
      std::vector<uint8_t> tokens;
      if (in.left() > 0) readBlob(in, tokens);
      if (in.bad()) break;
      if (m_nameMap.size() >= 0xFFFF) {
        setError(Err::FileRead);
        return false;
      }
      // A name the workbook has already keeps its own definition.
      int32_t index = m_book.findName(text);
      if (index >= 0) tokens.clear();
      else index = m_book.setName(text, NoHandle);
      m_nameMap.push_back(index);
      m_pendingNames.push_back(std::move(tokens));
      break;
    }
    case R::FormulaCount: {
      uint32_t count = in.u32();
      if (!in.bad()) m_formulas.reserve(std::min<uint32_t>(count, 1u << 20));
      break;
    }
    case R::Formula: {
      std::vector<uint8_t> tokens;
      if (!readBlob(in, tokens)) break;
      uint32_t handle = addFormula(tokens.data(), static_cast<uint32_t>(tokens.size()), 0,
                                   static_cast<uint32_t>(m_nameMap.size()));
      if (handle == NoHandle) return false;
      m_formulas.push_back(handle);
      break;
    }
    case R::BookProtection:
      if (!m_paste) m_book.isProtected = in.u16() != 0;
      break;
    case R::Task: {
      WorkbookTask task;
      in.take(task.area, sizeof task.area);
      in.u32();
      in.u32();
      in.counted(task.name);
      in.counted(task.definition);
      task.runOn = in.u32();
      std::u16string menu;
      if (in.counted(menu)) task.menuText = std::move(menu);
      if (!in.bad() && !m_paste) m_book.tasks.push_back(std::move(task));
      break;
    }
    case R::Sheet: {
      std::u16string name;
      in.counted(name);
      if (in.bad() || m_paste) break;
      if (m_book.sheetCount() >= 0xFFFF) {
        setError(Err::FileRead);
        return false;
      }
      if (!m_book.insertSheet(name)) return false;
      break;
    }
    case R::TableSizes:
      break;
    case R::Font: {
      FontRecord f{};
      f.reserved = in.u8();
      f.underline = in.u8();
      f.options = in.u16();
      f.height = in.u16();
      f.color = in.u16();
      f.weight = in.u16();
      f.escapement = in.u16();
      f.family = in.u8();
      f.charset = in.u8();
      for (char16_t& c : f.faceName) c = in.u16();
      f.faceNameLength = std::min<uint8_t>(in.u8(), 32);
      if (in.bad()) break;
      int32_t index;
      if (m_paste) {
        index = m_book.addFont(f);
      } else {
        index = m_book.fonts.append(f) ? m_book.fonts.size() - 1 : -1;
      }
      if (index < 0) return false;
      m_fontMap.push_back(index);
      break;
    }
    case R::NumberFormat:
    case R::DateFormat: {
      NumberFormatRecord f;
      if (type == R::DateFormat) {
        f.kind = FormatKind::DateTime;
        f.datePicture = in.plain();
        f.timePicture = in.plain();
      } else {
        uint8_t decimals = in.u8();
        f.kind = decimals == 0xFE ? FormatKind::Text : FormatKind::Number;
        f.general = decimals == 0xFF;
        f.decimals = decimals >= 0xFE ? 0 : std::min<uint8_t>(decimals, 9);
        f.thousands = in.u8() != 0;
        f.positivePrefix = in.plain();
        f.positiveSuffix = in.plain();
        f.negativePrefix = in.plain();
        f.negativeSuffix = in.plain();
        f.updatePercent();
      }
      if (in.bad()) break;
      int32_t index;
      if (m_paste) {
        index = m_book.findOrAddNumberFormat(f);
      } else if (m_book.numberFormats.size() >= static_cast<size_t>(MaxNumberFormats)) {
        index = -1;
      } else {
        m_book.numberFormats.push_back(std::move(f));
        index = static_cast<int32_t>(m_book.numberFormats.size()) - 1;
      }
      if (index < 0) {
        setError(Err::OutOfMemory);
        return false;
      }
      m_formatMap.push_back(index);
      ++m_formatsRead;
      break;
    }
    case R::Style:
    case R::OldStyle: {
      if (type == R::OldStyle && m_sawStyle) break;
      StyleRecord s{};
      uint32_t fontIndex, formatIndex;
      if (type == R::Style) {
        m_sawStyle = true;
        s.borders = in.u16();
        fontIndex = in.u16();
        s.protection = in.u16();
        s.indentation = in.u16();
        s.sideBorderColors = in.u16();
        s.borderFillLow = in.u16();
        s.borderFillHigh = in.u16();
        s.alignment = in.u16();
        s.fillColors = in.u16();
        formatIndex = in.u16();
        in.u16();  // the style's own file index
      } else {
        s = readOldStyle(in);
        fontIndex = s.font;
        formatIndex = s.numberFormat;
        if (m_formatVersion < NativeVersion::Format && formatIndex >= 3 && formatIndex <= 7) {
          static constexpr uint32_t offsets[5] = {1, 2, 2, 3, 0};
          formatIndex = formatIndex == 7 ? 5 : formatIndex + static_cast<uint32_t>(m_formatsRead) + offsets[formatIndex - 3];
        }
      }
      if (in.bad()) break;
      s.font = static_cast<uint16_t>(fontIndex < m_fontMap.size() ? m_fontMap[fontIndex] : 0);
      if (m_formatVersion < NativeVersion::Format && !m_paste) {
        // Files of earlier releases index the whole format list, built-ins included.
        s.numberFormat = static_cast<uint16_t>(formatIndex < m_book.numberFormats.size() ? formatIndex : 0);
      } else {
        s.numberFormat = static_cast<uint16_t>(formatIndex < m_formatMap.size() ? m_formatMap[formatIndex] : 0);
      }
      int32_t index;
      if (m_paste) {
        index = m_book.findOrAddStyle(s);
      } else if (m_book.styles.size() >= 0x7FFF) {
        index = 0;
      } else {
        index = m_book.styles.append(s) ? m_book.styles.size() - 1 : -1;
      }
      if (index < 0) return false;
      m_styleMap.push_back(index);
      break;
    }
    case R::Palette: {
      uint32_t count = in.u16();
      std::array<uint32_t, 56> colors = m_book.palette.colors;
      for (uint32_t i = 0; i < count && i < colors.size(); ++i) colors[i] = in.u32();
      if (!in.bad() && !m_paste) {
        m_book.palette.colors = colors;
        m_book.palette.changed = true;
      }
      break;
    }
    case R::SheetStart:
      if (!m_paste) m_sheet = m_sheetsBefore + m_sheetRecords++;
      break;
    case R::ViewPosition:
      if (current && !m_paste) {
        uint16_t top = in.u16(), left = in.u16();
        Selection s;
        s.firstRow = in.u16();
        s.firstColumn = static_cast<int16_t>(in.u16());
        s.lastRow = in.u16();
        s.lastColumn = static_cast<int16_t>(in.u16());
        if (in.bad()) break;
        if (s.firstColumn < 0 || s.lastColumn < 0 || s.firstColumn >= MaxColumns || s.lastColumn >= MaxColumns ||
            s.firstRow > s.lastRow || s.firstColumn > s.lastColumn || left >= MaxColumns)
          break;  // a selection the grid could not show is not taken
        s.activeRow = s.endRow = s.lastRow;
        s.activeColumn = s.endColumn = s.lastColumn;
        current->selection = s;
        current->view.topRow = top;
        current->view.leftColumn = left;
      }
      break;
    case R::View:
      if (current && !m_paste) {
        SheetView v = current->view;
        v.zoom = in.u32();
        v.showGridlines = in.u8();
        v.showHeaders = in.u8();
        v.showZeros = in.u8();
        v.columnsFrozen = in.u8();
        v.rowsFrozen = in.u8();
        v.frozenFirstRow = in.u16();
        v.frozenFirstColumn = in.u16();
        v.frozenLastRow = in.u16();
        v.frozenLastColumn = in.u16();
        if (in.bad()) break;
        // The scrollable part never shows frozen rows or columns again.
        if (v.rowsFrozen && v.topRow <= v.frozenLastRow && v.frozenLastRow < MaxRows - 1)
          v.topRow = static_cast<uint16_t>(v.frozenLastRow + 1);
        if (v.columnsFrozen && v.leftColumn <= v.frozenLastColumn && v.frozenLastColumn < MaxColumns - 1)
          v.leftColumn = static_cast<uint16_t>(v.frozenLastColumn + 1);
        current->view = v;
      }
      break;
    case R::SheetProtection:
      if (current && !m_paste) current->isProtected = in.u16() != 0;
      break;
    case R::PageHeader:
    case R::PageFooter:
      if (current && !m_paste) {
        in.u32();
        std::u16string text = in.plain();
        if (in.bad()) break;
        (type == R::PageHeader ? current->print.header : current->print.footer) = std::move(text);
      }
      break;
    case R::LeftMargin:
    case R::RightMargin:
    case R::TopMargin:
    case R::BottomMargin:
      if (current && !m_paste) {
        double value = in.f64();
        if (in.bad()) break;
        double* margins[4] = {&current->print.leftMargin, &current->print.rightMargin, &current->print.topMargin,
                              &current->print.bottomMargin};
        *margins[type - R::LeftMargin] = value;
      }
      break;
    case R::PageSetup:
      if (current && !m_paste) {
        uint8_t setup[sizeof current->print.pageSetup];
        if (in.take(setup, sizeof setup)) std::memcpy(current->print.pageSetup, setup, sizeof setup);
      }
      break;
    case R::Visibility:
      if (current && !m_paste) {
        uint32_t visibility = in.u32();
        if (!in.bad() && visibility <= 2) current->visibility = static_cast<SheetVisibility>(visibility);
      }
      break;
    case R::ColumnRun:
      columnRun(in);
      break;
    case R::CellRow:
      if (!cellRow(in)) return false;
      break;
    case R::Merged:
      if (current) {
        uint32_t count = in.u16();
        uint32_t dr = m_paste ? m_pasteArea.firstRow : 0, dc = m_paste ? m_pasteArea.firstColumn : 0;
        for (uint32_t i = 0; i < count && !in.bad(); ++i) {
          uint32_t r1 = in.u16() + dr, r2 = in.u16() + dr, c1 = in.u16() + dc, c2 = in.u16() + dc;
          if (in.bad()) break;
          if (r1 > r2 || c1 > c2 || r2 >= MaxRows || c2 >= MaxColumns) {
            in.span(0xFFFFFFFF);
            break;
          }
          Area area{static_cast<uint16_t>(r1), static_cast<uint16_t>(c1), static_cast<uint16_t>(r2),
                    static_cast<uint16_t>(c2)};
          if (current->findMergedEqual(area) < 0 && !current->mergedAreas.append(area)) return false;
        }
      }
      break;
    case R::Validation:
      validation(in);
      break;
    case R::FilterRange:
      if (current && !m_paste) {
        Area area;
        area.firstRow = in.u16();
        area.firstColumn = in.u16();
        area.lastRow = in.u16();
        area.lastColumn = in.u16();
        if (in.bad()) break;
        if (area.firstRow > area.lastRow || area.firstColumn > area.lastColumn || area.lastColumn >= MaxColumns) {
          setError(Err::FileRead);
          return false;
        }
        current->autoFilter.active = 1;
        current->autoFilter.area = area;
        current->autoFilter.columns.assign(static_cast<size_t>(area.lastColumn - area.firstColumn + 1), FilterColumn{});
      }
      break;
    case R::FilterColumn:
      if (current && !m_paste) {
        uint32_t column = in.u32();
        kelp::FilterColumn criteria;
        for (uint32_t* v : {&criteria.kind, &criteria.count, &criteria.largest, &criteria.operator1,
                            &criteria.operator2, &criteria.joinAnd})
          *v = in.u32();
        criteria.text1 = in.plain();
        criteria.text2 = in.plain();
        AutoFilter& filter = current->autoFilter;
        if (in.bad() || !filter.active || column < filter.area.firstColumn) break;
        size_t at = column - filter.area.firstColumn;
        if (at < filter.columns.size()) filter.columns[at] = std::move(criteria);
      }
      break;
    default:
      if (type >= 0x8000) {
        // Records of this range come from releases that know more; only one is ours.
        if (m_formatVersion < NativeVersion::Format || m_paste) break;
        if (type == R::ActiveSheet && in.left() >= 8 && in.u32() == 11) {
          uint32_t index = in.u32();
          if (!in.bad() && static_cast<int32_t>(index) < m_book.sheetCount()) {
            m_book.setActiveSheet(static_cast<int32_t>(index));
            break;
          }
        }
        m_book.setActiveSheet(0);
      }
      break;
  }
  if (in.bad()) {
    setError(Err::FileRead);
    return false;
  }
  return !pendingError();
}

bool NativeReader::read() {
  // Token strings read here hold texts that the pool must give back when freed.
  formulaPool().setFreeHook(releaseEntryTexts);
  std::vector<uint8_t> buffer(MaxRecord);
  uint16_t type, length;
  if (!m_in.ReadRecord(type, length, buffer.data())) {
    if (pendingError() == static_cast<uint32_t>(Err::FileRead)) {
      clearError();
      setError(Err::NotKelpFile);
    }
    return false;
  }
  if (type != NativeRecord::Header) {
    setError(Err::NotKelpFile);
    return false;
  }
  RecordIn first(buffer.data(), length);
  if (!header(first)) return false;
  bool ok = true;
  for (;;) {
    if (!m_in.ReadRecord(type, length, buffer.data())) {
      ok = false;
      break;
    }
    if (type == NativeRecord::End) break;
    RecordIn in(buffer.data(), length);
    if (!record(type, in)) {
      ok = false;
      break;
    }
  }
  if (ok && !m_pendingNames.empty()) finishNames();
  if (pendingError()) ok = false;
  if (ok && m_formatVersion < NativeVersion::Format && !m_paste) m_book.setActiveSheet(0);
  return ok;
}

}  // namespace

void recalculateAfterLoad(Workbook& workbook) { recalculateAll(workbook); }

void WriteNativeWorkbook(Workbook& workbook, DocStream& stream) {
  NativeWriter writer(workbook, stream);
  writer.writeWorkbook();
}

void WriteNativeRange(Workbook& workbook, DocStream& stream, int32_t sheet, const Area& range, bool cut) {
  NativeWriter writer(workbook, stream);
  writer.writeRange(sheet, range, cut);
}

bool ReadNative(Workbook& workbook, DocStream& stream, const NativeReadOptions& options, NativeReadResult* result) {
  NativeReadResult local;
  NativeReadResult& out = result ? *result : local;
  out = NativeReadResult{};
  bool ok;
  {
    NativeReader reader(workbook, stream, options, out);
    ok = reader.read();
  }
  if (ok && out.pasted) recalculateAfterLoad(workbook);
  return ok;
}

}  // namespace kelp
