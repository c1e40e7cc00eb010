// The formula compiler: emitted ops, jumps, references, errors with positions, tasks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "format/DateSerial.h"
#include "formula/Compiler.h"
#include "formula/Lexer.h"
#include "formula/Tokens.h"
#include "formula/Catalogue.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

struct Token {
  uint8_t op;
  size_t at;  // position of the op byte
  const uint8_t* payload;
};

std::vector<Token> walk(const TokenSink& sink) {
  std::vector<Token> tokens;
  for (size_t at = 0; at < sink.size();) {
    uint8_t op = sink.data()[at];
    tokens.push_back(Token{op, at, sink.data() + at + 1});
    at += 1 + payloadSize(op);
  }
  return tokens;
}

std::string names(const TokenSink& sink) {
  std::string out;
  for (const Token& t : walk(sink)) out += (out.empty() ? "" : " ") + std::string(opName(t.op));
  return out;
}

// A small stack machine for the arithmetic ops, so precedence shows as a value.
double run(const TokenSink& sink) {
  std::vector<double> stack;
  for (const Token& t : walk(sink)) {
    double b = 0;
    switch (static_cast<Op>(t.op)) {
      case Op::Number: stack.push_back(readDouble(t.payload)); continue;
      case Op::Parentheses: case Op::UnaryPlus: continue;
      case Op::UnaryMinus: stack.back() = -stack.back(); continue;
      case Op::Percent: stack.back() /= 100; continue;
      default: break;
    }
    b = stack.back();
    stack.pop_back();
    double& a = stack.back();
    switch (static_cast<Op>(t.op)) {
      case Op::Add: a += b; break;
      case Op::Subtract: a -= b; break;
      case Op::Multiply: a *= b; break;
      case Op::Divide: a /= b; break;
      case Op::Power: a = std::pow(a, b); break;
      default: ADD_FAILURE() << "unexpected op " << opName(t.op); break;
    }
  }
  EXPECT_EQ(stack.size(), 1u);
  return stack.empty() ? NAN : stack.back();
}

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = currentLocale();
    clearError();
    book = newWorkbook(3);  // Sheet1..Sheet3
    book->insertSheet(u"My Sheet");
    book->insertSheet(u"Sheet4");
  }
  void TearDown() override {
    setCurrentLocale(saved);
    clearError();
  }

  // The op names, or "error C at P" (and the error state cleared).
  std::string compile(std::u16string_view text, bool task = false, CellPosition base = {0, 0, 0}) {
    sink.discard();
    int32_t position = compileFormula(*book, text, base, sink, task);
    if (position < 0) {
      EXPECT_EQ(pendingError(), 0u);
      return names(sink);
    }
    EXPECT_EQ(sink.size(), 0u) << "a failed compile leaves nothing behind";
    std::string out = "error " + std::to_string(pendingError()) + " at " + std::to_string(position);
    clearError();
    return out;
  }

  LocaleSettings saved;
  std::unique_ptr<Workbook> book;
  TokenSink sink;
};

TEST_F(CompilerTest, OperatorsFollowPrecedenceAndAssociativity) {
  EXPECT_EQ(compile(u"=1+2*3"), "Number Number Number Multiply Add");
  EXPECT_EQ(run(sink), 7);
  EXPECT_EQ(compile(u"=-2^2"), "Number UnaryMinus Number Power");
  EXPECT_EQ(run(sink), 4);
  EXPECT_EQ(compile(u"=2^3^2"), "Number Number Power Number Power");
  EXPECT_EQ(run(sink), 64);
  EXPECT_EQ(compile(u"=50%%"), "Number Percent Percent");
  EXPECT_DOUBLE_EQ(run(sink), 0.005);
  EXPECT_EQ(compile(u"=(1+2)*3"), "Number Number Add Parentheses Number Multiply");
  EXPECT_EQ(run(sink), 9);
  EXPECT_EQ(compile(u"=10-4-3"), "Number Number Subtract Number Subtract");
  EXPECT_EQ(run(sink), 3);
  EXPECT_EQ(compile(u"=--+1"), "Number UnaryPlus UnaryMinus UnaryMinus");
  // Concatenation binds tighter than comparison and looser than addition.
  EXPECT_EQ(compile(u"=1<>2&\"a\"+3"), "Number Number String Number Add Concatenate NotEqual");
  EXPECT_EQ(compile(u"=1<=2"), "Number Number LessEqual");
  EXPECT_EQ(compile(u"=1>=2=true"), "Number Number GreaterEqual Logical Equal");
  EXPECT_EQ(compile(u" = 1 "), "error 4 at 1") << "only a leading = is skipped";
  EXPECT_EQ(compile(u"1 +\t2\r\n"), "Number Number Add");
}

TEST_F(CompilerTest, DatesNeedASecondSeparatorSoDivisionStaysDivision) {
  EXPECT_EQ(compile(u"=10/5"), "Number Number Divide");
  EXPECT_EQ(run(sink), 2);
  EXPECT_EQ(compile(u"=1/0"), "Number Number Divide");
  EXPECT_EQ(compile(u"=10 / 5"), "Number Number Divide");
  EXPECT_EQ(compile(u"=1/2/05"), "DateTime");
  double expected = 0;
  ASSERT_TRUE(serialFromFields(2005, 1, 2, 0, 0, 0, 0, true, expected));
  EXPECT_EQ(readDouble(sink.data() + 1), expected);
  EXPECT_EQ(compile(u"=1/2/05+1"), "DateTime Number Add");
  EXPECT_EQ(compile(u"=13:30"), "DateTime");
  EXPECT_DOUBLE_EQ(readDouble(sink.data() + 1), 0.5625);
  EXPECT_EQ(compile(u"=2/30/05"), "error 32 at 0");
  EXPECT_EQ(compile(u"=1+13:75"), "error 32 at 2");
  EXPECT_EQ(compile(u"=1:"), "error 32 at 0");
  // The first and last days hold no time that the display could show.
  ASSERT_EQ(compile(u"=12/31/9999"), "DateTime");
  EXPECT_EQ(readDouble(sink.data() + 1), MaxSerial);
  EXPECT_EQ(compile(u"=1+12/31/9999 23:59"), "error 32 at 2");
  ASSERT_EQ(compile(u"=1/1/100"), "DateTime");
  EXPECT_EQ(readDouble(sink.data() + 1), MinSerial);
  EXPECT_EQ(compile(u"=1/1/100 0:01"), "error 32 at 0");
  EXPECT_EQ(compile(u"=12/30/9999 23:59:59"), "DateTime");
  EXPECT_EQ(compile(u"=1/2/100 0:01"), "DateTime");
}

TEST_F(CompilerTest, LiteralsCarryTheirPayloads) {
  EXPECT_EQ(compile(u"=1.5e3"), "Number");
  EXPECT_EQ(readDouble(sink.data() + 1), 1500);
  EXPECT_EQ(compile(u"=.25"), "Number");
  EXPECT_EQ(readDouble(sink.data() + 1), 0.25);
  EXPECT_EQ(compile(u"=TRUE"), "Logical");
  EXPECT_EQ(sink.data()[1], 1);
  EXPECT_EQ(compile(u"=false"), "Logical");
  EXPECT_EQ(sink.data()[1], 0);
  EXPECT_EQ(compile(u"=!!na"), "ErrorLiteral");
  EXPECT_EQ(readU16(sink.data() + 1), 42);
  EXPECT_EQ(compile(u"=!!REF"), "ErrorLiteral");
  EXPECT_EQ(readU16(sink.data() + 1), 23);
  EXPECT_EQ(compile(u"=\"a\"\"b\""), "String");
  uint32_t handle = readU32(sink.data() + 1);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(textPool().data(handle))), u"a\"b");
  EXPECT_EQ(compile(u"=\"\""), "String");
  EXPECT_EQ(readU32(sink.data() + 1), NoHandle) << "the empty text is never stored";
}

TEST_F(CompilerTest, ReferencesAreStoredRelativeToTheCell) {
  CellPosition c3{2, 2, 0};
  EXPECT_EQ(compile(u"=A1", false, c3), "CellRef");
  CellRefCode ref = readCellRef(sink.data() + 1);
  EXPECT_EQ(ref.row, 0xFFFE);
  EXPECT_EQ(ref.colWord, RefBit::RelativeRow | RefBit::RelativeColumn | 0xFE);
  EXPECT_EQ(compile(u"=$A1", false, c3), "CellRef");
  ref = readCellRef(sink.data() + 1);
  EXPECT_EQ(ref.colWord, RefBit::RelativeRow | 0) << "only the column is absolute";
  EXPECT_EQ(ref.row, 0xFFFE);
  EXPECT_EQ(compile(u"=$b$7", false, c3), "CellRef");
  ref = readCellRef(sink.data() + 1);
  EXPECT_EQ(ref.row, 6);
  EXPECT_EQ(ref.colWord, 1);
  EXPECT_EQ(compile(u"=IV65536"), "CellRef");
  ref = resolveCell(readCellRef(sink.data() + 1), CellPosition{0, 0});
  EXPECT_EQ(ref.row, 65535);
  EXPECT_EQ(ref.colWord, 255);

  EXPECT_EQ(compile(u"=A1:B2", false, c3), "AreaRef");
  std::vector<uint8_t> colon(sink.data(), sink.data() + sink.size());
  EXPECT_EQ(compile(u"=A1..B2", false, c3), "AreaRef");
  EXPECT_EQ(std::vector<uint8_t>(sink.data(), sink.data() + sink.size()), colon);
  EXPECT_EQ(compile(u"=$A$1:B$2"), "AreaRef");
  EXPECT_EQ(readCellRef(sink.data() + 5).colWord, RefBit::RelativeColumn | 1);
  // A reference glued to more name characters is a name.
  EXPECT_EQ(compile(u"=A1x"), "error 29 at 0");
}

TEST_F(CompilerTest, SheetPrefixesMakeSheetReferences) {
  EXPECT_EQ(compile(u"='My Sheet'!A1"), "SheetCellRef");
  const uint8_t* p = sink.data() + 1;
  EXPECT_EQ(p[0], static_cast<uint8_t>(ValueKind::SheetCellRef));
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 3);
  EXPECT_EQ(p[3], 3);
  EXPECT_EQ(readU32(p + 8), 0u);
  EXPECT_EQ(compile(u"=Sheet2:Sheet4!B3:C4"), "SheetAreaRef");
  p = sink.data() + 1;
  EXPECT_EQ(p[0], static_cast<uint8_t>(ValueKind::SheetAreaRef));
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(p[3], 4);
  EXPECT_EQ(compile(u"=sheet3:SHEET1!A1"), "SheetCellRef");
  EXPECT_EQ(sink.data()[3], 0) << "reversed spans are put in order";
  EXPECT_EQ(sink.data()[4], 2);
  EXPECT_EQ(compile(u"='Sheet1:Sheet2'!A1"), "SheetCellRef");

  ExternalBook* external = book->externalBook(book->findOrAddExternalBook(u"C:\\data\\", u"Book.xls"));
  ASSERT_NE(external, nullptr);
  external->sheetNames = {u"Costs", u"Plan B"};
  EXPECT_EQ(compile(u"='C:\\data\\[Book.xls]Plan B'!A1"), "SheetCellRef");
  EXPECT_EQ(sink.data()[2], 1);
  EXPECT_EQ(sink.data()[3], 1);
  EXPECT_EQ(book->externalBookCount(), 1) << "the known workbook is found, not added again";
}

TEST_F(CompilerTest, FunctionCallsCheckTheCatalogue) {
  EXPECT_EQ(compile(u"=sum(1,2,3)"), "Number Number Number Call");
  const uint8_t* call = sink.data() + sink.size() - 4;
  EXPECT_EQ(readU16(call + 1), findFunction(u"Sum"));
  EXPECT_EQ(call[3], 3);
  EXPECT_EQ(compile(u"=Pi()"), "Call");
  EXPECT_EQ(sink.data()[3], 0);
  EXPECT_EQ(compile(u"=Log10(100)"), "Number Call") << "a function name ending in digits is no reference";
  int32_t task = findFunction(u"MsgBox");
  ASSERT_GE(task, FunctionIndex::FirstInternal);
  EXPECT_EQ(compile(u"=MsgBox(1)"), "error 29 at 0") << "task functions are unknown in cells";
  EXPECT_EQ(compile(u"MsgBox(\"hi\")", true), "String Call Discard");
  // Rows after the command rows are worksheet functions again: found, stored, and no statement.
  ASSERT_EQ(compile(u"=Quotient(7,2)"), "Number Number Call");
  EXPECT_TRUE(storableTokens(sink.data(), sink.size()));
  EXPECT_EQ(compile(u"Quotient(7,2)", true).substr(0, 8), "error 4 ");

  // True and False are logicals, and functions where "(" follows, as formula text writes them.
  ASSERT_EQ(compile(u"=True()"), "Call");
  EXPECT_EQ(readU16(sink.data() + 1), FunctionIndex::True);
  EXPECT_EQ(sink.data()[3], 0);
  ASSERT_EQ(compile(u"=FALSE ()+true"), "Call Logical Add");
  EXPECT_EQ(readU16(sink.data() + 1), FunctionIndex::False);
  EXPECT_EQ(compile(u"=If(true,false(),True)"), "Logical JumpIfFalse Call Jump Logical Jump Call");
  EXPECT_EQ(compile(u"=True(1)"), "error 18 at 6");
  EXPECT_EQ(compile(u"=true)"), "error 4 at 4");
}

// Follows a jump the way the evaluator will: returns the position execution goes to.
size_t jumpTarget(const Token& t) {
  size_t payload = t.at + 1;
  int16_t offset = readI16(t.payload + (t.op >= static_cast<uint8_t>(Op::ForTest) ? 2 : 0));
  switch (static_cast<Op>(t.op)) {
    case Op::Jump: return payload + offset + 3;
    case Op::JumpIfFalse: return payload + offset + 2;
    default: return t.at + offset;  // the loop ops jump from their own position
  }
}

TEST_F(CompilerTest, IfGetsJumpsAroundItsBranches) {
  EXPECT_EQ(compile(u"=If(A1,1,2)"), "CellRef JumpIfFalse Number Jump Number Jump Call");
  std::vector<Token> t = walk(sink);
  size_t end = sink.size();
  EXPECT_EQ(jumpTarget(t[1]), t[4].at) << "false runs the third argument";
  EXPECT_EQ(jumpTarget(t[3]), end) << "true skips the rest and the call";
  EXPECT_EQ(jumpTarget(t[5]), end);
  EXPECT_EQ(t[6].payload[2], 13);

  EXPECT_EQ(compile(u"=If(A1,1)"), "CellRef JumpIfFalse Number Jump Call");
  t = walk(sink);
  EXPECT_EQ(jumpTarget(t[1]), t[4].at) << "false reaches the call, which pushes false";
  EXPECT_EQ(jumpTarget(t[3]), sink.size());
  EXPECT_EQ(t[4].payload[2], 12);

  EXPECT_EQ(compile(u"=1+If(1,If(0,2,3),4)*2"),
            "Number Number JumpIfFalse Number JumpIfFalse Number Jump Number Jump Call Jump Number Jump Call Number "
            "Multiply Add");
  t = walk(sink);
  EXPECT_EQ(jumpTarget(t[2]), t[11].at);
  EXPECT_EQ(jumpTarget(t[10]), t[14].at) << "the outer true branch lands after the outer call";
  EXPECT_EQ(jumpTarget(t[6]), t[10].at) << "the inner true branch lands after the inner call";
}

TEST_F(CompilerTest, EveryErrorComesWithItsPosition) {
  EXPECT_EQ(compile(u"=1+"), "error 1 at 2");
  EXPECT_EQ(compile(u"="), "error 1 at 0");
  EXPECT_EQ(compile(u"=1#"), "error 2 at 1");
  EXPECT_EQ(compile(u"=!!Div0"), "error 2 at 0");
  EXPECT_EQ(compile(u"=!!9"), "error 2 at 0") << "a digit starts an error word too";
  // Without a word after it "!!" is two "!" tokens, which start no operand.
  EXPECT_EQ(compile(u"=!!"), "error 4 at 0");
  EXPECT_EQ(compile(u"=!!+1"), "error 4 at 0");
  EXPECT_EQ(compile(u"=1+!! NA"), "error 4 at 2");
  EXPECT_EQ(compile(u"=1!!"), "error 4 at 1");
  EXPECT_EQ(compile(u"=[Book!A1"), "error 2 at 0");
  EXPECT_EQ(compile(u"=."), "error 2 at 0");
  EXPECT_EQ(compile(u"=1e400"), "error 3 at 0");
  EXPECT_EQ(compile(u"=1 2"), "error 4 at 2");
  EXPECT_EQ(compile(u"=1,2"), "error 4 at 1");
  EXPECT_EQ(compile(u"=$1"), "error 5 at 0");
  EXPECT_EQ(compile(u"=2*$IW$1"), "error 6 at 2");
  EXPECT_EQ(compile(u"=$A$65537"), "error 7 at 0");
  EXPECT_EQ(compile(u"=$A$0"), "error 9 at 0");
  EXPECT_EQ(compile(u"=$A01"), "error 9 at 0");
  EXPECT_EQ(compile(u"=$A"), "error 9 at 0");
  EXPECT_EQ(compile(u"=If(1)"), "error 17 at 4");
  EXPECT_EQ(compile(u"=If(1,2,3,4)"), "error 18 at 10");
  EXPECT_EQ(compile(u"=SUM A1"), "error 19 at 4");
  EXPECT_EQ(compile(u"=SUM(A1"), "error 20 at 6");
  EXPECT_EQ(compile(u"=(1"), "error 20 at 2");
  EXPECT_EQ(compile(u"=Sum(1 2)"), "error 20 at 6");
  EXPECT_EQ(compile(u"=\"abc"), "error 24 at 0");
  EXPECT_EQ(compile(u"='Nosuch'!A1"), "error 25 at 0");
  EXPECT_EQ(compile(u"=Sheet1:Nosuch!A1"), "error 25 at 0");
  EXPECT_EQ(compile(u"=Sheet1 A1"), "error 26 at 7");
  EXPECT_EQ(compile(u"=Sheet1!1"), "error 27 at 7");
  EXPECT_EQ(compile(u"=)"), "error 28 at 0");
  EXPECT_EQ(compile(u"=Sum(1,)"), "error 28 at 6");
  EXPECT_EQ(compile(u"=IW1"), "error 29 at 0");
  EXPECT_EQ(compile(u"=A65537"), "error 29 at 0");
  EXPECT_EQ(compile(u"=A0"), "error 29 at 0");
  EXPECT_EQ(compile(u"=2+Nosuch!A1"), "error 29 at 2");
  EXPECT_EQ(compile(u"=2/30/05"), "error 32 at 0");

  // An unknown name says which name it was.
  const std::pair<std::u16string_view, std::u16string_view> unknown[] = {
      {u"=1+Foo", u"Foo"}, {u"=Sum(1, Total_2)", u"Total_2"}, {u"=2+Nosuch!A1", u"Nosuch"}, {u"=Nosuch(1)", u"Nosuch"}};
  for (const auto& [text, name] : unknown) {
    sink.discard();
    EXPECT_GE(compileFormula(*book, text, CellPosition{0, 0, 0}, sink, false), 0);
    EXPECT_EQ(pendingError(), 29u) << utf16ToUtf8(text);
    EXPECT_EQ(pendingErrorDetail(), name) << utf16ToUtf8(text);
    clearError();
  }
}

TEST_F(CompilerTest, RefusesWhatItCannotHoldSafely) {
  std::u16string longest = u"=\"" + std::u16string(MaxStringLiteral, u'x') + u"\"";
  EXPECT_EQ(compile(longest), "String");
  EXPECT_EQ(compile(u"=\"" + std::u16string(MaxStringLiteral + 1, u'x') + u"\""), "error 22 at 0");
  // Deep nesting is refused instead of exhausting the stack.
  EXPECT_EQ(compile(u"=" + std::u16string(150, u'(') + u"1" + std::u16string(150, u')')).substr(0, 6), "Number");
  EXPECT_EQ(compile(u"=" + std::u16string(5000, u'(') + u"1").substr(0, 8), "error 22");
  EXPECT_EQ(compile(u"=" + std::u16string(5000, u'-') + u"1").substr(0, 8), "error 22");
  // A formula longer than a file keeps: 1638 ones and their additions take 16380 bytes
  // with the end op, four "%" fill the limit, and a fifth or one more term is refused.
  std::u16string ones = u"=1";
  for (int i = 1; i < 1638; ++i) ones += u"+1";
  EXPECT_EQ(compile(ones + u"%%%%").substr(0, 6), "Number");
  EXPECT_EQ(sink.size() + 1, MaxFormulaBytes);
  EXPECT_EQ(compile(ones + u"%%%%%"), "error 22 at 3280");
  EXPECT_EQ(compile(ones + u"+1"), "error 22 at 3276");
  // Tasks are kept as their text, so only their jumps limit them: an If branch too long
  // for a 16-bit offset.
  std::u16string branch = u"1";
  for (int i = 0; i < 4000; ++i) branch += u"+1";
  EXPECT_EQ(compile(u"x = " + branch.substr(0, 4001), true).substr(0, 6), "Number");
  EXPECT_EQ(compile(u"x = If(1," + branch + u",2)", true).substr(0, 8), "error 22");
  EXPECT_EQ(compile(u"x = If(1,2," + branch + u")", true).substr(0, 8), "error 22");
}

TEST_F(CompilerTest, NamesResolveInOrder) {
  book->setName(u"Markup", NoHandle);
  ASSERT_EQ(compile(u"=markup*2"), "Name Number Multiply");
  EXPECT_EQ(readU16(sink.data() + 1), 0);
  book->setName(u"Sum", NoHandle);
  EXPECT_EQ(compile(u"=Sum(1)"), "Number Call") << "functions come before defined names";
  EXPECT_EQ(compile(u"=Nosuch"), "error 29 at 0");
  book->addTaskVariable(u"v");
  EXPECT_EQ(compile(u"=v"), "error 4 at 0") << "task variables only in tasks";
  EXPECT_EQ(compile(u"v = v + 1", true), "ReadVariable Number Add AssignVariable");
}

TEST_F(CompilerTest, LocaleSeparatorsApplyToFormulasButNotTasks) {
  LocaleSettings comma;
  comma.decimalSymbol = u',';
  comma.listSeparator = u';';
  comma.dateSeparator = u'.';
  comma.dateOrder = 1;
  setCurrentLocale(comma);
  EXPECT_EQ(compile(u"=Sum(1,5;2)"), "Number Number Call");
  EXPECT_EQ(readDouble(sink.data() + 1), 1.5);
  EXPECT_EQ(compile(u"=Sum(1.5)"), "error 2 at 5") << "a point ends the number";
  EXPECT_EQ(compile(u"=3.4.2005"), "DateTime");
  double expected = 0;
  ASSERT_TRUE(serialFromFields(2005, 4, 3, 0, 0, 0, 0, true, expected));
  EXPECT_EQ(readDouble(sink.data() + 1), expected);
  EXPECT_EQ(compile(u"x = Sum(1.5, 2)", true), "Number Number Call AssignVariable");
  EXPECT_EQ(readDouble(sink.data() + 1), 1.5);
}

TEST_F(CompilerTest, TaskStatementsCompileToJumpsAndLoops) {
  EXPECT_EQ(compile(u"x = 1 for i = 1 to 3 x = x * 2 end", true),
            "Number AssignVariable Number AssignVariable Number Number ForTest ReadVariable Number Multiply "
            "AssignVariable ForStep");
  EXPECT_EQ(book->findTaskVariable(u"x"), 0);
  EXPECT_EQ(book->findTaskVariable(u"I"), 1);
  std::vector<Token> t = walk(sink);
  EXPECT_EQ(jumpTarget(t[6]), sink.size()) << "a finished loop continues after the step";
  EXPECT_EQ(jumpTarget(t[11]), t[6].at) << "the step goes back to the test";
  EXPECT_EQ(readU16(t[6].payload), 1);
  EXPECT_EQ(readDouble(t[5].payload), 1.0) << "the default step";

  EXPECT_EQ(compile(u"for i = 10 to 1 step -1 end", true),
            "Number AssignVariable Number Number UnaryMinus ForTest ForStep");

  EXPECT_EQ(compile(u"if x > 1 then x = 1 elsif x < 0 x = 2 else x = 3 end", true),
            "ReadVariable Number Greater JumpIfFalse Number AssignVariable Jump ReadVariable Number Less "
            "JumpIfFalse Number AssignVariable Jump Number AssignVariable");
  t = walk(sink);
  EXPECT_EQ(jumpTarget(t[3]), t[7].at);
  EXPECT_EQ(jumpTarget(t[10]), t[14].at);
  EXPECT_EQ(jumpTarget(t[6]), sink.size());
  EXPECT_EQ(jumpTarget(t[13]), sink.size());

  EXPECT_EQ(compile(u"If x then end", true), "ReadVariable JumpIfFalse");
  EXPECT_EQ(jumpTarget(walk(sink)[1]), sink.size());

  EXPECT_EQ(compile(u"while x < 5 do x = x + 1 end", true),
            "ReadVariable Number Less JumpIfFalse ReadVariable Number Add AssignVariable Jump");
  t = walk(sink);
  EXPECT_EQ(jumpTarget(t[8]), 0u);
  EXPECT_EQ(jumpTarget(t[3]), sink.size());

  EXPECT_EQ(compile(u"' a comment\nx = 1 ' another\r\nx = 2", true), "Number AssignVariable Number AssignVariable");

  EXPECT_EQ(compile(u"if x then x = 1", true), "error 4 at 15") << "missing end";
  EXPECT_EQ(compile(u"while x x = 1", true), "error 4 at 13");
  EXPECT_EQ(compile(u"for i = 1 x = 1 end", true), "error 4 at 10");
  EXPECT_EQ(compile(u"for 1 = 1 to 2 end", true), "error 4 at 4");
  EXPECT_EQ(compile(u"newname", true), "error 29 at 0") << "an unknown name must be assigned";
  EXPECT_EQ(compile(u"x", true), "error 4 at 1");
  EXPECT_EQ(compile(u"x =", true), "error 1 at 3");
  EXPECT_EQ(compile(u"Sum(1)", true), "error 4 at 0") << "only task functions are statements";
  EXPECT_EQ(compile(u"1", true), "error 4 at 0");
  EXPECT_EQ(compile(u"end", true), "error 4 at 0");
  EXPECT_EQ(compile(u"", true), "") << "an empty task is no error";
}

TEST_F(CompilerTest, FinishedStringsOwnTheirTextsAndFailuresLeakNothing) {
  uint32_t texts = textPool().liveCount();
  uint32_t formulas = formulaPool().liveCount();
  CellValue value;
  compileToValue(*book, u"=\"a\"&Concatenate(\"b\",\"c\")", CellPosition{1, 4, 0}, value);
  ASSERT_EQ(value.kind, ValueKind::Formula);
  EXPECT_EQ(formulaPosition(value).row, 4);
  EXPECT_EQ(formulaPosition(value).column, 1);
  EXPECT_EQ(formulaPool().refCount(formulaTokens(value)), 1u);
  const uint8_t* data = static_cast<const uint8_t*>(formulaPool().data(formulaTokens(value)));
  uint32_t length = readU32(data);
  EXPECT_EQ(data[4 + length - 1], static_cast<uint8_t>(Op::End));
  EXPECT_EQ(textPool().liveCount(), texts + 3);
  releaseValue(value);
  EXPECT_EQ(textPool().liveCount(), texts) << "releasing the formula releases its strings";
  EXPECT_EQ(formulaPool().liveCount(), formulas);

  compileToValue(*book, u"=\"a\"&\"b\"+", CellPosition{0, 0, 0}, value);
  EXPECT_EQ(value.kind, ValueKind::Empty);
  EXPECT_EQ(pendingError(), 1u);
  clearError();
  EXPECT_EQ(textPool().liveCount(), texts) << "a failed compile gives its strings back";

  // Memory running out anywhere on the way: error 15 and nothing left behind.
  bool sawFailure = false;
  for (int64_t allowed = 0; allowed < 40; ++allowed) {
    heapFailAfter(allowed);
    compileToValue(*book, u"=\"a\"&Concatenate(\"b\",\"c\")&If(1,\"d\",\"e\")", CellPosition{0, 0, 0}, value);
    heapFailAfter(-1);
    if (value.kind == ValueKind::Empty) {
      sawFailure = true;
      EXPECT_EQ(pendingError(), 15u) << "after " << allowed << " allocations";
    } else {
      EXPECT_EQ(pendingError(), 0u);
    }
    clearError();
    releaseValue(value);
    EXPECT_EQ(textPool().liveCount(), texts) << "after " << allowed << " allocations";
    EXPECT_EQ(formulaPool().liveCount(), formulas);
  }
  EXPECT_TRUE(sawFailure);
}

}  // namespace
}  // namespace kelp
