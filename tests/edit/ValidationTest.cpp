// Data validation: testing entries against each kind of rule, the alerts, where a rule's
// formulas are evaluated, the custom rule's trial write, the undoable rule changes and
// rules read from a LibreOffice file.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/Fill.h"
#include "edit/Validation.h"
#include "files/Document.h"
#include "files/ExcelWriter.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "platform/Text.h"

namespace kelp::test {
namespace {

// What the alert hook was shown, and what it answers.
struct Alerts {
  static inline std::vector<ValidationAlert> seen;
  static inline bool answer = false;
  static bool ask(const ValidationAlert& alert) {
    seen.push_back(alert);
    return answer;
  }
};

class ValidationTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    Alerts::seen.clear();
    Alerts::answer = false;
    installValidationAlert(nullptr);
  }
  void TearDown() override {
    installValidationAlert(nullptr);
    CommandTest::TearDown();
  }

  static uint32_t flags(ValidationType type, ValidationOperator op = ValidationOperator::Between,
                        AlertStyle style = AlertStyle::Stop) {
    return static_cast<uint32_t>(type) | static_cast<uint32_t>(style) << ValidationFlag::StyleShift |
           ValidationFlag::ErrorAlert | static_cast<uint32_t>(op) << ValidationFlag::OperatorShift;
  }
  /// A rule formula as written for the cell (column, row) it tests.
  uint32_t formula(std::u16string_view text, int col = 0, int row = 0) {
    uint32_t handle = compileToHandle(*book, text, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0},
                                      false);
    EXPECT_NE(handle, NoHandle) << utf16ToUtf8(text);
    return handle;
  }
  ValidationRule rule(uint32_t ruleFlags, std::u16string_view first = u"", std::u16string_view second = u"", int col = 0,
                      int row = 0) {
    ValidationRule r;
    r.flags = ruleFlags;
    if (!first.empty()) r.formula1 = formula(first, col, row);
    if (!second.empty()) r.formula2 = formula(second, col, row);
    return r;
  }
  /// Hands the rule to the sheet, which releases its formulas.
  void addRule(const ValidationRule& r, std::vector<Area> areas, int s = 0) {
    sheet(s).validations.push_back(ValidationEntry{r, std::move(areas)});
  }
  bool check(const ValidationRule& r, const CellValue& value, int col = 0, int row = 0) {
    return checkValue(*book, r, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0}, value);
  }
  bool checkText(const ValidationRule& r, std::u16string_view text) {
    CellValue value;
    makeText(value, text);
    bool pass = check(r, value);
    releaseValue(value);
    return pass;
  }
  std::u16string formulaAt(int col, int row) {
    std::u16string text;
    const CellRecord* cell = sheet().cellPtr(col, row);
    if (cell) editableText(cell->value, text);
    return text;
  }
  /// Every rule's formulas released, so that the pool's count can be compared.
  static void releaseRules(ValidationRule& r) {
    formulaPool().release(r.formula1);
    formulaPool().release(r.formula2);
  }
};

TEST_F(ValidationTest, EachKindOfRuleTestsItsValues) {
  ValidationRule whole = rule(flags(ValidationType::Integer), u"=1", u"=10");
  EXPECT_FALSE(check(whole, numberValue(3.5)));
  EXPECT_TRUE(check(whole, numberValue(3)));
  EXPECT_TRUE(check(whole, numberValue(10)));
  EXPECT_FALSE(check(whole, numberValue(11)));
  EXPECT_FALSE(check(whole, dateTimeValue(3))) << "a date is no number";
  EXPECT_FALSE(checkText(whole, u"3"));
  EXPECT_FALSE(check(whole, emptyValue())) << "blank without ignore blank";
  whole.flags |= ValidationFlag::IgnoreBlank;
  EXPECT_TRUE(check(whole, emptyValue()));
  releaseRules(whole);

  // Each operator around a bound of 5 (the second bound 8 for the two ranges).
  struct Case {
    ValidationOperator op;
    double below, at, above;  // 4, 5, 6: which pass
  };
  const Case cases[] = {{ValidationOperator::Between, 0, 1, 1},  {ValidationOperator::NotBetween, 1, 0, 0},
                        {ValidationOperator::Equal, 0, 1, 0},    {ValidationOperator::NotEqual, 1, 0, 1},
                        {ValidationOperator::Greater, 0, 0, 1},  {ValidationOperator::Less, 1, 0, 0},
                        {ValidationOperator::AtLeast, 0, 1, 1},  {ValidationOperator::AtMost, 1, 1, 0}};
  for (const Case& c : cases) {
    ValidationRule decimal = rule(flags(ValidationType::Decimal, c.op), u"=5", u"=8");
    EXPECT_EQ(check(decimal, numberValue(4.5)), c.below != 0) << static_cast<int>(c.op);
    EXPECT_EQ(check(decimal, numberValue(5)), c.at != 0) << static_cast<int>(c.op);
    EXPECT_EQ(check(decimal, numberValue(5.5)), c.above != 0) << static_cast<int>(c.op);
    releaseRules(decimal);
  }

  ValidationRule yesNo = rule(flags(ValidationType::List) | ValidationFlag::ExplicitList);
  yesNo.list = {u"Yes", u"No "};
  EXPECT_TRUE(checkText(yesNo, u" Yes "));
  EXPECT_TRUE(checkText(yesNo, u"No")) << "items are trimmed too";
  EXPECT_FALSE(checkText(yesNo, u"yes")) << "case counts";
  EXPECT_FALSE(check(yesNo, numberValue(1)));
  yesNo.list.clear();
  EXPECT_TRUE(checkText(yesNo, u"anything")) << "an empty list holds everything";

  ASSERT_TRUE(enter(5, 0, u"1"));
  ASSERT_TRUE(enter(5, 1, u"2"));
  ASSERT_TRUE(enter(5, 2, u"b"));
  ASSERT_TRUE(enter(5, 3, u"25%"));  // takes the format "0.00%"
  ValidationRule cells = rule(flags(ValidationType::List), u"=$F$1:$F$4");
  EXPECT_TRUE(check(cells, numberValue(2)));
  EXPECT_FALSE(check(cells, numberValue(4)));
  EXPECT_TRUE(checkText(cells, u"b"));
  EXPECT_FALSE(checkText(cells, u"B"));
  EXPECT_TRUE(checkText(cells, u"25.00%")) << "a text matches what a cell shows";
  EXPECT_FALSE(checkText(cells, u"25%"));
  EXPECT_TRUE(check(cells, numberValue(0.25)));
  releaseRules(cells);
  ValidationRule notAReference = rule(flags(ValidationType::List), u"=1");
  EXPECT_FALSE(check(notAReference, numberValue(1)));
  releaseRules(notAReference);

  ValidationRule shortText = rule(flags(ValidationType::TextLength, ValidationOperator::AtMost), u"=3");
  EXPECT_FALSE(checkText(shortText, u"abcd"));
  EXPECT_TRUE(checkText(shortText, u"abc"));
  EXPECT_FALSE(check(shortText, numberValue(12))) << "only a text has a length";
  releaseRules(shortText);

  ValidationRule dates = rule(flags(ValidationType::Date), u"=DATE(2024,1,1)", u"=DATE(2024,12,31)");
  EXPECT_TRUE(check(dates, dateTimeValue(45400)));
  EXPECT_FALSE(check(dates, dateTimeValue(45000)));
  EXPECT_FALSE(check(dates, numberValue(45400))) << "a number is no date";
  releaseRules(dates);

  ValidationRule badBound = rule(flags(ValidationType::Decimal, ValidationOperator::Greater), u"=1/0");
  EXPECT_FALSE(check(badBound, numberValue(5))) << "an error bound decides nothing";
  releaseRules(badBound);
  EXPECT_TRUE(check(rule(flags(ValidationType::Any)), numberValue(-1)));
}

TEST_F(ValidationTest, TypedEntriesFollowTheRuleAndItsAlert) {
  addRule(rule(flags(ValidationType::Integer), u"=1", u"=10"), {Area{0, 0, 9, 0}});
  ValidationRule warn = rule(flags(ValidationType::Integer, ValidationOperator::Less, AlertStyle::Warning), u"=100");
  warn.errorTitle = u"Big";
  warn.errorMessage = u"That is a lot.";
  addRule(warn, {Area{0, 1, 9, 1}});
  addRule(rule(flags(ValidationType::Integer, ValidationOperator::Less, AlertStyle::Information), u"=100"),
          {Area{0, 2, 9, 2}});
  // The later rule governs the cells both hold.
  addRule(rule(flags(ValidationType::Integer, ValidationOperator::Greater), u"=100"), {Area{5, 0, 5, 0}});
  EXPECT_EQ(findRule(sheet(), 0, 5), 3);
  EXPECT_EQ(findRule(sheet(), 0, 4), 0);
  EXPECT_EQ(findRule(sheet(), 3, 0), -1);

  // Without a hook every alert refuses: nobody is there to confirm.
  EXPECT_FALSE(enter(0, 0, u"11"));
  EXPECT_FALSE(enter(1, 0, u"500"));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(kind(1, 0), ValueKind::Empty);
  EXPECT_EQ(pendingError(), 0u) << "the alert was the message; no error follows it";
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_TRUE(enter(0, 5, u"200"));
  EXPECT_FALSE(enter(0, 5, u"5"));

  installValidationAlert(Alerts::ask);
  Alerts::answer = true;
  EXPECT_FALSE(enter(0, 1, u"0")) << "a stop alert refuses whatever the answer";
  ASSERT_EQ(Alerts::seen.size(), 1u);
  EXPECT_EQ(Alerts::seen[0].style, AlertStyle::Stop);
  EXPECT_EQ(Alerts::seen[0].title, u"Kelp");
  EXPECT_EQ(Alerts::seen[0].shownText(), u"The value you entered is not valid.");
  EXPECT_TRUE(enter(1, 1, u"500"));
  EXPECT_EQ(number(1, 1), 500);
  ASSERT_EQ(Alerts::seen.size(), 2u);
  EXPECT_EQ(Alerts::seen[1].title, u"Big");
  EXPECT_EQ(Alerts::seen[1].shownText(), u"That is a lot. Continue?");
  EXPECT_TRUE(enter(2, 1, u"500"));
  EXPECT_EQ(Alerts::seen[2].style, AlertStyle::Information);
  EXPECT_EQ(Alerts::seen[2].shownText(), u"The value you entered is not valid.");
  Alerts::answer = false;
  EXPECT_FALSE(enter(1, 2, u"600"));
  EXPECT_FALSE(enter(2, 2, u"600"));
  EXPECT_EQ(number(1, 1), 500);
  EXPECT_TRUE(enter(1, 3, u"7"));
  EXPECT_EQ(Alerts::seen.size(), 5u) << "a value that passes shows nothing";
  // A formula is tested by its result in the cell.
  EXPECT_FALSE(enter(0, 7, u"=4*5"));
  EXPECT_TRUE(enter(0, 7, u"=4+5"));
  EXPECT_EQ(number(0, 7), 9);
}

TEST_F(ValidationTest, ARuleWhoseAlertIsOffAcceptsEveryValue) {
  ValidationRule quiet = rule(flags(ValidationType::Integer), u"=1", u"=10");
  quiet.flags &= ~ValidationFlag::ErrorAlert;
  addRule(quiet, {Area{0, 0, 0, 0}});
  installValidationAlert(Alerts::ask);
  EXPECT_TRUE(enter(0, 0, u"99"));
  EXPECT_EQ(number(0, 0), 99) << "the entry is stored, not dropped without a word";
  EXPECT_TRUE(Alerts::seen.empty());
  CellValue text;
  makeText(text, u"words");
  EXPECT_TRUE(validateEntry(*book, 0, 0, 0, text));
  releaseValue(text);
}

TEST_F(ValidationTest, RulesAreEvaluatedAtTheCellBeingTested) {
  // Written for the first cells: A1 must exceed its neighbour in B, and F1 lie between
  // C1 and D1; each other cell reads the cells of its own row.
  addRule(rule(flags(ValidationType::Custom), u"=A1>B1"), {Area{0, 0, 4, 0}});
  addRule(rule(flags(ValidationType::Decimal), u"=C1", u"=D1", 5, 0), {Area{0, 5, 4, 5}});
  ASSERT_TRUE(enter(1, 0, u"10"));
  ASSERT_TRUE(enter(1, 2, u"0"));
  for (int r = 0; r < 5; ++r) {
    ASSERT_TRUE(enter(2, r, r == 2 ? u"100" : u"0"));
    ASSERT_TRUE(enter(3, r, r == 2 ? u"200" : u"1"));
  }
  select(0, 0, 0, 0);  // the active cell stays on A1 throughout
  EXPECT_TRUE(validateEntry(*book, 0, 0, 2, numberValue(5))) << "5 > B3, which is 0";
  EXPECT_FALSE(validateEntry(*book, 0, 0, 0, numberValue(5))) << "5 > B1 fails";
  EXPECT_TRUE(validateEntry(*book, 0, 5, 2, numberValue(150))) << "between C3 and D3";
  EXPECT_FALSE(validateEntry(*book, 0, 5, 0, numberValue(150))) << "not between C1 and D1";
  EXPECT_TRUE(enter(0, 2, u"5"));
  EXPECT_FALSE(enter(0, 0, u"5"));
}

TEST_F(ValidationTest, AListOfFormulaCellsComparesTheirResults) {
  ASSERT_TRUE(enter(5, 0, u"=1+1"));
  ASSERT_TRUE(enter(5, 1, u"=\"pe\"&\"ar\""));
  ASSERT_TRUE(enter(5, 2, u"=F1*1.5"));
  ValidationRule list = rule(flags(ValidationType::List), u"=$F$1:$F$3");
  EXPECT_TRUE(check(list, numberValue(2)));
  EXPECT_TRUE(check(list, numberValue(3)));
  EXPECT_FALSE(check(list, numberValue(4)));
  EXPECT_TRUE(checkText(list, u"pear"));
  EXPECT_FALSE(checkText(list, u"pe"));
  EXPECT_FALSE(checkText(list, u"=1+1")) << "the formula's text is not what the cell shows";
  releaseRules(list);
}

TEST_F(ValidationTest, TheCustomTrialLosesNothingAndRecordsNothing) {
  ASSERT_TRUE(enter(1, 0, u"3"));
  ASSERT_TRUE(enter(0, 0, u"=B1*2"));
  ASSERT_TRUE(enter(2, 0, u"=A1+1"));
  select(0, 0, 0, 0);
  ASSERT_TRUE(applyBold(*book, undo, true));
  // A1 is good while C1, which reads it, stays below 5; E5 must be positive.
  addRule(rule(flags(ValidationType::Custom), u"=C1<5"), {Area{0, 0, 0, 0}});
  addRule(rule(flags(ValidationType::Custom), u"=E5>0", u"", 4, 4), {Area{4, 4, 4, 4}});
  undo.clear();
  const int16_t bold = ownStyle(0, 0);
  const std::vector<uint8_t> before = fileBytes();
  const uint32_t formulas = formulaPool().liveCount(), texts = textPool().liveCount();

  EXPECT_FALSE(validateEntry(*book, 0, 0, 0, numberValue(10)));
  EXPECT_TRUE(validateEntry(*book, 0, 0, 0, numberValue(1)));
  CellValue text;
  makeText(text, u"x");
  EXPECT_FALSE(validateEntry(*book, 0, 0, 0, text)) << "C1 becomes !!Val";
  releaseValue(text);
  EXPECT_FALSE(validateEntry(*book, 0, 4, 4, numberValue(-1)));
  EXPECT_TRUE(validateEntry(*book, 0, 4, 4, numberValue(2)));

  EXPECT_EQ(formulaAt(0, 0), u"=B1*2");
  EXPECT_EQ(number(0, 0), 6);
  EXPECT_EQ(ownStyle(0, 0), bold);
  EXPECT_EQ(number(2, 0), 7);
  EXPECT_EQ(kind(4, 4), ValueKind::Empty);
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(formulaPool().liveCount(), formulas);
  EXPECT_EQ(textPool().liveCount(), texts);
  // The formula put back still follows its inputs.
  ASSERT_TRUE(enter(1, 0, u"4"));
  EXPECT_EQ(number(0, 0), 8);
  EXPECT_EQ(number(2, 0), 9);
  EXPECT_FALSE(enter(0, 0, u"-1+10")) << "a typed text fails the comparison in C1";
}

TEST_F(ValidationTest, RulesAFileCannotHoldAreRefused) {
  // Two formulas as long as the compiler takes leave a rule room in its record.
  std::u16string ones = u"=1";
  for (int i = 1; i < 1638; ++i) ones += u"+1";
  ValidationRule longest = rule(flags(ValidationType::Decimal), ones, ones);
  ASSERT_TRUE(setValidationCommand(*book, undo, longest)) << pendingError();
  releaseRules(longest);
  const size_t entries = undo.size();
  const std::vector<uint8_t> before = fileBytes();

  // A list longer than the record is refused with error 22, and nothing changes.
  ValidationRule list = rule(flags(ValidationType::List) | ValidationFlag::ExplicitList);
  list.list = {u"Yes", std::u16string(32800, u'n')};
  EXPECT_FALSE(setValidationCommand(*book, undo, list));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FormulaTooComplex));
  clearError();
  EXPECT_EQ(undo.size(), entries);
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(ValidationTest, RuleChangesUndoToTheSameBytes) {
  const uint32_t unruled = formulaPool().liveCount();
  addRule(rule(flags(ValidationType::Integer), u"=1", u"=$H$1"), {Area{0, 0, 4, 2}});
  ValidationRule yesNo = rule(flags(ValidationType::List) | ValidationFlag::ExplicitList);
  yesNo.list = {u"Yes", u"No"};
  yesNo.errorTitle = u"Answer";
  addRule(yesNo, {Area{0, 4, 2, 4}, Area{9, 4, 9, 4}});
  const uint32_t formulas = formulaPool().liveCount();
  const std::vector<uint8_t> start = fileBytes();

  // A new rule on B2:B3 takes those cells from the first, which keeps the rest.
  select(1, 1, 1, 2);
  ValidationRule text = rule(flags(ValidationType::TextLength, ValidationOperator::AtMost), u"=3");
  text.errorMessage = u"Three letters at most";
  ASSERT_TRUE(setValidationCommand(*book, undo, text));
  releaseRules(text);
  EXPECT_EQ(undo.undoDescription(), u"Validation");
  ASSERT_EQ(sheet().validations.size(), 3u);
  EXPECT_EQ(findRule(sheet(), 1, 1), 2);
  EXPECT_EQ(findRule(sheet(), 1, 2), 2);
  for (int r = 0; r <= 4; ++r)
    for (int c = 0; c <= 2; ++c)
      if (c != 1 || r < 1 || r > 2) {
        EXPECT_EQ(findRule(sheet(), c, r), 0) << c << "," << r;
      }
  EXPECT_FALSE(enter(1, 1, u"abcd"));
  EXPECT_TRUE(enter(1, 1, u"abc"));
  const std::vector<uint8_t> ruled = fileBytes();

  // Clearing row 1 across both old rules splits the first and shortens the second.
  select(0, 0, 4, 0);
  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::Validation));
  for (int c = 0; c <= 4; ++c) EXPECT_EQ(findRule(sheet(), c, 0), -1) << c;
  EXPECT_EQ(findRule(sheet(), 0, 1), 0);
  EXPECT_EQ(findRule(sheet(), 4, 1), 1);
  EXPECT_EQ(findRule(sheet(), 4, 9), 1);
  const std::vector<uint8_t> cleared = fileBytes();

  // Clearing everything of D1:E10 takes the second rule's cells and so the rule.
  select(3, 0, 4, 9);
  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::All));
  ASSERT_EQ(sheet().validations.size(), 2u);
  EXPECT_EQ(findRule(sheet(), 4, 4), -1);
  EXPECT_EQ(findRule(sheet(), 1, 1), 1);
  const std::vector<uint8_t> all = fileBytes();

  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), cleared);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), ruled);
  ASSERT_TRUE(undo.undo(*book));  // typing abc
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), start);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(fileBytes(), all);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), start);
  undo.clear();
  EXPECT_EQ(formulaPool().liveCount(), formulas) << "programs gave back the formulas they held";
  ASSERT_TRUE(removeRules(sheet(), -1));
  EXPECT_EQ(formulaPool().liveCount(), unruled);
}

TEST_F(ValidationTest, RestoringPutsBackLongListsAndManyAreasOnTheirSheet) {
  ValidationRule many = rule(flags(ValidationType::List) | ValidationFlag::ExplicitList);
  for (int i = 0; i < 300; ++i) many.list.push_back(u"item " + utf8ToUtf16(std::to_string(i)));
  std::vector<Area> areas;
  for (uint16_t i = 0; i < 100; ++i) areas.push_back(Area{static_cast<uint16_t>(2 * i), 3, static_cast<uint16_t>(2 * i), 5});
  addRule(many, areas, 1);
  addRule(rule(flags(ValidationType::Custom), u"=Sheet3!A1<>B1"), {Area{0, 0, 0, 0}}, 1);
  addRule(rule(flags(ValidationType::Decimal)), {}, 1);  // governs nothing and is never saved
  ValidationRule odd = rule(0xFFFFFFFFu);  // a flag word as a file may hold it
  addRule(odd, {Area{9, 9, 9, 9}}, 1);
  const std::vector<uint8_t> before = fileBytes();
  const uint32_t formulas = formulaPool().liveCount();

  ProgramBuilder back;
  back.restoreValidations(sheet(1));
  CommandProgram program = back.finish();
  ASSERT_TRUE(program.valid());
  ASSERT_TRUE(removeRules(sheet(1), 1));
  EXPECT_FALSE(removeRules(sheet(1), 7));
  book->setActiveSheet(2);
  ASSERT_TRUE(runProgram(*book, program));
  EXPECT_EQ(book->activeSheetIndex(), 1);
  ASSERT_EQ(sheet(1).validations.size(), 3u);
  EXPECT_EQ(sheet(1).validations[2].rule.flags, 0xFFFFFFFFu);
  EXPECT_EQ(sheet(1).validations[0].rule.list, many.list);
  EXPECT_EQ(sheet(1).validations[0].areas, areas);
  EXPECT_EQ(fileBytes(), before);
  ASSERT_TRUE(runProgram(*book, program)) << "the list is replaced, not added to";
  EXPECT_EQ(fileBytes(), before);
  program.reset();
  EXPECT_EQ(formulaPool().liveCount(), formulas) << "the programs gave back the formulas they carried";
}

TEST_F(ValidationTest, CommandFunctionsRefuseBadArguments) {
  addRule(rule(flags(ValidationType::Integer), u"=1", u"=2"), {Area{0, 0, 0, 0}});
  const std::vector<uint8_t> before = fileBytes();
  auto run = [&](auto build) {
    ProgramBuilder b;
    b.selectSheet(0);
    build(b);
    return runProgram(*book, b.finish());
  };
  run([](ProgramBuilder& b) { b.integer(3).call(CommandFunction::RemoveRules); });
  auto header = [](ProgramBuilder& b, int32_t ruleFlags) {
    b.integer(ruleFlags).text(u"").text(u"").text(u"").text(u"").value(emptyValue()).value(emptyValue());
  };
  // A row beyond the sheet, a reversed area, a number where a formula goes.
  run([&](ProgramBuilder& b) {
    header(b, 1);
    b.integer(0).integer(0).integer(0).integer(MaxRows).integer(0).call(CommandFunction::AddRule, 12);
  });
  run([&](ProgramBuilder& b) {
    header(b, 1);
    b.integer(0).integer(5).integer(0).integer(4).integer(0).call(CommandFunction::AddRule, 12);
  });
  run([&](ProgramBuilder& b) {
    b.integer(1).text(u"").text(u"").text(u"").text(u"").number(1).value(emptyValue());
    b.integer(0).integer(0).integer(0).integer(0).integer(0).call(CommandFunction::AddRule, 12);
  });
  EXPECT_EQ(fileBytes(), before);
  ASSERT_TRUE(removeRules(sheet(), -1));
  // More areas for a rule that is not there.
  run([&](ProgramBuilder& b) {
    header(b, -1);
    b.integer(0).integer(0).integer(0).integer(0).integer(0).call(CommandFunction::AddRule, 12);
  });
  EXPECT_TRUE(sheet().validations.empty());
}

TEST_F(ValidationTest, FillDownAndRightPassTheFirstCellsRulesOn) {
  ValidationRule small = rule(flags(ValidationType::Integer, ValidationOperator::Less), u"=10");
  addRule(small, {Area{0, 0, 0, 0}});
  addRule(rule(flags(ValidationType::Custom), u"=B1>A1", u"", 1, 0), {Area{0, 1, 0, 1}, Area{3, 1, 3, 1}});
  addRule(rule(flags(ValidationType::Decimal)), {Area{2, 2, 2, 2}});  // dropped: C3 is filled from C1
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 0, u"2"));
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();

  select(0, 0, 2, 3);
  ASSERT_TRUE(fillDownCommand(*book, undo, false));
  ASSERT_EQ(sheet().validations.size(), 2u);
  for (int r = 0; r <= 3; ++r) {
    EXPECT_EQ(findRule(sheet(), 0, r), 0) << r;
    EXPECT_EQ(findRule(sheet(), 1, r), 1) << r;
    EXPECT_EQ(findRule(sheet(), 2, r), -1) << r;
  }
  // The custom rule reads each row's own cells: B3 must exceed A3.
  EXPECT_FALSE(enter(1, 2, u"0"));
  EXPECT_TRUE(enter(1, 2, u"5"));
  EXPECT_FALSE(enter(0, 3, u"50"));
  const std::vector<uint8_t> filled = fileBytes();
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
  ASSERT_TRUE(undo.redo(*book));
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(fileBytes(), filled);

  select(0, 5, 3, 5);
  addRule(rule(flags(ValidationType::Integer, ValidationOperator::Greater), u"=0"), {Area{5, 0, 5, 0}});
  ASSERT_TRUE(fillRightCommand(*book, undo, false));
  for (int c = 0; c <= 3; ++c) EXPECT_EQ(findRule(sheet(), c, 5), 2) << c;
}

TEST_F(ValidationTest, RulesOfALibreOfficeFileKeepTheirMeaning) {
  undo.clear();
  book = newWorkbook(0);
  setEvalWorkbook(book.get());
  const std::u16string path = utf8ToUtf16(std::string(KELP_TEST_DATA) + "/lo_validation_biff8.xls");
  ASSERT_TRUE(readExcelFile(*book, path)) << pendingError();
  recalculateAll(*book);
  installValidationAlert(Alerts::ask);

  auto behaves = [&](const char* where) {
    SCOPED_TRACE(where);
    ASSERT_EQ(sheet().validations.size(), 4u);
    const ValidationRule& whole = sheet().validations[0].rule;
    EXPECT_EQ(ruleType(whole), ValidationType::Integer);
    EXPECT_EQ(whole.errorTitle, u"Quantity");
    EXPECT_EQ(sheet().validations[0].areas, (std::vector<Area>{{1, 0, 3, 0}}));
    EXPECT_FALSE(validateEntry(*book, 0, 0, 3, numberValue(11)));
    EXPECT_TRUE(validateEntry(*book, 0, 0, 3, numberValue(10)));
    EXPECT_FALSE(validateEntry(*book, 0, 0, 3, numberValue(2.5)));
    // C2:C4 must exceed the quantity of their own row: A2 is 3, A3 is 7.
    EXPECT_TRUE(validateEntry(*book, 0, 2, 1, numberValue(5)));
    EXPECT_FALSE(validateEntry(*book, 0, 2, 2, numberValue(5)));
    EXPECT_TRUE(validateEntry(*book, 0, 2, 2, numberValue(8)));
    Alerts::seen.clear();
    CellValue fruit;
    makeText(fruit, u"Plum");
    EXPECT_TRUE(validateEntry(*book, 0, 1, 3, fruit));
    releaseValue(fruit);
    makeText(fruit, u"Kiwi");
    EXPECT_FALSE(validateEntry(*book, 0, 1, 3, fruit));
    releaseValue(fruit);
    ASSERT_EQ(Alerts::seen.size(), 1u);
    EXPECT_EQ(Alerts::seen[0].style, AlertStyle::Warning);
    EXPECT_EQ(Alerts::seen[0].title + u": " + Alerts::seen[0].message, u"Fruit: Not a fruit of column E");
    // The decimal rule of D2:D4 has its alert off: anything goes.
    EXPECT_TRUE(validateEntry(*book, 0, 3, 2, numberValue(-1)));
    std::u16string text;
    formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(sheet().validations[2].rule.formula1)),
                CellPosition{2, 1, 0}, text);
    EXPECT_EQ(text, u"=C2>A2") << "as written for the rule's first cell";
  };
  behaves("read");

  // Kelp's own Excel file gives the same rules back.
  MemoryDocStream stream;
  stream.allocateBuffer();
  ASSERT_TRUE(writeExcelFile(*book, stream, true));
  stream.Flush();
  const std::string copy = ::testing::TempDir() + "kelp_validation_copy.xls";
  {
    std::ofstream out(copy, std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream.data()), stream.size());
  }
  book = newWorkbook(0);
  setEvalWorkbook(book.get());
  ASSERT_TRUE(readExcelFile(*book, utf8ToUtf16(copy))) << pendingError();
  std::remove(copy.c_str());
  recalculateAll(*book);
  behaves("written by Kelp and read again");
}

}  // namespace
}  // namespace kelp::test
