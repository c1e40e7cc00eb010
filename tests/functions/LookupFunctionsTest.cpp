// Tests of the lookup and reference functions over tables of mixed kinds, the references
// they build, and the recalculation of formulas whose references are made as they run.
#include <tuple>

#include "model/FormulaTable.h"
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;

class LookupFunctionsTest : public EngineTest {
 protected:
  // A1:B11 on sheet 0: the first column holds numbers with a duplicate, a blank,
  // a date, texts (one with a literal "*"), a logical value and an error.
  void putTable() {
    const char16_t* labels[] = {u"ten",  u"twenty", u"twenty again", u"blank row", u"thirty", u"date five",
                                nullptr, nullptr,   u"yes",          u"err",       u"star"};
    for (int row = 0; row < 11; ++row)
      if (labels[row]) setText(1, row, labels[row]);
    for (auto [row, n] : {std::pair{0, 10}, {1, 20}, {2, 20}, {4, 30}}) setNumber(0, row, n);
    setValue(0, 5, dateTimeValue(5));
    setText(0, 6, u"apple");
    setNumber(1, 6, 1);
    setText(0, 7, u"banana");
    setNumber(1, 7, 2);
    setValue(0, 8, logicalValue(true));
    setValue(0, 9, errorValue(CellError::Div0));
    setText(0, 10, u"a*b");
    setValue(3, 0, dateTimeValue(5));  // D1: the date 5, to look for
  }
};

TEST_F(LookupFunctionsTest, VLookupAndHLookupOverMixedKinds) {
  putTable();
  // The cells the rules single out: 2.5 among 1, 2, 3; "b*" among apple, banana (a cell
  // task is no part of the text); the text "10" after the number 1000.
  for (int row = 0; row < 3; ++row) setNumber(5, row, row + 1);
  setText(6, 0, u"apple");
  setText(6, 1, u"banana#Task:Beep()");
  setNumber(7, 0, 5);
  setText(7, 1, u"10");
  setText(8, 0, u"five");
  setText(8, 1, u"ten");
  expectShown({
      // Exact: the first of two equal rows; case ignored; kinds never equal across; "~".
      {u"=VLookup(20,A1:B11,2,FALSE)", u"twenty"}, {u"=VLookup(\"BANANA\",A1:B11,2,FALSE)", u"2"},
      {u"=VLookup(D1,A1:B11,2,FALSE)", u"date five"}, {u"=VLookup(5,A1:B11,2,FALSE)", u"!!NA"},
      {u"=VLookup(\"*~**\",A1:B11,2,FALSE)", u"star"}, {u"=VLookup(\"a~?b\",A1:B11,2,FALSE)", u"!!NA"},
      // Approximate: an equal cell ends the walk, else the last smaller one anywhere.
      {u"=VLookup(20,A1:B11,2)", u"twenty"}, {u"=VLookup(25,A1:B11,2)", u"twenty again"},
      {u"=VLookup(99,A1:B11,2,TRUE)", u"thirty"}, {u"=VLookup(9,A1:B11,2)", u"!!NA"},
      {u"=VLookup(\"b*\",A1:B11,2)", u"star"},  // literal: "a*b" is the last text below "b*"
      {u"=VLookup(Z99,A1:B11,2,FALSE)", u"blank row"},  // an empty value finds the first empty cell
      // Errors: the sought error value itself, the column, several sheets, the leftmost first.
      {u"=VLookup(1/0,A1:B11,2,FALSE)", u"!!Div0"}, {u"=VLookup(10,A1:B11,0)", u"!!Val"},
      {u"=VLookup(10,A1:B11,3)", u"!!Ref"}, {u"=VLookup(10,Sheet1:Sheet2!A1:B11,2)", u"!!Ref"},
      {u"=VLookup(1/0,5,\"x\")", u"!!Div0"}, {u"=VLookup(2.5,F1:F3,1)", u"2"},
      {u"=VLookup(2.5,F1:F3,1,FALSE)", u"!!NA"}, {u"=VLookup(\"b*\",G1:G2,1,FALSE)", u"banana"},
      {u"=VLookup(\"b*\",G1:G2,1)", u"apple"}, {u"=VLookup(\"*task*\",G1:G2,1,FALSE)", u"!!NA"},
      {u"=VLookup(1000,H1:I2,2)", u"five"},
  });
  EXPECT_EQ(calc(u"=VLookup(10,A1:C11,3,FALSE)").kind, ValueKind::Empty);

  // HLookup: the same over the first row of E20:H21, on another sheet too.
  const char16_t* values[] = {u"one", u"three", u"ex", u"three again"};
  for (int s : {0, 1}) {
    for (int i = 0; i < 4; ++i) setText(4 + i, 20, values[i], s);
    for (int i : {0, 1, 3}) setNumber(4 + i, 19, i ? 3 : 1, s);
    setText(6, 19, u"x", s);
  }
  setText(5, 20, u"three on sheet 2", 1);
  expectShown({{u"=HLookup(4,E20:H21,2)", u"three again"}, {u"=HLookup(3,E20:H21,2,FALSE)", u"three"},
               {u"=HLookup(\"X\",E20:H21,2,FALSE)", u"ex"}, {u"=HLookup(0,E20:H21,2)", u"!!NA"},
               {u"=HLookup(1,E20:H21,3)", u"!!Ref"}, {u"=HLookup(3,Sheet2!E20:H21,2,FALSE)", u"three on sheet 2"}});
}

TEST_F(LookupFunctionsTest, MatchAndLookupWalkInOrder) {
  putTable();
  // E1:H1 holds 1 3 5 7, E2:H2 7 5 3 1, E3:H3 a b c d, K1:K4 a b c d.
  const char16_t* letters[] = {u"a", u"b", u"c", u"d"};
  for (int i = 0; i < 4; ++i) {
    setNumber(4 + i, 0, 2 * i + 1);
    setNumber(4 + i, 1, 7 - 2 * i);
    setText(4 + i, 2, letters[i]);
    setText(10, i, letters[i]);
  }
  // A whole column: the far cell is found, and the empty run before it is not walked cell by cell.
  setText(9, 59999, u"far");
  expectShown({
      {u"=Match(5,E1:H1)", u"3"}, {u"=Match(6,E1:H1)", u"3"}, {u"=Match(0,E1:H1)", u"!!NA"},
      {u"=Match(5,E2:H2,-1)", u"2"}, {u"=Match(6,E2:H2,-1)", u"1"}, {u"=Match(8,E2:H2,-1)", u"!!NA"},
      {u"=Match(0,E2:H2,-1)", u"4"}, {u"=Match(3,E1:H2,0)", u"2"}, {u"=Match(2,E1:H2,0)", u"!!NA"},  // row by row
      // Over the mixed column: duplicates, wildcards, and the blank that is greater than
      // every value, so an ascending walk stops there.
      {u"=Match(20,A1:A11,0)", u"2"}, {u"=Match(\"b?n*\",A1:A11,0)", u"8"}, {u"=Match(\"?\",A1:A11,0)", u"!!NA"},
      {u"=Match(\"???\",A1:A11,0)", u"11"}, {u"=Match(25,A1:A11)", u"3"}, {u"=Match(35,A1:A11)", u"3"},
      {u"=Match(1/0,A1:A11,0)", u"!!Div0"}, {u"=Match(1,E1:H1,\"x\")", u"!!Val"},
      {u"=Match(\"FAR\",J1:J65536,0)", u"60000"},
      {u"=Match(\"zzz\",J1:J65536)", u"!!NA"},       // the empty J1 ends an ascending walk
      {u"=Match(\"zzz\",J1:J65536,-1)", u"59999"},  // a descending walk passes empty cells
      // Lookup: along a row, down a column, and a result vector of another shape.
      {u"=Lookup(5,E1:H1,E3:H3)", u"c"}, {u"=Lookup(1,E1:H1,K1:K4)", u"a"}, {u"=Lookup(0,E1:H1,E3:H3)", u"!!NA"},
      {u"=Lookup(5,E1:H1,E3:G3)", u"!!NA"},  // vectors of different sizes
      {u"=Lookup(25,A1:A3,B1:B3)", u"twenty again"}, {u"=Lookup(\"APPLE\",A7:A8,B7:B8)", u"1"},
      {u"=Lookup(35,A1:A6,B1:B6)", u"twenty again"},  // the blank A4 ends the walk
  });
}

TEST_F(LookupFunctionsTest, IndexOffsetAndTheMeasuresOfReferences) {
  putTable();
  setNumber(0, 0, 7, 1);
  setNumber(1, 1, 8, 1);  // Sheet2!B2
  expectShown({
      {u"=Index(A1:B11,2,2)", u"twenty"}, {u"=Index(A1:B2,3,1)", u"!!Ref"}, {u"=Index(A1:B2,0,1)", u"!!Ref"},
      {u"=Index(A1:B2,1,1,2)", u"!!NA"}, {u"=Index(A1:B2,1,1,1)", u"10"}, {u"=Index(Sheet2!A1:B2,2,2)", u"8"},
      // The result is a reference wherever one is expected.
      {u"=Sum(Index(A1:A3,3,1))", u"20"}, {u"=Row(Index(C5:E9,2,3))", u"6"}, {u"=Column(Index(C5:E9,2,3))", u"5"},
      {u"=Offset(Index(A1:B11,2,1),1,0)", u"20"}, {u"=Offset(Index(Sheet2!A1:B2,1,1),1,1)", u"8"},
      {u"=Offset(A3,-2,0)", u"10"}, {u"=Offset(B2,0,-1,1,1)", u"20"}, {u"=Sum(Offset(A1,0,0,3,1))", u"50"},
      {u"=Sum(Offset(A1:A2,1,0))", u"40"},  // the size of the reference given
      {u"=Rows(Offset(A1,0,0,4,2))", u"4"}, {u"=Columns(Offset(A1,0,0,4,2))", u"2"},
      {u"=Sum(Offset(Sheet2!A1:B2,0,0))", u"15"},  // still on sheet 2
      // Nothing outside the sheet, at either end, by either count.
      {u"=Offset(A1,0,-1)", u"!!Ref"}, {u"=Offset(A1,-1,0)", u"!!Ref"}, {u"=Offset(IV1,0,1)", u"!!Ref"},
      {u"=Offset(A1,0,0,1,257)", u"!!Ref"}, {u"=Sum(Offset(A1,65535,0,2))", u"!!Ref"},
      {u"=Offset(A1,0,0,100000)", u"!!Ref"}, {u"=Offset(A1,0,0,3000000000)", u"!!Ref"},
      {u"=Offset(A1,70000,0)", u"!!Ref"}, {u"=Offset(A1,0,0,0)", u"!!Val"}, {u"=Offset(5,0,0)", u"!!Val"},
      {u"=Offset(A1,0,0,2)", u"!!Ref"},  // two cells as one value
      // Row and Column of the formula's own cell (the spare cell GS5001) and of references.
      {u"=Row()", u"5001"}, {u"=Column()", u"201"}, {u"=Row(C5:E9)", u"5"}, {u"=Column(C5:E9)", u"3"},
      {u"=Row(Sheet2!IV65536)", u"65536"}, {u"=Row(5)", u"!!Ref"}, {u"=Rows(A1:IV65536)", u"65536"},
      {u"=Columns(Sheet1:Sheet3!A1:IV1)", u"256"}, {u"=Rows(5)", u"!!Val"}, {u"=Columns(1/0)", u"!!Val"},
  });
  EXPECT_EQ(calc(u"=Offset(A1,65535,0)").kind, ValueKind::Empty);
}

TEST_F(LookupFunctionsTest, CountblankAndAddress) {
  // A1:A4: 1, an empty text, an error value and one empty cell; B1:B3 formulas giving
  // the empty text, the empty value and a text.
  setNumber(0, 0, 1);
  setText(0, 1, u"");
  setValue(0, 2, errorValue(CellError::NA));
  ASSERT_TRUE(enter(1, 0, u"=\"\""));
  ASSERT_TRUE(enter(1, 1, u"=Z1"));
  ASSERT_TRUE(enter(1, 2, u"=\"x\""));
  setNumber(5, 5, 1, 1);
  setText(6, 6, u"", 1);
  EXPECT_EQ(calc(u"=Countblank(Sheet2!A1:IV65536)").number, 65536.0 * 256 - 1);
  expectShown({
      {u"=Countblank(A1:A4)", u"3"}, {u"=Countblank(B1:B3)", u"2"}, {u"=Countblank(Sheet1:Sheet3!A1:A4)", u"11"},
      {u"=Countblank(\"\")", u"1"}, {u"=Countblank(Z9)", u"1"}, {u"=Countblank(5)", u"0"},
      {u"=Address(2,3)", u"$C$2"}, {u"=Address(2,3,2)", u"C$2"}, {u"=Address(2,3,3)", u"$C2"},
      {u"=Address(2,3,4,TRUE,\"Data\")", u"'Data'!C2"}, {u"=Address(2,3,1,FALSE,\"\")", u"$C$2"},
      {u"=Address(1,1,1,TRUE,\"Bob's\")", u"'Bob''s'!$A$1"}, {u"=Address(65536,256)", u"$IV$65536"},
      {u"=Address(1,27,4)", u"AA1"}, {u"=Address(1/0,\"x\")", u"!!Div0"},
      {u"=Address(1,0)", u"!!Val"}, {u"=Address(1,257)", u"!!Val"}, {u"=Address(0,1)", u"!!Val"},
      {u"=Address(65537,1)", u"!!Val"}, {u"=Address(1,1,0)", u"!!Val"}, {u"=Address(1,1,5)", u"!!Val"},
  });
}

TEST_F(LookupFunctionsTest, IndirectReadsTheReferenceSyntax) {
  putTable();
  setNumber(1, 2, 33, 1);  // Sheet2!B3
  setNumber(0, 0, 7, 1);   // Sheet2!A1
  const int books = book->externalBookCount();
  expectShown({
      {u"=Indirect(\" b2 \")", u"twenty"}, {u"=Indirect(\"'Sheet2'!$B$3\")", u"33"},
      {u"=Sum(Indirect(\"A3:A1\"))", u"50"}, {u"=Sum(Indirect(\"Sheet1:Sheet2!A1\"))", u"17"},
      {u"=Indirect(Address(3,2,4,TRUE,\"Sheet2\"))", u"33"}, {u"=Rows(Indirect(\"C1:C65536\"))", u"65536"},
      {u"=Indirect(\"A1\",FALSE)", u"!!NA"}, {u"=Indirect(\"A1\",TRUE)", u"10"}, {u"=Indirect(1/0)", u"!!Div0"},
  });
  // Anything but a lone reference is no reference.
  for (const char16_t* bad : {u"=Indirect(\"nonsense\")", u"=Indirect(\"\")", u"=Indirect(\"A1+1\")",
                              u"=Indirect(\"Sum(A1)\")", u"=Indirect(\"A0\")", u"=Indirect(\"IW1\")",
                              u"=Indirect(\"A65537\")", u"=Indirect(\"Nowhere!A1\")", u"=Indirect(\"Sheet2!\")",
                              u"=Indirect(\"=A1\")", u"=Indirect(\"[other.kp]Sheet1!A1\")", u"=Indirect(5)"})
    EXPECT_EQ(calc(bad).text, u"!!Ref") << utf16ToUtf8(bad);
  EXPECT_EQ(book->externalBookCount(), books) << "reading a reference adds no book";
  // A reference without a sheet stands on the formula's own sheet.
  ASSERT_TRUE(enter(5, 5, u"=Indirect(\"A1\")+Indirect(\"Sheet1!A1\")", 1));
  recalculateAll(*book);
  EXPECT_EQ(cell(5, 5, 1).number, 17);
}

TEST_F(LookupFunctionsTest, FormulasReadingThroughIndirectOrOffsetAreCurrentAfterOneRecalculation) {
  // A1 and A3 read B1:B3 through references made as they run; A2 and A4 read them in
  // turn. All four are entered before the formulas they read.
  const std::tuple<int, int, const char16_t*> formulas[] = {
      {0, 0, u"=Sum(Indirect(\"B1:B3\"))"}, {0, 1, u"=A1+1"}, {0, 2, u"=Offset(B1,2,0)*1"},
      {0, 3, u"=A3*10"},                    {1, 0, u"=C1*2"}, {1, 2, u"=C1+100"}};
  for (auto [col, row, formula] : formulas) ASSERT_TRUE(enter(col, row, formula));
  setNumber(2, 0, 1);
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 3).number, 1010);
  setNumber(2, 0, 5);
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 10 + 105);
  EXPECT_EQ(cell(0, 1).number, 116);
  EXPECT_EQ(cell(0, 2).number, 105);
  EXPECT_EQ(cell(0, 3).number, 1050);
  // With those formulas gone there is nothing to run again.
  EXPECT_NE(book->formulas().rerunFrom, NoHandle);
  for (int row = 0; row < 4; ++row) ASSERT_TRUE(sheet().setCell(0, row, {emptyValue(), 0}));
  recalculateAll(*book);
  EXPECT_EQ(book->formulas().rerunFrom, NoHandle);
}

}  // namespace
}  // namespace kelp
