// Tests of the conversion of Kelp tokens to Excel formula tokens, read back by the importer.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "files/ExcelFormula.h"
#include "formula/FormulaText.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Tokens;
using Kind = ExcelExportKind;
using Result = ExcelExportResult;

constexpr CellPosition A1{0, 0};
constexpr CellPosition A2{0, 1};
constexpr CellPosition C3{2, 2};
constexpr CellPosition D5{3, 4};
constexpr CellPosition E1{4, 0};

Bytes num(double d) {
  Bytes out(9, 0x1F);
  std::memcpy(&out[1], &d, 8);
  return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

class ExcelFormulaExportTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    context.workbook = book.get();
    context.sheetCount = 3;
    book->sheetAt(1)->name = u"Data";
    other = book->findOrAddExternalBook(u"C:\\", u"Other.xls");
    book->externalBook(other)->sheetNames = {u"Jan", u"Feb"};
    bonus = book->setName(u"Bonus", compileToHandle(*book, u"=4", A1, false));
    book->setName(u"Tax", NoHandle);
    // Bonus is the file's third NAME; Tax is not written.
    context.nameNumbers.assign(book->names.size(), 0);
    context.nameNumbers[static_cast<size_t>(bonus)] = 3;
  }

  uint32_t compiled(std::u16string_view text, CellPosition at) {
    clearError();
    uint32_t handle = compileToHandle(*book, text, at, false);
    EXPECT_NE(handle, NoHandle) << "compile error " << pendingError();
    return handle;
  }
  Result exportHandle(uint32_t handle, CellPosition at, Kind kind, bool biff8, Bytes& out) {
    if (handle == NoHandle) return Result::Malformed;
    context.biff8 = biff8;
    const auto* data = static_cast<const uint8_t*>(formulaPool().data(handle));
    return convertToExcelFormula(data + 4, readU32(data), at, kind, context, out);
  }
  /// The Excel tokens of formula text entered at `at`; empty when not written.
  Bytes excel(std::u16string_view text, CellPosition at, bool biff8 = true, Kind kind = Kind::Cell) {
    uint32_t handle = compiled(text, at);
    Bytes out;
    EXPECT_EQ(exportHandle(handle, at, kind, biff8, out), Result::Written) << "exporting";
    formulaPool().release(handle);
    return out;
  }
  /// The result of exporting, checking that a refusal leaves the output and the
  /// EXTERNSHEET list as they were.
  Result refusal(uint32_t handle, bool biff8, CellPosition at = C3, Kind kind = Kind::Cell) {
    Bytes out = {0xAB};
    const auto spans = context.externSheets;
    Result result = exportHandle(handle, at, kind, biff8, out);
    formulaPool().release(handle);
    if (result != Result::Written) {
      EXPECT_EQ(out, Bytes{0xAB});
      EXPECT_EQ(context.externSheets, spans);
    }
    return result;
  }
  Result refusal(std::u16string_view text, bool biff8, CellPosition at = C3) {
    return refusal(compiled(text, at), biff8, at);
  }

  /// What the importer needs to read the tokens back: the EXTERNSHEET entries the export
  /// collected (BIFF5: after one per sheet of this workbook) and the NAME numbering.
  ExcelFormulaContext readerContext() const {
    ExcelFormulaContext reader;
    reader.workbook = book.get();
    reader.biff8 = context.biff8;
    if (!context.biff8)
      for (int32_t sheet = 0; sheet < context.sheetCount; ++sheet) {
        reader.externSheets.push_back({0, sheet, sheet});
        reader.sheetNumbers.push_back(sheet);
      }
    // The add-in's names hang off its EXTERNSHEET entry, the last one in BIFF5.
    const std::vector<int32_t> addIns(context.addInFunctions.begin(), context.addInFunctions.end());
    for (const auto& span : context.externSheets) {
      reader.externSheets.push_back({span.book, span.first, span.last});
      if (span.addIn) reader.externSheets.back() = {0, -1, -1, static_cast<int32_t>(reader.externNames.size())};
      reader.externNames.push_back(span.addIn ? addIns : std::vector<int32_t>());
    }
    if (!context.biff8 && !addIns.empty()) {
      reader.externSheets.push_back({0, -1, -1, static_cast<int32_t>(reader.externNames.size())});
      reader.externNames.push_back(addIns);
    }
    for (size_t index = 0; index < context.nameNumbers.size(); ++index) {
      const uint16_t number = context.nameNumbers[index];
      if (number == 0) continue;
      if (reader.nameIndexes.size() < number) reader.nameIndexes.resize(number, -1);
      reader.nameIndexes[number - 1u] = static_cast<int32_t>(index);
    }
    const size_t names = context.laterNameBase + context.laterFunctions.size();
    reader.nameIndexes.resize(std::max(reader.nameIndexes.size(), names), -1);
    reader.nameFunctions.assign(reader.nameIndexes.size(), -1);
    for (size_t i = 0; i < context.laterFunctions.size(); ++i)
      reader.nameFunctions[context.laterNameBase + i] = context.laterFunctions[i];
    return reader;
  }
  /// The text of pool entry `handle` shown at `at`; "<none>" when it cannot be shown.
  std::u16string shown(uint32_t handle, CellPosition at) {
    std::u16string text;
    if (handle == NoHandle || !formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(handle)), at, text))
      return u"<none>";
    return text;
  }
  /// The formula as read back from its Excel tokens, shown at `at`; with `elsewhere`
  /// also at D5, which shows whether relative parts stayed relative.
  std::u16string readBack(const Bytes& tokens, CellPosition at, Kind kind, bool elsewhere = false) {
    ExcelFormulaContext reader = readerContext();
    const auto readKind = kind == Kind::Name ? ExcelFormulaKind::Name : ExcelFormulaKind::Cell;
    uint32_t handle = convertExcelFormula(tokens.data(), tokens.size(), at, readKind, reader);
    if (handle == NoHandle) {
      const std::string code = "error " + std::to_string(pendingError());
      clearError();
      return std::u16string(code.begin(), code.end());
    }
    std::u16string text = shown(handle, at);
    if (elsewhere) text += u" | " + shown(handle, D5);
    formulaPool().release(handle);
    return text;
  }
  /// Compiles `text` at `at`, writes it and reads it back; the texts must agree.
  // Writes the formula as Excel tokens and puts what the importer makes of them in the cell.
  bool importInto(std::u16string_view text, CellPosition at, bool biff8) {
    Bytes tokens = excel(text, at, biff8);
    ExcelFormulaContext reader = readerContext();
    uint32_t handle = convertExcelFormula(tokens.data(), tokens.size(), at, ExcelFormulaKind::Cell, reader);
    if (handle == NoHandle) return false;
    putFormula(at.column, at.row, handle);
    return true;
  }

  void expectRoundTrip(std::u16string_view text, CellPosition at, bool biff8, Kind kind = Kind::Cell) {
    SCOPED_TRACE(std::string(text.begin(), text.end()) + (biff8 ? " BIFF8" : " BIFF5"));
    uint32_t handle = compiled(text, at);
    Bytes out;
    ASSERT_EQ(exportHandle(handle, at, kind, biff8, out), Result::Written);
    const std::u16string original = shown(handle, at) + u" | " + shown(handle, D5);
    formulaPool().release(handle);
    EXPECT_NE(original.find(u'='), std::u16string::npos);
    EXPECT_EQ(readBack(out, at, kind, true), original);
  }

  ExcelExportContext context;
  int32_t other = 0;
  int32_t bonus = 0;
};

TEST_F(ExcelFormulaExportTest, OperatorsAndReferencesGiveExcelsBytes) {
  for (bool biff8 : {true, false}) EXPECT_EQ(excel(u"=1+2", A1, biff8), (Bytes{0x1E, 1, 0, 0x1E, 2, 0, 0x03}));
  // Operands of operators are values; relative parts become positions with their flags.
  EXPECT_EQ(excel(u"=A1*$B$2", C3), (Bytes{0x44, 0, 0, 0, 0xC0, 0x44, 1, 0, 1, 0, 0x05}));
  EXPECT_EQ(excel(u"=A1*$B$2", C3, false), (Bytes{0x44, 0, 0xC0, 0, 0x44, 1, 0, 1, 0x05}));
  EXPECT_EQ(excel(u"=B$7:$C1", D5), (Bytes{0x45, 6, 0, 0, 0, 0x01, 0x40, 0x02, 0x80}));
  EXPECT_EQ(excel(u"=B$7:$C1", D5, false), (Bytes{0x45, 6, 0x40, 0, 0x80, 1, 2}));
  // Whole numbers up to 65535 are ptgInt; others, and dates, ptgNum with the serial.
  EXPECT_EQ(excel(u"=-65536+0.5-12/31/2023", A1),
            cat({num(65536), {0x13}, num(0.5), {0x03}, num(45291), {0x04}}));
  EXPECT_EQ(excel(u"=(\"a\"&\"\u00E9\u4E16\")%<>true", A1),
            (Bytes{0x17, 1, 1, 'a', 0, 0x17, 2, 1, 0xE9, 0, 0x16, 0x4E, 0x08, 0x15, 0x14, 0x1D, 1, 0x0E}));
  EXPECT_EQ(excel(u"=\"caf\u00E9\"=!!NA", A1, false), (Bytes{0x17, 4, 'c', 'a', 'f', 0xE9, 0x1C, 42, 0x0B}));
}

TEST_F(ExcelFormulaExportTest, FunctionArgumentsTakeTheClassesOfTheTable) {
  // Sum takes references: the area keeps reference class; the call gives a value.
  EXPECT_EQ(excel(u"=Sum(A1:A3)", E1), (Bytes{0x25, 0, 0, 2, 0, 0, 0xC0, 0, 0xC0, 0x42, 1, 4, 0}));
  EXPECT_EQ(excel(u"=Sum(A1:A3)", E1, false), (Bytes{0x25, 0, 0xC0, 2, 0xC0, 0, 0, 0x42, 1, 4, 0}));
  // Under an operator the same area is a value.
  EXPECT_EQ(excel(u"=Sum($A$1:$A$3*2)", E1),
            (Bytes{0x45, 0, 0, 2, 0, 0, 0, 0, 0, 0x1E, 2, 0, 0x05, 0x42, 1, 4, 0}));
  // VLookup: the lookup value a value, the table a reference, the rest values.
  EXPECT_EQ(excel(u"=VLookup(A1,$B$1:$C$9,2,false)", E1),
            (Bytes{0x44, 0, 0, 0, 0xC0, 0x25, 0, 0, 8, 0, 1, 0, 2, 0, 0x1E, 2, 0, 0x1D, 0, 0x42, 4, 102, 0}));
  // Index: a reference first, then values.
  EXPECT_EQ(excel(u"=Index($A$1:$C$3,B1,2)", E1),
            (Bytes{0x25, 0, 0, 2, 0, 0, 0, 2, 0, 0x44, 0, 0, 1, 0xC0, 0x1E, 2, 0, 0x42, 3, 29, 0}));
  // SumProduct takes arrays, and what stands under an array argument is an array too.
  EXPECT_EQ(excel(u"=SumProduct(($A$1:$A$2>0)*1,$B$1:$B$2)", E1),
            (Bytes{0x65, 0, 0, 1, 0, 0, 0, 0, 0, 0x1E, 0, 0, 0x0D, 0x15, 0x1E, 1, 0, 0x05,
                   0x65, 0, 0, 1, 0, 1, 0, 1, 0, 0x42, 2, 228, 0}));
  EXPECT_EQ(excel(u"=SumProduct(Abs($A$1),$B$1)", E1),
            (Bytes{0x64, 0, 0, 0, 0, 0x61, 24, 0, 0x64, 0, 0, 1, 0, 0x42, 2, 228, 0}));
  // Fixed counts are ptgFunc; a volatile function marks the formula first.
  EXPECT_EQ(excel(u"=Round(Pi(),2)", E1), (Bytes{0x41, 19, 0, 0x1E, 2, 0, 0x41, 27, 0}));
  EXPECT_EQ(excel(u"=Now()+1", E1), (Bytes{0x19, 0x01, 0, 0, 0x41, 74, 0, 0x1E, 1, 0, 0x03}));
}

TEST_F(ExcelFormulaExportTest, IfIsWrittenWithExcelsJumps) {
  // Condition, if to the else branch, then branch, goto, else branch, goto, call; the
  // branches take If's reference class.
  EXPECT_EQ(excel(u"=If(A1>0,\"y\",B1)", A2),
            (Bytes{0x44, 0, 0, 0, 0xC0, 0x1E, 0, 0, 0x0D, 0x19, 0x02, 9, 0, 0x17, 1, 1, 'y', 0, 0x19, 0x08, 12, 0,
                   0x24, 0, 0, 1, 0xC0, 0x19, 0x08, 3, 0, 0x42, 3, 1, 0}));
  // Without an else branch the condition jumps to the call.
  EXPECT_EQ(excel(u"=If(A1,2)", A2, false),
            (Bytes{0x44, 0, 0xC0, 0, 0x19, 0x02, 7, 0, 0x1E, 2, 0, 0x19, 0x08, 3, 0, 0x42, 2, 1, 0}));
  // An If as a value, and the evaluator's result from what the importer makes of it.
  setNumber(0, 0, 5);
  setNumber(1, 0, -5);
  for (bool biff8 : {true, false}) {
    const CellPosition at{2, static_cast<uint16_t>(biff8 ? 2 : 3)};
    ASSERT_TRUE(importInto(u"=10*If(A1>0,If(B1>0,1,2),3)+If(B1,4)", at, biff8));
    recalculateAll(*book);
    EXPECT_EQ(cell(at.column, at.row).number, 24);
  }
}

TEST_F(ExcelFormulaExportTest, ChooseIsWrittenWithItsJumpTable) {
  // Index, choose with the offsets of each choice and of the call from the table's
  // start, each choice with a goto one short of the call's end, the call.
  EXPECT_EQ(excel(u"=Choose(A1,2,3)", A2),
            (Bytes{0x44, 0, 0, 0, 0xC0, 0x19, 0x04, 2, 0, 6, 0, 13, 0, 20, 0, 0x1E, 2, 0, 0x19, 0x08, 10, 0,
                   0x1E, 3, 0, 0x19, 0x08, 3, 0, 0x42, 3, 100, 0}));
  // Read back, it is the typed Choose token for token, which runs only the chosen choice.
  for (const char16_t* text : {u"=Choose(A1,2,3)", u"=Choose(A1,If(B1,1,2),Choose(B1,4,5,6))*2"}) {
    const Bytes tokens = excel(text, A2);
    ExcelFormulaContext reader = readerContext();
    const uint32_t imported = convertExcelFormula(tokens.data(), tokens.size(), A2, ExcelFormulaKind::Cell, reader);
    const uint32_t typed = compiled(text, A2);
    ASSERT_NE(imported, NoHandle);
    const auto* a = static_cast<const uint8_t*>(formulaPool().data(imported));
    const auto* b = static_cast<const uint8_t*>(formulaPool().data(typed));
    EXPECT_EQ(Bytes(a, a + 4 + readU32(a)), Bytes(b, b + 4 + readU32(b)));
    formulaPool().release(imported);
    formulaPool().release(typed);
  }
  // An If inside a choice keeps its own jumps; the result follows the index.
  for (bool biff8 : {true, false}) {
    expectRoundTrip(u"=Choose(A1,If(B1>0,1,2),Text(B1,\"0.0\"),Search(\"b\",\"abc\"))&\"!\"", C3, biff8);
    const CellPosition at{2, static_cast<uint16_t>(biff8 ? 2 : 3)};
    ASSERT_TRUE(importInto(u"=10*Choose(A1,If(B1>0,1,2),3)+Choose(2,A1,B1)", at, biff8));
    for (auto [a1, b1, want] : {std::tuple{1.0, 5.0, 15.0}, {1.0, -5.0, 15.0}, {2.0, 5.0, 35.0}}) {
      setNumber(0, 0, a1);
      setNumber(1, 0, b1);
      recalculateAll(*book);
      EXPECT_EQ(cell(at.column, at.row).number, want) << a1 << " " << b1;
    }
  }
}

TEST_F(ExcelFormulaExportTest, FunctionsWithoutNumbersAreCalledByName) {
  // An add-in's function: its EXTERNNAME through the add-in book's entry, then the
  // arguments, then function 255 counting the name; nested, the outer name comes first.
  EXPECT_EQ(excel(u"=Edate(Eomonth(A1,0),1)", C3),
            (Bytes{0x39, 0, 0, 1, 0, 0, 0, 0x39, 0, 0, 2, 0, 0, 0, 0x44, 0, 0, 0, 0xC0, 0x1E, 0, 0, 0x42, 3, 0xFF,
                   0, 0x1E, 1, 0, 0x42, 3, 0xFF, 0}));
  EXPECT_EQ(context.addInFunctions, (std::vector<uint16_t>{317, 318}));
  EXPECT_EQ(context.externSheets, (std::vector<ExcelExportContext::SheetSpan>{{0, 0, 0, true}}));
  // A later function: its "_xlfn." NAME after the workbook's own, ranges as references.
  context.laterNameBase = 3;
  EXPECT_EQ(excel(u"=SumIfs(A1:A2,B1:B2,\">1\")", C3),
            (Bytes{0x23, 4, 0, 0, 0, 0x25, 0, 0, 1, 0, 0, 0xC0, 0, 0xC0, 0x25, 0, 0, 1, 0, 1, 0xC0, 1, 0xC0, 0x17,
                   2, 1, '>', 0, '1', 0, 0x42, 4, 0xFF, 0}));
  // BIFF5: the add-in's EXTERNSHEET record follows the sheets' own.
  context.externSheets.clear();
  const Bytes five = excel(u"=Quotient(7,2)", C3, false);
  EXPECT_EQ(Bytes(five.begin(), five.begin() + 13), (Bytes{0x39, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0}));
  for (bool biff8 : {true, false}) {
    expectRoundTrip(u"=IfError(1/A1,Weeknum(B1,2))+Gcd(A1:B2,6)-CountIfs(A1:A2,1,B1:B2,\"<3\")", C3, biff8);
    expectRoundTrip(u"=Workday(A1,Mround(B1,2),A3:A9)*AverageIfs(A1:A2,B1:B2,\">0\")", C3, biff8);
  }
  // Damaged or foreign names: an EXTERNSHEET entry or name number out of range is damage,
  // a name the add-in book lacks or Kelp does not know stays unsupported.
  context.biff8 = true;
  context.externSheets = {{0, 0, 0, true}};
  const Bytes call = {0x1E, 1, 0, 0x42, 2, 0xFF, 0};
  EXPECT_EQ(readBack(cat({{0x39, 1, 0, 1, 0, 0, 0}, call}), C3, Kind::Cell), u"error 13");
  EXPECT_EQ(readBack(cat({{0x39, 0, 0, 9, 0, 0, 0}, call}), C3, Kind::Cell), u"error 13");
  EXPECT_EQ(readBack(cat({{0x39, 0, 0}}), C3, Kind::Cell), u"error 13");
  EXPECT_EQ(readBack(cat({{0x23, 9, 0, 0, 0}, call}), C3, Kind::Cell), u"error 13");
  context.addInFunctions = {65500};
  EXPECT_EQ(readBack(cat({{0x39, 0, 0, 1, 0, 0, 0}, call}), C3, Kind::Cell), u"error 35");
  // The name alone, or function 255 without one, is no call Kelp can make.
  context.addInFunctions = {326};
  EXPECT_EQ(readBack(cat({{0x39, 0, 0, 1, 0, 0, 0}}), C3, Kind::Cell), u"error 13");
  EXPECT_EQ(readBack(cat({{0x1E, 1, 0, 0x1E, 2, 0, 0x42, 2, 0xFF, 0}}), C3, Kind::Cell), u"error 35");
  // Pocket Excel has no such names: the cell keeps its value.
  context.pocket = true;
  EXPECT_EQ(refusal(u"=Lcm(4,6)", false), Result::NoExcelForm);
}

TEST_F(ExcelFormulaExportTest, SheetReferencesAndNamesUseTheFilesTables) {
  // BIFF8: an EXTERNSHEET index per span, found again when the span comes back.
  EXPECT_EQ(excel(u"=Data!B3", A1), (Bytes{0x5A, 0, 0, 2, 0, 1, 0xC0}));
  EXPECT_EQ(excel(u"=Sum(Sheet1:Sheet3!$A$1:$B$2)+Data!$A$1", A1),
            (Bytes{0x3B, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0x42, 1, 4, 0, 0x5A, 0, 0, 0, 0, 0, 0, 0x03}));
  EXPECT_EQ(context.externSheets, (std::vector<ExcelExportContext::SheetSpan>{{0, 1, 1}, {0, 0, 2}}));
  // BIFF5: this workbook's sheets counted back from -1, another's after them.
  context.externSheets.clear();
  EXPECT_EQ(excel(u"=Data!B3", A1, false), (Bytes{0x5A, 0xFE, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 2, 0xC0, 1}));
  const uint8_t book = static_cast<uint8_t>(other);
  EXPECT_EQ(excel(u"='C:\\[Other.xls]Feb'!$C$5", A1, false),
            (Bytes{0x5A, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 4, 0, 2}));
  EXPECT_EQ(excel(u"='C:\\[Other.xls]Jan'!$C$5", A1, false)[1], 5);
  EXPECT_EQ(context.externSheets, (std::vector<ExcelExportContext::SheetSpan>{{book, 1, 1}, {book, 0, 0}}));

  // Names by their NAME number; a name's own definition is a reference at the top.
  EXPECT_EQ(excel(u"=Bonus*2", A1), (Bytes{0x43, 3, 0, 0, 0, 0x1E, 2, 0, 0x05}));
  EXPECT_EQ(excel(u"=Bonus", A1, true, Kind::Name), (Bytes{0x23, 3, 0, 0, 0}));
  EXPECT_EQ(excel(u"=Bonus", A1, false).size(), 15u);
  EXPECT_EQ(excel(u"=$A$1:B2", A1, true, Kind::Name), (Bytes{0x25, 0, 0, 1, 0, 0, 0, 1, 0xC0}));
  context.externSheets.clear();
  EXPECT_EQ(excel(u"=Data!$A$1:B2", A1, true, Kind::Name), (Bytes{0x3B, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0xC0}));
  // A name's 3-D references keep offsets, which in BIFF5 are 14 bits: two rows up.
  const Bytes up = excel(u"=Data!A1", C3, false, Kind::Name);
  EXPECT_EQ(Bytes(up.begin() + 15, up.end()), (Bytes{0xFE, 0xFF, 0xFE}));
  EXPECT_EQ(readBack(up, C3, Kind::Name), u"=Data!A1");
}

TEST_F(ExcelFormulaExportTest, FormulasReadBackAsTheyWereWritten) {
  const CellPosition cells[] = {A1, C3, CellPosition{200, 9000}};
  const char16_t* formulas[] = {
      u"=-A1%+(+B2)",
      u"=A1*$B$2+C$3-$D4",
      u"=Data!A1+Sheet1:Sheet3!$B$2:C4",
      u"=Average(Data:Sheet3!A1:A9)&\"x\"",
      u"=Sum(If(A1>0,1),If(B1,A1:A3,4))*Round(If(C1,2.5,3.25)*2,1)",
      u"=\"say \"\"hi\"\"\"&\"Gr\u00FC\u00DFe\"&\"\"",
      u"=!!NA&!!Ref",
      u"=Bonus*VLookup(A1,B1:C9,2,false)",
      u"=Now()+Pi()",
  };
  for (bool biff8 : {true, false})
    for (CellPosition at : cells)
      for (const char16_t* text : formulas) expectRoundTrip(text, at, biff8);
  expectRoundTrip(u"=\"\u4E16\u754C \u00E9\"&A1", C3, true);
  expectRoundTrip(u"='C:\\[Other.xls]Jan:Feb'!A1:B2", C3, true);
  expectRoundTrip(u"='C:\\[Other.xls]Feb'!A1+'C:\\[Other.xls]Jan'!B1", C3, false);
  for (bool biff8 : {true, false}) {
    expectRoundTrip(u"=Data!$A$1:B2+Bonus", A1, biff8, Kind::Name);
    expectRoundTrip(u"=Sum(A1:A3)", A1, biff8, Kind::Name);
  }
  // Dates become their serials.
  Bytes date = excel(u"=12/31/2023+13:30", A1, false);
  EXPECT_EQ(readBack(date, A1, Kind::Cell), u"=45291+0.5625");
  // BIFF5 texts are in the workbook's code page.
  context.codePage = 1251;
  book->codePage = 1251;
  expectRoundTrip(u"=\"\u041F\u0440\u0438\u0432\u0435\u0442\"", A1, false);
  EXPECT_EQ(excel(u"=\"\u0416\"", A1, false), (Bytes{0x17, 1, 0xC6}));
}

TEST_F(ExcelFormulaExportTest, TokensWithoutTextFormStillExport) {
  auto bytesOf = [&](const Tokens& tokens, bool biff8 = true) {
    uint32_t handle = tokens.handle();
    Bytes out;
    EXPECT_EQ(exportHandle(handle, C3, Kind::Cell, biff8, out), Result::Written);
    formulaPool().release(handle);
    return out;
  };
  auto constant = [](Tokens& tokens, const CellValue& value) -> Tokens& {
    tokens.op(Op::Constant);
    for (size_t i = 0; i < sizeof value; ++i) tokens.raw(reinterpret_cast<const uint8_t*>(&value)[i]);
    return tokens;
  };
  auto zeros = [](Tokens& tokens, int count) -> Tokens& {
    while (count-- > 0) tokens.raw(0);
    return tokens;
  };
  Tokens integers;
  integers.op(Op::SmallInteger).raw(7).raw(0).integer(-3).op(Op::Add).integer(70000).op(Op::Add);
  EXPECT_EQ(bytesOf(integers), cat({{0x1E, 7, 0}, num(-3), {0x03}, num(70000), {0x03}}));

  Tokens constants;
  constant(constants, numberValue(5)).logical(true);
  constant(constants, logicalValue(false)).op(Op::Add).op(Op::Add);
  constant(constants, errorValue(CellError::Div0)).op(Op::Add);
  EXPECT_EQ(bytesOf(constants), (Bytes{0x1E, 5, 0, 0x1D, 1, 0x1D, 0, 0x03, 0x03, 0x1C, 7, 0x03}));
  CellValue text;
  makeText(text, u"ab");
  Tokens withText;
  constant(withText, text);
  EXPECT_EQ(bytesOf(withText), (Bytes{0x17, 2, 1, 'a', 0, 'b', 0}));
  releaseValue(text);
  Tokens empty;
  EXPECT_EQ(refusal(constant(empty, emptyValue()).handle(), true), Result::NoExcelForm);

  // Deleted references are written as Excel's error references and read back as !!Ref.
  for (bool biff8 : {true, false}) {
    context.externSheets.clear();
    Tokens deleted;
    zeros(deleted.op(Op::DeletedCellRef), 4);
    zeros(deleted.op(Op::DeletedAreaRef), 8).op(Op::Add);
    zeros(deleted.op(Op::DeletedSheetCellRef).raw(8), 11).op(Op::Add);
    zeros(deleted.op(Op::DeletedSheetAreaRef).raw(9), 11).op(Op::Add);
    const Bytes refs = bytesOf(deleted, biff8);
    // BIFF8 gives the 3-D ones a sheet span, the first EXTERNSHEET entry here.
    if (biff8)
      EXPECT_EQ(refs, cat({{0x4A}, Bytes(4), {0x4B}, Bytes(8), {0x03, 0x5C}, Bytes(6), {0x03, 0x5D}, Bytes(10), {0x03}}));
    else
      EXPECT_EQ(refs, cat({{0x4A}, Bytes(3), {0x4B}, Bytes(6), {0x03, 0x5C}, Bytes(17), {0x03, 0x5D}, Bytes(20), {0x03}}));
    EXPECT_EQ(context.externSheets.size(), biff8 ? 1u : 0u);
    EXPECT_EQ(readBack(refs, C3, Kind::Cell), u"=!!Ref+!!Ref+!!Ref+!!Ref");
  }
}

TEST_F(ExcelFormulaExportTest, WhatExcelCannotHoldIsRefusedAndNothingAppended) {
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    const std::u16string letters(256, u'x');
    EXPECT_EQ(refusal(u"=Data!A1&'C:\\[Other.xls]Jan'!A1&\"" + letters + u"\"", biff8), Result::NoExcelForm);
    EXPECT_EQ(refusal(u"='C:\\[Other.xls]Jan'!A1&\"" + letters.substr(1) + u"\"", biff8), Result::Written);
    EXPECT_EQ(refusal(u"=Tax+1", biff8), Result::NoExcelForm) << "a name that is not written";
    Tokens task;
    task.variable(Op::ReadVariable, 0).number(1).op(Op::Add);
    EXPECT_EQ(refusal(task.handle(), biff8), Result::NoExcelForm);
    EXPECT_EQ(refusal(Tokens().call(221, 0).handle(), biff8), Result::NoExcelForm) << "an internal function";
    EXPECT_EQ(refusal(Tokens().number(1).number(2).number(3).call(25, 3).handle(), biff8), Result::NoExcelForm)
        << "more arguments than Excel takes";
    EXPECT_EQ(refusal(Tokens().error(static_cast<CellError>(300)).handle(), biff8), Result::NoExcelForm);
  }
  context.externSheets.clear();
  // BIFF5 rows end at 16,384, wherever the reference stands.
  EXPECT_EQ(refusal(u"='C:\\[Other.xls]Jan'!A1+A20000", false), Result::RowOutOfReach);
  EXPECT_EQ(refusal(u"=Data!B16384+Sum(A1:A16385)", false), Result::RowOutOfReach);
  EXPECT_EQ(refusal(u"=A5", false, CellPosition{0, 16380}), Result::Written) << "judged where it points";
  EXPECT_EQ(refusal(u"=A16384+Data!A1:B16384", false), Result::Written);
  EXPECT_EQ(refusal(u"=A20000", true), Result::Written);
  // BIFF5 names another workbook's sheets one at a time.
  EXPECT_EQ(refusal(u"='C:\\[Other.xls]Jan:Feb'!A1", false), Result::NoExcelForm);
  // Jumps that are not If's own.
  Tokens stray;
  size_t jump = stray.number(1).jump(Op::JumpIfFalse);
  stray.number(2);
  stray.patchJump(jump, stray.size());
  stray.op(Op::Add);
  EXPECT_EQ(refusal(stray.handle(), true), Result::NoExcelForm);
  // If(A1,2,3): A1 at 0, its jump-if-false at 5, 2 at 8, the then branch's jump at 17.
  for (size_t offsetByte : {6, 18}) {
    uint32_t moved = compiled(u"=If(A1,2,3)", C3);
    static_cast<uint8_t*>(formulaPool().data(moved))[4 + offsetByte] += 1;
    EXPECT_EQ(refusal(moved, true), Result::NoExcelForm) << "a jump moved at " << offsetByte;
  }
}

TEST_F(ExcelFormulaExportTest, ArrayConstantsTravelWithTheirDataAfterTheTokens) {
  const std::u16string text = u"=Sum({1,-2.5;\"\u00E9\",true;!!NA,})+VLookup(2,{1,\"a\";2,\"b\"},2)";
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    const uint32_t handle = compiled(text, C3);
    context.biff8 = biff8;
    const auto* data = static_cast<const uint8_t*>(formulaPool().data(handle));
    Bytes out, extra;
    ASSERT_EQ(convertToExcelFormula(data + 4, readU32(data), C3, Kind::Cell, context, out, &extra), Result::Written);
    // Without a place for the data, and in Pocket Excel, the formula has no form.
    Bytes none;
    EXPECT_EQ(convertToExcelFormula(data + 4, readU32(data), C3, Kind::Cell, context, none), Result::NoExcelForm);
    context.pocket = true;
    context.biff8 = false;
    EXPECT_EQ(convertToExcelFormula(data + 4, readU32(data), C3, Kind::Cell, context, none, &none), Result::NoExcelForm);
    EXPECT_TRUE(none.empty());
    context.pocket = false;
    context.biff8 = biff8;
    formulaPool().release(handle);
    // tArray in the array class with the shape in its unused bytes; the data counts less
    // one in BIFF8 and whole in BIFF5.
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{0x60, 1, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(extra.begin(), extra.begin() + 4), biff8 ? (Bytes{1, 2, 0, 0x01}) : (Bytes{2, 3, 0, 0x01}));

    ExcelFormulaContext reader = readerContext();
    const uint32_t texts = textPool().liveCount();
    const uint32_t back = convertExcelFormula(out.data(), out.size(), C3, ExcelFormulaKind::Cell, reader, extra.data(),
                                              extra.size());
    ASSERT_NE(back, NoHandle) << pendingError();
    std::u16string shown;
    EXPECT_TRUE(formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(back)), C3, shown));
    EXPECT_EQ(shown, text);
    formulaPool().release(back);
    // Data cut anywhere, or an element of no known kind, is damage: refused, nothing kept.
    for (size_t cut = 0; cut < extra.size(); ++cut) {
      clearError();
      EXPECT_EQ(convertExcelFormula(out.data(), out.size(), C3, ExcelFormulaKind::Cell, reader, extra.data(), cut),
                NoHandle);
      EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead)) << "cut at " << cut;
    }
    Bytes unknown = extra;
    unknown[3] = 0x03;
    clearError();
    EXPECT_EQ(convertExcelFormula(out.data(), out.size(), C3, ExcelFormulaKind::Cell, reader, unknown.data(),
                                  unknown.size()),
              NoHandle);
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead));
    // More elements than Kelp holds in one array keep the cell's value.
    Bytes huge = {0xFF, 0xFF, 0x7F};
    clearError();
    EXPECT_EQ(convertExcelFormula(out.data(), 8, C3, ExcelFormulaKind::Cell, reader, huge.data(), huge.size()),
              NoHandle);
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::UnsupportedFormula));
    clearError();
    EXPECT_EQ(textPool().liveCount(), texts);
  }
}

TEST_F(ExcelFormulaExportTest, DamagedTokensAreMalformed) {
  EXPECT_EQ(refusal(Tokens().handle(), true), Result::Malformed) << "no operand";
  EXPECT_EQ(refusal(Tokens().number(1).op(Op::Add).handle(), true), Result::Malformed);
  EXPECT_EQ(refusal(Tokens().number(1).number(2).handle(), true), Result::Malformed) << "two results";
  EXPECT_EQ(refusal(Tokens().number(1).raw(200).handle(), true), Result::Malformed) << "an unused op";
  EXPECT_EQ(refusal(Tokens().number(1).call(3, 2).handle(), true), Result::Malformed) << "too few operands";
  // A string whose text is gone (no pool entry: releasing it would touch the text).
  const Bytes dead = {static_cast<uint8_t>(Op::String), 0xFE, 0xFF, 0xFF, 0xFF, 0};
  Bytes out;
  EXPECT_EQ(convertToExcelFormula(dead.data(), dead.size(), C3, Kind::Cell, context, out), Result::Malformed);
  EXPECT_TRUE(out.empty());
  // Every cut inside an op's payload is refused; a cut between ops may leave a formula.
  uint32_t whole = compiled(u"=Sum(A1:B2,Data!C3)*If(A1,\"t\",2.5)+Bonus", C3);
  const auto* data = static_cast<const uint8_t*>(formulaPool().data(whole));
  const Bytes tokens(data + 4, data + 4 + readU32(data));
  std::vector<size_t> starts;
  for (size_t at = 0; at < tokens.size(); at += 1 + payloadSize(tokens[at])) starts.push_back(at);
  for (size_t cut = 1; cut < tokens.size(); ++cut) {
    out.clear();
    context.externSheets.clear();
    context.biff8 = cut % 2 == 0;
    Result result = convertToExcelFormula(tokens.data(), cut, C3, Kind::Cell, context, out);
    if (std::find(starts.begin(), starts.end(), cut) == starts.end())
      EXPECT_EQ(result, Result::Malformed) << "cut at " << cut;
    else
      EXPECT_TRUE(result == Result::Malformed || result == Result::NoExcelForm ||
                  (result == Result::Written && !out.empty()))
          << "cut at " << cut;
  }
  formulaPool().release(whole);
}

}  // namespace
}  // namespace kelp
