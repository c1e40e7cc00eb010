// Tests of Sumif, Countif and the database functions: criteria with every operator over
// cells of every kind, sum ranges of another shape, OR rows and AND columns, Dget.
#include <cmath>
#include <string>

#include "formula/EntryReader.h"
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;

class DatabaseFunctionsTest : public EngineTest {
 protected:
  // Types entries into the cells of one column from `row` down; "" leaves a cell blank.
  void column(int col, int row, std::initializer_list<std::u16string_view> entries) {
    for (std::u16string_view entry : entries) {
      CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), 0};
      if (!entry.empty()) setValue(col, row, readEntry(book.get(), entry, at, nullptr, false));
      ++row;
    }
  }
  // A: 5, "10", 1000, blank, apple, Apricot, TRUE, !!NA, 5, a*b, 15 Jan 2024, 0;
  // B: 1, 2, 4 … 2048 beside them; D1 the date alone.
  void fillMixedColumn() {
    column(0, 0, {u"5", u"'10", u"1000", u"", u"apple", u"Apricot", u"TRUE", u"=NA()", u"5", u"a*b", u"1/15/2024", u"0"});
    for (int row = 0; row < 12; ++row) setNumber(1, row, std::ldexp(1.0, row));
    column(3, 0, {u"1/15/2024"});
  }
  // A1:D7: a duplicate name, a blank kind, a text quantity and an error price.
  void fillDatabase() {
    column(0, 0, {u"Name", u"apple", u"Banana", u"carrot", u"apple", u"cherry", u"Beet"});
    column(1, 0, {u"Kind", u"fruit", u"fruit", u"veg", u"veg", u"", u"veg"});
    column(2, 0, {u"Qty", u"5", u"3", u"8", u"1", u"2", u"many"});
    column(3, 0, {u"Price", u"1.5", u"2", u"3", u"4", u"=1/0", u"6"});
  }
};

TEST_F(DatabaseFunctionsTest, CountifAndSumifTakeEveryOperatorOverMixedKinds) {
  fillMixedColumn();
  struct Case {
    const char16_t* criterion;
    double count, sum;
  } cases[] = {
      // Order relations hold within one kind, numbers and dates together: no text,
      // logical value or error is greater than 5, and blanks are neither.
      {u"\">5\"", 2, 4 + 1024}, {u"\"<=5\"", 3, 1 + 256 + 2048}, {u"\">=APRICOT\"", 1, 32},
      {u"\"<b\"", 4, 2 + 16 + 32 + 512}, {u"\"=5\"", 2, 1 + 256}, {u"5", 2, 1 + 256},
      {u"\"10\"", 0, 0},    // the number 10, which the text "10" is not
      {u"\"==10\"", 0, 0},  // the text "=10"
      {u"\"<>5\"", 10, 4095 - 1 - 256},  // a blank is unequal to 5
      // An empty operand: "=" and "" match the blank, "<>" everything else.
      {u"\"=\"", 1, 8}, {u"\"\"", 1, 8}, {u"\"<>\"", 11, 4095 - 8}, {u"\"TRUE\"", 1, 64}, {u"NA()", 1, 128},
      // Wildcards ignore case; "~" makes "*" literal.
      {u"\"?PPLE\"", 1, 16}, {u"\"a~*b\"", 1, 512}, {u"\"<>a*\"", 9, 4095 - 16 - 32 - 512},
      // Dates equal only dates, and are ordered against numbers by value.
      {u"\"1/15/2024\"", 1, 1024}, {u"D1", 1, 1024}, {u"\"<1/15/1900\"", 3, 1 + 256 + 2048},
  };
  for (const Case& c : cases) {
    std::u16string criterion(c.criterion);
    test::Result count = calc(u"=Countif(A1:A12," + criterion + u")");
    EXPECT_EQ(count.kind, ValueKind::Number) << utf16ToUtf8(criterion);
    EXPECT_EQ(count.number, c.count) << utf16ToUtf8(criterion);
    EXPECT_EQ(calc(u"=Sumif(A1:A12," + criterion + u",B1:B12)").number, c.sum) << utf16ToUtf8(criterion);
  }
  // A criterion in a cell: a text is read for its operator, a blank is 0.
  column(4, 0, {u"'>=1000", u""});
  expectShown({{u"=Countif(A1:A12,E1)", u"2"}, {u"=Sumif(A1:A12,E2,B1:B12)", u"2048"},
               {u"=Countif(5,5)", u"!!Val"}, {u"=Sumif(A1:A12,5,7)", u"!!Val"}});
}

TEST_F(DatabaseFunctionsTest, SumifTakesItsSumCellsInTheRangesShape) {
  fillMixedColumn();
  setNumber(1, 12, 10000);  // B13
  // Blank range cells pair with their sum cells when blanks match: A4 with C4, A21 with C21.
  column(2, 0, {u"1/1/2023", u"", u"", u"7"});
  setNumber(2, 20, 9);
  // Two columns pair cell by cell: A1 with F1, B4 with G4.
  column(5, 0, {u"1"});
  column(6, 1, {u"2", u"", u"4"});
  // Sum cells beyond the last row are cut off.
  column(0, 65534, {u"5", u"5"});
  setNumber(1, 65535, 3);
  expectShown({
      // A smaller sum range grows to the range's shape from its first cell; a larger one is cut.
      {u"=Sumif(A1:A12,5,B1:B3)", u"257"}, {u"=Sumif(A1:A12,5,B5)", u"10016"}, {u"=Sumif(A1:A3,5,B1:B12)", u"1"},
      {u"=Sumif(A1:A12,\"=\",C1)", u"7"}, {u"=Sumif(A1:A21,\"<>a*\",C2)", u"16"},
      {u"=Sumif(A1:B4,\">=5\",F1)", u"5"}, {u"=Sumif(A65535:A65536,5,B65536)", u"3"},
      {u"=Sumif(A65535:A65536,\"<>4\",B65536)", u"3"}, {u"=Sumif(A1:A7,\"<>5\")", u"1000"},
      // An error in a matching sum cell is the result; elsewhere it is ignored.
      {u"=Sumif(A1:A12,\"<>5\")", u"!!NA"},
  });
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"<=5\",C1)").kind, ValueKind::DateTime);  // dates add as numbers
  setValue(1, 3, errorValue(CellError::Div0));
  expectShown({{u"=Sumif(A1:A12,\"\",B1:B12)", u"!!Div0"}, {u"=Sumif(A1:A12,\"a*\",B1:B12)", u"560"}});
}

TEST_F(DatabaseFunctionsTest, DatabaseRowsAreAlternativesAndColumnsMustAllHold) {
  fillDatabase();
  column(7, 0, {u"NAME", u"apple", u"b*"});  // apple or anything starting with b
  // Kind veg and quantity below 5, or (second row) quantity below 4.
  column(9, 0, {u"kind", u"veg"});
  column(10, 0, {u"QTY", u"<5", u"<4"});
  column(12, 0, {u"Kind", u"'="});  // records whose kind is blank
  column(14, 0, {u"Colour", u"red"});
  expectShown({
      {u"=Dsum(A1:D7,\"qty\",H1:H3)", u"9"},  // "many" is no number
      {u"=Dsum(A1:D7,3.9,H1:H3)", u"9"}, {u"=Dcount(A1:D7,\"Qty\",H1:H3)", u"3"},
      {u"=Dcounta(A1:D7,\"Qty\",H1:H3)", u"4"}, {u"=Daverage(A1:D7,\"Qty\",H1:H3)", u"3"},
      {u"=Dmin(A1:D7,\"Qty\",H1:H3)", u"1"}, {u"=Dproduct(A1:D7,\"Qty\",H1:H3)", u"15"},
      // Cherry's price is an error. A criteria row of blanks selects every record; so do titles alone.
      {u"=Dsum(A1:D7,\"Price\",J1:K2)", u"4"}, {u"=Dcount(A1:D7,\"Price\",J1:K3)", u"2"},
      {u"=Dsum(A1:D7,\"Price\",J1:K3)", u"!!Div0"}, {u"=Dsum(A1:D7,\"Qty\",J1:K4)", u"19"},
      {u"=Dsum(A1:D7,\"Qty\",J1:K1)", u"19"}, {u"=Dsum(A1:D7,\"Qty\",M1:M2)", u"2"},
      // The field: a title or a number within the columns; a blank field lets Dcount and
      // Dcounta count the selected records.
      {u"=Dsum(A1:D7,0,H1:H3)", u"!!Val"}, {u"=Dsum(A1:D7,5,H1:H3)", u"!!Val"},
      {u"=Dsum(A1:D7,\"Weight\",H1:H3)", u"!!Val"}, {u"=Dsum(A1:D7,TRUE,H1:H3)", u"!!Val"},
      {u"=Dsum(A1:D7,Z1,H1:H3)", u"!!Val"}, {u"=Dsum(A1:D7,1/0,H1:H3)", u"!!Div0"},
      {u"=Dcount(A1:D7,Z1,H1:H3)", u"4"}, {u"=Dcounta(A1:D7,Z1,H1:H3)", u"4"}, {u"=Dsum(5,\"Qty\",H1:H3)", u"!!Val"},
      // A criteria title that names no column, or a condition under a blank title.
      {u"=Dcount(A1:D7,\"Qty\",O1:O2)", u"!!Val"}, {u"=Dcount(A1:D7,\"Qty\",N1:N2)", u"5"},
  });
  EXPECT_DOUBLE_EQ(calc(u"=Dvarp(A1:D7,\"Qty\",H1:H3)").number, 8.0 / 3);
  column(13, 1, {u"x"});
  EXPECT_EQ(calc(u"=Dcount(A1:D7,\"Qty\",N1:N2)").text, u"!!Val");
}

TEST_F(DatabaseFunctionsTest, DgetNeedsExactlyOneMatchingRecord) {
  fillDatabase();
  // One, several, none; then the value as it stands, an error included, and a blank is !!Val.
  const char16_t* steps[][3] = {{u"BANANA", u"\"Price\"", u"2"}, {u"apple", u"\"Price\"", u"!!Num"},
                                {u"fig", u"\"Price\"", u"!!Val"},  {u"ch*", u"\"Price\"", u"!!Div0"},
                                {u"ch*", u"1", u"cherry"},          {u"ch*", u"\"Kind\"", u"!!Val"}};
  for (const auto& [name, field, shown] : steps) {
    column(7, 0, {u"Name", name});
    EXPECT_EQ(calc(u"=Dget(A1:D7," + std::u16string(field) + u",H1:H2)").text, shown) << utf16ToUtf8(name);
  }
}

TEST_F(DatabaseFunctionsTest, DatabaseVariancesKeepTheirDigitsForLargeCloseValues) {
  // (n·Σx² − (Σx)²) gives 0 here; the deviations from the first value keep every digit.
  column(0, 0, {u"x", u"1000000001", u"1000000002", u"1000000003", u"1000000004"});
  column(2, 0, {u"X"});
  EXPECT_NEAR(calc(u"=Dvar(A1:A5,1,C1:C2)").number, 5.0 / 3, 1e-9);
  EXPECT_NEAR(calc(u"=Dvarp(A1:A5,1,C1:C2)").number, 1.25, 1e-9);
  EXPECT_NEAR(calc(u"=Dstdev(A1:A5,1,C1:C2)").number, std::sqrt(5.0 / 3), 1e-9);
  EXPECT_NEAR(calc(u"=Dstdevp(A1:A5,\"x\",C1:C2)").number, std::sqrt(1.25), 1e-9);
  column(2, 1, {u"<1000000002"});
  expectShown({{u"=Dvar(A1:A5,1,C1:C2)", u"!!Div0"}, {u"=Dvarp(A1:A5,1,C1:C2)", u"0"}});
}

}  // namespace
}  // namespace kelp
