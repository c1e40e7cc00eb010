// The main window's soft-key menus: every command in its place, the state of each item
// (grey, checked, relabelled) as the workbook stands, and the commands the menus run
// beyond File and Edit's own.
#pragma once

#include <cstdint>

#include "shell/EditMenu.h"
#include "shell/FileMenu.h"

namespace kelp {

class Application;
class MenuBar;
class Workbook;

namespace MenuCommand {
constexpr uint32_t Sheets = 40015;
constexpr uint32_t ClearValidation = 40141;
constexpr uint32_t FillRight = 40028;
constexpr uint32_t FillDown = 40029;
constexpr uint32_t FillSeries = 40048;
constexpr uint32_t InsertCells = 40044;
constexpr uint32_t DeleteCells = 40011;
constexpr uint32_t ZoomCustom = 40041;
constexpr uint32_t FormatCells = 40014;
constexpr uint32_t RowHeight = 40056;
constexpr uint32_t RowAutoFit = 40057;
constexpr uint32_t RowHide = 40058;
constexpr uint32_t RowUnhide = 40059;
constexpr uint32_t ColumnWidth = 40052;
constexpr uint32_t ColumnAutoFit = 40053;
constexpr uint32_t ColumnHide = 40054;
constexpr uint32_t ColumnUnhide = 40055;
constexpr uint32_t FreezeTitles = 40043;
constexpr uint32_t Chart = 40063;
constexpr uint32_t ShowDetail = 40202;
constexpr uint32_t HideDetail = 40203;
constexpr uint32_t Group = 40135;
constexpr uint32_t Ungroup = 40136;
constexpr uint32_t ClearOutline = 40137;
constexpr uint32_t AutoOutline = 40138;
constexpr uint32_t GoalSeek = 40139;
constexpr uint32_t ProtectSheet = 40064;
constexpr uint32_t ProtectWorkbook = 40065;
constexpr uint32_t Options = 40025;
constexpr uint32_t GoTo = 40034;
constexpr uint32_t Find = 40016;
constexpr uint32_t Replace = 40049;
constexpr uint32_t Sort = 40022;
constexpr uint32_t Filter = 40062;
constexpr uint32_t DataValidation = 40140;
constexpr uint32_t WorkbookTask = 40042;
constexpr uint32_t CellTask = 40121;
constexpr uint32_t InsertHyperlink = 40122;
constexpr uint32_t About = 40047;
constexpr uint32_t MenuTaskFirst = 41000;
constexpr uint32_t MenuTaskLast = 42000;
}  // namespace MenuCommand

/// Fills the soft-key bar: Select on the left, Menu (File, Edit, Zoom, Format, Tools,
/// Data, Task) on the right, every item in its order.
void buildMainMenu(MenuBar& bar);

/// Greys, enables, checks and relabels every item as the workbook, its protection, the
/// undo list, the clipboard and the view stand.
void refreshMainMenu(MenuBar& bar, Application& app);

/// Whether a command may run now: what the menu shows grey is refused when it arrives.
bool menuCommandEnabled(Application& app, uint32_t id);

/// Puts the workbook's menu tasks in the Task menu, before "Workbook Task...", in place
/// of those it showed.
void rebuildTaskMenu(MenuBar& bar, const Workbook& book);


/// Runs a command of the Select, Edit (beyond the clipboard, Undo and Clear), Zoom,
/// Format, Tools, Data and Task menus; false when `id` is none of them.
bool runSheetCommand(Application& app, uint32_t id);

/// Freezes the rows above and the columns left of the active cell, or unfreezes.
void toggleFreezeTitles(Application& app);

}  // namespace kelp
