// The native record stream's writer: whole workbooks and clipboard ranges.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "files/NativeRecords.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

using namespace native;

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
    for (int32_t c = std::max<int32_t>(row->firstColumn(), area.firstColumn); c < end; ++c) {
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
    m_rec.counted(poolText(handle));
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
  first = row->firstColumn();
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
      if (tokens) convertTokens(tokens, length, converted);
      // More than a 16-bit count holds makes the record too long to write, so no count
      // below is ever cut.
      m_rec.u16(static_cast<uint32_t>(converted.size()));
      m_rec.bytes(converted.data(), converted.size());
      if (converted.size() % 2) m_rec.u8(0);
    }
    m_rec.u16(static_cast<uint32_t>(rule.list.size()));
    for (const std::u16string& item : rule.list) m_rec.plain(item);
    m_rec.u16(static_cast<uint32_t>(ranges.size()));
    for (size_t i = 0; i < ranges.size(); ++i) {
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
  if (!p.header.empty()) {
    m_rec.u32(static_cast<uint32_t>(p.header.size()));
    m_rec.plain(p.header);
    m_rec.emit(m_out, NativeRecord::PageHeader);
  }
  if (!p.footer.empty()) {
    m_rec.u32(static_cast<uint32_t>(p.footer.size()));
    m_rec.plain(p.footer);
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
  // Where the range was: a paste must know how far each formula travels to tell a
  // reference that would cross the sheet's edge.
  m_rec.u16(static_cast<uint32_t>(range.firstColumn));
  m_rec.u16(static_cast<uint32_t>(range.firstRow));
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

}  // namespace

size_t nativeRuleBytes(const ValidationRule& rule, size_t areaCount) {
  size_t bytes = 4 + 2 + 2 + 8 * areaCount;
  for (const std::u16string* text : {&rule.errorTitle, &rule.errorMessage, &rule.inputTitle, &rule.inputMessage})
    bytes += 2 * (text->size() + 1);
  for (uint32_t handle : {rule.formula1, rule.formula2}) {
    uint32_t length;
    poolTokens(handle, length);
    bytes += 2 + length + length % 2;
  }
  for (const std::u16string& item : rule.list) bytes += 2 * (item.size() + 1);
  return bytes;
}

void WriteNativeWorkbook(Workbook& workbook, DocStream& stream) {
  NativeWriter writer(workbook, stream);
  writer.writeWorkbook();
}

void WriteNativeRange(Workbook& workbook, DocStream& stream, int32_t sheet, const Area& range, bool cut) {
  NativeWriter writer(workbook, stream);
  writer.writeRange(sheet, range, cut);
}

}  // namespace kelp
