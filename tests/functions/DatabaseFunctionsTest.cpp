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
  std::u16string text(std::u16string_view formula) { return calc(formula).text; }
};

TEST_F(DatabaseFunctionsTest, CountifAndSumifTakeEveryOperatorOverMixedKinds) {
  fillMixedColumn();
  struct Case {
    const char16_t* criterion;
    double count;
    double sum;
  } cases[] = {
      // Order relations hold within one kind, numbers and dates together: no text,
      // logical value or error is greater than 5, and blanks are neither.
      {u"\">5\"", 2, 4 + 1024},
      {u"\">1000\"", 1, 1024},
      {u"\"<=5\"", 3, 1 + 256 + 2048},
      {u"\"<5\"", 1, 2048},
      {u"\">=b\"", 0, 0},
      {u"\">=APRICOT\"", 1, 32},
      {u"\"<b\"", 4, 2 + 16 + 32 + 512},
      {u"\"=5\"", 2, 1 + 256},
      {u"5", 2, 1 + 256},
      {u"\"10\"", 0, 0},    // the number 10, which the text "10" is not
      {u"\"==10\"", 0, 0},  // the text "=10"
      {u"\"<>5\"", 10, 4095 - 1 - 256},  // a blank is unequal to 5
      // An empty operand: "=" and "" match the blank, "<>" everything else.
      {u"\"=\"", 1, 8},
      {u"\"\"", 1, 8},
      {u"\"<>\"", 11, 4095 - 8},
      {u"\"=APPLE\"", 1, 16},
      {u"\"TRUE\"", 1, 64},
      {u"NA()", 1, 128},
      // Wildcards ignore case; "~" makes "*" literal.
      {u"\"a*\"", 3, 16 + 32 + 512},
      {u"\"?PPLE\"", 1, 16},
      {u"\"a~*b\"", 1, 512},
      {u"\"<>a*\"", 9, 4095 - 16 - 32 - 512},
      {u"\"a*\"&\"e\"", 1, 16},
      // Dates equal only dates, and are ordered against numbers by value.
      {u"\"1/15/2024\"", 1, 1024},
      {u"D1", 1, 1024},
      {u"\"<1/15/2024\"", 4, 1 + 4 + 256 + 2048},
      {u"\"<1/15/1900\"", 3, 1 + 256 + 2048},
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
  EXPECT_EQ(calc(u"=Countif(A1:A12,E1)").number, 2);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,E2,B1:B12)").number, 2048);
  EXPECT_EQ(text(u"=Countif(5,5)"), u"!!Val");
  EXPECT_EQ(text(u"=Sumif(A1:A12,5,7)"), u"!!Val");
}

TEST_F(DatabaseFunctionsTest, SumifTakesItsSumCellsInTheRangesShape) {
  fillMixedColumn();
  setNumber(1, 12, 10000);  // B13
  // A smaller sum range grows to the range's shape from its first cell; a larger one is cut.
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,B1:B3)").number, 1 + 256);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,B5)").number, 16 + 10000);
  EXPECT_EQ(calc(u"=Sumif(A1:A3,5,B1:B12)").number, 1);
  // Blank range cells pair with their sum cells when blanks match: A4 with C4, A21 with C21.
  column(2, 0, {u"1/1/2023", u"", u"", u"7"});
  setNumber(2, 20, 9);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"=\",C1)").number, 7);
  EXPECT_EQ(calc(u"=Sumif(A1:A21,\"<>a*\",C2)").number, 16);
  // Dates add as numbers and make the result a date.
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"<=5\",C1)").kind, ValueKind::DateTime);
  // Two columns pair cell by cell: A1 with F1, B4 with G4.
  column(5, 0, {u"1"});
  column(6, 1, {u"2", u"", u"4"});
  EXPECT_EQ(calc(u"=Sumif(A1:B4,\">=5\",F1)").number, 1 + 4);
  // Sum cells beyond the last row are cut off.
  column(0, 65534, {u"5", u"5"});
  setNumber(1, 65535, 3);
  EXPECT_EQ(calc(u"=Sumif(A65535:A65536,5,B65536)").number, 3);
  EXPECT_EQ(calc(u"=Sumif(A65535:A65536,\"<>4\",B65536)").number, 3);
  // An error in a matching sum cell is the result; elsewhere it is ignored.
  EXPECT_EQ(text(u"=Sumif(A1:A12,\"<>5\")"), u"!!NA");
  EXPECT_EQ(calc(u"=Sumif(A1:A7,\"<>5\")").number, 1000);
  setValue(1, 3, errorValue(CellError::Div0));
  EXPECT_EQ(text(u"=Sumif(A1:A12,\"\",B1:B12)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"a*\",B1:B12)").number, 16 + 32 + 512);
}

TEST_F(DatabaseFunctionsTest, DatabaseRowsAreAlternativesAndColumnsMustAllHold) {
  fillDatabase();
  column(7, 0, {u"NAME", u"apple", u"b*"});  // apple or anything starting with b
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"qty\",H1:H3)").number, 5 + 3 + 1);  // "many" is no number
  EXPECT_EQ(calc(u"=Dsum(A1:D7,3.9,H1:H3)").number, 9);
  EXPECT_EQ(calc(u"=Dcount(A1:D7,\"Qty\",H1:H3)").number, 3);
  EXPECT_EQ(calc(u"=Dcounta(A1:D7,\"Qty\",H1:H3)").number, 4);
  EXPECT_EQ(calc(u"=Daverage(A1:D7,\"Qty\",H1:H3)").number, 3);
  EXPECT_EQ(calc(u"=Dmin(A1:D7,\"Qty\",H1:H3)").number, 1);
  EXPECT_EQ(calc(u"=Dproduct(A1:D7,\"Qty\",H1:H3)").number, 15);
  EXPECT_DOUBLE_EQ(calc(u"=Dvarp(A1:D7,\"Qty\",H1:H3)").number, 8.0 / 3);

  // Kind veg and quantity below 5, or (second row) quantity below 4.
  column(9, 0, {u"kind", u"veg"});
  column(10, 0, {u"QTY", u"<5", u"<4"});
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Price\",J1:K2)").number, 4);
  EXPECT_EQ(calc(u"=Dcount(A1:D7,\"Price\",J1:K3)").number, 2);  // cherry's price is an error
  EXPECT_EQ(text(u"=Dsum(A1:D7,\"Price\",J1:K3)"), u"!!Div0");
  // A criteria row of blanks selects every record; so do titles alone.
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",J1:K4)").number, 19);
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",J1:K1)").number, 19);
  column(12, 0, {u"Kind", u"'="});  // records whose kind is blank
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",M1:M2)").number, 2);

  // The field: a title or a number within the columns; a blank field lets Dcount and
  // Dcounta count the selected records.
  for (const char16_t* field : {u"0", u"5", u"\"Weight\"", u"TRUE", u"Z1"})
    EXPECT_EQ(text(u"=Dsum(A1:D7," + std::u16string(field) + u",H1:H3)"), u"!!Val") << utf16ToUtf8(field);
  EXPECT_EQ(text(u"=Dsum(A1:D7,1/0,H1:H3)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Dcount(A1:D7,Z1,H1:H3)").number, 4);
  EXPECT_EQ(calc(u"=Dcounta(A1:D7,Z1,H1:H3)").number, 4);
  // A criteria title that names no column, or a condition under a blank title.
  column(14, 0, {u"Colour", u"red"});
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",O1:O2)"), u"!!Val");
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",N1:N2)"), u"5");
  column(13, 1, {u"x"});
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",N1:N2)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(5,\"Qty\",H1:H3)"), u"!!Val");
}

TEST_F(DatabaseFunctionsTest, DgetNeedsExactlyOneMatchingRecord) {
  fillDatabase();
  column(7, 0, {u"Name", u"BANANA"});
  EXPECT_EQ(calc(u"=Dget(A1:D7,\"Price\",H1:H2)").number, 2);
  column(7, 1, {u"apple"});
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Num");
  column(7, 1, {u"fig"});
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Val");
  // The value as it stands, an error included; a blank is !!Val.
  column(7, 1, {u"ch*"});
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Div0");
  EXPECT_EQ(text(u"=Dget(A1:D7,1,H1:H2)"), u"cherry");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Kind\",H1:H2)"), u"!!Val");
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
  EXPECT_EQ(text(u"=Dvar(A1:A5,1,C1:C2)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Dvarp(A1:A5,1,C1:C2)").number, 0);
}

}  // namespace
}  // namespace kelp
