// Formulas that read other workbook files: path resolution, the read-only load of the
// other file, and the per-sheet value cache kept with the referring workbook.
#include "files/ExternalRefs.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/NativeFormat.h"
#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace kelp {

/// The values of one sheet of an external workbook as its file held them when first asked.
struct ExternalSheetValues {
  ExternalSheetValues() = default;
  ExternalSheetValues(const ExternalSheetValues&) = delete;
  ExternalSheetValues& operator=(const ExternalSheetValues&) = delete;
  ~ExternalSheetValues() {
    for (auto& entry : cells) releaseValue(entry.second);
  }

  bool found = false;                              // the file and the sheet were read
  std::unordered_map<uint32_t, CellValue> cells;   // row * 256 + column; values owned
};

struct ExternalBookCache {
  // By the sheet's index in the entry's list; null until asked for.
  std::vector<std::unique_ptr<ExternalSheetValues>> sheets;
};

namespace {

// The files being read, outermost first: a reader that evaluates references of the file
// it reads must not come back to one of them, nor go deeper than the cap.
std::vector<std::string> g_reading;

std::string slashes(std::u16string_view text) {
  std::string out = utf16ToUtf8(text);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// "C:/..." names a drive of another system, which no path here can reach.
bool foreignAbsolute(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string joinPath(const std::string& folder, const std::string& rest) {
  if (folder.empty()) return rest;
  if (folder.back() == '/') return folder + rest;
  return folder + "/" + rest;
}

// The whole of a plain file of at most MaxExternalFileBytes, read and closed at once.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& out) {
  if (!isRegularFile(path)) return false;  // a pipe or a device could block or never end
  File file;
  if (file.open(path, FileAccess::Read) != FileError::None) return false;
  constexpr size_t Chunk = 1 << 16;
  out.clear();
  for (;;) {
    const size_t at = out.size();
    if (at > MaxExternalFileBytes) return false;
    out.resize(at + Chunk);
    const int64_t got = file.read(out.data() + at, Chunk);
    if (got < 0) return false;
    out.resize(at + static_cast<size_t>(got));
    if (got == 0) return true;
  }
}

// Loads the file at `path` into `book` (a new one without sheets) without recalculating.
bool loadWorkbook(const std::string& path, Workbook& book) {
  const std::u16string name = utf8ToUtf16(path);
  const DocFileType type = FileTypeFromName(name);
  if (type == DocFileType::CommaText || type == DocFileType::TabText || type == DocFileType::Dbase ||
      type == DocFileType::XmlList)
    return false;  // a table of text holds no sheet a reference could name
  DocumentReader reader = installedDocumentReader(type);
  const bool excel = type == DocFileType::Excel95 || type == DocFileType::Excel97;
  if (type != DocFileType::Native && !excel && !reader) return false;
  std::vector<uint8_t> bytes;
  if (!readFileBytes(path, bytes)) return false;
  book.fileName = name;  // references inside it resolve from its own folder
  if (excel) return readExcelBytes(book, std::move(bytes));
  StorageDocStream stream(bytes);
  stream.allocateBuffer();
  if (type == DocFileType::Native) return ReadNative(book, stream);  // no password prompt: a protected file stays shut
  stream.setCodePage(book.codePage);
  return reader(book, stream, type);
}

// Runs `work` on the workbook loaded from the first existing path for `directory` and
// `name`, with the error state and any reader notice of the caller kept as they were.
template <typename Work>
bool withExternalWorkbook(const Workbook& referring, std::u16string_view directory, std::u16string_view name,
                          Work work) {
  std::string path;
  for (const std::string& candidate : externalBookPaths(referring, directory, name)) {
    if (isRegularFile(candidate)) {
      path = candidate;
      break;
    }
  }
  if (path.empty()) return false;
  if (static_cast<int32_t>(g_reading.size()) >= MaxExternalDepth ||
      std::find(g_reading.begin(), g_reading.end(), path) != g_reading.end())
    return false;
  const SavedErrorState savedError = saveErrorState();
  const std::vector<DocumentNotice> savedNotices = takeNotices();
  clearError();
  g_reading.push_back(path);
  bool done = false;
  {
    std::unique_ptr<Workbook> book = newWorkbook(0);
    // A reader may leave a notice (35: formulas kept as values) on success; it is no failure here.
    if (book && loadWorkbook(path, *book)) done = work(*book);
  }
  g_reading.pop_back();
  (void)takeNotices();
  for (const DocumentNotice& notice : savedNotices) leaveNotice(notice.code, notice.detail);
  clearError();
  restoreErrorState(savedError);
  return done;
}

// Copies the values of sheet `sheetName` of `book` into `out`: formulas by their stored
// results, texts carrying a cell task by their visible part, as formulas here see them.
bool copySheetValues(const Workbook& book, std::u16string_view sheetName, ExternalSheetValues& out) {
  const Sheet* sheet = book.sheetAt(book.findSheet(sheetName));
  if (!sheet) return false;
  for (int32_t r = sheet->nextRow(-1); r < NoRow; r = sheet->nextRow(r)) {
    const Row* row = sheet->rowAt(r);
    if (!row) continue;
    for (int32_t c = row->cells.first(); c < row->cells.size(); ++c) {
      const CellValue& stored = row->cells[c].value;
      const CellValue& value = effectiveValue(stored);
      if (value.kind == ValueKind::Empty) continue;
      CellValue copy = emptyValue();
      if (stored.kind == ValueKind::Text) {
        std::u16string_view text = textOf(value);
        std::u16string_view visible = visibleCellText(text);
        if (visible.size() != text.size()) makeText(copy, visible);
        else copyValue(value, copy);
      } else {
        copyValue(value, copy);
      }
      out.cells.emplace(static_cast<uint32_t>(r) * 256 + static_cast<uint32_t>(c), copy);
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> externalBookPaths(const Workbook& workbook, std::u16string_view directory,
                                           std::u16string_view name) {
  std::vector<std::string> paths;
  std::string file = slashes(name);
  if (file.empty()) return paths;
  if (file[0] == '/') return {file};
  if (foreignAbsolute(file)) {
    // Only the name is of use: the file may have come along with the workbook.
    file = file.substr(std::max<size_t>(2, file.find_last_of('/') + 1));
    if (file.empty()) return paths;
  }
  // An untitled workbook has no folder of its own; its references start from the current one.
  std::string own;
  if (!workbook.fileName.empty()) {
    const std::string path = slashes(workbook.fileName);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos) own = slash == 0 ? "/" : path.substr(0, slash);
  }
  const std::string folder = slashes(directory);
  if (!folder.empty() && !foreignAbsolute(folder)) {
    paths.push_back(folder[0] == '/' ? joinPath(folder, file) : joinPath(joinPath(own, folder), file));
  }
  std::string beside = joinPath(own, file);
  if (std::find(paths.begin(), paths.end(), beside) == paths.end()) paths.push_back(beside);
  return paths;
}

CellValue GetExternalValue(Workbook& workbook, int32_t book, int32_t sheet, int32_t column, int32_t row) {
  ExternalBook* entry = workbook.externalBook(book);
  if (!entry || sheet < 0 || static_cast<size_t>(sheet) >= entry->sheetNames.size() || column < 0 ||
      column >= MaxColumns || row < 0 || row >= MaxRows)
    return errorValue(CellError::NA);
  if (workbook.externalReadsRefused) {
    keepCachedResult();
    return errorValue(CellError::NA);
  }
  if (!entry->cache) entry->cache = std::make_shared<ExternalBookCache>();
  std::shared_ptr<ExternalBookCache> cache = entry->cache;
  if (cache->sheets.size() <= static_cast<size_t>(sheet)) cache->sheets.resize(static_cast<size_t>(sheet) + 1);
  if (!cache->sheets[static_cast<size_t>(sheet)]) {
    // The slot is taken before the file is read, so that nothing met on the way asks again.
    cache->sheets[static_cast<size_t>(sheet)] = std::make_unique<ExternalSheetValues>();
    ExternalSheetValues& values = *cache->sheets[static_cast<size_t>(sheet)];
    const std::u16string directory = entry->directory, name = entry->name;
    const std::u16string sheetName = entry->sheetNames[static_cast<size_t>(sheet)];
    values.found = withExternalWorkbook(workbook, directory, name, [&](const Workbook& other) {
      return copySheetValues(other, sheetName, values);
    });
  }
  const ExternalSheetValues& values = *cache->sheets[static_cast<size_t>(sheet)];
  if (!values.found) return errorValue(CellError::NA);
  auto at = values.cells.find(static_cast<uint32_t>(row) * 256 + static_cast<uint32_t>(column));
  if (at == values.cells.end()) return emptyValue();
  CellValue out;
  copyValue(at->second, out);
  return out;
}

std::u16string externalFileList(const Workbook& workbook) {
  std::u16string list;
  for (int32_t i = 1; i <= workbook.externalBookCount(); ++i) {
    const ExternalBook& book = *workbook.externalBook(i);
    std::u16string file = book.directory;
    if (!file.empty() && file.back() != u'/' && file.back() != u'\\') file += u'/';
    file += book.name;
    if (list.find(file) != std::u16string::npos) continue;
    if (!list.empty()) list += u", ";
    list += file;
  }
  return list;
}

std::u16string firstExternalFormula(const Workbook& workbook) {
  for (int32_t s = 0; s < workbook.sheetCount(); ++s) {
    const Sheet& sheet = *workbook.sheetAt(s);
    for (int32_t r = sheet.nextRow(-1); r < NoRow; r = sheet.nextRow(r))
      for (int32_t c = sheet.nextValueInRow(r, -1); c < NoColumn; c = sheet.nextValueInRow(r, c)) {
        const CellValue& value = sheet.cellPtr(c, r)->value;
        if (value.kind != ValueKind::Formula) continue;
        const auto* tokens = static_cast<const uint8_t*>(formulaPool().data(formulaTokens(value)));
        if (!tokens || !readsOtherWorkbooks(tokens + 4, readU32(tokens))) continue;
        std::u16string text;
        const CellPosition at{static_cast<uint16_t>(c), static_cast<uint16_t>(r), static_cast<uint16_t>(s)};
        formulaText(workbook, tokens, at, text);
        return sheet.name + u"!" + cellAddress(c, r) + u" " + text;
      }
  }
  return workbook.externalBookCount() > 0 ? workbook.externalBook(1)->name : std::u16string();
}

bool readExternalSheetNames(const Workbook& workbook, std::u16string_view directory, std::u16string_view name,
                            std::vector<std::u16string>& sheets) {
  sheets.clear();
  return withExternalWorkbook(workbook, directory, name, [&](const Workbook& other) {
    for (int32_t i = 0; i < other.sheetCount(); ++i) sheets.push_back(other.sheetAt(i)->name);
    return true;
  });
}

void installExternalReferences() {
  installExternalValue(GetExternalValue);
  installExternalSheetNames(readExternalSheetNames);
}

}  // namespace kelp
