// The workbook: sheets, shared tables, names and the masked style change.
#include "model/Workbook.h"

#include <cassert>
#include <new>

#include "model/HandlePool.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {
const StyleRecord kDefaultStyle = defaultStyleRecord();

void destroySheet(Sheet* sheet) {
  sheet->~Sheet();
  heapFree(sheet);
}

SheetReferenceFn g_sheetReferences = nullptr;

// A task area's sheet numbers that mean "any sheet".
constexpr uint8_t AnySheetFirst = 255, AnySheetLast = 245;

uint64_t g_workbookSerial = 0;  // workbooks are made on the one user-interface thread
}  // namespace

void installSheetReferences(SheetReferenceFn fn) { g_sheetReferences = fn; }

bool shiftSheetSpan(uint8_t& first, uint8_t& last, SheetShift shift) {
  const int at = shift.index;
  int newFirst = first, newLast = last;
  if (!shift.removed) {
    if (newFirst >= at) ++newFirst;
    if (newLast >= at) ++newLast;
  } else {
    if (first == at && last == at) return false;
    if (newFirst > at) --newFirst;
    if (newLast >= at) --newLast;
  }
  // Numbers are bytes in every stored reference; a span pushed past 255 keeps what fits.
  if (newFirst > 255 || newLast < newFirst) return false;
  first = static_cast<uint8_t>(newFirst);
  last = static_cast<uint8_t>(newLast > 255 ? 255 : newLast);
  return true;
}

std::array<uint32_t, 56> Palette::defaultColors() {
  // The standard colours of palette indexes 8 to 63, written as 0xRRGGBB for reading.
  static constexpr uint32_t rgb[56] = {
      0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
      0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
      0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
      0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
      0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
      0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
      0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
  };
  std::array<uint32_t, 56> colors{};
  for (size_t i = 0; i < colors.size(); ++i)
    colors[i] = ((rgb[i] & 0xFF) << 16) | (rgb[i] & 0xFF00) | ((rgb[i] >> 16) & 0xFF);
  return colors;
}

Workbook::Workbook() : m_serial(++g_workbookSerial), m_formulas(*this) {}

Workbook::~Workbook() {
  for (Sheet* sheet : m_sheets) destroySheet(sheet);
  for (DefinedName& name : names) formulaPool().release(name.definition);
  clearTaskVariables();
}

void Workbook::setActiveSheet(int32_t index) {
  if (index >= 0 && index < m_sheets.size()) m_activeSheet = index;
}

Sheet* Workbook::insertSheet(std::u16string name, int32_t index) {
  if (index < 0 || index > m_sheets.size()) index = m_sheets.size();
  void* block = heapAlloc(sizeof(Sheet));
  if (!block) {
    setError(Err::OutOfMemory);
    return nullptr;
  }
  Sheet* sheet = new (block) Sheet(std::move(name));
  sheet->attach(this);
  if (!m_sheets.insertAt(index, sheet)) {
    destroySheet(sheet);
    return nullptr;
  }
  for (int32_t i = index; i < m_sheets.size(); ++i) m_sheets[i]->index = i;
  // Appending moves no sheet; a reader appends sheets while references to the sheets
  // still to come already stand in names and formulas.
  if (index + 1 < m_sheets.size()) shiftSheetNumbers(SheetShift{static_cast<uint16_t>(index), false});
  if (m_sheets.size() > 1 && m_activeSheet >= index) ++m_activeSheet;
  return sheet;
}

void Workbook::deleteSheet(int32_t index) {
  if (index < 0 || index >= m_sheets.size()) return;
  // Each formula cell of the sheet gives its entry back as the sheet is destroyed.
  destroySheet(m_sheets[index]);
  m_sheets.removeAt(index);
  for (int32_t i = index; i < m_sheets.size(); ++i) m_sheets[i]->index = i;
  shiftSheetNumbers(SheetShift{static_cast<uint16_t>(index), true});
  if (m_activeSheet > index || m_activeSheet >= m_sheets.size()) --m_activeSheet;
  if (m_activeSheet < 0) m_activeSheet = 0;
}

void Workbook::shiftSheetNumbers(SheetShift shift) {
  if (shift.removed)
    m_formulas.shiftSheets(static_cast<uint16_t>(shift.index + 1), -1);
  else
    m_formulas.shiftSheets(shift.index, 1);
  if (g_sheetReferences) g_sheetReferences(*this, shift);
  for (WorkbookTask& task : tasks) {
    uint8_t& first = task.area[1];
    uint8_t& last = task.area[2];
    if (task.global || (first == AnySheetFirst && last == AnySheetLast)) continue;
    // A trigger area whose sheets are all gone covers no sheet: first past last.
    if (!shiftSheetSpan(first, last, shift)) first = 1, last = 0;
  }
}

int32_t Workbook::findSheet(std::u16string_view name, int32_t book) const {
  if (book == 0) {
    for (int32_t i = 0; i < m_sheets.size(); ++i)
      if (equalsIgnoreCase(m_sheets[i]->name, name)) return i;
    return -1;
  }
  const ExternalBook* external = externalBook(book);
  if (!external) return -1;
  for (size_t i = 0; i < external->sheetNames.size(); ++i)
    if (equalsIgnoreCase(external->sheetNames[i], name)) return static_cast<int32_t>(i);
  return -1;
}

bool Workbook::renameSheet(int32_t index, std::u16string_view name) {
  if (index < 0 || index >= m_sheets.size()) return false;
  int32_t other = findSheet(name);
  if (other >= 0 && other != index) return false;
  m_sheets[index]->name = name;
  return true;
}

std::u16string Workbook::defaultSheetName() {
  return std::u16string(loadString(StringId::SheetPrefix)) + decimalText(sheetCounter++);
}

const ExternalBook* Workbook::externalBook(int32_t index) const {
  if (index < 1 || index > externalBookCount()) return nullptr;
  return &m_externalBooks[static_cast<size_t>(index - 1)];
}

ExternalBook* Workbook::externalBook(int32_t index) {
  if (index < 1 || index > externalBookCount()) return nullptr;
  return &m_externalBooks[static_cast<size_t>(index - 1)];
}

int32_t Workbook::findExternalBook(std::u16string_view directory, std::u16string_view name) const {
  for (size_t i = 0; i < m_externalBooks.size(); ++i) {
    const ExternalBook& book = m_externalBooks[i];
    if (equalsIgnoreCase(book.name, name) && equalsIgnoreCase(book.directory, directory))
      return static_cast<int32_t>(i + 1);
  }
  return -1;
}

int32_t Workbook::findOrAddExternalBook(std::u16string_view directory, std::u16string_view name) {
  if (int32_t found = findExternalBook(directory, name); found > 0) return found;
  ExternalBook book;
  book.name = name;
  book.directory = directory;
  m_externalBooks.push_back(std::move(book));
  return externalBookCount();
}

int32_t Workbook::findName(std::u16string_view text) const {
  for (size_t i = 0; i < names.size(); ++i)
    if (equalsIgnoreCase(names[i].text, text)) return static_cast<int32_t>(i);
  return -1;
}

int32_t Workbook::setName(std::u16string_view text, uint32_t definition) {
  int32_t index = findName(text);
  if (index < 0) {
    names.push_back(DefinedName{std::u16string(text), NoHandle, -1});
    index = static_cast<int32_t>(names.size()) - 1;
  }
  formulaPool().release(names[static_cast<size_t>(index)].definition);
  names[static_cast<size_t>(index)].definition = definition;
  return index;
}

void Workbook::removeName(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(names.size())) return;
  formulaPool().release(names[static_cast<size_t>(index)].definition);
  names.erase(names.begin() + index);
}

int32_t Workbook::findTaskVariable(std::u16string_view name) const {
  for (size_t i = 0; i < taskVariables.size(); ++i)
    if (equalsIgnoreCase(taskVariables[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

int32_t Workbook::addTaskVariable(std::u16string_view name) {
  taskVariables.push_back(TaskVariable{std::u16string(name), emptyValue()});
  return static_cast<int32_t>(taskVariables.size()) - 1;
}

void Workbook::clearTaskVariables() {
  for (TaskVariable& variable : taskVariables) releaseValue(variable.value);
  taskVariables.clear();
}

int32_t Workbook::addFont(const FontRecord& font) {
  for (int32_t i = 0; i < fonts.size(); ++i)
    if (fonts[i].sameAs(font)) return i;
  if (!fonts.append(font)) return -1;
  return fonts.size() - 1;
}

int32_t Workbook::findOrAddStyle(const StyleRecord& record) {
  for (int32_t i = 0; i < styles.size(); ++i)
    if (styles[i] == record) return i;
  if (!styles.append(record)) return -1;
  return styles.size() - 1;
}

const StyleRecord& Workbook::style(int32_t index) const {
  if (index >= 0 && index < styles.size()) return styles[index];
  return styles.size() > 0 ? styles[0] : kDefaultStyle;
}

int32_t Workbook::findOrAddNumberFormat(const NumberFormatRecord& format, int32_t target) {
  return kelp::findOrAddNumberFormat(numberFormats, format, target);
}

bool Workbook::removeNumberFormat(int32_t index) {
  return kelp::removeNumberFormat(numberFormats, styles, index, lastBuiltInFormat);
}

int16_t Workbook::changedStyle(int16_t oldStyle, const StyleRecord& styleFields, uint32_t styleMask,
                               const FontRecord& fontFields, uint32_t fontMask) {
  StyleRecord copy = style(oldStyle < 1 ? 0 : oldStyle);
  if (fontMask) {
    FontRecord font = copy.font < fonts.size() ? fonts[copy.font] : makeFont(u"Tahoma", 400, 0);
    mergeFontFields(font, fontFields, fontMask);
    int32_t fontIndex = addFont(font);
    if (fontIndex < 0) return oldStyle;
    copy.font = static_cast<uint16_t>(fontIndex);
  }
  mergeStyleFields(copy, styleFields, styleMask);
  int32_t index = findOrAddStyle(copy);
  return index < 0 ? oldStyle : static_cast<int16_t>(index);
}

void Workbook::applyStyleChange(Sheet& sheet, const StyleRecord& styleFields, uint32_t styleMask,
                                const FontRecord& fontFields, uint32_t fontMask) {
  const Area area = sheet.selection.area();
  const bool wholeColumns = area.firstRow == 0 && area.lastRow == MaxRows - 1;
  const bool wholeRows = area.firstColumn == 0 && area.lastColumn == MaxColumns - 1;

  // A run of cells with one style is converted with one search.
  int16_t lastOld = INT16_MIN;
  int16_t lastNew = 0;
  auto convert = [&](int16_t old) {
    int16_t key = old < 1 ? 0 : old;
    if (key != lastOld) {
      lastOld = key;
      lastNew = changedStyle(key, styleFields, styleMask, fontFields, fontMask);
    }
    return lastNew;
  };

  if (wholeColumns) {
    for (int32_t col = area.firstColumn; col <= area.lastColumn && !hasError(Err::OutOfMemory); ++col)
      if (!sheet.columns.setColumnStyles(col, col, convert(sheet.columns.columnStyle(col)))) return;
  }
  // Whole rows take the new style themselves so that their empty cells need no slots;
  // with whole columns as well only the rows that exist are touched.
  if (wholeRows) {
    for (int32_t row = area.firstRow; row <= area.lastRow && !hasError(Err::OutOfMemory); ++row) {
      if (wholeColumns && !sheet.rowExists(row)) continue;
      int16_t own = sheet.rowStyle(row);
      if (own < 1 && wholeColumns) continue;
      if (!sheet.setRowStyle(row, convert(own))) return;
    }
  }

  int32_t lastRow = area.lastRow;
  if (wholeColumns) lastRow = std::min<int32_t>(lastRow, sheet.rowArraySize() - 1);
  for (int32_t row = area.firstRow; row <= lastRow; ++row) {
    if (wholeColumns && !sheet.rowExists(row)) continue;
    for (int32_t col = area.firstColumn; col <= area.lastColumn; ++col) {
      if (hasError(Err::OutOfMemory)) return;
      int16_t old = sheet.effectiveStyle(col, row);
      int16_t changed = convert(old);
      if (changed != old) sheet.setCellStyle(col, row, changed);
    }
  }
}

std::unique_ptr<Workbook> newWorkbook(int32_t sheetCount) {
  auto book = std::make_unique<Workbook>();
  if (sheetCount < 1) return book;
  for (int32_t i = 0; i < sheetCount; ++i)
    if (!book->insertSheet(book->defaultSheetName())) break;
  book->setActiveSheet(0);
  book->numberFormats = builtInFormats();
  book->lastBuiltInFormat = BuiltInFormat::Last;
  // Appended as they are: font 4 repeats font 3 because the Excel formats have no font 4.
  const FontRecord standard[] = {
      makeFont(u"Tahoma", 400, 0, 0x37),
      makeFont(u"Arial", 700, FontOption::Bold),
      makeFont(u"Arial", 400, FontOption::Italic),
      makeFont(u"Arial", 700, FontOption::Bold | FontOption::Italic),
      makeFont(u"Arial", 700, FontOption::Bold | FontOption::Italic),
      makeFont(u"Arial", 400, 0),
  };
  for (const FontRecord& font : standard)
    if (!book->fonts.append(font)) break;
  (void)book->styles.append(defaultStyleRecord());
  return book;
}

}  // namespace kelp
