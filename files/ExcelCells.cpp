// The Excel reader's worksheet records: cells of every kind, formulas with their cached
// results and shared formulas, rows, columns, the view, merged areas, validation and
// print settings; and the text cells of the hidden data sheet.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "files/ExcelReaderInternal.h"
#include "model/HandlePool.h"
#include "platform/ErrorState.h"

namespace kelp::excel {

namespace {

// 1 January 1904, the first day of the Macintosh date system, in Kelp's serials.
constexpr double Epoch1904 = 1462;
constexpr uint8_t PtgExp = 0x01, PtgStr = 0x17;
constexpr uint16_t FormulaAlwaysCalc = 0x0001, FormulaCalcOnLoad = 0x0002;
constexpr uint16_t RowHasStyle = 0x0080;
constexpr uint32_t ValidationExplicitList = 0x80;

// An RK number: a 30-bit integer or the high 30 bits of a double, either over 100.
double rkNumber(uint32_t rk) {
  double d;
  if (rk & 2) {
    d = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFC) << 32;
    std::memcpy(&d, &bits, 8);
  }
  return (rk & 1) ? d / 100 : d;
}

}  // namespace

bool ExcelReader::cellStyle(uint16_t xf, int16_t& style) const {
  if (xf >= m_xfStyles.size()) return false;
  style = m_xfStyles[xf];
  return true;
}

// A number under a date or time format is a date in Kelp, and the 1904 system's days
// count from four years later.
CellValue ExcelReader::numberValueFor(double number, int16_t style) const {
  const StyleRecord& s = m_book.style(style);
  bool date = s.numberFormat < m_book.numberFormats.size() &&
              m_book.numberFormats[s.numberFormat].kind == FormatKind::DateTime;
  if (!date) return numberValue(number);
  return dateTimeValue(m_date1904 ? number + Epoch1904 : number);
}

bool ExcelReader::putCell(uint32_t column, uint32_t row, CellValue value, int16_t style) {
  // A chart sheet is read for its settings; it has no cells.
  if (!m_sheet || m_part != Part::Worksheet || column >= static_cast<uint32_t>(MaxColumns)) {
    releaseValue(value);
    return true;
  }
  if (value.kind != ValueKind::Empty) {
    const Row* r = m_sheet->rowAt(static_cast<int32_t>(row));
    if (!r || r->cells.size() == 0) reserveRow(row);
  }
  return m_sheet->setCell(static_cast<int32_t>(column), static_cast<int32_t>(row), CellRecord{value, style}) ||
         !pendingError();
}

// A failed reservation leaves the error for the cell's own write to meet.
void ExcelReader::reserveRow(uint32_t row) {
  const uint32_t known = std::min<uint32_t>(m_rowExtentCount, m_rowExtents.size());
  for (uint32_t i = 0; i < known; ++i) {
    const RowExtent& extent = m_rowExtents[i];
    if (extent.row != row) continue;
    if (Row* r = m_sheet->ensureRow(static_cast<int32_t>(row))) (void)r->cells.reserve(extent.end - extent.first);
    return;
  }
}

// Row, column and XF of a cell record; false when the record is short or names a cell
// or format the file does not have, and the cell is left out.
bool ExcelReader::readCellHead(RecordIn& in, uint32_t& column, uint32_t& row, int16_t& style) {
  row = in.u16();
  column = in.u16();
  uint16_t xf = in.u16();
  return !in.bad() && column < static_cast<uint32_t>(MaxColumns) && cellStyle(xf, style);
}

bool ExcelReader::sheetRecord(uint16_t type, RecordIn& in) {
  switch (type) {
    case Record::Label:
    case Record::RString:
      // A long text goes on in CONTINUE records, so the cell waits for them.
      // The length first: span() moves past the bytes, and argument order is the compiler's.
      {
        const uint32_t length = in.left();
        m_continued.start(in.span(length), length, m_biff8);
      }
      m_continuedType = Record::Label;
      return true;
    case Record::Blank:
    case Record::Number:
    case Record::Rk:
    case Record::LabelSst:
    case Record::BoolErr:
      return readCell(type, in);
    case Record::MulRk:
    case Record::MulBlank:
      return readCellRun(type, in);
    case Record::Formula:
    case Record::Formula3:
    case Record::Formula4:
      return readFormula(in);
    case Record::ShrFmla:
      return readSharedFormula(in);
    case Record::String:
      if (m_stringPending) {
        // The length first: span() moves past the bytes, and argument order is the compiler's.
        {
          const uint32_t length = in.left();
          m_continued.start(in.span(length), length, m_biff8);
        }
        m_continuedType = Record::String;
      }
      return true;
    case Record::Row:
      return readRow(in);
    case Record::ColInfo:
      return readColumnInfo(in);
    case Record::Window2:
      readWindow2(in);
      return true;
    case Record::Pane:
      readPane(in);
      return true;
    case Record::Selection:
      readSelection(in);
      return true;
    case Record::Scl:
      readZoom(in);
      return true;
    case Record::MergedCells:
      return readMerged(in);
    case Record::Dv:
      return !m_biff8 || readValidation(in);
    case Record::Protect:
      if (m_sheet) m_sheet->isProtected = in.u16() == 1;
      return true;
    case Record::ExternSheet:
      if (!m_biff8) readExternSheet(in);
      return true;
    case Record::ExternName:
      if (!m_biff8) readExternName(in);
      return true;
    case Record::Header:
    case Record::Footer:
      readPageText(type, in);
      return true;
    case Record::LeftMargin:
    case Record::RightMargin:
    case Record::TopMargin:
    case Record::BottomMargin:
    case Record::PageSetup:
      readPrintSetting(type, in);
      return true;
    default:
      return true;
  }
}

// BLANK, NUMBER, RK, LABELSST and BOOLERR: one cell each, after its row, column and XF.
bool ExcelReader::readCell(uint16_t type, RecordIn& in) {
  uint32_t column, row;
  int16_t style;
  if (!readCellHead(in, column, row, style)) return true;
  CellValue value = emptyValue();
  switch (type) {
    case Record::Number:
      value = numberValueFor(in.f64(), style);
      break;
    case Record::Rk:
      value = numberValueFor(rkNumber(in.u32()), style);
      break;
    case Record::LabelSst: {
      uint32_t index = in.u32();
      if (in.bad() || index >= m_sst.size()) return true;
      value = wordValue(ValueKind::Text, textPool().addRef(m_sst[index]));
      break;
    }
    case Record::BoolErr: {
      uint8_t code = in.u8();
      bool isError = in.u8() != 0;
      value = isError ? wordValue(ValueKind::Error, code) : logicalValue(code != 0);
      break;
    }
    default:
      break;
  }
  if (in.bad()) return true;  // a shared string's reference is taken last
  return putCell(column, row, value, style);
}

// MULRK and MULBLANK: a row, the first column, then an XF (and an RK number) per cell,
// then the last column.
bool ExcelReader::readCellRun(uint16_t type, RecordIn& in) {
  uint32_t row = in.u16();
  uint32_t column = in.u16();
  const uint32_t itemSize = type == Record::MulRk ? 6 : 2;
  if (in.bad() || in.left() < 2) return true;
  const uint32_t count = (in.left() - 2) / itemSize;
  for (uint32_t i = 0; i < count && column + i < static_cast<uint32_t>(MaxColumns); ++i) {
    uint16_t xf = in.u16();
    uint32_t rk = type == Record::MulRk ? in.u32() : 0;
    int16_t style;
    if (!cellStyle(xf, style)) continue;
    CellValue value = type == Record::MulRk ? numberValueFor(rkNumber(rk), style) : emptyValue();
    if (!putCell(column + i, row, value, style)) return false;
  }
  return true;
}

// LEFTMARGIN to BOTTOMMARGIN (a double each) and Kelp's own page setup record.
void ExcelReader::readPrintSetting(uint16_t type, RecordIn& in) {
  if (!m_sheet) return;
  PrintSettings& print = m_sheet->print;
  if (type == Record::PageSetup) {
    uint8_t setup[sizeof print.pageSetup];
    if (in.take(setup, sizeof setup)) std::memcpy(print.pageSetup, setup, sizeof setup);
    return;
  }
  double margin = in.f64();
  if (in.bad() || !std::isfinite(margin) || margin < 0) return;
  double* margins[4] = {&print.leftMargin, &print.rightMargin, &print.topMargin, &print.bottomMargin};
  *margins[type - Record::LeftMargin] = margin;
}

// FORMULA: cell, XF, cached result, options, then the tokens. The cell shows the cached
// result until it is calculated; a formula Kelp cannot express keeps only that result.
bool ExcelReader::readFormula(RecordIn& in) {
  m_stringPending = false;
  if (m_part != Part::Worksheet) return true;
  uint32_t column, row;
  int16_t style;
  if (!readCellHead(in, column, row, style)) return true;
  uint8_t result[8];
  in.take(result, 8);
  uint16_t options = in.u16();
  in.u32();
  uint32_t length = in.u16();
  const uint8_t* tokens = in.span(length);
  if (!tokens) return true;
  CellValue cached = emptyValue();
  if (result[6] == 0xFF && result[7] == 0xFF) {
    switch (result[0]) {
      case 0:  // a text, in the STRING record that follows
        cached = wordValue(ValueKind::Text, NoHandle);
        m_stringPending = true;
        m_stringColumn = static_cast<uint16_t>(column);
        m_stringRow = static_cast<uint16_t>(row);
        break;
      case 1:
        cached = logicalValue(result[2] != 0);
        break;
      case 2:
        cached = wordValue(ValueKind::Error, result[2]);
        break;
      case 3:  // the empty text, with no STRING record
        cached = wordValue(ValueKind::Text, NoHandle);
        break;
      default:
        break;
    }
  } else {
    double number;
    std::memcpy(&number, result, 8);
    cached = numberValueFor(number, style);
  }
  if (!putCell(column, row, cached, style)) return false;
  const uint16_t c = static_cast<uint16_t>(column), r = static_cast<uint16_t>(row);
  if (length >= 5 && tokens[0] == PtgExp) {
    // A cell of a shared formula: its tokens come (or came) in the SHRFMLA of the range.
    uint16_t hostRow = static_cast<uint16_t>(tokens[1] | tokens[2] << 8);
    uint16_t hostColumn = static_cast<uint16_t>(tokens[3] | tokens[4] << 8);
    auto found = m_shared.find(cellKey(hostColumn, hostRow));
    if (found == m_shared.end()) {
      m_awaiting[cellKey(hostColumn, hostRow)].push_back(CellKey{c, r});
      return true;
    }
    const SharedFormula& shared = found->second;
    if (!shared.range.contains(c, r) || shared.tokens == NoHandle) {
      // A cell outside its shared formula's range is damage; it keeps its cached value.
      m_unsupportedFormula = true;
      return true;
    }
    if (options & (FormulaAlwaysCalc | FormulaCalcOnLoad)) m_recalculate = true;
    return attachFormula(c, r, formulaPool().addRef(shared.tokens));
  }
  // The rest of the record is the constant data of the formula's arrays.
  const uint32_t extraLength = in.left();
  const uint8_t* extra = in.span(extraLength);
  uint32_t handle = convert(tokens, length, CellPosition{c, r, static_cast<uint16_t>(m_sheet ? m_sheet->index : 0)},
                            ExcelFormulaKind::Cell, extra, extraLength);
  if (pendingError()) return false;
  if (handle == NoHandle) return true;
  if (options & (FormulaAlwaysCalc | FormulaCalcOnLoad)) m_recalculate = true;
  return attachFormula(c, r, handle);
}

// Turns the value cell just written into a formula whose cached result is that value;
// takes over one reference to `tokens`.
bool ExcelReader::attachFormula(uint16_t column, uint16_t row, uint32_t tokens) {
  const CellRecord* slot = m_sheet ? m_sheet->cellPtr(column, row) : nullptr;
  if (!slot || slot->value.kind == ValueKind::Formula) {
    formulaPool().release(tokens);
    return true;
  }
  CellRecord record = *slot;
  CellValue formula = newFormulaValue(tokens, CellPosition{column, row, static_cast<uint16_t>(m_sheet->index)});
  if (formula.kind != ValueKind::Formula) {
    formulaPool().release(tokens);
    return false;
  }
  // The write releases the slot's value, so the formula's result takes a reference of its own.
  copyValue(record.value, formulaResult(formula));
  record.value = formula;
  return m_sheet->setCell(column, row, record) || !pendingError();
}

// SHRFMLA: the range of a shared formula and its tokens, converted once for every cell
// of the range that refers to it.
bool ExcelReader::readSharedFormula(RecordIn& in) {
  SharedFormula shared;
  shared.range.firstRow = in.u16();
  shared.range.lastRow = in.u16();
  shared.range.firstColumn = in.u8();
  shared.range.lastColumn = in.u8();
  in.u16();  // reserved and the count of cells using it
  uint32_t length = in.u16();
  const uint8_t* tokens = in.span(length);
  if (!tokens || !m_sheet || m_part != Part::Worksheet || shared.range.firstRow > shared.range.lastRow ||
      shared.range.firstColumn > shared.range.lastColumn)
    return true;
  const CellPosition host{shared.range.firstColumn, shared.range.firstRow, static_cast<uint16_t>(m_sheet->index)};
  const uint32_t extraLength = in.left();
  const uint8_t* extra = in.span(extraLength);
  shared.tokens = convert(tokens, length, host, ExcelFormulaKind::Shared, extra, extraLength);
  if (pendingError()) return false;
  const uint32_t key = cellKey(shared.range.firstColumn, shared.range.firstRow);
  auto [at, added] = m_shared.try_emplace(key, shared);
  if (!added) {
    formulaPool().release(at->second.tokens);
    at->second = shared;
  }
  // The cells that named this formula before it came, normally only the first one.
  auto waiting = m_awaiting.find(key);
  if (waiting == m_awaiting.end()) return true;
  std::vector<CellKey> cells = std::move(waiting->second);
  m_awaiting.erase(waiting);
  for (const CellKey& cell : cells) {
    if (!shared.range.contains(cell.column, cell.row) || shared.tokens == NoHandle) {
      m_unsupportedFormula = true;
      continue;
    }
    if (!attachFormula(cell.column, cell.row, formulaPool().addRef(shared.tokens))) return false;
  }
  return true;
}

// STRING (with its CONTINUE records): the text result of the formula just read.
std::u16string ExcelReader::continuedText(uint32_t count) {
  ContinuedBytes& in = m_continued;
  if (m_biff8) {
    uint8_t options = in.u8();
    return in.chars(count, options & 0x01);
  }
  std::u16string text;
  std::u16string bytes = in.chars(count, false);
  for (char16_t c : bytes) text.push_back(byteToChar(m_codePage, static_cast<uint8_t>(c)));
  return text;
}

bool ExcelReader::readLabel() {
  ContinuedBytes& in = m_continued;
  const uint32_t row = in.u16();
  const uint32_t column = in.u16();
  const uint16_t xf = in.u16();
  int16_t style;
  if (in.bad() || column >= static_cast<uint32_t>(MaxColumns) || !cellStyle(xf, style)) return true;
  std::u16string text = continuedText(in.u16());
  if (in.bad()) return true;
  limitText(text);
  CellValue value;
  makeText(value, text);
  if (pendingError()) return false;
  return putCell(column, row, value, style);
}

bool ExcelReader::readFormulaString() {
  m_stringPending = false;
  ContinuedBytes& in = m_continued;
  std::u16string text = continuedText(in.u16());
  if (in.bad() || !m_sheet) return true;
  limitText(text);
  CellValue value;
  makeText(value, text);
  if (pendingError()) return false;
  CellRecord* slot = m_sheet->cellPtr(m_stringColumn, m_stringRow);
  if (slot && slot->value.kind == ValueKind::Formula) {
    CellValue& result = formulaResult(slot->value);
    releaseValue(result);
    result = value;
    return true;
  }
  int16_t style = slot ? slot->style : -1;
  return putCell(m_stringColumn, m_stringRow, value, style);
}

// ROW: height, options and the row's XF.
bool ExcelReader::readRow(RecordIn& in) {
  uint16_t row = in.u16();
  uint16_t firstColumn = in.u16();
  uint16_t endColumn = in.u16();  // one past the last column used
  uint16_t height = in.u16();
  in.u32();
  uint16_t options = in.u16();
  uint16_t xf = in.u16();
  if (in.bad() || !m_sheet) return true;
  if (endColumn > firstColumn + 1 && endColumn <= MaxColumns)
    m_rowExtents[m_rowExtentCount++ % m_rowExtents.size()] = {row, firstColumn, endColumn};
  int16_t style = 0;
  if ((options & RowHasStyle) && !cellStyle(m_biff8 ? (xf & 0x0FFF) : xf, style)) style = 0;
  const uint16_t flags = options & 0x7F;
  const bool plain = (height & 0x7FFF) == m_sheet->defaultRowHeight && flags == 0 && style <= 0;
  if (plain && !m_sheet->rowExists(row)) return true;
  Row* r = m_sheet->ensureRow(row);
  if (!r) return false;
  r->height = height;
  r->flags = flags;
  r->style = style > 0 ? style : 0;
  return true;
}

// COLINFO: width, XF and options for a run of columns; Excel writes 256 as the last
// column of a run to the sheet's end.
bool ExcelReader::readColumnInfo(RecordIn& in) {
  uint32_t first = in.u16();
  uint32_t last = in.u16();
  uint32_t width = in.u16();
  uint16_t xf = in.u16();
  uint16_t options = in.u16();
  if (in.bad() || !m_sheet || first >= static_cast<uint32_t>(MaxColumns)) return true;
  last = std::min<uint32_t>(last, MaxColumns - 1);
  if (first > last) return true;
  int16_t style = 0;
  if (!cellStyle(xf, style)) style = 0;
  int32_t stored = width == m_sheet->columns.defaultWidth() ? -1 : static_cast<int32_t>(width);
  ColumnRecord record{stored, static_cast<int16_t>(style > 0 ? style : 0),
                      static_cast<uint16_t>(options & (ColumnFlag::Hidden | ColumnFlag::OutlineMask | 0x1000))};
  return m_sheet->columns.copyColumnRecord(static_cast<int32_t>(first), static_cast<int32_t>(last), record) ||
         !pendingError();
}

// WINDOW2: display switches, the first row and column shown, and whether the sheet is
// the selected one.
void ExcelReader::readWindow2(RecordIn& in) {
  uint16_t options = in.u16();
  uint16_t top = in.u16();
  uint16_t left = in.u16();
  if (in.bad() || !m_sheet) return;
  m_window2 = options;
  m_window2Top = top;
  m_window2Left = left < MaxColumns ? left : 0;
  SheetView& v = m_sheet->view;
  v.showGridlines = options & 0x0002;
  v.showHeaders = options & 0x0004;
  v.showZeros = options & 0x0010;
  v.topRow = top;
  v.leftColumn = m_window2Left;
}

// PANE: with frozen panes, the columns and rows frozen and the first ones scrolled.
void ExcelReader::readPane(RecordIn& in) {
  uint32_t columns = in.u16();
  uint32_t rows = in.u16();
  uint16_t top = in.u16();
  uint16_t left = in.u16();
  uint8_t active = in.u8();
  if (in.bad() || !m_sheet) return;
  m_activePane = active & 3;
  if (!(m_window2 & Window2::Frozen)) return;
  m_sheet->view.freezePanes(m_window2Left, m_window2Top, columns, rows, top, left);
}

// SELECTION: the pane, the active cell, and the selected ranges; the active pane's first
// range becomes the sheet's selection.
void ExcelReader::readSelection(RecordIn& in) {
  uint8_t pane = in.u8();
  uint16_t activeRow = in.u16();
  uint16_t activeColumn = in.u16();
  in.u16();
  uint16_t count = in.u16();
  uint16_t firstRow = in.u16(), lastRow = in.u16();
  uint8_t firstColumn = in.u8(), lastColumn = in.u8();
  if (in.bad() || count == 0 || !m_sheet || pane != m_activePane || firstRow > lastRow || firstColumn > lastColumn)
    return;
  m_sheet->selection = Selection::ofStored(Area{firstRow, firstColumn, lastRow, lastColumn}, activeColumn, activeRow);
}

// SCL: the zoom as a fraction.
void ExcelReader::readZoom(RecordIn& in) {
  uint32_t numerator = in.u16();
  uint32_t denominator = in.u16();
  if (in.bad() || denominator == 0 || !m_sheet) return;
  m_sheet->view.zoom = std::clamp<uint32_t>(numerator * 100 / denominator, 25, 200);
}

// MERGEDCELLS: a count, then first row, last row, first column, last column of each.
bool ExcelReader::readMerged(RecordIn& in) {
  uint32_t count = in.u16();
  for (uint32_t i = 0; i < count && in.left() >= 8 && m_sheet; ++i) {
    uint16_t r1 = in.u16(), r2 = in.u16(), c1 = in.u16(), c2 = in.u16();
    if (r1 > r2 || c1 > c2 || c2 >= MaxColumns) continue;
    Area area{r1, c1, r2, c2};
    if (m_sheet->findMergedEqual(area) < 0 && !m_sheet->mergedAreas.append(area)) return false;
  }
  return true;
}

// DV: a validation rule: options, prompt and error texts, two formulas and the ranges.
bool ExcelReader::readValidation(RecordIn& in) {
  ValidationEntry entry;
  ValidationRule& rule = entry.rule;
  rule.flags = in.u32();
  // Excel stores an absent text as a single NUL character.
  auto dvText = [&]() {
    std::u16string t = text(in, 2);
    if (t.size() == 1 && t[0] == 0) t.clear();
    limitText(t);
    return t;
  };
  rule.inputTitle = dvText();
  rule.errorTitle = dvText();
  rule.inputMessage = dvText();
  rule.errorMessage = dvText();
  const uint8_t* tokens[2];
  uint32_t lengths[2];
  for (int i = 0; i < 2; ++i) {
    lengths[i] = in.u16();
    in.u16();
    tokens[i] = in.span(lengths[i]);
  }
  uint32_t ranges = in.u16();
  for (uint32_t i = 0; i < ranges && in.left() >= 8; ++i) {
    uint16_t r1 = in.u16(), r2 = in.u16(), c1 = in.u16(), c2 = in.u16();
    if (r1 > r2 || c1 > c2 || c2 >= MaxColumns) continue;
    entry.areas.push_back(Area{r1, c1, r2, c2});
  }
  if (in.bad() || entry.areas.empty() || !m_sheet) return true;
  // The formulas are written as at the top-left cell of the first area (ptgRef as
  // positions, ptgRefN as offsets); read there, their relative parts become offsets from
  // the cell a rule tests, as Kelp keeps them.
  const Area& first = entry.areas.front();
  const CellPosition at{first.firstColumn, first.firstRow, static_cast<uint16_t>(m_sheet->index)};
  uint32_t handles[2] = {NoHandle, NoHandle};
  for (int i = 0; i < 2; ++i) {
    if (!tokens[i] || lengths[i] == 0) continue;
    if (i == 0 && (rule.flags & ValidationExplicitList) && lengths[0] >= 3 && tokens[0][0] == PtgStr) {
      // A list typed into the rule: one text whose items NUL characters separate.
      RecordIn list(tokens[0] + 1, lengths[0] - 1);
      std::u16string items = text(list, 1);
      size_t start = 0;
      for (size_t k = 0; k <= items.size(); ++k)
        if (k == items.size() || items[k] == 0) {
          rule.list.push_back(items.substr(start, k - start));
          start = k + 1;
        }
      continue;
    }
    handles[i] = convert(tokens[i], lengths[i], at, ExcelFormulaKind::Cell);
    if (pendingError()) {
      formulaPool().release(handles[0]);
      formulaPool().release(handles[1]);
      return false;
    }
  }
  rule.formula1 = handles[0];
  rule.formula2 = handles[1];
  m_sheet->validations.push_back(std::move(entry));
  return true;
}

// HEADER and FOOTER: the page header or footer text; an empty record means none.
void ExcelReader::readPageText(uint16_t type, RecordIn& in) {
  if (!m_sheet || in.left() == 0) return;
  std::u16string t = text(in, m_biff8 ? 2 : 1);
  if (in.bad()) return;
  limitText(t);
  (type == Record::Header ? m_sheet->print.header : m_sheet->print.footer) = std::move(t);
}

// The hidden data sheet holds texts only, and only they are kept.
bool ExcelReader::dataSheetRecord(uint16_t type, RecordIn& in) {
  uint32_t row = in.u16();
  uint32_t column = in.u16();
  in.u16();
  std::u16string value;
  switch (type) {
    case Record::Label:
    case Record::RString:
      value = text(in, 2);
      break;
    case Record::LabelSst: {
      uint32_t index = in.u32();
      if (in.bad() || index >= m_sst.size()) return true;
      value = textOf(wordValue(ValueKind::Text, m_sst[index]));
      break;
    }
    default:
      return true;
  }
  if (in.bad() || column >= static_cast<uint32_t>(MaxColumns)) return true;
  m_dataCells.push_back(DataCell{static_cast<uint16_t>(row), static_cast<uint16_t>(column), std::move(value)});
  return true;
}

}  // namespace kelp::excel
