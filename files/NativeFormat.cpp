// The native record stream's reader: whole workbooks, and clipboard ranges pasted into a
// sheet.
#include "files/NativeFormat.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeRecords.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "formula/Catalogue.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

using namespace native;

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
      FormulaRecord* f = newFormulaRecord(formulaPool().addRef(formula), static_cast<uint16_t>(row),
                                          static_cast<uint16_t>(col), sheetIndex);
      if (!f) {
        formulaPool().release(formula);
        releaseValue(record.value, false);
        return false;
      }
      f->cached = record.value;
      record.value = formulaValue(f);
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
