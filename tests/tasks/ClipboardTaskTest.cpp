// The task functions Copy and Paste: the selection copied and pasted with the switches,
// each paste an undo entry, a refused paste an error value that changes nothing.
#include <string>

#include "edit/Commands.h"
#include "formula/Recalc.h"
#include "platform/Clipboard.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"
#include "tests/tasks/TaskTestSupport.h"

namespace kelp {
namespace {

class ClipboardTaskTest : public test::TaskTest {
 protected:
  void SetUp() override {
    test::TaskTest::SetUp();
    emptyClipboard();
    setNumber(0, 0, 4);
    setNumber(1, 0, 5);
    ASSERT_TRUE(enter(0, 1, u"=A1+B1"));
    recalculateAll(*book);
  }
  void TearDown() override {
    emptyClipboard();
    test::TaskTest::TearDown();
  }
};

TEST_F(ClipboardTaskTest, CopyAndPasteWithTheSwitches) {
  run(u"Sel(A1:B2) Copy() Sel(D5) Paste()");
  EXPECT_EQ(cell(3, 4).number, 4);
  EXPECT_EQ(cell(4, 4).number, 5);
  EXPECT_EQ(cell(3, 5).number, 9);
  ASSERT_NE(sheet().cellPtr(3, 5), nullptr);
  EXPECT_EQ(sheet().cellPtr(3, 5)->value.kind, ValueKind::Formula);
  EXPECT_EQ(sheet().selection.area(), (Area{4, 3, 5, 4}));
  EXPECT_EQ(undo.size(), 1u);
  std::u16string text;
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"4\t5\r\n9\r\n");

  // Only results: the formula comes as its value.
  run(u"Sel(A1:B2) Copy() Sel(G1) Paste(true, true, true, false, true)");
  ASSERT_NE(sheet().cellPtr(6, 1), nullptr);
  EXPECT_EQ(sheet().cellPtr(6, 1)->value.kind, ValueKind::Number);
  EXPECT_EQ(cell(6, 1).number, 9);
  // Formats alone leave the values.
  setNumber(9, 0, 77);
  run(u"Sel(J1) Paste(false)");
  EXPECT_EQ(cell(9, 0).number, 77);
  EXPECT_EQ(undo.size(), 3u);
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(cell(6, 1).kind, ValueKind::Empty);
}

TEST_F(ClipboardTaskTest, ARefusedPasteGivesAnErrorValue) {
  run(u"Sel(A1:B2) Copy() Sel(IV1) v = IsError(Paste())");
  const int32_t v = book->findTaskVariable(u"v");
  ASSERT_GE(v, 0);
  EXPECT_EQ(test::resultOf(book->taskVariables[static_cast<size_t>(v)].value).code, 1u);
  EXPECT_EQ(pendingError(), 31u);
  clearError();
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(cell(255, 0).kind, ValueKind::Empty);
  emptyClipboard();
  run(u"w = IsError(Paste())");
  EXPECT_EQ(pendingError(), 23u);
  clearError();
}

}  // namespace
}  // namespace kelp
