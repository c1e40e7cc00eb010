// The workbook's tasks in the window: a tap on a cell and a new value run them, only
// with the user's consent, and a task's Save to another file asks first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelp {

class Application;
struct WorkbookTask;

class TaskTriggers {
 public:
  explicit TaskTriggers(Application& app);
  ~TaskTriggers();
  TaskTriggers(const TaskTriggers&) = delete;
  TaskTriggers& operator=(const TaskTriggers&) = delete;

  /// A tap on the active cell (Enter on the grid): runs the first tap task whose area
  /// holds the cell, else the cell's own task. True when there was one to run, whether
  /// or not the user let it run.
  bool tap();
  /// A value was committed into the cell of the active sheet: runs the first task that
  /// watches it for new values.
  void newValue(int32_t col, int32_t row);
  /// A menu task: runs the workbook's task at `index`, with consent; nothing past the list.
  void runIndex(size_t index);
  /// Task > Workbook Task...: the task list and Define Task. A changed list rebuilds the
  /// Task menu and writes the global tasks to the settings; Run runs the task chosen once
  /// the dialog has closed.
  void workbookTaskDialog();
  /// Task > Cell Task... and Insert Hyperlink for the active cell.
  void cellTaskDialog();
  void insertHyperlink();
  /// Adds the settings' global tasks to the workbook shown, in place of those it had, and
  /// rebuilds the Task menu: at start and for each workbook opened or made.
  void loadGlobalTasks();
  /// The workbook was closed: its successor's tasks ask again (they would anyway, as
  /// an answer holds only for the workbook it was given for).
  void forgetConsent() { m_consent = Consent::Unasked; }
  /// Whether the user answered Yes for the workbook shown (tests ask).
  bool consentGiven() const;

 private:
  enum class Consent { Unasked, Given, Refused };
  bool allowed(const WorkbookTask& task);
  void run(const WorkbookTask& task);
  bool allowSave(std::u16string_view path);
  int32_t check(std::u16string_view text);

  Application& m_app;
  Consent m_consent = Consent::Unasked;
  uint64_t m_consentFor = 0;  // the document's workbook serial the answer was given for
};

}  // namespace kelp
