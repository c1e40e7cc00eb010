// The Edit menu's items.
#include "shell/EditMenu.h"

#include <string>

#include "edit/Clipboard.h"
#include "edit/Commands.h"
#include "files/Document.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"
#include "shell/Application.h"

namespace kelp {

namespace {

constexpr int UndoString = 2618;
constexpr int RedoString = 2620;
constexpr int PasteContentsOnlyString = 2621;

std::u16string undoLabel(int stringId, std::u16string_view description) {
  std::u16string label(loadString(stringId));
  if (!description.empty()) {
    label += u' ';
    label += description;
  }
  return label;
}

bool isProtected(Application& app) {
  Workbook& book = app.workbook();
  const Sheet* sheet = book.activeSheet();
  return book.isProtected || (sheet && sheet->isProtected);
}

// Recorded changes, undone or redone, may touch any cell of any sheet, and the programs
// leave the active cell on the range they changed.
void showChange(Application& app) {
  GridView& grid = app.grid();
  if (Sheet* sheet = app.workbook().activeSheet()) {
    grid.scrollIntoView(sheet->selection.activeColumn, sheet->selection.activeRow, false);
  }
  grid.markRepaint(Repaint::Everything);
}

}  // namespace

void appendEditMenu(Menu& menu) {
  Menu& edit = menu.appendPopup(u"Edit");
  edit.append(MenuCommand::Undo, loadString(UndoString), MenuFlag::Gray);
  edit.append(MenuCommand::Redo, loadString(RedoString), MenuFlag::Gray);
  edit.appendSeparator();
  edit.append(MenuCommand::Cut, u"Cut", MenuFlag::Gray);
  edit.append(MenuCommand::Copy, u"Copy", MenuFlag::Gray);
  edit.append(MenuCommand::Paste, u"Paste", MenuFlag::Gray);
  edit.append(MenuCommand::PasteSpecial, u"Paste Special...", MenuFlag::Gray);
  Menu& clear = edit.appendPopup(u"Clear");
  clear.append(MenuCommand::ClearAll, u"All");
  clear.append(MenuCommand::ClearContents, u"Contents");
  clear.append(MenuCommand::ClearFormats, u"Format");
}

void refreshEditMenu(MenuBar& bar, Application& app) {
  const UndoList& undo = app.undoList();
  const bool locked = isProtected(app);
  Menu* menu = bar.key(1).popup.get();
  if (!menu) return;
  menu->setText(MenuCommand::Undo, undoLabel(UndoString, undo.undoDescription()));
  menu->enable(MenuCommand::Undo, undo.canUndo());
  menu->setText(MenuCommand::Redo, undoLabel(RedoString, undo.redoDescription()));
  menu->enable(MenuCommand::Redo, undo.canRedo());
  for (uint32_t id : {MenuCommand::Cut, MenuCommand::Copy, MenuCommand::Paste, MenuCommand::PasteSpecial}) {
    // Copying changes nothing, so a protected sheet still allows it.
    menu->enable(id, clipboardCommandEnabled(app, id) && (!locked || id == MenuCommand::Copy));
  }
  for (uint32_t id : {MenuCommand::ClearAll, MenuCommand::ClearContents, MenuCommand::ClearFormats}) {
    menu->enable(id, !locked);
  }
}

bool runEditCommand(Application& app, uint32_t id) {
  Workbook& book = app.workbook();
  switch (id) {
    case MenuCommand::Undo:
      if (app.undoList().undo(book)) showChange(app);
      return true;
    case MenuCommand::Redo:
      if (app.undoList().redo(book)) showChange(app);
      return true;
    case MenuCommand::ClearAll:
    case MenuCommand::ClearContents:
    case MenuCommand::ClearFormats: {
      if (isProtected(app)) return true;
      const ClearMode mode = id == MenuCommand::ClearAll        ? ClearMode::All
                             : id == MenuCommand::ClearContents ? ClearMode::Contents
                                                                : ClearMode::Formats;
      if (clearSelection(book, app.undoList(), mode)) showChange(app);
      return true;
    }
    case MenuCommand::Cut:
    case MenuCommand::Copy:
    case MenuCommand::Paste:
    case MenuCommand::PasteSpecial:
      (void)runClipboardCommand(app, id);
      return true;
    default:
      return false;
  }
}

// ---- The clipboard: Cut, Copy, Paste and Paste Special.

bool clipboardCommandEnabled(Application& /*app*/, uint32_t id) {
  return id == MenuCommand::Cut || id == MenuCommand::Copy || clipboardHasData();
}

bool runClipboardCommand(Application& app, uint32_t id) {
  Workbook& book = app.workbook();
  bool done = false;
  if (id == MenuCommand::Cut || id == MenuCommand::Copy) {
    done = copySelection(book, id == MenuCommand::Cut);
  } else {
    PasteOptions options;
    if (id == MenuCommand::PasteSpecial) {
      // Until the Paste Special dialog exists its choice is contents alone, and the user is told.
      options.formats = options.validation = false;
      Window* main = app.mainWindow();
      messageBox(app.desktop(), main ? main->id() : NoWindow, loadString(PasteContentsOnlyString), MainWindowTitle,
                 BoxFlag::Ok);
    }
    done = pasteSelection(book, app.undoList(), options);
    if (done) showChange(app);
  }
  if (!done) app.showPendingError();
  return done;
}

}  // namespace kelp
