// Formula text: token strings shown again, and generated formulas surviving the round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/FormulaText.h"
#include "formula/Lexer.h"
#include "formula/Catalogue.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

// The token bytes in readable form; string literals by their text, since every
// compile makes new text entries.
std::string normalised(const uint8_t* data) {
  std::string out;
  uint32_t length = readU32(data);
  const uint8_t* tokens = data + 4;
  for (uint32_t at = 0; at < length;) {
    uint8_t op = tokens[at];
    out += opName(op);
    if (op == static_cast<uint8_t>(Op::String)) {
      uint32_t handle = readU32(tokens + at + 1);
      if (handle != NoHandle) out += "\"" + utf16ToUtf8(static_cast<const char16_t*>(textPool().data(handle))) + "\"";
    } else {
      for (int i = 1; i <= payloadSize(op); ++i) out += " " + std::to_string(tokens[at + i]);
    }
    out += ";";
    at += 1 + payloadSize(op);
  }
  return out;
}

class FormulaTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = currentLocale();
    clearError();
    book = newWorkbook(3);
    book->insertSheet(u"My Sheet");
    book->insertSheet(u"Data");
    book->insertSheet(u"Q1");
    book->insertSheet(u"Bob's");
    book->insertSheet(u"Sum");
    book->setName(u"Markup", NoHandle);
  }
  void TearDown() override {
    for (uint32_t handle : handles) formulaPool().release(handle);
    setCurrentLocale(saved);
    clearError();
  }

  const uint8_t* compiled(std::u16string_view text, CellPosition base = {0, 0, 0}) {
    uint32_t handle = compileToHandle(*book, text, base, false);
    EXPECT_NE(handle, NoHandle) << utf16ToUtf8(text) << " error " << pendingError();
    if (handle == NoHandle) {
      clearError();
      return nullptr;
    }
    handles.push_back(handle);
    return static_cast<const uint8_t*>(formulaPool().data(handle));
  }

  // Compiled at `at`, shown from `shownAt`.
  std::u16string shown(std::u16string_view text, CellPosition at = {0, 0, 0}, CellPosition shownAt = {0, 0, 0}) {
    const uint8_t* data = compiled(text, at);
    std::u16string out = u"not shown";
    if (data) {
      EXPECT_TRUE(formulaText(*book, data, shownAt, out));
    }
    return out;
  }

  std::u16string fromTokens(const std::vector<uint8_t>& tokens) {
    std::vector<uint8_t> data(4);
    uint32_t length = static_cast<uint32_t>(tokens.size());
    std::memcpy(data.data(), &length, 4);
    data.insert(data.end(), tokens.begin(), tokens.end());
    std::u16string out;
    formulaText(*book, data.data(), CellPosition{0, 0, 0}, out);
    return out;
  }

  LocaleSettings saved;
  std::unique_ptr<Workbook> book;
  std::vector<uint32_t> handles;
};

TEST_F(FormulaTextTest, RelativeReferencesFollowTheCell) {
  CellPosition c3{2, 2, 0}, d5{3, 4, 0};
  EXPECT_EQ(shown(u"=A1", c3, d5), u"=B3");
  EXPECT_EQ(shown(u"=$A$1", c3, d5), u"=$A$1");
  EXPECT_EQ(shown(u"=A$1", c3, CellPosition{3, 3, 0}), u"=B$1");
  EXPECT_EQ(shown(u"=$A1:B$2", c3, CellPosition{3, 3, 0}), u"=$A2:C$2");
  EXPECT_EQ(shown(u"=A1", CellPosition{1, 0, 0}, CellPosition{0, 0, 0}), u"=IV1") << "columns wrap";
  EXPECT_EQ(shown(u"=A1", CellPosition{0, 1, 0}, CellPosition{0, 0, 0}), u"=A65536") << "rows wrap";
  EXPECT_EQ(shown(u"=iv65536"), u"=IV65536");
}

TEST_F(FormulaTextTest, ShowsWhatWasTyped) {
  EXPECT_EQ(shown(u"=If(A1,1,2)"), u"=If(A1,1,2)");
  EXPECT_EQ(shown(u"=if(a1,if(b1,1),2)"), u"=If(A1,If(B1,1),2)");
  EXPECT_EQ(shown(u"=(1+2)*3"), u"=(1+2)*3");
  EXPECT_EQ(shown(u"=1+2*3"), u"=1+2*3");
  EXPECT_EQ(shown(u"= 1 + ( 2 ) "), u"=1+(2)");
  EXPECT_EQ(shown(u"=-2^2"), u"=-2^2");
  EXPECT_EQ(shown(u"=50%%"), u"=50%%");
  EXPECT_EQ(shown(u"=1<>2&\"a\""), u"=1<>2&\"a\"");
  EXPECT_EQ(shown(u"=\"say \"\"hi\"\"\""), u"=\"say \"\"hi\"\"\"");
  EXPECT_EQ(shown(u"=\"\""), u"=\"\"");
  EXPECT_EQ(shown(u"=TRUE+!!na+!!ref"), u"=true+!!NA+!!Ref");
  EXPECT_EQ(shown(u"=sum(1,2)+pi()"), u"=Sum(1,2)+Pi()");
  EXPECT_EQ(shown(u"=markup"), u"=Markup");
  EXPECT_EQ(shown(u"=10 / 5 / 2"), u"=10 /5/2") << "kept apart so that it does not read back as a date";
  EXPECT_EQ(shown(u"=10/5"), u"=10/5");
}

TEST_F(FormulaTextTest, TrueAndFalseCallsReadBackAsCalls) {
  EXPECT_EQ(shown(u"=true()"), u"=True()");
  EXPECT_EQ(shown(u"=If(False(),TRUE,true())"), u"=If(False(),true,True())");
  const uint8_t* once = compiled(u"=True()+FALSE()");
  ASSERT_NE(once, nullptr);
  std::u16string text;
  ASSERT_TRUE(formulaText(*book, once, CellPosition{0, 0, 0}, text));
  const uint8_t* again = compiled(text);
  ASSERT_NE(again, nullptr) << utf16ToUtf8(text);
  EXPECT_EQ(normalised(once), normalised(again));
}

// Two-digit years read as 1930-2029, so a literal outside those years keeps all four digits.
TEST_F(FormulaTextTest, DateLiteralsKeepTheirCentury) {
  EXPECT_EQ(shown(u"=1/1/1925+0"), u"=1/1/1925+0");
  EXPECT_EQ(shown(u"=1/1/25+0"), u"=1/1/25+0");
  EXPECT_EQ(shown(u"=1/2/05"), u"=1/2/05");
  EXPECT_EQ(shown(u"=1/2/1905"), u"=1/2/1905");
  EXPECT_EQ(shown(u"=12/31/1929"), u"=12/31/1929");
  EXPECT_EQ(shown(u"=1/1/1930"), u"=1/1/30");
  EXPECT_EQ(shown(u"=12/31/2029"), u"=12/31/29");
  EXPECT_EQ(shown(u"=1/1/2030 6:30"), u"=1/1/2030 6:30:00");
  EXPECT_EQ(shown(u"=1/1/100"), u"=1/1/100");
  EXPECT_EQ(shown(u"=12/29/1899 6:00-12/31/1899"), u"=12/29/1899 6:00:00-12/31/1899");
  EXPECT_EQ(shown(u"=13:30"), u"=13:30:00");

  ASSERT_TRUE(selectLocale("en_GB"));
  EXPECT_EQ(shown(u"=2/1/1925+0"), u"=2/1/1925+0");
  EXPECT_EQ(shown(u"=2/1/05"), u"=2/1/05");
  ASSERT_TRUE(selectLocale("de_DE"));
  EXPECT_EQ(shown(u"=2.1.1925+0,5"), u"=2.1.1925+0,5");
  EXPECT_EQ(shown(u"=2.1.2075 12:00"), u"=2.1.2075 12:00:00");
  EXPECT_EQ(shown(u"=2.1.75"), u"=2.1.75");
}

TEST_F(FormulaTextTest, SheetPrefixesAreQuotedWhenTheyMustBe) {
  EXPECT_EQ(shown(u"='My Sheet'!A1"), u"='My Sheet'!A1");
  EXPECT_EQ(shown(u"=data!A1"), u"=Data!A1");
  EXPECT_EQ(shown(u"=Sheet1:Sheet3!$B$2:C3"), u"=Sheet1:Sheet3!$B$2:C3");
  EXPECT_EQ(shown(u"='Sheet1:My Sheet'!A1"), u"='Sheet1:My Sheet'!A1");
  // Names that would read back as a reference, a function or with a broken quote.
  EXPECT_EQ(shown(u"='Q1'!A1"), u"='Q1'!A1");
  EXPECT_EQ(shown(u"='Sum'!A1"), u"='Sum'!A1");
  EXPECT_EQ(shown(u"='Bob''s'!A1"), u"='Bob''s'!A1");

  ExternalBook* external = book->externalBook(book->findOrAddExternalBook(u"", u"Prices.xls"));
  external->sheetNames = {u"Jan", u"Feb 2"};
  EXPECT_EQ(shown(u"=[Prices.xls]Jan!A1"), u"=[Prices.xls]Jan!A1");
  EXPECT_EQ(shown(u"='[Prices.xls]Feb 2'!A1"), u"='[Prices.xls]Feb 2'!A1");
  external = book->externalBook(book->findOrAddExternalBook(u"C:\\data\\", u"Old.xls"));
  external->sheetNames = {u"Jan"};
  EXPECT_EQ(shown(u"='C:\\data\\[Old.xls]Jan'!A1"), u"='C:\\data\\[Old.xls]Jan'!A1");

  // A sheet index beyond the workbook.
  std::vector<uint8_t> tokens = {15, 8, 0, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(fromTokens(tokens), u"=ErrRef!$A$1");
}

TEST_F(FormulaTextTest, DamagedOrForeignTokensStillShow) {
  // Deleted references.
  EXPECT_EQ(fromTokens({29, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), u"=!!Ref");
  EXPECT_EQ(fromTokens({31, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0}), u"=!!Ref+0");
  EXPECT_EQ(fromTokens({32, 0, 0, 0, 0, 0, 0, 0, 0, 0}), u"=!!Ref");
  // Operators without a parentheses token, as other programs write them.
  std::vector<uint8_t> one = {1, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  std::vector<uint8_t> tokens;
  for (int i = 0; i < 3; ++i) tokens.insert(tokens.end(), one.begin(), one.end());
  tokens.insert(tokens.begin() + 18, 5);  // 1 1 + 1 ... then *
  tokens.push_back(7);
  tokens.push_back(0);
  EXPECT_EQ(fromTokens(tokens), u"=(1+1)*1");
  // Ops without a text, unknown ops, a payload cut short and an empty string.
  EXPECT_EQ(fromTokens({4, 7, 0, 0}), u"=!!Err");
  EXPECT_EQ(fromTokens({200, 1, 2}), u"=!!Err");
  EXPECT_EQ(fromTokens({1, 0, 0}), u"=!!Err");
  EXPECT_EQ(fromTokens({5, 0}), u"=!!Err+!!Err");
  EXPECT_EQ(fromTokens({13, 0xFF, 0xFF, 0xFF, 0xFF, 0}), u"=-1");
  EXPECT_EQ(fromTokens({36, 9, 0, 0}), u"=!!Name");
  EXPECT_EQ(pendingError(), 0u) << "damage is shown, not reported";
}

TEST_F(FormulaTextTest, ArrayConstantsReadBackInTheLocalesSeparators) {
  EXPECT_EQ(shown(u"={1, -2.5; \"a\"\"b\", TRUE;!!na,false}"), u"={1,-2.5;\"a\"\"b\",true;!!NA,false}");
  EXPECT_EQ(shown(u"=Sum({1,,+3})*{2}"), u"=Sum({1,,3})*{2}");
  EXPECT_EQ(normalised(compiled(u"={-1;\"x\"}")), "Array 1 0 2 0 14 0;Number 0 0 0 0 0 0 240 191;String\"x\";End;");
  ASSERT_TRUE(selectLocale("de_DE"));
  EXPECT_EQ(shown(u"=Sum({1,5;2|3;4})"), u"=Sum({1,5;2|3;4})");
  const uint8_t* german = compiled(u"={1,5;2|3;4}");
  setCurrentLocale(saved);
  std::u16string out;
  ASSERT_TRUE(formulaText(*book, german, CellPosition{0, 0, 0}, out));
  EXPECT_EQ(out, u"={1.5,2;3,4}");

  // Each refusal names its code and where it was found.
  struct Refused {
    std::u16string text;
    uint32_t code;
    int32_t at;
  };
  std::u16string wide = u"={1", tall = u"={1";
  for (size_t i = 1; i <= ArrayColumnLimit; ++i) wide += u",1";
  for (size_t i = 1; i <= ArrayElementLimit; ++i) tall += u";1";
  wide += u"}";
  tall += u"}";
  for (const Refused& r : std::vector<Refused>{{u"={1,2;3}", 4, 6},
                                               {u"={1;2,3}", 4, 6},
                                               {u"={}", 4, 1},
                                               {u"={A1}", 4, 1},
                                               {u"={1+2}", 4, 2},
                                               {u"={Sum(1)}", 4, 1},
                                               {u"={--1}", 4, 2},
                                               {u"=Sum({1,2", 1, 8},
                                               {u"={1}}", 2, 3},
                                               {u"=1;2", 2, 1},
                                               {wide, 22, static_cast<int32_t>(wide.size() - 2)},
                                               {tall, 22, static_cast<int32_t>(tall.size() - 2)}}) {
    clearError();
    TokenSink sink;
    EXPECT_EQ(compileFormula(*book, r.text, CellPosition{0, 0, 0}, sink, false), r.at) << utf16ToUtf8(r.text);
    EXPECT_EQ(pendingError(), r.code) << utf16ToUtf8(r.text);
    EXPECT_EQ(sink.size(), 0u);
  }
  clearError();
}

TEST_F(FormulaTextTest, TooLongOrTooManyTokensIsError22) {
  std::u16string out = u"kept?";
  const uint8_t* fits = compiled(u"=\"" + std::u16string(MaxFormulaText - 3, u'x') + u"\"");
  ASSERT_NE(fits, nullptr);
  EXPECT_TRUE(formulaText(*book, fits, CellPosition{0, 0, 0}, out));
  EXPECT_EQ(out.size(), MaxFormulaText);
  const uint8_t* tooLong = compiled(u"=\"" + std::u16string(MaxFormulaText - 2, u'x') + u"\"");
  ASSERT_NE(tooLong, nullptr);
  EXPECT_FALSE(formulaText(*book, tooLong, CellPosition{0, 0, 0}, out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(pendingError(), 22u);
  clearError();

  auto sumOfOnes = [](int count) {
    std::u16string text = u"=1";
    for (int i = 1; i < count; ++i) text += u"+1";
    return text;
  };
  // n ones and n - 1 additions.
  EXPECT_TRUE(formulaText(*book, compiled(sumOfOnes(250)), CellPosition{0, 0, 0}, out));
  EXPECT_EQ(out, sumOfOnes(250));
  EXPECT_FALSE(formulaText(*book, compiled(sumOfOnes(251)), CellPosition{0, 0, 0}, out));
  EXPECT_EQ(pendingError(), 22u);
}

TEST_F(FormulaTextTest, ColumnAndRowNames) {
  std::u16string out;
  const std::pair<uint16_t, const char16_t*> columns[] = {{0, u"A"}, {25, u"Z"}, {26, u"AA"}, {51, u"AZ"},
                                                          {52, u"BA"}, {255, u"IV"}};
  for (auto [column, name] : columns) {
    columnName(column, out);
    EXPECT_EQ(out, name);
  }
  rowName(0, out);
  EXPECT_EQ(out, u"1");
  rowName(65535, out);
  EXPECT_EQ(out, u"65536");
}

TEST_F(FormulaTextTest, FormulaValuesShowThroughTheModel) {
  installEntryReading();
  CellValue value;
  compileToValue(*book, u"=A1+Markup+Data!B2", CellPosition{1, 1, 0}, value);
  ASSERT_EQ(value.kind, ValueKind::Formula);
  std::u16string out;
  valueToText(value, out);
  EXPECT_EQ(out, u"=A1+!!Name+ErrRef!B2") << "a formula on no workbook has no workbook to name things from";
  ASSERT_TRUE(book->sheetAt(0)->setCell(1, 1, CellRecord{value, -1}));
  valueToText(book->sheetAt(0)->cellPtr(1, 1)->value, out);
  EXPECT_EQ(out, u"=A1+Markup+Data!B2");
}

TEST_F(FormulaTextTest, EditableTextOfFormulas) {
  installEntryReading();
  CellValue value;
  compileToValue(*book, u"=Data!A1+1/1/1905", CellPosition{0, 0, 0}, value);
  ASSERT_EQ(value.kind, ValueKind::Formula);
  // In a cell the formula has its workbook, whose sheet names it shows.
  ASSERT_TRUE(book->sheetAt(0)->setCell(0, 0, CellRecord{value, -1}));
  std::u16string out;
  EXPECT_TRUE(editableText(book->sheetAt(0)->cellPtr(0, 0)->value, out));
  EXPECT_EQ(out, u"=Data!A1+1/1/1905");

  // Too long to show: the message stands in its place and nothing is reported.
  compileToValue(*book, u"=\"" + std::u16string(MaxFormulaText, u'x') + u"\"", CellPosition{0, 0, 0}, value);
  ASSERT_EQ(value.kind, ValueKind::Formula);
  EXPECT_FALSE(editableText(value, out));
  EXPECT_EQ(out, u"Formula is too complex");
  EXPECT_EQ(pendingError(), 0u);
  setError(Err::FileRead);
  EXPECT_FALSE(editableText(value, out));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead)) << "an earlier error stays";
  clearError();
  releaseValue(value);
}

// A small grammar of formulas; every one must read back to the same tokens.
class Generator {
 public:
  explicit Generator(uint32_t seed) : m_random(seed) {}

  std::u16string formula() { return u"=" + expression(0); }

 private:
  int pick(int n) { return static_cast<int>(m_random() % static_cast<uint32_t>(n)); }

  std::u16string expression(int depth) {
    if (depth > 3) return term(depth);
    // The space before "/" keeps divisions of literals from reading as dates.
    static const char16_t* const operators[] = {u"+", u"-", u"*", u" /", u"^", u"&",
                                                u"=", u"<", u">", u"<=", u">=", u"<>"};
    switch (pick(10)) {
      case 0: case 1: case 2: case 3:
        return expression(depth + 1) + operators[pick(12)] + expression(depth + 1);
      case 4: return u"(" + expression(depth + 1) + u")";
      case 5: return (pick(2) ? u"-" : u"+") + term(depth + 1);
      case 6: return term(depth + 1) + u"%";
      default: return term(depth);
    }
  }

  std::u16string reference() {
    std::u16string out, part;
    if (pick(2)) out += u"$";
    columnName(static_cast<uint16_t>(pick(256)), part);
    out += part;
    if (pick(2)) out += u"$";
    rowName(static_cast<uint16_t>(pick(3) ? pick(100) : pick(65536)), part);
    return out + part;
  }

  std::u16string number() {
    switch (pick(4)) {
      case 0: return decimalText(pick(1000));
      case 1: return decimalText(pick(100)) + currentLocale().decimalSymbol + u"25";
      case 2: return decimalText(pick(9) + 1) + u"E+20";
      default: return decimalText(pick(10));
    }
  }

  std::u16string call(int depth) {
    int32_t index;
    do index = pick(FunctionIndex::FirstInternal);
    while (!functionRow(index).name);
    const FunctionRow& row = functionRow(index);
    int count = row.minArgs + pick(std::min(row.maxArgs - row.minArgs, 3) + 1);
    std::u16string out = std::u16string(row.name) + u"(";
    for (int i = 0; i < count; ++i)
      out += (i ? std::u16string(1, currentLocale().listSeparator) : u"") + expression(depth + 1);
    return out + u")";
  }

  std::u16string term(int depth) {
    static const char16_t* const prefixes[] = {u"Sheet1!", u"'My Sheet'!", u"Sheet1:Sheet3!", u"'Bob''s'!",
                                               u"'Q1'!",   u"DATA!",       u"'Sum'!"};
    static const char16_t* const strings[] = {u"\"\"", u"\"a\"", u"\"say \"\"hi\"\"\"", u"\"x, y; z\""};
    switch (pick(depth > 3 ? 10 : 12)) {
      case 0: case 1: return number();
      case 2: return reference();
      case 3: return reference() + u":" + reference();
      case 4: return prefixes[pick(7)] + reference() + (pick(2) ? u":" + reference() : u"");
      case 5: return u"Markup";
      case 6: return strings[pick(4)];
      case 7: return pick(2) ? u"TRUE" : u"!!NA";
      case 8: return pick(2) ? u"false" : u"!!Ref";
      case 9: return array();
      default: return call(depth);
    }
  }

  std::u16string array() {
    static const char16_t* const others[] = {u"\"\"", u"\"a;b|c\"", u"TRUE", u"false", u"!!NA", u""};
    const int rows = 1 + pick(3), columns = 1 + pick(3);
    const char16_t list = currentLocale().listSeparator;
    std::u16string out = u"{";
    for (int r = 0; r < rows; ++r) {
      if (r) out += arrayRowSeparator(list);
      for (int c = 0; c < columns; ++c) {
        if (c) out += list;
        // A lone empty element would read "{}", which is no array.
        out += pick(2) ? (pick(2) ? u"-" : u"") + number() : others[pick(rows * columns > 1 ? 6 : 5)];
      }
    }
    return out + u"}";
  }

  std::mt19937 m_random;
};

TEST_F(FormulaTextTest, GeneratedFormulasSurviveTheRoundTrip) {
  LocaleSettings comma;
  comma.decimalSymbol = u',';
  comma.listSeparator = u';';
  comma.dateSeparator = u'.';
  comma.dateOrder = 1;
  for (const LocaleSettings& locale : {saved, comma}) {
    setCurrentLocale(locale);
    Generator generator(2024);
    int shownCount = 0;
    for (int i = 0; i < 300; ++i) {
      std::u16string text = generator.formula();
      CellPosition base{static_cast<uint16_t>(i * 7 % 256), static_cast<uint16_t>(i * 211 % 65536), 0};
      uint32_t first = compileToHandle(*book, text, base, false);
      ASSERT_NE(first, NoHandle) << utf16ToUtf8(text) << " error " << pendingError();
      handles.push_back(first);
      std::u16string out;
      if (!formulaText(*book, static_cast<const uint8_t*>(formulaPool().data(first)), base, out)) {
        EXPECT_EQ(pendingError(), 22u) << "only too long a text may fail";
        clearError();
        continue;
      }
      ++shownCount;
      uint32_t second = compileToHandle(*book, out, base, false);
      ASSERT_NE(second, NoHandle) << utf16ToUtf8(text) << " shown as " << utf16ToUtf8(out);
      handles.push_back(second);
      EXPECT_EQ(normalised(static_cast<const uint8_t*>(formulaPool().data(first))),
                normalised(static_cast<const uint8_t*>(formulaPool().data(second))))
          << utf16ToUtf8(text) << " shown as " << utf16ToUtf8(out);
    }
    EXPECT_GT(shownCount, 250);
  }
}

}  // namespace
}  // namespace kelp
