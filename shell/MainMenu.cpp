// The main menus as one table, their state, and the commands of the sheet menus.
#include "shell/MainMenu.h"

#include <algorithm>
#include <string_view>

#include "dialogs/ChartDialogs.h"
#include "dialogs/FindReplace.h"
#include "dialogs/FormatCells.h"
#include "dialogs/Forms.h"
#include "dialogs/GoToDialog.h"
#include "dialogs/SheetsDialog.h"
#include "dialogs/ValidationDialog.h"
#include "edit/Clipboard.h"
#include "platform/Clipboard.h"
#include "edit/Commands.h"
#include "edit/Fill.h"
#include "edit/Filter.h"
#include "edit/Outline.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"
#include "shell/Application.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {

using namespace MenuCommand;

constexpr int UndoString = 2618;
constexpr int RedoString = 2620;
constexpr int UnfreezeString = 2608, FreezeString = 2609;
constexpr int UnprotectSheetString = 2612, ProtectSheetString = 2613;
constexpr int UnprotectBookString = 2616, ProtectBookString = 2617;
constexpr int ModifyOutlineString = 2629;

// One line of the menu tree: its depth (0 the soft keys' popups), the command (0 opens
// a submenu), the label. The order is the menus' order.
struct MenuLine {
  int depth;
  uint32_t id;
  std::u16string_view text;
};

constexpr uint32_t Popup = 0;
constexpr uint32_t SeparatorLine = 1;

constexpr MenuLine kMenuTree[] = {
    {0, Popup, u"Select"},
    {1, SelectCells, u"Cells"},
    {1, SelectRows, u"Rows"},
    {1, SelectColumns, u"Columns"},
    {1, SelectAll, u"All"},
    {1, Sheets, u"Sheets..."},
    {0, Popup, u"Menu"},
    {1, Popup, u"File"},
    {2, New, u"New"},
    {2, Open, u"Open..."},
    {2, Save, u"Save"},
    {2, MenuCommand::SaveAs, u"Save As..."},
    {2, Popup, u"Recent Files"},
    {2, Password, u"Password..."},
    {2, SeparatorLine, u""},
    {2, Close, u"Close"},
    {1, Popup, u"Edit"},
    {2, Undo, u"Undo"},
    {2, Redo, u"Redo"},
    {2, SeparatorLine, u""},
    {2, Cut, u"Cut"},
    {2, Copy, u"Copy"},
    {2, Paste, u"Paste"},
    {2, PasteSpecial, u"Paste Special..."},
    {2, Popup, u"Clear"},
    {3, ClearAll, u"All"},
    {3, ClearContents, u"Contents"},
    {3, ClearFormats, u"Format"},
    {3, ClearValidation, u"Validation"},
    {2, Popup, u"Fill"},
    {3, FillRight, u"Right"},
    {3, FillDown, u"Down"},
    {3, FillSeries, u"Series..."},
    {2, InsertCells, u"Insert Cells"},
    {2, DeleteCells, u"Delete Cells"},
    {1, Popup, u"Zoom"},
    {2, Zoom70, u"70%"},
    {2, Zoom80, u"80%"},
    {2, Zoom90, u"90%"},
    {2, Zoom100, u"100%"},
    {2, ZoomCustom, u"Custom..."},
    {2, FullScreen, u"Full Screen"},
    {1, Popup, u"Format"},
    {2, FormatCells, u"Cells..."},
    {2, Popup, u"Row"},
    {3, RowHeight, u"Height..."},
    {3, RowAutoFit, u"AutoFit"},
    {3, RowHide, u"Hide"},
    {3, RowUnhide, u"Unhide"},
    {2, Popup, u"Column"},
    {3, ColumnWidth, u"Width..."},
    {3, ColumnAutoFit, u"AutoFit"},
    {3, ColumnHide, u"Hide"},
    {3, ColumnUnhide, u"Unhide"},
    {2, FreezeTitles, u"Freeze Titles"},
    {1, Popup, u"Tools"},
    {2, Chart, u"Chart..."},
    {2, Popup, u"Outline"},
    {3, ShowDetail, u"Show Detail"},
    {3, HideDetail, u"Hide Detail"},
    {3, Group, u"Group..."},
    {3, Ungroup, u"Ungroup..."},
    {3, ClearOutline, u"Clear"},
    {3, AutoOutline, u"Auto"},
    {2, GoalSeek, u"Goal Seek..."},
    {2, Popup, u"Protection"},
    {3, ProtectSheet, u"Protect Sheet"},
    {3, ProtectWorkbook, u"Protect Workbook"},
    {2, Options, u"Options..."},
    {1, Popup, u"Data"},
    {2, GoTo, u"Go to ..."},
    {2, Find, u"Find..."},
    {2, Replace, u"Replace..."},
    {2, Sort, u"Sort..."},
    {2, Filter, u"Filter"},
    {2, DataValidation, u"Data Validation..."},
    {1, Popup, u"Task"},
    {2, MenuCommand::WorkbookTask, u"Workbook Task..."},
    {2, CellTask, u"Cell Task..."},
    {2, InsertHyperlink, u"Insert Hyperlink..."},
    {2, About, u"About..."},
};

// Every command that protection greys, in the menus' order.
constexpr uint32_t kCommandList[] = {
    New,          Open,         Save,        MenuCommand::SaveAs,        Password,      Close,        Undo,        Redo,
    Cut,          Copy,         Paste,       PasteSpecial,  ClearAll,      ClearContents, ClearFormats, ClearValidation,
    FillRight,    FillDown,     FillSeries,  DeleteCells,   InsertCells,   FormatCells,  RowHide,     RowUnhide,
    RowHeight,    RowAutoFit,   ColumnHide,  ColumnUnhide,  ColumnWidth,   ColumnAutoFit, Zoom70,     Zoom80,
    Zoom90,       Zoom100,      ZoomCustom,  FullScreen,    FreezeTitles,  Sheets,       GoTo,        Find,
    Replace,      Sort,         Chart,       Filter,        ProtectSheet,  ProtectWorkbook, DataValidation, GoalSeek,
    ShowDetail,   HideDetail,   Group,       Ungroup,       ClearOutline,  AutoOutline,  Options,     MenuCommand::WorkbookTask,
    CellTask,     InsertHyperlink};

// What a protected workbook or sheet still allows: nothing here changes a cell.
constexpr uint32_t kAllowedWhileProtected[] = {New,    Open,         Save,    MenuCommand::SaveAs,     Close,      Copy,
                                               Zoom70, Zoom80,       Zoom90,  Zoom100,    ZoomCustom, FullScreen,
                                               FreezeTitles, GoTo,   Find,    Chart,      ProtectSheet, ProtectWorkbook};


template <size_t N>
bool among(const uint32_t (&ids)[N], uint32_t id) {
  return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

bool isProtected(Application& app) {
  Workbook& book = app.workbook();
  const Sheet* sheet = book.activeSheet();
  return book.isProtected || (sheet && sheet->isProtected);
}

std::u16string undoLabel(int stringId, std::u16string_view description) {
  std::u16string label(loadString(stringId));
  if (!description.empty()) {
    label += u' ';
    label += description;
  }
  return label;
}

void setFlag(MenuItem* item, uint32_t flag, bool on) {
  if (item) item->flags = on ? item->flags | flag : item->flags & ~flag;
}

// Whether a command may run now; what the menu greys is refused when it arrives anyway.
bool commandEnabled(Application& app, uint32_t id) {
  const UndoList& undo = app.undoList();
  if (id == Undo) return undo.canUndo();
  if (id == Redo) return undo.canRedo();
  if (isProtected(app)) return !among(kCommandList, id) || among(kAllowedWhileProtected, id);
  switch (id) {
    case Paste: return clipboardHasData();
    case PasteSpecial: return clipboardHasPrivateData();
    case Options: return !app.fullScreen();
    case ShowDetail:
    case HideDetail: {
      const Sheet* sheet = app.workbook().activeSheet();
      return sheet && detailAvailable(*sheet);
    }
    case ClearOutline: {
      // Without an outline there is nothing to clear, and an item that did nothing would mislead.
      const Sheet* sheet = app.workbook().activeSheet();
      return sheet && (sheet->rowOutlineTop > 0 || sheet->columnOutlineTop > 0);
    }
    default: return true;
  }
}

Window* mainOf(Application& app) { return app.mainWindow(); }
WindowId ownerOf(Application& app) {
  Window* main = mainOf(app);
  return main ? main->id() : NoWindow;
}

// A change through a dialog or a direct command shows the active cell and repaints.
void showChange(Application& app) {
  GridView& grid = app.grid();
  if (Sheet* sheet = app.workbook().activeSheet()) {
    grid.scrollIntoView(sheet->selection.activeColumn, sheet->selection.activeRow, false);
  }
  grid.markRepaint(Repaint::Everything);
}

void toggleProtection(Application& app, bool workbook) {
  Workbook& book = app.workbook();
  Sheet* sheet = book.activeSheet();
  bool& flag = workbook ? book.isProtected : sheet->isProtected;
  flag = !flag;
  // A protected workbook's changes are not undone behind the protection's back.
  if (flag) app.undoList().clear();
  book.modified = true;
  app.grid().markRepaint(Repaint::Everything);
}

void autoOutlineCommand(Application& app) {
  Desktop& desktop = app.desktop();
  const WindowId owner = ownerOf(app);
  auto ask = [&desktop, owner] {
    return messageBox(desktop, owner, loadString(ModifyOutlineString), MainWindowTitle,
                      BoxFlag::YesNo | BoxFlag::IconQuestion) == DialogResult::Yes;
  };
  if (autoOutline(app.workbook(), app.undoList(), ask)) showChange(app);
}

}  // namespace

void buildMainMenu(MenuBar& bar) {
  Menu* stack[4] = {};
  for (const MenuLine& line : kMenuTree) {
    if (line.depth == 0) {
      stack[1] = &bar.setPopup(line.text == u"Select" ? 0 : 1, line.text);
      continue;
    }
    Menu& parent = *stack[line.depth];
    if (line.id == Popup) {
      stack[line.depth + 1] = &parent.appendPopup(line.text);
    } else if (line.id == SeparatorLine) {
      parent.appendSeparator();
    } else {
      parent.append(line.id, line.text);
    }
  }
}

void rebuildTaskMenu(MenuBar& bar, const Workbook& book) {
  Menu* top = bar.key(1).popup.get();
  if (!top) return;
  for (size_t i = 0; i < top->count(); ++i) {
    Menu* task = top->item(i).submenu.get();
    if (!task || !task->find(MenuCommand::WorkbookTask)) continue;
    for (size_t at = task->count(); at > 0; --at) {
      const uint32_t id = task->item(at - 1).id;
      if (id >= MenuTaskFirst && id <= MenuTaskLast) task->removeAt(at - 1);
    }
    size_t before = 0;
    while (before < task->count() && task->item(before).id != MenuCommand::WorkbookTask) ++before;
    for (const TaskMenuItem& item : menuTasks(book)) task->insert(before++, item.command, item.text);
    return;
  }
}


void refreshMainMenu(MenuBar& bar, Application& app) {
  Menu* select = bar.key(0).popup.get();
  Menu* menu = bar.key(1).popup.get();
  if (!select || !menu) return;
  for (uint32_t id : kCommandList) menu->enable(id, commandEnabled(app, id)) || select->enable(id, commandEnabled(app, id));

  const bool extend = app.navigator().extendMode;
  select->setText(SelectCells, extend ? u"Stop" : u"Cells");
  select->enable(SelectRows, !extend);
  select->enable(SelectColumns, !extend);

  const UndoList& undo = app.undoList();
  menu->setText(Undo, undoLabel(UndoString, undo.undoDescription()));
  menu->setText(Redo, undoLabel(RedoString, undo.redoDescription()));

  Workbook& book = app.workbook();
  const Sheet* sheet = book.activeSheet();
  const uint32_t zoom = sheet ? sheet->view.zoom : 0;
  // The zoom in force carries the check mark (none for a zoom the menu does not offer).
  static constexpr std::pair<uint32_t, uint32_t> zooms[] = {{Zoom70, 70}, {Zoom80, 80}, {Zoom90, 90}, {Zoom100, 100}};
  for (const auto& [id, percent] : zooms) setFlag(menu->find(id), MenuFlag::Checked, zoom == percent);
  setFlag(menu->find(FullScreen), MenuFlag::Checked, app.fullScreen());
  setFlag(menu->find(Filter), MenuFlag::Checked, sheet && sheet->autoFilter.active);

  const bool frozen = sheet && (sheet->view.rowsFrozen || sheet->view.columnsFrozen);
  menu->setText(FreezeTitles, loadString(frozen ? UnfreezeString : FreezeString));
  menu->setText(ProtectSheet, loadString(sheet && sheet->isProtected ? UnprotectSheetString : ProtectSheetString));
  menu->setText(ProtectWorkbook, loadString(book.isProtected ? UnprotectBookString : ProtectBookString));
}

void toggleFreezeTitles(Application& app) {
  Workbook& book = app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!sheet) return;
  SheetView view = sheet->view;
  if (!view.rowsFrozen && !view.columnsFrozen) {
    const uint16_t column = static_cast<uint16_t>(sheet->selection.activeColumn);
    const uint16_t row = sheet->selection.activeRow;
    const uint32_t columns = column > view.leftColumn ? column - view.leftColumn : 0;
    const uint32_t rows = row > view.topRow ? row - view.topRow : 0;
    view.freezePanes(view.leftColumn, view.topRow, columns, rows, row, column);
  } else {
    if (view.columnsFrozen) view.leftColumn = view.frozenFirstColumn;
    if (view.rowsFrozen) view.topRow = view.frozenFirstRow;
    view.rowsFrozen = view.columnsFrozen = false;
    view.frozenFirstRow = view.frozenLastRow = view.frozenFirstColumn = view.frozenLastColumn = 0;
  }
  setSheetView(book, book.activeSheetIndex(), view);
  book.modified = true;
  app.grid().markRepaint(Repaint::Everything);
}

bool menuCommandEnabled(Application& app, uint32_t id) { return commandEnabled(app, id); }

bool runSheetCommand(Application& app, uint32_t id) {
  Workbook& book = app.workbook();
  UndoList& undo = app.undoList();
  Desktop& desktop = app.desktop();
  bool changed = false;
  switch (id) {
    case Sheets:
      runSheetsDialog(desktop, ownerOf(app), book, undo);
      app.grid().markRepaint(Repaint::Everything);
      changed = true;
      break;
    case ClearValidation: changed = clearSelection(book, undo, ClearMode::Validation); break;
    case FillRight: changed = fillRightCommand(book, undo, false); break;
    case FillDown: changed = fillDownCommand(book, undo, false); break;
    case FillSeries: changed = runSeriesDialog(desktop, book, undo); break;
    case InsertCells: changed = runLinesDialog(desktop, book, undo, true); break;
    case DeleteCells: changed = runLinesDialog(desktop, book, undo, false); break;
    case ZoomCustom: {
      const Sheet* sheet = book.activeSheet();
      uint32_t zoom = sheet ? sheet->view.zoom : 100;
      if (askZoom(desktop, zoom)) app.setZoom(zoom);
      break;
    }
    case RowHeight: changed = runSizeDialog(desktop, book, undo, true); break;
    case RowAutoFit: changed = fitRowHeights(book, undo); break;
    case RowHide: changed = hideRows(book, undo, true); break;
    case RowUnhide: changed = hideRows(book, undo, false); break;
    case ColumnWidth: changed = runSizeDialog(desktop, book, undo, false); break;
    case ColumnAutoFit: changed = fitColumnWidths(book, undo); break;
    case ColumnHide: changed = hideColumns(book, undo, true); break;
    case ColumnUnhide: changed = hideColumns(book, undo, false); break;
    case FreezeTitles: toggleFreezeTitles(app); break;
    case ShowDetail: changed = showDetail(book, undo); break;
    case HideDetail: changed = hideDetail(book, undo); break;
    case Group:
    case Ungroup: changed = runGroupDialog(desktop, book, undo, id == Group); break;
    case ClearOutline: changed = clearOutline(book, undo); break;
    case GoalSeek: changed = runGoalSeekDialog(desktop, book, undo); break;
    case DataValidation: changed = runValidationDialog(desktop, book, undo); break;
    case FormatCells:
      // New... and Delete change the workbook's formats even when OK changes no cell.
      changed = runFormatCellsDialog(desktop, book, undo);
      app.grid().markRepaint(Repaint::Everything);
      break;
    case Sort:
      // The data region is selected before the dialog, whether or not it sorts.
      changed = runSortDialog(desktop, book, undo);
      app.grid().markRepaint(Repaint::Everything);
      break;
    case AutoOutline: autoOutlineCommand(app); break;
    case ProtectSheet: toggleProtection(app, false); break;
    case ProtectWorkbook: toggleProtection(app, true); break;
    case GoTo: changed = runGoToDialog(desktop, ownerOf(app), book); break;
    case Chart:
      // Saving the chart to a cell changes the sheet; the window covered the grid either way.
      changed = runChartCommand(desktop, ownerOf(app), book, undo);
      app.grid().markRepaint(Repaint::Everything);
      break;
    case Find: runFindDialog(desktop, ownerOf(app), book, [&app] { showChange(app); app.grid().update(); }); break;
    case Replace:
      runReplaceDialog(
          desktop, ownerOf(app), book, undo,
          [&app](int32_t column, int32_t row, std::u16string_view text) { return app.editor().enterText(column, row, text); },
          [&app] { showChange(app); app.grid().update(); });
      changed = true;
      break;
    case Filter: {
      const Sheet* sheet = book.activeSheet();
      changed = sheet && sheet->autoFilter.active ? filterOffCommand(book, undo) : filterOnCommand(book, undo);
      break;
    }
    case Options: app.showOptions(); break;
    case About: runAboutDialog(desktop); break;
    case MenuCommand::WorkbookTask: app.tasks().workbookTaskDialog(); break;
    case CellTask: app.tasks().cellTaskDialog(); break;
    case InsertHyperlink: app.tasks().insertHyperlink(); break;
    default:
      if (id < MenuTaskFirst || id > MenuTaskLast) return false;
      app.tasks().runIndex(id - MenuTaskFirst);
      break;
  }
  if (changed) showChange(app);
  return true;
}

}  // namespace kelp
