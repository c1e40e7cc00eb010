// The Pocket Excel writer: the globals (names, fonts, formats, cell formats, sheet list),
// one substream per sheet, and the hidden data sheet with the workbook's tasks.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelDataSheet.h"
#include "files/ExcelFormula.h"
#include "files/ExcelWriterInternal.h"
#include "files/PocketExcel.h"
#include "files/PocketExcelRecords.h"
#include "format/ExcelFormatCodes.h"
#include "formula/FormulaText.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

using namespace pxl;

constexpr size_t MaxCount8 = 255;
constexpr uint8_t PtgAttr = 0x19, AttrVolatile = 0x01;
constexpr uint8_t PtgErr = 0x1C;

class PocketWriter {
 public:
  explicit PocketWriter(const Workbook& book) : m_book(book) {
    m_context.workbook = &book;
    m_context.biff8 = false;
    m_context.pocket = true;
    m_context.sheetCount = book.sheetCount();
  }

  const std::vector<uint8_t>& write() {
    size_t cells = 0;
    for (int32_t s = 0; s < m_book.sheetCount(); ++s) {
      const Sheet& sheet = *m_book.sheetAt(s);
      for (int32_t r = sheet.nextRow(-1); r != NoRow; r = sheet.nextRow(r)) cells += sheet.rowAt(r)->cells.size();
    }
    // Most cell records take 6 to 14 bytes; room for that at once spares the regrowth.
    m_out.reserve(cells * 16 + 65536);
    std::vector<std::u16string> sheetNames;
    for (int32_t s = 0; s < m_book.sheetCount(); ++s) sheetNames.push_back(m_book.sheetAt(s)->name);
    m_dataCells = excel::taskDataCells(m_book, sheetNames, m_cuts);
    globals();
    for (int32_t s = 0; s < m_book.sheetCount(); ++s) sheet(*m_book.sheetAt(s));
    if (!m_dataCells.empty()) dataSheet();
    return m_out;
  }

  const excel::CutList& cuts() const { return m_cuts; }

 private:
  void u8(uint32_t v) { m_out.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    m_out.insert(m_out.end(), b, b + 2);
  }
  void f64(double d) {
    uint8_t b[8];
    std::memcpy(b, &d, 8);
    m_out.insert(m_out.end(), b, b + 8);
  }
  void chars(std::u16string_view text) {
    for (char16_t c : text) u16(c);
  }
  // A text with a u16 count. One longer than the count holds would misframe every
  // record after it, so the save fails with error 14 instead.
  void text16(std::u16string_view text) {
    if (text.size() > 0xFFFF) setError(Err::FileWrite);
    u16(static_cast<uint32_t>(text.size()));
    chars(text);
  }
  // A text with a u8 count, cut to 255 characters with a note.
  void text8(std::u16string_view text, std::u16string_view what, std::u16string_view where) {
    if (text.size() > MaxCount8) {
      text = text.substr(0, MaxCount8);
      m_cuts.add(what, where);
    }
    u8(static_cast<uint32_t>(text.size()));
    chars(text);
  }

  void bof(uint16_t substream) {
    u8(Type::Bof);
    u16(WrittenVersion);
    u16(substream);
  }

  uint16_t styleIndex(int32_t style) const {
    return static_cast<uint16_t>(style > 0 && style < m_book.styles.size() ? style : 0);
  }

  std::u16string cellName(const Sheet& sheet, int32_t column, int32_t row) const {
    std::u16string letters;
    columnName(static_cast<uint16_t>(column), letters);
    const std::string digits = std::to_string(row + 1);
    return sheet.name + u"!" + letters + std::u16string(digits.begin(), digits.end());
  }

  void globals() {
    bof(GlobalsSubstream);
    u8(Type::CodePage);
    u16(m_book.codePage);
    u8(Type::Country);
    u16(1);
    u16(1);
    const Sheet* active = m_book.activeSheet();
    if (active && active->view.zoom != 100) {
      u8(Type::Scl);
      u16(active->view.zoom);
      u16(100);
    }
    names();
    u8(Type::Window1);
    u16(Window1Options);
    u16(static_cast<uint32_t>(std::max(m_book.activeSheetIndex(), 0)));
    for (int32_t i = 0; i < m_book.fonts.size(); ++i) font(m_book.fonts[i]);
    for (size_t i = 1; i < m_book.numberFormats.size(); ++i) {
      u8(Type::Format);
      text8(excelCodeFromRecord(m_book.numberFormats[i]), u"number format codes longer than 255 characters",
            excel::firstCellShowing(m_book, static_cast<uint32_t>(i)));
    }
    for (int32_t i = 0; i < m_book.styles.size(); ++i) xf(m_book.styles[i]);
    for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
      const Sheet& sheet = *m_book.sheetAt(i);
      if (sheet.visibility == SheetVisibility::Internal) m_cuts.add(u"very hidden sheets, saved as hidden", sheet.name);
      u8(Type::BoundSheet);
      u8(sheet.visibility == SheetVisibility::Visible ? 0 : 1);
      text8(sheet.name, u"sheet names longer than 255 characters", sheet.name);
    }
    if (!m_dataCells.empty()) {
      u8(Type::BoundSheet);
      u8(1);
      text8(excel::KelpDataSheetName, {}, {});
    }
    u8(Type::Eof);
  }

  // One NAME per defined name, numbered in this order; a definition the format cannot
  // hold becomes #REF!, so that formulas naming it keep their place.
  void names() {
    m_context.nameNumbers.assign(m_book.names.size(), 0);
    std::vector<size_t> order;
    for (size_t i = 0; i < m_book.names.size(); ++i) {
      const DefinedName& name = m_book.names[i];
      if (name.text.empty() || name.definition == NoHandle) continue;
      if (name.text.size() > MaxCount8) {
        m_cuts.add(u"names longer than 255 characters", name.text.substr(0, 31));
        continue;
      }
      order.push_back(i);
      m_context.nameNumbers[i] = static_cast<uint16_t>(order.size());
    }
    for (size_t i : order) {
      const DefinedName& name = m_book.names[i];
      uint32_t length;
      const uint8_t* tokens = excel::formulaBytes(name.definition, length);
      std::vector<uint8_t> bytes;
      ExcelExportResult result = tokens ? convertToExcelFormula(tokens, length, CellPosition{}, ExcelExportKind::Name,
                                                                m_context, bytes)
                                        : ExcelExportResult::Malformed;
      if (result == ExcelExportResult::Written && bytes.size() > 0xFFFF) result = ExcelExportResult::TooLong;
      if (result != ExcelExportResult::Written) {
        bytes = {PtgErr, static_cast<uint8_t>(CellError::Ref)};
        m_cuts.add(u"names whose definitions Pocket Excel cannot hold, written as #REF!", name.text);
      }
      u8(Type::Name);
      u16(0);
      u8(static_cast<uint32_t>(name.text.size()));
      u16(static_cast<uint32_t>(bytes.size()));
      u16(0);
      chars(name.text);
      m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }
  }

  void font(const FontRecord& f) {
    u8(Type::Font);
    u16(f.height);
    u16(f.options & (FontOption::Bold | FontOption::Italic));
    u16(static_cast<uint16_t>(f.color - PaletteShift));
    u16(f.weight);
    u16(0);
    u8(f.underline);
    u8(f.family);
    u8(f.charset);
    u8(0);
    u8(f.faceNameLength);
    chars(f.face());
  }

  // XF: font, format, protection, alignment with the border bits, fill colour and the
  // border markers. A style without a fill pattern writes no fill colour.
  void xf(const StyleRecord& s) {
    u8(Type::Xf);
    u16(s.font < m_book.fonts.size() ? s.font : 0);
    u16(s.numberFormat == 0 || s.numberFormat >= m_book.numberFormats.size() ? 0u
                                                                              : s.numberFormat + FirstFormatNumber - 1u);
    u16(0xFFFF);
    u16(0xFFFF);
    u8((s.locked() ? XfLocked : 0) | (s.formulaHidden() ? XfHidden : 0));
    u8(0);
    const bool top = s.borderStyle(Edge::Top) != 0, left = s.borderStyle(Edge::Left) != 0,
               bottom = s.borderStyle(Edge::Bottom) != 0, right = s.borderStyle(Edge::Right) != 0;
    u16((s.alignment & 0x7Fu) + AlignmentBias + (top ? BorderTop : 0u) + (left ? BorderLeft : 0u) +
        (bottom ? BorderBottom : 0u) + (right ? BorderRight : 0u));
    u16(255);
    const int fill = s.fillForeground() - PaletteShift;
    u16(s.fillPattern() == 0 || fill < 0 || fill >= 56 ? NoFill : static_cast<uint32_t>(fill));
    for (bool edge : {top, left, bottom, right}) u8(edge ? BorderMarker : NoBorderMarker);
    u16(0);
  }

  void sheet(const Sheet& s) {
    if (!s.validations.empty()) m_cuts.add(u"validation rules, which Pocket Excel files do not have", s.name);
    bof(WorksheetSubstream);
    columns(s);
    for (int32_t r = s.nextRow(-1); r != NoRow; r = s.nextRow(r)) {
      const Row* row = s.rowAt(r);
      u8(Type::Row);
      u16(static_cast<uint32_t>(r));
      u16(row->height);
      const uint16_t flags = row->flags & (RowOutline | RowFlag::Hidden | RowFlag::ExplicitHeight);
      u16(static_cast<uint32_t>(flags | (row->style > 0 ? RowHasStyle : 0)));
      u16(styleIndex(row->style));
      for (int32_t c = row->firstColumn(); c < row->cells.size(); ++c) {
        const CellRecord& cell = row->cells[c];
        if (cell.value.kind == ValueKind::Empty && cell.style <= 0) continue;
        if (cell.value.kind == ValueKind::Formula && formulaCell(s, c, r, cell)) continue;
        valueCell(c, r, styleIndex(cell.style), effectiveValue(cell.value));
      }
    }
    view(s);
    u8(Type::Eof);
  }

  void columns(const Sheet& s) {
    int32_t first, last;
    ColumnRecord record;
    for (int32_t start = 0; s.columns.nextColumnRun(start, first, last, record); start = last + 1) {
      u8(Type::ColInfo);
      u16(static_cast<uint32_t>(first));
      u16(static_cast<uint32_t>(last));
      u16(record.width < 1 ? s.columns.defaultWidth() : static_cast<uint32_t>(std::min(record.width, 0xFFFF)));
      u16(styleIndex(record.style));
      u8(record.flags & ColumnFlag::Hidden ? ColumnHidden : 0);
    }
  }

  void cellHead(uint8_t type, int32_t column, int32_t row, uint16_t style) {
    u8(type);
    u16(static_cast<uint32_t>(row));
    u8(static_cast<uint32_t>(column));
    u16(style);
  }

  void valueCell(int32_t column, int32_t row, uint16_t style, const CellValue& value) {
    switch (value.kind) {
      case ValueKind::Number:
      case ValueKind::DateTime:
        cellHead(Type::Number, column, row, style);
        f64(value.number());
        return;
      case ValueKind::Integer:
        cellHead(Type::Number, column, row, style);
        f64(value.i32());
        return;
      case ValueKind::Logical:
      case ValueKind::Error:
        cellHead(Type::BoolErr, column, row, style);
        u8(value.u32());
        u8(value.kind == ValueKind::Error ? 1 : 0);
        return;
      case ValueKind::Text: {
        const std::u16string_view text = textOf(value);
        cellHead(Type::Label, column, row, style);
        text16(text);
        return;
      }
      default:
        cellHead(Type::Blank, column, row, style);
        return;
    }
  }

  // FORMULA with its cached result (a text result follows in STRING); false when the
  // formula has no Pocket form and the cell is to be written as its value.
  bool formulaCell(const Sheet& s, int32_t column, int32_t row, const CellRecord& cell) {
    uint32_t length;
    const uint8_t* tokens = excel::formulaBytes(formulaTokens(cell.value), length);
    m_formula.clear();
    const CellPosition at{static_cast<uint16_t>(column), static_cast<uint16_t>(row), static_cast<uint16_t>(s.index)};
    ExcelExportResult result = tokens ? convertToExcelFormula(tokens, length, at, ExcelExportKind::Cell, m_context,
                                                              m_formula)
                                      : ExcelExportResult::Malformed;
    if (result == ExcelExportResult::Written && m_formula.size() > 0xFFFF) result = ExcelExportResult::TooLong;
    if (result != ExcelExportResult::Written) {
      m_cuts.add(result == ExcelExportResult::RowOutOfReach
                     ? u"formulas reaching past row 16,384, which Pocket Excel cannot name, saved as values"
                     : u"formulas Pocket Excel cannot express, saved as values",
                 cellName(s, column, row));
      return false;
    }
    const CellValue& value = formulaResult(cell.value);
    cellHead(Type::Formula, column, row, styleIndex(cell.style));
    auto special = [&](uint8_t kind, uint8_t byte) {
      const uint8_t b[8] = {kind, 0, byte, 0, 0, 0, 0xFF, 0xFF};
      m_out.insert(m_out.end(), b, b + 8);
    };
    std::u16string_view text;
    bool stringFollows = false;
    switch (value.kind) {
      case ValueKind::Number:
      case ValueKind::DateTime: f64(value.number()); break;
      case ValueKind::Integer: f64(value.i32()); break;
      case ValueKind::Logical: special(ResultLogical, static_cast<uint8_t>(value.u32())); break;
      case ValueKind::Error: special(ResultError, static_cast<uint8_t>(value.u32())); break;
      case ValueKind::Text:
        text = textOf(value);
        stringFollows = !text.empty();
        special(stringFollows ? ResultText : ResultEmptyText, 0);
        break;
      default: f64(0); break;
    }
    const bool isVolatile = m_formula.size() >= 2 && m_formula[0] == PtgAttr && (m_formula[1] & AttrVolatile);
    u8(isVolatile ? FormulaVolatile : 0);
    u16(static_cast<uint32_t>(m_formula.size()));
    m_out.insert(m_out.end(), m_formula.begin(), m_formula.end());
    if (stringFollows) {
      u8(Type::String);
      text16(text);
    }
    return true;
  }

  // WINDOW2, SELECTION and, with frozen titles, PANE, laid out as the Excel writer lays
  // out the same view.
  void view(const Sheet& s) {
    const SheetView& v = s.view;
    const bool frozen = v.rowsFrozen || v.columnsFrozen;
    uint16_t options = 0;
    if (v.showGridlines) options |= Window2Gridlines;
    if (v.showHeaders) options |= Window2Headers;
    if (v.showZeros) options |= Window2Zeros;
    if (frozen) options |= Window2Frozen | Window2FrozenNoSplit;
    u8(Type::Window2);
    u16(options);
    u16(v.rowsFrozen ? v.frozenFirstRow : v.topRow);
    u8(std::min<uint32_t>(v.columnsFrozen ? v.frozenFirstColumn : v.leftColumn, MaxColumns - 1));

    const Selection& sel = s.selection;
    auto column = [](int32_t c) { return static_cast<uint32_t>(std::clamp<int32_t>(c, 0, MaxColumns - 1)); };
    u8(Type::Selection);
    u16(sel.activeRow);
    u8(column(sel.activeColumn));
    u16(sel.firstRow);
    u16(sel.lastRow);
    u8(column(sel.firstColumn));
    u8(column(sel.lastColumn));

    if (frozen) {
      u8(Type::Pane);
      u16(v.columnsFrozen ? v.frozenLastColumn - v.frozenFirstColumn + 1u : 0);
      u16(v.rowsFrozen ? v.frozenLastRow - v.frozenFirstRow + 1u : 0);
      u16(v.rowsFrozen ? std::max<uint32_t>(v.topRow, v.frozenLastRow + 1u) : 0);
      u16(v.columnsFrozen ? std::max<uint32_t>(v.leftColumn, v.frozenLastColumn + 1u) : 0);
      u8(v.rowsFrozen && v.columnsFrozen ? 0 : v.columnsFrozen ? 1 : 2);
    }
  }

  void dataSheet() {
    bof(WorksheetSubstream);
    for (const excel::DataSheetCell& cell : m_dataCells) {
      cellHead(Type::Label, cell.column, cell.row, 0);
      text16(cell.text);
    }
    u8(Type::Eof);
  }

  const Workbook& m_book;
  std::vector<uint8_t> m_out;
  std::vector<uint8_t> m_formula;
  excel::CutList m_cuts;
  ExcelExportContext m_context;
  std::vector<excel::DataSheetCell> m_dataCells;
};

}  // namespace

bool WritePocketExcel(Workbook& workbook, DocStream& stream) {
  PocketWriter writer(workbook);
  const std::vector<uint8_t>& bytes = writer.write();
  if (pendingError()) return false;
  stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (!writer.cuts().empty()) leaveNotice(static_cast<uint32_t>(Err::FormatCut), writer.cuts().describe());
  return !pendingError();
}

void installPocketExcelFormat() {
  installDocumentReader(DocFileType::PocketExcel,
                        [](Workbook& book, DocStream& stream, DocFileType) { return ReadPocketExcel(book, stream); },
                        MaxPocketExcelBytes);
  installDocumentWriter(DocFileType::PocketExcel,
                        [](Workbook& book, DocStream& stream, DocFileType) { WritePocketExcel(book, stream); });
}

}  // namespace kelp
