// The Edit menu's items.
#include "shell/EditMenu.h"

#include <string>

#include "edit/Clipboard.h"
#include "dialogs/Forms.h"
#include "edit/Commands.h"
#include "files/Document.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"
#include "shell/Application.h"

namespace kelp {

namespace {

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

bool runClipboardCommand(Application& app, uint32_t id) {
  Workbook& book = app.workbook();
  bool done = false;
  if (id == MenuCommand::Cut || id == MenuCommand::Copy) {
    done = copySelection(book, id == MenuCommand::Cut);
  } else {
    // Paste Special's switches hold for the one paste; a plain Paste brings everything.
    PasteOptions options;
    if (id == MenuCommand::PasteSpecial && !askPasteOptions(app.desktop(), options)) return false;
    done = pasteSelection(book, app.undoList(), options);
    if (done) showChange(app);
  }
  if (!done) app.showPendingError();
  return done;
}

}  // namespace kelp
