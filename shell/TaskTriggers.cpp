// Running the workbook's tasks from the window, with the user's consent.
#include "shell/TaskTriggers.h"

#include <string>

#include "dialogs/TaskDialogs.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "platform/ui/MessageBox.h"
#include "shell/Application.h"
#include "shell/TaskWindowFunctions.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {

constexpr std::u16string_view ConsentQuestion =
    u"This workbook contains tasks that can change cells and save files. Run its tasks?";
constexpr std::u16string_view SaveQuestion = u"A task of this workbook wants to save a copy as\n%s\nAllow it?";
constexpr std::u16string_view TasksTitle = u"Tasks";

}  // namespace

TaskTriggers::TaskTriggers(Application& app) : m_app(app) {
  installTaskFunctions(&app.undoList(), &app.document());
  installTaskSaveCheck([this](std::u16string_view path) { return allowSave(path); });
  installWindowTaskFunctions(&app);
}

TaskTriggers::~TaskTriggers() {
  installWindowTaskFunctions(nullptr);
  installTaskSaveCheck(nullptr);
  installTaskFunctions(nullptr, nullptr);
}

bool TaskTriggers::tap() {
  Workbook& book = m_app.workbook();
  const Sheet* sheet = book.activeSheet();
  if (!sheet) return false;
  const std::optional<WorkbookTask> task =
      taskForTap(book, book.activeSheetIndex(), sheet->selection.activeColumn, sheet->selection.activeRow);
  if (!task) return false;
  if (allowed(*task)) run(*task);
  return true;
}

void TaskTriggers::newValue(int32_t col, int32_t row) {
  Workbook& book = m_app.workbook();
  const int32_t index = taskForNewValue(book, book.activeSheetIndex(), col, row);
  if (index < 0) return;
  const WorkbookTask task = book.tasks[static_cast<size_t>(index)];
  if (allowed(task)) run(task);
}

void TaskTriggers::runIndex(size_t index) {
  Workbook& book = m_app.workbook();
  if (index >= book.tasks.size()) return;
  const WorkbookTask task = book.tasks[index];
  if (allowed(task)) run(task);
}

bool TaskTriggers::allowed(const WorkbookTask& task) {
  // Global tasks are the user's own, kept in the settings; only a workbook's tasks ask.
  if (task.global) return true;
  const uint64_t shown = m_app.document().workbookSerial();
  if (m_consentFor != shown) m_consent = Consent::Unasked;
  if (m_consent == Consent::Unasked) {
    Window* main = m_app.mainWindow();
    const int answer = messageBox(m_app.desktop(), main ? main->id() : NoWindow, ConsentQuestion, TasksTitle,
                                  BoxFlag::YesNo | BoxFlag::IconQuestion | BoxFlag::DefaultSecond);
    m_consent = answer == DialogResult::Yes ? Consent::Given : Consent::Refused;
    m_consentFor = shown;
  }
  return m_consent == Consent::Given;
}

bool TaskTriggers::consentGiven() const {
  return m_consent == Consent::Given && m_consentFor == m_app.document().workbookSerial();
}

void TaskTriggers::run(const WorkbookTask& task) {
  Workbook& book = m_app.workbook();
  GridView& grid = m_app.grid();
  grid.hold();
  TaskRun::clearStop();
  // A failed task leaves its code in the error state, which the window shows next.
  (void)runTask(book, task.definition);
  if (Sheet* sheet = book.activeSheet()) {
    grid.scrollIntoView(sheet->selection.activeColumn, sheet->selection.activeRow, false);
  }
  grid.markRepaint(Repaint::Everything);
  grid.release();
}

int32_t TaskTriggers::check(std::u16string_view text) { return checkTaskText(m_app.workbook(), text); }

void TaskTriggers::workbookTaskDialog() {
  Workbook& book = m_app.workbook();
  const WorkbookTaskChoice choice =
      runWorkbookTaskDialog(m_app.desktop(), book, [this](std::u16string_view text) { return check(text); });
  if (choice.changed) {
    // The user's own tasks are kept at once, so that no later failure loses them.
    if (!kelp::saveGlobalTasks(m_app.registry(), book)) {
      Window* main = m_app.mainWindow();
      messageBox(m_app.desktop(), main ? main->id() : NoWindow, errorMessage(pendingError()), u"Kelp",
                 BoxFlag::Ok | BoxFlag::IconExclamation);
      clearError();
    }
    m_app.rebuildTaskMenu();
  }
  if (choice.run >= 0) runIndex(static_cast<size_t>(choice.run));
}

void TaskTriggers::cellTaskDialog() {
  std::vector<std::u16string> icons;
  for (int32_t i = 0; !cellTaskIconName(i).empty(); ++i) icons.emplace_back(cellTaskIconName(i));
  if (runCellTaskDialog(m_app.desktop(), m_app.workbook(), m_app.undoList(), icons,
                        [this](std::u16string_view text) { return check(text); }))
    m_app.grid().markRepaint(Repaint::Everything);
}

void TaskTriggers::insertHyperlink() {
  if (runInsertHyperlinkDialog(m_app.desktop(), m_app.workbook(), m_app.undoList(),
                               [this](std::u16string_view text) { return check(text); }))
    m_app.grid().markRepaint(Repaint::Everything);
}

void TaskTriggers::loadGlobalTasks() {
  // A damaged value leaves the workbook with its own tasks only.
  (void)kelp::loadGlobalTasks(m_app.registry(), m_app.workbook());
  m_app.rebuildTaskMenu();
}

bool TaskTriggers::allowSave(std::u16string_view path) {
  std::u16string question(SaveQuestion);
  question.replace(question.find(u"%s"), 2, path);
  Window* main = m_app.mainWindow();
  return messageBox(m_app.desktop(), main ? main->id() : NoWindow, question, TasksTitle,
                    BoxFlag::YesNo | BoxFlag::IconExclamation | BoxFlag::DefaultSecond) == DialogResult::Yes;
}

}  // namespace kelp
