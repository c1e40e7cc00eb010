// Tests of the functions desktop workbooks commonly hold, against values Gnumeric gave
// for the same cases.
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using DesktopFunctionsTest = test::EngineTest;

TEST_F(DesktopFunctionsTest, AgreesWithTheReferenceTable) {
  // The data block the reference table's formulas read (A1:D6, as its header says).
  const char16_t* labels[] = {u"x", u"y", u"x", u"y", u"x", u"z"};
  const double first[] = {1, 2, 3, 0, 0, 10};
  for (int row = 0; row < 6; ++row) {
    if (row == 3)
      setText(0, row, u"x");
    else if (row != 4)
      setNumber(0, row, first[row]);
    setText(1, row, labels[row]);
    setNumber(2, row, 2.0 * (row + 1));
  }
  setNumber(3, 0, 45292);
  setNumber(3, 1, 45306);
  setNumber(3, 2, 45306);
  auto lines = test::readReferenceTable("desktop_reference.tsv");
  ASSERT_GT(lines.size(), 130u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_EQ(fields.size(), 3u);
    std::string why = test::compareWithReference(calc(utf8ToUtf16(fields[0])), fields[1], fields[2]);
    EXPECT_EQ(why, "") << fields[0] << " expected " << fields[1];
  }
}

}  // namespace
}  // namespace kelp
