// The dialogs that write tasks: the list of the workbook's tasks, Define Task for one of
// them, Cell Task for the active cell and Insert Hyperlink, which writes a ready task.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Desktop;
class RecentFunctions;
class UndoList;
class Workbook;
struct WorkbookTask;

/// Compiles a task text without running it: -1 when it is a task, else the position in
/// UTF-16 units where compiling stopped, with the code in the error state.
using TaskCheck = std::function<int32_t(std::u16string_view text)>;

/// "Run on:" choices, in the order of a task's run-on kinds.
std::vector<std::u16string> runOnChoices();

/// The area text Define Task shows for a task's area ("B2:B5", or "Sheet2!B2:B5").
std::u16string taskAreaText(const Workbook& book, const WorkbookTask& task);
/// Reads an area typed into Define Task: a reference without a sheet holds on every
/// sheet. False (error 41 pending) when the text is no reference.
bool readTaskArea(Workbook& book, std::u16string_view text, WorkbookTask& task);

/// What the task editors need besides the workbook: the check of a definition, and the
/// recently used functions their Insert Function... offers the task functions beside.
struct TaskEditing {
  TaskCheck check;
  RecentFunctions& recent;
};

/// Define Task for `task` (a new one starts empty). The definition must compile, a menu
/// task needs its text (error 42) and a cell trigger its area (error 41); a failure is
/// shown and the dialog stays open. Its Menu offers Insert Function... and Insert Char...
/// into the field being edited. True on Done with `task` filled in.
bool runDefineTaskDialog(Desktop& desktop, Workbook& book, WorkbookTask& task, const TaskEditing& editing);

/// What the Workbook Task dialog did: whether the list changed, and the task chosen with
/// Run (it runs once the dialog is closed), or -1.
struct WorkbookTaskChoice {
  bool changed = false;
  int32_t run = -1;
};
/// The Workbook Task dialog: the tasks by name with Run, New..., Edit..., Delete, Move
/// Up and Move Down; Done closes it.
WorkbookTaskChoice runWorkbookTaskDialog(Desktop& desktop, Workbook& book, const TaskEditing& editing);

/// Cell Task for the active cell: its text, its task and one of `iconNames` (0 none). A
/// text and task that come to 255 characters with the markers give error 44 and keep the
/// dialog open. Done writes the cell as one undoable change; true when it did. Its Menu
/// offers what Define Task's does.
bool runCellTaskDialog(Desktop& desktop, Workbook& book, UndoList& undo, const std::vector<std::u16string>& iconNames,
                       const TaskEditing& editing);

/// Insert Hyperlink's kinds, in the dialog's order.
enum class HyperlinkKind { Goto, Web, Email, Picture, Sound };
/// The task a hyperlink runs: Sel(reference), IBrowser("address"), IBrowser("mailto:..."),
/// ShowPicture("file") or PlaySound("file"); a double quote in the target is doubled.
std::u16string hyperlinkTask(HyperlinkKind kind, std::u16string_view target);
/// Insert Hyperlink for the active cell: the text shown, the kind and its target; OK
/// writes the cell task (with the Goto, Web, Email, Picture or Sound icon) as one undoable
/// change.
bool runInsertHyperlinkDialog(Desktop& desktop, Workbook& book, UndoList& undo, const TaskCheck& check);

}  // namespace kelp
