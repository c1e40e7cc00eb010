// Running the workbook's tasks from the window, with the user's consent.
#include "shell/TaskTriggers.h"

#include <string>
#include <vector>

#include "dialogs/TaskDialogs.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "platform/Text.h"
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
constexpr std::u16string_view BreakQuestion = u"Break task %s?";
// Input is looked at every so many statements, often enough to answer at once and
// seldom enough that a busy task hardly slows.
constexpr uint32_t BreakCheckSteps = 256;

// The task running in the window, for the break check between its statements.
struct RunningTask {
  Application* app = nullptr;
  std::u16string name;
  uint32_t steps = 0;
};
RunningTask g_running;

bool isEscape(const Message& m) {
  const auto key = static_cast<Key>(m.wParam);
  return m.msg == Msg::KeyDown && (key == Key::Escape || key == Key::Back);
}

// Between statements: Esc or Back asks whether to break the task. Other input waits
// until the task ends, in its order; painting and timers go on.
void breakCheck() {
  if (!g_running.app || ++g_running.steps % BreakCheckSteps != 0) return;
  Desktop& desktop = g_running.app->desktop();
  if (Backend* backend = desktop.backend()) (void)backend->waitInput(desktop, backend->now());
  std::vector<Message> held;
  bool wanted = false;
  Message m;
  while (desktop.peekMessage(m)) {
    if (isEscape(m)) {
      wanted = true;
    } else if (m.msg == Msg::Char && (m.wParam == 0x1B || m.wParam == u'\b') && wanted) {
      // the character the break key typed
    } else if (m.msg == Msg::Paint || m.msg == Msg::Timer || m.msg == Msg::Size) {
      desktop.dispatch(m);
    } else {
      held.push_back(std::move(m));
    }
  }
  if (wanted) {
    Window* main = g_running.app->mainWindow();
    if (messageBox(desktop, main ? main->id() : NoWindow, formatText(BreakQuestion, g_running.name), TasksTitle,
                   BoxFlag::YesNo | BoxFlag::IconQuestion) == DialogResult::Yes)
      TaskRun::requestStop();
  }
  for (Message& h : held) desktop.post(h.window, h.msg, h.wParam, h.lParam, std::move(h.data));
}

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
  const RunningTask outer = g_running;
  g_running = RunningTask{&m_app, task.name, 0};
  installStatementHook(breakCheck);
  // A failed task leaves its code in the error state, which the window shows next.
  (void)runTask(book, task.definition);
  g_running = outer;
  if (!g_running.app) installStatementHook(nullptr);
  TaskRun::clearStop();
  if (Sheet* sheet = book.activeSheet()) {
    grid.scrollIntoView(sheet->selection.activeColumn, sheet->selection.activeRow, false);
  }
  grid.markRepaint(Repaint::Everything);
  grid.release();
}

int32_t TaskTriggers::check(std::u16string_view text) { return checkTaskText(m_app.workbook(), text); }

void TaskTriggers::workbookTaskDialog() {
  Workbook& book = m_app.workbook();
  const TaskEditing editing{[this](std::u16string_view text) { return check(text); }, m_app.settings().functionMru};
  const WorkbookTaskChoice choice = runWorkbookTaskDialog(m_app.desktop(), book, editing);
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
  const TaskEditing editing{[this](std::u16string_view text) { return check(text); }, m_app.settings().functionMru};
  if (runCellTaskDialog(m_app.desktop(), m_app.workbook(), m_app.undoList(), icons, editing))
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
