// Tests of the evaluator: operators, coercions, references, jumps, limits and task ops.
#include "formula/Evaluator.h"

#include <algorithm>
#include <limits>
#include <random>

#include "formula/Catalogue.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "model/FormulaTable.h"
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::EngineTest;
using test::Result;
using test::Tokens;

constexpr uint16_t Sum = 3;
constexpr uint16_t If = 37;

using EvaluatorTest = EngineTest;

TEST_F(EvaluatorTest, PowerAndUnaryMinusBindAsCompiled) {
  // -2^2: the minus applies to 2 before the power.
  Result r = run(Tokens().number(2).op(Op::UnaryMinus).number(2).op(Op::Power));
  EXPECT_EQ(r.number, 4);
  // 2^3^2 is (2^3)^2.
  r = run(Tokens().number(2).number(3).op(Op::Power).number(2).op(Op::Power));
  EXPECT_EQ(r.number, 64);
  EXPECT_DOUBLE_EQ(calc(u"=50%%").number, 0.005);
}

TEST_F(EvaluatorTest, ArithmeticErrors) {
  EXPECT_EQ(calc(u"=1/0").text, u"!!Div0");
  EXPECT_EQ(calc(u"=0^0").text, u"!!Num");
  EXPECT_EQ(calc(u"=(-8)^(1/3)").text, u"!!Num");
  EXPECT_EQ(calc(u"=0^5").number, 0);
  // A result too large for a double is stored as !!Num, not as infinity.
  EXPECT_EQ(calc(u"=1E300*1E300").text, u"!!Num");
  // It is an error at once, not a number that a later operator or function turns into text.
  EXPECT_EQ(calc(u"=2^1024&\"\"").text, u"!!Num");
  EXPECT_EQ(calc(u"=IsError(2^1024&\"\")").text, u"true");
  EXPECT_EQ(calc(u"=Len(2^1024)").text, u"!!Num");
  EXPECT_EQ(calc(u"=(-1)^0.5>0").text, u"!!Num");
  EXPECT_EQ(calc(u"=-(1E300*1E300)=0").text, u"!!Num");
  EXPECT_EQ(run(Tokens().number(1e308).number(1000).op(Op::Percent).op(Op::Multiply)).text, u"!!Num");
  // A number that is no number, from wherever it comes, has no text.
  pushNumber(std::numeric_limits<double>::infinity());
  EXPECT_EQ(popTextHandle(), NoHandle);
  EXPECT_FALSE(takePendingError());
  EXPECT_EQ(popErrorCode(), CellError::Num);
  // The leftmost failing operand gives the result.
  EXPECT_EQ(run(Tokens().number(1).number(0).op(Op::Divide).error(CellError::NA).op(Op::Add)).text, u"!!Div0");
  EXPECT_EQ(run(Tokens().error(CellError::NA).number(1).number(0).op(Op::Divide).op(Op::Add)).text, u"!!NA");
  // !!Null has code 0 and still travels through an operator like any other error.
  EXPECT_EQ(run(Tokens().error(CellError::Null).number(1).op(Op::Add)).text, u"!!Null");
  EXPECT_EQ(run(Tokens().number(1).error(CellError::Null).op(Op::Multiply)).text, u"!!Null");
}

TEST_F(EvaluatorTest, DatesStayDates) {
  Result r = run(Tokens().date(38000).number(1).op(Op::Add));
  EXPECT_EQ(r.kind, ValueKind::DateTime);
  EXPECT_EQ(r.number, 38001);
  r = run(Tokens().date(38010).date(38000).op(Op::Subtract));
  EXPECT_EQ(r.kind, ValueKind::DateTime);
  EXPECT_EQ(r.number, 10);
  r = run(Tokens().date(38000).op(Op::UnaryMinus));
  EXPECT_EQ(r.kind, ValueKind::DateTime);
  r = run(Tokens().date(38000).op(Op::Percent));
  EXPECT_EQ(r.kind, ValueKind::Number);
}

TEST_F(EvaluatorTest, TextAndNumberCoercions) {
  EXPECT_EQ(calc(u"=\"3\"+1").number, 4);
  EXPECT_EQ(calc(u"=\"abc\"+1").text, u"!!Val");
  EXPECT_EQ(calc(u"=\"abc\"=1").text, u"false");
  EXPECT_EQ(calc(u"=\"abc\"<1").text, u"!!Val");
  EXPECT_EQ(calc(u"=1=\"1\"").text, u"true");
  EXPECT_EQ(calc(u"=\"ABC\"=\"abc\"").text, u"true");
  EXPECT_EQ(calc(u"=\"a\"<\"B\"").text, u"true");
  EXPECT_EQ(calc(u"=\"ab\"&\"cd\"").text, u"abcd");
  EXPECT_EQ(calc(u"=1&2").text, u"12");
  EXPECT_EQ(calc(u"=TRUE<>FALSE").text, u"true");
  EXPECT_EQ(calc(u"=FALSE<TRUE").text, u"true");
  EXPECT_EQ(calc(u"=2>=2").text, u"true");
  EXPECT_EQ(calc(u"=2<=1").text, u"false");
}

TEST_F(EvaluatorTest, ComparisonsWithAnEmptyCell) {
  // A1 is empty.
  EXPECT_EQ(calc(u"=A1=0").text, u"true");
  EXPECT_EQ(calc(u"=A1=\"\"").text, u"true");
  EXPECT_EQ(calc(u"=A1=FALSE").text, u"true");
  EXPECT_EQ(calc(u"=-1<A1").text, u"true");
  EXPECT_EQ(calc(u"=1<A1").text, u"false");
  EXPECT_EQ(calc(u"=\"x\"<A1").text, u"false");
  EXPECT_EQ(calc(u"=\"x\">A1").text, u"true");
  EXPECT_EQ(calc(u"=(1/0)=A1").text, u"!!Div0");
  EXPECT_EQ(calc(u"=5<>A1").text, u"true");
}

TEST_F(EvaluatorTest, AnErrorOnTheRightOfAComparisonWins) {
  EXPECT_EQ(calc(u"=1=NA()").text, u"!!NA");
  EXPECT_EQ(calc(u"=!!NA=1/0").text, u"!!Div0");
  EXPECT_EQ(calc(u"=(1/0)<NA()").text, u"!!NA");
  EXPECT_EQ(calc(u"=(1/0)<>1").text, u"!!Div0");  // an error on the left alone is the result too
  EXPECT_EQ(calc(u"=\"a\">=!!Ref").text, u"!!Ref");
  // Arithmetic keeps the leftmost error.
  EXPECT_EQ(calc(u"=!!NA+1/0").text, u"!!NA");
}

TEST_F(EvaluatorTest, ReferencesAndAreas) {
  setNumber(0, 0, 1);
  setNumber(1, 0, 2);
  setNumber(0, 1, 3);
  setText(1, 1, u"x");
  EXPECT_EQ(calc(u"=A1:B2").text, u"!!Ref");
  EXPECT_EQ(calc(u"=A2:A2").number, 3);
  EXPECT_EQ(calc(u"=Sum(A1:B2)").number, 6);
  EXPECT_EQ(calc(u"=B2").text, u"x");
  // A relative reference is an offset from the formula's own cell.
  Result r = run(Tokens().relativeCell(1, 0, 3, 2), 2, 3);
  EXPECT_EQ(r.number, 3);
  // Deleted references give !!Ref.
  EXPECT_EQ(run(Tokens().op(Op::DeletedCellRef).raw(0).raw(0).raw(0).raw(0)).text, u"!!Ref");
}

TEST_F(EvaluatorTest, SheetReferences) {
  setNumber(0, 0, 10, 1);
  setNumber(0, 0, 20, 2);
  EXPECT_EQ(run(Tokens().sheetCell(0, 1, 1, 0, 0)).number, 10);
  // One cell on several sheets is no single value.
  EXPECT_EQ(run(Tokens().sheetCell(0, 1, 2, 0, 0)).text, u"!!Ref");
  EXPECT_EQ(run(Tokens().sheetCell(0, 1, 2, 0, 0).call(Sum, 1)).number, 30);
  EXPECT_EQ(run(Tokens().sheetCell(0, 7, 7, 0, 0)).text, u"!!Ref");
  // Another workbook that cannot be read gives !!NA for each cell.
  EXPECT_EQ(run(Tokens().sheetCell(1, 0, 0, 0, 0)).text, u"!!NA");
  EXPECT_EQ(run(Tokens().sheetArea(1, 0, 0, 0, 0, 1, 0).call(Sum, 1)).text, u"!!NA");
}

TEST_F(EvaluatorTest, IfJumpFormRunsOnlyTheChosenBranch) {
  // If(cond, 1, <op 99>) as compiled: cond, jump-if-false, 1, jump, <bad>, jump 3, call.
  // The unused op would fail the whole run if the branch were evaluated.
  auto build = [](bool condition, bool withElse) {
    Tokens t;
    t.logical(condition);
    size_t toElse = t.jump(Op::JumpIfFalse);
    t.number(1);
    size_t toEnd = t.jump(Op::Jump);
    size_t elseStart = t.size();
    if (withElse) {
      t.raw(99);
      size_t last = t.jump(Op::Jump);
      t.call(If, 13);
      t.patchJump(last, t.size());
    } else {
      t.call(If, 12);
    }
    t.patchJump(toElse, elseStart);
    t.patchJump(toEnd, t.size());
    return t;
  };
  Result r = run(build(true, true));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.number, 1);
  r = run(build(false, false));
  EXPECT_EQ(r.text, u"false");
  r = run(build(false, true));
  EXPECT_FALSE(r.ok);  // the poisoned branch ran and failed the run
  // Reached without jumps, a count of 13 is an ordinary three-argument If.
  EXPECT_EQ(run(Tokens().logical(false).number(1).number(2).call(If, 13)).number, 2);
  EXPECT_EQ(calc(u"=If(1>2,5)").text, u"false");
  EXPECT_EQ(calc(u"=If(1<2,7,1/0)").number, 7);
  // An error condition is the result, in the jump form as in the call form.
  EXPECT_EQ(calc(u"=If(1/0,7,8)").text, u"!!Div0");
  EXPECT_EQ(calc(u"=If(\"x\",7)").text, u"!!Val");
  EXPECT_EQ(run(Tokens().error(CellError::NA).number(1).number(2).call(If, 3)).text, u"!!NA");
}

TEST_F(EvaluatorTest, ChooseRunsOnlyTheChosenArgument) {
  // Choose(index, 5, <op 99>) as compiled: each choice behind a case op, each ending in a
  // jump to the call. The unused op would fail the whole run if its choice were run.
  auto build = [](double index) {
    Tokens t;
    t.number(index);
    const size_t first = t.chooseCase(1, 2);
    t.number(5);
    const size_t firstExit = t.jump(Op::Jump);
    t.patchCase(first, t.size());
    const size_t second = t.chooseCase(2, 2);
    t.raw(99);
    const size_t secondExit = t.jump(Op::Jump);
    t.patchCase(second, t.size());
    t.patchJump(firstExit, t.size());
    t.patchJump(secondExit, t.size());
    t.call(FunctionIndex::Choose, 3 + ChooseJumpForm);
    return t;
  };
  Result r = run(build(1.7));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.number, 5);
  EXPECT_EQ(run(build(3)).text, u"!!Val") << "no choice named: neither runs";
  EXPECT_FALSE(run(build(2)).ok);  // the poisoned choice ran and failed the run
  // Compiled: the index is read once, an error index is the result, the text comes back.
  EXPECT_EQ(calc(u"=Choose(2,1/0,7)").number, 7);
  EXPECT_EQ(calc(u"=Choose(\"3\",1,2)").text, u"!!Val");
  EXPECT_EQ(calc(u"=Choose(1/0,1,2)").text, u"!!Div0");
  ASSERT_TRUE(enter(3, 3, u"=Choose(A1,If(B1,1,2),\"x\",C1:C2)"));
  EXPECT_EQ(handleFormulaText(*book, formulaTokens(formulaAt(3, 3)), CellPosition{3, 3}), u"=Choose(A1,If(B1,1,2),\"x\",C1:C2)");
}

TEST_F(EvaluatorTest, NonFiniteResultsAreNumErrorsAtOnce) {
  // Operators and functions alike: a comparison, If, IsError or an aggregate sees !!Num.
  EXPECT_EQ(calc(u"=If((-1)^0.5>0,1,2)").text, u"!!Num");
  EXPECT_EQ(calc(u"=If(Sqrt(-1)>0,1,2)").text, u"!!Num");
  EXPECT_EQ(calc(u"=If(Sqrt(-1)<0,1)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Sqrt(-1)=Sqrt(-1)").text, u"!!Num");
  EXPECT_EQ(calc(u"=IsError(Sqrt(-1))").text, u"true");
  EXPECT_EQ(calc(u"=Count(Sqrt(-1),1)").number, 1);
  EXPECT_EQ(calc(u"=Sum(Sqrt(-1),1)").text, u"!!Num");
  EXPECT_EQ(calc(u"=Sqrt(-1)&\"\"").text, u"!!Num");
  // Division by zero keeps its own error.
  EXPECT_EQ(calc(u"=1/0").text, u"!!Div0");
  EXPECT_EQ(calc(u"=1/0>0").text, u"!!Div0");
}

TEST_F(EvaluatorTest, IfPassesReferencesOn) {
  for (int row = 0; row < 3; ++row) {
    setNumber(1, row, 1);
    setNumber(2, row, 10);
  }
  setValue(0, 0, logicalValue(true));
  EXPECT_EQ(calc(u"=Sum(If(A1,B1:B3,C1:C3))").number, 3);
  setValue(0, 0, logicalValue(false));
  EXPECT_EQ(calc(u"=Sum(If(A1,B1:B3,C1:C3))").number, 30);
  // The plain call form passes the chosen argument unchanged too.
  EXPECT_EQ(run(Tokens().logical(true).area(0, 1, 2, 1).area(0, 2, 2, 2).call(If, 3).call(Sum, 1)).number, 3);
}

TEST_F(EvaluatorTest, StackLimitKeepsThePreviousValue) {
  auto deep = [](int operands) {
    Tokens t;
    for (int i = 0; i < operands; ++i) t.number(1);
    for (int i = 1; i < operands; ++i) t.op(Op::Add);
    return t;
  };
  EXPECT_EQ(run(deep(380)).number, 380);
  EXPECT_FALSE(run(deep(381)).ok);

  ASSERT_TRUE(putFormula(0, 0, deep(10).handle()));
  evaluateFormula(formulaAt(0, 0), true);
  EXPECT_EQ(cell(0, 0).number, 10);
  // A cell whose string is too deep to run keeps the result it had.
  ASSERT_TRUE(putFormula(1, 0, deep(400).handle()));
  formulaResult(formulaAt(1, 0)) = numberValue(10);
  evaluateFormula(formulaAt(1, 0), true);
  EXPECT_EQ(cell(1, 0).number, 10);
  EXPECT_EQ(evalState().sp, 0);
  EXPECT_EQ(pendingError(), 0u);  // no message for a formula too complex to run
}

TEST_F(EvaluatorTest, DamagedTokenStringsFailInsteadOfMisbehaving) {
  EXPECT_FALSE(run(Tokens().number(1).op(Op::Add)).ok);           // too few operands
  EXPECT_FALSE(run(Tokens().number(1).number(2)).ok);             // two results
  EXPECT_FALSE(run(Tokens().raw(43)).ok);                         // an op code without an op
  EXPECT_FALSE(run(Tokens().number(1).raw(static_cast<uint8_t>(Op::Number))).ok);  // payload past the end
  Tokens loop;
  size_t back = loop.jump(Op::Jump);
  loop.patchJump(back, 0);
  EXPECT_FALSE(run(loop).ok);  // a formula never jumps backwards
  // A function index beyond the catalogue and a row nothing has bound give !!Name.
  // This suite binds only the worksheet functions, so the command rows stay unbound.
  EXPECT_EQ(run(Tokens().number(1).call(400, 1)).text, u"!!Name");
  int32_t unbound = FunctionIndex::FirstInternal;
  while (unbound < FunctionIndex::Count && functionRow(unbound).implementation) ++unbound;
  ASSERT_LT(unbound, FunctionIndex::Count) << "every catalogue row is bound in the engine alone";
  Tokens call;
  for (int i = 0; i < functionRow(unbound).minArgs; ++i) call.number(1);
  call.call(static_cast<uint16_t>(unbound), functionRow(unbound).minArgs);
  EXPECT_EQ(run(call).text, u"!!Name") << "function " << unbound;
  EXPECT_EQ(run(Tokens().number(1).call(400, 1).number(2).op(Op::Add)).text, u"!!Name");
  EXPECT_EQ(evalState().sp, 0);
}

TEST_F(EvaluatorTest, ArrayConstantsServeWhereRangesDo) {
  setNumber(0, 0, 2);
  struct Case {
    const char16_t* formula;
    const char16_t* shown;
  };
  for (const Case& c : std::vector<Case>{{u"=Sum({1,2;3,4})", u"10"},
                                         {u"=Average({1,2;3,6})", u"3"},
                                         {u"=Count({1,\"t\",true,-2.5})", u"2"},
                                         {u"=CountA({1,\"t\";true,!!NA})", u"4"},
                                         {u"=Max({-1,-2.5})+Min({4,-0.5})", u"-1.5"},
                                         {u"=Sumproduct({1,2,3},{4,5,6})", u"32"},
                                         {u"=VLookup(A1,{1,\"a\";2,\"b\"},2)", u"b"},
                                         {u"=HLookup(2,{1,2;\"x\",\"y\"},2)", u"y"},
                                         {u"=Match(A1,{5,2,9},0)", u"2"},
                                         {u"=Index({1,2;3,4},2,2)", u"4"},
                                         {u"=Index({1,2;3,4},3,1)", u"!!Ref"},
                                         {u"=Lookup(2.5,{1,2,3},{\"p\",\"q\",\"r\"})", u"q"},
                                         {u"=Sumif({1,2,3},\">1\",{10,20,30})", u"50"},
                                         {u"=CountIf({1,2,2,3},A1)", u"2"},
                                         {u"=SumIfs({10,20,30},{1,2,3},\">1\",{1,1,0},1)", u"20"},
                                         {u"=Sum(Choose(A1,{1,2},{3,4}))", u"7"},
                                         {u"=Rows({1;2;3})*Columns({1,2})", u"6"},
                                         // A single use takes the first element.
                                         {u"={5,6}+1", u"6"},
                                         {u"={\"a\",\"b\"}", u"a"},
                                         {u"={1,,3}", u"1"},
                                         {u"=Count({,1})", u"1"}}) {
    Result r = calc(c.formula);
    EXPECT_TRUE(r.ok) << utf16ToUtf8(c.formula);
    EXPECT_EQ(r.text, c.shown) << utf16ToUtf8(c.formula);
  }
  // An array in a defined name serves its callers too.
  const int32_t primes = book->setName(u"Primes", compileToHandle(*book, u"={2,3,5}", CellPosition{}, false));
  EXPECT_EQ(run(Tokens().name(static_cast<uint16_t>(primes)).call(Sum, 1)).number, 10);
  // One array more than a run has slots for is an error value, not a failure.
  Tokens many;
  for (int i = 0; i < 300; ++i) {
    many.raw(44).raw(1).raw(0).raw(1).raw(0).raw(9).raw(0).number(i);
    if (i) many.op(Op::Add);
  }
  EXPECT_EQ(run(many).text, u"!!Num");
  // A damaged array fails the run.
  EXPECT_FALSE(run(Tokens().raw(44).raw(2).raw(0).raw(1).raw(0).raw(9).raw(0).number(1)).ok);
  EXPECT_EQ(evalState().sp, 0);
}

TEST_F(EvaluatorTest, DefinedNamesRunInTheCallersContext) {
  setNumber(0, 0, 21);
  // "Twice" is A1*2 with A1 relative to the calling formula's cell.
  int32_t twice = book->setName(u"Twice", Tokens().relativeCell(0, 0, 0, 1).number(2).op(Op::Multiply).handle());
  int32_t none = book->setName(u"Nothing", NoHandle);
  Result r = run(Tokens().name(static_cast<uint16_t>(twice)).number(1).op(Op::Add), 1, 0);
  EXPECT_EQ(r.number, 43);
  // Called from C1, the same name reads B1.
  setNumber(1, 0, 5);
  EXPECT_EQ(run(Tokens().name(static_cast<uint16_t>(twice)), 2, 0).number, 10);
  EXPECT_EQ(run(Tokens().name(static_cast<uint16_t>(none))).text, u"!!Name");
  // A name defined through itself stops at the stack limit instead of running forever.
  int32_t self = book->setName(u"Self", NoHandle);
  book->setName(u"Self", Tokens().name(static_cast<uint16_t>(self)).handle());
  EXPECT_FALSE(run(Tokens().name(static_cast<uint16_t>(self))).ok);
  EXPECT_EQ(evalState().depth, 0);
}

TEST_F(EvaluatorTest, TypedPopsConvertAsDocumented) {
  EvalState& s = evalState();
  int32_t start = s.sp;
  pushNumber(2.999995);
  EXPECT_EQ(popInteger(), 3);
  pushNumber(-1.5);
  EXPECT_EQ(popInteger(), -1);
  pushNumber(1e20);
  EXPECT_EQ(popInteger(), 2147483647);
  pushText(u"12");
  EXPECT_EQ(popInteger(), 0);
  EXPECT_FALSE(takePendingError());
  EXPECT_EQ(popErrorCode(), CellError::Value);
  pushValue(logicalValue(true));
  EXPECT_EQ(popNumber(), 1);
  pushValue(logicalValue(true));
  EXPECT_EQ(popDateTime(), 0);
  pushValue(emptyValue());
  EXPECT_EQ(popTextHandle(), NoHandle);
  pushError(CellError::NA);
  EXPECT_EQ(popErrorCode(), CellError::NA);
  pushNumber(4);
  EXPECT_EQ(popErrorCode(), CellError::Null);
  pushNumber(0.5);
  EXPECT_EQ(popTextCopy(), u"0.5");
  pushText(u"abc");
  EXPECT_EQ(popLogical(), 0u);
  EXPECT_FALSE(takePendingError());
  CellValue v;
  popValue(v);
  EXPECT_EQ(v.kind, ValueKind::Error);
  EXPECT_TRUE(takePendingError());
  pushValue(cellRefValue(2, 3));
  SheetArea area{};
  EXPECT_TRUE(popArea(area));
  EXPECT_EQ(area.firstRow, 2);
  EXPECT_EQ(area.lastColumn, 3);
  pushNumber(1);
  EXPECT_FALSE(popArea(area));
  EXPECT_FALSE(takePendingError());
  EXPECT_EQ(popErrorCode(), CellError::Ref);
  pushInteger(1);
  pushInteger(2);
  pushInteger(3);
  pushInteger(4);
  int32_t fc, fr, lc, lr;
  popAreaCorners(fc, fr, lc, lr);
  EXPECT_EQ(fr, 1);
  EXPECT_EQ(fc, 2);
  EXPECT_EQ(lr, 3);
  EXPECT_EQ(lc, 4);
  EXPECT_EQ(s.sp, start);
}

TEST_F(EvaluatorTest, AreaIteratorWalksNonEmptyCellsInBothModes) {
  setNumber(1, 0, 1);
  setNumber(0, 1, 2);
  setNumber(1, 1, 3);
  setNumber(0, 5, 4);
  ASSERT_TRUE(sheet().setCellStyle(0, 2, 3));  // formatted but empty: not yielded
  auto walk = [&](bool columnMode) {
    std::vector<double> seen;
    AreaIterator it(SheetArea{0, 0, 0, 0, 0, 100, 1}, book.get(), columnMode);
    CellValue v;
    while (it.next(v)) seen.push_back(v.number());
    return seen;
  };
  EXPECT_EQ(walk(false), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(walk(true), (std::vector<double>{2, 4, 1, 3}));
  // Several sheets, one after the other; sheets that do not exist are skipped.
  setNumber(0, 0, 7, 1);
  AreaIterator it(SheetArea{0, 0, 9, 0, 0, 0, 0}, book.get());
  CellValue v;
  ASSERT_TRUE(it.next(v));
  EXPECT_EQ(v.number(), 7);
  EXPECT_EQ(it.sheet(), 1);
  EXPECT_FALSE(it.next(v));
}

TEST_F(EvaluatorTest, AreaWalkInOneLoopMeetsWhatNextValueMeets) {
  // Sparse rows over three sheets: numbers, formulas, texts carrying a cell task,
  // errors and styled blanks; every area must give the same values in the same order,
  // texts as stored where nextValue shows their visible part.
  std::mt19937 random(7);
  for (int i = 0; i < 400; ++i) {
    int col = static_cast<int>(random() % 12), row = static_cast<int>(random() % 60) * 3;
    int s = static_cast<int>(random() % 3);
    switch (random() % 5) {
      case 0: setNumber(col, row, i, s); break;
      case 1: setText(col, row, i % 2 ? u"plain" : u"shown#Task:hidden", s); break;
      case 2: setValue(col, row, errorValue(CellError::Div0), s); break;
      case 3: ASSERT_TRUE(sheet(s).setCellStyle(col, row, 3)); break;
      default: ASSERT_TRUE(enter(col, row, u"=" + decimalText(i) + u"/4", s)); break;
    }
  }
  recalculateAll(*book);
  auto describe = [](const CellValue& v, bool stored) {
    std::u16string text;
    valueToText(v, text);
    if (stored && v.kind == ValueKind::Text) text = visibleCellText(text);
    return static_cast<char16_t>(u'0' + static_cast<int>(v.kind)) + text;
  };
  for (int i = 0; i < 200; ++i) {
    uint8_t s1 = static_cast<uint8_t>(random() % 3), s2 = static_cast<uint8_t>(s1 + random() % 3);
    uint16_t r1 = static_cast<uint16_t>(random() % 200), c1 = static_cast<uint16_t>(random() % 12);
    SheetArea area{0, s1, s2, r1, c1, static_cast<uint16_t>(r1 + random() % 100),
                   static_cast<uint16_t>(std::min<int>(255, c1 + static_cast<int>(random() % 6)))};
    std::vector<std::u16string> stepped, looped;
    AreaIterator a(area, book.get());
    while (const CellValue* v = a.nextValue()) stepped.push_back(describe(*v, false));
    AreaIterator b(area, book.get());
    b.forEach([&](const CellValue& v) { looped.push_back(describe(v, true)); });
    ASSERT_EQ(stepped, looped) << "area " << i;
    b.forEach([&](const CellValue&) { ADD_FAILURE() << "a finished walk yields nothing"; });
  }
}

TEST_F(EvaluatorTest, TaskStatementsAssignLoopAndCall) {
  TokenSink sink;
  ASSERT_EQ(compileFormula(*book, u"x = 1 for i = 1 to 3 x = x * 2 end", CellPosition{0, 0, 0}, sink, true), -1);
  uint8_t* tokens = finishTokens(sink);
  ASSERT_NE(tokens, nullptr);
  EXPECT_TRUE(runTask(tokens, *book, CellPosition{0, 0, 0}));
  int32_t x = book->findTaskVariable(u"x");
  ASSERT_GE(x, 0);
  EXPECT_EQ(book->taskVariables[x].value.number(), 8);
  EXPECT_EQ(evalState().sp, 0);
  heapFree(tokens);

  // A downward loop with a step; the loop variable ends past the limit.
  book->clearTaskVariables();
  ASSERT_EQ(compileFormula(*book, u"total = 0 for i = 10 to 1 step -3 total = total + i end", CellPosition{0, 0, 0}, sink, true),
            -1);
  tokens = finishTokens(sink);
  ASSERT_NE(tokens, nullptr);
  EXPECT_TRUE(runTask(tokens, *book, CellPosition{0, 0, 0}));
  EXPECT_EQ(book->taskVariables[book->findTaskVariable(u"total")].value.number(), 10 + 7 + 4 + 1);
  heapFree(tokens);

  // A task call with no task to run stops the task and reports the unknown name.
  uint32_t call = Tokens().variable(Op::CallTask, 0).handle();
  EXPECT_FALSE(runTask(static_cast<const uint8_t*>(formulaPool().data(call)), *book, CellPosition{0, 0, 0}));
  EXPECT_TRUE(hasError(Err::UnknownName));
  clearError();
  formulaPool().release(call);
}

bool g_taskSawFreshVariables = false;
bool runTaskZero(Workbook& workbook, uint16_t index) {
  if (index != 0) return false;
  g_taskSawFreshVariables = workbook.taskVariables.empty();
  workbook.addTaskVariable(u"inner");
  return true;
}

TEST_F(EvaluatorTest, TaskCallsGetTheirOwnVariables) {
  installTaskCall(runTaskZero);
  book->addTaskVariable(u"outer");
  book->taskVariables[0].value = numberValue(5);
  uint32_t call = Tokens().variable(Op::CallTask, 0).handle();
  EXPECT_TRUE(runTask(static_cast<const uint8_t*>(formulaPool().data(call)), *book, CellPosition{0, 0, 0}));
  EXPECT_TRUE(g_taskSawFreshVariables);
  ASSERT_EQ(book->taskVariables.size(), 1u);
  EXPECT_EQ(book->taskVariables[0].value.number(), 5);
  formulaPool().release(call);
  installTaskCall(nullptr);
}

TEST_F(EvaluatorTest, NestedRunsLeaveTheOuterStateAlone) {
  EvalState& s = evalState();
  pushNumber(99);  // an outer evaluation's operand
  setPendingError(CellError::NA);
  s.cell.row = 7;
  s.depth = 2;
  Result r = run(Tokens().number(1).number(2).op(Op::Add));
  EXPECT_EQ(r.number, 3);
  EXPECT_FALSE(takePendingError());  // the outer error is back and is pushed
  EXPECT_EQ(popErrorCode(), CellError::NA);
  EXPECT_EQ(s.cell.row, 7);
  EXPECT_EQ(s.depth, 2);
  ASSERT_EQ(s.sp, 1);
  EXPECT_EQ(popNumber(), 99);
  s.pendingError = 0;
  s.depth = 0;
}

}  // namespace
}  // namespace kelp
