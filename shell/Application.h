// The application: the main window and its soft-key menus, the workbook it shows, the
// settings, recent files, automatic save, help and the error box after each message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "edit/Commands.h"
#include "files/Document.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Menu.h"
#include "shell/CellEditor.h"
#include "shell/InputHelp.h"
#include "shell/GridView.h"
#include "shell/Navigation.h"
#include "shell/Settings.h"
#include "shell/TaskTriggers.h"

namespace kelp {

class Registry;

/// Command ids of the soft-key menus.
namespace MenuCommand {
constexpr uint32_t New = 40001;
constexpr uint32_t Close = 40024;
constexpr uint32_t SelectCells = 40177;
constexpr uint32_t SelectRows = 40182;
constexpr uint32_t SelectColumns = 40183;
constexpr uint32_t SelectAll = 40109;
constexpr uint32_t RecentFirst = 5341;
constexpr uint32_t RecentEmpty = 40104;
constexpr uint32_t Zoom70 = 40038;
constexpr uint32_t Zoom80 = 40045;
constexpr uint32_t Zoom90 = 40046;
constexpr uint32_t Zoom100 = 40039;
constexpr uint32_t FullScreen = 40051;
}  // namespace MenuCommand

/// Copy-data codes a second instance sends to the first.
namespace CopyDataCode {
constexpr uint32_t OpenFile = 23456;
constexpr uint32_t Activate = 23457;
}  // namespace CopyDataCode

constexpr uint32_t AutoSaveTimerId = 2345;

/// The class and title of the main window.
inline constexpr std::u16string_view MainWindowClass = u"Kelp Application";
inline constexpr std::u16string_view MainWindowTitle = u"Kelp";

class Application {
 public:
  /// The defaults of a first start; nothing is read or shown yet.
  Application(Desktop& desktop, Registry& registry);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  /// Creates the main window over the desktop's work area (reading the settings while it
  /// is created), then opens the document the command line names. False when the window
  /// could not be made.
  bool start(std::u16string_view commandLine);

  Desktop& desktop() { return m_desktop; }
  Window* mainWindow() const { return m_desktop.find(m_main); }
  Document& document() { return m_document; }
  Workbook& workbook() { return m_document.workbook(); }
  Settings& settings() { return m_settings; }
  GridView& grid() { return m_grid; }
  Navigator& navigator() { return m_navigator; }
  MenuBar* menuBar() const;
  /// The open workbook's undo history; another workbook starts a new one.
  UndoList& undoList() { return m_undo; }
  CellEditor& editor() { return m_editor; }
  InputHelp& inputHelp() { return m_inputHelp; }
  TaskTriggers& tasks() { return m_tasks; }
  Registry& registry() { return m_registry; }
  /// Puts the workbook's menu tasks in the Task menu before "Workbook Task...".
  void rebuildTaskMenu();
  /// What follows every handled message: the automatic-save timer, the menus' state and
  /// the pending error. The cell editor calls it after its own messages.
  void messageHandled() { afterMessage(); }

  /// Proceed (true) or cancel: asks "Save changes?" when the workbook is modified.
  bool saveChangesPrompt();
  /// Opens a document in place of the current workbook (no prompt); a failure keeps the
  /// workbook, its edit and its undo list as they were, with the error pending.
  bool openDocument(std::u16string_view path);
  /// A new empty workbook of three sheets in place of the current one.
  void newDocument();
  /// Puts a path first in Recent Files, rebuilds the submenu and writes the settings.
  void noteRecentFile(std::u16string_view path);
  /// Shows and clears the pending error in a box titled "Kelp".
  void showPendingError();
  /// Opens the manual, at `topic` when not empty. A headless session only notes what it
  /// would open, on standard error and in lastHelpRequest.
  void openHelp(std::u16string_view topic);
  /// The manual's path (or its bare name when it is not found) and "#topic", as last asked for.
  const std::u16string& lastHelpRequest() const { return m_lastHelpRequest; }
  /// The Options sheet; OK writes the settings, applies the sheet's flags and lays the window out again.
  void showOptions();

  bool fullScreen() const { return m_fullScreen; }
  void setFullScreen(bool on);
  /// Sets the zoom of every sheet, marks the workbook modified and repaints.
  void setZoom(uint32_t zoom);
  /// Runs a menu command as the soft keys would.
  void command(uint32_t id);
  /// Whether the automatic-save timer is running.
  bool autoSaveTimerRunning() const { return m_autoSaveRunning; }
  /// The Open File dialog's filter position, kept for the next Open.
  int openFilter = 0;
  /// PointMode is on while a formula picks up references; automatic saves then wait.
  bool pointMode = false;

  /// The error code of the document the command line named when it failed to open, else 0.
  uint32_t startError() const { return m_startError; }

  /// Whether the program ended through File > Close or a close of the window that the
  /// user confirmed (settings written), rather than by the end of the session.
  bool closedByCommand() const { return m_closedByCommand; }

  /// After the loop: when the session ended without a confirmed close and the workbook is
  /// modified, writes a copy of it to the recovery folder. Returns the copy's path, else empty.
  std::string keepRecoveryCopy();
  /// Offers each recovery copy a previous session left: Yes opens it as an untitled
  /// workbook, No deletes it, a box closed without an answer keeps it for the next start.
  void offerRecovery();

 private:
  friend class MainWindow;
  int64_t handle(Window& window, Message& m);
  void onCreate(Window& window);
  void onKey(Key key, int64_t mods);
  void onCopyData(const Message& m);
  bool desktopShortcut(char16_t c);
  void onPointer(Point at, bool drag);
  void onWheel(int notches);
  void onTimer(uint32_t id);
  void buildMenus(Window& window);
  void rebuildRecentMenu();
  void updateSelectMenu();
  void afterMessage();
  void updateTitle();
  /// The workbook's file name without its folder, or "Untitled".
  std::u16string workbookName() const;
  void replacedWorkbook();
  void applyAutoSave(const AutoSaveDecision& decision);
  void relayout();
  void closeKelp();

  Desktop& m_desktop;
  Registry& m_registry;
  WindowId m_main = NoWindow;
  Settings m_settings;
  Document m_document;
  GridView m_grid;
  Navigator m_navigator;
  UndoList m_undo;
  TaskTriggers m_tasks{*this};
  CellEditor m_editor{*this};
  InputHelp m_inputHelp{*this};
  bool m_fullScreen = false;
  std::vector<uint32_t> m_savedZooms;  // per sheet, while full-screen mode is on
  uint32_t m_displayColors = 0;
  std::u16string m_modulePath;
  uint16_t m_optionsPage = 0;
  int m_editNesting = 0;
  bool m_lastModified = false;
  bool m_autoSaveRunning = false;
  bool m_closedByCommand = false;
  uint32_t m_startError = 0;
  int m_handling = 0;
  std::u16string m_lastHelpRequest;
};

}  // namespace kelp
