// A fixture for running task text on an engine test's workbook with the task functions
// bound and an undo list for the commands they record.
#pragma once

#include <string>
#include <string_view>

#include "edit/Commands.h"
#include "platform/ErrorState.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp::test {

class TaskTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    startEditing();
    installTaskFunctions(&undo);
  }
  void TearDown() override {
    undo.clear();
    installTaskFunctions(nullptr);
    clearError();
    EngineTest::TearDown();
  }
  // Runs the text and expects it to finish.
  void run(std::u16string_view text) {
    TaskRunResult r = runTask(*book, text);
    EXPECT_EQ(r.outcome, TaskOutcome::Done) << "error " << pendingError() << " at " << r.position;
  }
  // The value a task variable was left with.
  Result variable(std::u16string_view name) {
    int32_t i = book->findTaskVariable(name);
    if (i < 0) return Result{ValueKind::Empty, 0, 0, u"-", false};
    return resultOf(book->taskVariables[static_cast<size_t>(i)].value);
  }
  // Runs "v = <expression>" and gives v.
  Result eval(std::u16string_view expression) {
    std::u16string text = u"v = ";
    text += expression;
    run(text);
    return variable(u"v");
  }

  UndoList undo;
};

}  // namespace kelp::test
