// The Excel writer's sheet substreams: sheet settings, columns, rows and cells with their
// formulas, the view, merged areas and validation; and the hidden data sheet.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "files/ExcelTokens.h"
#include "files/ExcelWriterInternal.h"
#include "model/HandlePool.h"
#include "platform/ErrorState.h"

namespace kelp::excel {

namespace {

constexpr uint16_t WorksheetSubstream = 0x0010;
constexpr int32_t RowBlock = 32;
constexpr uint16_t RowAlways = 0x0100, RowHasStyle = 0x0080, RowOutline = 0x0007;
constexpr uint16_t NoStyleXf = 15;
constexpr uint32_t MaxLabel = 255;
constexpr uint32_t MaxPageText = 255;
constexpr size_t MergedPerRecord = 999;
constexpr uint32_t ValidationExplicitList = 0x80;
constexpr uint32_t MaxDvText = 255;
constexpr uint16_t ResultText = 0, ResultLogical = 1, ResultError = 2, ResultEmpty = 3;

// What a FORMULA record's result field and the cell record of a plain value can show:
// Kelp's integers are numbers, and kinds no cell shows (references) are empty.
CellValue plainValue(const CellValue& value) {
  switch (value.kind) {
    case ValueKind::Integer:
      return numberValue(value.i32());
    case ValueKind::Logical:
    case ValueKind::Error:
    case ValueKind::Text:
    case ValueKind::Number:
    case ValueKind::DateTime:
      return value;
    default:
      return emptyValue();
  }
}

}  // namespace

void ExcelWriter::sheet(int32_t index) {
  const Sheet& s = *m_book.sheetAt(index);
  m_stream.patch32(m_sheetPositions[static_cast<size_t>(index)], static_cast<uint32_t>(m_stream.size()));
  bof(WorksheetSubstream);
  sheetHead(s);
  columns(s);
  cells(s);
  view(s, index == m_book.activeSheetIndex());
  if (m_biff8) {
    merged(s);
    validations(s);
  } else {
    if (s.mergedAreas.size() > 0) m_cuts.add(u"merged cells, which Excel 95 files do not have", s.name);
    if (!s.validations.empty()) m_cuts.add(u"validation rules, which Excel 95 files do not have", s.name);
  }
  emit(Out::Eof);
}

void ExcelWriter::sheetHead(const Sheet& s) {
  m_rec.u16(1);
  emit(Out::CalcMode);

  // Outline depths, deepest row level and deepest column level.
  int rowDepth = 0, columnDepth = 0;
  for (int32_t r = s.nextRow(-1); r != NoRow; r = s.nextRow(r)) rowDepth = std::max(rowDepth, s.rowAt(r)->flags & RowOutline);
  for (int32_t c = 0; c < s.columns.records().size(); ++c) columnDepth = std::max(columnDepth, s.columns.columnOutlineLevel(c));
  if (rowDepth > 0 || columnDepth > 0) {
    m_rec.u16(rowDepth > 0 ? static_cast<uint32_t>(12 * rowDepth + 17) : 0);
    m_rec.u16(columnDepth > 0 ? static_cast<uint32_t>(12 * columnDepth + 17) : 0);
    m_rec.u16(rowDepth > 0 ? static_cast<uint32_t>(rowDepth + 1) : 0);
    m_rec.u16(columnDepth > 0 ? static_cast<uint32_t>(columnDepth + 1) : 0);
    emit(Out::Guts);
  }
  m_rec.u16(0);
  m_rec.u16(s.defaultRowHeight);
  emit(Out::DefaultRowHeight);
  if (!m_biff8) {
    m_rec.u16(1);
    m_rec.u16(1);
    emit(Out::Country);
  }
  if (!s.print.header.empty()) {
    text(s.print.header, m_biff8 ? 2 : 1, MaxPageText, u"page headers longer than 255 characters", s.name);
    emit(Out::Header);
  }
  if (!s.print.footer.empty()) {
    text(s.print.footer, m_biff8 ? 2 : 1, MaxPageText, u"page footers longer than 255 characters", s.name);
    emit(Out::Footer);
  }
  const double margins[4] = {s.print.leftMargin, s.print.rightMargin, s.print.topMargin, s.print.bottomMargin};
  for (int i = 0; i < 4; ++i) {
    m_rec.f64(margins[i]);
    emit(static_cast<uint16_t>(Out::LeftMargin + i));
  }
  if (s.isProtected) {
    m_rec.u16(1);
    emit(Out::Protect);
  }
  if (!m_biff8) biff5ExternSheets();
}

void ExcelWriter::columns(const Sheet& s) {
  m_rec.u16(8);
  emit(Out::DefColWidth);
  int32_t first, last;
  ColumnRecord record;
  for (int32_t start = 0; s.columns.nextColumnRun(start, first, last, record); start = last + 1) {
    m_rec.u16(static_cast<uint32_t>(first));
    m_rec.u16(static_cast<uint32_t>(last));
    m_rec.u16(static_cast<uint32_t>(std::clamp(record.width, 0, 0xFFFF)));
    m_rec.u16(record.style > 0 ? xfOf(record.style) : NoStyleXf);
    m_rec.u16(record.flags);
    m_rec.u16(0);
    emit(Out::ColInfo);
  }
}

// Whether row `r` gets a ROW record, with the columns of its cells [first, end).
bool ExcelWriter::rowRecordWanted(const Sheet& s, int32_t r, int32_t& first, int32_t& end) const {
  const Row* row = s.rowAt(r);
  first = row->firstColumn();
  end = row->cells.size();
  auto written = [&](int32_t c) {
    const CellRecord& cell = row->cells[c];
    return cell.value.kind != ValueKind::Empty || cell.style > 0;
  };
  while (first < end && !written(first)) ++first;
  while (end > first && !written(end - 1)) --end;
  return first < end || row->height != s.defaultRowHeight || (row->flags & 0x7F) || row->style > 0;
}

// Rows in blocks of 32: the ROW records of a block, then its cells. Every row with a
// height, style or flags of its own is written, however far below the cells it lies.
void ExcelWriter::cells(const Sheet& s) {
  int32_t lastRow = -1, lastColumn = -1;
  std::vector<int32_t> rows;
  for (int32_t r = s.nextRow(-1); r != NoRow; r = s.nextRow(r)) {
    int32_t first, end;
    if (!rowRecordWanted(s, r, first, end)) continue;
    rows.push_back(r);
    if (first < end) {
      lastRow = r;
      lastColumn = std::max(lastColumn, end - 1);
    }
  }
  if (m_biff8) {
    m_rec.u32(0);
    m_rec.u32(static_cast<uint32_t>(lastRow + 1));
  } else {
    m_rec.u16(0);
    m_rec.u16(static_cast<uint32_t>(lastRow + 1));
  }
  m_rec.u16(0);
  m_rec.u16(static_cast<uint32_t>(lastColumn + 1));
  m_rec.u16(0);
  emit(Out::Dimensions);

  for (size_t at = 0; at < rows.size();) {
    const int32_t block = rows[at] / RowBlock;
    size_t blockEnd = at;
    while (blockEnd < rows.size() && rows[blockEnd] / RowBlock == block) ++blockEnd;
    for (size_t i = at; i < blockEnd; ++i) {
      const int32_t r = rows[i];
      const Row* row = s.rowAt(r);
      int32_t first, end;
      rowRecordWanted(s, r, first, end);
      m_rec.u16(static_cast<uint32_t>(r));
      m_rec.u16(static_cast<uint32_t>(first < end ? first : 0));
      m_rec.u16(static_cast<uint32_t>(first < end ? end : 0));
      m_rec.u16(row->height);
      m_rec.u32(0);
      m_rec.u16(static_cast<uint32_t>((row->flags & 0x7F) | RowAlways | (row->style > 0 ? RowHasStyle : 0)));
      m_rec.u16(row->style > 0 ? xfOf(row->style) : NoStyleXf);
      emit(Out::Row);
    }
    for (size_t i = at; i < blockEnd; ++i) {
      const int32_t r = rows[i];
      const Row* row = s.rowAt(r);
      int32_t first, end;
      rowRecordWanted(s, r, first, end);
      for (int32_t c = first; c < end; ++c) cell(s, c, r, row->cells[c]);
    }
    at = blockEnd;
  }
}

void ExcelWriter::cell(const Sheet& s, int32_t column, int32_t row, const CellRecord& record) {
  if (record.value.kind == ValueKind::Empty && record.style <= 0) return;
  const uint16_t xf = xfOf(record.style);
  if (record.value.kind == ValueKind::Formula) {
    if (formulaCell(s, column, row, xf, record)) return;
    valueCell(s.index, column, row, xf, plainValue(formulaResult(record.value)));
    return;
  }
  valueCell(s.index, column, row, xf, plainValue(record.value));
}

void ExcelWriter::valueCell(int32_t sheet, int32_t column, int32_t row, uint16_t xf, const CellValue& value) {
  m_rec.u16(static_cast<uint32_t>(row));
  m_rec.u16(static_cast<uint32_t>(column));
  m_rec.u16(xf);
  switch (value.kind) {
    case ValueKind::Number:
    case ValueKind::DateTime:
      m_rec.f64(value.number());
      emit(Out::Number);
      return;
    case ValueKind::Logical:
    case ValueKind::Error:
      m_rec.u8(value.u32());
      m_rec.u8(value.kind == ValueKind::Error ? 1 : 0);
      emit(Out::BoolErr);
      return;
    case ValueKind::Text:
      if (m_biff8) {
        m_rec.u32(addHandleString(value.u32()));
        emit(Out::LabelSst);
      } else {
        text(textOf(value), 2, MaxLabel, u"texts longer than 255 characters, cut", cellName(sheet, column, row));
        emit(Out::Label);
      }
      return;
    default:
      emit(Out::Blank);
      return;
  }
}

// FORMULA: the cached result, options and the tokens; a text result follows in STRING.
// False when the formula has no Excel form, with the reason noted.
bool ExcelWriter::formulaCell(const Sheet& s, int32_t column, int32_t row, uint16_t xf, const CellRecord& record) {
  uint32_t length;
  const uint8_t* tokens = formulaBytes(formulaTokens(record.value), length);
  std::vector<uint8_t>& excel = m_formulaBytes;
  excel.clear();
  const CellPosition at{static_cast<uint16_t>(column), static_cast<uint16_t>(row), static_cast<uint16_t>(s.index)};
  // The elements of the formula's array constants, which follow its tokens.
  std::vector<uint8_t> arrays;
  ExcelExportResult result =
      tokens ? convertToExcelFormula(tokens, length, at, ExcelExportKind::Cell, m_context, excel, &arrays)
             : ExcelExportResult::Malformed;
  if (result == ExcelExportResult::Written && excel.size() + arrays.size() + 22 > recordLimit())
    result = ExcelExportResult::TooLong;
  if (result != ExcelExportResult::Written) {
    const std::u16string where = cellName(s.index, column, row);
    switch (result) {
      case ExcelExportResult::RowOutOfReach:
        m_cuts.add(u"formulas reaching past row 16,384, which Excel 95 cannot name, saved as values", where);
        break;
      case ExcelExportResult::TooLong:
        m_cuts.add(u"formulas too long for an Excel record, saved as values", where);
        break;
      default:
        m_cuts.add(u"formulas Excel cannot express, saved as values", where);
        break;
    }
    return false;
  }
  const CellValue result0 = plainValue(formulaResult(record.value));
  m_rec.u16(static_cast<uint32_t>(row));
  m_rec.u16(static_cast<uint32_t>(column));
  m_rec.u16(xf);
  bool stringFollows = false;
  auto special = [&](uint16_t kind, uint8_t byte) {
    m_rec.u8(kind);
    m_rec.u8(0);
    m_rec.u8(byte);
    m_rec.u8(0);
    m_rec.u8(0);
    m_rec.u8(0);
    m_rec.u16(0xFFFF);
  };
  switch (result0.kind) {
    case ValueKind::Number:
    case ValueKind::DateTime:
      m_rec.f64(result0.number());
      break;
    case ValueKind::Logical:
      special(ResultLogical, static_cast<uint8_t>(result0.u32()));
      break;
    case ValueKind::Error:
      special(ResultError, static_cast<uint8_t>(result0.u32()));
      break;
    case ValueKind::Text:
      // Excel 97 marks the empty text without a STRING record; Excel 95 has no such mark.
      if (m_biff8 && textOf(result0).empty()) {
        special(ResultEmpty, 0);
      } else {
        special(ResultText, 0);
        stringFollows = true;
      }
      break;
    default:
      m_rec.f64(0);
      break;
  }
  m_rec.u16(0);
  m_rec.u32(0);
  m_rec.u16(static_cast<uint32_t>(excel.size()));
  m_rec.bytes(excel.data(), excel.size());
  if (!arrays.empty()) m_rec.bytes(arrays.data(), arrays.size());
  emit(Out::Formula);
  if (stringFollows) formulaString(textOf(result0), cellName(s.index, column, row));
  return true;
}

// STRING: a formula's text result. Excel 97 continues a long one in CONTINUE records,
// each starting with the characters' option byte; Excel 95 holds 255 characters.
void ExcelWriter::formulaString(std::u16string_view t, std::u16string_view where) {
  if (!m_biff8) {
    text(t, 2, MaxLabel, u"texts longer than 255 characters, cut", where);
    emit(Out::String);
    return;
  }
  if (t.size() > MaxExcelText) {
    setError(Err::FileWrite);
    return;
  }
  m_rec.u16(static_cast<uint32_t>(t.size()));
  m_rec.u8(1);
  uint16_t type = Out::String;
  for (;;) {
    const size_t n = std::min(t.size(), (Biff8RecordLimit - m_rec.size()) / 2);
    for (size_t i = 0; i < n; ++i) m_rec.u16(t[i]);
    t.remove_prefix(n);
    emit(type);
    if (t.empty()) return;
    type = Out::Continue;
    m_rec.u8(1);
  }
}

void ExcelWriter::view(const Sheet& s, bool active) {
  const SheetView& v = s.view;
  const bool frozen = v.rowsFrozen || v.columnsFrozen;
  uint16_t options = 0x00A0;
  if (v.showGridlines) options |= 0x0002;
  if (v.showHeaders) options |= 0x0004;
  if (v.showZeros) options |= 0x0010;
  if (active) options |= 0x0600;
  if (frozen) options |= 0x0108;
  const uint16_t top = v.rowsFrozen ? v.frozenFirstRow : v.topRow;
  const uint16_t left = v.columnsFrozen ? v.frozenFirstColumn : v.leftColumn;
  m_rec.u16(options);
  m_rec.u16(top);
  m_rec.u16(left);
  if (m_biff8) {
    m_rec.u16(64);
    m_rec.u16(0);
    m_rec.u16(0);
    m_rec.u16(0);
    m_rec.u32(0);
  } else {
    m_rec.u32(64);
  }
  emit(Out::Window2);

  const uint32_t zoom = std::clamp<uint32_t>(v.zoom, 10, 400);
  const uint32_t divisor = std::gcd(zoom, 100u);
  m_rec.u16(zoom / divisor);
  m_rec.u16(100 / divisor);
  emit(Out::Scl);

  uint8_t pane = 3;
  if (frozen) {
    const uint32_t columns = v.columnsFrozen ? v.frozenLastColumn - v.frozenFirstColumn + 1u : 0;
    const uint32_t rows = v.rowsFrozen ? v.frozenLastRow - v.frozenFirstRow + 1u : 0;
    pane = v.rowsFrozen && v.columnsFrozen ? 0 : v.columnsFrozen ? 1 : 2;
    m_rec.u16(columns);
    m_rec.u16(rows);
    m_rec.u16(v.rowsFrozen ? std::max<uint32_t>(v.topRow, v.frozenLastRow + 1u) : 0);
    m_rec.u16(v.columnsFrozen ? std::max<uint32_t>(v.leftColumn, v.frozenLastColumn + 1u) : 0);
    m_rec.u8(pane);
    m_rec.u8(0);
    emit(Out::Pane);
  }

  const Selection& sel = s.selection;
  m_rec.u8(pane);
  m_rec.u16(sel.activeRow);
  m_rec.u16(static_cast<uint32_t>(std::clamp<int32_t>(sel.activeColumn, 0, MaxColumns - 1)));
  m_rec.u16(0);
  m_rec.u16(1);
  m_rec.u16(sel.firstRow);
  m_rec.u16(sel.lastRow);
  m_rec.u8(static_cast<uint32_t>(std::clamp<int32_t>(sel.firstColumn, 0, MaxColumns - 1)));
  m_rec.u8(static_cast<uint32_t>(std::clamp<int32_t>(sel.lastColumn, 0, MaxColumns - 1)));
  emit(Out::Selection);
}

// MERGEDCELLS: as many records of 999 ranges as the sheet needs.
void ExcelWriter::merged(const Sheet& s) {
  const int32_t count = s.mergedAreas.size();
  for (int32_t at = 0; at < count; at += static_cast<int32_t>(MergedPerRecord)) {
    const int32_t n = std::min<int32_t>(static_cast<int32_t>(MergedPerRecord), count - at);
    m_rec.u16(static_cast<uint32_t>(n));
    for (int32_t i = at; i < at + n; ++i) {
      const Area& a = s.mergedAreas[i];
      m_rec.u16(a.firstRow);
      m_rec.u16(a.lastRow);
      m_rec.u16(a.firstColumn);
      m_rec.u16(a.lastColumn);
    }
    emit(Out::MergedCells);
  }
}

// A validation formula: an explicit list as one text of NUL-separated items, else the
// rule's compiled formula. False when it cannot be written.
bool ExcelWriter::validationFormula(uint32_t handle, const ValidationRule& rule, bool first, CellPosition at) {
  std::vector<uint8_t> excel;
  if (first && (rule.flags & ValidationExplicitList)) {
    std::u16string items;
    for (size_t i = 0; i < rule.list.size(); ++i) {
      if (i) items.push_back(u'\0');
      items += rule.list[i];
    }
    if (items.size() > 255) return false;
    excel.push_back(Ptg::Str);
    excel.push_back(static_cast<uint8_t>(items.size()));
    excel.push_back(1);
    for (char16_t c : items) {
      excel.push_back(static_cast<uint8_t>(c));
      excel.push_back(static_cast<uint8_t>(c >> 8));
    }
  } else if (handle != NoHandle) {
    uint32_t length;
    const uint8_t* tokens = formulaBytes(handle, length);
    if (!tokens ||
        convertToExcelFormula(tokens, length, at, ExcelExportKind::Rule, m_context, excel) != ExcelExportResult::Written)
      return false;
  }
  m_rec.u16(static_cast<uint32_t>(excel.size()));
  m_rec.u16(0);
  m_rec.bytes(excel.data(), excel.size());
  return true;
}

// DVAL and a DV per rule: options, the four texts (an absent one is a single NUL), the
// two formulas and the areas.
void ExcelWriter::validations(const Sheet& s) {
  std::vector<std::vector<uint8_t>> records;
  for (const ValidationEntry& entry : s.validations) {
    if (entry.areas.empty()) continue;
    const ValidationRule& rule = entry.rule;
    m_rec.u32(rule.flags);
    for (const std::u16string* t : {&rule.inputTitle, &rule.errorTitle, &rule.inputMessage, &rule.errorMessage}) {
      if (t->empty()) {
        m_rec.u16(1);
        m_rec.u8(0);
        m_rec.u8(0);
      } else {
        text(*t, 2, MaxDvText, u"validation texts longer than 255 characters", s.name);
      }
    }
    const Area& first = entry.areas.front();
    const CellPosition at{first.firstColumn, first.firstRow, static_cast<uint16_t>(s.index)};
    if (!validationFormula(rule.formula1, rule, true, at) || !validationFormula(rule.formula2, rule, false, at) ||
        m_rec.size() + 2 + 8 * entry.areas.size() > Biff8RecordLimit) {
      m_rec.clear();
      m_cuts.add(u"validation rules Excel cannot express", cellName(s.index, first.firstColumn, first.firstRow));
      continue;
    }
    m_rec.u16(static_cast<uint32_t>(entry.areas.size()));
    for (const Area& a : entry.areas) {
      m_rec.u16(a.firstRow);
      m_rec.u16(a.lastRow);
      m_rec.u16(a.firstColumn);
      m_rec.u16(a.lastColumn);
    }
    records.emplace_back(m_rec.data(), m_rec.data() + m_rec.size());
    m_rec.clear();
  }
  if (records.empty()) return;
  m_rec.u16(0);
  m_rec.u32(0);
  m_rec.u32(0);
  m_rec.u32(0xFFFFFFFF);
  m_rec.u32(static_cast<uint32_t>(records.size()));
  emit(Out::DVal);
  for (const std::vector<uint8_t>& record : records) {
    m_rec.bytes(record.data(), record.size());
    emit(Out::Dv);
  }
}

// The hidden data sheet: its text cells, nothing more than a reader needs.
void ExcelWriter::dataSheet() {
  m_stream.patch32(m_sheetPositions.back(), static_cast<uint32_t>(m_stream.size()));
  bof(WorksheetSubstream);
  uint32_t lastRow = 0, lastColumn = 0;
  for (const DataCell& cell : m_dataCells) {
    lastRow = std::max<uint32_t>(lastRow, cell.row);
    lastColumn = std::max<uint32_t>(lastColumn, cell.column);
  }
  if (m_biff8) {
    m_rec.u32(0);
    m_rec.u32(lastRow + 1);
  } else {
    m_rec.u16(0);
    m_rec.u16(lastRow + 1);
  }
  m_rec.u16(0);
  m_rec.u16(lastColumn + 1);
  m_rec.u16(0);
  emit(Out::Dimensions);
  for (const DataCell& cell : m_dataCells) {
    m_rec.u16(cell.row);
    m_rec.u16(cell.column);
    m_rec.u16(NoStyleXf);
    if (m_biff8) {
      m_rec.u32(addString(cell.text));
      emit(Out::LabelSst);
    } else {
      text(cell.text, 2, MaxLabel, u"task names or menu texts longer than 255 characters, cut", cell.text);
      emit(Out::Label);
    }
  }
  m_rec.u16(0x00B6);
  m_rec.u16(0);
  m_rec.u16(0);
  if (m_biff8) {
    m_rec.u16(64);
    m_rec.fill(0, 10);
  } else {
    m_rec.u32(64);
  }
  emit(Out::Window2);
  emit(Out::Eof);
}

}  // namespace kelp::excel
