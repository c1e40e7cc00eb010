// The native record stream's reader: whole workbooks, and clipboard ranges pasted into a
// sheet, one handler per record kind.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
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
  // Reads one record of `type`. False stops reading at once; after true, reading still
  // stops when the record was read past its end or an error is pending.
  using Handler = bool (NativeReader::*)(uint16_t type, RecordIn& in);
  static Handler handlerFor(uint16_t type);

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
  Sheet* sheet() const { return m_book.sheetAt(m_sheet); }
  static bool inSheetGroup(uint16_t type);
  static constexpr uint32_t VariableLength = 0xFFFFFFFF;
  static constexpr uint16_t UnusedRecord = 6;  // no release writes or reads it

  static uint32_t fixedLength(uint16_t type);
  bool countsAgree() const;

  // Record handlers, one per record kind.
  bool readPassword(uint16_t type, RecordIn& in);
  bool readCodePage(uint16_t type, RecordIn& in);
  bool readRangeSize(uint16_t type, RecordIn& in);
  bool readBookCount(uint16_t type, RecordIn& in);
  bool readTableSizes(uint16_t type, RecordIn& in);
  bool readExternalBook(uint16_t type, RecordIn& in);
  bool readStringCount(uint16_t type, RecordIn& in);
  bool readString(uint16_t type, RecordIn& in);
  bool readNameCount(uint16_t type, RecordIn& in);
  bool readName(uint16_t type, RecordIn& in);
  bool readFormulaCount(uint16_t type, RecordIn& in);
  bool readFormula(uint16_t type, RecordIn& in);
  bool readBookProtection(uint16_t type, RecordIn& in);
  bool readTask(uint16_t type, RecordIn& in);
  bool readSheet(uint16_t type, RecordIn& in);
  bool readFont(uint16_t type, RecordIn& in);
  bool readNumberFormat(uint16_t type, RecordIn& in);
  bool readStyle(uint16_t type, RecordIn& in);
  bool readPalette(uint16_t type, RecordIn& in);
  bool readSheetStart(uint16_t type, RecordIn& in);
  bool readViewPosition(uint16_t type, RecordIn& in);
  bool readView(uint16_t type, RecordIn& in);
  bool readSheetProtection(uint16_t type, RecordIn& in);
  bool readPageText(uint16_t type, RecordIn& in);
  bool readMargin(uint16_t type, RecordIn& in);
  bool readPageSetup(uint16_t type, RecordIn& in);
  bool readVisibility(uint16_t type, RecordIn& in);
  bool columnRun(uint16_t type, RecordIn& in);
  bool cellRow(uint16_t type, RecordIn& in);
  bool readMerged(uint16_t type, RecordIn& in);
  bool validation(uint16_t type, RecordIn& in);
  bool readFilterRange(uint16_t type, RecordIn& in);
  bool readFilterColumn(uint16_t type, RecordIn& in);
  bool readLaterRecord(uint16_t type, RecordIn& in);

  Workbook& m_book;
  DocStream& m_in;
  const NativeReadOptions& m_options;
  NativeReadResult& m_result;

  uint16_t m_formatVersion = NativeVersion::Format;
  bool m_exactLengths = true;  // records of this release's layout, written by it or older
  bool m_paste = false;
  PasteTarget m_target;
  Area m_pasteArea{};
  bool m_hasOrigin = false;
  CellPosition m_origin{};  // the pasted range's first cell where it was copied
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

  // What the count records announced; a table that ends short or runs long means
  // records were lost or the framing slipped.
  static constexpr uint32_t NotAnnounced = 0xFFFFFFFF;
  uint32_t m_stringsAnnounced = NotAnnounced;
  uint32_t m_formulasAnnounced = NotAnnounced;
  uint32_t m_namesAnnounced = NotAnnounced;
  uint32_t m_booksAnnounced = NotAnnounced;
  uint32_t m_stylesAnnounced = NotAnnounced;
  uint32_t m_fontsAnnounced = NotAnnounced;
  uint32_t m_formatsAnnounced = NotAnnounced;
};

NativeReader::~NativeReader() {
  // The reader holds one reference on every table entry while it reads, so that a
  // name or formula released on the way cannot free a text a later cell still names.
  // Formulas go first: freeing one gives back the texts it held.
  for (uint32_t handle : m_formulas) formulaPool().release(handle);
  for (uint32_t handle : m_strings) textPool().release(handle);
}

bool NativeReader::checkTokens(const uint8_t* tokens, uint32_t length, uint32_t nameLimit) const {
  if (length == 0 || tokens[length - 1] != static_cast<uint8_t>(Op::End)) return false;
  // Task ops and command and task rows run only in programs and tasks; a file's formula
  // holding one is damaged or hostile.
  if (!storableTokens(tokens, length)) return false;
  uint8_t lastOp = 0xFF;
  bool ok = walkTokens(tokens, length, [&](uint8_t op, const uint8_t* payload) {
    lastOp = op;
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
  m_exactLengths = m_formatVersion == NativeVersion::Format && writer <= NativeVersion::Writer;
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
  // Data without the range's origin pastes its formulas as they are.
  if (in.left() >= 4) {
    m_origin.column = static_cast<uint16_t>(in.u16());
    m_origin.row = static_cast<uint16_t>(in.u16());
    m_hasOrigin = m_origin.column + columns <= MaxColumns && m_origin.row + rows <= MaxRows;
  }
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
  // The target is cleared of what the paste brings; with skipped blanks each cell is
  // left to the source cell over it, since a blank one leaves the target as it was.
  const PasteOptions& o = m_target.options;
  const bool keepCells = o.contents && o.skipBlanks;
  target->unmergeWithin(m_pasteArea);
  for (int32_t r = target->nextRow(m_pasteArea.firstRow - 1); r <= m_pasteArea.lastRow && r < NoRow;
       r = target->nextRow(r)) {
    for (int32_t c = m_pasteArea.firstColumn; c <= m_pasteArea.lastColumn; ++c) {
      CellRecord* cell = target->cellPtr(c, r);
      if (!cell) continue;
      CellRecord record = *cell;
      bool clearValue = o.contents && !keepCells;
      if (clearValue) record.value = emptyValue();
      if (o.formats && !keepCells) record.style = -1;
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

// Record 11: a row's number, first and end column, height, flags and style, then an
// entry for each cell.
bool NativeReader::cellRow(uint16_t, RecordIn& in) {
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
        if (o.formats && !o.contents) target->setCellStyle(static_cast<int32_t>(col), static_cast<int32_t>(row), static_cast<int16_t>(style));
        continue;
      }
      if (!o.formats) style = old ? old->style : -1;
      if (o.onlyResults) formula = NoHandle;
    }
    CellRecord record{value, static_cast<int16_t>(style)};
    if (value.kind == ValueKind::Text) textPool().addRef(value.u32());
    if (formula != NoHandle) {
      const CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), sheetIndex};
      const CellPosition from{static_cast<uint16_t>(m_origin.column + col - dc),
                              static_cast<uint16_t>(m_origin.row + row - dr), sheetIndex};
      const uint32_t tokens = m_hasOrigin ? tokensCopiedTo(formula, from, at) : formulaPool().addRef(formula);
      CellValue f = tokens == NoHandle ? emptyValue() : newFormulaValue(tokens, at);
      if (f.kind != ValueKind::Formula) {
        if (tokens != NoHandle) formulaPool().release(tokens);
        releaseValue(record.value);
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
  bool carried = height != NoRowHeight && (!m_paste || o.formats);
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

// Record 15: a run of columns, first, last, width, style and flags.
bool NativeReader::columnRun(uint16_t, RecordIn& in) {
  Sheet* target = sheet();
  uint32_t first = in.u16();
  uint32_t last = in.u16();
  uint32_t width = in.u32();
  int32_t style = mapStyle(in.u16());
  uint16_t flags = in.u16();
  if (!target || in.bad()) return true;
  if (m_paste) {
    if (!m_target.options.formats) return true;
    first += m_pasteArea.firstColumn;
    last += m_pasteArea.firstColumn;
  }
  if (first > last || last >= MaxColumns) {
    setError(Err::FileRead);
    return false;
  }
  // A width equal to the default is stored as the default, as the column table does.
  int32_t stored = width == target->columns.defaultWidth() || width > 0x7FFFFFFF ? -1 : static_cast<int32_t>(width);
  ColumnRecord record{stored, static_cast<int16_t>(style > 0 ? style : 0), flags};
  // A run the table refuses is left out; reading stops only if that set an error.
  target->columns.copyColumnRecord(static_cast<int32_t>(first), static_cast<int32_t>(last), record);
  return true;
}

// Record 32: a validation rule, its texts, its two token strings, its list items and
// the ranges it covers.
bool NativeReader::validation(uint16_t, RecordIn& in) {
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
    return false;
  }
  if (!target || (m_paste && !m_target.options.validation)) return true;
  uint32_t handles[2] = {NoHandle, NoHandle};
  for (int i = 0; i < 2; ++i) {
    if (tokens[i].empty()) continue;
    handles[i] = addFormula(tokens[i].data(), static_cast<uint32_t>(tokens[i].size()), 1,
                            static_cast<uint32_t>(m_nameMap.size()));
    if (handles[i] == NoHandle) {
      formulaPool().release(handles[0]);
      return true;
    }
  }
  rule.formula1 = handles[0];
  rule.formula2 = handles[1];
  target->validations.push_back(std::move(entry));
  return true;
}

// Record 28: the password hash; every record after it is scrambled.
bool NativeReader::readPassword(uint16_t, RecordIn& in) {
  m_book.passwordHash = in.u32();
  // The next record's header, unscrambled with a candidate's keys, must name a record
  // this reader knows with its length: a password that only shares the check value
  // unscrambles it into noise.
  uint8_t next[4];
  const bool peeked = m_in.PeekStored(next, 4) == 4;
  auto fits = [&](std::u16string_view password) {
    if (!peeked) return true;
    uint8_t key1, key2;
    DocStream::scrambleKeys(password, key1, key2);
    uint8_t header[4];
    for (int i = 0; i < 4; ++i) header[i] = DocStream::unscrambled(next[i], key1, key2);
    const uint16_t type = static_cast<uint16_t>(header[0] | header[1] << 8);
    const uint16_t length = static_cast<uint16_t>(header[2] | header[3] << 8);
    if (type == NativeRecord::End || type == NativeRecord::Password) return false;
    if (!handlerFor(type)) return !m_exactLengths;
    const uint32_t fixed = fixedLength(type);
    return !m_exactLengths || fixed == VariableLength || length == fixed;
  };
  if (!CheckPassword(m_book, m_options.askPassword, fits)) {
    m_result.cancelled = true;
    return false;
  }
  m_in.SetScrambleKey(m_book.password);
  return true;
}

// Record 19: the code page.
bool NativeReader::readCodePage(uint16_t, RecordIn& in) {
  uint32_t page = in.u32();
  if (!m_paste && codePageSupported(page)) m_book.codePage = page;
  return true;
}

// Record 10: the cut flag, columns and rows of clipboard data; it makes the read a paste.
bool NativeReader::readRangeSize(uint16_t, RecordIn& in) {
  // Clipboard data announces itself before any sheet; later it is damage.
  if (m_paste || m_sheetRecords > 0 || m_book.sheetCount() > m_sheetsBefore) {
    setError(Err::FileRead);
    return false;
  }
  return startPaste(in);
}

// Record 34: how many records 33 follow.
bool NativeReader::readBookCount(uint16_t, RecordIn& in) {
  m_booksAnnounced = in.u32();
  return true;
}

// Record 16: how many styles, fonts and number formats follow (the last count twice).
bool NativeReader::readTableSizes(uint16_t, RecordIn& in) {
  m_stylesAnnounced = in.u16();
  m_fontsAnnounced = in.u16();
  m_formatsAnnounced = in.u16();
  return true;
}

// Record 33: an external book's sheet count, path and sheet names.
bool NativeReader::readExternalBook(uint16_t, RecordIn& in) {
  uint32_t count = in.u32();
  std::u16string path = in.plain();
  std::vector<std::u16string> sheets;
  for (uint32_t i = 0; i < count && !in.bad(); ++i) sheets.push_back(in.plain());
  if (in.bad()) return true;
  if (m_bookMap.size() > 255) {
    setError(Err::FileRead);
    return false;
  }
  size_t split = path.find_last_of(u"\\/");
  std::u16string directory = split == std::u16string::npos ? std::u16string() : path.substr(0, split + 1);
  std::u16string name = split == std::u16string::npos ? path : path.substr(split + 1);
  int32_t index = m_book.findOrAddExternalBook(directory, name);
  if (index > MaxExternalBooks) {
    setError(Err::FileRead);
    return false;
  }
  ExternalBook* book = m_book.externalBook(index);
  for (std::u16string& s : sheets)
    if (std::find(book->sheetNames.begin(), book->sheetNames.end(), s) == book->sheetNames.end())
      book->sheetNames.push_back(std::move(s));
  m_bookMap.push_back(static_cast<uint8_t>(index));
  return true;
}

// Record 3: how many records 4 follow.
bool NativeReader::readStringCount(uint16_t, RecordIn& in) {
  uint32_t count = in.u32();
  if (!in.bad()) m_strings.reserve(std::min<uint32_t>(count, 1u << 20));
  m_stringsAnnounced = count;
  return true;
}

// Record 4: one text of the string table, counted.
bool NativeReader::readString(uint16_t, RecordIn& in) {
  std::u16string text;
  in.counted(text);
  if (in.bad()) return true;
  uint32_t handle = NoHandle;
  if (!text.empty()) {
    handle = textPool().add(text.c_str(), (text.size() + 1) * sizeof(char16_t), 1);
    if (handle == NoHandle) return false;
  }
  m_strings.push_back(handle);
  return true;
}

// Record 20: how many records 21 follow.
bool NativeReader::readNameCount(uint16_t, RecordIn& in) {
  m_namesAnnounced = in.u32();
  return true;
}

// Record 21: a name, counted, and its definition's tokens when it has one.
bool NativeReader::readName(uint16_t, RecordIn& in) {
  std::u16string text;
  in.counted(text);
  std::vector<uint8_t> tokens;
  if (in.left() > 0) readBlob(in, tokens);
  if (in.bad()) return true;
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
  return true;
}

// Record 12: how many records 13 follow.
bool NativeReader::readFormulaCount(uint16_t, RecordIn& in) {
  uint32_t count = in.u32();
  if (!in.bad()) m_formulas.reserve(std::min<uint32_t>(count, 1u << 20));
  m_formulasAnnounced = count;
  return true;
}

// Record 13: one token string of the formula table.
bool NativeReader::readFormula(uint16_t, RecordIn& in) {
  std::vector<uint8_t> tokens;
  if (!readBlob(in, tokens)) return true;
  uint32_t handle = addFormula(tokens.data(), static_cast<uint32_t>(tokens.size()), 1,
                               static_cast<uint32_t>(m_nameMap.size()));
  if (handle == NoHandle) return false;
  m_formulas.push_back(handle);
  return true;
}

// Record 23: whether the workbook is protected.
bool NativeReader::readBookProtection(uint16_t, RecordIn& in) {
  if (!m_paste) m_book.isProtected = in.u16() != 0;
  return true;
}

// Record 25: a task's area, two switches the run-on word repeats, name, definition,
// run-on word and menu text.
bool NativeReader::readTask(uint16_t, RecordIn& in) {
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
  return true;
}

// Record 7: a sheet's name, counted; each one adds a sheet.
bool NativeReader::readSheet(uint16_t, RecordIn& in) {
  std::u16string name;
  in.counted(name);
  if (in.bad() || m_paste) return true;
  if (m_book.sheetCount() >= 0xFFFF) {
    setError(Err::FileRead);
    return false;
  }
  if (!m_book.insertSheet(name)) return false;
  return true;
}

// Record 8: a font, field by field.
bool NativeReader::readFont(uint16_t, RecordIn& in) {
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
  if (in.bad()) return true;
  int32_t index;
  if (m_paste) {
    index = m_book.addFont(f);
  } else {
    index = m_book.fonts.append(f) ? m_book.fonts.size() - 1 : -1;
  }
  if (index < 0) return false;
  m_fontMap.push_back(index);
  return true;
}

// Records 17 and 18: a number format (decimals, thousands and four affixes) or a date
// format (date and time pictures).
bool NativeReader::readNumberFormat(uint16_t type, RecordIn& in) {
  NumberFormatRecord f;
  if (type == NativeRecord::DateFormat) {
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
  if (in.bad()) return true;
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
  return true;
}

// Records 30 and 9: a style in eleven words, or in the older layout that counts only
// while no record 30 has come.
bool NativeReader::readStyle(uint16_t type, RecordIn& in) {
  namespace R = NativeRecord;
  if (type == R::OldStyle && m_sawStyle) return true;
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
  if (in.bad()) return true;
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
  return true;
}

// Record 29: a count and the palette's colours.
bool NativeReader::readPalette(uint16_t, RecordIn& in) {
  uint32_t count = in.u16();
  std::array<uint32_t, 56> colors = m_book.palette.colors;
  for (uint32_t i = 0; i < count && i < colors.size(); ++i) colors[i] = in.u32();
  if (!in.bad() && !m_paste) {
    m_book.palette.colors = colors;
    m_book.palette.changed = true;
  }
  return true;
}

// Record 5: the sheet records after it belong to the next sheet, which a record 7 must
// have made; otherwise every later group would land in the sheet before its own.
bool NativeReader::readSheetStart(uint16_t, RecordIn&) {
  if (m_paste) return true;
  if (m_sheetsBefore + m_sheetRecords >= m_book.sheetCount()) {
    setError(Err::FileRead);
    return false;
  }
  m_sheet = m_sheetsBefore + m_sheetRecords++;
  return true;
}

// Record 22: the top row and left column shown, and the selection.
bool NativeReader::readViewPosition(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    uint16_t top = in.u16(), left = in.u16();
    Selection s;
    s.firstRow = in.u16();
    s.firstColumn = static_cast<int16_t>(in.u16());
    s.lastRow = in.u16();
    s.lastColumn = static_cast<int16_t>(in.u16());
    if (in.bad()) return true;
    if (s.firstColumn < 0 || s.lastColumn < 0 || s.firstColumn >= MaxColumns || s.lastColumn >= MaxColumns ||
        s.firstRow > s.lastRow || s.firstColumn > s.lastColumn || left >= MaxColumns)
      return true;  // a selection the grid could not show is not taken
    s.activeRow = s.endRow = s.lastRow;
    s.activeColumn = s.endColumn = s.lastColumn;
    current->selection = s;
    current->view.topRow = top;
    current->view.leftColumn = left;
  }
  return true;
}

// Record 14: zoom, the display switches and the frozen panes.
bool NativeReader::readView(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
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
    if (in.bad()) return true;
    // The scrollable part never shows frozen rows or columns again.
    if (v.rowsFrozen && v.topRow <= v.frozenLastRow && v.frozenLastRow < MaxRows - 1)
      v.topRow = static_cast<uint16_t>(v.frozenLastRow + 1);
    if (v.columnsFrozen && v.leftColumn <= v.frozenLastColumn && v.frozenLastColumn < MaxColumns - 1)
      v.leftColumn = static_cast<uint16_t>(v.frozenLastColumn + 1);
    current->view = v;
  }
  return true;
}

// Record 24: whether the sheet is protected.
bool NativeReader::readSheetProtection(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) current->isProtected = in.u16() != 0;
  return true;
}

// Records 36 and 37: the page header or footer, its length and its text.
bool NativeReader::readPageText(uint16_t type, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    in.u32();
    std::u16string text = in.plain();
    if (in.bad()) return true;
    (type == NativeRecord::PageHeader ? current->print.header : current->print.footer) = std::move(text);
  }
  return true;
}

// Records 38 to 41: the left, right, top and bottom margins.
bool NativeReader::readMargin(uint16_t type, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    double value = in.f64();
    if (in.bad()) return true;
    double* margins[4] = {&current->print.leftMargin, &current->print.rightMargin, &current->print.topMargin,
                          &current->print.bottomMargin};
    *margins[type - NativeRecord::LeftMargin] = value;
  }
  return true;
}

// Record 42: the page setup bytes.
bool NativeReader::readPageSetup(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    uint8_t setup[sizeof current->print.pageSetup];
    if (in.take(setup, sizeof setup)) std::memcpy(current->print.pageSetup, setup, sizeof setup);
  }
  return true;
}

// Record 35: whether the sheet is shown, hidden or very hidden.
bool NativeReader::readVisibility(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    uint32_t visibility = in.u32();
    if (!in.bad() && visibility <= 2) current->visibility = static_cast<SheetVisibility>(visibility);
  }
  return true;
}

// Record 31: a count of merged areas, each first row, last row, first column, last column.
bool NativeReader::readMerged(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
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
  return true;
}

// Record 26: the filtered area, first row, first column, last row, last column.
bool NativeReader::readFilterRange(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    Area area;
    area.firstRow = in.u16();
    area.firstColumn = in.u16();
    area.lastRow = in.u16();
    area.lastColumn = in.u16();
    if (in.bad()) return true;
    if (area.firstRow > area.lastRow || area.firstColumn > area.lastColumn || area.lastColumn >= MaxColumns) {
      setError(Err::FileRead);
      return false;
    }
    current->autoFilter.active = 1;
    current->autoFilter.area = area;
    current->autoFilter.columns.assign(static_cast<size_t>(area.lastColumn - area.firstColumn + 1), FilterColumn{});
  }
  return true;
}

// Record 27: one column's criteria, six words and two texts.
bool NativeReader::readFilterColumn(uint16_t, RecordIn& in) {
  Sheet* current = sheet();
  if (current && !m_paste) {
    uint32_t column = in.u32();
    kelp::FilterColumn criteria;
    for (uint32_t* v : {&criteria.kind, &criteria.count, &criteria.largest, &criteria.operator1,
                        &criteria.operator2, &criteria.joinAnd})
      *v = in.u32();
    criteria.text1 = in.plain();
    criteria.text2 = in.plain();
    AutoFilter& filter = current->autoFilter;
    if (in.bad() || !filter.active || column < filter.area.firstColumn) return true;
    size_t at = column - filter.area.firstColumn;
    if (at < filter.columns.size()) filter.columns[at] = std::move(criteria);
  }
  return true;
}

// Records 0x8000 and up; 0x8001 holds 11, the active sheet's index and 0.
bool NativeReader::readLaterRecord(uint16_t type, RecordIn& in) {
  // Records of this range come from releases that know more; only one is ours.
  if (m_formatVersion < NativeVersion::Format || m_paste) return true;
  if (type == NativeRecord::ActiveSheet && in.left() >= 8 && in.u32() == 11) {
    uint32_t index = in.u32();
    if (!in.bad() && static_cast<int32_t>(index) < m_book.sheetCount()) {
      m_book.setActiveSheet(static_cast<int32_t>(index));
      return true;
    }
  }
  m_book.setActiveSheet(0);
  return true;
}

NativeReader::Handler NativeReader::handlerFor(uint16_t type) {
  namespace R = NativeRecord;
  struct Entry {
    uint16_t type;
    Handler handler;
  };
  // Records 1 and 2 open and close the stream and read() takes them; any other type
  // without a handler here is skipped.
  static constexpr Entry entries[] = {
      {R::StringCount, &NativeReader::readStringCount},
      {R::String, &NativeReader::readString},
      {R::SheetStart, &NativeReader::readSheetStart},
      {R::Sheet, &NativeReader::readSheet},
      {R::Font, &NativeReader::readFont},
      {R::OldStyle, &NativeReader::readStyle},
      {R::RangeSize, &NativeReader::readRangeSize},
      {R::CellRow, &NativeReader::cellRow},
      {R::FormulaCount, &NativeReader::readFormulaCount},
      {R::Formula, &NativeReader::readFormula},
      {R::View, &NativeReader::readView},
      {R::ColumnRun, &NativeReader::columnRun},
      {R::TableSizes, &NativeReader::readTableSizes},
      {R::NumberFormat, &NativeReader::readNumberFormat},
      {R::DateFormat, &NativeReader::readNumberFormat},
      {R::CodePage, &NativeReader::readCodePage},
      {R::NameCount, &NativeReader::readNameCount},
      {R::Name, &NativeReader::readName},
      {R::ViewPosition, &NativeReader::readViewPosition},
      {R::BookProtection, &NativeReader::readBookProtection},
      {R::SheetProtection, &NativeReader::readSheetProtection},
      {R::Task, &NativeReader::readTask},
      {R::FilterRange, &NativeReader::readFilterRange},
      {R::FilterColumn, &NativeReader::readFilterColumn},
      {R::Password, &NativeReader::readPassword},
      {R::Palette, &NativeReader::readPalette},
      {R::Style, &NativeReader::readStyle},
      {R::Merged, &NativeReader::readMerged},
      {R::Validation, &NativeReader::validation},
      {R::ExternalBook, &NativeReader::readExternalBook},
      {R::ExternalBookCount, &NativeReader::readBookCount},
      {R::Visibility, &NativeReader::readVisibility},
      {R::PageHeader, &NativeReader::readPageText},
      {R::PageFooter, &NativeReader::readPageText},
      {R::LeftMargin, &NativeReader::readMargin},
      {R::RightMargin, &NativeReader::readMargin},
      {R::TopMargin, &NativeReader::readMargin},
      {R::BottomMargin, &NativeReader::readMargin},
      {R::PageSetup, &NativeReader::readPageSetup},
  };
  // Indexed by type; an entry past the end of the table stops the build here.
  static constexpr auto byType = [] {
    std::array<Handler, 64> table{};
    for (const Entry& entry : entries) table.at(entry.type) = entry.handler;
    return table;
  }();
  if (type >= 0x8000) return &NativeReader::readLaterRecord;
  return type < byType.size() ? byType[type] : nullptr;
}

bool NativeReader::inSheetGroup(uint16_t type) {
  namespace R = NativeRecord;
  switch (type) {
    case R::CellRow: case R::View: case R::ColumnRun: case R::ViewPosition: case R::SheetProtection:
    case R::FilterRange: case R::FilterColumn: case R::Merged: case R::Validation: case R::Visibility:
    case R::PageHeader: case R::PageFooter: case R::LeftMargin: case R::RightMargin: case R::TopMargin:
    case R::BottomMargin: case R::PageSetup:
      return true;
    default:
      return false;
  }
}

bool NativeReader::countsAgree() const {
  auto agrees = [](uint32_t announced, size_t read) { return announced == NotAnnounced || announced == read; };
  bool tables = agrees(m_stringsAnnounced, m_strings.size()) && agrees(m_formulasAnnounced, m_formulas.size()) &&
                agrees(m_namesAnnounced, m_nameMap.size()) && agrees(m_booksAnnounced, m_bookMap.size() - 1);
  // Earlier releases counted their style tables their own way; only ours are held to it.
  if (m_formatVersion >= NativeVersion::Format)
    tables = tables && agrees(m_stylesAnnounced, m_styleMap.size()) && agrees(m_fontsAnnounced, m_fontMap.size()) &&
             agrees(m_formatsAnnounced, m_formatMap.size());
  // Every sheet has its group, in sheet order.
  return tables && (m_paste || m_sheetsBefore + m_sheetRecords == m_book.sheetCount());
}

uint32_t NativeReader::fixedLength(uint16_t type) {
  namespace R = NativeRecord;
  switch (type) {
    case R::SheetStart: return 0;
    case R::BookProtection: case R::SheetProtection: return 2;
    case R::StringCount: case R::FormulaCount: case R::CodePage: case R::NameCount: case R::Password:
    case R::ExternalBookCount: case R::Visibility: return 4;
    case R::RangeSize: case R::TableSizes: case R::FilterRange: case R::LeftMargin: case R::RightMargin:
    case R::TopMargin: case R::BottomMargin: return 8;
    case R::ColumnRun: case R::ViewPosition: case R::ActiveSheet: return 12;
    case R::OldStyle: return 16;
    case R::View: return 17;
    case R::Style: return 22;
    case R::PageSetup: return 44;
    case R::Font: return 79;
    case R::Palette: return 226;
    default: return VariableLength;
  }
}

bool NativeReader::record(uint16_t type, RecordIn& in) {
  if (type != NativeRecord::Name && !m_pendingNames.empty()) finishNames();
  if (pendingError()) return false;
  Handler handler = handlerFor(type);
  // A file of this release holds only the records it knows, each of its own length;
  // anything else means the framing slipped. Newer writers may add records and fields.
  uint32_t fixed = fixedLength(type);
  bool known = type < 0x8000 ? handler != nullptr || type == UnusedRecord : type == NativeRecord::ActiveSheet;
  // Clipboard data may add the range's origin to its size record.
  const bool longerRange = type == NativeRecord::RangeSize && in.left() == fixed + 4;
  if (m_exactLengths && (!known || (fixed != VariableLength && in.left() != fixed && !longerRange))) {
    setError(Err::FileRead);
    return false;
  }
  // A sheet's records outside any sheet group have lost the sheet they belong to.
  if (inSheetGroup(type) && !sheet()) {
    setError(Err::FileRead);
    return false;
  }
  if (handler && !(this->*handler)(type, in)) return false;
  if (in.bad()) {
    setError(Err::FileRead);
    return false;
  }
  return !pendingError();
}

bool NativeReader::read() {
  installTokenHooks();
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
  // An end record that is not the file's end is one the framing met out of step.
  bool atEnd = length == 0 && (m_paste || m_in.drained());
  if (ok && !pendingError() && (!atEnd || !countsAgree())) setError(Err::FileRead);
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
