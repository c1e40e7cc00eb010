// The boxes the window shows for an entry a validation rule refuses, and what each
// answer does.
#include <algorithm>
#include <vector>

#include "ShellTestSupport.h"
#include "edit/Validation.h"
#include "formula/Compiler.h"

namespace kelp::test {
namespace {

// Texts seen on screen whenever the loop waits (a modal box drawn and waiting for its key).
struct Seen {
  std::vector<std::u16string> texts;
  void attach(Desktop& desktop) {
    desktop.addIdleHook([this, &desktop] {
      for (const DrawnText& t : desktop.textLog().texts())
        if (std::find(texts.begin(), texts.end(), t.text) == texts.end()) texts.push_back(t.text);
    });
  }
  bool saw(std::u16string_view text) const { return std::find(texts.begin(), texts.end(), text) != texts.end(); }
};

TEST(ValidationAlert, EachStyleAsksItsOwnQuestion) {
  Session s;
  s.run(u"", "");
  Workbook& book = s.book();
  auto addRule = [&](AlertStyle style, uint16_t column, std::u16string title) {
    ValidationRule rule;
    rule.flags = static_cast<uint32_t>(ValidationType::Integer) | static_cast<uint32_t>(style) << ValidationFlag::StyleShift |
                 ValidationFlag::ErrorAlert | static_cast<uint32_t>(ValidationOperator::Less) << ValidationFlag::OperatorShift;
    rule.formula1 = compileToHandle(book, u"=10", CellPosition{}, false);
    rule.errorTitle = std::move(title);
    rule.errorMessage = u"Below ten, please.";
    s.sheet().validations.push_back(ValidationEntry{rule, {Area{0, column, 9, column}}});
  };
  addRule(AlertStyle::Stop, 0, u"Stop box");
  addRule(AlertStyle::Warning, 1, u"Warning box");
  addRule(AlertStyle::Information, 2, u"Information box");
  Seen seen;
  seen.attach(s.desktop);

  // The first soft key gives the first answer: OK, Yes, OK.
  s.backend.setScript("soft1\n");
  EXPECT_FALSE(validateEntry(book, 0, 0, 0, numberValue(50))) << "a stop box only tells";
  EXPECT_TRUE(seen.saw(u"Stop box"));
  EXPECT_TRUE(seen.saw(u"Below ten, please."));
  s.backend.setScript("soft1\n");
  EXPECT_TRUE(validateEntry(book, 0, 1, 0, numberValue(50)));
  EXPECT_TRUE(seen.saw(u"Warning box"));
  EXPECT_TRUE(seen.saw(u"Below ten, please. Continue?"));
  s.backend.setScript("soft2\n");
  EXPECT_FALSE(validateEntry(book, 0, 1, 0, numberValue(50))) << "No";
  s.backend.setScript("soft1\n");
  EXPECT_TRUE(validateEntry(book, 0, 2, 0, numberValue(50)));
  EXPECT_TRUE(seen.saw(u"Information box"));
  s.backend.setScript("soft2\n");
  EXPECT_FALSE(validateEntry(book, 0, 2, 0, numberValue(50))) << "Cancel";
  EXPECT_TRUE(validateEntry(book, 0, 2, 0, numberValue(5))) << "a good value shows nothing";
}

}  // namespace
}  // namespace kelp::test

namespace kelp::test {
namespace {

TEST(ValidationAlert, TheDataValidationSheetSetsRulesTheirAlertAndInputHelp) {
  Session s;
  // Integer between 1 and 10 on B2:B4, with its alert and its input help, page by page.
  s.run(u"", "");
  s.sheet().selection = Selection::ofStored(Area{1, 1, 3, 1}, 1, 1);
  s.keys("menu Data > Data Validation...\n"
             "key Down\nkey Right\nkey Down\nkey Down\ntext 1\nkey Down\ntext 10\nkey Up Up Up Up\nkey Right\n"
             "key Down\ntext Too big\nkey Down\ntext From 1 to 10.\nkey Up Up\nkey Right\n"
             "key Down\ntext Amount\nkey Down\ntext Whole units, 1 to 10.\nsoft1\n");
  Sheet& sheet = s.sheet();
  ASSERT_EQ(sheet.validations.size(), 1u);
  const ValidationEntry& entry = sheet.validations[0];
  EXPECT_EQ(entry.areas, (std::vector<Area>{Area{1, 1, 3, 1}}));
  EXPECT_EQ(ruleType(entry.rule), ValidationType::Integer);
  EXPECT_EQ(ruleOperator(entry.rule), ValidationOperator::Between);
  EXPECT_TRUE(entry.rule.flags & ValidationFlag::ErrorAlert);
  EXPECT_EQ(entry.rule.errorTitle, u"Too big");
  EXPECT_EQ(entry.rule.inputMessage, u"Whole units, 1 to 10.");

  // The input help stands 5 pixels right of and below the active cell's corner.
  Window* help = s.desktop.find(s.app->inputHelp().window());
  ASSERT_TRUE(help);
  const Rect cell = s.cell(1, 1);
  EXPECT_EQ(help->rect().left, cell.left + 5);
  EXPECT_EQ(help->rect().top, cell.top + 5);
  EXPECT_TRUE(s.seen.saw(u"Amount"));
  EXPECT_TRUE(s.seen.sawLines(u"Whole units, 1 to 10."));

  // The rule refuses 50 with its own alert, and the help goes with the cell left.
  s.keys("text 50\nkey Enter\nsoft1\nkey Esc\n");
  EXPECT_TRUE(s.seen.saw(u"Too big"));
  EXPECT_EQ(sheet.cellPtr(1, 1), nullptr);
  s.keys("key Right\n");
  EXPECT_EQ(s.desktop.find(s.app->inputHelp().window()), nullptr);

  // A list rule from typed items; a bound that is no number keeps the sheet open.
  s.keys("menu Data > Data Validation...\nkey Down\nkey Right Right Right\nkey Down\ntext apple,pear\nsoft1\n");
  ASSERT_EQ(sheet.validations.size(), 2u);
  EXPECT_EQ(sheet.validations[1].rule.list, (std::vector<std::u16string>{u"apple", u"pear"}));
  s.keys("menu Data > Data Validation...\nkey Down\nkey Left\nkey Down Down\ntext abc\nsoft1\nkey Enter\nsoft2\n");
  EXPECT_TRUE(s.seen.saw(u"Enter a number."));
  EXPECT_EQ(sheet.validations.size(), 2u);

  // Each rule set is one Undo.
  s.keys("key Ctrl+Z\n");
  EXPECT_EQ(sheet.validations.size(), 1u);
}

}  // namespace
}  // namespace kelp::test
