// The error state keeps the first code and turns codes into messages.
#include <gtest/gtest.h>

#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {
namespace {

TEST(ErrorState, FirstErrorWinsUntilCleared) {
  clearError();
  EXPECT_EQ(pendingError(), 0u);
  setError(Err::OutOfMemory);
  setError(Err::FileRead);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_TRUE(hasError(Err::OutOfMemory));
  clearError();
  setError(13u);
  EXPECT_EQ(pendingError(), 13u);
  clearError();
}

TEST(ErrorState, SaveAndRestoreShieldsAnOuterError) {
  clearError();
  setError(Err::ShareViolation);
  SavedErrorState saved = saveErrorState();
  clearError();
  setErrorShowing(false);
  setError(Err::UnknownName);
  restoreErrorState(saved);
  EXPECT_EQ(pendingError(), 47u);
  EXPECT_TRUE(errorShowing());
  clearError();
}

// A detail lives as long as its error: it follows the first error, waits through a
// nested run, and goes with the clearing.
TEST(ErrorState, ADetailGoesWithItsError) {
  clearError();
  setErrorDetail(u"nobody");
  EXPECT_TRUE(pendingErrorDetail().empty()) << "no error, no detail";
  setError(Err::UnknownName, u"Foo");
  setError(Err::FileRead, u"other.kp");
  setErrorDetail(u"Bar");
  EXPECT_EQ(pendingError(), 29u);
  EXPECT_EQ(pendingErrorDetail(), u"Foo");
  EXPECT_EQ(pendingErrorText(), errorMessage(29) + u": Foo");

  SavedErrorState saved = saveErrorState();
  clearError();
  setError(Err::OutOfMemory, u"inner");
  restoreErrorState(saved);
  EXPECT_EQ(pendingErrorDetail(), u"Foo");

  EXPECT_EQ(takePendingErrorText(), errorMessage(29) + u": Foo");
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_TRUE(pendingErrorDetail().empty());
  EXPECT_TRUE(pendingErrorText().empty());
  setError(Err::FileRead);
  EXPECT_EQ(pendingErrorText(), errorMessage(13)) << "a later error does not inherit the old detail";
  setErrorDetail(u"book.kp");
  EXPECT_EQ(pendingErrorText(), errorMessage(13) + u": book.kp");
  clearError();
}

TEST(ErrorState, MessagesComeFromTheStringTable) {
  // A code with a message gets it, one without falls back to its number, and an unused
  // string is empty.
  EXPECT_FALSE(errorMessage(15).empty());
  EXPECT_NE(errorMessage(15), u"Error no. 15");
  EXPECT_EQ(errorMessage(999), u"Error no. 999");
  EXPECT_EQ(errorMessage(123456), u"Error no. 123456");
  EXPECT_TRUE(loadString(1).empty());
}

TEST(Text, Utf8RoundTripKeepsEveryByte) {
  const std::u16string mixed = u"Kč \u00e9t\u00e9 \U0001F600 end";
  EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(mixed)), mixed);
  // Bytes that are no UTF-8 (Latin-1, a cut-short sequence, an overlong "/", an encoded
  // surrogate) each stand for themselves and come back unchanged.
  EXPECT_EQ(utf8ToUtf16("a\xff" "b"), u"a\xDCFF" u"b");
  EXPECT_EQ(utf8ToUtf16("\xe2\x82"), u"\xDCE2\xDC82");
  EXPECT_EQ(utf8ToUtf16("\xc0\xaf"), u"\xDCC0\xDCAF");
  for (const char* bytes : {"caf\xe9.kp", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80x", "\x80\xbf"})
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(bytes)), bytes);
  // Other lone surrogates cannot be written as UTF-8.
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xDC41))), "\xef\xbf\xbd");
}

TEST(Text, CaseFoldingAndFormatting) {
  EXPECT_TRUE(equalsIgnoreCase(u"Sheet1", u"sHEET1"));
  EXPECT_TRUE(equalsIgnoreCase(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
  EXPECT_TRUE(equalsIgnoreCase(u"\u010cESK\u00dd", u"\u010desk\u00fd"));
  EXPECT_TRUE(equalsIgnoreCase(u"\u0414\u0410\u041d\u041d\u042b\u0415", u"\u0434\u0430\u043d\u043d\u044b\u0435"));
  EXPECT_FALSE(equalsIgnoreCase(u"Sheet1", u"Sheet11"));
  EXPECT_LT(compareIgnoreCase(u"apple", u"BANANA"), 0);
  EXPECT_EQ(formatText(u"Sheet%d", 4), u"Sheet4");
  EXPECT_EQ(formatText(u"Error no. %i (100%%)", -3), u"Error no. -3 (100%)");
  EXPECT_EQ(formatText(u"Could not find '%s'.", u"a.kp"), u"Could not find 'a.kp'.");
}

TEST(Text, UpperCaseUndoesFolding) {
  // Every character upperCase changes folds back, and every one foldCase changes comes
  // back up, except the letters whose pair lies elsewhere.
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    const char16_t ch = static_cast<char16_t>(c);
    const bool apart = ch == 0xB5 || ch == 0x131 || ch == 0x17F || ch == 0x3C2 || ch == 0x130;
    EXPECT_TRUE(apart || upperCase(ch) == ch || foldCase(upperCase(ch)) == ch) << std::hex << c;
    EXPECT_TRUE(apart || foldCase(ch) == ch || upperCase(foldCase(ch)) == ch) << std::hex << c;
  }
  EXPECT_EQ(foldCase(0x130), u'i');
  EXPECT_TRUE(equalsIgnoreCase(u"\u038f\u03c1\u03b1", u"\u03ce\u03a1\u0391"));  // a capital with tonos
}

}  // namespace
}  // namespace kelp
