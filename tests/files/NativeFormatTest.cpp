// Tests of the native record stream: round trips, versions, passwords, damaged files
// and clipboard ranges.
#include <gtest/gtest.h>

#include <algorithm>

#include "NativeTestSupport.h"
#include "files/Password.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

using namespace kelp::test;

NativeReadOptions withPassword(std::u16string password) {
  NativeReadOptions options;
  options.askPassword = [password](std::u16string& entered, uint32_t error) {
    if (error) return false;  // a damaged hash is never matched: give up like a user would
    entered = password;
    return true;
  };
  return options;
}

TEST(NativeFormat, RoundTripKeepsEveryRecordAndSavesTheSameBytesAgain) {
  for (bool password : {false, true}) {
    SCOPED_TRACE(password ? "with password" : "without password");
    clearError();
    auto original = richWorkbook(password);
    std::vector<uint8_t> first = saveToBytes(*original);
    ASSERT_EQ(pendingError(), 0u);
    for (const DefinedName& name : original->names) EXPECT_EQ(name.saveIndex, -1) << "save indexes are reset";
    bool ok = false;
    NativeReadResult result;
    auto copy = readFromBytes(first, ok, withPassword(u"Geheim"), &result);
    ASSERT_TRUE(ok) << pendingError();
    EXPECT_TRUE(result.hasVolatile);  // the first formula calls Now
    EXPECT_EQ(result.formulaCount, 3);
    expectSameWorkbook(*original, *copy);
    // Shared token strings stay shared, and each cell holds one reference.
    const uint32_t a = formulaTokens(copy->sheetAt(0)->cellPtr(1, 1)->value);
    const uint32_t b = formulaTokens(copy->sheetAt(0)->cellPtr(2, 1)->value);
    EXPECT_EQ(a, b);
    EXPECT_EQ(formulaPool().refCount(a), 2u);
    std::vector<uint8_t> second = saveToBytes(*copy);
    EXPECT_EQ(first, second);
    if (password) {
      // Scrambled: the sheet name does not appear in the clear, and the header does.
      std::u16string name = u"second sheet";
      std::vector<uint8_t> needle;
      for (char16_t c : name) needle.insert(needle.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
      EXPECT_EQ(std::search(first.begin(), first.end(), needle.begin(), needle.end()), first.end());
      EXPECT_EQ(first[0], 1);
    }
  }
}

TEST(NativeFormat, StringsAreNumberedByFileOrderDespitePoolHoles) {
  clearError();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  // Make holes: texts freed before the written ones, and one text nobody uses.
  CellValue scratch[5];
  for (int i = 0; i < 5; ++i) makeText(scratch[i], u"hole");
  setText(sheet, 0, 0, u"first");
  for (int i = 0; i < 5; i += 2) releaseValue(scratch[i]);
  setText(sheet, 1, 0, u"second");
  uint32_t unused = textPool().add(u"unused", 14, 1);
  std::vector<uint8_t> bytes = saveToBytes(*book);
  std::u16string word = u"unused";
  std::vector<uint8_t> needle;
  for (char16_t c : word) needle.insert(needle.end(), {static_cast<uint8_t>(c), 0});
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()), bytes.end())
      << "a text no cell uses is not written";
  bool ok = false;
  auto copy = readFromBytes(bytes, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(textOf(copy->sheetAt(0)->cellValue(0, 0)), u"first");
  EXPECT_EQ(textOf(copy->sheetAt(0)->cellValue(1, 0)), u"second");
  EXPECT_EQ(textPool().refCount(copy->sheetAt(0)->cellValue(0, 0).u32()), 1u);
  textPool().release(unused);
  for (int i = 1; i < 5; i += 2) releaseValue(scratch[i]);
}

TEST(NativeFormat, VersionsDecideWhetherAFileOpens) {
  using R = std::vector<uint8_t>;
  auto header = [](uint16_t format, uint16_t writer, uint16_t oldest) {
    return R{static_cast<uint8_t>(format), 0, static_cast<uint8_t>(writer), 0, static_cast<uint8_t>(oldest), 0, 0, 0x20};
  };
  R sheet = {12, 0, 0, 0, u'N', 0, u'e', 0, u'w', 0, u'e', 0, u'r', 0, 0, 0};
  // A newer writer that older readers may open: message 33 at once, then the data.
  clearError();
  std::vector<uint32_t> shown;
  NativeReadOptions options;
  options.showMessage = [&](uint32_t code) { shown.push_back(code); };
  NativeReadResult result;
  bool ok = false;
  auto book = readFromBytes(records({{1, header(3, 4, 3)}, {7, sheet}, {5, {}}, {2, {}}}), ok, options, &result);
  EXPECT_TRUE(ok);
  EXPECT_EQ(result.notice, 33u);
  EXPECT_EQ(shown, std::vector<uint32_t>{33});
  ASSERT_EQ(book->sheetCount(), 1);
  EXPECT_EQ(book->sheetAt(0)->name, u"Newer");
  EXPECT_EQ(pendingError(), 0u);
  // A newer writer that needs a newer reader is refused.
  clearError();
  shown.clear();
  book = readFromBytes(records({{1, header(3, 4, 4)}, {7, sheet}, {2, {}}}), ok, options, &result);
  EXPECT_FALSE(ok);
  EXPECT_EQ(pendingError(), 34u);
  EXPECT_EQ(book->sheetCount(), 0);
  EXPECT_TRUE(shown.empty());
  // A first record other than 1, and an empty stream.
  clearError();
  book = readFromBytes(records({{7, sheet}, {1, header(3, 3, 3)}, {2, {}}}), ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(pendingError(), 12u);
  clearError();
  book = readFromBytes({}, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(pendingError(), 12u);
  // Only records 1 and 2: a workbook without sheets.
  clearError();
  book = readFromBytes(records({{1, header(3, 3, 3)}, {2, {}}}), ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(book->sheetCount(), 0);
  // No record 2: reading runs past the end.
  clearError();
  book = readFromBytes(records({{1, header(3, 3, 3)}, {7, sheet}}), ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(pendingError(), 13u);
  // An earlier format gets the formats of its release and its unknown high records ignored.
  clearError();
  book = readFromBytes(records({{1, header(2, 2, 2)}, {7, sheet}, {7, sheet}, {5, {}}, {5, {}}, {0x8001, {11, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}, {2, {}}}), ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(book->numberFormats.size(), builtInFormats().size() + 3);
  EXPECT_EQ(book->activeSheetIndex(), 0);
  clearError();
}

TEST(NativeFormat, PasswordIsAskedUntilRightOrCancelled) {
  clearError();
  auto original = richWorkbook(true);
  std::vector<uint8_t> bytes = saveToBytes(*original);
  std::vector<uint32_t> errorsSeen;
  // "Idheim" shares the check value of "Geheim" but not its keys: the content refuses it.
  ASSERT_EQ(passwordHash(u"Idheim"), passwordHash(u"Geheim"));
  std::vector<std::u16string> answers = {u"wrong", u"Idheim", u"Gehei", u"Geheim"};
  size_t asked = 0;
  NativeReadOptions options;
  options.askPassword = [&](std::u16string& entered, uint32_t error) {
    errorsSeen.push_back(error);
    if (asked == answers.size()) return false;
    entered = answers[asked++];
    return true;
  };
  bool ok = false;
  auto copy = readFromBytes(bytes, ok, options);
  EXPECT_TRUE(ok);
  EXPECT_EQ(errorsSeen, (std::vector<uint32_t>{0, 45, 45, 45}));
  EXPECT_EQ(copy->password, u"Geheim");
  EXPECT_EQ(pendingError(), 0u);

  // Cancelling ends the read without an error.
  asked = answers.size();
  errorsSeen.clear();
  NativeReadResult result;
  copy = readFromBytes(bytes, ok, options, &result);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(copy->sheetCount(), 0);

  // The hash: code times position, and the keys depend only on length and two low bytes.
  EXPECT_EQ(passwordHash(u""), 0u);
  EXPECT_EQ(passwordHash(u"ab"), 97u + 2u * 98u);
  MemoryDocStream x, y;
  x.SetScrambleKey(u"\u0141bc");  // low byte 0x41 like "A"
  y.SetScrambleKey(u"Abz");
  EXPECT_EQ(x.scrambleKey1(), y.scrambleKey1());
  EXPECT_EQ(x.scrambleKey2(), y.scrambleKey2());
}

// The bytes a stream keyed by `password` writes for `bytes`, or reads from them.
std::vector<uint8_t> throughScrambling(const std::vector<uint8_t>& bytes, bool writing) {
  std::vector<uint8_t> out(bytes.size());
  if (writing) {
    MemoryDocStream stream;
    stream.SetScrambleKey(u"Geheim");
    stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    out.assign(stream.data(), stream.data() + stream.size());
  } else {
    MemoryDocStream stream(bytes.data(), bytes.size());
    stream.SetScrambleKey(u"Geheim");
    EXPECT_EQ(stream.Read(out.data(), static_cast<uint32_t>(out.size())), out.size());
  }
  return out;
}

// A saved workbook with every record's framing in the clear: the records after the
// password record are unscrambled, and `clearUpTo` tells where they begin.
struct PlainFile {
  std::vector<uint8_t> bytes;
  size_t clearUpTo = 0;
  std::vector<size_t> recordStarts;

  PlainFile(const std::vector<uint8_t>& saved) : bytes(saved), clearUpTo(saved.size()) {
    for (size_t at = 0; at + 4 <= bytes.size();) {
      recordStarts.push_back(at);
      uint16_t type = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
      at += 4 + (bytes[at + 2] | bytes[at + 3] << 8);
      if (type == NativeRecord::Password && clearUpTo == saved.size()) {
        clearUpTo = at;
        std::vector<uint8_t> rest(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
        rest = throughScrambling(rest, false);
        std::copy(rest.begin(), rest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
  }
  /// The file with record `index`'s length field moved by `delta`, scrambled again.
  std::vector<uint8_t> withLength(size_t index, int delta) const {
    std::vector<uint8_t> damaged = bytes;
    size_t at = recordStarts[index];
    uint16_t length = static_cast<uint16_t>((damaged[at + 2] | damaged[at + 3] << 8) + delta);
    damaged[at + 2] = static_cast<uint8_t>(length);
    damaged[at + 3] = static_cast<uint8_t>(length >> 8);
    std::vector<uint8_t> rest(damaged.begin() + static_cast<std::ptrdiff_t>(clearUpTo), damaged.end());
    rest = throughScrambling(rest, true);
    std::copy(rest.begin(), rest.end(), damaged.begin() + static_cast<std::ptrdiff_t>(clearUpTo));
    return damaged;
  }
};

TEST(NativeFormat, StoredFormulasThatRunCommandsOrTasksAreRefused) {
  // A file can hold any token. One calling a command or task row, or holding a task op
  // (a task call above all), would write cells or run the workbook's tasks as soon as it
  // was recalculated: the file does not open and the clipboard does not paste, whether
  // the token sits in a cell formula, a name or a validation rule.
  const auto hostile = [](int which) {
    TokenBuilder b;
    switch (which) {
      case 0: return b.integer(0).integer(0).integer(-1).number(7).call(FunctionIndex::FirstInternal, 4).handle();
      case 1: return b.number(1).call(FunctionIndex::FirstTaskOnly, 1).handle();
      case 2: return b.call(FunctionIndex::FirstLateWorksheet - 1, 0).handle();
      case 3: return b.number(1).op(Op::Discard).number(2).handle();
      case 4: return b.number(1).withIndex(Op::AssignVariable, 0).number(2).handle();
      case 5: return b.withIndex(Op::ReadVariable, 0).handle();
      case 6: return b.withIndex(Op::CallTask, 0).number(1).handle();
      case 7: return b.number(1).number(2).withIndex(Op::ForTest, 0).handle();
      default: return b.number(1).number(2).withIndex(Op::ForStep, 0).handle();
    }
  };
  enum Place { Cell, Name, Rule };
  const uint16_t sum = static_cast<uint16_t>(findFunction(u"Sum"));
  const auto bookWith = [&](int which, Place place) {
    auto book = newWorkbook(1);
    Sheet& sheet = *book->sheetAt(0);
    uint32_t tokens = hostile(which);
    if (place == Cell) {
      setFormula(sheet, 0, 0, tokens, numberValue(0));
      return book;
    }
    if (place == Name) {
      book->names.push_back(DefinedName{u"Evil", tokens});
      setFormula(sheet, 0, 0, TokenBuilder().name(0).handle(), numberValue(0));
      return book;
    }
    ValidationEntry rule;
    rule.rule.flags = 1 | (1u << 4);
    rule.rule.formula1 = tokens;
    rule.areas = {Area{0, 0, 0, 0}};
    sheet.validations.push_back(std::move(rule));
    setFormula(sheet, 0, 0, TokenBuilder().number(2).call(sum, 1).handle(), numberValue(0));
    return book;
  };
  const uint32_t textsBefore = textPool().liveCount(), formulasBefore = formulaPool().liveCount();
  for (int which = 0; which <= 8; ++which)
    for (Place place : {Cell, Name, Rule}) {
      SCOPED_TRACE(testing::Message() << "token " << which << " in place " << place);
      clearError();
      std::vector<uint8_t> file, clip;
      {
        auto book = bookWith(which, place);
        file = saveToBytes(*book);
        MemoryDocStream out;
        WriteNativeRange(*book, out, 0, Area{0, 0, 0, 0});
        clip.assign(out.data(), out.data() + out.size());
      }
      ASSERT_EQ(pendingError(), 0u);
      bool ok = true;
      { auto read = readFromBytes(file, ok); }
      EXPECT_FALSE(ok);
      EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead));
      clearError();
      auto target = newWorkbook(1);
      PasteTarget paste;
      NativeReadOptions options;
      options.paste = &paste;
      MemoryDocStream in(clip.data(), clip.size());
      EXPECT_FALSE(ReadNative(*target, in, options));
      EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead));
      EXPECT_TRUE(target->sheetAt(0)->validations.empty());
      clearError();
    }
  EXPECT_EQ(textPool().liveCount(), textsBefore);
  EXPECT_EQ(formulaPool().liveCount(), formulasBefore);
  // Worksheet rows still open.
  auto book = newWorkbook(1);
  setFormula(*book->sheetAt(0), 1, 1, TokenBuilder().number(2).call(sum, 1).handle(), numberValue(0));
  bool ok = false;
  auto read = readFromBytes(saveToBytes(*book), ok);
  EXPECT_TRUE(ok);
}

TEST(NativeFormat, ArrayConstantsRoundTripAndADamagedOneIsRefused) {
  const std::u16string text = u"=Sum({1,\"a\";3,4})+Count({,!!NA,true})";
  std::vector<uint8_t> file;
  const uint32_t textsBefore = textPool().liveCount(), formulasBefore = formulaPool().liveCount();
  {
    auto book = newWorkbook(1);
    setFormula(*book, *book->sheetAt(0), 1, 1, text);
    file = saveToBytes(*book);
  }
  bool ok = false;
  {
    auto read = readFromBytes(file, ok);
    ASSERT_TRUE(ok) << pendingError();
    EXPECT_EQ(formulaOf(*read, *read->sheetAt(0), 1, 1), text);
  }
  // The first array's header: 2 columns, 2 rows, then its element bytes.
  const uint8_t header[] = {44, 2, 0, 2, 0};
  auto at = std::search(file.begin(), file.end(), std::begin(header), std::end(header));
  ASSERT_NE(at, file.end());
  const size_t count = static_cast<size_t>(at - file.begin()) + 5;
  for (int delta : {-1, 1, 200}) {
    SCOPED_TRACE(delta);
    std::vector<uint8_t> damaged = file;
    damaged[count] = static_cast<uint8_t>(damaged[count] + delta);
    clearError();
    { auto read = readFromBytes(damaged, ok); }
    EXPECT_FALSE(ok);
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead));
  }
  clearError();
  EXPECT_EQ(textPool().liveCount(), textsBefore);
  EXPECT_EQ(formulaPool().liveCount(), formulasBefore);
}

TEST(NativeFormat, DamagedFilesFailWithAFileErrorAndLeakNothing) {
  clearError();
  uint32_t textsBefore = textPool().liveCount();
  uint32_t formulasBefore = formulaPool().liveCount();
  std::vector<std::vector<uint8_t>> sources;
  {
    auto plain = richWorkbook(false);
    sources.push_back(saveToBytes(*plain));
    auto locked = richWorkbook(true);
    sources.push_back(saveToBytes(*locked));
  }
  ASSERT_EQ(textPool().liveCount(), textsBefore);
  ASSERT_EQ(formulaPool().liveCount(), formulasBefore);
  const std::vector<uint32_t> allowed = {12, 13, 15, 23, 31, 33, 34, 53};
  int failures = 0, successes = 0;
  // Reads `bytes`; true when the read failed with an allowed code (or a cancelled prompt).
  auto check = [&](const std::vector<uint8_t>& bytes) {
    clearError();
    bool ok = false;
    NativeReadResult result;
    {
      auto book = readFromBytes(bytes, ok, withPassword(u"Geheim"), &result);
    }
    bool failedProperly = false;
    if (ok) {
      ++successes;
    } else {
      ++failures;
      failedProperly = result.cancelled || std::find(allowed.begin(), allowed.end(), pendingError()) != allowed.end();
      EXPECT_TRUE(failedProperly) << "error " << pendingError();
    }
    EXPECT_EQ(textPool().liveCount(), textsBefore);
    EXPECT_EQ(formulaPool().liveCount(), formulasBefore);
    return failedProperly;
  };
  for (const std::vector<uint8_t>& source : sources) {
    // A file cut anywhere is refused with a code: a cut between records loses the end
    // record, a cut inside one loses part of it.
    for (size_t cut = 0; cut < source.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << source.size());
      EXPECT_TRUE(check(std::vector<uint8_t>(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(cut))));
    }
    // A record one byte longer or shorter than written leaves the rest of the stream
    // out of step; whatever it then seems to hold, the file is refused.
    PlainFile plain(source);
    ASSERT_GT(plain.recordStarts.size(), 40u);
    for (size_t index = 0; index < plain.recordStarts.size(); ++index)
      for (int delta : {-1, 1}) {
        SCOPED_TRACE(testing::Message() << "record " << index << " length " << (delta > 0 ? "+1" : "-1"));
        EXPECT_TRUE(check(plain.withLength(index, delta)));
      }
    for (size_t at = 0; at < source.size(); at += 9) {
      for (uint8_t mask : {0xFF, 0x01}) {
        std::vector<uint8_t> damaged = source;
        damaged[at] ^= mask;
        (void)check(damaged);
      }
    }
  }
  EXPECT_GT(failures, 100);
  EXPECT_GT(successes, 100);  // damage inside values leaves a readable file
  clearError();
}

TEST(NativeFormat, ClipboardRangePastesIntoAnotherSheetAtAnOffset) {
  clearError();
  auto book = richWorkbook(false);
  Workbook& wb = *book;
  const Area range{0, 0, 11, 5};  // A1:F12, with a merged area and validation inside
  MemoryDocStream out;
  WriteNativeRange(wb, out, 0, range);
  ASSERT_EQ(pendingError(), 0u);
  std::vector<uint8_t> clip(out.data(), out.data() + out.size());

  // Into another workbook: styles, fonts, formats and names come along.
  auto target = newWorkbook(2);
  size_t stylesBefore = static_cast<size_t>(target->styles.size());
  PasteTarget paste;
  paste.sheet = 1;
  paste.column = 10;
  paste.row = 100;
  NativeReadOptions options;
  options.paste = &paste;
  NativeReadResult result;
  MemoryDocStream in(clip.data(), clip.size());
  ASSERT_TRUE(ReadNative(*target, in, options, &result)) << pendingError();
  EXPECT_TRUE(result.pasted);
  EXPECT_EQ(result.pastedArea, (Area{100, 10, 111, 15}));
  const Sheet& src = *wb.sheetAt(0);
  const Sheet& dst = *target->sheetAt(1);
  for (int32_t r = 0; r <= 11; ++r)
    for (int32_t c = 0; c <= 5; ++c) {
      CellRecord x, y;
      src.getCell(c, r, x);
      dst.getCell(c + 10, r + 100, y);
      ASSERT_EQ(x.value.kind, y.value.kind) << c << "," << r;
      if (x.value.kind == ValueKind::Formula) {
        // A reference to IV, a column left of A, is past the edge ten columns on: !!Ref.
        std::string expected = tokenText(formulaTokens(x.value));
        if (expected.rfind("CellRef 0 0 255 192", 0) == 0) expected = "Deleted" + expected;
        EXPECT_EQ(expected, tokenText(formulaTokens(y.value)));
        const CellPosition at = formulaPosition(y.value);
        EXPECT_EQ(at.row, r + 100);
        EXPECT_EQ(at.column, c + 10);
        EXPECT_EQ(at.sheet, 1);
      } else if (x.value.kind == ValueKind::Text) {
        EXPECT_EQ(textOf(x.value), textOf(y.value));
      } else {
        EXPECT_TRUE(valuesEqual(x.value, y.value));
      }
      if (x.style > 0) {
        ASSERT_GT(y.style, 0);
        StyleRecord sx = wb.styles[x.style], sy = target->styles[y.style];
        EXPECT_EQ(wb.numberFormats[sx.numberFormat].positivePrefix, target->numberFormats[sy.numberFormat].positivePrefix);
        EXPECT_EQ(wb.fonts[sx.font].face(), target->fonts[sy.font].face());
      }
    }
  EXPECT_GT(static_cast<size_t>(target->styles.size()), stylesBefore);
  EXPECT_GE(target->findName(u"Rate"), 0);
  EXPECT_GE(target->findName(u"Base"), 0) << "names used inside definitions come along";
  EXPECT_LT(target->findName(u"Greeting"), 0) << "names no pasted formula uses stay behind";
  ASSERT_EQ(dst.mergedAreas.size(), 1);
  EXPECT_EQ(dst.mergedAreas[0], (Area{110, 10, 111, 12}));
  ASSERT_EQ(dst.validations.size(), 1u);
  EXPECT_EQ(dst.validations[0].areas, (std::vector<Area>{Area{100, 10, 105, 10}, Area{108, 12, 109, 13}}));

  // Pasting the same data again reuses the styles it added.
  size_t stylesAfter = static_cast<size_t>(target->styles.size());
  MemoryDocStream again(clip.data(), clip.size());
  ASSERT_TRUE(ReadNative(*target, again, options));
  EXPECT_EQ(static_cast<size_t>(target->styles.size()), stylesAfter);

  // Two columns from column IV pass the sheet's edge: error 31 and nothing changes.
  paste.column = 251;
  MemoryDocStream edge(clip.data(), clip.size());
  EXPECT_FALSE(ReadNative(*target, edge, options));
  EXPECT_EQ(pendingError(), 31u);
  EXPECT_FALSE(target->sheetAt(1)->rowExists(0));
  clearError();
  // A target that cuts a merged area is refused with 53.
  paste.column = 0;
  paste.row = 0;
  ASSERT_TRUE(target->sheetAt(1)->mergedAreas.append(Area{5, 5, 20, 7}));
  MemoryDocStream merged(clip.data(), clip.size());
  EXPECT_FALSE(ReadNative(*target, merged, options));
  EXPECT_EQ(pendingError(), 53u);
  clearError();
}

TEST(NativeFormat, ManyMergedAreasAndLongRecordsSurvive) {
  clearError();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  for (uint16_t i = 0; i < 1500; ++i) ASSERT_TRUE(sheet.mergedAreas.append(Area{i, 0, i, 1}));
  sheet.print.footer = u"f";  // the footer record carries its own length
  sheet.print.header = u"a much longer header";
  std::vector<uint8_t> bytes = saveToBytes(*book);
  bool ok = false;
  auto copy = readFromBytes(bytes, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(copy->sheetAt(0)->mergedAreas.size(), 1500);
  EXPECT_EQ(copy->sheetAt(0)->print.footer, u"f");
  EXPECT_EQ(copy->sheetAt(0)->print.header, u"a much longer header");
}

}  // namespace
}  // namespace kelp
