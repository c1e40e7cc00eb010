// Tests of the conversion of Excel formula tokens to Kelp tokens.
#include "files/ExcelFormula.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/ExcelFunctions.h"
#include "formula/FormulaText.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using test::Result;

// Excel token codes (value class where a token has one).
constexpr uint8_t Add = 0x03, Sub = 0x04, Mul = 0x05, Div = 0x06, Power = 0x07, Concat = 0x08;
constexpr uint8_t Lt = 0x09, Le = 0x0A, Eq = 0x0B, Ge = 0x0C, Gt = 0x0D, Ne = 0x0E;
constexpr uint8_t Uminus = 0x13, Percent = 0x14, Paren = 0x15;
constexpr uint8_t RefV = 0x44, RefA = 0x64, AreaR = 0x25, RefNV = 0x4C, AreaNV = 0x4D;
constexpr uint8_t AttrVolatile = 0x01, AttrIf = 0x02, AttrGoto = 0x08, AttrSum = 0x10, AttrSpace = 0x40;
constexpr uint16_t XlIf = 1, XlSum = 4, XlRound = 27, XlNow = 74;

// Excel token bytes assembled by hand in the BIFF8 or the BIFF5 layout; `relative`
// arguments hold bit 0 for the row, bit 1 for the column.
class Ptgs {
 public:
  explicit Ptgs(bool biff8 = true) : m_biff8(biff8) {}
  bool biff8() const { return m_biff8; }

  Ptgs& code(uint8_t c) {
    m_starts.push_back(m_bytes.size());
    return u8(c);
  }
  Ptgs& u8(uint8_t b) {
    m_bytes.push_back(b);
    return *this;
  }
  Ptgs& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  Ptgs& zeros(int n) {
    while (n-- > 0) u8(0);
    return *this;
  }
  Ptgs& integer(uint16_t v) { return code(0x1E).u16(v); }
  Ptgs& number(double d) {
    code(0x1F).zeros(8);
    std::memcpy(&m_bytes[m_bytes.size() - 8], &d, 8);
    return *this;
  }
  Ptgs& logical(bool b) { return code(0x1D).u8(b ? 1 : 0); }
  Ptgs& error(uint8_t e) { return code(0x1C).u8(e); }
  /// 8-bit characters: in BIFF8 with the compressed flag, in BIFF5 in the code page.
  Ptgs& text(std::string_view bytes) {
    code(0x17).u8(static_cast<uint8_t>(bytes.size()));
    if (m_biff8) u8(0);
    for (char c : bytes) u8(static_cast<uint8_t>(c));
    return *this;
  }
  Ptgs& wideText(std::u16string_view s) {
    code(0x17).u8(static_cast<uint8_t>(s.size())).u8(1);
    for (char16_t c : s) u16(c);
    return *this;
  }
  Ptgs& ref(uint16_t row, uint16_t col, int relative, uint8_t ptg = RefV) { return code(ptg).corner(row, col, relative); }
  Ptgs& area(uint16_t r1, uint16_t c1, int rel1, uint16_t r2, uint16_t c2, int rel2, uint8_t ptg = AreaR) {
    code(ptg);
    if (m_biff8) return u16(r1).u16(r2).u16(flags(rel1) | c1).u16(flags(rel2) | c2);
    return u16(flags(rel1) | r1).u16(flags(rel2) | r2).u8(static_cast<uint8_t>(c1)).u8(static_cast<uint8_t>(c2));
  }
  /// `sheets`: the EXTERNSHEET index; BIFF5 adds the first and last sheet.
  Ptgs& sheetRef(int16_t sheets, int16_t first, int16_t last, uint16_t row, uint16_t col, int relative) {
    return code(0x5A).sheetSpan(sheets, first, last).corner(row, col, relative);
  }
  Ptgs& sheetArea(int16_t sheets, int16_t first, int16_t last, uint16_t r1, uint16_t c1, uint16_t r2, uint16_t c2) {
    code(0x3B).sheetSpan(sheets, first, last).u16(r1).u16(r2);
    return m_biff8 ? u16(c1).u16(c2) : u8(static_cast<uint8_t>(c1)).u8(static_cast<uint8_t>(c2));
  }
  Ptgs& func(uint16_t number) { return code(0x41).u16(number); }
  Ptgs& funcVar(uint16_t number, uint8_t count) { return code(0x42).u8(count).u16(number); }
  Ptgs& name(uint16_t index) { return code(0x23).u16(index).zeros(m_biff8 ? 2 : 12); }
  Ptgs& attr(uint8_t type, uint16_t data = 0) { return code(0x19).u8(type).u16(data); }

  /// A tAttrIf or tAttrGoto whose offset `land` sets later.
  size_t jump(uint8_t type) {
    attr(type);
    return m_bytes.size() - 4;
  }
  /// Excel counts an If's offset from the end of the token, a goto's one byte short.
  void land(size_t at, size_t target) {
    size_t data = target - (at + 4) - (m_bytes[at + 1] == AttrGoto ? 1 : 0);
    m_bytes[at + 2] = static_cast<uint8_t>(data);
    m_bytes[at + 3] = static_cast<uint8_t>(data >> 8);
  }

  size_t size() const { return m_bytes.size(); }
  std::vector<uint8_t>& bytes() { return m_bytes; }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  const std::vector<size_t>& starts() const { return m_starts; }

 private:
  uint16_t flags(int relative) const {
    return static_cast<uint16_t>(((relative & 1) ? 0x8000 : 0) | ((relative & 2) ? 0x4000 : 0));
  }
  Ptgs& corner(uint16_t row, uint16_t col, int relative) {
    if (m_biff8) return u16(row).u16(static_cast<uint16_t>(flags(relative) | col));
    return u16(static_cast<uint16_t>(flags(relative) | row)).u8(static_cast<uint8_t>(col));
  }
  Ptgs& sheetSpan(int16_t sheets, int16_t first, int16_t last) {
    u16(static_cast<uint16_t>(sheets));
    return m_biff8 ? *this : zeros(8).u16(static_cast<uint16_t>(first)).u16(static_cast<uint16_t>(last));
  }

  bool m_biff8;
  std::vector<uint8_t> m_bytes;
  std::vector<size_t> m_starts;
};

/// Appends the rest of IF(condition, then, otherwise) as Excel writes it, with the
/// jumps and a space before each argument; two arguments without `otherwise`.
template <typename Then, typename Else>
void appendIf(Ptgs& p, Then then, Else otherwise, bool withElse = true) {
  size_t toElse = p.jump(AttrIf);
  then(p.attr(AttrSpace, 0x0100));
  size_t toEnd = p.jump(AttrGoto);
  size_t elseStart = p.size(), last = 0;
  if (withElse) {
    otherwise(p.attr(AttrSpace, 0x0100));
    last = p.jump(AttrGoto);
  }
  size_t call = p.size();
  p.funcVar(XlIf, withElse ? 3 : 2);
  p.land(toElse, withElse ? elseStart : call);
  p.land(toEnd, p.size());
  if (withElse) p.land(last, p.size());
}

constexpr CellPosition C3{2, 2};
constexpr CellPosition D5{3, 4};

class ExcelFormulaTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    context.workbook = book.get();
  }

  uint32_t convert(const Ptgs& p, CellPosition at = {}, ExcelFormulaKind kind = ExcelFormulaKind::Cell) {
    context.biff8 = p.biff8();
    return convertExcelFormula(p.bytes().data(), p.bytes().size(), at, kind, context);
  }
  /// The text of the tokens converted at `at`, shown at `shownAt` (default `at`);
  /// "error N" when the conversion fails.
  std::u16string shown(const Ptgs& p, CellPosition at = {}, std::optional<CellPosition> shownAt = {},
                       ExcelFormulaKind kind = ExcelFormulaKind::Cell) {
    clearError();
    uint32_t handle = convert(p, at, kind);
    std::u16string out;
    if (handle == NoHandle) {
      for (char c : "error " + std::to_string(pendingError())) out.push_back(static_cast<char16_t>(c));
      clearError();
      return out;
    }
    EXPECT_TRUE(formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(handle)), shownAt.value_or(at), out));
    formulaPool().release(handle);
    return out;
  }
  /// The error code of a failed conversion, 0 after a success; nothing may leak.
  uint32_t failure(const Ptgs& p, ExcelFormulaKind kind = ExcelFormulaKind::Cell) {
    clearError();
    uint32_t texts = textPool().liveCount(), formulas = formulaPool().liveCount();
    uint32_t handle = convert(p, C3, kind);
    uint32_t code = handle == NoHandle ? pendingError() : 0;
    EXPECT_TRUE(handle != NoHandle || code != 0) << "a failure without a code";
    formulaPool().release(handle);
    EXPECT_EQ(textPool().liveCount(), texts);
    EXPECT_EQ(formulaPool().liveCount(), formulas);
    clearError();
    return code;
  }
  /// The value of the tokens converted for cell (col, row) of sheet 0 and recalculated there.
  Result value(const Ptgs& p, int col, int row, ExcelFormulaKind kind = ExcelFormulaKind::Cell) {
    uint32_t handle = convert(p, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row)}, kind);
    if (handle == NoHandle) return Result{ValueKind::Empty, 0, 0, u"<not converted>", false};
    putFormula(col, row, handle);
    recalculateAll(*book);
    return cell(col, row);
  }
  std::vector<uint8_t> poolBytes(uint32_t handle) {
    auto* data = static_cast<const uint8_t*>(formulaPool().data(handle));
    return std::vector<uint8_t>(data, data + 4 + readU32(data));
  }

  ExcelFormulaContext context;
};

TEST_F(ExcelFormulaTest, OperatorsKeepPrecedenceAndParentheses) {
  EXPECT_EQ(shown(Ptgs().integer(1).integer(2).code(Add).code(Paren).integer(3).code(Mul)), u"=(1+2)*3");
  EXPECT_EQ(value(Ptgs().integer(1).integer(2).integer(3).code(Mul).code(Add), 0, 1).number, 7);
  EXPECT_EQ(value(Ptgs().integer(2).code(Uminus).integer(2).code(Power), 0, 2).number, 4);
  EXPECT_EQ(value(Ptgs().integer(7).integer(2).code(Sub).integer(50).code(Percent).code(Div), 0, 3).number, 10);
  for (auto [code, text] : {std::pair{Lt, u"=1<2"}, {Le, u"=1<=2"}, {Eq, u"=1=2"}, {Ge, u"=1>=2"}, {Gt, u"=1>2"},
                             {Ne, u"=1<>2"}})
    EXPECT_EQ(shown(Ptgs().integer(1).integer(2).code(code)), text);
  EXPECT_EQ(value(Ptgs().integer(1).integer(2).code(Ne), 0, 4).text, u"true");
  // The class bits do not matter: reference, value and array class read alike.
  EXPECT_EQ(shown(Ptgs().ref(0, 0, 0, 0x24).ref(0, 1, 0, RefV).code(Add).ref(0, 2, 0, RefA).code(Add)),
            u"=$A$1+$B$1+$C$1");
}

TEST_F(ExcelFormulaTest, LiteralsKeepTheirValues) {
  EXPECT_EQ(shown(Ptgs().text("say \"hi\"")), u"=\"say \"\"hi\"\"\"");
  EXPECT_EQ(shown(Ptgs().text("caf\xE9")), u"=\"caf\u00E9\"") << "compressed BIFF8 text is Latin-1";
  EXPECT_EQ(shown(Ptgs().wideText(u"Grüße \u4E16")), u"=\"Grüße \u4E16\"");
  EXPECT_EQ(value(Ptgs().text("ab").wideText(u"\u00E7d").code(Concat).text("").code(Concat), 0, 0).text,
            u"ab\u00E7d");
  EXPECT_EQ(value(Ptgs().integer(65535).number(0.25).code(Add), 0, 2).number, 65535.25);
}

TEST_F(ExcelFormulaTest, RelativeReferencesBecomeOffsetsFromTheCell) {
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    // A1 written in C3, the formula then shown in D5 as if copied there.
    EXPECT_EQ(shown(Ptgs(biff8).ref(0, 0, 3), C3, C3), u"=A1");
    EXPECT_EQ(shown(Ptgs(biff8).ref(0, 0, 3), C3, D5), u"=B3");
    EXPECT_EQ(shown(Ptgs(biff8).ref(0, 0, 0), C3, D5), u"=$A$1");
    EXPECT_EQ(shown(Ptgs(biff8).ref(0, 0, 2), C3, D5), u"=B$1");
    EXPECT_EQ(shown(Ptgs(biff8).ref(0, 0, 1), C3, D5), u"=$A3");
    EXPECT_EQ(shown(Ptgs(biff8).area(0, 0, 2, 9, 1, 1), C3, D5), u"=B$1:$B12");
    // Shared formulas store relative parts as signed offsets: up two rows, left two columns.
    Ptgs shared(biff8);
    shared.ref(biff8 ? 0xFFFE : 0x3FFE, 0xFE, 3, RefNV);
    EXPECT_EQ(shown(shared, C3, C3, ExcelFormulaKind::Shared), u"=A1");
    EXPECT_EQ(shown(shared, C3, D5, ExcelFormulaKind::Shared), u"=B3");
    Ptgs sharedArea(biff8);
    sharedArea.area(1, 0, 3, 5, 7, 0, AreaNV);
    EXPECT_EQ(shown(sharedArea, C3, D5, ExcelFormulaKind::Shared), u"=D6:$H$6");
    // Names are read as written at A1.
    EXPECT_EQ(shown(Ptgs(biff8).ref(1, 1, 3), C3, C3, ExcelFormulaKind::Name), u"=D4");
  }
  // One converted shared formula serves every cell of its range.
  setNumber(0, 0, 5);
  Ptgs above;
  above.ref(0xFFFF, 0, 3, RefNV).integer(1).code(Add);
  EXPECT_EQ(value(above, 0, 1, ExcelFormulaKind::Shared).number, 6);
  EXPECT_EQ(value(above, 0, 2, ExcelFormulaKind::Shared).number, 7);
  // BIFF8 columns end at IV.
  EXPECT_EQ(failure(Ptgs().ref(0, 256, 0)), 13u);
}

TEST_F(ExcelFormulaTest, SheetReferencesFollowTheSheetTables) {
  book->sheetAt(1)->name = u"Data";
  int32_t other = book->findOrAddExternalBook(u"C:\\", u"Other.xls");
  book->externalBook(other)->sheetNames = {u"Jan"};
  context.externSheets = {{0, 1, 1}, {0, 0, 2}, {0, -1, -1}, {static_cast<uint16_t>(other), 0, 0}};
  EXPECT_EQ(shown(Ptgs().sheetRef(0, 0, 0, 0, 0, 0)), u"=Data!$A$1");
  EXPECT_EQ(shown(Ptgs().sheetArea(1, 0, 0, 0, 0, 1, 1)), u"=Sheet1:Sheet3!$A$1:$B$2");
  EXPECT_EQ(shown(Ptgs().sheetRef(2, 0, 0, 0, 0, 0)), u"=!!Ref");
  EXPECT_EQ(shown(Ptgs().sheetRef(3, 0, 0, 4, 2, 0)), u"='C:\\[Other.xls]Jan'!$C$5");
  EXPECT_EQ(shown(Ptgs().sheetRef(0, 0, 0, 0, 0, 3), C3, D5), u"=Data!B3");
  EXPECT_EQ(failure(Ptgs().sheetRef(4, 0, 0, 0, 0, 0)), 13u);
  setNumber(0, 0, 8, 1);
  EXPECT_EQ(value(Ptgs().sheetRef(0, 0, 0, 0, 0, 0).integer(2).code(Mul), 5, 5).number, 16);

  // BIFF5 names this workbook's sheets in the token, in BOUNDSHEET order: the file's
  // second sheet is the hidden data sheet, which Kelp does not keep.
  context.sheetNumbers = {0, -1, 1, 2};
  EXPECT_EQ(shown(Ptgs(false).sheetRef(-1, 2, 2, 0, 0, 0)), u"=Data!$A$1");
  EXPECT_EQ(shown(Ptgs(false).sheetArea(-1, 0, 3, 0, 0, 1, 1)), u"=Sheet1:Sheet3!$A$1:$B$2");
  EXPECT_EQ(shown(Ptgs(false).sheetRef(-1, 1, 1, 0, 0, 0)), u"=!!Ref");
  EXPECT_EQ(shown(Ptgs(false).sheetRef(-1, -1, -1, 0, 0, 0)), u"=!!Ref");
  EXPECT_EQ(shown(Ptgs(false).sheetRef(4, 0, 0, 4, 2, 0)), u"='C:\\[Other.xls]Jan'!$C$5");
  EXPECT_EQ(failure(Ptgs(false).sheetRef(5, 0, 0, 0, 0, 0)), 13u);
}

TEST_F(ExcelFormulaTest, NamesMapThroughTheNameTable) {
  book->setName(u"Rate", compileToHandle(*book, u"=4", CellPosition{}, false));
  book->setName(u"Tax", NoHandle);
  context.nameIndexes = {0, -1, 1};
  EXPECT_EQ(shown(Ptgs().name(3)), u"=Tax");
  EXPECT_EQ(value(Ptgs().name(1).integer(3).code(Mul), 0, 0).number, 12);
  EXPECT_EQ(value(Ptgs(false).name(1).integer(2).code(Add), 0, 1).number, 6);
  EXPECT_EQ(failure(Ptgs().name(2)), 35u) << "a built-in name that was dropped";
  EXPECT_EQ(failure(Ptgs().name(4)), 13u);
  EXPECT_EQ(failure(Ptgs().name(0)), 13u);
}

TEST_F(ExcelFormulaTest, FunctionsGoThroughTheExcelTable) {
  for (int row = 0; row < 3; ++row) setNumber(0, row, row + 1);
  EXPECT_EQ(shown(Ptgs().area(0, 0, 0, 2, 0, 0).attr(AttrSum)), u"=Sum($A$1:$A$3)");
  EXPECT_EQ(value(Ptgs().area(0, 0, 0, 2, 0, 0).attr(AttrSum), 1, 0).number, 6);
  EXPECT_EQ(value(Ptgs().integer(1).integer(2).integer(3).funcVar(XlSum, 3), 1, 1).number, 6);
  EXPECT_EQ(value(Ptgs().integer(4).funcVar(XlSum, 0x81), 1, 2).number, 4) << "the prompt bit is no count";
  EXPECT_EQ(shown(Ptgs().number(2.345).integer(1).func(XlRound)), u"=Round(2.345,1)");
  EXPECT_EQ(failure(Ptgs().integer(1).funcVar(XlSum | 0x8000, 1)), 35u) << "command equivalent";
  EXPECT_EQ(failure(Ptgs().integer(1).func(83)), 35u) << "Transpose has no Kelp function";
  EXPECT_EQ(failure(Ptgs().integer(1).funcVar(999, 1)), 35u);
  EXPECT_EQ(failure(Ptgs().integer(1).integer(1).integer(1).funcVar(XlRound, 3)), 35u);
  EXPECT_EQ(failure(Ptgs().integer(1).func(XlSum)), 35u) << "Sum has no fixed count";
  EXPECT_EQ(failure(Ptgs().integer(1).funcVar(XlSum, 2)), 13u) << "one operand for two arguments";
  // Volatile formulas ask for a recalculation once converted.
  EXPECT_EQ(failure(Ptgs().attr(AttrVolatile).integer(1).code(Add)), 13u);
  EXPECT_FALSE(context.volatileSeen);
  EXPECT_EQ(shown(Ptgs().attr(AttrVolatile).func(XlNow).integer(1).code(Add)), u"=Now()+1");
  EXPECT_TRUE(context.volatileSeen);
  // No Excel number reaches a command or task row, so no Excel or Pocket Excel formula
  // can call one.
  for (int32_t number = 0; number < ExcelFunctionCount; ++number) {
    const uint16_t index = excelFunctionRow(number).catalogueIndex;
    EXPECT_TRUE(isWorksheetRow(index) || index == ExcelUnsupported) << number;
  }
}

TEST_F(ExcelFormulaTest, IfJumpsMatchWhatTheCompilerEmits) {
  auto number = [](uint16_t n) { return [n](Ptgs& p) { p.integer(n); }; };
  auto condition = [](Ptgs& p, uint16_t column) -> Ptgs& { return p.ref(0, column, 3).integer(0).code(Gt); };
  Ptgs three, two, nested;
  appendIf(condition(three, 0), number(1), number(2));
  appendIf(condition(two, 0), number(1), number(0), false);
  appendIf(condition(nested, 0), [&](Ptgs& p) { appendIf(condition(p, 1), number(1), number(2)); }, number(3));
  const std::pair<const Ptgs*, const char16_t*> cases[] = {
      {&three, u"=If(A1>0,1,2)"}, {&two, u"=If(A1>0,1)"}, {&nested, u"=If(A1>0,If(B1>0,1,2),3)"}};
  for (auto [tokens, text] : cases) {
    uint32_t converted = convert(*tokens, C3);
    uint32_t compiled = compileToHandle(*book, text, C3, false);
    ASSERT_NE(converted, NoHandle);
    EXPECT_EQ(poolBytes(converted), poolBytes(compiled)) << tokens->size();
    formulaPool().release(converted);
    formulaPool().release(compiled);
  }
  // Evaluated: each combination of the conditions picks its branch.
  const struct {
    double a1, b1, nested, twoArguments;
  } runs[] = {{5, 5, 1, 1}, {5, -5, 2, 1}, {-5, 5, 3, 0}};
  for (const auto& run : runs) {
    setNumber(0, 0, run.a1);
    setNumber(1, 0, run.b1);
    EXPECT_EQ(value(nested, 2, 2).number, run.nested);
    EXPECT_EQ(value(two, 2, 3).text, run.twoArguments ? u"1" : u"false");
  }
  // The branch not taken never runs: this one would overflow the stack and fail.
  Ptgs poisoned;
  poisoned.logical(true);
  appendIf(poisoned, number(1), [](Ptgs& p) {
    for (int i = 0; i < 400; ++i) p.integer(1);
    for (int i = 1; i < 400; ++i) p.code(Add);
  });
  EXPECT_EQ(value(poisoned, 4, 4).number, 1);
  // Strings in the branches, as a sheet would have them.
  setNumber(0, 0, -1);
  Ptgs sign;
  appendIf(condition(sign, 0), [](Ptgs& p) { p.text("pos"); }, [](Ptgs& p) { p.text("neg"); });
  EXPECT_EQ(value(sign, 2, 4).text, u"neg");
  setNumber(0, 0, 1);
  recalculateAll(*book);
  EXPECT_EQ(cell(2, 4).text, u"pos");

  // Jumps that land where no If needs them are another layout: the cell keeps its result.
  for (int delta : {-1, 1}) {
    for (size_t token : {3, 6}) {  // the tAttrIf and the first tAttrGoto
      Ptgs wrong = three;
      wrong.bytes()[wrong.starts()[token] + 2] += static_cast<uint8_t>(delta);
      // The last Goto moved one on points past the formula's end: that is damage.
      const uint32_t expected = token == 6 && delta == 1 ? 13u : 35u;
      EXPECT_EQ(failure(wrong), expected) << delta << " at token " << token;
    }
  }
  EXPECT_EQ(failure(Ptgs().integer(1).attr(AttrIf, 3).integer(2).attr(AttrGoto, 2).code(Add)), 13u);
  EXPECT_EQ(failure(Ptgs().integer(1).attr(AttrIf, 7).integer(2).funcVar(XlIf, 2)), 35u);
  EXPECT_EQ(failure(Ptgs().integer(1).attr(AttrGoto, 900)), 13u);
}

TEST_F(ExcelFormulaTest, UnsupportedTokensFailWith35) {
  const std::vector<Ptgs> unsupported = {
      Ptgs().integer(1).code(0x16).funcVar(XlSum, 2),              // missing argument
      Ptgs().ref(0, 0, 0).ref(0, 1, 0).code(0x10),                 // union
      Ptgs().code(0x01).u16(0).u16(0),                             // ptgExp
      Ptgs().code(0x39).u16(0).u16(1).u16(0),                      // another book's name
  };
  context.externSheets = {{1, 0, 0}};
  for (size_t i = 0; i < unsupported.size(); ++i) EXPECT_EQ(failure(unsupported[i]), 35u) << i;
}

TEST_F(ExcelFormulaTest, MalformedTokensFailWith13AndLeakNothing) {
  EXPECT_EQ(failure(Ptgs()), 13u);
  EXPECT_EQ(failure(Ptgs().integer(1).attr(0x04, 1).u16(4).u16(8).integer(2)), 13u) << "a Choose without its call";
  EXPECT_EQ(failure(Ptgs().integer(1).attr(0x04, 9).u16(4)), 13u) << "a jump table past the end";
  EXPECT_EQ(failure(Ptgs().code(Add)), 13u);
  EXPECT_EQ(failure(Ptgs().text("a").code(Add)), 13u);
  EXPECT_EQ(failure(Ptgs().code(Uminus)), 13u);
  EXPECT_EQ(failure(Ptgs().text("a").text("b")), 13u) << "two results";
  EXPECT_EQ(failure(Ptgs().attr(AttrSum)), 13u);
  // Every cut inside a token is refused; a cut between tokens may leave a formula.
  for (bool biff8 : {true, false}) {
    Ptgs whole(biff8);
    whole.text("head").ref(1, 1, 3).code(Concat).area(0, 0, 0, 1, 1, 0).attr(AttrSum).code(Add);
    whole.integer(7).number(0.5).code(Mul).name(1).code(Add).code(Sub).error(7).logical(true);
    whole.funcVar(XlSum, 3).sheetRef(biff8 ? 0 : -1, 0, 0, 0, 0, 0).code(Add);
    if (biff8) whole.wideText(u"\u00E9t\u00E9").code(Concat);
    context.externSheets = {{0, 0, 0}};
    context.sheetNumbers = {0};
    context.nameIndexes = {0};
    book->setName(u"One", NoHandle);
    ASSERT_EQ(failure(whole), 0u);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      Ptgs part = whole;
      part.bytes().resize(cut);
      bool boundary = std::find(whole.starts().begin(), whole.starts().end(), cut) != whole.starts().end();
      uint32_t code = failure(part);
      if (!boundary) EXPECT_EQ(code, 13u) << "cut at " << cut;
      else EXPECT_TRUE(code == 0 || code == 13) << "cut at " << cut << ": " << code;
    }
  }
}

}  // namespace
}  // namespace kelp
