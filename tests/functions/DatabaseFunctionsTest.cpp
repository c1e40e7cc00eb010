// Tests of Sumif, Countif and the database functions: criteria with every operator over
// cells of every kind, sum ranges of another shape, OR rows and AND columns, Dget.
#include <cmath>
#include <string>

#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;
using test::Result;

class DatabaseFunctionsTest : public EngineTest {
 protected:
  // Column A: 5, "10", 1000, blank, apple, Apricot, TRUE, !!NA, 5, a*b, a date, 0;
  // column B the powers of two 1 … 2048 beside them.
  void fillMixedColumn() {
    setNumber(0, 0, 5);
    setText(0, 1, u"10");
    setNumber(0, 2, 1000);
    setText(0, 4, u"apple");
    setText(0, 5, u"Apricot");
    setValue(0, 6, logicalValue(true));
    setValue(0, 7, errorValue(CellError::NA));
    setNumber(0, 8, 5);
    setText(0, 9, u"a*b");
    setValue(0, 10, dateTimeValue(45306));  // 15 January 2024
    setNumber(0, 11, 0);
    for (int row = 0; row < 12; ++row) setNumber(1, row, std::ldexp(1.0, row));
  }

  // A1:D7 titled Name, Kind, Qty, Price, with a duplicate name, a blank kind, a text
  // quantity and an error price.
  void fillDatabase() {
    const char16_t* titles[] = {u"Name", u"Kind", u"Qty", u"Price"};
    for (int c = 0; c < 4; ++c) setText(c, 0, titles[c]);
    struct Record {
      const char16_t* name;
      const char16_t* kind;
      double qty;
      double price;
    } records[] = {{u"apple", u"fruit", 5, 1.5}, {u"Banana", u"fruit", 3, 2}, {u"carrot", u"veg", 8, 3},
                   {u"apple", u"veg", 1, 4},     {u"cherry", nullptr, 2, 0},   {u"Beet", u"veg", 0, 6}};
    for (int r = 0; r < 6; ++r) {
      setText(0, r + 1, records[r].name);
      if (records[r].kind) setText(1, r + 1, records[r].kind);
      setNumber(2, r + 1, records[r].qty);
      setNumber(3, r + 1, records[r].price);
    }
    setText(2, 6, u"many");
    setValue(3, 5, errorValue(CellError::Div0));
  }

  std::u16string text(std::u16string_view formula) { return calc(formula).text; }
};

TEST_F(DatabaseFunctionsTest, CountifAndSumifTakeEveryOperatorOverMixedKinds) {
  fillMixedColumn();
  setValue(3, 0, dateTimeValue(45306));
  struct Case {
    const char16_t* criterion;
    double count;
    double sum;
  } cases[] = {
      // Across kinds numbers come before dates, texts, logical values and errors, so a
      // text, TRUE, !!NA and the date are all greater than 5; blanks never are.
      {u"\">5\"", 8, 2 + 4 + 16 + 32 + 64 + 128 + 512 + 1024},
      {u"\">1000\"", 7, 2 + 16 + 32 + 64 + 128 + 512 + 1024},  // the text "10" is greater than 1000
      {u"\">=1000\"", 8, 2 + 4 + 16 + 32 + 64 + 128 + 512 + 1024},
      {u"\"<=5\"", 3, 1 + 256 + 2048},
      {u"\"<5\"", 1, 2048},
      {u"\">b\"", 2, 64 + 128},  // no text is, but TRUE and !!NA are
      {u"\"=5\"", 2, 1 + 256},
      {u"5", 2, 1 + 256},
      {u"\"10\"", 0, 0},  // reads as the number 10, which the text "10" is not
      {u"\"==10\"", 0, 0},  // the text "=10"
      {u"\"<>5\"", 10, 4095 - 1 - 256},  // blanks are unequal to 5
      // An empty operand: "=" and "" match the blank, "<>" everything else.
      {u"\"=\"", 1, 8},
      {u"\"\"", 1, 8},
      {u"\"<>\"", 11, 4095 - 8},
      {u"\"=APPLE\"", 1, 16},
      {u"\"TRUE\"", 1, 64},
      {u"TRUE", 1, 64},
      {u"NA()", 1, 128},
      // Wildcards, without regard to case; "~" makes "*" literal.
      {u"\"a*\"", 3, 16 + 32 + 512},
      {u"\"?PPLE\"", 1, 16},
      {u"\"a~*b\"", 1, 512},
      {u"\"<>a*\"", 9, 4095 - 16 - 32 - 512},
      {u"\"a*\"&\"e\"", 1, 16},
      // Dates: the date operand is read from the text; only dates equal it.
      {u"\"1/15/2024\"", 1, 1024},
      {u"D1", 1, 1024},
      {u"\"<1/15/2024\"", 4, 1 + 4 + 256 + 2048},  // every number is before every date
      {u"\">1/15/2024\"", 6, 2 + 16 + 32 + 64 + 128 + 512},
  };
  for (const Case& c : cases) {
    std::u16string criterion(c.criterion);
    Result count = calc(u"=Countif(A1:A12," + criterion + u")");
    EXPECT_EQ(count.kind, ValueKind::Number) << utf16ToUtf8(criterion);
    EXPECT_EQ(count.number, c.count) << utf16ToUtf8(criterion);
    EXPECT_EQ(calc(u"=Sumif(A1:A12," + criterion + u",B1:B12)").number, c.sum) << utf16ToUtf8(criterion);
  }
}

TEST_F(DatabaseFunctionsTest, SumifTakesDatesErrorsAndCriteriaFromCells) {
  fillMixedColumn();
  // Sum cells are added when they are numbers or dates; a date makes the result a date.
  setValue(2, 0, dateTimeValue(45000));
  setNumber(2, 8, 3);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,C1:C12)").kind, ValueKind::DateTime);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,C1:C12)").number, 45003);
  // Without a sum range the matching cells themselves are added; an error among them is the result.
  EXPECT_EQ(calc(u"=Sumif(B1:B12,\">100\")").number, 128 + 256 + 512 + 1024 + 2048);
  EXPECT_EQ(text(u"=Sumif(A1:A12,\"<>5\")"), u"!!NA");
  EXPECT_EQ(calc(u"=Sumif(A1:A7,\"<>5\")").number, 1000);
  // Only errors in matching sum cells count.
  setValue(1, 3, errorValue(CellError::Div0));
  EXPECT_EQ(text(u"=Sumif(A1:A12,\"=\",B1:B12)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"a*\",B1:B12)").number, 16 + 32 + 512);

  // A criterion in a cell: a text is read for its operator, a number must be equal,
  // a blank is 0.
  setText(4, 0, u">=1000");
  setNumber(4, 1, 1000);
  EXPECT_EQ(calc(u"=Countif(A1:A12,E1)").number, 8);
  EXPECT_EQ(calc(u"=Countif(A1:A12,E2)").number, 1);
  EXPECT_EQ(calc(u"=Countif(A1:A12,E3)").number, 1);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,E3,B1:B12)").number, 2048);
  // Arguments that must be references.
  EXPECT_EQ(text(u"=Countif(5,5)"), u"!!Val");
  EXPECT_EQ(text(u"=Sumif(A1:A12,5,7)"), u"!!Val");
}

TEST_F(DatabaseFunctionsTest, SumRangeTakesTheShapeOfTheRangeFromItsFirstCell) {
  fillMixedColumn();
  setNumber(1, 12, 10000);  // B13, beyond the sum range as written
  // A smaller sum range grows to the range's shape: A9 = 5 pairs with B9.
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,B1:B3)").number, 1 + 256);
  // A single cell stands for a column as tall as the range: A1 with B5, A9 with B13.
  EXPECT_EQ(calc(u"=Sumif(A1:A12,5,B5)").number, 16 + 10000);
  // A larger one is cut to the range's shape.
  EXPECT_EQ(calc(u"=Sumif(A1:A3,5,B1:B12)").number, 1);
  // Blank range cells pair with their sum cells when blanks match: A4 with C4.
  setNumber(2, 3, 7);
  setNumber(2, 20, 9);  // C21: paired with A21, blank, outside a range of 12 rows
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"=\",C1:C12)").number, 7);
  EXPECT_EQ(calc(u"=Sumif(A1:A12,\"=\",C1)").number, 7);
  EXPECT_EQ(calc(u"=Sumif(A1:A21,\"<>5\",C1)").number, 16);
  // Two columns pair row by row and column by column.
  setNumber(5, 0, 1);
  setNumber(6, 1, 2);
  setNumber(6, 3, 4);
  EXPECT_EQ(calc(u"=Sumif(A1:B4,\">=5\",F1)").number, 1 + 4);  // A1 with F1, B4 with G4
  EXPECT_EQ(calc(u"=Sumif(A1:B4,\"\",F1:G4)").number, 0);
  EXPECT_EQ(calc(u"=Countif(A1:B4,\">=5\")").number, 4);
}

TEST_F(DatabaseFunctionsTest, DatabaseRowsAreAlternativesAndColumnsMustAllHold) {
  fillDatabase();
  // One column, two rows: apple or anything starting with b.
  setText(7, 0, u"NAME");
  setText(7, 1, u"apple");
  setText(7, 2, u"b*");
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"qty\",H1:H3)").number, 5 + 3 + 1);  // Beet's "many" is no number
  EXPECT_EQ(calc(u"=Dcount(A1:D7,\"Qty\",H1:H3)").number, 3);
  EXPECT_EQ(calc(u"=Dcounta(A1:D7,\"Qty\",H1:H3)").number, 4);
  EXPECT_EQ(calc(u"=Dsum(A1:D7,3,H1:H3)").number, 9);
  EXPECT_EQ(calc(u"=Dsum(A1:D7,3.9,H1:H3)").number, 9);
  EXPECT_EQ(calc(u"=Daverage(A1:D7,\"Qty\",H1:H3)").number, 3);
  EXPECT_EQ(calc(u"=Dmin(A1:D7,\"Qty\",H1:H3)").number, 1);
  EXPECT_EQ(calc(u"=Dmax(A1:D7,\"Qty\",H1:H3)").number, 5);
  EXPECT_EQ(calc(u"=Dproduct(A1:D7,\"Qty\",H1:H3)").number, 15);
  EXPECT_DOUBLE_EQ(calc(u"=Dvarp(A1:D7,\"Qty\",H1:H3)").number, 8.0 / 3);
  EXPECT_EQ(calc(u"=Dvar(A1:D7,\"Qty\",H1:H3)").number, 4);
  EXPECT_EQ(calc(u"=Dstdev(A1:D7,\"Qty\",H1:H3)").number, 2);

  // Two columns in one row: kind veg and quantity below 5.
  setText(9, 0, u"kind");
  setText(10, 0, u"QTY");
  setText(9, 1, u"veg");
  setText(10, 1, u"<5");
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Price\",J1:K2)").number, 4);
  // A second row with a blank Kind cell sets only the quantity, below 4.
  setText(10, 2, u"<4");
  EXPECT_EQ(calc(u"=Dcount(A1:D7,\"Price\",J1:K3)").number, 2);  // cherry's price is an error
  EXPECT_EQ(text(u"=Dsum(A1:D7,\"Price\",J1:K3)"), u"!!Div0");
  // A criteria row of blanks selects every record; so do titles alone.
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",J1:K4)").number, 19);
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",J1:K1)").number, 19);
  // "=" selects records whose Kind is blank.
  setText(12, 0, u"Kind");
  setText(12, 1, u"=");
  EXPECT_EQ(calc(u"=Dsum(A1:D7,\"Qty\",M1:M2)").number, 2);
  EXPECT_EQ(calc(u"=Dcounta(A1:D7,\"Kind\",M1:M2)").number, 0);

  // The field: a title (any case) or a number within the columns; a blank field lets
  // Dcount and Dcounta count the selected records.
  EXPECT_EQ(text(u"=Dsum(A1:D7,0,H1:H3)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(A1:D7,5,H1:H3)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(A1:D7,\"Weight\",H1:H3)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(A1:D7,TRUE,H1:H3)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(A1:D7,1/0,H1:H3)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Dcount(A1:D7,Z1,H1:H3)").number, 4);
  EXPECT_EQ(calc(u"=Dcounta(A1:D7,Z1,H1:H3)").number, 4);
  EXPECT_EQ(text(u"=Dsum(A1:D7,Z1,H1:H3)"), u"!!Val");
  // A criteria title that names no column, or a condition under a blank title.
  setText(14, 0, u"Colour");
  setText(14, 1, u"red");
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",O1:O2)"), u"!!Val");
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",N1:N2)"), u"5");  // blank title, blank condition
  setText(13, 1, u"x");
  EXPECT_EQ(text(u"=Dcount(A1:D7,\"Qty\",N1:N2)"), u"!!Val");
  EXPECT_EQ(text(u"=Dsum(5,\"Qty\",H1:H3)"), u"!!Val");
}

TEST_F(DatabaseFunctionsTest, DgetNeedsExactlyOneMatchingRecord) {
  fillDatabase();
  setText(7, 0, u"Name");
  setText(7, 1, u"BANANA");
  EXPECT_EQ(calc(u"=Dget(A1:D7,\"Price\",H1:H2)").number, 2);
  setText(7, 1, u"apple");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Num");
  setText(7, 1, u"fig");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Val");
  // The one value as it stands: a text, an error, and a blank field is !!Val.
  setText(7, 1, u"ch*");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Price\",H1:H2)"), u"!!Div0");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Name\",H1:H2)"), u"cherry");
  EXPECT_EQ(text(u"=Dget(A1:D7,\"Kind\",H1:H2)"), u"!!Val");
  // Criteria on a number column and a title given by number.
  setText(8, 0, u"Qty");
  setText(8, 1, u"<2");
  EXPECT_EQ(text(u"=Dget(A1:D7,1,I1:I2)"), u"apple");
}

TEST_F(DatabaseFunctionsTest, DatabaseVariancesKeepTheirDigitsForLargeCloseValues) {
  // (n·Σx² − (Σx)²) cancels every digit here; the deviations from the first value do not.
  setText(0, 0, u"x");
  for (int i = 1; i <= 4; ++i) setNumber(0, i, 1e9 + i);
  setText(2, 0, u"x");
  EXPECT_NEAR(calc(u"=Dvar(A1:A5,1,C1:C2)").number, 5.0 / 3, 1e-9);
  EXPECT_NEAR(calc(u"=Dvarp(A1:A5,1,C1:C2)").number, 1.25, 1e-9);
  EXPECT_NEAR(calc(u"=Dstdev(A1:A5,1,C1:C2)").number, std::sqrt(5.0 / 3), 1e-9);
  EXPECT_NEAR(calc(u"=Dstdevp(A1:A5,\"X\",C1:C2)").number, std::sqrt(1.25), 1e-9);
  EXPECT_NEAR(calc(u"=Daverage(A1:A5,1,C1:C2)").number, 1e9 + 2.5, 1e-6);
  // One value has no sample variance; none has no mean.
  setText(2, 1, u"<1000000002");
  EXPECT_EQ(text(u"=Dvar(A1:A5,1,C1:C2)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Dvarp(A1:A5,1,C1:C2)").number, 0);
  setText(2, 1, u">2000000000");
  EXPECT_EQ(text(u"=Daverage(A1:A5,1,C1:C2)"), u"!!Div0");
  EXPECT_EQ(calc(u"=Dproduct(A1:A5,1,C1:C2)").number, 0);
  EXPECT_EQ(calc(u"=Dmax(A1:A5,1,C1:C2)").number, 0);
}

}  // namespace
}  // namespace kelp
