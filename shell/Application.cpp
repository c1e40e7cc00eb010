// The application object: start-up, the main window's messages, menus, settings,
// recent files, automatic save, help and the error box.
#include "shell/Application.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "edit/Fill.h"
#include "edit/Validation.h"
#include "format/ValueText.h"
#include "formula/FormulaText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Folders.h"
#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/ui/MessageBox.h"
#include "shell/EditMenu.h"
#include "shell/FileMenu.h"
#include "shell/FormulaBar.h"
#include "shell/MainMenu.h"
#include "dialogs/ChartDialogs.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/PasswordDialogs.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/HeadlessBackend.h"

namespace kelp {

namespace {

constexpr int CouldNotFindString = 2561;
constexpr int EmptyRecentString = 2578;
constexpr int UnsupportedTypeString = 2696;
constexpr int ExternalReadsString = 2713;
constexpr size_t MaxErrorText = 200;
constexpr int ManualMissingString = 2756;
constexpr int NoViewerString = 2757;
constexpr std::string_view ManualName = "kelp.html";

// The application whose window owns the alert of a refused entry; there is one.
Application* g_alertOwner = nullptr;

// A stop alert has OK alone; a warning asks Yes or No, an information OK or Cancel.
bool askAboutEntry(const ValidationAlert& alert) {
  if (!g_alertOwner) return false;
  static constexpr uint32_t kFlags[] = {BoxFlag::Ok | BoxFlag::IconError, BoxFlag::YesNo | BoxFlag::IconExclamation,
                                        BoxFlag::OkCancel | BoxFlag::IconInformation};
  Window* owner = g_alertOwner->mainWindow();
  const int answer = messageBox(g_alertOwner->desktop(), owner ? owner->id() : NoWindow, alert.shownText(), alert.title,
                                kFlags[static_cast<size_t>(alert.style)]);
  return alert.style == AlertStyle::Warning ? answer == DialogResult::Yes : answer == DialogResult::Ok;
}

// A command's own message (goal seek's success), in a box with the information icon.
void showCommandNotice(std::u16string_view message) {
  if (!g_alertOwner) return;
  Window* owner = g_alertOwner->mainWindow();
  messageBox(g_alertOwner->desktop(), owner ? owner->id() : NoWindow, message, MainWindowTitle,
             BoxFlag::Ok | BoxFlag::IconInformation);
}

}  // namespace

/// The main window hands every message to the application.
class MainWindow : public Window {
 public:
  explicit MainWindow(Application& app) : m_app(app) {}

 protected:
  int64_t onMessage(Message& m) override { return m_app.handle(*this, m); }

 private:
  Application& m_app;
};

Application::Application(Desktop& desktop, Registry& registry)
    : m_desktop(desktop),
      m_registry(registry),
      m_settings(defaultSettings(userDocumentsFolder())),
      m_grid([this] { return &m_document.workbook(); }),
      m_navigator(m_grid) {
  clearError();
  setErrorShowing(true);
  std::srand(static_cast<unsigned>(wallClockMilliseconds() % 1000));
  installChartTaskFunction(&m_desktop, &m_undo);
  m_document.ui.showMessage = [this](uint32_t code) {
    messageBox(m_desktop, m_main, errorMessage(code), MainWindowTitle, BoxFlag::Ok | BoxFlag::IconExclamation);
  };
  m_document.ui.showNotice = [this](std::u16string_view text) {
    messageBox(m_desktop, m_main, text, MainWindowTitle, BoxFlag::Ok | BoxFlag::IconInformation);
  };
  m_document.ui.ask = [this](int stringId, std::u16string_view text) {
    std::u16string question = formatText(loadString(stringId), text);
    int answer = messageBox(m_desktop, m_main, question, MainWindowTitle, BoxFlag::YesNo | BoxFlag::IconQuestion);
    return answer == DialogResult::Yes ? Answer::Yes : answer == DialogResult::No ? Answer::No : Answer::Dismissed;
  };
  // No is the default: a received workbook may name any file the user can read.
  m_document.ui.allowExternalReads = [this](std::u16string_view files, std::u16string_view) {
    const std::u16string question = formatText(loadString(ExternalReadsString), files);
    return messageBox(m_desktop, m_main, question, MainWindowTitle,
                      BoxFlag::YesNo | BoxFlag::IconQuestion | BoxFlag::DefaultSecond) == DialogResult::Yes;
  };
  installSaveAsDialog(*this);
  m_document.ui.askPassword = [this](std::u16string& entered, uint32_t error) {
    return askPasswordDialog(m_desktop, m_main, entered, error);
  };
  // Fills continue the lists of the settings, which the Options dialog may change.
  installFillLists(&m_settings.customLists);
  g_alertOwner = this;
  installValidationAlert(askAboutEntry);
  installCommandMessage(showCommandNotice);
  // The Help key in a dialog opens the manual at the dialog's topic.
  Dialog::installHelpHook([this](std::u16string_view topic) { openHelp(topic); });
  m_grid.formulaBarText = [this]() -> std::u16string {
    const Sheet* sheet = m_document.workbook().activeSheet();
    return sheet ? formulaBarContents(*sheet, sheet->selection.activeColumn, sheet->selection.activeRow) : u"";
  };
  m_grid.overlay = [this](Canvas& canvas, const GridGeometry& geometry) { m_editor.paintOverlay(canvas, geometry); };
}

Application::~Application() {
  installChartTaskFunction(nullptr, nullptr);
  installFillLists(nullptr);
  installValidationAlert(nullptr);
  installCommandMessage(nullptr);
  Dialog::installHelpHook(nullptr);
  g_alertOwner = nullptr;
  m_editor.abandon();
  if (Window* w = mainWindow()) m_desktop.destroy(w->id());
}

MenuBar* Application::menuBar() const {
  Window* w = mainWindow();
  return w ? w->menuBar() : nullptr;
}

bool Application::start(std::u16string_view commandLine) {
  m_document.replaceWorkbook(newWorkbook(3));
  MainWindow& window = m_desktop.create<MainWindow>(nullptr, m_desktop.workArea(), *this);
  if (!window.alive()) return false;
  window.setText(MainWindowTitle);
  m_desktop.setFocus(&window);
  relayout();
  window.invalidate();
  const std::u16string path = commandLinePath(commandLine);
  if (!path.empty()) {
    if (!openDocument(path)) m_startError = pendingError() != 0 ? pendingError() : static_cast<uint32_t>(Err::FileOpen);
    afterMessage();
  }
  return true;
}

void Application::onCreate(Window& window) {
  m_main = window.id();
  m_grid.attach(&window);
  // The default custom lists are in place already; the registry overrides them.
  readSettings(m_registry, m_settings);
  m_document.saveFolder = m_settings.documentsFolder;
  m_grid.formulaBarShown = m_settings.formulaBar;
  buildMenus(window);
  m_displayColors = 1u << 24;
  rebuildRecentMenu();
  m_tasks.loadGlobalTasks();
  m_lastModified = m_document.workbook().modified;
}

void Application::buildMenus(Window& window) { buildMainMenu(createMenuBar(m_desktop, window)); }

void Application::rebuildRecentMenu() {
  MenuBar* bar = menuBar();
  if (!bar || !bar->key(1).popup) return;
  Menu* recent = recentFilesMenu(*bar->key(1).popup);
  if (!recent) return;
  recent->clear();
  for (int i = 0; i < RecentFileCount; ++i) {
    if (m_settings.recentFiles[i].empty()) break;
    recent->append(MenuCommand::RecentFirst + i, recentFileLabel(m_settings.recentFiles[i]));
  }
  if (recent->count() == 0) recent->append(MenuCommand::RecentEmpty, loadString(EmptyRecentString), MenuFlag::Gray);
}

void Application::rebuildTaskMenu() {
  if (MenuBar* bar = menuBar()) kelp::rebuildTaskMenu(*bar, workbook());
}

void Application::updateSelectMenu() {
  MenuBar* bar = menuBar();
  if (!bar || !bar->key(0).popup) return;  // the editing bar is up
  refreshMainMenu(*bar, *this);
}

void Application::relayout() {
  m_grid.formulaBarShown = m_settings.formulaBar;
  m_grid.fullScreen = m_fullScreen;
  m_grid.markRepaint(Repaint::Everything);
  m_grid.update();
  m_editor.place();
}

int64_t Application::handle(Window& window, Message& m) {
  ++m_handling;
  int64_t result = 0;
  switch (m.msg) {
    case Msg::Create:
      onCreate(window);
      break;
    case Msg::Size:
      relayout();
      break;
    case Msg::Paint:
      m_grid.paint(*m.canvas);
      break;
    case Msg::KeyDown:
      onKey(static_cast<Key>(m.wParam), m.lParam);
      break;
    case Msg::Char:
      if (!desktopShortcut(static_cast<char16_t>(m.wParam))) m_editor.gridChar(static_cast<char16_t>(m.wParam));
      break;
    case Msg::PointerDown:
    case Msg::PointerMove:
      onPointer({static_cast<int>(m.wParam), static_cast<int>(m.lParam)}, m.msg == Msg::PointerMove);
      break;
    case Msg::Wheel:
      onWheel(static_cast<int>(m.wParam));
      break;
    case Msg::Command:
      // Menus and soft keys send commands; the edit line's change notices are no commands.
      if (m.lParam == 0) command(static_cast<uint32_t>(m.wParam));
      break;
    case Msg::Timer:
      onTimer(static_cast<uint32_t>(m.wParam));
      break;
    case Msg::CopyData:
      onCopyData(m);
      break;
    case Msg::Close:
      // Closing the window is closing Kelp, and asks as File > Close does. While a box,
      // dialog or menu is up (the "Save changes?" of a close among them) it is ignored:
      // what is showing is answered first, and no second question stacks on it.
      if (!m_desktop.modalRunning()) closeKelp();
      break;
    case Msg::Destroy:
      m_desktop.postQuit(0);
      --m_handling;
      return 0;
    default:
      if (m.msg == LockedAttemptOver) {
        m_editor.lockedAttemptOver();
        break;
      }
      result = window.defaultHandling(m);
      break;
  }
  if (m.msg != Msg::Paint) afterMessage();
  --m_handling;
  return result;
}

void Application::afterMessage() {
  const bool modified = m_document.workbook().modified;
  if (modified != m_lastModified) {
    m_lastModified = modified;
    applyAutoSave(autoSaveOnModifiedChange(m_settings.autoSave, modified, m_settings.autoSaveMinutes));
  }
  updateSelectMenu();
  updateTitle();
  m_inputHelp.update();
  showPendingError();
}

std::u16string Application::workbookName() const {
  const std::u16string& path = m_document.workbook().fileName;
  return path.empty() ? std::u16string(u"Untitled") : path.substr(path.rfind(u'/') + 1);
}

void Application::updateTitle() {
  // Where you are, at all times: the sheet and the active cell between the soft keys,
  // the cell alone when the sheet's name leaves no room.
  if (MenuBar* bar = menuBar()) {
    const Workbook& book = m_document.workbook();
    if (const Sheet* sheet = book.activeSheet()) {
      const std::u16string cell = cellAddress(sheet->selection.activeColumn, sheet->selection.activeRow);
      bar->setStatus(sheet->name + u"!" + cell, cell);
    }
  }
  Window* window = mainWindow();
  if (!window) return;
  // "*" marks unsaved changes, as desktop programs show them.
  const std::u16string title =
      (m_document.workbook().modified ? u"*" : u"") + workbookName() + u" - " + std::u16string(MainWindowTitle);
  if (title == window->text()) return;
  window->setText(title);
  if (Backend* backend = m_desktop.backend()) backend->setTitle(title);
}

void Application::showPendingError() {
  if (!errorShowing()) return;
  uint32_t code = pendingError();
  if (code == 0) return;
  // The message, with what it is about where the error carries that ("Unknown name: Foo").
  std::u16string text = takePendingErrorText();
  // A file of a type Kelp cannot read or write yet says which type it was.
  if ((code == static_cast<uint32_t>(Err::FileOpen) || code == static_cast<uint32_t>(Err::FileCreate)) &&
      !m_document.unavailableFormat.empty()) {
    text += formatText(loadString(UnsupportedTypeString), m_document.unavailableFormat);
  }
  if (code == static_cast<uint32_t>(Err::FileCreate) && !m_document.failureReason.empty())
    text += u": " + m_document.failureReason;
  if (text.size() > MaxErrorText) text.resize(MaxErrorText);
  messageBox(m_desktop, m_main, text, MainWindowTitle, BoxFlag::Ok);
}

void Application::onKey(Key key, int64_t mods) {
  Sheet* sheet = m_document.workbook().activeSheet();
  if (key == Key::Help) {
    openHelp(u"");
    return;
  }
  if (!sheet) return;
  if (m_editor.editing()) {
    m_editor.forwardKey(key, mods);
    return;
  }
  if (m_editor.gridKey(key, mods)) {
    m_grid.update();
    return;
  }
  if (key == Key::Delete) {
    // Delete clears what the selection holds, as Clear > Contents; under protection only
    // an unlocked active cell is cleared, and a locked one says so.
    Workbook& book = m_document.workbook();
    if (!book.isProtected && !sheet->isProtected) {
      runEditCommand(*this, MenuCommand::ClearContents);
    } else if (isLockedCell(book, *sheet, sheet->selection.activeColumn, sheet->selection.activeRow)) {
      m_editor.showLocked();
    } else if (enterCellValue(book, m_undo, sheet->selection.activeColumn, sheet->selection.activeRow, u"")) {
      m_grid.markRepaint(Repaint::Everything);
    }
    m_grid.update();
    return;
  }
  if (m_navigator.handleKey(m_document.workbook(), *sheet, key, mods)) m_grid.update();
}

bool Application::desktopShortcut(char16_t c) {
  // Ctrl+Z, Ctrl+Y, Ctrl+X, Ctrl+C and Ctrl+V, beside the menus, as on a desktop.
  static constexpr std::pair<char16_t, uint32_t> shortcuts[] = {{0x1A, MenuCommand::Undo},
                                                                {0x19, MenuCommand::Redo},
                                                                {0x18, MenuCommand::Cut},
                                                                {0x03, MenuCommand::Copy},
                                                                {0x16, MenuCommand::Paste}};
  for (const auto& [code, id] : shortcuts) {
    if (c != code) continue;
    command(id);
    return true;
  }
  return false;
}

void Application::onPointer(Point at, bool drag) {
  Sheet* sheet = m_document.workbook().activeSheet();
  if (!sheet) return;
  const GridGeometry geometry = m_grid.geometry();
  const int32_t col = geometry.columnAt(at.x), row = geometry.rowAt(at.y);
  if (col < 0 || row < 0) return;
  // A press elsewhere ends an entry as Enter would; one that is refused keeps the edit.
  if (m_editor.editing() && !m_editor.commit(false)) return;
  m_navigator.extendMode = false;
  if (drag) {
    m_navigator.select(*sheet, col, row, SelectFlag::Extend);
  } else {
    m_navigator.moveTo(*sheet, col, row, 0);
  }
  m_grid.update();
}

void Application::onWheel(int notches) {
  Sheet* sheet = m_document.workbook().activeSheet();
  if (!sheet) return;
  // Three rows a notch, as desktops scroll; the active cell stays where it is.
  SheetView& view = sheet->view;
  const int32_t first = view.rowsFrozen ? view.frozenLastRow + 1 : 0;
  const int32_t top = std::clamp<int32_t>(view.topRow - 3 * notches, first, MaxRows - 1);
  if (top == view.topRow) return;
  view.topRow = static_cast<uint16_t>(top);
  m_grid.markRepaint(Repaint::Everything);
  m_grid.update();
  m_editor.place();
}

void Application::command(uint32_t id) {
  if (id != MenuCommand::SelectCells && ((id >= 100 && id <= 200) || (id >= 40000 && id <= 40300))) {
    m_navigator.extendMode = false;
  }
  if (m_editor.editing()) {
    m_editor.command(id);
    return;
  }
  // A command the menus show grey (a protected sheet's Paste, say) is refused however it came.
  if (!menuCommandEnabled(*this, id)) return;
  Sheet* sheet = m_document.workbook().activeSheet();
  switch (id) {
    case MenuCommand::SelectCells:
      m_navigator.extendMode = !m_navigator.extendMode;
      break;
    case MenuCommand::SelectRows:
    case MenuCommand::SelectColumns:
      if (sheet && !m_navigator.extendMode) {
        int flags = SelectFlag::Extend | (id == MenuCommand::SelectRows ? SelectFlag::Rows : SelectFlag::Columns);
        m_navigator.select(*sheet, sheet->selection.activeColumn, sheet->selection.activeRow, flags);
        m_navigator.extendMode = true;
      }
      break;
    case MenuCommand::SelectAll:
      if (sheet) {
        m_navigator.select(*sheet, sheet->view.leftColumn, sheet->view.topRow, SelectFlag::All);
        m_navigator.extendMode = false;
      }
      break;
    case MenuCommand::New:
      if (saveChangesPrompt()) newDocument();
      break;
    case MenuCommand::Close:
      closeKelp();
      break;
    case MenuCommand::Password:
      runPasswordDialog(m_desktop, m_main, m_document.workbook());
      break;
    case MenuCommand::Zoom70: setZoom(70); break;
    case MenuCommand::Zoom80: setZoom(80); break;
    case MenuCommand::Zoom90: setZoom(90); break;
    case MenuCommand::Zoom100: setZoom(100); break;
    case MenuCommand::FullScreen:
      setFullScreen(!m_fullScreen);
      break;
    default:
      if (runFileCommand(*this, id) || runEditCommand(*this, id) || runSheetCommand(*this, id)) break;
      if (id >= MenuCommand::RecentFirst && id < MenuCommand::RecentFirst + RecentFileCount) {
        const std::u16string path = m_settings.recentFiles[id - MenuCommand::RecentFirst];
        if (path.empty() || !saveChangesPrompt()) break;
        if (fileExists(path)) {
          openDocument(path);
        } else {
          messageBox(m_desktop, m_main, formatText(loadString(CouldNotFindString), path), MainWindowTitle,
                     BoxFlag::Ok | BoxFlag::IconExclamation);
        }
      }
      break;
  }
  m_grid.update();
}

void Application::onCopyData(const Message& m) {
  if (m.wParam == CopyDataCode::Activate) {
    if (Window* w = mainWindow()) {
      if (!m_desktop.focus()) m_desktop.setFocus(w);
      w->invalidate();
    }
    return;
  }
  if (m.wParam != CopyDataCode::OpenFile) return;
  std::u16string path;
  for (size_t i = 0; i + 1 < m.data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(m.data[i] | (m.data[i + 1] << 8));
    if (c == 0) break;
    path += c;
  }
  if (!path.empty() && saveChangesPrompt()) openDocument(path);
}

void Application::onTimer(uint32_t id) {
  if (id != AutoSaveTimerId) return;
  Workbook& book = m_document.workbook();
  AutoSaveDecision decision =
      autoSaveOnTimer(book.modified, !book.fileName.empty(), !pointMode, m_settings.autoSaveMinutes);
  if (decision.stopTimer) {
    m_desktop.killTimer(m_main, AutoSaveTimerId);
    m_autoSaveRunning = false;
  }
  if (decision.save && SaveCommand(m_document, false)) {
    m_lastModified = m_document.workbook().modified;
  }
  if (decision.startTimerMs) {
    m_desktop.setTimer(m_main, AutoSaveTimerId, decision.startTimerMs);
    m_autoSaveRunning = true;
  }
}

void Application::applyAutoSave(const AutoSaveDecision& decision) {
  if (decision.stopTimer) {
    m_desktop.killTimer(m_main, AutoSaveTimerId);
    m_autoSaveRunning = false;
  }
  if (decision.startTimerMs) {
    m_desktop.setTimer(m_main, AutoSaveTimerId, decision.startTimerMs);
    m_autoSaveRunning = true;
  }
}

void Application::closeKelp() {
  // An entry being typed is entered first, as Enter would; one that is refused keeps Kelp open.
  if (m_editor.editing() && !m_editor.commit(false)) return;
  if (!saveChangesPrompt()) return;
  (void)writeSettings(m_registry, m_settings);
  m_closedByCommand = true;
  m_desktop.postQuit(0);
}

std::string Application::keepRecoveryCopy() {
  if (m_closedByCommand || !m_document.workbook().modified) return {};
  const std::string path = newRecoveryPath();
  if (path.empty()) return {};
  // Nobody is left to answer: the copy is written without a box.
  auto show = std::exchange(m_document.ui.showMessage, nullptr);
  auto ask = std::exchange(m_document.ui.ask, nullptr);
  const bool kept = SaveCopy(m_document, utf8ToUtf16(path)) && noteRecoveryName(path, m_document.workbook().fileName);
  m_document.ui.showMessage = std::move(show);
  m_document.ui.ask = std::move(ask);
  clearError();
  if (!kept) {
    removeRecoveryCopy(path);
    return {};
  }
  return path;
}

void Application::offerRecovery() {
  for (const RecoveryCopy& copy : recoveryCopies()) {
    std::u16string name = copy.name.empty() ? u"Untitled" : copy.name.substr(copy.name.rfind(u'/') + 1);
    const std::u16string question =
        u"Kelp found unsaved changes to " + name + u" from " + shortDateTimeText(copy.savedAt) + u". Open them?";
    const int answer =
        messageBox(m_desktop, m_main, question, MainWindowTitle, BoxFlag::YesNoCancel | BoxFlag::IconQuestion);
    if (answer == DialogResult::No) {
      removeRecoveryCopy(copy.path);
      continue;
    }
    if (answer != DialogResult::Yes || !saveChangesPrompt()) return;
    if (OpenDocument(m_document, utf8ToUtf16(copy.path))) {
      // An untitled workbook with unsaved changes, which Save sends through Save As.
      ReleaseDocumentFile(m_document);
      Workbook& book = m_document.workbook();
      book.fileName.clear();
      book.fileType = static_cast<uint32_t>(DocFileType::Native);
      book.modified = true;
      removeRecoveryCopy(copy.path);
      replacedWorkbook();
    }
    afterMessage();
    return;
  }
}

bool Application::saveChangesPrompt() {
  if (!m_document.workbook().modified) return true;
  // A Yes/No/Cancel box stands in for the list dialog, and names the workbook it asks about.
  int answer = messageBox(m_desktop, m_main, u"Save changes to " + workbookName() + u"?", MainWindowTitle,
                          BoxFlag::YesNoCancel | BoxFlag::IconQuestion);
  if (answer == DialogResult::No) return true;
  if (answer != DialogResult::Yes) return false;
  // An untitled workbook goes through Save As; cancelling it cancels what asked.
  return saveWorkbook(*this, false);
}

bool Application::openDocument(std::u16string_view path) {
  const std::u16string name(path);
  // A failed open changed nothing: the workbook, its edit and its undo list stay.
  if (!OpenDocument(m_document, name)) return false;
  noteRecentFile(name);
  replacedWorkbook();
  return true;
}

void Application::newDocument() {
  m_document.replaceWorkbook(nullptr);
  m_document.replaceWorkbook(newWorkbook(3));
  replacedWorkbook();
}

void Application::replacedWorkbook() {
  // The edit, the undo history and the consent to run tasks belonged to the workbook that went.
  m_editor.abandon();
  m_undo.clear();
  m_tasks.forgetConsent();
  m_tasks.loadGlobalTasks();
  Workbook& book = m_document.workbook();
  if (m_fullScreen) {
    m_savedZooms.assign(static_cast<size_t>(book.sheetCount()), 100);
    for (int32_t i = 0; i < book.sheetCount(); ++i) {
      Sheet* s = book.sheetAt(i);
      m_savedZooms[static_cast<size_t>(i)] = s->view.zoom;
      if (m_settings.useFullScreenZoom && s->view.zoom > m_settings.fullScreenZoom) s->view.zoom = m_settings.fullScreenZoom;
    }
  }
  m_lastModified = !book.modified;  // the next check settles the timer for the new workbook
  m_navigator.extendMode = false;
  relayout();
}

void Application::noteRecentFile(std::u16string_view path) {
  if (path.empty()) return;
  addRecentFile(m_settings.recentFiles, path);
  rebuildRecentMenu();
  (void)writeSettings(m_registry, m_settings);
}

void Application::openHelp(std::u16string_view topic) {
  const std::string page = installedFile(ManualName);
  m_lastHelpRequest = utf8ToUtf16(page.empty() ? std::string(ManualName) : page);
  if (!topic.empty()) m_lastHelpRequest += u"#" + std::u16string(topic);
  // A scripted session starts no viewer: it says what the user would have seen.
  if (!m_desktop.backend() || dynamic_cast<HeadlessBackend*>(m_desktop.backend())) {
    std::fprintf(stderr, "kelp: help: %s\n", utf16ToUtf8(m_lastHelpRequest).c_str());
    return;
  }
  Window* top = m_desktop.focus() ? m_desktop.topLevelOf(m_desktop.focus()) : nullptr;
  const WindowId owner = top ? top->id() : m_main;
  if (page.empty()) {
    messageBox(m_desktop, owner, loadString(ManualMissingString), MainWindowTitle, BoxFlag::Ok | BoxFlag::IconExclamation);
  } else if (!openHelpPage(utf8ToUtf16(page), topic)) {
    messageBox(m_desktop, owner, formatText(loadString(NoViewerString), utf8ToUtf16(page)), MainWindowTitle,
               BoxFlag::Ok | BoxFlag::IconExclamation);
  }
}

void Application::showOptions() {
  Workbook& book = m_document.workbook();
  Sheet* sheet = book.activeSheet();
  if (!sheet) return;
  // No save may start while the sheet is up; the timer is settled again afterwards.
  if (m_autoSaveRunning) {
    m_desktop.killTimer(m_main, AutoSaveTimerId);
    m_autoSaveRunning = false;
  }
  OptionValues options;
  options.formulaBar = m_settings.formulaBar;
  options.headers = sheet->view.showHeaders;
  options.gridlines = sheet->view.showGridlines;
  options.zeros = sheet->view.showZeros;
  options.moveEnter = m_settings.moveEnter;
  options.useFullScreenZoom = m_settings.useFullScreenZoom;
  options.fullScreenZoom = m_settings.fullScreenZoom;
  options.autoSave = m_settings.autoSave;
  options.autoSaveMinutes = m_settings.autoSaveMinutes;
  options.customLists = m_settings.customLists;
  options.page = m_optionsPage;
  const bool ok = runOptionsDialog(m_desktop, book, options);
  m_optionsPage = static_cast<uint16_t>(options.page);
  if (ok) {
    m_settings.formulaBar = options.formulaBar;
    m_settings.moveEnter = options.moveEnter;
    m_settings.useFullScreenZoom = options.useFullScreenZoom;
    m_settings.fullScreenZoom = options.fullScreenZoom;
    m_settings.autoSave = options.autoSave;
    m_settings.autoSaveMinutes = options.autoSaveMinutes;
    m_settings.customLists = options.customLists;
    SheetView view = sheet->view;
    view.showHeaders = options.headers;
    view.showGridlines = options.gridlines;
    view.showZeros = options.zeros;
    // The sheet's flags are stored with the workbook; the program's settings are not.
    if (view.showHeaders != sheet->view.showHeaders || view.showGridlines != sheet->view.showGridlines ||
        view.showZeros != sheet->view.showZeros) {
      setSheetView(book, book.activeSheetIndex(), view);
      book.modified = true;
    }
    (void)writeSettings(m_registry, m_settings);
    relayout();
  }
  m_lastModified = book.modified;
  applyAutoSave(autoSaveOnModifiedChange(m_settings.autoSave, book.modified, m_settings.autoSaveMinutes));
}

void Application::setFullScreen(bool on) {
  if (on == m_fullScreen) return;
  Workbook& book = m_document.workbook();
  if (on) {
    m_savedZooms.assign(static_cast<size_t>(book.sheetCount()), 100);
    for (int32_t i = 0; i < book.sheetCount(); ++i) {
      Sheet* s = book.sheetAt(i);
      m_savedZooms[static_cast<size_t>(i)] = s->view.zoom;
      if (m_settings.useFullScreenZoom && s->view.zoom > m_settings.fullScreenZoom) s->view.zoom = m_settings.fullScreenZoom;
    }
  } else {
    for (int32_t i = 0; i < book.sheetCount() && static_cast<size_t>(i) < m_savedZooms.size(); ++i) {
      Sheet* s = book.sheetAt(i);
      if (s->view.zoom == m_settings.fullScreenZoom) s->view.zoom = m_savedZooms[static_cast<size_t>(i)];
    }
    m_savedZooms.clear();
  }
  m_fullScreen = on;
  relayout();
}

void Application::setZoom(uint32_t zoom) {
  Workbook& book = m_document.workbook();
  for (int32_t i = 0; i < book.sheetCount(); ++i) book.sheetAt(i)->view.zoom = zoom;
  book.modified = true;
  m_grid.markRepaint(Repaint::Everything);
}

}  // namespace kelp
