// The Excel workbook reader: the record stream and its substreams, the globals (sheets,
// names, external references, shared strings), and the tasks of the hidden data sheet.
#include "files/ExcelReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelAddIns.h"
#include "files/ExcelReaderInternal.h"
#include "formula/Compiler.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace excel {

namespace {

// The extra sheet through which Kelp's workbook tasks travel in an Excel file.
constexpr std::u16string_view DataSheetName = KelpDataSheetName;
constexpr uint32_t MaxRecordData = 65535;
// Sheet numbers are bytes in references; a task area naming "any sheet" uses these.
constexpr uint8_t AnySheetFirst = 255, AnySheetLast = 245;
// The built-in names Auto_Open and Auto_Close are macros Kelp cannot run.
constexpr char16_t AutoOpen = 0x01, AutoClose = 0x02;
constexpr uint16_t NameBuiltIn = 0x0020;

}  // namespace

// Continued bytes.

void ContinuedBytes::clear() {
  m_bytes.clear();
  m_boundaries.clear();
  m_at = m_nextBoundary = 0;
  m_bad = false;
}

void ContinuedBytes::start(const uint8_t* data, uint32_t length, bool optionAtBoundaries) {
  clear();
  m_bytes.assign(data, data + length);
  m_optionAtBoundaries = optionAtBoundaries;
}

void ContinuedBytes::append(const uint8_t* data, uint32_t length) {
  m_boundaries.push_back(m_bytes.size());
  m_bytes.insert(m_bytes.end(), data, data + length);
}

uint8_t ContinuedBytes::u8() {
  if (m_bad || m_at >= m_bytes.size()) {
    m_bad = true;
    return 0;
  }
  return m_bytes[m_at++];
}

uint16_t ContinuedBytes::u16() {
  uint16_t low = u8();
  return static_cast<uint16_t>(low | u8() << 8);
}

uint32_t ContinuedBytes::u32() {
  uint32_t low = u16();
  return low | static_cast<uint32_t>(u16()) << 16;
}

void ContinuedBytes::skip(uint32_t count) {
  if (m_bad || count > left()) {
    m_bad = true;
    return;
  }
  m_at += count;
}

std::u16string ContinuedBytes::chars(uint32_t count, bool wide) {
  std::u16string out;
  out.reserve(std::min<size_t>(count, left()));
  // A run at a time: the width can change only where a CONTINUE record's data starts.
  while (out.size() < count && !m_bad) {
    while (m_nextBoundary < m_boundaries.size() && m_boundaries[m_nextBoundary] < m_at) ++m_nextBoundary;
    const bool boundaryAhead = m_optionAtBoundaries && m_nextBoundary < m_boundaries.size();
    if (boundaryAhead && m_boundaries[m_nextBoundary] == m_at) {
      wide = (u8() & 1) != 0;
      ++m_nextBoundary;
      continue;
    }
    const size_t step = wide ? 2 : 1;
    size_t run = count - out.size();
    // A character that starts before the boundary is read whole, as Excel never splits one.
    if (boundaryAhead) run = std::min(run, (m_boundaries[m_nextBoundary] - m_at + step - 1) / step);
    if (run * step > left()) {
      m_at = m_bytes.size();
      m_bad = true;
      break;
    }
    const uint8_t* bytes = m_bytes.data() + m_at;
    const size_t base = out.size();
    out.resize(base + run);
    if (wide) {
      for (size_t i = 0; i < run; ++i) out[base + i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    } else {
      for (size_t i = 0; i < run; ++i) out[base + i] = bytes[i];
    }
    m_at += run * step;
  }
  if (m_bad) out.clear();
  return out;
}

void limitText(std::u16string& text) {
  // A longer text would make a record the native writer cannot frame.
  if (text.size() > MaxStoredText) text.resize(MaxStoredText);
}

// The reader.

ExcelReader::ExcelReader(Workbook& book, DocStream& stream, bool biff8) : m_book(book), m_in(stream), m_biff8(biff8) {
  m_context.workbook = &book;
  m_context.biff8 = biff8;
}

ExcelReader::~ExcelReader() {
  // Cells took references of their own; the reader gives back the ones it held.
  for (const auto& [key, shared] : m_shared) formulaPool().release(shared.tokens);
  for (uint32_t handle : m_sst) textPool().release(handle);
}

std::u16string ExcelReader::bytesToText(const uint8_t* bytes, uint32_t count) const {
  std::u16string out(count, u'\0');
  for (uint32_t i = 0; i < count; ++i) out[i] = byteToChar(m_codePage, bytes[i]);
  return out;
}

std::u16string ExcelReader::textAfterCount(RecordIn& in, uint32_t count) {
  if (!m_biff8) {
    const uint8_t* bytes = in.span(count);
    return bytes ? bytesToText(bytes, count) : std::u16string();
  }
  uint8_t options = in.u8();
  uint32_t runs = (options & 0x08) ? in.u16() : 0;
  uint32_t farEast = (options & 0x04) ? in.u32() : 0;
  std::u16string out;
  const bool wide = options & 0x01;
  const uint8_t* chars = in.span(wide ? count * 2 : count);
  if (!chars) return out;
  out.resize(count);
  // Without the wide flag the bytes are the characters' low halves: Latin-1, not the code page.
  for (uint32_t i = 0; i < count; ++i)
    out[i] = wide ? static_cast<char16_t>(chars[2 * i] | chars[2 * i + 1] << 8) : static_cast<char16_t>(chars[i]);
  in.span(runs * 4);
  in.span(farEast);
  if (in.bad()) out.clear();
  return out;
}

std::u16string ExcelReader::text(RecordIn& in, int countBytes) {
  uint32_t count = countBytes == 1 ? in.u8() : in.u16();
  if (in.bad()) return std::u16string();
  return textAfterCount(in, count);
}

uint32_t ExcelReader::convert(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                              const uint8_t* extra, size_t extraLength) {
  uint32_t handle = convertExcelFormula(tokens, length, cell, kind, m_context, extra, extraLength);
  // A formula Kelp cannot express, or whose tokens it cannot follow, is no failure of the
  // file: its cell keeps the cached value and the notice waits for the end, so that a
  // later real error is not hidden. The record around the tokens was whole.
  const uint32_t code = pendingError();
  if (code == static_cast<uint32_t>(Err::UnsupportedFormula) || code == static_cast<uint32_t>(Err::FileRead) ||
      code == static_cast<uint32_t>(Err::FormulaTooComplex)) {
    clearError();
    m_unsupportedFormula = true;
  }
  if (m_context.volatileSeen) m_recalculate = true;
  return handle;
}

bool ExcelReader::read() {
  setUpFormats();
  std::vector<uint8_t> buffer(MaxRecordData);
  uint16_t type = 0, length = 0;
  if (!m_in.ReadRecord(type, length, buffer.data())) {
    if (pendingError() == static_cast<uint32_t>(Err::FileRead)) {
      clearError();
      setError(Err::ExcelVersion);
    }
    return false;
  }
  RecordIn first(buffer.data(), length);
  if (type != Record::Bof || length < 4 || (first.u16(), first.u16()) != Substream::Globals) {
    setError(Err::ExcelVersion);
    return false;
  }
  m_depth = 1;
  m_part = Part::Globals;
  for (;;) {
    const uint8_t* data = m_in.ReadRecordInPlace(type, length, buffer.data());
    if (!data) return false;
    if (type == Record::Continue && !m_continued.empty()) {
      m_continued.append(data, length);
      continue;
    }
    if (!m_continued.empty()) finishContinued();
    if (pendingError()) return false;
    RecordIn in(data, length);
    if (type == Record::Bof) {
      if (!beginSubstream(in)) return false;
    } else if (type == Record::Eof) {
      if (!endSubstream()) return false;
      if (m_depth == 0 && m_globalsDone && m_nextSubstream >= m_boundSheets.size()) break;
    } else if (m_depth == 1 && !record(type, in)) {
      return false;
    }
    if (pendingError()) return false;
  }
  chooseActiveSheet();
  restoreTasks();
  if (pendingError()) return false;
  if (m_recalculate) recalculateAll(m_book);
  if (m_unsupportedFormula) setError(Err::UnsupportedFormula);
  if (!m_unsupportedName.empty()) leaveNotice(static_cast<uint32_t>(Err::UnsupportedFormula), m_unsupportedName);
  return true;
}

bool ExcelReader::record(uint16_t type, RecordIn& in) {
  switch (m_part) {
    case Part::Globals:
      break;
    case Part::Worksheet:
    case Part::ChartSheet:
      return sheetRecord(type, in);
    case Part::DataSheet:
      return dataSheetRecord(type, in);
    case Part::Skipped:
      return true;
  }
  switch (type) {
    case Record::FilePass:
      setError(Err::PasswordProtected);
      return false;
    case Record::Protect:
      m_book.isProtected = in.u16() == 1;
      return true;
    case Record::DateMode:
      m_date1904 = in.u16() == 1;
      return true;
    case Record::CodePage:
      readCodePage(in);
      return true;
    case Record::BoundSheet:
      return readBoundSheet(in);
    case Record::ExternSheet:
      readExternSheet(in);
      return true;
    case Record::SupBook:
      readSupBook(in);
      return true;
    case Record::ExternName:
      readExternName(in);
      return true;
    case Record::Name:
      return readName(in);
    case Record::Font:
      return readFont(in);
    case Record::Format:
      return readFormat(in);
    case Record::Xf:
      return readXf(in);
    case Record::Palette:
      readPalette(in);
      return true;
    case Record::Sst:
      if (m_biff8) {
        // The length first: span() moves past the bytes, and argument order is the compiler's.
        {
          const uint32_t length = in.left();
          m_continued.start(in.span(length), length);
        }
        m_continuedType = Record::Sst;
      }
      return true;
    default:
      return true;
  }
}

void ExcelReader::finishContinued() {
  if (m_continuedType == Record::Sst) readSst();
  else if (m_continuedType == Record::String) readFormulaString();
  else if (m_continuedType == Record::Label) readLabel();
  m_continued.clear();
  m_continuedType = 0;
}

// BOF: the first one opens the globals; each later one at the top opens the substream
// of the next BOUNDSHEET entry, and one inside a substream is a chart embedded in it.
bool ExcelReader::beginSubstream(RecordIn& in) {
  ++m_depth;
  if (m_depth > 1) return true;
  in.u16();  // the BIFF version; the stream's name already said which one
  uint16_t kind = in.u16();
  m_window2 = 0;
  m_window2Top = m_window2Left = 0;
  m_activePane = 3;
  m_stringPending = false;
  m_sheet = nullptr;
  // An Excel 5 sheet lists the sheets its formulas refer to in its own EXTERNSHEET records.
  if (!m_biff8) {
    m_context.externSheets.clear();
    m_context.externNames.clear();
  }
  if (m_nextSubstream >= m_boundSheets.size()) {
    m_part = Part::Skipped;
    return true;
  }
  const BoundSheet& entry = m_boundSheets[m_nextSubstream++];
  if (entry.sheet < 0) {
    m_part = Part::DataSheet;
    return true;
  }
  m_sheet = m_book.sheetAt(entry.sheet);
  m_rowExtentCount = 0;
  if (kind == Substream::Chart || kind == Substream::Macro || kind == Substream::VbModule) {
    // A chart sheet or macro sheet has no cells Kelp can show.
    m_sheet->visibility = SheetVisibility::Internal;
    m_part = kind == Substream::Chart ? Part::ChartSheet : Part::Skipped;
    if (m_part == Part::Skipped) m_sheet = nullptr;
    return true;
  }
  m_part = Part::Worksheet;
  return true;
}

bool ExcelReader::endSubstream() {
  if (m_depth == 0) return true;  // a stray EOF between substreams
  if (--m_depth > 0) return true;
  if (!m_globalsDone) {
    m_globalsDone = true;
    return finishGlobals();
  }
  finishSheet();
  return true;
}

namespace {

// A formula-pool entry (one reference) holding the error constant `code` alone.
uint32_t errorFormula(CellError code) {
  installTokenHooks();
  TokenSink sink;
  const uint16_t code16 = static_cast<uint16_t>(code);
  if (!sink.appendOp(Op::ErrorLiteral, &code16, 2)) {
    setError(Err::OutOfMemory);
    return NoHandle;
  }
  uint8_t* block = finishTokens(sink);
  if (!block) return NoHandle;
  const uint32_t handle = formulaPool().add(block, 4 + readU32(block), 1);
  heapFree(block);
  if (handle == NoHandle) setError(Err::OutOfMemory);
  return handle;
}

}  // namespace

bool ExcelReader::finishGlobals() {
  padFonts();
  // Names may refer to names later in the file, so definitions wait for all of them.
  for (PendingName& pending : m_pendingNames) {
    if (pending.index < 0 || pending.tokens.empty()) continue;
    uint32_t handle = convert(pending.tokens.data(), pending.tokens.size(), CellPosition{}, ExcelFormulaKind::Name);
    if (pendingError()) return false;
    const std::u16string& name = m_book.names[static_cast<size_t>(pending.index)].text;
    if (handle == NoHandle) {
      // The name stays, so that formulas using it still read, and gives the error any
      // use of it would give; the notice names the first such name.
      handle = errorFormula(CellError::Name);
      if (handle == NoHandle) return false;
      if (m_unsupportedName.empty()) m_unsupportedName = name;
    }
    m_book.setName(name, handle);
  }
  m_pendingNames.clear();
  return true;
}

void ExcelReader::finishSheet() {
  // A cell that waited in vain for its shared formula was an array formula or a table:
  // it keeps its cached value.
  if (!m_awaiting.empty()) m_unsupportedFormula = true;
  m_awaiting.clear();
  for (const auto& [key, shared] : m_shared) formulaPool().release(shared.tokens);
  m_shared.clear();
  if (m_sheet && (m_window2 & Window2::Selected) && m_activeSheet < 0 && m_sheet->visibility == SheetVisibility::Visible)
    m_activeSheet = m_sheet->index;
  m_sheet = nullptr;
  m_part = Part::Skipped;
}

void ExcelReader::chooseActiveSheet() {
  int32_t active = m_activeSheet;
  for (int32_t i = 0; active < 0 && i < m_book.sheetCount(); ++i)
    if (m_book.sheetAt(i)->visibility == SheetVisibility::Visible) active = i;
  m_book.setActiveSheet(active < 0 ? 0 : active);
}

// CODEPAGE: the code page of Excel 5 byte texts.
void ExcelReader::readCodePage(RecordIn& in) {
  uint16_t page = in.u16();
  if (in.bad() || m_biff8) return;
  // Excel 95 may declare UTF-16 (1200) while it still writes bytes, in Windows-1252.
  if (page == 1200) page = 1252;
  m_codePage = codePageSupported(page) ? page : 1252;
  m_book.codePage = m_codePage;
}

// BOUNDSHEET: a sheet's stream position, visibility, type and name.
bool ExcelReader::readBoundSheet(RecordIn& in) {
  in.u32();
  uint8_t visibility = in.u8();
  in.u8();  // the sheet type; its BOF tells the same
  std::u16string name = text(in, 1);
  if (in.bad()) return true;
  BoundSheet entry;
  entry.name = name;
  if (name == DataSheetName) {
    m_boundSheets.push_back(entry);
    m_context.sheetNumbers.push_back(-1);
    return true;
  }
  // Two sheets of one name, or more sheets than references can number, are damage.
  if (name.empty() || m_book.findSheet(name) >= 0 || m_book.sheetCount() >= 0xFFFF) {
    setError(Err::FileRead);
    return false;
  }
  limitText(name);
  Sheet* sheet = m_book.insertSheet(name);
  if (!sheet) return false;
  sheet->visibility = static_cast<SheetVisibility>(std::min<uint8_t>(visibility & 3, 2));
  entry.sheet = sheet->index;
  m_boundSheets.push_back(entry);
  m_context.sheetNumbers.push_back(sheet->index);
  return true;
}

namespace {

// The path inside a SUPBOOK's encoded file name: a leading 1, then a volume code or
// directory codes between the names.
std::u16string decodeBookPath(std::u16string_view encoded) {
  std::u16string path;
  size_t i = 0;
  if (!encoded.empty() && encoded[0] == 0x01) ++i;
  while (i < encoded.size()) {
    char16_t c = encoded[i++];
    switch (c) {
      case 0x01:  // a volume: a drive letter, or "@" before a UNC server and share
        if (i < encoded.size()) {
          char16_t drive = encoded[i++];
          if (drive == u'@') path += u"\\\\";
          else path += std::u16string{drive, u':', u'\\'};
        }
        break;
      case 0x02:  // the root of the workbook's own volume
        path += u'\\';
        break;
      case 0x03:  // a directory separator
        path += u'\\';
        break;
      case 0x04:  // the parent directory
        path += u"..\\";
        break;
      case 0x05:  // a long volume name with its length
        if (i < encoded.size()) i += std::min<size_t>(encoded[i] + 1u, encoded.size() - i);
        break;
      case 0x06:
      case 0x07:
      case 0x08:  // Excel's own start-up and library folders: the name alone is kept
        break;
      default:
        path += c;
        break;
    }
  }
  return path;
}

}  // namespace

// SUPBOOK: this workbook, an add-in, or an external workbook with its sheet names.
void ExcelReader::readSupBook(RecordIn& in) {
  SupBook book;
  uint16_t sheets = in.u16();
  RecordIn marker = in;
  uint8_t a = marker.u8(), b = marker.u8();
  if (marker.bad() || (a == 0x01 && b == 0x04)) {
    book.kind = SupBook::Self;
  } else if (a == 0x01 && b == 0x3A) {
    book.kind = SupBook::AddIn;
  } else {
    book.kind = SupBook::External;
    std::u16string path = decodeBookPath(text(in, 2));
    std::vector<std::u16string> names;
    for (uint32_t i = 0; i < sheets && !in.bad(); ++i) names.push_back(text(in, 2));
    size_t split = path.find_last_of(u"\\/");
    std::u16string directory = split == std::u16string::npos ? std::u16string() : path.substr(0, split + 1);
    std::u16string name = split == std::u16string::npos ? path : path.substr(split + 1);
    // A damaged entry still takes its place, so that later entries keep their indexes.
    if (in.bad() || name.empty() || m_book.externalBookCount() >= MaxExternalBooks) {
      book.kind = SupBook::AddIn;
    } else {
      book.book = m_book.findOrAddExternalBook(directory, name);
      if (ExternalBook* external = m_book.externalBook(book.book))
        for (std::u16string& s : names)
          if (std::find(external->sheetNames.begin(), external->sheetNames.end(), s) == external->sheetNames.end())
            external->sheetNames.push_back(std::move(s));
    }
  }
  m_supBooks.push_back(book);
  m_context.externNames.emplace_back();
}

// EXTERNNAME: a name in the last SUPBOOK (BIFF8) or EXTERNSHEET (BIFF5). Every record
// keeps its place, as formulas number them; an add-in's function names are the ones
// Kelp calls, any other name none.
void ExcelReader::readExternName(RecordIn& in) {
  if (m_context.externNames.empty()) return;
  in.u16();  // options
  in.u32();
  const std::u16string name = text(in, 1);
  const bool addIn = m_biff8 ? !m_supBooks.empty() && m_supBooks.back().kind == SupBook::AddIn : m_lastAddIn;
  m_context.externNames.back().push_back(addIn && !in.bad() ? excelNamedFunction(name) : -1);
}

// EXTERNSHEET: in BIFF8 a table of SUPBOOK index and sheet span; in BIFF5 one record per
// referenced sheet, naming it.
void ExcelReader::readExternSheet(RecordIn& in) {
  using Entry = ExcelFormulaContext::ExternSheet;
  if (m_biff8) {
    uint32_t count = in.u16();
    for (uint32_t i = 0; i < count && in.left() >= 6; ++i) {
      uint16_t supBook = in.u16(), first = in.u16(), last = in.u16();
      Entry entry;
      if (supBook < m_supBooks.size()) {
        const SupBook& book = m_supBooks[supBook];
        auto sheetNumber = [&](uint16_t itab) -> int32_t {
          if (book.kind == SupBook::Self) return itab < m_context.sheetNumbers.size() ? m_context.sheetNumbers[itab] : -1;
          if (book.kind == SupBook::External) return itab < 0xFFFE ? itab : -1;
          return -1;
        };
        entry.book = static_cast<uint16_t>(book.kind == SupBook::External ? book.book : 0);
        entry.firstSheet = sheetNumber(first);
        entry.lastSheet = sheetNumber(last);
        if (entry.firstSheet < 0 || entry.lastSheet < 0) entry.firstSheet = entry.lastSheet = -1;
        entry.externNames = supBook;
      }
      m_context.externSheets.push_back(entry);
    }
    return;
  }
  // BIFF5: one record per sheet: 3 and the name of a sheet of this workbook, 2 for the
  // sheet holding the record, 4 for the workbook itself, or 1 and an encoded path that
  // ends in "[book]sheet".
  // The length counts the characters after the leading code; a code alone (2, 3 or 4 with
  // no name) is counted as one.
  uint32_t count = in.u8();
  if (count > 0 && in.left() > count) ++count;
  const uint8_t* bytes = count > 0 ? in.span(count) : nullptr;
  Entry entry;
  m_lastAddIn = false;
  if (bytes) {
    uint8_t kind = bytes[0];
    // A lone ':' opens the add-in's function names.
    m_lastAddIn = kind == 0x3A && count == 1;
    std::u16string name = bytesToText(bytes + 1, count - 1);
    std::u16string encoded = bytesToText(bytes, count);  // the path codes follow the leading 1
    if (kind == 0x03) {
      for (const BoundSheet& sheet : m_boundSheets)
        if (sheet.name == name) entry.firstSheet = entry.lastSheet = sheet.sheet;
    } else if (kind == 0x02 && m_sheet) {
      entry.firstSheet = entry.lastSheet = m_sheet->index;
    } else if (kind == 0x01) {
      std::u16string path = decodeBookPath(encoded);
      size_t open = path.rfind(u'['), close = path.rfind(u']');
      if (open != std::u16string::npos && close != std::u16string::npos && open < close &&
          m_book.externalBookCount() < 255) {
        int32_t index = m_book.findOrAddExternalBook(path.substr(0, open), path.substr(open + 1, close - open - 1));
        std::u16string sheetName = path.substr(close + 1);
        ExternalBook* book = m_book.externalBook(index);
        if (book && !sheetName.empty()) {
          auto at = std::find(book->sheetNames.begin(), book->sheetNames.end(), sheetName);
          if (at == book->sheetNames.end()) at = book->sheetNames.insert(at, sheetName);
          entry.book = static_cast<uint16_t>(index);
          entry.firstSheet = entry.lastSheet = static_cast<int32_t>(at - book->sheetNames.begin());
        }
      }
    }
  }
  entry.externNames = static_cast<int32_t>(m_context.externNames.size());
  m_context.externNames.emplace_back();
  m_context.externSheets.push_back(entry);
}

// NAME: a defined name and its formula. Every record keeps its place in the index table
// that formulas use, the dropped ones as -1.
bool ExcelReader::readName(RecordIn& in) {
  uint16_t options = in.u16();
  in.u8();  // keyboard shortcut
  uint32_t length = in.u8();
  uint32_t tokenLength = in.u16();
  in.u16();
  in.u16();  // the sheet of a local name: Kelp's names are all the workbook's
  in.u32();  // lengths of menu, description, help and status texts
  std::u16string name = textAfterCount(in, length);
  const uint8_t* tokens = in.span(tokenLength);
  PendingName pending;
  bool builtIn = (options & NameBuiltIn) || (!name.empty() && (name[0] == AutoOpen || name[0] == AutoClose));
  // Later spreadsheets name their newer functions "_xlfn.X" for calls of function 255;
  // such a name is the function, or nothing Kelp has, never a name of the workbook.
  const bool later = name.size() > 6 && equalsIgnoreCase(std::u16string_view(name).substr(0, 6), u"_xlfn.");
  m_context.nameFunctions.push_back(later && !in.bad() ? excelNamedFunction(name) : -1);
  if (!in.bad() && !builtIn && !later && !name.empty()) {
    if (m_pendingNames.size() >= 0xFFFF) {
      setError(Err::FileRead);
      return false;
    }
    limitText(name);
    // A name already defined (a sheet's local copy of it) keeps the first definition.
    pending.index = m_book.findName(name);
    if (pending.index < 0) {
      pending.index = m_book.setName(name, NoHandle);
      pending.tokens.assign(tokens, tokens + tokenLength);
    }
  }
  m_context.nameIndexes.push_back(pending.index);
  m_pendingNames.push_back(std::move(pending));
  return true;
}

// SST and its CONTINUE records: the shared strings, each with its own text entry.
void ExcelReader::readSst() {
  ContinuedBytes& in = m_continued;
  in.u32();  // strings used in the workbook
  uint32_t unique = in.u32();
  m_sst.reserve(std::min<uint32_t>(unique, in.left() / 3));
  for (uint32_t i = 0; i < unique && !in.bad() && in.left() > 0; ++i) {
    uint32_t count = in.u16();
    uint8_t options = in.u8();
    uint32_t runs = (options & 0x08) ? in.u16() : 0;
    uint32_t farEast = (options & 0x04) ? in.u32() : 0;
    std::u16string text = in.chars(count, options & 0x01);
    in.skip(runs * 4);
    in.skip(farEast);
    if (in.bad()) break;
    limitText(text);
    uint32_t handle = NoHandle;
    if (!text.empty()) {
      handle = textPool().add(text.c_str(), (text.size() + 1) * sizeof(char16_t), 1);
      if (handle == NoHandle) return;
    }
    m_sst.push_back(handle);
  }
}

namespace {

// The cell or area of a task's trigger as the hidden data sheet writes it: an optional
// sheet name (in apostrophes where needed) and "!", then A1 or A1:B2, "$" allowed.
bool readCellName(std::u16string_view& text, uint16_t& column, uint16_t& row) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'$') ++i;
  uint32_t col = 0;
  size_t letters = 0;
  while (i < text.size() && letters < 3) {
    char16_t c = text[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c < u'A' || c > u'Z') break;
    col = col * 26 + (c - u'A' + 1);
    ++i;
    ++letters;
  }
  if (letters == 0 || col > 256) return false;
  if (i < text.size() && text[i] == u'$') ++i;
  uint32_t r = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && digits < 6) {
    r = r * 10 + (text[i] - u'0');
    ++i;
    ++digits;
  }
  if (digits == 0 || r < 1 || r > 65536) return false;
  column = static_cast<uint16_t>(col - 1);
  row = static_cast<uint16_t>(r - 1);
  text.remove_prefix(i);
  return true;
}

bool taskArea(const Workbook& book, std::u16string_view text, uint8_t (&area)[12]) {
  uint8_t first = AnySheetFirst, last = AnySheetLast;
  size_t bang = text.rfind(u'!');
  if (bang != std::u16string_view::npos) {
    std::u16string name(text.substr(0, bang));
    if (name.size() >= 2 && name.front() == u'\'' && name.back() == u'\'') {
      std::u16string unquoted;
      for (size_t i = 1; i + 1 < name.size(); ++i) {
        unquoted.push_back(name[i]);
        if (name[i] == u'\'' && i + 2 < name.size() && name[i + 1] == u'\'') ++i;
      }
      name = unquoted;
    }
    int32_t sheet = book.findSheet(name);
    // A trigger on a sheet the workbook lacks covers no sheet: first past last.
    first = sheet >= 0 && sheet < 255 ? static_cast<uint8_t>(sheet) : 1;
    last = sheet >= 0 && sheet < 255 ? static_cast<uint8_t>(sheet) : 0;
    text.remove_prefix(bang + 1);
  }
  Area a{};
  if (!readCellName(text, a.firstColumn, a.firstRow)) return false;
  a.lastColumn = a.firstColumn;
  a.lastRow = a.firstRow;
  if (!text.empty() && text[0] == u':') {
    text.remove_prefix(1);
    if (!readCellName(text, a.lastColumn, a.lastRow)) return false;
    if (a.lastColumn < a.firstColumn) std::swap(a.lastColumn, a.firstColumn);
    if (a.lastRow < a.firstRow) std::swap(a.lastRow, a.firstRow);
  }
  if (!text.empty()) return false;
  std::memset(area, 0, sizeof area);
  area[1] = first;
  area[2] = last;
  std::memcpy(area + 4, &a, sizeof a);
  return true;
}

}  // namespace

// The hidden data sheet: four heading rows, then per task a row with its name (column
// 0), kind letters (1), menu text or trigger cell (2) and the first piece of its text
// (5); further rows carry more pieces of the text in column 5.
void restoreDataSheetTasks(Workbook& book, std::vector<DataSheetCell>& cells) {
  std::stable_sort(cells.begin(), cells.end(), [](const DataSheetCell& a, const DataSheetCell& b) {
    return a.row != b.row ? a.row < b.row : a.column < b.column;
  });
  WorkbookTask* task = nullptr;
  for (const DataSheetCell& cell : cells) {
    if (cell.row < 4) continue;
    switch (cell.column) {
      case 0:
        book.tasks.push_back(WorkbookTask{});
        task = &book.tasks.back();
        task->name = cell.text;
        break;
      case 1:
        if (!task || cell.text.empty()) break;
        if (cell.text[0] == u'm') task->runOn = 1;
        else if (cell.text[0] == u't' || (cell.text.size() > 1 && cell.text[1] == u't')) task->runOn = 2;
        else if (cell.text[0] == u'e') task->runOn = 3;
        break;
      case 2:
        if (!task) break;
        if (task->runOn == 1) task->menuText = cell.text;
        else if (task->runOn == 2 || task->runOn == 3) taskArea(book, cell.text, task->area);
        break;
      case 5:
        if (task) task->definition += cell.text;
        break;
      default:
        break;
    }
  }
}

void ExcelReader::restoreTasks() {
  restoreDataSheetTasks(m_book, m_dataCells);
  m_dataCells.clear();
}

}  // namespace excel

bool readExcelWorkbook(Workbook& workbook, DocStream& stream, bool biff8) {
  excel::ExcelReader reader(workbook, stream, biff8);
  return reader.read();
}

}  // namespace kelp
