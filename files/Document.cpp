// Opening and saving the document: type dispatch, the share lock, safe replacement
// of the saved file, and the automatic-save decisions.
#include "files/Document.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "files/DocStream.h"
#include "files/ExcelReader.h"
#include "files/ExcelWriter.h"
#include "files/ExternalRefs.h"
#include "files/NativeFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/StringTable.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

void writeExcelDocument(Workbook& book, DocStream& stream, DocFileType type) {
  writeExcelFile(book, stream, type == DocFileType::Excel97);
}

DocumentReader g_readers[9] = {};
uint64_t g_largestFiles[9] = {};
// Excel files are written as built in; the other formats plug in.
DocumentWriter g_writers[9] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               writeExcelDocument, writeExcelDocument, nullptr};
std::vector<DocumentNotice> g_notices;

constexpr int StringReplaceQuestion = 2574;
constexpr int StringNativeOnlyQuestion = 2628;
constexpr int StringOneSheetSaved = 2711;
constexpr int StringFolderNotWritable = 2720;

const char16_t* formatName(DocFileType type) {
  switch (type) {
    case DocFileType::Native: return u"Kelp";
    case DocFileType::CommaText: return u"Text (comma delimited)";
    case DocFileType::TabText: return u"Text (tab delimited)";
    case DocFileType::Dbase: return u"DBF (dBase)";
    case DocFileType::PocketExcel: return u"Pocket Excel";
    case DocFileType::Excel95: return u"Excel 95";
    case DocFileType::Excel97: return u"Excel 97";
    case DocFileType::XmlList: return u"XML list";
  }
  return u"";
}

size_t lastSeparator(std::u16string_view name) { return name.find_last_of(u"\\/"); }

bool holdsItsOwnFile(DocFileType type) {
  return type == DocFileType::Native || type == DocFileType::PocketExcel || type == DocFileType::Excel95 ||
         type == DocFileType::Excel97;
}

// Opens `path` for reading; sets 11 when it cannot. Reading takes no lock: the lock is
// there to keep two writers apart, and a file another holder has open still reads as it
// was last saved, since every save replaces the file whole.
bool openForReading(File& file, const std::string& path) {
  if (file.open(path, FileAccess::Read) != FileError::None) {
    setError(Err::FileOpen);
    return false;
  }
  return true;
}

// False with error 13 when the open file holds more than `limit` bytes; one byte is
// read past the limit, so that a huge file is never read to find out.
bool withinSize(File& file, uint64_t limit) {
  uint8_t probe;
  if (!file.seek(limit) || file.read(&probe, 1) != 0 || !file.seek(0)) {
    setError(Err::FileRead);
    return false;
  }
  return true;
}

// Reads the whole of an open file; false with error 13 when a read fails. The buffer is
// sized once from the file's length, since growing it by copying cost more than the
// reading; a file that grows meanwhile is still read to its end.
bool readWholeFile(File& file, std::vector<uint8_t>& out) {
  constexpr size_t Chunk = 1 << 16;
  const int64_t length = file.size();
  out.clear();
  // Room past the length for the compound reader's padding to a whole sector (at most
  // 4,096 bytes), which is also where the end is seen, without another allocation.
  if (length >= 0) out.reserve(static_cast<size_t>(length) + 4096);
  for (;;) {
    const size_t at = out.size();
    const size_t want = out.capacity() > at ? out.capacity() - at : Chunk;
    out.resize(at + want);
    const int64_t got = file.read(out.data() + at, want);
    if (got < 0) {
      setError(Err::FileRead);
      return false;
    }
    out.resize(at + static_cast<size_t>(got));
    if (got == 0) return true;
  }
}

}  // namespace

DocFileType FileTypeFromName(std::u16string_view name) {
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return DocFileType::Native;
  std::u16string_view ext = name.substr(dot);
  static const struct {
    const char16_t* ext;
    DocFileType type;
  } table[] = {{u".csv", DocFileType::CommaText}, {u".txt", DocFileType::TabText}, {u".dbf", DocFileType::Dbase},
               {u".pxl", DocFileType::PocketExcel}, {u".xls", DocFileType::Excel97}, {u".xml", DocFileType::XmlList}};
  for (const auto& entry : table)
    if (equalsIgnoreCase(ext, entry.ext)) return entry.type;
  return DocFileType::Native;
}

void installDocumentReader(DocFileType type, DocumentReader reader, uint64_t largestFile) {
  g_readers[static_cast<uint32_t>(type)] = reader;
  g_largestFiles[static_cast<uint32_t>(type)] = largestFile;
}
void installDocumentWriter(DocFileType type, DocumentWriter writer) { g_writers[static_cast<uint32_t>(type)] = writer; }
DocumentReader installedDocumentReader(DocFileType type) {
  return static_cast<uint32_t>(type) < std::size(g_readers) ? g_readers[static_cast<uint32_t>(type)] : nullptr;
}

void leaveNotice(uint32_t code, std::u16string_view detail) {
  g_notices.push_back(DocumentNotice{code, std::u16string(detail)});
}

std::vector<DocumentNotice> takeNotices() { return std::exchange(g_notices, {}); }

DocumentNotice takeNotice() {
  std::vector<DocumentNotice> notices = takeNotices();
  return notices.empty() ? DocumentNotice{} : std::move(notices.front());
}

std::u16string noticeText(const DocumentNotice& notice) {
  if (notice.code == 0) return notice.detail;
  std::u16string text = errorMessage(notice.code);
  if (!notice.detail.empty()) text += u" (" + notice.detail + u")";
  return text;
}

namespace {

// Shows the notices left by a reader or writer that succeeded.
void showNotice(Document& document) {
  document.notices = takeNotices();
  document.noticeDetail = document.notices.empty() ? std::u16string() : document.notices.front().detail;
  for (const DocumentNotice& notice : document.notices) {
    if (document.ui.showNotice) document.ui.showNotice(noticeText(notice));
    else if (notice.code != 0 && document.ui.showMessage) document.ui.showMessage(notice.code);
  }
}

// A file of one sheet cannot take the others: the user hears which sheets holding
// anything stayed out, rather than finding them missing later.
void noteSheetsLeftOut(const Workbook& book, int32_t saved) {
  std::u16string leftOut;
  for (int32_t i = 0; i < book.sheetCount(); ++i) {
    const Sheet* sheet = book.sheetAt(i);
    if (i == saved || !sheet || sheet->lastUsedRow(-1) < 0) continue;
    leftOut += (leftOut.empty() ? u"" : u", ") + sheet->name;
  }
  const Sheet* sheet = book.sheetAt(saved);
  if (leftOut.empty() || !sheet) return;
  leaveNotice(0, formatText(loadString(StringOneSheetSaved), sheet->name) + leftOut);
}

}  // namespace

// Document.

Document::Document() : m_book(newWorkbook(3)) {}

Document::~Document() { ReleaseDocumentFile(*this); }

void Document::replaceWorkbook(std::unique_ptr<Workbook> book) {
  ReleaseDocumentFile(*this);
  m_book = std::move(book);
  ++m_serial;
}

std::unique_ptr<Workbook> Document::takeWorkbook() {
  std::unique_ptr<Workbook> taken = std::move(m_book);
  replaceWorkbook(newWorkbook(1));
  return taken;
}

bool HoldDocumentFile(Document& document, std::u16string_view name) {
  ReleaseDocumentFile(document);
  if (name.empty()) return false;
  File file;
  if (file.open(utf16ToUtf8(name), FileAccess::ReadWrite) != FileError::None) return false;
  if (file.lock() != FileError::None) return false;
  document.m_held = std::move(file);
  return true;
}

void ReleaseDocumentFile(Document& document) { document.m_held.close(); }

// Open.

// An Excel workbook is a stream of a compound file: "Workbook" holds the Excel 97 form,
// "Book" the Excel 95 form, and a file with both is read from "Workbook", as Excel does.
// A file that is no compound file, or holds neither stream, is error 40; a damaged
// compound file is error 13.
bool readExcelFile(Workbook& book, std::u16string_view name) {
  const std::string path = utf16ToUtf8(name);
  File file;
  if (!openForReading(file, path)) return false;
  // The version 3 compound file Excel writes holds streams of at most 2 GiB; with its
  // sector tables (a 128th) and room for the small streams beside the workbook, a larger
  // file is no workbook, and reading it whole would only exhaust memory.
  constexpr uint64_t MaxExcelBytes = (uint64_t{2} << 30) + (uint64_t{64} << 20);
  if (!withinSize(file, MaxExcelBytes)) return false;
  std::vector<uint8_t> bytes;
  if (!readWholeFile(file, bytes)) return false;
  file.close();
  return readExcelBytes(book, std::move(bytes));
}

bool readExcelBytes(Workbook& book, std::vector<uint8_t> bytes) {
  if (!looksLikeCompoundFile(bytes.data(), bytes.size())) {
    setError(Err::ExcelVersion);
    return false;
  }
  std::vector<uint8_t> stream;
  DocFileType type = DocFileType::Excel97;
  {
    // The container's bytes go as soon as the stream is out, before the cells arrive.
    CompoundReader storage;
    if (!storage.open(std::move(bytes))) return false;
    if (!storage.takeStream(u"Workbook", stream)) {
      if (pendingError()) return false;
      type = DocFileType::Excel95;
      if (!storage.takeStream(u"Book", stream)) {
        if (!pendingError()) setError(Err::ExcelVersion);
        return false;
      }
    }
  }
  book.fileType = static_cast<uint32_t>(type);
  // The formula table is sized once from the FORMULA records, rather than grown by
  // copying while tens of thousands of formulas arrive.
  uint32_t formulas = 0;
  for (size_t at = 0; at + 4 <= stream.size(); at += 4 + (stream[at + 2] | stream[at + 3] << 8))
    formulas += stream[at] == 0x06 && stream[at + 1] == 0x00;
  (void)book.formulas().reserve(formulas);
  StorageDocStream in(stream);
  in.allocateBuffer();
  return readExcelWorkbook(book, in, type == DocFileType::Excel97);
}


bool OpenDocument(Document& document, std::u16string_view name) {
  const DocFileType type = FileTypeFromName(name);
  document.unavailableFormat.clear();
  if (type == DocFileType::XmlList) {
    // Nothing reads XML lists; the workbook in hand is kept rather than thrown away.
    document.unavailableFormat = formatName(type);
    setError(Err::FileOpen);
    return false;
  }
  (void)takeNotice();
  document.notices.clear();
  document.noticeDetail.clear();
  const bool textLike = type == DocFileType::CommaText || type == DocFileType::TabText || type == DocFileType::Dbase;
  std::unique_ptr<Workbook> book = newWorkbook(textLike ? 1 : 0);
  book->fileType = static_cast<uint32_t>(type == DocFileType::PocketExcel || type == DocFileType::Excel95 ||
                                                 type == DocFileType::Excel97
                                             ? DocFileType::PocketExcel
                                             : DocFileType::Native);
  // The old workbook stays until the new one is read: a password prompt runs the
  // window's message loop, which repaints the workbook on show.
  const bool held = document.holdsFile();
  ReleaseDocumentFile(document);

  bool ok = false;
  bool cancelled = false;
  const std::string path = utf16ToUtf8(name);
  DocumentReader reader = g_readers[static_cast<uint32_t>(type)];
  if (type == DocFileType::Native) {
    File file;
    if (openForReading(file, path)) {
      FileDocStream stream(file);
      stream.allocateBuffer();
      NativeReadOptions options;
      options.askPassword = document.ui.askPassword;
      options.showMessage = document.ui.showMessage;
      NativeReadResult result;
      ok = ReadNative(*book, stream, options, &result);
      cancelled = result.cancelled;
    }
  } else if (type == DocFileType::Excel95 || type == DocFileType::Excel97) {
    ok = readExcelFile(*book, name);
    // Formulas that could not be translated kept their results: the workbook opens, and
    // the user hears about them once, with the name the reader named if it named one.
    if (ok && pendingError() == static_cast<uint32_t>(Err::UnsupportedFormula)) {
      clearError();
      const bool named = std::any_of(g_notices.begin(), g_notices.end(), [](const DocumentNotice& n) {
        return n.code == static_cast<uint32_t>(Err::UnsupportedFormula);
      });
      if (!named) leaveNotice(static_cast<uint32_t>(Err::UnsupportedFormula), u"");
    }
  } else if (!reader) {
    document.unavailableFormat = formatName(type);
    setError(Err::FileOpen);
  } else {
    File file;
    const uint64_t largest = g_largestFiles[static_cast<uint32_t>(type)];
    if (openForReading(file, path) && (largest == 0 || withinSize(file, largest))) {
      FileDocStream stream(file);
      stream.allocateBuffer();
      stream.setCodePage(book->codePage);
      ok = reader(*book, stream, type);
    }
  }

  if (ok && !pendingError()) {
    if (!textLike) book->fileName = name;
    // A received workbook may name any file the user can read; nothing is read unasked.
    if (book->externalBookCount() > 0)
      book->externalReadsRefused = !document.ui.allowExternalReads ||
                                   !document.ui.allowExternalReads(externalFileList(*book), firstExternalFormula(*book));
    if (textLike) book->fileType = static_cast<uint32_t>(DocFileType::Native);
    book->modified = false;
    for (int32_t i = 0; i < book->sheetCount(); ++i)
      for (bool columns : {false, true}) book->sheetAt(i)->refreshOutlineLevels(columns);
    recalculateAfterLoad(*book);
    document.replaceWorkbook(std::move(book));
    if (holdsItsOwnFile(type)) HoldDocumentFile(document, name);
    showNotice(document);
    return true;
  }
  (void)takeNotice();
  (void)cancelled;  // a cancelled password prompt ends the open without a message
  book.reset();
  // The workbook in hand stays, and holds its own file again if it held it before.
  if (held) HoldDocumentFile(document, document.workbook().fileName);
  return false;
}

// Save.

// The writer sequence: the new contents go to a temporary file beside the target, which
// replaces the old file only once everything is written and on disk; a failure leaves
// the old file as it was and removes the temporary one.
bool writeDocumentFile(Document& document, std::u16string_view name, DocFileType type) {
  Workbook& book = document.workbook();
  document.failureReason.clear();
  ReleaseDocumentFile(document);
  auto holdOwnFile = [&]() {
    if (!book.fileName.empty() && holdsItsOwnFile(static_cast<DocFileType>(book.fileType)))
      HoldDocumentFile(document, book.fileName);
  };

  DocumentWriter writer = type == DocFileType::Native ? nullptr : g_writers[static_cast<uint32_t>(type)];
  if (type != DocFileType::Native && !writer) {
    document.unavailableFormat = formatName(type);
    setError(Err::FileCreate);
    holdOwnFile();
    return false;
  }

  // A symbolic link is followed, a dangling one too, so that the link survives the save.
  const std::string path = followLink(utf16ToUtf8(name));
  // The rename that replaces the file is not stopped by the file's own permissions, so
  // a file the user may not write is refused here, as one that cannot be created is. A
  // folder, device, pipe or socket is no document, and the rename would replace it.
  if (pathExists(path) && (!isRegularFile(path) || !modeAllowsWriting(path))) {
    setError(Err::FileCreate);
    holdOwnFile();
    return false;
  }
  // The new file is written beside the old one, so the folder must take it. Its bits
  // decide, as for the file: root, whom the system would let, keeps out too.
  if (const std::string folder = folderOf(path); isFolder(folder) && !modeAllowsWriting(folder)) {
    document.failureReason = formatText(loadString(StringFolderNotWritable), absolutePath(folder));
    setError(Err::FileCreate);
    holdOwnFile();
    return false;
  }
  // Another holder of the target keeps it: the same lock decides as for opening.
  File old;
  if (old.open(path, FileAccess::Read) == FileError::None && old.lock() != FileError::None) {
    old.close();
    setError(Err::ShareViolation);
    holdOwnFile();
    return false;
  }

  File file;
  std::string tempPath;
  FileError created = file.createBeside(path, tempPath);
  if (created == FileError::NotFound) {
    (void)createFolder(folderOf(path));  // one missing folder level is created
    created = file.createBeside(path, tempPath);
  }
  if (created != FileError::None) {
    setError(Err::FileCreate);
    holdOwnFile();
    return false;
  }
  (void)file.lock();
  if (old.isOpen()) (void)file.copyPermissions(old);
  else (void)file.giveNewFilePermissions();

  (void)takeNotice();
  document.notices.clear();
  document.noticeDetail.clear();
  {
    FileDocStream stream(file);
    stream.allocateBuffer();
    if (type == DocFileType::Native) WriteNativeWorkbook(book, stream);
    else writer(book, stream, type);
    if (type == DocFileType::CommaText || type == DocFileType::TabText || type == DocFileType::Dbase)
      noteSheetsLeftOut(book, book.activeSheetIndex());
    else if (type == DocFileType::XmlList)
      noteSheetsLeftOut(book, 0);
    stream.Flush();
  }
  if (!pendingError()) {
    FileError synced = file.sync();
    if (synced != FileError::None) setError(synced == FileError::NoRoom ? Err::DiskFull : Err::FileWrite);
  }
  if (!pendingError() && renameFile(tempPath, path) != FileError::None) setError(Err::FileWrite);
  if (pendingError()) {
    (void)takeNotice();
    (void)removeFile(tempPath);
    file.close();
    old.close();
    holdOwnFile();
    return false;
  }
  // The rename itself is made durable through the folder.
  (void)syncFolder(folderOf(path));
  showNotice(document);
  old.close();
  if (holdsItsOwnFile(type)) {
    document.m_held = std::move(file);  // already locked, and now the document file itself
  } else {
    file.close();
    holdOwnFile();
  }
  return true;
}

bool SaveDocument(Document& document, std::u16string_view name, DocFileType type) {
  Workbook& book = document.workbook();
  document.unavailableFormat.clear();
  if (book.passwordHash != 0 && type != DocFileType::Native) {
    if (!document.ui.ask || document.ui.ask(StringNativeOnlyQuestion, u"") != Answer::Yes) return false;
  }
  // Name and type change only after a successful save; an export keeps both.
  bool written = writeDocumentFile(document, name, type);
  if (written && !pendingError() && (holdsItsOwnFile(type) || type == DocFileType::XmlList)) {
    book.fileName = name;
    book.fileType = static_cast<uint32_t>(type);
    book.modified = false;
    return true;
  }
  return written && !pendingError();
}

bool SaveCopy(Document& document, std::u16string_view name) {
  Workbook& book = document.workbook();
  bool written = writeDocumentFile(document, name, FileTypeFromName(name));
  // The document keeps holding its own file, never the copy.
  ReleaseDocumentFile(document);
  if (!book.fileName.empty() && holdsItsOwnFile(static_cast<DocFileType>(book.fileType)))
    HoldDocumentFile(document, book.fileName);
  return written;
}

int saveFilterForName(std::u16string_view name) {
  switch (FileTypeFromName(name)) {
    case DocFileType::PocketExcel: return 2;
    case DocFileType::Excel95:
    case DocFileType::Excel97: return 3;
    default: return 1;
  }
}

std::u16string nameWithFilterExtension(std::u16string_view name, int filter) {
  static const char16_t* extensions[] = {u".kp", u".kp", u".pxl", u".xls", u".xls", u".txt", u".csv", u".dbf"};
  const char16_t* ext = extensions[filter >= 1 && filter <= 7 ? filter : 1];
  std::u16string out(name);
  size_t separator = lastSeparator(out);
  size_t dot = out.rfind(u'.');
  if (dot == std::u16string::npos || (separator != std::u16string::npos && dot < separator)) out += ext;
  else if (dot == out.size() - 1) out += ext + 1;
  return out;
}

bool SaveAs(Document& document) {
  if (!document.ui.chooseSaveName) return false;
  int filter = saveFilterForName(document.workbook().fileName);
  std::u16string name;
  // After a No to replacing, the dialog comes back with the name the user chose.
  std::u16string offered = document.workbook().fileName;
  for (;;) {
    std::u16string chosen = offered;
    int chosenFilter = filter;
    if (!document.ui.chooseSaveName(filter, chosen, chosenFilter)) return false;
    name = nameWithFilterExtension(chosen, chosenFilter);
    filter = chosenFilter;
    // Existence is tested without creating the file, so a cancelled save leaves nothing.
    if (!pathExists(utf16ToUtf8(name))) break;
    Answer answer = document.ui.ask ? document.ui.ask(StringReplaceQuestion, name) : Answer::Yes;
    if (answer == Answer::Yes) break;
    if (answer == Answer::Dismissed) return false;
    offered = name;
  }
  DocFileType type = FileTypeFromName(name);
  if (type == DocFileType::Excel97) type = filter == 4 ? DocFileType::Excel95 : DocFileType::Excel97;
  bool saved = SaveDocument(document, name, type);
  size_t separator = lastSeparator(name);
  if (separator != std::u16string::npos)
    document.saveFolder = separator == 0 ? name.substr(0, 1) : name.substr(0, separator);
  return saved;
}

bool SaveCommand(Document& document, bool ask) {
  Workbook& book = document.workbook();
  if (!ask && !book.fileName.empty())
    return SaveDocument(document, book.fileName, static_cast<DocFileType>(book.fileType));
  return SaveAs(document);
}

// Automatic save.

AutoSaveDecision autoSaveOnModifiedChange(bool autoSaveOn, bool modified, uint32_t minutes) {
  AutoSaveDecision decision;
  if (!modified) decision.stopTimer = true;
  else if (autoSaveOn && minutes > 0) decision.startTimerMs = minutes * 60000;
  return decision;
}

AutoSaveDecision autoSaveOnTimer(bool modified, bool titled, bool idle, uint32_t minutes) {
  AutoSaveDecision decision;
  if (!modified || !titled) return decision;  // an untitled workbook is never saved by the timer
  decision.stopTimer = true;
  if (idle) {
    decision.save = true;
    decision.startTimerMs = minutes * 60000;
  } else {
    decision.startTimerMs = AutoSaveRetryMs;
  }
  return decision;
}

}  // namespace kelp
