// The open document: file types, open and save around the format readers and writers,
// the lock held on the document file, and the automatic-save decisions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/Password.h"
#include "platform/File.h"

namespace kelp {

class DocStream;
class Workbook;

/// Document file type codes, held by the workbook; code 5 is not used.
enum class DocFileType : uint32_t {
  Native = 0,
  CommaText = 1,
  TabText = 2,
  Dbase = 3,
  PocketExcel = 4,
  Excel95 = 6,
  Excel97 = 7,
  XmlList = 8,
};

/// From the extension, ignoring case: ".csv", ".txt", ".dbf", ".pxl", ".xls" (always
/// Excel 97), ".xml"; anything else is the native type.
DocFileType FileTypeFromName(std::u16string_view name);

/// Readers and writers of the other formats plug in here as they arrive; a type without
/// one is reported as error 11 (open) or 10 (save) with its name in the document.
using DocumentReader = bool (*)(Workbook& workbook, DocStream& stream, DocFileType type);
using DocumentWriter = void (*)(Workbook& workbook, DocStream& stream, DocFileType type);
/// `largestFile` (0: no limit) is the most a file of the type can hold: a longer one is
/// refused with error 13 before its reader sees a byte.
void installDocumentReader(DocFileType type, DocumentReader reader, uint64_t largestFile = 0);
void installDocumentWriter(DocFileType type, DocumentWriter writer);
/// The reader installed for a type, or null.
DocumentReader installedDocumentReader(DocFileType type);

/// A reader or writer that finished but had to change or leave out something (a field
/// renamed, a column written as text, sheets a one-sheet format cannot hold) leaves a
/// notice: a code that is no failure and the items it concerns, or, with code 0, a whole
/// text. Open and save gather the notices of a success in Document::notices and show
/// each through ui.showNotice; a failure drops them.
struct DocumentNotice {
  uint32_t code = 0;
  std::u16string detail;
};
void leaveNotice(uint32_t code, std::u16string_view detail);
/// Every notice left since the last take, in the order left; the take clears them.
std::vector<DocumentNotice> takeNotices();
/// The first of them, for a caller that looks at one; the take clears them all.
DocumentNotice takeNotice();
/// What the user reads: the code's message with the items in brackets, or the text.
std::u16string noticeText(const DocumentNotice& notice);

/// Answers of a Yes/No question; a box closed without an answer is Dismissed.
enum class Answer { Yes, No, Dismissed };

/// What the shell supplies: the dialogs and messages that open and save need.
struct DocumentUi {
  PasswordPrompt askPassword;
  /// A message shown at once while work goes on (33 for a newer file).
  std::function<void(uint32_t code)> showMessage;
  /// A notice of an open or save that succeeded, as its text (see DocumentNotice);
  /// without it a notice with a code goes to showMessage.
  std::function<void(std::u16string_view text)> showNotice;
  /// A Yes/No question: string `stringId` with `text` filled in.
  std::function<Answer(int stringId, std::u16string_view text)> ask;
  /// Asked once as a workbook whose formulas read other files opens, before any is read:
  /// `files` lists them, `first` names the first formula. Without it, or on false, they
  /// are not read and those formulas keep the results the file holds.
  std::function<bool(std::u16string_view files, std::u16string_view first)> allowExternalReads;
  /// The Save As file dialog: starts at filter `filter` (1-based); false when cancelled.
  std::function<bool(int filter, std::u16string& name, int& chosenFilter)> chooseSaveName;
};

/// The current workbook with the file it was opened from and the lock held on it.
class Document {
 public:
  Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();

  Workbook& workbook() const { return *m_book; }
  /// Replaces the workbook; the held file goes with the old one.
  void replaceWorkbook(std::unique_ptr<Workbook> book);
  /// Hands the workbook over, an empty one taking its place; the held file goes with it.
  std::unique_ptr<Workbook> takeWorkbook();
  /// Changes with every replacement, so what was granted to one workbook (the consent
  /// to run its tasks) is never taken for the next one at the same address.
  uint64_t workbookSerial() const { return m_serial; }
  bool holdsFile() const { return m_held.isOpen(); }

  DocumentUi ui;
  /// The folder the next file dialog opens in.
  std::u16string saveFolder;
  /// The format whose reader or writer is missing after error 11 or 10 said so.
  std::u16string unavailableFormat;
  /// Why the last save failed, after error 10, when its message alone would not say:
  /// a text that follows the message.
  std::u16string failureReason;
  /// The notices of the last open or save, and the first one's detail.
  std::vector<DocumentNotice> notices;
  std::u16string noticeDetail;

 private:
  friend bool HoldDocumentFile(Document& document, std::u16string_view name);
  friend void ReleaseDocumentFile(Document& document);
  friend bool writeDocumentFile(Document& document, std::u16string_view name, DocFileType type);

  std::unique_ptr<Workbook> m_book;
  uint64_t m_serial = 0;
  File m_held;
};

/// Replaces the current workbook by the file's contents, read into a workbook of its own;
/// a failure keeps the current workbook (and the file it holds) and leaves the code in
/// the error state (none when the password prompt was cancelled).
bool OpenDocument(Document& document, std::u16string_view name);
/// Reads an Excel 95 or 97 file into `book` (which has no sheets), setting its type,
/// without the recalculation that opening adds; errors as for OpenDocument.
bool readExcelFile(Workbook& book, std::u16string_view name);
/// The same from the file's bytes already read.
bool readExcelBytes(Workbook& book, std::vector<uint8_t> bytes);
/// Writes the workbook as `type`; a native, Pocket Excel or Excel save gives it the new
/// name and type, an export keeps both. The old file stays intact when writing fails.
bool SaveDocument(Document& document, std::u16string_view name, DocFileType type);
/// Save: to the current name and type when there is one and `ask` is false, else Save As.
bool SaveCommand(Document& document, bool ask);
/// The Save As sequence around the shell's file dialog.
bool SaveAs(Document& document);
/// Writes a copy under `name` (type from its extension); name and type stay as they were.
bool SaveCopy(Document& document, std::u16string_view name);

/// Opens the file read-write and locks it against every other writer, this process
/// included (a save there is error 47); readers still open it. False (no error) when it
/// cannot.
bool HoldDocumentFile(Document& document, std::u16string_view name);
void ReleaseDocumentFile(Document& document);

/// The file dialog filter that stands for a type, and its default extension.
int saveFilterForName(std::u16string_view name);
/// `name` completed with the filter's extension when it has none.
std::u16string nameWithFilterExtension(std::u16string_view name, int filter);

/// What the automatic-save timer should do; the shell owns the timer itself.
struct AutoSaveDecision {
  bool stopTimer = false;
  bool save = false;           // run SaveCommand(document, false)
  uint32_t startTimerMs = 0;   // (re)start the timer with this period; 0 leaves it
};
constexpr uint32_t AutoSaveRetryMs = 30000;
/// When the modified flag changes.
AutoSaveDecision autoSaveOnModifiedChange(bool autoSaveOn, bool modified, uint32_t minutes);
/// When the timer fires; `idle` is false while the shell is in a modal state.
AutoSaveDecision autoSaveOnTimer(bool modified, bool titled, bool idle, uint32_t minutes);

}  // namespace kelp
