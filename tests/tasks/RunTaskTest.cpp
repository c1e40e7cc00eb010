// Tests of running tasks: compile errors, results, tasks calling tasks, and stopping a run.
#include "tasks/Tasks.h"

#include <chrono>
#include <thread>

#include "edit/Commands.h"
#include "tests/functions/EngineTestSupport.h"
#include "tests/tasks/TaskTestSupport.h"

namespace kelp {
namespace {

class RunTaskTest : public test::EngineTest {
 protected:
  void TearDown() override {
    TaskRun::clearStop();
    clearError();
    test::EngineTest::TearDown();
  }
  void addTask(std::u16string name, std::u16string definition) {
    WorkbookTask t;
    t.name = std::move(name);
    t.definition = std::move(definition);
    book->tasks.push_back(std::move(t));
  }
  // The task variable's value as text, "-" when none was assigned.
  std::u16string variable(std::u16string_view name) {
    int32_t i = book->findTaskVariable(name);
    if (i < 0 || book->taskVariables[i].value.kind == ValueKind::Empty) return u"-";
    std::u16string out;
    valueToText(book->taskVariables[i].value, out);
    return out;
  }
};

TEST_F(RunTaskTest, RunsStatementsOverTheCells) {
  setNumber(0, 0, 4);
  setNumber(0, 1, 6);
  setText(1, 0, u"Label#Task:q = 1");
  TaskRunResult r = runTask(*book, u"total = Sum(A1:A2) if total > 5 then big = B1 & \"!\" end");
  EXPECT_EQ(r.outcome, TaskOutcome::Done);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(variable(u"total"), u"10");
  EXPECT_EQ(variable(u"big"), u"Label!");  // the task sees the cell's shown text

  // The next run starts afresh, and references name the active sheet's cells.
  setNumber(0, 0, 100, 1);
  book->setActiveSheet(1);
  EXPECT_EQ(runTask(*book, u"twice = A1 * 2").outcome, TaskOutcome::Done);
  EXPECT_EQ(variable(u"twice"), u"200");
  EXPECT_EQ(variable(u"total"), u"-");
}

TEST_F(RunTaskTest, ACompileErrorRunsNothing) {
  // The first statement would run if compiling stopped only at the bad one.
  TaskRunResult r = runTask(*book, u"done = 1 x = (2");
  EXPECT_EQ(r.outcome, TaskOutcome::NotCompiled);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::CloseParenMissing));
  EXPECT_GE(r.position, 7);
  EXPECT_EQ(variable(u"done"), u"-");
  clearError();

  EXPECT_EQ(checkTaskText(*book, u"a = 1 b = a + 1"), -1);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(book->findTaskVariable(u"a"), -1);  // a check leaves no variables behind
  EXPECT_EQ(checkTaskText(*book, u"a = 1 +* 2"), 7);
  EXPECT_NE(pendingError(), 0u);
}

TEST_F(RunTaskTest, TasksCallTasksByName) {
  addTask(u"Double", u"inner = 21 * 2");
  addTask(u"broken", u"x = (");
  // The called task gets its own variables; the caller's are back after the call.
  EXPECT_EQ(runTask(*book, u"before = 1 double after = before + 1").outcome, TaskOutcome::Done);
  EXPECT_EQ(variable(u"before"), u"1");
  EXPECT_EQ(variable(u"after"), u"2");
  EXPECT_EQ(variable(u"inner"), u"-");

  // A called task that does not compile stops its caller with its own code.
  ASSERT_GE(checkTaskText(*book, u"x = ("), 0);
  const uint32_t code = pendingError();
  clearError();
  TaskRunResult r = runTask(*book, u"a = 1 broken b = 2");
  EXPECT_EQ(r.outcome, TaskOutcome::Failed);
  EXPECT_EQ(pendingError(), code);
  EXPECT_NE(code, static_cast<uint32_t>(Err::UnknownName));
  EXPECT_EQ(variable(u"a"), u"1");
  EXPECT_EQ(variable(u"b"), u"-");
  clearError();

  // A variable the text declares wins over a task of the same name, from there on.
  addTask(u"i", u"called = 1");
  EXPECT_EQ(runTask(*book, u"acc = 0 for i = 1 to 3 acc = acc + i end total = i").outcome, TaskOutcome::Done);
  EXPECT_EQ(variable(u"acc"), u"6");
  EXPECT_EQ(runTask(*book, u"i = 5 j = i * 2").outcome, TaskOutcome::Done);
  EXPECT_EQ(variable(u"j"), u"10");
  EXPECT_EQ(variable(u"called"), u"-");

  // A name that is no task is no call in a formula.
  CellValue v = emptyValue();
  compileToValue(*book, u"=Double", CellPosition{0, 0, 0}, v);
  EXPECT_EQ(v.kind, ValueKind::Empty);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::UnknownName));
}

TEST_F(RunTaskTest, SelfCallingTasksEndWithAnError) {
  addTask(u"again", u"level = 1 again");
  addTask(u"ping", u"pong");
  addTask(u"pong", u"ping");
  EXPECT_EQ(runTask(*book, u"again").outcome, TaskOutcome::Failed);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FormulaTooComplex));
  clearError();
  EXPECT_EQ(runTask(*book, u"ping").outcome, TaskOutcome::Failed);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FormulaTooComplex));
  clearError();
  // The count starts over: a chain of calls as deep as the cap allows runs.
  auto name = [](int i) {
    std::u16string n = u"go_";
    for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
    return n;
  };
  addTask(name(0), u"depth = 1");
  const int deepest = MaxTaskNesting - 2;  // the run itself and the call of the top one count too
  for (int i = 1; i <= deepest; ++i) addTask(name(i), name(i - 1));
  std::u16string top = name(deepest);
  EXPECT_EQ(runTask(*book, top).outcome, TaskOutcome::Done) << pendingError();
  EXPECT_EQ(pendingError(), 0u);
  // One more level is one too many.
  addTask(name(deepest + 1), name(deepest));
  EXPECT_EQ(runTask(*book, name(deepest + 1)).outcome, TaskOutcome::Failed);
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FormulaTooComplex));
  EXPECT_EQ(evalState().sp, 0);
}

TEST_F(RunTaskTest, AStopRequestEndsTheRunBetweenStatements) {
  // Asked before the run: the first statement completes, the second never starts.
  TaskRun::requestStop();
  EXPECT_EQ(runTask(*book, u"a = 1 b = 2").outcome, TaskOutcome::Stopped);
  EXPECT_EQ(variable(u"a"), u"1");
  EXPECT_EQ(variable(u"b"), u"-");
  EXPECT_EQ(pendingError(), 0u);  // asked for, so no failure to report
  TaskRun::clearStop();

  // A loop that never ends stops on a request from elsewhere, tasks it called included.
  addTask(u"spin", u"k = 0 while 1 do k = k + 1 end");
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    TaskRun::requestStop();
  });
  TaskRunResult r = runTask(*book, u"for i = 1 to 2 step 0 spin end");
  stopper.join();
  EXPECT_EQ(r.outcome, TaskOutcome::Stopped);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(evalState().sp, 0);

  // Editing commands always finish, a stop request pending or not.
  startEditing();
  UndoList undo;
  EXPECT_TRUE(enterCellValue(*book, undo, 4, 4, u"12"));
  EXPECT_EQ(sheet().cellValue(4, 4).number(), 12);
  EXPECT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet().cellValue(4, 4).kind, ValueKind::Empty);
  undo.clear();

  TaskRun::clearStop();
  EXPECT_EQ(runTask(*book, u"after = 3").outcome, TaskOutcome::Done);
  EXPECT_EQ(variable(u"after"), u"3");
}

int32_t g_steps = 0;
void countSteps() {
  if (++g_steps == 50) TaskRun::requestStop();
}

TEST_F(RunTaskTest, TheStatementHookCountsStepsAndCanStopAnEndlessLoop) {
  installStatementHook(countSteps);
  TaskRunResult r = runTask(*book, u"k = 0 while 1 do k = k + 1 end");
  EXPECT_EQ(r.outcome, TaskOutcome::Stopped);
  EXPECT_EQ(g_steps, 50);
  // Two steps before the loop (the statements), then one per pass.
  int32_t k = static_cast<int32_t>(book->taskVariables[book->findTaskVariable(u"k")].value.number());
  EXPECT_GT(k, 20);
  EXPECT_LT(k, 50);

  // Formulas evaluated outside tasks are no steps.
  TaskRun::clearStop();
  g_steps = 0;
  setNumber(0, 0, 2);
  startEditing();
  UndoList undo;
  EXPECT_TRUE(enterCellValue(*book, undo, 1, 0, u"=A1*3"));
  EXPECT_EQ(g_steps, 0);
  undo.clear();
  EXPECT_EQ(runTask(*book, u"a = 1 b = 2 c = 3").outcome, TaskOutcome::Done);
  EXPECT_GE(g_steps, 3);
  installStatementHook(nullptr);
  g_steps = 0;
  EXPECT_EQ(runTask(*book, u"a = 1").outcome, TaskOutcome::Done);
  EXPECT_EQ(g_steps, 0);
}

using StoredTaskOpsTest = test::TaskTest;

TEST_F(StoredTaskOpsTest, FormulasHoldingTaskOpsGiveNameErrorsAndStartNoTask) {
  // Only a crafted file puts task ops in a formula. Were they run there, the first
  // recalculation after any task (a harmless `Sel(B5)`) would start the workbook's own
  // tasks, which can save over any file, or change the task's variables.
  WorkbookTask evil;
  evil.name = u"Evil";
  evil.definition = u"Set(Z1, 99)";
  book->tasks.push_back(evil);
  const auto withC1 = [](test::Tokens t) { return t.cell(0, 2).op(Op::Add).handle(); };
  auto loop = [](Op o) { return test::Tokens().number(1).number(2).variable(o, 0).raw(0).raw(0); };
  ASSERT_TRUE(putFormula(0, 0, withC1(test::Tokens().variable(Op::CallTask, 0).number(1))));
  ASSERT_TRUE(putFormula(0, 1, withC1(test::Tokens().number(1).op(Op::Discard).number(2))));
  ASSERT_TRUE(putFormula(0, 2, withC1(test::Tokens().number(5).variable(Op::AssignVariable, 0).number(2))));
  ASSERT_TRUE(putFormula(0, 3, withC1(test::Tokens().variable(Op::ReadVariable, 0))));
  ASSERT_TRUE(putFormula(0, 4, withC1(loop(Op::ForTest))));
  ASSERT_TRUE(putFormula(0, 5, withC1(loop(Op::ForStep))));
  book->names.push_back(DefinedName{u"Hidden", test::Tokens().variable(Op::CallTask, 0).number(1).handle()});
  ASSERT_TRUE(putFormula(0, 6, withC1(test::Tokens().name(0))));
  const auto expectRefused = [&](const char* when) {
    for (int row = 0; row <= 6; ++row) EXPECT_EQ(cell(0, row).text, u"!!Name") << when << ", A" << row + 1;
    EXPECT_EQ(sheet().cellKind(25, 0), ValueKind::Empty) << when << ": the workbook's task ran";
    EXPECT_EQ(variable(u"v").number, 7) << when;
  };
  // During a task: Set recalculates the cells that read C1 while the task runs.
  run(u"v = 7 Set(C1, 1)");
  expectRefused("inside a task");
  // After it: an ordinary recalculation.
  run(u"v = 7 Sel(B5)");
  recalculateAll(*book);
  expectRefused("after a task");
  // The same tokens in a task of the user's own call the workbook's task.
  run(u"Evil");
  EXPECT_EQ(cell(25, 0).number, 99);
}

}  // namespace
}  // namespace kelp
