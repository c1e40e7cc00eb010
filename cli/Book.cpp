// Opening and saving workbooks for kelpcli, and typing entries into cells.
#include "cli/Book.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "formula/Compiler.h"
#include "edit/Commands.h"
#include "edit/Validation.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp::cli {

namespace {

bool g_links = false;

// The alert of the entry last refused by a validation rule: "title: message".
std::string g_refusal;

// Nobody can confirm an entry on the command line, so a warning or an information
// alert refuses it as a stop does.
bool refuseEntry(const ValidationAlert& alert) {
  g_refusal = utf16ToUtf8(alert.title) + ": " + utf16ToUtf8(alert.message);
  return false;
}

void printFileError(const std::string& path, const Document& document) {
  uint32_t code = pendingError();
  std::string message = utf16ToUtf8(pendingErrorText());
  if (!document.unavailableFormat.empty())
    message += " (" + utf16ToUtf8(document.unavailableFormat) + " files are not supported yet)";
  if (code == static_cast<uint32_t>(Err::FileCreate) && !document.failureReason.empty())
    message += ": " + utf16ToUtf8(document.failureReason);
  std::fprintf(stderr, "kelpcli: %s: error %u: %s\n", path.c_str(), code, message.c_str());
  clearError();
}

// Messages and notices go to stderr; the command still succeeds.
void printNotices(Document& document, const std::string& path) {
  document.ui.showMessage = [path](uint32_t code) {
    std::fprintf(stderr, "kelpcli: %s: %s\n", path.c_str(), utf16ToUtf8(errorMessage(code)).c_str());
  };
  document.ui.showNotice = [path](std::u16string_view text) {
    std::fprintf(stderr, "kelpcli: %s: %s\n", path.c_str(), utf16ToUtf8(text).c_str());
  };
}

}  // namespace

void allowLinks(bool allowed) { g_links = allowed; }

bool openBook(Document& document, const std::string& path, const std::string& password) {
  clearError();
  bool asked = false;
  bool wrong = false;
  printNotices(document, path);
  document.ui.allowExternalReads = [path](std::u16string_view, std::u16string_view first) {
    if (!g_links) {
      std::fprintf(stderr, "kelpcli: %s: %s reads another file; formulas that read other files keep the values this "
                   "file holds (--links reads them)\n", path.c_str(), utf16ToUtf8(first).c_str());
    }
    return g_links;
  };
  document.ui.askPassword = [&](std::u16string& entered, uint32_t error) {
    if (error != 0) {
      wrong = true;
      return false;
    }
    asked = true;
    if (password.empty()) return false;
    entered = utf8ToUtf16(password);
    return true;
  };
  if (OpenDocument(document, utf8ToUtf16(path))) return true;
  if (pendingError() == 0) {
    // The prompt was turned down: say why in the words of the password messages.
    setError(wrong ? Err::WrongPassword : (asked && password.empty() ? Err::PasswordProtected : Err::FileOpen));
  }
  printFileError(path, document);
  return false;
}

bool readBook(Document& document, const std::string& path, const std::string& password) {
  if (!openBook(document, path, password)) return false;
  ReleaseDocumentFile(document);
  return true;
}

int32_t chosenSheet(const Workbook& book, const std::string& path, const std::string& sheet) {
  if (sheet.empty()) return book.activeSheetIndex();
  int32_t index = book.findSheet(utf8ToUtf16(sheet));
  char* end = nullptr;
  long n = std::strtol(sheet.c_str(), &end, 10);
  if (index < 0 && *end == 0 && n >= 1 && n <= book.sheetCount()) index = static_cast<int32_t>(n - 1);
  if (index < 0) std::fprintf(stderr, "kelpcli: %s has no sheet '%s'\n", path.c_str(), sheet.c_str());
  return index;
}

void keepUntilExit(Document& document) {
  // Freeing a large workbook block by block took a tenth of a conversion, just before the
  // system takes the whole heap back. A sanitized build frees it as before, so that the
  // leak check still follows every block the workbook owns.
#if defined(__SANITIZE_ADDRESS__)
  (void)document;
#else
  static auto* kept = new std::vector<std::unique_ptr<Workbook>>;
  kept->push_back(document.takeWorkbook());
#endif
}

bool saveBook(Document& document, const std::string& path, int type) {
  clearError();
  std::u16string name = utf8ToUtf16(path);
  DocFileType fileType = type < 0 ? FileTypeFromName(name) : static_cast<DocFileType>(type);
  if (document.workbook().passwordHash != 0 && fileType != DocFileType::Native) {
    // The window asks whether to go on; a batch run says why it stops instead.
    std::fprintf(stderr,
                 "kelpcli: %s: a password-protected workbook is saved only in the Kelp format "
                 "(--new-password \"\" removes the password)\n",
                 path.c_str());
    return false;
  }
  printNotices(document, path);
  if (SaveDocument(document, name, fileType)) return true;
  if (pendingError() == 0) setError(Err::FileWrite);
  printFileError(path, document);
  return false;
}

bool typeEntry(Workbook& book, const CellName& cell, std::u16string_view text, std::string& error) {
  // Entries go through the same undoable command the grid uses, on the cell's sheet;
  // nothing is undone on the command line, so each entry's history ends with it.
  UndoList undo;
  clearError();
  g_refusal.clear();
  installValidationAlert(refuseEntry);
  int32_t active = book.activeSheetIndex();
  book.setActiveSheet(cell.sheet);
  bool entered = enterCellValue(book, undo, cell.column, cell.row, text);
  book.setActiveSheet(active);
  installValidationAlert(nullptr);
  if (entered) return true;
  uint32_t code = pendingError();
  if (code == 0 && !g_refusal.empty()) {
    error = "refused by data validation: " + g_refusal;
    return false;
  }
  error = "error " + std::to_string(code) + ": " + utf16ToUtf8(takePendingErrorText());
  if (!text.empty() && text[0] == u'=') {
    // The position is the compiler's, so compile once more to learn it.
    TokenSink sink;
    int32_t position = compileFormula(book, text, CellPosition{cell.column, cell.row, static_cast<uint16_t>(cell.sheet)},
                              sink, false);
    clearError();
    error += " at " + std::to_string(position < 0 ? 0 : position);
  }
  return false;
}

}  // namespace kelp::cli
