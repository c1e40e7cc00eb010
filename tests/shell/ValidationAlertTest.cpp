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
