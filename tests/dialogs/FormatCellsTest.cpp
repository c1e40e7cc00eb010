// Format Cells and the two format dialogs driven by keys: formats built from their parts,
// kept in the file and deleted again, and OK applying only what was changed.
#include "dialogs/FormatCells.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "DialogTestSupport.h"
#include "dialogs/NumberFormatDialogs.h"
#include "files/Document.h"
#include "format/ValueText.h"
#include "platform/Text.h"

namespace kelp::test {
namespace {

struct TempFolderForTest {
  std::string path;
  TempFolderForTest() {
    char name[] = "/tmp/kelp-formats-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolderForTest() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

class FormatCellsTest : public DialogTest {
 protected:
  bool formatCells(const std::string& keys, Workbook* other = nullptr, UndoList* otherUndo = nullptr) {
    script(keys);
    const bool changed = runFormatCellsDialog(desktop, other ? *other : *book, otherUndo ? *otherUndo : undo);
    noProblems();
    return changed;
  }
  std::u16string display(const Workbook& wb, int col, int row) {
    const Sheet& s = *wb.activeSheet();
    std::u16string out;
    (void)displayText(s.cellValue(col, row), wb.numberFormats, wb.style(s.effectiveStyle(col, row)).numberFormat,
                      NoWidthLimit, nullptr, out);
    return out;
  }
};

TEST_F(FormatCellsTest, UserNumberFormatIsBuiltAppliedKeptAndDeleted) {
  ASSERT_TRUE(enter(1, 1, u"1234.5"));
  ASSERT_TRUE(enter(1, 2, u"-7"));
  undo.clear();
  select(1, 1, 1, 2);
  // Delete is grey on General, so Up from the tabs reaches New...; the Number Format
  // dialog opens on its first prefix: "€ " typed, down to the separator box, checked,
  // OK; then Format Cells' OK.
  EXPECT_TRUE(formatCells("key Up\nkey Enter\ntext € x\nkey Back\n"
                          "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nsoft1\nsoft1\n"));
  ASSERT_EQ(book->numberFormats.size(), 17u);
  const NumberFormatRecord made = book->numberFormats[16];
  EXPECT_EQ(made.positivePrefix, u"€ ");
  EXPECT_EQ(made.negativePrefix, u"-");
  EXPECT_EQ(made.decimals, 2);
  EXPECT_TRUE(made.thousands);
  EXPECT_EQ(display(*book, 1, 1), u"€ 1,234.50");
  EXPECT_EQ(display(*book, 1, 2), u"-7.00");
  ASSERT_EQ(undo.size(), 1u);
  EXPECT_TRUE(saw(u"Number Format"));

  // The format stays in the file.
  TempFolderForTest folder;
  const std::u16string path = utf8ToUtf16(folder.path + "/formats.kp");
  {
    Document doc;
    doc.replaceWorkbook(std::move(book));
    ASSERT_TRUE(SaveDocument(doc, path, DocFileType::Native)) << pendingError();
  }
  undo.clear();
  Document back;
  ASSERT_TRUE(OpenDocument(back, path)) << pendingError();
  Workbook& reread = back.workbook();
  setEvalWorkbook(&reread);
  ASSERT_EQ(reread.numberFormats.size(), 17u);
  EXPECT_TRUE(reread.numberFormats[16].sameAs(made)) << "the user format read back differs";
  EXPECT_EQ(display(reread, 1, 1), u"€ 1,234.50");

  // Opened on B2 the sheet shows the user format chosen, so Delete is enabled: pressed,
  // the format goes and the cells that used it fall back to General. OK then has
  // nothing left to change and records nothing.
  UndoList again;
  reread.activeSheet()->selection = Selection::ofStored(Area{1, 1, 1, 1}, 1, 1);
  EXPECT_FALSE(formatCells("key Up\nkey Enter\nsoft1\n", &reread, &again));
  EXPECT_EQ(reread.numberFormats.size(), 16u);
  EXPECT_EQ(reread.style(reread.activeSheet()->effectiveStyle(1, 2)).numberFormat, BuiltInFormat::General);
  EXPECT_EQ(display(reread, 1, 1), u"1234.5");
  EXPECT_EQ(again.size(), 0u);
  // On a built-in format Delete is grey again and Up reaches New..., here cancelled.
  EXPECT_FALSE(formatCells("key Up\nkey Enter\nsoft2\nsoft1\n", &reread, &again));
  EXPECT_EQ(reread.numberFormats.size(), 16u);
  setEvalWorkbook(nullptr);
}

TEST_F(FormatCellsTest, DateFormatIsBuiltFromItsPartsAndABadOneKeepsTheDialogOpen) {
  // Opened on the short date M/d/yy: "q" is no date code, so OK shows the message and
  // the dialog stays; "d" mends it, the separators become ".", the third part "yyyy",
  // the time is switched on and Right turns its picture from H:mm to the next offer.
  script("key Down\ntext q\nkey Down\ntext .\nkey Down\ntext MMM\nkey Down\ntext .\nkey Down\ntext yyyy\n"
         "soft1\nsoft1\nkey Up\nkey Up\nkey Up\nkey Up\nkey Back\ntext d\n"
         "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nkey Down\nkey Right\nsoft1\n");
  const int32_t index = runDateFormatDialog(desktop, *book, book->numberFormats[BuiltInFormat::ShortDate]);
  noProblems();
  EXPECT_TRUE(saw(u"Invalid date format!"));
  ASSERT_EQ(index, 16);
  EXPECT_EQ(book->numberFormats[16].kind, FormatKind::DateTime);
  EXPECT_EQ(book->numberFormats[16].datePicture, u"d.MMM.yyyy");
  EXPECT_EQ(book->numberFormats[16].timePicture, u"h:mm:ss tt");

  // Opened on it, OK finds the same format instead of adding it; a field twice is refused.
  script("soft1\n");
  EXPECT_EQ(runDateFormatDialog(desktop, *book, book->numberFormats[16]), 16);
  std::u16string picture;
  EXPECT_FALSE(buildDatePicture({u"M", u"/", u"MM", u"/", u"yy"}, picture));
  EXPECT_FALSE(buildDatePicture({u"d", u"x", u"M", u"", u""}, picture));
  EXPECT_TRUE(buildDatePicture({u"", u"", u"MMMM", u" ", u"yyyy"}, picture));
  EXPECT_EQ(picture, u"MMMM yyyy");
  EXPECT_FALSE(validTimePicture(u"hhh:mm"));
  EXPECT_FALSE(validTimePicture(u"tt"));
  EXPECT_EQ(book->numberFormats.size(), 17u);
}

TEST_F(FormatCellsTest, OkAppliesOnlyWhatChangedAndNothingWhenNothingDid) {
  ASSERT_TRUE(enter(1, 1, u"1"));
  ASSERT_TRUE(enter(2, 1, u"2"));
  select(1, 1, 1, 1);
  ASSERT_TRUE(applyItalic(*book, undo, true));
  select(2, 1, 2, 1);
  ASSERT_TRUE(applyAlignment(*book, undo, HAlign::Right, false));
  undo.clear();
  select(1, 1, 2, 1);
  const std::vector<uint8_t> before = fileBytes();

  // Every page turned, Bold switched on and off again, the colour moved and moved back.
  EXPECT_FALSE(formatCells("key Right\nkey Right\nkey Down\nkey Down\nkey Down\nkey Right\nkey Left\n"
                           "key Down\nkey Down\nkey Enter\nkey Enter\nkey Up\nkey Up\nkey Up\nkey Up\nkey Up\n"
                           "key Right\nkey Right\nsoft1\n"));
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_EQ(fileBytes(), before);

  // Bold alone: B2 stays italic and left as it was, C2 stays right-aligned and does not
  // become italic from the active cell's copy.
  EXPECT_TRUE(formatCells("key Right\nkey Right\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nsoft1\n"));
  EXPECT_TRUE(fontOf(1, 1).options & FontOption::Italic);
  EXPECT_FALSE(fontOf(2, 1).options & FontOption::Italic);
  EXPECT_EQ(fontOf(1, 1).weight, 700);
  EXPECT_EQ(fontOf(2, 1).weight, 700);
  EXPECT_EQ(book->style(sheet().effectiveStyle(2, 1)).horizontalAlignment(), HAlign::Right);
  EXPECT_EQ(book->style(sheet().effectiveStyle(1, 1)).horizontalAlignment(), HAlign::General);
  ASSERT_EQ(undo.size(), 1u);
  ASSERT_TRUE(undo.undo(*book)) << pendingError();
  EXPECT_EQ(fileBytes(), before);
}

}  // namespace
}  // namespace kelp::test
