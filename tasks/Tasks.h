// Tasks: cell tasks (a task kept in a cell's text), workbook tasks and what triggers
// them (a menu item, a tap on a cell, a new value), running a task with its nested
// calls capped and a way to stop it, and the global tasks kept in the settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/CellTaskText.h"  // splitCellTaskText, makeCellTaskText, hasCellTask
#include "model/Workbook.h"

namespace kelp {

class Registry;

// Cell tasks.

/// The icon names a cell task may show, 0 "(no icon)" to 9 "Combo Box"; empty outside.
std::u16string_view cellTaskIconName(int32_t icon);

inline bool hasTask(std::u16string_view stored) { return hasCellTask(stored); }

/// The task of a cell. Only a text stored in the cell counts: a formula whose result
/// reads like a task is none.
CellTaskParts cellTask(const Sheet& sheet, int32_t col, int32_t row);

// Workbook tasks and their triggers.

inline constexpr uint32_t TaskRunsFromMenu = 1;
inline constexpr uint32_t TaskRunsOnTap = 2;
inline constexpr uint32_t TaskRunsOnNewValue = 3;
/// Menu commands of workbook tasks are this plus the task's index.
inline constexpr uint32_t FirstTaskCommand = 41000;
/// The name a cell's own task runs under.
inline constexpr std::u16string_view CellTaskRunName = u"temp";

/// The first task of that name, compared without regard to case; -1 when none.
int32_t findTask(const Workbook& book, std::u16string_view name);

/// Whether a task's area (a reference in this workbook, a sheet range or any sheet)
/// holds the cell.
bool taskAreaContains(const WorkbookTask& task, int32_t sheet, int32_t col, int32_t row);
/// Sets a task's area; pass AnySheet as `firstSheet` for an area on every sheet.
inline constexpr uint8_t AnySheet = 255;
void setTaskArea(WorkbookTask& task, uint8_t firstSheet, uint8_t lastSheet, const Area& area);

/// What a tap on the cell runs: the first workbook task run on taps whose area holds
/// the cell, or else the cell's own task under the name "temp".
std::optional<WorkbookTask> taskForTap(const Workbook& book, int32_t sheet, int32_t col, int32_t row);
/// The first workbook task run on a new value whose area holds the cell; -1 when none.
int32_t taskForNewValue(const Workbook& book, int32_t sheet, int32_t col, int32_t row);

struct TaskMenuItem {
  uint32_t command;   // FirstTaskCommand + the task's index
  std::u16string text;  // the menu text, or else the name
  int32_t task;
};
/// The tasks run from the menu, in list order; one with neither menu text nor name is left out.
std::vector<TaskMenuItem> menuTasks(const Workbook& book);

// Running.

enum class TaskOutcome : uint8_t {
  Done,
  NotCompiled,  // nothing ran; the error state holds the code, `position` where compiling stopped
  Failed,       // the run stopped on an error; the error state holds the code
  Stopped,      // the run ended at a stop request
};

struct TaskRunResult {
  TaskOutcome outcome = TaskOutcome::Done;
  int32_t position = -1;  // for NotCompiled: in UTF-16 units into the text
};

/// Tasks calling tasks nest this deep at most; a deeper call fails with error 22.
inline constexpr int32_t MaxTaskNesting = 32;

/// Compiles the task text at the active sheet and runs it. A task started outside any
/// other starts with no task variables and leaves its own behind until the next run;
/// one started from inside a running task keeps the caller's.
TaskRunResult runTask(Workbook& book, std::u16string_view definition);
/// Compiles only: -1 when the text is a task, else the position with the code in the
/// error state.
int32_t checkTaskText(Workbook& book, std::u16string_view text);

/// Ending a running task from outside (Ctrl+C in a command-line runner): the request
/// is looked at between statements and loop steps.
struct TaskRun {
  static void requestStop();  // safe in a signal handler
  static bool stopRequested();
  static void clearStop();
};

// Global tasks, kept in the settings and offered in every workbook.

/// Adds the global tasks the settings hold to the workbook (marked global), in place of
/// any global ones it had. False, leaving the workbook alone, when the stored value is
/// damaged; every other setting stays as it is.
bool loadGlobalTasks(const Registry& registry, Workbook& book);
/// Writes every global task of the workbook to the settings. False with error 44 when
/// one is too long for its record, error 14 when the settings cannot be written.
bool saveGlobalTasks(Registry& registry, const Workbook& book);

}  // namespace kelp
