// Editing a cell with the keys: the edit line in the formula bar or over the cell, its
// caret and Back, committing through the editing layer, Esc, the locked-cell message and
// PointMode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui/Menu.h"
#include "platform/ui/Message.h"
#include "shell/PointMode.h"

namespace kelp {

class Application;
class Canvas;
class EditorWindow;
class GridGeometry;
class Sheet;
class Workbook;

/// Commands of the soft keys while a cell is edited.
namespace EditingCommand {
constexpr uint32_t Cancel = 2;
constexpr uint32_t InsertChar = 40191;
constexpr uint32_t InsertFunction = 40027;
constexpr uint32_t InsertName = 40061;
constexpr uint32_t DefineName = 40060;
}  // namespace EditingCommand

/// Posted to the main window after the locked-cell message: characters typed in the same
/// attempt are queued before it and show no second message.
constexpr Msg LockedAttemptOver = static_cast<Msg>(static_cast<uint16_t>(Msg::User) + 1);

/// The longest text the edit line holds.
constexpr size_t MaxEditText = 2048;

/// Whether the cell refuses typing: the workbook or the sheet is protected and the style
/// of the cell (of a merged area's top-left cell) is locked.
bool isLockedCell(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row);

class CellEditor {
 public:
  explicit CellEditor(Application& app);
  ~CellEditor();
  CellEditor(const CellEditor&) = delete;
  CellEditor& operator=(const CellEditor&) = delete;

  bool editing() const { return m_editor != NoWindow; }
  bool pointing() const { return m_point.on; }
  /// True when Left and Right move the caret (an edit opened with F2 or Enter), false
  /// when they commit and move (an entry begun by typing); F2 switches.
  bool arrowsMoveCaret() const { return m_arrowsMoveCaret; }
  /// The edit line's text and caret; empty and 0 while nothing is edited.
  std::u16string text() const;
  size_t caret() const;

  /// A key at the grid while no edit is open: Enter (a tap, else an edit of the cell) and
  /// F2. False for the other keys.
  bool gridKey(Key key, int64_t mods);
  /// A character that reached the main window: it begins an entry, or joins the open one.
  void gridChar(char16_t c);
  /// A key that reached the main window while an edit is open.
  void forwardKey(Key key, int64_t mods);
  /// A command while a cell is edited: Cancel. The dialog items are grey.
  void command(uint32_t id);
  /// Shows "Locked cell" unless the current attempt has shown it already.
  void showLocked();
  void lockedAttemptOver() { m_lockedShown = false; }

  /// Opens the active cell for editing with `text`; false when an edit is open already.
  bool begin(std::u16string_view text, bool arrowsMoveCaret, bool selectAll);
  /// Writes the text into the cell (Move after Enter when `move`). On failure the edit
  /// stays open with its text and the error, if any, is pending.
  bool commit(bool move);
  void cancel();
  /// Writes `text` into a cell of the active sheet as a typed entry would, with its
  /// validation and the tasks that watch the cell; false when it was refused.
  bool enterText(int32_t column, int32_t row, std::u16string_view text);
  /// Closes the edit without touching the workbook, which has been replaced.
  void abandon();
  /// Puts the edit line where it belongs after the layout or the view changed.
  void place();
  // Greys Insert Name... while the workbook has no defined name.
  void refreshEditingMenu();
  /// Draws the PointMode pointer over the grid.
  void paintOverlay(Canvas& canvas, const GridGeometry& geometry) const;

  /// The edit line's own key-downs and characters.
  int64_t editorMessage(EditorWindow& editor, Message& m);

 private:
  /// Enter on a cell whose rule offers a list: the list, and the entry picked written as
  /// typed. False when the cell offers none.
  bool pickFromValidationList(int32_t col, int32_t row);
  EditorWindow* editorWindow() const;
  /// Hands a key or character that reached the main window to the open edit line.
  void deliver(Msg msg, int64_t wParam, int64_t lParam);
  void editorKey(EditorWindow& editor, Key key, int64_t mods, Message& m);
  void editorChar(EditorWindow& editor, Message& m);
  void close();
  void enterPoint();
  void movePointer(Key key, int64_t mods);
  void leavePoint();
  void gridMove(Key key, int64_t mods);
  bool activeCellLocked() const;

  Application& m_app;
  WindowId m_editor = NoWindow;
  bool m_arrowsMoveCaret = true;
  PointMode m_point;
  SoftKey m_savedKeys[2];
  bool m_lockedShown = false;
  bool m_swallowReturn = false;  // the Enter that opened an edit also sends its character
};

}  // namespace kelp
