// Cell tasks, workbook task triggers and running tasks.
#include "tasks/Tasks.h"

#include <cstring>
#include <utility>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/Tokens.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr std::u16string_view IconNames[] = {u"(no icon)", u"OK",    u"Cancel", u"Picture",  u"Sound",
                                             u"Chart",     u"Goto",  u"Web",    u"Email",    u"Combo Box"};

// The sheet bytes that stand for every sheet.
bool anySheet(uint8_t first) { return first == 255 || first == 245; }

uint16_t areaWord(const uint8_t* area, int at) { return static_cast<uint16_t>(area[at] | area[at + 1] << 8); }

int32_t g_nesting = 0;  // tasks running, one inside the other
Workbook* g_taskBook = nullptr;  // the workbook whose task runs outermost

// Compiles and runs a task; the caller has set the task variables up.
TaskRunResult compileAndRun(Workbook& book, std::u16string_view definition) {
  TaskRunResult result;
  if (g_nesting >= MaxTaskNesting) {
    setError(Err::FormulaTooComplex);
    result.outcome = TaskOutcome::Failed;
    return result;
  }
  const CellPosition base{0, 0, static_cast<uint16_t>(book.activeSheetIndex())};
  TokenSink sink;
  int32_t position = compileFormula(book, definition, base, sink, true);
  if (position >= 0) {
    result.outcome = TaskOutcome::NotCompiled;
    result.position = position;
    return result;
  }
  uint8_t* tokens = finishTokens(sink);
  if (!tokens) {
    result.outcome = TaskOutcome::NotCompiled;
    return result;
  }
  ++g_nesting;
  bool good = runTask(tokens, book, base);
  --g_nesting;
  releaseEntryTexts(tokens);
  heapFree(tokens);
  if (!good) {
    if (taskStopRequested()) {
      result.outcome = TaskOutcome::Stopped;
    } else {
      // A run that fails without saying why ran out of room: stack or nesting.
      if (pendingError() == 0) setError(Err::FormulaTooComplex);
      result.outcome = TaskOutcome::Failed;
    }
  }
  return result;
}

// The evaluator's task call: the caller has put its variables aside already. A failed
// call fails the caller too, with the callee's code.
bool callWorkbookTask(Workbook& book, uint16_t index) {
  // Only the workbook that was asked to run a task runs its others.
  if (&book != g_taskBook || index >= book.tasks.size()) return false;
  std::u16string definition = book.tasks[index].definition;  // the list may change meanwhile
  return compileAndRun(book, definition).outcome == TaskOutcome::Done;
}

}  // namespace

std::u16string_view cellTaskIconName(int32_t icon) {
  return icon >= 0 && icon < static_cast<int32_t>(std::size(IconNames)) ? IconNames[icon] : std::u16string_view();
}

CellTaskParts cellTask(const Sheet& sheet, int32_t col, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(col, row);
  if (!cell || cell->value.kind != ValueKind::Text) return CellTaskParts{};
  return splitCellTaskText(textOf(cell->value));
}

int32_t findTask(const Workbook& book, std::u16string_view name) {
  for (size_t i = 0; i < book.tasks.size(); ++i)
    if (equalsIgnoreCase(book.tasks[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

bool taskAreaContains(const WorkbookTask& task, int32_t sheet, int32_t col, int32_t row) {
  const uint8_t* a = task.area;
  if (a[0] != 0) return false;  // another workbook's cells
  if (!anySheet(a[1]) && (sheet < a[1] || sheet > a[2])) return false;
  Area area{areaWord(a, 4), areaWord(a, 6), areaWord(a, 8), areaWord(a, 10)};
  return area.contains(col, row);
}

void setTaskArea(WorkbookTask& task, uint8_t firstSheet, uint8_t lastSheet, const Area& area) {
  std::memset(task.area, 0, sizeof task.area);
  task.area[1] = firstSheet;
  task.area[2] = anySheet(firstSheet) ? firstSheet : lastSheet;
  const uint16_t words[4] = {area.firstRow, area.firstColumn, area.lastRow, area.lastColumn};
  for (int i = 0; i < 4; ++i) {
    task.area[4 + 2 * i] = static_cast<uint8_t>(words[i]);
    task.area[5 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
  }
}

namespace {
int32_t firstTaskOn(const Workbook& book, uint32_t runOn, int32_t sheet, int32_t col, int32_t row) {
  for (size_t i = 0; i < book.tasks.size(); ++i) {
    const WorkbookTask& task = book.tasks[i];
    if (task.runOn == runOn && taskAreaContains(task, sheet, col, row)) return static_cast<int32_t>(i);
  }
  return -1;
}
}  // namespace

std::optional<WorkbookTask> taskForTap(const Workbook& book, int32_t sheet, int32_t col, int32_t row) {
  int32_t index = firstTaskOn(book, TaskRunsOnTap, sheet, col, row);
  if (index >= 0) return book.tasks[index];
  const Sheet* s = book.sheetAt(sheet);
  if (!s) return std::nullopt;
  CellTaskParts parts = cellTask(*s, col, row);
  if (!parts.hasTask) return std::nullopt;
  WorkbookTask temp;
  temp.name = CellTaskRunName;
  temp.definition = parts.definition;
  temp.runOn = TaskRunsOnTap;
  return temp;
}

int32_t taskForNewValue(const Workbook& book, int32_t sheet, int32_t col, int32_t row) {
  return firstTaskOn(book, TaskRunsOnNewValue, sheet, col, row);
}

std::vector<TaskMenuItem> menuTasks(const Workbook& book) {
  std::vector<TaskMenuItem> items;
  for (size_t i = 0; i < book.tasks.size(); ++i) {
    const WorkbookTask& task = book.tasks[i];
    if (task.runOn != TaskRunsFromMenu) continue;
    const std::u16string& text = task.menuText && !task.menuText->empty() ? *task.menuText : task.name;
    if (text.empty()) continue;
    items.push_back(TaskMenuItem{FirstTaskCommand + static_cast<uint32_t>(i), text, static_cast<int32_t>(i)});
  }
  return items;
}

TaskRunResult runTask(Workbook& book, std::u16string_view definition) {
  if (g_nesting == 0) {
    // Task calls work only while this task runs: a formula recalculated afterwards,
    // in this workbook or the next one opened, finds no way to start a task.
    g_taskBook = &book;
    installTaskCall(callWorkbookTask);
    book.clearTaskVariables();
    TaskRunResult result = compileAndRun(book, definition);
    installTaskCall(nullptr);
    g_taskBook = nullptr;
    return result;
  }
  // Started by a task that is running: its variables stay its own.
  std::vector<TaskVariable> callers = std::move(book.taskVariables);
  book.taskVariables.clear();
  TaskRunResult result = compileAndRun(book, definition);
  book.clearTaskVariables();
  book.taskVariables = std::move(callers);
  return result;
}

int32_t checkTaskText(Workbook& book, std::u16string_view text) {
  // Compiling adds the variables it meets; a check leaves the list as it was.
  std::vector<TaskVariable> kept = std::move(book.taskVariables);
  book.taskVariables.clear();
  TokenSink sink;
  int32_t position = compileFormula(book, text, CellPosition{0, 0, static_cast<uint16_t>(book.activeSheetIndex())},
                                    sink, true);
  sink.discard();
  book.clearTaskVariables();
  book.taskVariables = std::move(kept);
  return position;
}

void TaskRun::requestStop() { requestTaskStop(); }
bool TaskRun::stopRequested() { return taskStopRequested(); }
void TaskRun::clearStop() { clearTaskStop(); }

}  // namespace kelp
