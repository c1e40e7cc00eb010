// The clipboard's two slots: Kelp's data with its text made when asked for in the
// process, and handed over at once to a system clipboard, which another program may
// take over.
#include <gtest/gtest.h>

#include "platform/Clipboard.h"

namespace kelp {
namespace {

class FakeSystemClipboard : public SystemTextClipboard {
 public:
  bool setText(const std::u16string& text) override {
    if (refuse) return false;
    held = text;
    return true;
  }
  bool getText(std::u16string& out) override {
    out = held;
    return !held.empty();
  }
  std::u16string held;
  bool refuse = false;
};

TEST(Clipboard, InTheProcessTheTextIsMadeWhenFirstAskedFor) {
  installSystemTextClipboard(nullptr);
  int renders = 0;
  ASSERT_TRUE(setClipboardData({1, 2, 3}, [&] {
    ++renders;
    return std::u16string(u"a\tb\r\n");
  }));
  EXPECT_TRUE(clipboardHasPrivateData());
  EXPECT_TRUE(clipboardHasText());
  EXPECT_EQ(renders, 0);
  std::u16string text;
  ASSERT_TRUE(clipboardText(text));
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"a\tb\r\n");
  EXPECT_EQ(renders, 1);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(clipboardPrivateData(bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));

  const uint64_t sequence = clipboardSequence();
  ASSERT_TRUE(setClipboardText(u"plain"));
  EXPECT_NE(clipboardSequence(), sequence);
  EXPECT_FALSE(clipboardHasPrivateData());
  EXPECT_FALSE(clipboardPrivateData(bytes));
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"plain");
  emptyClipboard();
  EXPECT_FALSE(clipboardHasText());
  EXPECT_FALSE(clipboardText(text));
}

TEST(Clipboard, ASystemClipboardTakesTheTextAtOnceAndAnotherProgramReplacesKelpsData) {
  FakeSystemClipboard system;
  installSystemTextClipboard(&system);
  int renders = 0;
  ASSERT_TRUE(setClipboardData({7}, [&] {
    ++renders;
    return std::u16string(u"7\r\n");
  }));
  EXPECT_EQ(renders, 1);
  EXPECT_EQ(system.held, u"7\r\n");
  EXPECT_TRUE(clipboardHasPrivateData());
  const uint64_t sequence = clipboardSequence();

  // Another program copies: Kelp's data is gone, the other text is what there is.
  system.held = u"from elsewhere";
  EXPECT_FALSE(clipboardHasPrivateData());
  EXPECT_NE(clipboardSequence(), sequence);
  std::u16string text;
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"from elsewhere");

  // Empty cells give no text, and the data stays Kelp's.
  ASSERT_TRUE(setClipboardData({8}, [] { return std::u16string(); }));
  EXPECT_TRUE(clipboardHasPrivateData());
  EXPECT_FALSE(clipboardHasText());

  // A system that refuses leaves no Kelp data behind.
  system.refuse = true;
  EXPECT_FALSE(setClipboardData({9}, [] { return std::u16string(u"9"); }));
  EXPECT_FALSE(clipboardHasPrivateData());
  installSystemTextClipboard(nullptr);
  EXPECT_FALSE(clipboardHasPrivateData());
  EXPECT_FALSE(clipboardHasText());
}

}  // namespace
}  // namespace kelp
