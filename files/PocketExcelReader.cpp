// The Pocket Excel reader: every record type of the format, its cells, formats, names,
// view settings and the tasks of the hidden data sheet.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelDataSheet.h"
#include "files/ExcelFormula.h"
#include "files/NativeFormat.h"
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

constexpr int32_t StandardFonts = 6;
constexpr int32_t MaxStyles = 0x7FFF;
constexpr uint16_t NameBuiltIn = 0x0020;
constexpr uint16_t FrozenPanes = Window2Frozen | Window2FrozenNoSplit;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

std::u16string utf16(const uint8_t* p, size_t count) {
  std::u16string out(count, u'\0');
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  if (out.size() > MaxStoredText) out.resize(MaxStoredText);
  return out;
}

class PocketReader {
 public:
  PocketReader(Workbook& book, const uint8_t* data, size_t size) : m_book(book), m_data(data), m_size(size) {
    m_context.workbook = &book;
    m_context.biff8 = false;
    m_context.pocket = true;
  }

  bool read() {
    if (m_size == 0 || m_data[0] != Type::Bof) return fail(Err::FileRead);
    m_book.fonts.clear();
    m_book.styles.clear();
    m_book.numberFormats = builtInFormats();
    m_book.lastBuiltInFormat = BuiltInFormat::Last;
    while (!m_finished) {
      if (m_at == m_size) return fail(Err::FileRead);  // the file ends inside a substream
      const uint8_t type = m_data[m_at++];
      const int32_t fixed = fixedSize(type);
      if (fixed < 0 || m_size - m_at < static_cast<size_t>(fixed)) return fail(Err::FileRead);
      const uint8_t* p = m_data + m_at;
      m_at += static_cast<size_t>(fixed);
      if (!record(type, p)) return false;
      if (pendingError()) return false;
    }
    finish();
    return !pendingError();
  }

 private:
  struct PendingName {
    int32_t index = -1;
    std::vector<uint8_t> tokens;
  };

  bool fail(Err code) {
    setError(code);
    return false;
  }

  // The variable part of a record: `count` more bytes, or null when the file ends first.
  const uint8_t* more(size_t count) {
    if (m_size - m_at < count) return nullptr;
    const uint8_t* p = m_data + m_at;
    m_at += count;
    return p;
  }

  bool record(uint8_t type, const uint8_t* p) {
    switch (type) {
      case Type::Bof: return beginSubstream(p);
      case Type::Eof: return endSubstream();
      case Type::FilePass: return fail(Err::PasswordProtected);
      case Type::Blank:
      case Type::Number:
      case Type::BoolErr: return plainCell(type, p);
      case Type::Label: return label(p);
      case Type::Formula: return formula(p);
      case Type::String: return formulaString(p);
      case Type::Row: return row(p);
      case Type::ColInfo: return columnInfo(p);
      case Type::Name: return name(p);
      case Type::Selection: selection(p); return true;
      case Type::Format: return format(p);
      case Type::Font: return font(p);
      case Type::Window1:
        if (!m_globalsRead) m_activeSheet = le16(p + 2);
        return true;
      case Type::Window2: window2(p); return true;
      case Type::Pane: pane(p); return true;
      case Type::CodePage:
        if (codePageSupported(le16(p))) m_book.codePage = le16(p);
        return true;
      case Type::BoundSheet: return boundSheet(p);
      case Type::Scl: zoom(p); return true;
      case Type::Xf: return xf(p);
      default:  // COUNTRY and the row and column defaults
        return true;
    }
  }

  // BOF: the globals first, then one worksheet substream per BOUNDSHEET entry in order.
  bool beginSubstream(const uint8_t* p) {
    if (le16(p) < FirstVersion) return fail(Err::Pxl1Format);
    if (m_depth > 0) return fail(Err::FileRead);
    m_depth = 1;
    m_stringPending = false;
    m_window2 = 0;
    if (!m_globalsRead) return true;
    if (m_nextSheet >= m_sheetNumbers.size()) return fail(Err::FileRead);
    const int32_t number = m_sheetNumbers[m_nextSheet++];
    m_inDataSheet = number < 0;
    m_sheet = number < 0 ? nullptr : m_book.sheetAt(number);
    return true;
  }

  bool endSubstream() {
    if (m_depth == 0) return fail(Err::FileRead);
    m_depth = 0;
    m_stringPending = false;
    if (!m_globalsRead) {
      m_globalsRead = true;
      if (!finishGlobals()) return false;
    }
    m_sheet = nullptr;
    m_inDataSheet = false;
    m_finished = m_nextSheet >= m_sheetNumbers.size();
    return true;
  }

  // A workbook needs fonts for its styles, a style for its cells and a sheet to show;
  // names are converted once every name and sheet is known.
  bool finishGlobals() {
    padFonts();
    if (m_book.styles.empty() && !m_book.styles.append(defaultStyleRecord())) return false;
    if (m_book.sheetCount() == 0) return fail(Err::FileRead);
    for (PendingName& pending : m_names) {
      if (pending.index < 0 || pending.tokens.empty()) continue;
      const uint32_t handle = convert(pending.tokens.data(), pending.tokens.size(), CellPosition{},
                                      ExcelFormulaKind::Name, m_book.names[static_cast<size_t>(pending.index)].text);
      if (pendingError()) return false;
      if (handle != NoHandle) m_book.setName(m_book.names[static_cast<size_t>(pending.index)].text, handle);
    }
    m_names.clear();
    return true;
  }

  void padFonts() {
    while (m_book.fonts.size() < StandardFonts) {
      const FontRecord font = m_book.fonts.size() > 0 ? m_book.fonts[0] : makeFont(u"Arial", 400, 0);
      if (!m_book.fonts.append(font)) return;
    }
  }

  void finish() {
    int32_t active = m_activeSheet < m_book.sheetCount() ? m_activeSheet : -1;
    if (active >= 0 && m_book.sheetAt(active)->visibility != SheetVisibility::Visible) active = -1;
    for (int32_t i = 0; active < 0 && i < m_book.sheetCount(); ++i)
      if (m_book.sheetAt(i)->visibility == SheetVisibility::Visible) active = i;
    m_book.setActiveSheet(active < 0 ? 0 : active);
    if (m_zoom) m_book.activeSheet()->view.zoom = m_zoom;
    excel::restoreDataSheetTasks(m_book, m_dataCells);
    if (!m_unsupportedAt.empty()) leaveNotice(static_cast<uint32_t>(Err::UnsupportedFormula), m_unsupportedAt);
  }

  uint32_t convert(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                   std::u16string_view where) {
    const uint32_t handle = convertExcelFormula(tokens, length, cell, kind, m_context);
    // A formula Kelp has no form for leaves the cached value, and the notice names the
    // first place; damaged tokens are damage of the file.
    if (pendingError() == static_cast<uint32_t>(Err::UnsupportedFormula)) {
      clearError();
      if (m_unsupportedAt.empty()) m_unsupportedAt = where.empty() ? u"?" : std::u16string(where);
    }
    return handle;
  }

  std::u16string cellName(uint32_t column, uint32_t row) const {
    std::u16string out = m_sheet ? m_sheet->name + u"!" : std::u16string();
    std::u16string letters;
    columnName(static_cast<uint16_t>(column), letters);
    const std::string digits = std::to_string(row + 1);
    return out + letters + std::u16string(digits.begin(), digits.end());
  }

  int16_t styleOf(uint16_t xf) const { return xf < m_xfStyles.size() ? m_xfStyles[xf] : 0; }

  CellValue numberFor(double number, int16_t style) const {
    const StyleRecord& s = m_book.style(style);
    const bool date = s.numberFormat < m_book.numberFormats.size() &&
                      m_book.numberFormats[s.numberFormat].kind == FormatKind::DateTime;
    return date ? dateTimeValue(number) : numberValue(number);
  }

  bool put(uint32_t column, uint32_t row, CellValue value, int16_t style) {
    if (!m_sheet) {
      releaseValue(value);
      return true;
    }
    return m_sheet->setCell(static_cast<int32_t>(column), static_cast<int32_t>(row), CellRecord{value, style}) ||
           !pendingError();
  }

  // BLANK, NUMBER and BOOLERR: u16 row, u8 column, u16 style, then the value.
  bool plainCell(uint8_t type, const uint8_t* p) {
    m_stringPending = false;
    const int16_t style = styleOf(le16(p + 3));
    CellValue value = emptyValue();
    if (type == Type::Number) {
      double number;
      std::memcpy(&number, p + 5, 8);
      value = numberFor(number, style);
    } else if (type == Type::BoolErr) {
      value = p[6] ? wordValue(ValueKind::Error, p[5]) : logicalValue(p[5] != 0);
    }
    return put(p[2], le16(p), value, style);
  }

  bool label(const uint8_t* p) {
    m_stringPending = false;
    const uint16_t count = le16(p + 5);
    const uint8_t* chars = more(2u * count);
    if (!chars) return fail(Err::FileRead);
    if (m_inDataSheet) {
      m_dataCells.push_back(excel::DataSheetCell{le16(p), p[2], utf16(chars, count)});
      return true;
    }
    if (!m_sheet) return true;
    CellValue value;
    makeText(value, utf16(chars, count));
    if (pendingError()) return false;
    return put(p[2], le16(p), value, styleOf(le16(p + 3)));
  }

  // FORMULA: the cell shows its cached result, which becomes the formula's result when
  // the tokens convert; a text result comes in the STRING record after it.
  bool formula(const uint8_t* p) {
    m_stringPending = false;
    const uint16_t length = le16(p + 14);
    const uint8_t* tokens = more(length);
    if (!tokens) return fail(Err::FileRead);
    const uint16_t r = le16(p), c = p[2];
    const int16_t style = styleOf(le16(p + 3));
    const uint8_t* result = p + 5;
    CellValue cached = emptyValue();
    if (result[6] == 0xFF && result[7] == 0xFF) {
      switch (result[0]) {
        case ResultText:
          cached = wordValue(ValueKind::Text, NoHandle);
          m_stringPending = true;
          m_stringColumn = c;
          m_stringRow = r;
          break;
        case ResultLogical: cached = logicalValue(result[2] != 0); break;
        case ResultError: cached = wordValue(ValueKind::Error, result[2]); break;
        case ResultEmptyText: cached = wordValue(ValueKind::Text, NoHandle); break;
        default: break;
      }
    } else {
      double number;
      std::memcpy(&number, result, 8);
      cached = numberFor(number, style);
    }
    if (!m_sheet) return true;
    const CellPosition at{c, r, static_cast<uint16_t>(m_sheet->index)};
    const uint32_t handle = convert(tokens, length, at, ExcelFormulaKind::Cell, cellName(c, r));
    if (pendingError()) return false;
    if (handle == NoHandle) return put(c, r, cached, style);
    CellValue value = newFormulaValue(handle, at);
    if (value.kind != ValueKind::Formula) {
      formulaPool().release(handle);
      return false;
    }
    formulaResult(value) = cached;  // a number, logical, error or text yet to come: nothing pooled
    return put(c, r, value, style);
  }

  bool formulaString(const uint8_t* p) {
    const uint16_t count = le16(p);
    const uint8_t* chars = more(2u * count);
    if (!chars) return fail(Err::FileRead);
    if (!m_stringPending || !m_sheet) return true;
    m_stringPending = false;
    CellValue text;
    makeText(text, utf16(chars, count));
    if (pendingError()) return false;
    CellRecord* slot = m_sheet->cellPtr(m_stringColumn, m_stringRow);
    if (slot && slot->value.kind == ValueKind::Formula) {
      CellValue& result = formulaResult(slot->value);
      releaseValue(result);
      result = text;
      return true;
    }
    return put(m_stringColumn, m_stringRow, text, slot ? slot->style : 0);
  }

  // ROW: height, flags (the outline level is not kept) and the row's style.
  bool row(const uint8_t* p) {
    m_stringPending = false;
    if (!m_sheet) return true;
    const uint16_t r = le16(p), height = le16(p + 2), flags = le16(p + 4);
    const int16_t style = (flags & RowHasStyle) ? styleOf(le16(p + 6)) : 0;
    const uint16_t kept = flags & (RowFlag::Hidden | RowFlag::ExplicitHeight);
    if (height == m_sheet->defaultRowHeight && kept == 0 && style <= 0 && !m_sheet->rowExists(r)) return true;
    Row* row = m_sheet->ensureRow(r);
    if (!row) return false;
    row->height = height;
    row->flags = kept;
    row->style = style > 0 ? style : 0;
    return true;
  }

  // COLINFO: width, style and hidden flag of a run of columns.
  bool columnInfo(const uint8_t* p) {
    m_stringPending = false;
    const uint32_t first = le16(p);
    const uint32_t last = std::min<uint32_t>(le16(p + 2), MaxColumns - 1);
    if (!m_sheet || first > last) return true;
    const uint16_t width = le16(p + 4);
    const int16_t style = styleOf(le16(p + 6));
    const ColumnRecord record{width == m_sheet->columns.defaultWidth() ? -1 : static_cast<int32_t>(width),
                              static_cast<int16_t>(style > 0 ? style : 0),
                              static_cast<uint16_t>(p[8] & ColumnHidden ? ColumnFlag::Hidden : 0)};
    return m_sheet->columns.copyColumnRecord(static_cast<int32_t>(first), static_cast<int32_t>(last), record) ||
           !pendingError();
  }

  // NAME: options, name length, formula length, sheet; the name; the tokens. Each record
  // keeps its place in the numbering formulas use, a dropped one as -1.
  bool name(const uint8_t* p) {
    const uint16_t options = le16(p);
    const uint8_t length = p[2];
    const uint16_t tokenLength = le16(p + 3);
    const uint8_t* text = more(2u * length);
    const uint8_t* tokens = text ? more(tokenLength) : nullptr;
    if (!tokens) return fail(Err::FileRead);
    if (m_globalsRead) return true;  // formulas number only the names of the globals
    PendingName pending;
    const std::u16string n = utf16(text, length);
    if (!(options & NameBuiltIn) && !n.empty()) {
      if (m_names.size() >= 0xFFFF) return fail(Err::FileRead);
      // A name met again (a sheet's own copy) keeps the first definition.
      pending.index = m_book.findName(n);
      if (pending.index < 0) {
        pending.index = m_book.setName(n, NoHandle);
        pending.tokens.assign(tokens, tokens + tokenLength);
      }
    }
    m_context.nameIndexes.push_back(pending.index);
    m_names.push_back(std::move(pending));
    return true;
  }

  void selection(const uint8_t* p) {
    if (!m_sheet) return;
    const uint16_t activeRow = le16(p), firstRow = le16(p + 3), lastRow = le16(p + 5);
    const uint8_t activeColumn = p[2], firstColumn = p[7], lastColumn = p[8];
    if (firstRow > lastRow || firstColumn > lastColumn) return;
    m_sheet->selection = Selection::ofStored(Area{firstRow, firstColumn, lastRow, lastColumn}, activeColumn, activeRow);
  }

  // FORMAT: each one takes the next number from 233 on.
  bool format(const uint8_t* p) {
    const uint8_t* chars = more(2u * p[0]);
    if (!chars) return fail(Err::FileRead);
    if (m_globalsRead) return true;
    const int32_t index = m_book.findOrAddNumberFormat(recordFromExcelCode(utf16(chars, p[0])));
    if (index < 0) return false;
    m_formats.push_back(index);
    return true;
  }

  // The number format an XF names: 0 General, 233 on the FORMAT records; Excel's own
  // built-in numbers, which another writer may use, are taken as Excel takes them.
  int32_t formatOf(uint16_t number) {
    if (number == 0) return 0;
    if (number >= FirstFormatNumber) {
      const size_t k = number - FirstFormatNumber;
      return k < m_formats.size() ? m_formats[k] : 0;
    }
    if (excelBuiltInCode(number).empty()) return 0;
    const int32_t index = m_book.findOrAddNumberFormat(recordFromExcelBuiltIn(number));
    return index < 0 ? 0 : index;
  }

  // FONT: height, options, colour (palette index - 8), weight, underline, family,
  // character set, then the face name.
  bool font(const uint8_t* p) {
    const uint8_t* chars = more(2u * p[14]);
    if (!chars) return fail(Err::FileRead);
    if (m_globalsRead) return true;
    const uint16_t weight = le16(p + 6);
    const uint16_t options = le16(p + 2);
    std::u16string face = utf16(chars, p[14]);
    FontRecord f = makeFont(std::u16string_view(face).substr(0, 32), weight,
                            static_cast<uint16_t>(options & (FontOption::Bold | FontOption::Italic)));
    f.height = le16(p);
    f.color = static_cast<uint16_t>(le16(p + 4) + PaletteShift);
    f.underline = p[10];
    f.family = p[11];
    f.charset = p[12];
    return m_book.fonts.append(f);
  }

  // XF: the inverse of the writer's table; what the record has no room for takes the
  // values of a new cell format.
  bool xf(const uint8_t* p) {
    if (m_globalsRead) return true;
    padFonts();
    if (m_book.styles.size() >= MaxStyles) {
      m_xfStyles.push_back(0);
      return true;
    }
    StyleRecord s = newStyleRecord();
    const uint16_t font = le16(p);
    s.font = static_cast<uint16_t>(font < m_book.fonts.size() ? font : 0);
    s.numberFormat = static_cast<uint16_t>(formatOf(le16(p + 2)));
    s.setLocked(p[8] & XfLocked);
    s.setFormulaHidden(p[8] & XfHidden);
    const uint16_t align = le16(p + 10);
    const uint8_t low = static_cast<uint8_t>(align);
    s.alignment = static_cast<uint16_t>(low >= AlignmentBias ? (low - AlignmentBias) & 0x7F : low & 0x0F);
    static const struct {
      uint16_t bit;
      Edge edge;
    } edges[] = {{BorderTop, Edge::Top}, {BorderLeft, Edge::Left}, {BorderBottom, Edge::Bottom}, {BorderRight, Edge::Right}};
    for (const auto& e : edges)
      if (align & e.bit) s.setBorderStyle(e.edge, 1);
    const uint16_t fill = le16(p + 14);
    if (fill == NoFill) {
      s.setFillPattern(0);
      s.setFillForeground(AutomaticFill);
    } else {
      s.setFillForeground(static_cast<int>((fill + PaletteShift) & 0x7F));
    }
    if (!m_book.styles.append(s)) return false;
    m_xfStyles.push_back(static_cast<int16_t>(m_book.styles.size() - 1));
    return true;
  }

  // BOUNDSHEET: visibility, then the name; "#KelpData#" is held aside for its tasks.
  bool boundSheet(const uint8_t* p) {
    const uint8_t* chars = more(2u * p[1]);
    if (!chars) return fail(Err::FileRead);
    if (m_globalsRead) return true;
    const std::u16string sheetName = utf16(chars, p[1]);
    if (sheetName == excel::KelpDataSheetName) {
      m_sheetNumbers.push_back(-1);
      m_context.sheetNumbers.push_back(-1);
      return true;
    }
    // Two sheets of one name, or more sheets than references can number, are damage.
    if (sheetName.empty() || m_book.findSheet(sheetName) >= 0 || m_book.sheetCount() >= 0xFFFF)
      return fail(Err::FileRead);
    Sheet* sheet = m_book.insertSheet(sheetName);
    if (!sheet) return false;
    sheet->visibility = p[0] ? SheetVisibility::Hidden : SheetVisibility::Visible;
    m_sheetNumbers.push_back(sheet->index);
    m_context.sheetNumbers.push_back(sheet->index);
    return true;
  }

  void window2(const uint8_t* p) {
    if (!m_sheet) return;
    m_window2 = le16(p);
    SheetView& v = m_sheet->view;
    v.showGridlines = m_window2 & Window2Gridlines;
    v.showHeaders = m_window2 & Window2Headers;
    v.showZeros = m_window2 & Window2Zeros;
    v.topRow = m_window2Top = le16(p + 2);
    v.leftColumn = m_window2Left = p[4];
  }

  // PANE: frozen columns and rows, counted from WINDOW2's first row and column shown.
  void pane(const uint8_t* p) {
    if (!m_sheet || (m_window2 & FrozenPanes) != FrozenPanes) return;
    const uint32_t columns = le16(p), rows = le16(p + 2);
    m_sheet->view.freezePanes(m_window2Left, m_window2Top, columns, rows, le16(p + 4), le16(p + 6));
  }

  // SCL: in the globals the active sheet's zoom, in a sheet that sheet's.
  void zoom(const uint8_t* p) {
    const uint32_t numerator = le16(p), denominator = le16(p + 2);
    if (denominator == 0) return;
    const uint32_t zoom = std::clamp<uint32_t>(numerator * 100 / denominator, 25, 200);
    if (m_sheet) m_sheet->view.zoom = zoom;
    else if (!m_globalsRead) m_zoom = zoom;
  }

  Workbook& m_book;
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
  ExcelFormulaContext m_context;

  int32_t m_depth = 0;
  bool m_globalsRead = false;
  bool m_finished = false;
  std::vector<int32_t> m_sheetNumbers;  // Kelp's sheet per BOUNDSHEET; -1 the data sheet
  size_t m_nextSheet = 0;
  Sheet* m_sheet = nullptr;
  bool m_inDataSheet = false;

  std::vector<PendingName> m_names;
  std::vector<int32_t> m_formats;   // Kelp's format per FORMAT record
  std::vector<int16_t> m_xfStyles;  // Kelp's style per XF record
  int32_t m_activeSheet = 0;
  uint32_t m_zoom = 0;

  uint16_t m_window2 = 0, m_window2Top = 0;
  uint8_t m_window2Left = 0;
  bool m_stringPending = false;
  uint16_t m_stringColumn = 0, m_stringRow = 0;
  std::vector<excel::DataSheetCell> m_dataCells;
  std::u16string m_unsupportedAt;
};

}  // namespace

bool ReadPocketExcel(Workbook& workbook, DocStream& stream) {
  // The file is read whole: records have no length, so only the bytes in hand say
  // where one would run past the end; a stream of no known size is cut at the limit.
  std::vector<uint8_t> bytes;
  for (;;) {
    const size_t at = bytes.size();
    if (at > MaxPocketExcelBytes) {
      setError(Err::FileRead);
      return false;
    }
    bytes.resize(at + 65536);
    const uint32_t got = stream.ReadSome(bytes.data() + at, 65536);
    bytes.resize(at + got);
    if (got == 0 || pendingError()) break;
  }
  if (pendingError()) return false;
  PocketReader reader(workbook, bytes.data(), bytes.size());
  return reader.read();
}

}  // namespace kelp
