// The Excel workbook writer: the globals substream (fonts, formats, cell formats, names,
// external references, shared strings, sheet list), the order of the substreams, and the
// compound file that holds the stream.
#include "files/ExcelWriter.h"

#include <algorithm>
#include <cstring>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelAddIns.h"
#include "files/ExcelWriterInternal.h"
#include "files/NativeRecords.h"
#include "format/ExcelFormatCodes.h"
#include "formula/FormulaText.h"
#include "model/HandlePool.h"
#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace excel {

namespace {

constexpr std::u16string_view DataSheetName = KelpDataSheetName;
constexpr std::u16string_view DataSheetWarning = u"Kelp import/export internal data - do not modify this sheet!";
constexpr uint32_t TaskPiece = 250;
constexpr int32_t StandardStyleXfs = 15;
constexpr uint16_t StyleXfProtection = 0xFFF5;
constexpr uint16_t StyleXfBit = 0x0004;
// Every attribute of a cell format is its own, not its parent style's.
constexpr uint16_t CellXfAttributes = 0xFC00;
constexpr int32_t MissingFont = 4;
constexpr uint16_t Biff8Version = 0x0600, Biff5Version = 0x0500;
constexpr uint16_t UnicodeCodePage = 1200;
// NAME options of a function's name: hidden, a function, a command-equivalent procedure.
constexpr uint16_t NameHidden = 0x0001, NameFunction = 0x0002, NameProcedure = 0x0008;

// Kelp's built-in formats with the Excel index they are written under; formats past the
// built-in ones go to Excel index + 144.
constexpr uint16_t kBuiltInExcel[] = {0, 1, 2, 5, 7, 10, 14, 15, 16, 17, 18, 20, 19, 21, 22, 49};
constexpr int32_t UserFormatShift = 144;

// "B7" appended to `out`.
void appendCellName(std::u16string& out, int32_t column, int32_t row) {
  std::u16string letters;
  columnName(static_cast<uint16_t>(column), letters);
  out += letters;
  const std::string digits = std::to_string(row + 1);
  out.append(digits.begin(), digits.end());
}

}  // namespace

void CutList::add(std::u16string_view what, std::u16string_view where) {
  for (Item& item : m_items)
    if (item.what == what) {
      ++item.count;
      return;
    }
  m_items.push_back(Item{std::u16string(what), std::u16string(where), 1});
}

std::u16string CutList::describe() const {
  std::u16string out;
  for (const Item& item : m_items) {
    if (!out.empty()) out += u"; ";
    out += item.what;
    if (!item.where.empty()) {
      out += u" (first at " + item.where;
      if (item.count > 1) {
        std::string n = std::to_string(item.count);
        out += u", " + std::u16string(n.begin(), n.end()) + u" in all";
      }
      out += u")";
    }
  }
  return out;
}

std::u16string firstCellShowing(const Workbook& book, uint32_t format) {
  for (int32_t i = 0; i < book.sheetCount(); ++i) {
    const Sheet* sheet = book.sheetAt(i);
    if (!sheet) continue;
    const int32_t lastRow = sheet->lastUsedRow(-1);
    for (int32_t row = 0; row <= lastRow; ++row) {
      for (int32_t column = sheet->nextUsedInRow(row, -1); column >= 0 && column < MaxColumns;
           column = sheet->nextUsedInRow(row, column)) {
        if (book.style(sheet->effectiveStyle(column, row)).numberFormat != format) continue;
        std::u16string out = sheet->name + u"!";
        appendCellName(out, column, row);
        return out;
      }
    }
  }
  const std::string n = std::to_string(format);
  return u"number format " + std::u16string(n.begin(), n.end());
}

const uint8_t* formulaBytes(uint32_t handle, uint32_t& length) {
  length = 0;
  if (handle == NoHandle || !formulaPool().isLive(handle)) return nullptr;
  const auto* entry = static_cast<const uint8_t*>(formulaPool().data(handle));
  length = readU32(entry);
  return entry + 4;
}

ExcelWriter::ExcelWriter(Workbook& book, bool biff8) : m_book(book), m_biff8(biff8) {
  m_context.workbook = &book;
  m_context.biff8 = biff8;
  m_context.sheetCount = book.sheetCount();
  m_context.codePage = book.codePage;
}

// Records.

void ExcelWriter::emit(uint16_t type) {
  // Callers keep within the limit, going on in CONTINUE records or leaving out with a
  // notice what cannot be held; a record past it all the same would be one Excel
  // refuses, so the save fails with error 14 rather than write it.
  if (m_rec.size() > recordLimit()) {
    setError(Err::FileWrite);
  } else {
    m_stream.u16(type);
    m_stream.u16(static_cast<uint32_t>(m_rec.size()));
    m_stream.bytes(m_rec.data(), m_rec.size());
  }
  m_rec.clear();
}

std::string ExcelWriter::codePageBytes(std::u16string_view s, std::u16string_view where) {
  std::string out;
  out.reserve(s.size());
  bool lost = false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool ok = true;
    out.push_back(static_cast<char>(charToByte(m_book.codePage, s[i], ok)));
    lost |= !ok;
    // A character beyond the 16-bit range is one "?", not one per half.
    if (s[i] >= 0xD800 && s[i] < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) ++i;
  }
  if (lost) m_cuts.add(u"characters the code page lacks, written as ?", where);
  return out;
}

void ExcelWriter::text(std::u16string_view s, int countBytes, uint32_t maxChars, std::u16string_view what,
                       std::u16string_view where) {
  if (s.size() > maxChars) {
    s = s.substr(0, maxChars);
    m_cuts.add(what, where);
  }
  if (m_biff8) {
    if (countBytes == 1) m_rec.u8(static_cast<uint32_t>(s.size()));
    else m_rec.u16(static_cast<uint32_t>(s.size()));
    m_rec.u8(1);
    for (char16_t c : s) m_rec.u16(c);
    return;
  }
  const std::string bytes = codePageBytes(s, where);
  if (countBytes == 1) m_rec.u8(static_cast<uint32_t>(bytes.size()));
  else m_rec.u16(static_cast<uint32_t>(bytes.size()));
  m_rec.bytes(bytes.data(), bytes.size());
}

std::u16string ExcelWriter::cellName(int32_t sheet, int32_t column, int32_t row) const {
  std::u16string out;
  if (const Sheet* s = m_book.sheetAt(sheet)) out = s->name + u"!";
  appendCellName(out, column, row);
  return out;
}

uint16_t ExcelWriter::xfOf(int32_t style) const {
  if (style < 0) style = 0;
  if (style >= m_book.styles.size()) style = 0;
  return static_cast<uint16_t>(style + m_xfOffset);
}

uint16_t ExcelWriter::excelFormat(int32_t format) const {
  if (format < 0 || format >= static_cast<int32_t>(m_book.numberFormats.size())) return 0;
  if (format <= BuiltInFormat::Last) return kBuiltInExcel[format];
  return static_cast<uint16_t>(std::min<int32_t>(format + UserFormatShift, 0xFFFF));
}

uint32_t ExcelWriter::addString(std::u16string_view text) {
  if (m_sstSlots.size() < 2 * (m_sstTexts.size() + 1)) {
    // Kept at most half full; the slots are placed again from the texts.
    m_sstSlots.assign(std::max<size_t>(1024, 4 * m_sstSlots.size()), 0);
    const size_t mask = m_sstSlots.size() - 1;
    for (size_t i = 0; i < m_sstTexts.size(); ++i) {
      size_t at = std::hash<std::u16string_view>{}(m_sstTexts[i]) & mask;
      while (m_sstSlots[at]) at = (at + 1) & mask;
      m_sstSlots[at] = static_cast<uint32_t>(i + 1);
    }
  }
  const size_t mask = m_sstSlots.size() - 1;
  size_t at = std::hash<std::u16string_view>{}(text) & mask;
  for (; m_sstSlots[at]; at = (at + 1) & mask)
    if (m_sstTexts[m_sstSlots[at] - 1] == text) return m_sstSlots[at] - 1;
  m_sstTexts.push_back(text);
  m_sstSlots[at] = static_cast<uint32_t>(m_sstTexts.size());
  return static_cast<uint32_t>(m_sstTexts.size() - 1);
}

uint32_t ExcelWriter::addHandleString(uint32_t handle) {
  if (handle >= textPool().slotCount()) return addString(textOf(wordValue(ValueKind::Text, handle)));
  if (handle >= m_sstByHandle.size()) m_sstByHandle.resize(textPool().slotCount(), 0);
  uint32_t& known = m_sstByHandle[handle];
  if (!known) known = addString(textOf(wordValue(ValueKind::Text, handle))) + 1;
  return known - 1;
}

// Preparation: everything the globals name must be known before they are written.

void ExcelWriter::prepare() {
  // Styles read from an Excel file begin with Excel's own fifteen style formats.
  m_xfOffset = m_book.styles.size() >= 16 && m_book.styles[14].protection == StyleXfProtection ? 0 : StandardStyleXfs;

  // Excel has no font 4: Kelp keeps a filler there, and a style that uses it anyway gets
  // a copy of it written after the others.
  const int32_t fontCount = m_book.fonts.size();
  m_fontIndex.assign(static_cast<size_t>(std::max(fontCount, 1)), 0);
  for (int32_t i = 0; i < fontCount; ++i) m_fontIndex[static_cast<size_t>(i)] = static_cast<uint16_t>(i);
  bool fourUsed = false;
  for (int32_t i = 0; i < m_book.styles.size(); ++i) fourUsed |= m_book.styles[i].font == MissingFont;
  if (fontCount > MissingFont && fourUsed) {
    m_extraFont = MissingFont;
    m_fontIndex[MissingFont] = static_cast<uint16_t>(fontCount);
  }

  // Names in their order; an Excel name has at most 255 characters.
  m_context.nameNumbers.assign(m_book.names.size(), 0);
  for (size_t i = 0; i < m_book.names.size(); ++i) {
    const DefinedName& name = m_book.names[i];
    if (name.text.empty() || name.definition == NoHandle) continue;
    if (name.text.size() > 255) {
      m_cuts.add(u"names longer than 255 characters", name.text.substr(0, 31));
      continue;
    }
    m_nameOrder.push_back(static_cast<int32_t>(i));
    m_context.nameNumbers[i] = static_cast<uint16_t>(m_nameOrder.size());
  }

  nameSheets();
  collectSheetSpans();
  buildDataSheet();
  if (m_biff8) collectStrings();
}

// Excel's sheet names have at most 31 characters, and Excel 95 writes them in the code
// page; a name that becomes another's that way gets a number, so that every sheet keeps
// a name of its own.
void ExcelWriter::nameSheets() {
  constexpr size_t MaxSheetName = 31;
  m_sheetNames.clear();
  auto taken = [&](std::u16string_view name) {
    if (equalsIgnoreCase(name, DataSheetName)) return true;
    for (const std::u16string& other : m_sheetNames)
      if (equalsIgnoreCase(other, name)) return true;
    return false;
  };
  for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
    const std::u16string& own = m_book.sheetAt(i)->name;
    std::u16string name = own.substr(0, MaxSheetName);
    if (!m_biff8) {
      std::u16string shown;
      for (char byte : codePageBytes(name, own)) shown.push_back(byteToChar(m_book.codePage, static_cast<uint8_t>(byte)));
      name = shown;
    }
    for (int n = 2; taken(name); ++n) {
      const std::string suffix = "~" + std::to_string(n);
      name = name.substr(0, std::min(name.size(), MaxSheetName - suffix.size())) +
             std::u16string(suffix.begin(), suffix.end());
    }
    if (name != own) m_cuts.add(u"sheet names Excel cannot hold, renamed", own);
    m_sheetNames.push_back(name);
  }
}

// The 3-D references of every formula, so that EXTERNSHEET lists them all; and the
// number of cells, which sizes the stream.
void ExcelWriter::collectSheetSpans() {
  using Span = ExcelExportContext::SheetSpan;
  auto scan = [&](uint32_t handle) {
    uint32_t length;
    const uint8_t* tokens = formulaBytes(handle, length);
    if (!tokens) return;
    native::walkTokens(tokens, length, [&](uint8_t op, const uint8_t* payload) {
      Span span;
      if (op == static_cast<uint8_t>(Op::SheetCellRef) || op == static_cast<uint8_t>(Op::SheetAreaRef)) {
        span = Span{payload[1], std::min(payload[2], payload[3]), std::max(payload[2], payload[3])};
        if (!m_biff8 && (span.book == 0 || span.first != span.last)) return true;
      } else if (op == static_cast<uint8_t>(Op::Call)) {
        noteExcelNamedFunction(m_context, readU16(payload));
        return true;
      } else if (op == static_cast<uint8_t>(Op::DeletedSheetCellRef) ||
                 op == static_cast<uint8_t>(Op::DeletedSheetAreaRef)) {
        if (!m_biff8) return true;
      } else {
        return true;
      }
      auto& spans = m_context.externSheets;
      if (std::find(spans.begin(), spans.end(), span) == spans.end()) spans.push_back(span);
      return true;
    });
  };
  for (int32_t index : m_nameOrder) scan(m_book.names[static_cast<size_t>(index)].definition);
  size_t cells = 0;
  for (int32_t s = 0; s < m_book.sheetCount(); ++s) {
    const Sheet& sheet = *m_book.sheetAt(s);
    for (int32_t r = sheet.nextRow(-1); r != NoRow; r = sheet.nextRow(r)) {
      const Row* row = sheet.rowAt(r);
      cells += static_cast<size_t>(row->cells.size() - row->firstColumn());
      for (int32_t c = row->firstColumn(); c < row->cells.size(); ++c)
        if (row->cells[c].value.kind == ValueKind::Formula) scan(formulaTokens(row->cells[c].value));
    }
    for (const ValidationEntry& entry : sheet.validations) {
      scan(entry.rule.formula1);
      scan(entry.rule.formula2);
    }
  }
  // The add-in book's entry, which every add-in function's name is reached through.
  if (m_biff8 && !m_context.addInFunctions.empty()) m_context.externSheets.push_back(Span{0, 0, 0, true});
  m_context.laterNameBase = static_cast<uint16_t>(m_nameOrder.size());
  // Most cell records take 14 to 30 bytes with their headers; room for that at once
  // spares the stream its regrowth.
  m_stream.reserve(cells * 24 + 65536);
}

// The shared strings: texts of cells and of cached formula results in the order the
// sheets are written, then those of the hidden data sheet. The total counts the text
// cells; a formula's text result is there in case the formula has to become its value.
void ExcelWriter::collectStrings() {
  for (int32_t s = 0; s < m_book.sheetCount(); ++s) {
    const Sheet& sheet = *m_book.sheetAt(s);
    for (int32_t r = sheet.nextRow(-1); r != NoRow; r = sheet.nextRow(r)) {
      const Row* row = sheet.rowAt(r);
      for (int32_t c = row->firstColumn(); c < row->cells.size(); ++c) {
        const CellValue& value = row->cells[c].value;
        if (value.kind == ValueKind::Text) {
          addHandleString(value.u32());
          ++m_sstTotal;
        } else if (value.kind == ValueKind::Formula && formulaResult(value).kind == ValueKind::Text) {
          // A formula Excel cannot express is written as its result, which may be a text.
          addHandleString(formulaResult(value).u32());
        }
      }
    }
  }
  for (const DataCell& cell : m_dataCells) {
    addString(cell.text);
    ++m_sstTotal;
  }
}

// The hidden data sheet: a warning in A1, then per task its name, kind letters, menu text
// or trigger cell, and its text in pieces of 250 characters down column F.
std::vector<DataSheetCell> taskDataCells(const Workbook& book, const std::vector<std::u16string>& sheetNames,
                                         CutList& cuts) {
  std::vector<DataSheetCell> cells;
  uint16_t row = 4;
  for (const WorkbookTask& task : book.tasks) {
    if (task.global) continue;
    if (cells.empty()) cells.push_back(DataSheetCell{0, 0, std::u16string(DataSheetWarning)});
    if (row >= MaxRows - 1) {
      cuts.add(u"tasks past the data sheet's last row", task.name);
      break;
    }
    cells.push_back(DataSheetCell{row, 0, task.name});
    std::u16string kind = u"..";
    if (task.runOn == 1) kind[0] = u'm';
    if (task.runOn == 2) kind = u"tt";
    if (task.runOn == 3) kind[0] = u'e';
    cells.push_back(DataSheetCell{row, 1, kind});
    if (task.runOn == 1 && task.menuText) {
      cells.push_back(DataSheetCell{row, 2, *task.menuText});
    } else if (task.runOn == 2 || task.runOn == 3) {
      Area a;
      std::memcpy(&a, task.area + 4, sizeof a);
      std::u16string ref;
      // A trigger on one sheet names it as written; "any sheet" (255 to 245) names none.
      if (task.area[1] == task.area[2] && task.area[1] < sheetNames.size()) {
        const std::u16string& name = sheetNames[task.area[1]];
        if (sheetNameNeedsQuotes(&book, name)) {
          ref = u"'";
          for (char16_t c : name) {
            ref.push_back(c);
            if (c == u'\'') ref.push_back(c);
          }
          ref += u"'";
        } else {
          ref = name;
        }
        ref += u"!";
      }
      appendCellName(ref, a.firstColumn, a.firstRow);
      if (a.lastColumn != a.firstColumn || a.lastRow != a.firstRow) {
        ref += u":";
        appendCellName(ref, a.lastColumn, a.lastRow);
      }
      cells.push_back(DataSheetCell{row, 2, ref});
    }
    const std::u16string& definition = task.definition;
    uint32_t pieces = 0;
    for (size_t at = 0; at < definition.size() && row + pieces < MaxRows; at += TaskPiece, ++pieces)
      cells.push_back(
          DataSheetCell{static_cast<uint16_t>(row + pieces), 5, definition.substr(at, TaskPiece)});
    row = static_cast<uint16_t>(std::min<uint32_t>(row + std::max<uint32_t>(pieces, 1), MaxRows - 1));
  }
  return cells;
}

void ExcelWriter::buildDataSheet() { m_dataCells = taskDataCells(m_book, m_sheetNames, m_cuts); }

// Globals.

void ExcelWriter::bof(uint16_t substream) {
  if (m_biff8) {
    static const uint8_t tail[] = {0xAF, 0x18, 0xCD, 0x07, 0xC1, 0x40, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00};
    m_rec.u16(Biff8Version);
    m_rec.u16(substream);
    m_rec.bytes(tail, sizeof tail);
  } else {
    static const uint8_t tail[] = {0x3D, 0x11, 0xCA, 0x07};
    m_rec.u16(Biff5Version);
    m_rec.u16(substream);
    m_rec.bytes(tail, sizeof tail);
  }
  emit(Out::Bof);
}

void ExcelWriter::globals() {
  bof(0x0005);
  // WRITEACCESS: the user name, here a fixed one, padded with spaces.
  if (m_biff8) {
    m_rec.u16(4);
    m_rec.u8(0);
    m_rec.bytes("Name", 4);
    m_rec.fill(' ', 112 - 7);
  } else {
    m_rec.u8(0);
    m_rec.fill(' ', 31);
  }
  emit(Out::WriteAccess);
  // Excel 97 texts are UTF-16 whatever the code page; Excel 95 ones use the workbook's.
  m_rec.u16(m_biff8 ? UnicodeCodePage : m_book.codePage);
  emit(Out::CodePage);
  const int32_t sheets = m_book.sheetCount() + (m_dataCells.empty() ? 0 : 1);
  for (int32_t i = 0; i < sheets; ++i) m_rec.u16(static_cast<uint32_t>(i));
  emit(Out::TabId);
  if (!m_biff8) externalReferences();
  m_rec.u16(0);
  emit(Out::WindowProtect);
  m_rec.u16(m_book.isProtected ? 1 : 0);
  emit(Out::Protect);
  m_rec.u16(0);
  emit(Out::Password);

  int32_t firstVisible = 0;
  while (firstVisible < m_book.sheetCount() && m_book.sheetAt(firstVisible)->visibility != SheetVisibility::Visible)
    ++firstVisible;
  if (firstVisible >= m_book.sheetCount()) firstVisible = 0;
  for (uint32_t v : {0x0168u, 0x0078u, 0x2C10u, 0x1851u, 0x0038u}) m_rec.u16(v);
  m_rec.u16(static_cast<uint32_t>(std::max(m_book.activeSheetIndex(), 0)));
  m_rec.u16(static_cast<uint32_t>(firstVisible));
  m_rec.u16(1);
  m_rec.u16(600);
  emit(Out::Window1);
  m_rec.u16(0);
  emit(Out::DateMode);

  fonts();
  formats();
  styles();
  if (m_book.palette.changed) {
    m_rec.u16(static_cast<uint32_t>(m_book.palette.colors.size()));
    for (uint32_t color : m_book.palette.colors) m_rec.u32(color);
    emit(Out::Palette);
  }

  // BOUNDSHEET: the stream position is patched in when the sheet's BOF is written.
  m_sheetPositions.clear();
  auto boundSheet = [&](std::u16string_view name, uint8_t visibility) {
    m_sheetPositions.push_back(m_stream.size() + 4);
    m_rec.u32(0);
    m_rec.u8(visibility);
    m_rec.u8(0);
    text(name, 1, 31, u"sheet names longer than 31 characters", name);
    emit(Out::BoundSheet);
  };
  for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
    const Sheet& sheet = *m_book.sheetAt(i);
    boundSheet(m_sheetNames[static_cast<size_t>(i)],
               static_cast<uint8_t>(std::min<uint32_t>(static_cast<uint32_t>(sheet.visibility), 2)));
  }
  if (!m_dataCells.empty()) boundSheet(DataSheetName, 0);

  if (m_biff8) {
    externalReferences();
    sharedStrings();
  }
  emit(Out::Eof);
}

void ExcelWriter::fonts() {
  auto font = [&](const FontRecord& f) {
    m_rec.u16(f.height);
    // Bit 0 repeats the weight's bold, as Excel writes it and some readers take it.
    m_rec.u16(static_cast<uint16_t>((f.options & FontOption::Italic) | (f.weight >= 700 ? 1 : 0)));
    m_rec.u16(f.color);
    m_rec.u16(f.weight);
    m_rec.u16(f.escapement);
    m_rec.u8(f.underline);
    m_rec.u8(f.family);
    m_rec.u8(f.charset);
    m_rec.u8(0);
    text(f.face(), 1, 255, u"font names", f.face());
    emit(Out::Font);
  };
  const FontRecord fallback = makeFont(u"Arial", 400, 0);
  // Excel needs its first four fonts, whatever the table holds.
  for (int32_t i = 0; i < std::max<int32_t>(m_book.fonts.size(), MissingFont); ++i) {
    if (i == MissingFont) continue;
    font(i < m_book.fonts.size() ? m_book.fonts[i] : fallback);
  }
  if (m_extraFont >= 0) font(m_book.fonts[m_extraFont]);
}

void ExcelWriter::formats() {
  const int32_t count = static_cast<int32_t>(m_book.numberFormats.size());
  for (int32_t i = 0; i < count; ++i) {
    // General, 0, 0.00, 0.00% and @ are Excel's own under the same numbers everywhere.
    if (i == BuiltInFormat::General || i == BuiltInFormat::Fixed0 || i == BuiltInFormat::Fixed2 ||
        i == BuiltInFormat::Percent2 || i == BuiltInFormat::Text)
      continue;
    const int32_t index = i <= BuiltInFormat::Last ? kBuiltInExcel[i] : i + UserFormatShift;
    if (index > 0xFFFF) {
      m_cuts.add(u"number formats past Excel's numbering", firstCellShowing(m_book, static_cast<uint32_t>(i)));
      break;
    }
    m_rec.u16(static_cast<uint32_t>(index));
    const std::u16string code = excelCodeFromRecord(m_book.numberFormats[static_cast<size_t>(i)]);
    // Naming the cell is a walk of every sheet, made only when a cut or a lacking
    // character may need it.
    const bool mayCut = code.size() > 255 ||
                        (!m_biff8 && std::any_of(code.begin(), code.end(), [](char16_t c) { return c >= 0x80; }));
    text(code, m_biff8 ? 2 : 1, 255, u"number format codes longer than 255 characters",
         mayCut ? firstCellShowing(m_book, static_cast<uint32_t>(i)) : std::u16string());
    emit(Out::Format);
  }
}

void ExcelWriter::styles() {
  auto fontOf = [&](uint16_t font) -> uint16_t {
    return font < m_fontIndex.size() ? m_fontIndex[font] : 0;
  };
  auto xf = [&](const StyleRecord& s, uint16_t font, uint16_t format, uint16_t protection, bool cellFormat) {
    const uint16_t attributes = cellFormat ? static_cast<uint16_t>(s.indentation | CellXfAttributes) : s.indentation;
    if (m_biff8) {
      m_rec.u16(font);
      m_rec.u16(format);
      m_rec.u16(protection);
      m_rec.u16(s.alignment);
      m_rec.u16(attributes);
      m_rec.u16(s.borders);
      m_rec.u16(s.sideBorderColors);
      m_rec.u16(s.borderFillLow);
      m_rec.u16(s.borderFillHigh);
      m_rec.u16(s.fillColors);
    } else {
      // Excel 95's cell format is the native format's older style layout.
      native::RecordOut old;
      native::writeOldStyle(old, s, font, format);
      std::vector<uint8_t> bytes(old.data(), old.data() + old.size());
      bytes[4] = static_cast<uint8_t>(protection);
      bytes[5] = static_cast<uint8_t>(protection >> 8);
      bytes[7] = static_cast<uint8_t>(bytes[7] | (attributes >> 8 & 0xFC));
      m_rec.bytes(bytes.data(), bytes.size());
    }
    emit(Out::Xf);
  };
  if (m_xfOffset == StandardStyleXfs) {
    // Excel's fifteen style formats: Normal, then the outline levels' styles.
    static const uint16_t styleFonts[StandardStyleXfs] = {0, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int32_t i = 0; i < StandardStyleXfs; ++i) {
      StyleRecord s{};
      s.alignment = 0x20;
      s.fillColors = 0x20C0;
      s.indentation = i == 0 ? 0 : 0xF400;
      xf(s, fontOf(styleFonts[i]), 0, StyleXfProtection, false);
    }
    for (int32_t i = 0; i < m_book.styles.size(); ++i) {
      const StyleRecord& s = m_book.styles[i];
      xf(s, fontOf(s.font), excelFormat(s.numberFormat), static_cast<uint16_t>(s.protection & 3), true);
    }
  } else {
    for (int32_t i = 0; i < m_book.styles.size(); ++i) {
      const StyleRecord& s = m_book.styles[i];
      // The first style stands for Excel's Normal style, which Kelp reads as the locked default.
      const uint16_t protection = i == 0 ? StyleXfProtection : s.protection;
      xf(s, fontOf(s.font), excelFormat(s.numberFormat), protection, (protection & StyleXfBit) == 0);
    }
  }
  // STYLE records name the built-in styles; only a style format can carry one.
  static const struct {
    uint16_t xf;
    uint8_t builtIn;
  } kStyles[] = {{16, 3}, {17, 6}, {18, 4}, {19, 7}, {0, 0}, {20, 5}};
  for (const auto& st : kStyles) {
    const bool styleXf = st.xf == 0 || (m_xfOffset == 0 && st.xf < m_book.styles.size() &&
                                        (m_book.styles[st.xf].protection & StyleXfBit));
    if (!styleXf) continue;
    m_rec.u16(st.xf | 0x8000u);
    m_rec.u8(st.builtIn);
    m_rec.u8(0xFF);
    emit(Out::Style);
  }
}

namespace {

// A workbook's path in the encoded form of an external reference: a leading 1, the
// drive as 1 and its letter (or 2 for the root), directory separators as 3. Excel 95
// puts the book's name in brackets and the sheet's name after it.
std::u16string encodeBookPath(const ExternalBook& book, const std::u16string* sheet = nullptr) {
  std::u16string directory = book.directory;
  std::u16string out(1, u'\x01');
  size_t i = 0;
  if (directory.size() >= 3 && directory[1] == u':' && (directory[2] == u'\\' || directory[2] == u'/')) {
    out += u'\x01';
    out += directory[0];
    i = 3;
  } else if (!directory.empty() && (directory[0] == u'\\' || directory[0] == u'/')) {
    out += u'\x02';
    i = 1;
  }
  for (; i < directory.size(); ++i) out += directory[i] == u'\\' || directory[i] == u'/' ? u'\x03' : directory[i];
  const bool endsInSeparator = directory.empty() || directory.back() == u'\\' || directory.back() == u'/';
  if (!endsInSeparator) out += u'\x03';
  if (sheet) out += u"[" + book.name + u"]" + *sheet;
  else out += book.name;
  return out;
}

}  // namespace

// BIFF8: SUPBOOK for this workbook and each external one, EXTERNSHEET, NAME. BIFF5:
// EXTERNCOUNT and an EXTERNSHEET per sheet of this workbook and per external sheet, NAME.
void ExcelWriter::externalReferences() {
  if (m_biff8) {
    m_rec.u16(static_cast<uint32_t>(m_book.sheetCount()));
    m_rec.u8(0x01);
    m_rec.u8(0x04);
    emit(Out::SupBook);
    for (int32_t b = 1; b <= m_book.externalBookCount(); ++b) {
      const ExternalBook& book = *m_book.externalBook(b);
      m_rec.u16(static_cast<uint32_t>(book.sheetNames.size()));
      text(encodeBookPath(book), 2, 255, u"external workbook paths longer than 255 characters", book.name);
      for (const std::u16string& sheet : book.sheetNames) text(sheet, 2, 255, u"external sheet names", sheet);
      emit(Out::SupBook);
    }
    if (!m_context.addInFunctions.empty()) {
      m_rec.u16(1);
      m_rec.u8(0x01);
      m_rec.u8(0x3A);
      emit(Out::SupBook);
      addInNames();
    }
    if (!m_context.externSheets.empty()) {
      m_rec.u16(static_cast<uint32_t>(m_context.externSheets.size()));
      for (const auto& span : m_context.externSheets) {
        // The add-in book follows the external ones; it has no sheets.
        m_rec.u16(span.addIn ? static_cast<uint32_t>(m_book.externalBookCount() + 1) : span.book);
        m_rec.u16(span.addIn ? 0xFFFE : span.first);
        m_rec.u16(span.addIn ? 0xFFFE : span.last);
      }
      emit(Out::ExternSheet);
    }
  } else {
    biff5ExternSheets();
  }
  names();
}

// Excel 95's table of the sheets 3-D references name: this workbook's own, then the
// external ones. Each sheet substream repeats it, for readers take it from there.
void ExcelWriter::biff5ExternSheets() {
  const bool addIn = !m_context.addInFunctions.empty();
  m_rec.u16(static_cast<uint32_t>(m_book.sheetCount() + m_context.externSheets.size() + (addIn ? 1 : 0)));
  emit(Out::ExternCount);
  for (const std::u16string& name : m_sheetNames) {
    const std::string bytes = codePageBytes(name, name);
    m_rec.u8(static_cast<uint32_t>(bytes.size()));
    m_rec.u8(0x03);
    m_rec.bytes(bytes.data(), bytes.size());
    emit(Out::ExternSheet);
  }
  for (const auto& span : m_context.externSheets) {
    const ExternalBook* book = m_book.externalBook(span.book);
    std::u16string encoded = u"\x01";
    if (book) {
      const std::u16string sheet = span.first < book->sheetNames.size() ? book->sheetNames[span.first] : u"";
      encoded = encodeBookPath(*book, &sheet);
    }
    std::string bytes = codePageBytes(encoded, book ? std::u16string_view(book->name) : std::u16string_view());
    bytes.resize(std::min<size_t>(bytes.size(), 256));
    // The length counts the characters after the leading code.
    m_rec.u8(static_cast<uint32_t>(bytes.size() - 1));
    m_rec.bytes(bytes.data(), bytes.size());
    emit(Out::ExternSheet);
  }
  if (addIn) {
    // A lone ':' opens the add-in's function names.
    m_rec.u8(1);
    m_rec.u8(0x3A);
    emit(Out::ExternSheet);
    addInNames();
  }
}

// The add-in's EXTERNNAME records, one per function, each defined as #REF! as Excel
// writes them.
void ExcelWriter::addInNames() {
  for (uint16_t index : m_context.addInFunctions) {
    const std::string_view name = excelNamedRow(index)->row.name;
    m_rec.u16(0);
    m_rec.u32(0);
    m_rec.u8(static_cast<uint32_t>(name.size()));
    if (m_biff8) m_rec.u8(0);
    m_rec.bytes(name.data(), name.size());
    m_rec.u16(2);
    m_rec.u8(0x1C);
    m_rec.u8(static_cast<uint32_t>(CellError::Ref));
    emit(Out::ExternName);
  }
}

void ExcelWriter::names() {
  for (int32_t index : m_nameOrder) {
    const DefinedName& name = m_book.names[static_cast<size_t>(index)];
    uint32_t length;
    const uint8_t* tokens = formulaBytes(name.definition, length);
    std::vector<uint8_t> excel;
    ExcelExportResult result = tokens ? convertToExcelFormula(tokens, length, CellPosition{}, ExcelExportKind::Name,
                                                              m_context, excel)
                                      : ExcelExportResult::Malformed;
    if (result == ExcelExportResult::Written && excel.size() + 14 + 1 + 2 * name.text.size() > recordLimit())
      result = ExcelExportResult::TooLong;
    if (result != ExcelExportResult::Written) {
      // The name stays, so that formulas naming it keep their place; its definition
      // becomes #REF!.
      excel = {0x1C, static_cast<uint8_t>(CellError::Ref)};
      m_cuts.add(u"names whose definitions Excel cannot hold, written as #REF!", name.text);
    }
    const std::string bytes = m_biff8 ? std::string() : codePageBytes(name.text, name.text);
    m_rec.u16(0);
    m_rec.u8(0);
    m_rec.u8(static_cast<uint32_t>(m_biff8 ? name.text.size() : bytes.size()));
    m_rec.u16(static_cast<uint32_t>(excel.size()));
    m_rec.u16(0);
    m_rec.u16(0);
    m_rec.u32(0);
    if (m_biff8) {
      m_rec.u8(1);
      for (char16_t c : name.text) m_rec.u16(c);
    } else {
      m_rec.bytes(bytes.data(), bytes.size());
    }
    m_rec.bytes(excel.data(), excel.size());
    emit(Out::Name);
  }
  // The later functions' hidden function names, defined as #NAME? as other writers do.
  for (uint16_t index : m_context.laterFunctions) {
    const std::string name = std::string("_xlfn.") + excelNamedRow(index)->row.name;
    m_rec.u16(NameHidden | NameFunction | NameProcedure);
    m_rec.u8(0);
    m_rec.u8(static_cast<uint32_t>(name.size()));
    m_rec.u16(2);
    m_rec.u16(0);
    m_rec.u16(0);
    m_rec.u32(0);
    if (m_biff8) m_rec.u8(0);
    m_rec.bytes(name.data(), name.size());
    m_rec.u8(0x1C);
    m_rec.u8(static_cast<uint32_t>(CellError::Name));
    emit(Out::Name);
  }
}

// SST: each string's count and option byte stay in one record; its characters may be
// cut between records at a character, and the CONTINUE that goes on with them starts
// with their option byte again.
void ExcelWriter::sharedStrings() {
  m_rec.u32(m_sstTotal);
  m_rec.u32(static_cast<uint32_t>(m_sstTexts.size()));
  uint16_t type = Out::Sst;
  auto flush = [&]() {
    emit(type);
    type = Out::Continue;
  };
  for (std::u16string_view s : m_sstTexts) {
    if (s.size() > MaxExcelText) {
      setError(Err::FileWrite);
      return;
    }
    std::u16string_view t = s;
    if (m_rec.size() + 3 > Biff8RecordLimit) flush();
    m_rec.u16(static_cast<uint32_t>(t.size()));
    m_rec.u8(1);
    while (!t.empty()) {
      size_t room = (Biff8RecordLimit - m_rec.size()) / 2;
      if (room == 0) {
        flush();
        m_rec.u8(1);
        room = (Biff8RecordLimit - 1) / 2;
      }
      const size_t n = std::min(room, t.size());
      for (size_t i = 0; i < n; ++i) m_rec.u16(t[i]);
      t.remove_prefix(n);
    }
  }
  flush();
}

bool ExcelWriter::write(std::vector<uint8_t>& out) {
  prepare();
  globals();
  for (int32_t i = 0; i < m_book.sheetCount(); ++i) sheet(i);
  if (!m_dataCells.empty()) dataSheet();
  if (pendingError()) return false;
  out = m_stream.take();
  return true;
}

}  // namespace excel

bool writeExcelWorkbook(Workbook& workbook, DocStream& stream, bool biff8) {
  std::vector<uint8_t> bytes;
  excel::ExcelWriter writer(workbook, biff8);
  if (!writer.write(bytes)) return false;
  stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (!writer.cuts().empty()) leaveNotice(static_cast<uint32_t>(Err::FormatCut), writer.cuts().describe());
  return !pendingError();
}

bool writeExcelFile(Workbook& workbook, DocStream& file, bool biff8) {
  CompoundWriter storage;
  std::u16string cuts;
  {
    // The writer's tables go before the container is laid out beside the stream.
    std::vector<uint8_t> bytes;
    excel::ExcelWriter writer(workbook, biff8);
    if (!writer.write(bytes)) return false;
    storage.addStream(biff8 ? u"Workbook" : u"Book", std::move(bytes));
    if (!writer.cuts().empty()) cuts = writer.cuts().describe();
  }
  std::vector<uint8_t> container;
  if (!storage.build(container)) return false;
  file.Write(container.data(), static_cast<uint32_t>(container.size()));
  if (!cuts.empty()) leaveNotice(static_cast<uint32_t>(Err::FormatCut), cuts);
  return !pendingError();
}

}  // namespace kelp
