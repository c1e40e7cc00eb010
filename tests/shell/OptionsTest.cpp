// The Options sheet in sessions: its pages change the grid, Enter, the zoom, automatic
// saves and the custom lists; and the Help key, which opens the manual at a topic.
#include "ShellTestSupport.h"
#include "dialogs/Form.h"
#include "dialogs/OptionsDialog.h"

namespace kelp::test {
namespace {

// Gridline pixels over an empty block of cells, A4:B9, away from the selection.
int gridlinePixels(Session& s) {
  const Rect from = s.cell(0, 3), to = s.cell(1, 8);
  int count = 0;
  for (int y = from.top; y < to.bottom; ++y)
    for (int x = from.left; x < to.right; ++x) count += s.pixel(x, y) == GridlineColor;
  return count;
}

uint32_t stored(Session& s, std::u16string_view name) {
  uint32_t value = 0xFFFFFFFF;
  (void)s.registry.readDword(KelpRegistryKey, name, value);
  return value;
}

TEST(Options, TheViewPageHidesGridlinesAndShowsTheFormulaBar) {
  Session s;
  s.run(u"", "");
  ASSERT_GT(gridlinePixels(s), 100);
  // Formula bar on, Gridlines off.
  s.keys("menu Tools > Options...\nkey Down\nkey Enter\nkey Down Down\nkey Enter\nsoft1\n");
  EXPECT_FALSE(s.sheet().view.showGridlines);
  EXPECT_TRUE(s.sheet().view.showHeaders);
  EXPECT_TRUE(s.book().modified);  // the flag is kept with the sheet
  EXPECT_EQ(gridlinePixels(s), 0);
  EXPECT_TRUE(s.app->grid().formulaBarShown);
  EXPECT_EQ(stored(s, u"FmlBar"), 1u);
  EXPECT_GT(s.app->grid().layout().formulaBar.height(), 0);

  // Back cancels and changes nothing.
  s.keys("menu Tools > Options...\nkey Down Down Down\nkey Enter\nkey Back\n");
  EXPECT_FALSE(s.sheet().view.showGridlines);
  EXPECT_EQ(gridlinePixels(s), 0);
}

TEST(Options, MoveAfterEnterRightAndTheNumbersKeptInRange) {
  Session s;
  s.run(u"", "menu Tools > Options...\nkey Right\nkey Down\nkey Left\nsoft1\ntext 5\nkey Enter\n");
  EXPECT_EQ(s.app->settings().moveEnter, MoveAfterEnter::Right);
  EXPECT_EQ(stored(s, u"MoveEnter"), 1u);
  EXPECT_EQ(s.sel().activeColumn, 1);
  EXPECT_EQ(s.sel().activeRow, 0);
  EXPECT_EQ(s.sheet().cellKind(0, 0), ValueKind::Number);

  // The sheet opens on the page used last: General. Zoom 10 and auto save every 0 minutes.
  s.keys("menu Tools > Options...\nkey Down Down Down\ntext 10\nkey Down\nkey Enter\nkey Down\ntext 0\nsoft1\n");
  EXPECT_EQ(s.app->settings().fullScreenZoom, 25u);
  EXPECT_TRUE(s.app->settings().autoSave);
  EXPECT_EQ(s.app->settings().autoSaveMinutes, 1u);
  EXPECT_EQ(stored(s, u"FSZoom"), 25u);
  EXPECT_EQ(stored(s, u"AutoSaveMin"), 1u);

  // The Menu key's Delete empties the field with the focus, Insert Char... adds at its caret.
  s.keys("menu Tools > Options...\nkey Down Down Down\nkey End\nsoft2\ntext 2\ntext 1\nsoft2\ntext 1\nsoft1\n"
         "key Back\ntext 50\nsoft1\n");
  EXPECT_TRUE(s.seen.saw(u"1:"));
  EXPECT_EQ(s.app->settings().fullScreenZoom, 150u);

  EXPECT_EQ(clampedNumber(u"999", 1, 300, 10), 300u);
  EXPECT_EQ(clampedNumber(u" 201 ", 25, 200, 75), 200u);
  EXPECT_EQ(clampedNumber(u"-4", 1, 300, 10), 1u);
  EXPECT_EQ(clampedNumber(u"99999999999999999999999", 25, 200, 75), 200u);
  EXPECT_EQ(clampedNumber(u"", 25, 200, 75), 75u);
  EXPECT_EQ(clampedNumber(u"7x", 1, 300, 10), 10u);
}

TEST(Options, ImportedListContinuesAFillAndDeleteRemovesAList) {
  TempFolder folder;
  startEditingOnce();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->activeSheet();
  putText(sheet, 0, 0, u"Low");
  putNumber(sheet, 0, 1, 4);  // numbers are no items
  putText(sheet, 0, 2, u"Mid");
  putText(sheet, 1, 1, u"High");
  putText(sheet, 2, 0, u"Low");
  sheet.selection = Selection::ofStored(Area{0, 0, 2, 1}, 0, 0);
  const std::u16string path = saveWorkbook(std::move(book), folder.file("lists.kp"));

  Session s;
  const size_t before = s.app->settings().customLists.size();
  s.run(path, "menu Tools > Options...\nkey Right Right\nkey Up Up\nkey Enter\nsoft1\n");
  ASSERT_EQ(s.app->settings().customLists.size(), before + 1);
  EXPECT_EQ(s.app->settings().customLists.back(), u"Low,Mid,High,");
  EXPECT_TRUE(s.seen.saw(u"Low,Mid,High"));  // shown without its last comma
  std::u16string written;
  ASSERT_TRUE(s.registry.readString(KelpRegistryKey, u"CLst", written));
  EXPECT_NE(written.find(u";Low,Mid,High,;"), std::u16string::npos);

  // Autofill to the right (the menu's plain Fill Right copies).
  s.keys("menu Data > Go to ...\ntext C1:E1\nsoft1\nmenu Edit > Fill > Series...\nkey Down\nkey Left\nsoft1\n");
  EXPECT_EQ(textOf(s.sheet().cellValue(3, 0)), u"Mid");
  EXPECT_EQ(textOf(s.sheet().cellValue(4, 0)), u"High");

  // Opened on Custom Lists again: Delete list removes the one selected, the months.
  s.keys("menu Tools > Options...\nkey Up\nkey Enter\nsoft1\n");
  ASSERT_EQ(s.app->settings().customLists.size(), before);
  EXPECT_EQ(s.app->settings().customLists.front().substr(0, 8), u"Jan,Feb,");
  EXPECT_EQ(s.app->settings().customLists.back(), u"Low,Mid,High,");

  // A selection without text makes no list.
  s.keys("menu Data > Go to ...\ntext A2\nsoft1\nmenu Tools > Options...\nkey Up Up\nkey Enter\nsoft1\n");
  EXPECT_EQ(s.app->settings().customLists.size(), before);
}

TEST(Options, TheAutoSaveTimerWaitsWhileTheSheetIsUp) {
  Session s;
  s.registry.writeDword(KelpRegistryKey, u"AutoSave", 1);
  std::vector<bool> whileShown;
  s.desktop.addIdleHook([&] {
    Window* focus = s.desktop.focus();
    if (focus && dynamic_cast<FormDialog*>(s.desktop.topLevelOf(focus)))
      whileShown.push_back(s.app->autoSaveTimerRunning());
  });
  s.run(u"", "text 1\nkey Enter\n");
  ASSERT_TRUE(s.app->autoSaveTimerRunning());
  s.keys("menu Tools > Options...\nkey Down\nkey Back\n");
  ASSERT_FALSE(whileShown.empty());
  EXPECT_EQ(std::count(whileShown.begin(), whileShown.end(), true), 0);
  EXPECT_TRUE(s.app->autoSaveTimerRunning());
}

TEST(Help, TheHelpKeyAsksForTheManualAtTheDialogsTopic) {
  Session s;
  testing::internal::CaptureStderr();
  s.run(u"", "key Help\n");
  EXPECT_EQ(s.app->lastHelpRequest().substr(s.app->lastHelpRequest().rfind(u'/') + 1), u"kelp.html");
  s.keys("menu Data > Go to ...\nkey Help\nsoft2\n");
  EXPECT_EQ(s.app->lastHelpRequest().substr(s.app->lastHelpRequest().rfind(u'/') + 1), u"kelp.html#goto");
  s.keys("menu Tools > Options...\nkey Right\nkey Down\nkey Help\nkey Back\n");
  EXPECT_EQ(s.app->lastHelpRequest().substr(s.app->lastHelpRequest().rfind(u'/') + 1), u"kelp.html#options");
  s.keys("menu Format > Column > Width...\nkey Help\nsoft2\n");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("help: "), std::string::npos) << said;
  EXPECT_NE(said.find("kelp.html#goto\n"), std::string::npos) << said;
  EXPECT_NE(said.find("kelp.html#col_widths\n"), std::string::npos) << said;
  EXPECT_TRUE(s.backend.problems().empty());
}

}  // namespace
}  // namespace kelp::test
