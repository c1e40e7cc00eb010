// Tests of the lookup and reference functions: searches over tables of mixed kinds with
// blanks, duplicates and wildcards; references built by Index, Offset and Indirect;
// Address, Countblank; and the recalculation of formulas whose references are made as
// they run.
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
    const std::pair<int, const char16_t*> rows[] = {
        {0, u"ten"},  {1, u"twenty"}, {2, u"twenty again"}, {3, u"blank row"}, {4, u"thirty"},  {5, u"date five"},
        {6, nullptr}, {7, nullptr},   {8, u"yes"},          {9, u"err"},       {10, u"star"},
    };
    for (auto [row, label] : rows)
      if (label) setText(1, row, label);
    setNumber(0, 0, 10);
    setNumber(0, 1, 20);
    setNumber(0, 2, 20);
    setNumber(0, 4, 30);
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
  std::u16string text(std::u16string_view formula) { return calc(formula).text; }
  double number(std::u16string_view formula) {
    test::Result r = calc(formula);
    EXPECT_EQ(r.kind, ValueKind::Number) << utf16ToUtf8(formula) << " gave " << utf16ToUtf8(r.text);
    return r.number;
  }
};

TEST_F(LookupFunctionsTest, VLookupAndHLookupOverMixedKinds) {
  putTable();
  // Exact: the first of two equal rows; case ignored; kinds never equal across.
  EXPECT_EQ(text(u"=VLookup(20,A1:B11,2,FALSE)"), u"twenty");
  EXPECT_EQ(text(u"=VLookup(\"BANANA\",A1:B11,2,FALSE)"), u"2");
  EXPECT_EQ(text(u"=VLookup(D1,A1:B11,2,FALSE)"), u"date five");
  EXPECT_EQ(text(u"=VLookup(5,A1:B11,2,FALSE)"), u"!!NA") << "the number 5 is not the date 5";
  EXPECT_EQ(text(u"=VLookup(TRUE,A1:B11,2,FALSE)"), u"yes");
  // Wildcards in exact mode, "~" making "*" literal.
  EXPECT_EQ(text(u"=VLookup(\"b*\",A1:B11,2,FALSE)"), u"2");
  EXPECT_EQ(text(u"=VLookup(\"*\",A1:B11,2,FALSE)"), u"1");
  EXPECT_EQ(text(u"=VLookup(\"*~**\",A1:B11,2,FALSE)"), u"star");
  EXPECT_EQ(text(u"=VLookup(\"a~?b\",A1:B11,2,FALSE)"), u"!!NA");
  // Approximate: an equal cell ends the walk, else the last smaller one anywhere.
  EXPECT_EQ(text(u"=VLookup(20,A1:B11,2)"), u"twenty");
  EXPECT_EQ(text(u"=VLookup(25,A1:B11,2)"), u"twenty again");
  EXPECT_EQ(text(u"=VLookup(99,A1:B11,2,TRUE)"), u"thirty") << "the date sorts after every number";
  EXPECT_EQ(text(u"=VLookup(9,A1:B11,2)"), u"!!NA");
  EXPECT_EQ(text(u"=VLookup(\"b*\",A1:B11,2)"), u"star") << "literal: \"a*b\" is the last text below \"b*\"";
  // An empty value finds the first empty cell; an empty result cell gives the empty value.
  EXPECT_EQ(text(u"=VLookup(Z99,A1:B11,2,FALSE)"), u"blank row");
  EXPECT_EQ(calc(u"=VLookup(10,A1:C11,3,FALSE)").kind, ValueKind::Empty);
  // Errors: the sought error value itself, the column, several sheets, the leftmost first.
  EXPECT_EQ(text(u"=VLookup(1/0,A1:B11,2,FALSE)"), u"!!Div0");
  EXPECT_EQ(text(u"=VLookup(10,A1:B11,0)"), u"!!Val");
  EXPECT_EQ(text(u"=VLookup(10,A1:B11,3)"), u"!!Ref");
  EXPECT_EQ(text(u"=VLookup(10,Sheet1:Sheet2!A1:B11,2)"), u"!!Ref");
  EXPECT_EQ(text(u"=VLookup(1/0,5,\"x\")"), u"!!Div0");
  // The cells the rules single out: 2.5 among 1, 2, 3; "b*" among apple, banana.
  setNumber(5, 0, 1);
  setNumber(5, 1, 2);
  setNumber(5, 2, 3);
  EXPECT_EQ(number(u"=VLookup(2.5,F1:F3,1)"), 2);
  EXPECT_EQ(text(u"=VLookup(2.5,F1:F3,1,FALSE)"), u"!!NA");
  setText(6, 0, u"apple");
  setText(6, 1, u"banana#Task:Beep()");
  EXPECT_EQ(text(u"=VLookup(\"b*\",G1:G2,1,FALSE)"), u"banana") << "a cell task is no part of the text";
  EXPECT_EQ(text(u"=VLookup(\"b*\",G1:G2,1)"), u"apple");
  EXPECT_EQ(text(u"=VLookup(\"BANANA\",G1:G2,1,FALSE)"), u"banana");
  EXPECT_EQ(text(u"=VLookup(\"*task*\",G1:G2,1,FALSE)"), u"!!NA");
  EXPECT_EQ(text(u"=VLookup(\"c\",G1:G2,1)"), u"banana");
  // The text "10" sorts after the number 1000.
  setNumber(7, 0, 5);
  setText(7, 1, u"10");
  setText(8, 0, u"five");
  setText(8, 1, u"ten");
  EXPECT_EQ(text(u"=VLookup(1000,H1:I2,2)"), u"five");

  // HLookup: the same over the first row of E20:H21, on another sheet too.
  for (int s : {0, 1}) {
    setNumber(4, 19, 1, s);
    setNumber(5, 19, 3, s);
    setText(6, 19, u"x", s);
    setNumber(7, 19, 3, s);
    setText(4, 20, u"one", s);
    setText(5, 20, u"three", s);
    setText(6, 20, u"ex", s);
    setText(7, 20, u"three again", s);
  }
  setText(5, 20, u"three on sheet 2", 1);
  EXPECT_EQ(text(u"=HLookup(4,E20:H21,2)"), u"three again");
  EXPECT_EQ(text(u"=HLookup(3,E20:H21,2,FALSE)"), u"three");
  EXPECT_EQ(text(u"=HLookup(\"X\",E20:H21,2,FALSE)"), u"ex");
  EXPECT_EQ(text(u"=HLookup(0,E20:H21,2)"), u"!!NA");
  EXPECT_EQ(text(u"=HLookup(1,E20:H21,3)"), u"!!Ref");
  EXPECT_EQ(text(u"=HLookup(3,Sheet2!E20:H21,2,FALSE)"), u"three on sheet 2");
}

TEST_F(LookupFunctionsTest, MatchAndLookupWalkInOrder) {
  putTable();
  // A row holding 1 3 5 7 (E1:H1) and 7 5 3 1 below it.
  const double up[] = {1, 3, 5, 7};
  for (int i = 0; i < 4; ++i) {
    setNumber(4 + i, 0, up[i]);
    setNumber(4 + i, 1, up[3 - i]);
  }
  EXPECT_EQ(number(u"=Match(5,E1:H1)"), 3);
  EXPECT_EQ(number(u"=Match(6,E1:H1)"), 3);
  EXPECT_EQ(text(u"=Match(0,E1:H1)"), u"!!NA");
  EXPECT_EQ(number(u"=Match(9,E1:H1,1)"), 4);
  EXPECT_EQ(number(u"=Match(5,E2:H2,-1)"), 2);
  EXPECT_EQ(number(u"=Match(6,E2:H2,-1)"), 1);
  EXPECT_EQ(text(u"=Match(8,E2:H2,-1)"), u"!!NA");
  EXPECT_EQ(number(u"=Match(0,E2:H2,-1)"), 4);
  EXPECT_EQ(number(u"=Match(3,E1:H2,0)"), 2) << "row by row";
  EXPECT_EQ(text(u"=Match(2,E1:H2,0)"), u"!!NA");
  // Over the mixed column: duplicates, wildcards, and the blank that is greater than
  // every value, so an ascending walk stops there.
  EXPECT_EQ(number(u"=Match(20,A1:A11,0)"), 2);
  EXPECT_EQ(number(u"=Match(\"b?n*\",A1:A11,0)"), 8);
  EXPECT_EQ(text(u"=Match(\"?\",A1:A11,0)"), u"!!NA");
  EXPECT_EQ(number(u"=Match(\"???\",A1:A11,0)"), 11);
  EXPECT_EQ(number(u"=Match(25,A1:A11)"), 3);
  EXPECT_EQ(number(u"=Match(35,A1:A11)"), 3);
  EXPECT_EQ(text(u"=Match(1/0,A1:A11,0)"), u"!!Div0");
  EXPECT_EQ(text(u"=Match(1,E1:H1,\"x\")"), u"!!Val");
  // A whole column: the far cell is found, and the empty run before it is not walked cell by cell.
  setText(9, 59999, u"far");
  EXPECT_EQ(number(u"=Match(\"FAR\",J1:J65536,0)"), 60000);
  EXPECT_EQ(text(u"=Match(\"zzz\",J1:J65536)"), u"!!NA") << "the empty J1 ends an ascending walk";
  EXPECT_EQ(number(u"=Match(\"zzz\",J1:J65536,-1)"), 59999) << "a descending walk passes empty cells";

  // Lookup: along a row, down a column, and a result vector of another shape.
  const char16_t* letters[] = {u"a", u"b", u"c", u"d"};
  for (int i = 0; i < 4; ++i) setText(4 + i, 2, letters[i]);
  for (int i = 0; i < 4; ++i) setText(9, i, letters[i]);
  EXPECT_EQ(text(u"=Lookup(5,E1:H1,E3:H3)"), u"c");
  EXPECT_EQ(text(u"=Lookup(9,E1:H1,E3:H3)"), u"d");
  EXPECT_EQ(text(u"=Lookup(1,E1:H1,J1:J4)"), u"a");
  EXPECT_EQ(text(u"=Lookup(0,E1:H1,E3:H3)"), u"!!NA");
  EXPECT_EQ(text(u"=Lookup(5,E1:H1,E3:G3)"), u"!!NA") << "vectors of different sizes";
  EXPECT_EQ(text(u"=Lookup(25,A1:A3,B1:B3)"), u"twenty again");
  EXPECT_EQ(text(u"=Lookup(\"APPLE\",A7:A8,B7:B8)"), u"1");
  EXPECT_EQ(text(u"=Lookup(35,A1:A6,B1:B6)"), u"twenty again") << "the blank A4 ends the walk";
}

TEST_F(LookupFunctionsTest, IndexOffsetAndTheMeasuresOfReferences) {
  putTable();
  setNumber(0, 0, 7, 1);
  setNumber(1, 1, 8, 1);  // Sheet2!B2
  EXPECT_EQ(text(u"=Index(A1:B11,2,2)"), u"twenty");
  EXPECT_EQ(text(u"=Index(A1:B2,3,1)"), u"!!Ref");
  EXPECT_EQ(text(u"=Index(A1:B2,0,1)"), u"!!Ref");
  EXPECT_EQ(text(u"=Index(A1:B2,1,1,2)"), u"!!NA");
  EXPECT_EQ(number(u"=Index(A1:B2,1,1,1)"), 10);
  EXPECT_EQ(number(u"=Index(Sheet2!A1:B2,2,2)"), 8);
  // The result is a reference wherever one is expected.
  EXPECT_EQ(number(u"=Sum(Index(A1:A3,3,1))"), 20);
  EXPECT_EQ(number(u"=Row(Index(C5:E9,2,3))"), 6);
  EXPECT_EQ(number(u"=Column(Index(C5:E9,2,3))"), 5);
  EXPECT_EQ(number(u"=Offset(Index(A1:B11,2,1),1,0)"), 20);
  EXPECT_EQ(number(u"=Offset(Index(Sheet2!A1:B2,1,1),1,1)"), 8);

  EXPECT_EQ(number(u"=Offset(A1,1,0)"), 20);
  EXPECT_EQ(number(u"=Offset(A3,-2,0)"), 10);
  EXPECT_EQ(text(u"=Offset(B2,0,-1,1,1)"), u"20");
  EXPECT_EQ(number(u"=Sum(Offset(A1,0,0,3,1))"), 50);
  EXPECT_EQ(number(u"=Sum(Offset(A1:A2,1,0))"), 40) << "the size of the reference given";
  EXPECT_EQ(number(u"=Rows(Offset(A1,0,0,4,2))") * 10 + number(u"=Columns(Offset(A1,0,0,4,2))"), 42);
  EXPECT_EQ(number(u"=Offset(Sheet2!A1,1,1)"), 8);
  EXPECT_EQ(number(u"=Sum(Offset(Sheet2!A1:B2,0,0))"), 15) << "still on sheet 2";
  // Nothing outside the sheet, at either end, by either count.
  EXPECT_EQ(text(u"=Offset(A1,0,-1)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,-1,0)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(IV1,0,1)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,0,0,1,257)"), u"!!Ref");
  EXPECT_EQ(calc(u"=Offset(A1,65535,0)").kind, ValueKind::Empty);
  EXPECT_EQ(text(u"=Offset(A1,65535,0,2)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,0,0,100000)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,0,0,3000000000)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,70000,0)"), u"!!Ref");
  EXPECT_EQ(text(u"=Offset(A1,0,0,0)"), u"!!Val");
  EXPECT_EQ(text(u"=Offset(5,0,0)"), u"!!Val");
  EXPECT_EQ(text(u"=Offset(A1,0,0,2)"), u"!!Ref") << "two cells as one value";

  // Row and Column of the formula's own cell (the spare cell GS5001) and of references.
  EXPECT_EQ(number(u"=Row()"), 5001);
  EXPECT_EQ(number(u"=Column()"), 201);
  EXPECT_EQ(number(u"=Row(C5:E9)") * 10 + number(u"=Column(C5:E9)"), 53);
  EXPECT_EQ(number(u"=Row(Sheet2!IV65536)"), 65536);
  EXPECT_EQ(text(u"=Row(5)"), u"!!Ref");
  EXPECT_EQ(number(u"=Rows(C5:E9)") * 10 + number(u"=Columns(C5:E9)"), 53);
  EXPECT_EQ(number(u"=Rows(A1:IV65536)"), 65536);
  EXPECT_EQ(number(u"=Columns(Sheet1:Sheet3!A1:IV1)"), 256);
  EXPECT_EQ(text(u"=Rows(5)"), u"!!Val");
  EXPECT_EQ(text(u"=Columns(1/0)"), u"!!Val");
}

TEST_F(LookupFunctionsTest, CountblankAndAddress) {
  // The four cells: 1, an empty text, an error value and one empty cell.
  setNumber(0, 0, 1);
  setText(0, 1, u"");
  setValue(0, 2, errorValue(CellError::NA));
  EXPECT_EQ(number(u"=Countblank(A1:A4)"), 3);
  ASSERT_TRUE(enter(1, 0, u"=\"\""));
  ASSERT_TRUE(enter(1, 1, u"=Z1"));
  ASSERT_TRUE(enter(1, 2, u"=\"x\""));
  EXPECT_EQ(number(u"=Countblank(B1:B3)"), 2) << "formulas giving the empty text and the empty value";
  // A whole sheet, three sheets, and values given directly.
  setNumber(5, 5, 1, 1);
  setText(6, 6, u"", 1);
  EXPECT_EQ(number(u"=Countblank(Sheet2!A1:IV65536)"), 65536.0 * 256 - 1);
  EXPECT_EQ(number(u"=Countblank(Sheet1:Sheet3!A1:A4)"), 11);
  EXPECT_EQ(number(u"=Countblank(\"\")"), 1);
  EXPECT_EQ(number(u"=Countblank(Z9)"), 1);
  EXPECT_EQ(number(u"=Countblank(5)"), 0);

  EXPECT_EQ(text(u"=Address(2,3)"), u"$C$2");
  EXPECT_EQ(text(u"=Address(2,3,2)"), u"C$2");
  EXPECT_EQ(text(u"=Address(2,3,3)"), u"$C2");
  EXPECT_EQ(text(u"=Address(2,3,4)"), u"C2");
  EXPECT_EQ(text(u"=Address(2,3,4,TRUE,\"Data\")"), u"'Data'!C2");
  EXPECT_EQ(text(u"=Address(2,3,1,FALSE,\"\")"), u"$C$2");
  EXPECT_EQ(text(u"=Address(1,1,1,TRUE,\"Bob's\")"), u"'Bob''s'!$A$1");
  EXPECT_EQ(text(u"=Address(65536,256)"), u"$IV$65536");
  EXPECT_EQ(text(u"=Address(1,27,4)"), u"AA1");
  for (const char16_t* bad : {u"=Address(1,0)", u"=Address(1,257)", u"=Address(0,1)", u"=Address(65537,1)",
                              u"=Address(-5,1)", u"=Address(1,1,0)", u"=Address(1,1,5)"})
    EXPECT_EQ(text(bad), u"!!Val") << utf16ToUtf8(bad);
  EXPECT_EQ(text(u"=Address(1/0,\"x\")"), u"!!Div0");
}

TEST_F(LookupFunctionsTest, IndirectReadsTheReferenceSyntax) {
  putTable();
  setNumber(1, 2, 33, 1);  // Sheet2!B3
  setNumber(0, 0, 7, 1);   // Sheet2!A1
  const int books = book->externalBookCount();
  EXPECT_EQ(number(u"=Indirect(\"A1\")"), 10);
  EXPECT_EQ(text(u"=Indirect(\" b2 \")"), u"twenty");
  EXPECT_EQ(number(u"=Indirect(\"Sheet2!B3\")"), 33);
  EXPECT_EQ(number(u"=Indirect(\"'Sheet2'!$B$3\")"), 33);
  EXPECT_EQ(number(u"=Sum(Indirect(\"A1:A3\"))"), 50);
  EXPECT_EQ(number(u"=Sum(Indirect(\"A3:A1\"))"), 50);
  EXPECT_EQ(number(u"=Sum(Indirect(\"Sheet1:Sheet2!A1\"))"), 17);
  EXPECT_EQ(number(u"=Indirect(Address(2,1))"), 20);
  EXPECT_EQ(number(u"=Indirect(Address(3,2,4,TRUE,\"Sheet2\"))"), 33);
  EXPECT_EQ(number(u"=Rows(Indirect(\"C1:C65536\"))"), 65536);
  // Anything but a lone reference is no reference.
  for (const char16_t* bad : {u"=Indirect(\"nonsense\")", u"=Indirect(\"\")", u"=Indirect(\"A1+1\")",
                              u"=Indirect(\"Sum(A1)\")", u"=Indirect(\"A0\")", u"=Indirect(\"IW1\")",
                              u"=Indirect(\"A65537\")", u"=Indirect(\"Nowhere!A1\")", u"=Indirect(\"Sheet2!\")",
                              u"=Indirect(\"=A1\")", u"=Indirect(\"[other.kp]Sheet1!A1\")", u"=Indirect(5)"})
    EXPECT_EQ(text(bad), u"!!Ref") << utf16ToUtf8(bad);
  EXPECT_EQ(book->externalBookCount(), books) << "reading a reference adds no book";
  EXPECT_EQ(text(u"=Indirect(\"A1\",FALSE)"), u"!!NA");
  EXPECT_EQ(number(u"=Indirect(\"A1\",TRUE)"), 10);
  EXPECT_EQ(text(u"=Indirect(1/0)"), u"!!Div0");
  // A reference without a sheet stands on the formula's own sheet.
  ASSERT_TRUE(enter(5, 5, u"=Indirect(\"A1\")+Indirect(\"Sheet1!A1\")", 1));
  recalculateAll(*book);
  EXPECT_EQ(cell(5, 5, 1).number, 17);
}

TEST_F(LookupFunctionsTest, FormulasReadingThroughIndirectOrOffsetAreCurrentAfterOneRecalculation) {
  // A1 and A3 read B1:B3 through references made as they run; A2 and A4 read them in
  // turn. All four are entered before the formulas they read.
  ASSERT_TRUE(enter(0, 0, u"=Sum(Indirect(\"B1:B3\"))"));
  ASSERT_TRUE(enter(0, 1, u"=A1+1"));
  ASSERT_TRUE(enter(0, 2, u"=Offset(B1,2,0)*1"));
  ASSERT_TRUE(enter(0, 3, u"=A3*10"));
  ASSERT_TRUE(enter(1, 0, u"=C1*2"));
  ASSERT_TRUE(enter(1, 2, u"=C1+100"));
  setNumber(2, 0, 1);
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).number, 2 + 101);
  EXPECT_EQ(cell(0, 1).number, 104);
  EXPECT_EQ(cell(0, 3).number, 1010);
  // The cells read change: one recalculation brings every formula up to date.
  setNumber(2, 0, 5);
  recalculateAll(*book);
  EXPECT_EQ(cell(1, 0).number, 10);
  EXPECT_EQ(cell(0, 0).number, 10 + 105);
  EXPECT_EQ(cell(0, 1).number, 116);
  EXPECT_EQ(cell(0, 2).number, 105);
  EXPECT_EQ(cell(0, 3).number, 1050);
  // The note follows the order: with those formulas gone there is nothing to run again.
  EXPECT_NE(book->formulas().rerunFrom, NoHandle);
  for (int row = 0; row < 4; ++row) ASSERT_TRUE(sheet().setCell(0, row, {emptyValue(), 0}));
  recalculateAll(*book);
  EXPECT_EQ(book->formulas().rerunFrom, NoHandle);
}

}  // namespace
}  // namespace kelp
