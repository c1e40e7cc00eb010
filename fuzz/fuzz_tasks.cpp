// Fuzz target: arbitrary bytes as task text, compiled and run on a small workbook, with
// every run stopped after a fixed number of steps so that no loop runs forever.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "edit/Commands.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "tasks/Tasks.h"
#include "fuzz/FuzzText.h"

namespace {

constexpr int32_t StepLimit = 2000;
int32_t g_steps = 0;

void countStep() {
  if (++g_steps == StepLimit) kelp::TaskRun::requestStop();
}

void addTask(kelp::Workbook& book, std::u16string name, std::u16string definition) {
  kelp::WorkbookTask task;
  task.name = std::move(name);
  task.definition = std::move(definition);
  book.tasks.push_back(std::move(task));
}

// Only the worksheet functions are bound: task functions that save files or start
// programs have no place in a fuzz run.
kelp::Workbook& fuzzBook() {
  static std::unique_ptr<kelp::Workbook> book = [] {
    auto b = kelp::newWorkbook(2);
    b->insertSheet(u"Data");
    kelp::startEditing();
    kelp::installStatementHook(countStep);
    kelp::UndoList undo;
    const char16_t* entries[] = {u"4", u"-2.5", u"Label#Task:q = 1", u"=A1*A2", u"1/15/26", u"true"};
    for (int32_t row = 0; row < 6; ++row) (void)kelp::enterCellValue(*b, undo, 0, row, entries[row]);
    undo.clear();
    // Tasks the input may call: one that loops, one that calls itself, one that fails.
    addTask(*b, u"spin", u"k = 0 while k < 5 do k = k + 1 end");
    addTask(*b, u"again", u"again");
    addTask(*b, u"broken", u"x = 1 / 0 y = Sum(x)");
    return b;
  }();
  return *book;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::u16string text = fuzzText(data, size);
  kelp::Workbook& book = fuzzBook();
  kelp::clearError();
  (void)kelp::checkTaskText(book, text);
  kelp::clearError();
  g_steps = 0;
  kelp::TaskRun::clearStop();
  kelp::TaskRunResult result = kelp::runTask(book, text);
  // A run ends one way only, and the evaluator is back where it started.
  if (result.outcome == kelp::TaskOutcome::NotCompiled && result.position > static_cast<int32_t>(text.size()))
    __builtin_trap();
  if (kelp::evalState().sp != 0) __builtin_trap();
  kelp::TaskRun::clearStop();
  kelp::clearError();
  book.clearTaskVariables();
  return 0;
}
