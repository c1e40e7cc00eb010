// The main menus driven by key scripts that name their items: every item works or is
// grey, and the commands and small dialogs behind them do what they say.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "ShellTestSupport.h"
#include "dialogs/Forms.h"
#include "dialogs/InsertFunction.h"
#include "functions/RecentFunctions.h"
#include "formula/Catalogue.h"
#include "edit/Filter.h"
#include "edit/Outline.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "platform/Clipboard.h"
#include "platform/ui/Menu.h"
#include "shell/MainMenu.h"

namespace kelp::test {
namespace {

void enter(Workbook& book, int32_t col, int32_t row, std::u16string_view text) {
  UndoList scratch;
  ASSERT_TRUE(enterCellValue(book, scratch, col, row, text)) << pendingError();
}

// A workbook with a little of everything the commands act on, selection A1:B2.
std::u16string savedBook(const TempFolder& folder, const std::function<void(Workbook&)>& extra = nullptr,
                         const std::string& name = "book.kp") {
  startEditingOnce();
  auto book = newWorkbook(2);
  book->renameSheet(1, u"Income");
  for (int32_t r = 0; r < 4; ++r) {
    enter(*book, 0, r, decimalText(r + 1));
    enter(*book, 1, r, u"item");
  }
  enter(*book, 2, 0, u"=A1*2");
  Sheet& sheet = *book->activeSheet();
  sheet.selection = Selection::ofStored(Area{0, 0, 1, 1}, 0, 0);
  if (extra) extra(*book);
  return saveWorkbook(std::move(book), folder.file(name));
}

struct Leaf {
  std::string path;
  bool gray;
  int popups;  // the menus the path opens on the way
};

void collect(Menu& menu, const std::string& prefix, int depth, std::vector<Leaf>& out) {
  for (size_t i = 0; i < menu.count(); ++i) {
    MenuItem& item = menu.item(i);
    if (item.separator()) continue;
    const std::string path = (prefix.empty() ? "" : prefix + " > ") + utf16ToUtf8(item.text);
    if (item.submenu) {
      collect(*item.submenu, path, depth + 1, out);
    } else {
      out.push_back({path, item.gray(), depth});
    }
  }
}

// What a command may change, in one comparable text.
std::string fingerprint(Session& s, const std::string& file) {
  Workbook& book = s.book();
  const Sheet& sheet = s.sheet();
  const SheetView& v = sheet.view;
  const Selection& sel = sheet.selection;
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(file, ec).time_since_epoch().count();
  std::string out;
  for (int64_t n : {int64_t(book.modified), int64_t(s.app->document().workbookSerial()), int64_t(book.sheetCount()),
                    int64_t(book.activeSheetIndex()), int64_t(sel.firstRow), int64_t(sel.lastRow),
                    int64_t(sel.firstColumn), int64_t(sel.lastColumn), int64_t(sel.activeRow),
                    int64_t(sel.activeColumn), int64_t(v.zoom), int64_t(v.topRow), int64_t(v.leftColumn),
                    int64_t(v.rowsFrozen), int64_t(v.columnsFrozen), int64_t(s.app->undoList().size()),
                    int64_t(s.app->undoList().position()), int64_t(s.app->navigator().extendMode),
                    int64_t(s.app->fullScreen()), int64_t(s.app->closedByCommand()), int64_t(clipboardSequence()),
                    int64_t(written)})
    out += std::to_string(n) + ",";
  return out;
}

TEST(Menu, EveryItemWorksOrIsGreyAndNoneIsInert) {
  TempFolder folder;
  const std::u16string path = savedBook(folder);
  std::vector<Leaf> leaves;
  emptyClipboard();  // as each item's session starts
  {
    Session s;
    s.run(path, "");
    MenuBar* bar = s.app->menuBar();
    ASSERT_TRUE(bar);
    collect(*bar->key(0).popup, "Select", 1, leaves);
    collect(*bar->key(1).popup, "", 1, leaves);
  }
  ASSERT_GE(leaves.size(), 63u);
  int worked = 0, grey = 0;
  for (const Leaf& leaf : leaves) {
    SCOPED_TRACE(leaf.path);
    emptyClipboard();
    Session s;
    s.run(path, "");
    const std::string before = fingerprint(s, utf16ToUtf8(path));
    const uint64_t modals = s.desktop.modalLoopsStarted();
    s.keys("menu " + leaf.path + "\n");
    if (leaf.gray) {
      ASSERT_EQ(s.backend.problems().size(), 1u);
      EXPECT_NE(s.backend.problems()[0].find("grey"), std::string::npos) << s.backend.problems()[0];
      EXPECT_EQ(fingerprint(s, utf16ToUtf8(path)), before);
      ++grey;
      continue;
    }
    EXPECT_TRUE(s.backend.problems().empty()) << s.backend.problems().front();
    // A dialog or a box beyond the menus opened, or something changed.
    const bool showed = s.desktop.modalLoopsStarted() > modals + static_cast<uint64_t>(leaf.popups);
    EXPECT_TRUE(showed || fingerprint(s, utf16ToUtf8(path)) != before) << "inert";
    ++worked;
  }
  // Grey on a fresh workbook: the items whose dialogs come later, Undo and Redo, Paste
  // and Paste Special (empty clipboard), and the outline items without an outline.
  EXPECT_GE(worked, 45);
  EXPECT_LE(grey, 18);
}

// What kelpcli says of a file, as a user would check it.
std::string kelpcliInfo(const std::u16string& path) {
  std::string out;
  FILE* pipe = ::popen((std::string(KELPCLI) + " info '" + utf16ToUtf8(path) + "'").c_str(), "r");
  if (!pipe) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ::pclose(pipe);
  return out;
}

TEST(Menu, SheetsGoToFindAndReplaceFromTheMenus) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    book.setActiveSheet(1);
    enter(book, 2, 3, u"xabcx");
    enter(book, 3, 0, u"=A1+B1");
    book.setActiveSheet(0);
  });
  Session s;
  // The second sheet through Select > Sheets..., saved: kelpcli names it active.
  s.run(path, "menu Select > Sheets...\nkey Down\nsoft1\nmenu File > Save\n");
  EXPECT_EQ(s.book().activeSheetIndex(), 1);
  EXPECT_NE(kelpcliInfo(path).find("Income (active)"), std::string::npos) << kelpcliInfo(path);

  s.keys("menu Select > Sheets...\nkey Up\nsoft1\nmenu Data > Go to ...\ntext Income!B3\nsoft1\n");
  EXPECT_EQ(s.book().activeSheetIndex(), 1);
  EXPECT_EQ(s.sel().activeColumn, 1);
  EXPECT_EQ(s.sel().activeRow, 2);
  // a?c with wildcards (the fifth control down) and whole cells off finds xabcx.
  s.keys("menu Data > Find...\ntext a?c\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nsoft1\n");
  EXPECT_EQ(s.sel().activeColumn, 2);
  EXPECT_EQ(s.sel().activeRow, 3);
  // Replaced All of 1 by 2 rewrites the formula's references.
  s.keys("menu Data > Replace...\ntext 1\nkey Down\ntext 2\nsoft2\n");
  std::u16string text;
  ASSERT_TRUE(editableText(s.sheet().cellPtr(3, 0)->value, text));
  EXPECT_EQ(text, u"=A2+B2");
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Typing in D1");

  // A rename onto a used name says so and stays open for another; a delete asks first.
  s.keys("menu Select > Sheets...\nsoft2\ntext 2\ntext Sheet1\nsoft1\nsoft1\nsoft2\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"A sheet with the name you specified already exists"));
  EXPECT_EQ(s.book().sheetAt(1)->name, u"Income");
  s.keys("menu Select > Sheets...\nkey Up\nsoft2\ntext 3\nsoft1\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"Delete sheet Sheet1?"));
  ASSERT_EQ(s.book().sheetCount(), 1);
  EXPECT_EQ(s.app->undoList().size(), 0u);
}

TEST(Menu, ZoomAndSizeDialogsKeepToTheirBounds) {
  TempFolder folder;
  Session s;
  s.run(savedBook(folder), "");
  s.keys("menu Zoom > Custom...\ntext 24\nsoft1\nsoft1\nkey Back Back\ntext 201\nsoft1\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"The number must be between 25 and 200."));
  EXPECT_EQ(s.sheet().view.zoom, 100u);  // both refused, the dialog cancelled by the script's end
  s.keys("menu Zoom > Custom...\ntext 25\nsoft1\n");
  EXPECT_EQ(s.sheet().view.zoom, 25u);
  EXPECT_EQ(s.book().sheetAt(1)->view.zoom, 25u);
  s.keys("menu Zoom > Custom...\ntext 200\nsoft1\n");
  EXPECT_EQ(s.sheet().view.zoom, 200u);

  s.keys("menu Format > Column > Width...\ntext 300\nsoft1\n");
  EXPECT_EQ(s.sheet().columns.columnWidth(0), 255 * 256 + 182);
  EXPECT_EQ(s.sheet().columns.columnWidth(1), 255 * 256 + 182);  // the whole selection
  EXPECT_DOUBLE_EQ(shownColumnWidth(255 * 256 + 182), 255.0);
  s.keys("menu Format > Row > Height...\ntext 500\nsoft1\n");
  EXPECT_EQ(s.sheet().rowHeight(0), 409 * 20);
  s.keys("menu Format > Column > Width...\ntext 0\nsoft1\n");
  EXPECT_EQ(s.sheet().columns.visibleColumnWidth(0), 0);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Column Width");
}

TEST(Menu, FreezeTitlesFreezesAboveAndLeftOfTheActiveCellAndUnfreezes) {
  TempFolder folder;
  Session s(480, 640);
  s.run(savedBook(folder), "key Ctrl+Home Right Right Down Down Down Down\n");
  ASSERT_EQ(s.sel().activeColumn, 2);
  ASSERT_EQ(s.sel().activeRow, 4);
  s.keys("menu Format > Freeze Titles\n");
  const SheetView& v = s.sheet().view;
  EXPECT_TRUE(v.columnsFrozen && v.rowsFrozen);
  EXPECT_EQ(v.frozenFirstColumn, 0);
  EXPECT_EQ(v.frozenLastColumn, 1);
  EXPECT_EQ(v.frozenFirstRow, 0);
  EXPECT_EQ(v.frozenLastRow, 3);
  EXPECT_TRUE(s.book().modified);
  EXPECT_TRUE(s.app->menuBar()->findItem(MenuCommand::FreezeTitles)->text == u"Unfreeze Titles");
  s.keys("menu Format > Unfreeze Titles\n");
  EXPECT_FALSE(v.columnsFrozen || v.rowsFrozen);
  EXPECT_EQ(v.topRow, 0);
  EXPECT_EQ(v.leftColumn, 0);
}

TEST(Menu, ProtectingASheetGreysPasteAndEmptiesTheUndoList) {
  TempFolder folder;
  Session s;
  s.run(savedBook(folder), "text 7\nkey Enter\nmenu Edit > Copy\n");
  ASSERT_EQ(s.app->undoList().size(), 1u);
  MenuBar& bar = *s.app->menuBar();
  ASSERT_FALSE(bar.findItem(MenuCommand::Paste)->gray());
  s.keys("menu Tools > Protection > Protect Sheet\n");
  EXPECT_TRUE(s.sheet().isProtected);
  EXPECT_EQ(s.app->undoList().size(), 0u);
  EXPECT_TRUE(bar.findItem(MenuCommand::Paste)->gray());
  EXPECT_FALSE(bar.findItem(MenuCommand::Copy)->gray());
  EXPECT_EQ(bar.findItem(MenuCommand::ProtectSheet)->text, u"Unprotect Sheet");
  s.keys("menu Edit > Paste\n");
  ASSERT_EQ(s.backend.problems().size(), 1u);
  EXPECT_NE(s.backend.problems()[0].find("line 1"), std::string::npos);
  // A command that arrives anyway is refused as the menu shows it.
  s.app->command(MenuCommand::ClearAll);
  EXPECT_EQ(s.sheet().cellPtr(0, 0)->value.kind, ValueKind::Number);
  s.keys("menu Tools > Protection > Unprotect Sheet\n");
  EXPECT_FALSE(s.sheet().isProtected);
  EXPECT_FALSE(bar.findItem(MenuCommand::Paste)->gray());
}

TEST(Menu, FilterNeedsDataAndFillRefusesMergedCells) {
  TempFolder folder;
  Session s;
  s.run(savedBook(folder), "menu Data > Filter\n");
  EXPECT_TRUE(s.sheet().autoFilter.active);
  EXPECT_TRUE(s.app->menuBar()->findItem(MenuCommand::Filter)->checked());
  s.keys("menu Data > Filter\n");
  EXPECT_FALSE(s.sheet().autoFilter.active);
  // An empty sheet has no data to filter.
  s.keys("menu File > New\nsoft2\nmenu Data > Filter\n");  // No: not saved
  EXPECT_TRUE(s.seen.sawLines(u"No data were found."));
  EXPECT_FALSE(s.sheet().autoFilter.active);

  Session m;
  m.run(savedBook(
            folder, [](Workbook& book) { ASSERT_TRUE(book.activeSheet()->mergedAreas.append(Area{0, 1, 0, 2})); },
            "merged.kp"),
        "menu Edit > Fill > Down\n");
  EXPECT_TRUE(m.seen.sawLines(u"Cannot fill merged cells."));
}

TEST(Menu, InsertRowsMovesFormulasAlong) {
  TempFolder folder;
  Session s;
  s.run(savedBook(folder), "menu Edit > Insert Cells\nsoft1\n");
  // Two rows went in above row 1; the formula that read A1 moved to C3 and reads A3.
  std::u16string text;
  ASSERT_TRUE(s.sheet().cellPtr(2, 2));
  ASSERT_TRUE(editableText(s.sheet().cellPtr(2, 2)->value, text));
  EXPECT_EQ(text, u"=A3*2");
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Insert");
  s.keys("menu Edit > Delete Cells\nkey Right\nsoft1\n");  // columns this time
  ASSERT_TRUE(s.sheet().cellPtr(0, 2));
  ASSERT_TRUE(editableText(s.sheet().cellPtr(0, 2)->value, text));
  EXPECT_EQ(text, u"=!!Ref*2");
}

TEST(Menu, AutoOutlineThenHideAndShowDetail) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    for (int32_t r = 0; r < 3; ++r) enter(book, 3, r, decimalText(r + 1));
    enter(book, 3, 3, u"=SUM(D1:D3)");
    for (int32_t r = 4; r < 7; ++r) enter(book, 3, r, decimalText(r));
    enter(book, 3, 7, u"=SUM(D5:D7)");
    enter(book, 3, 8, u"=SUM(D4:D8)");
    book.activeSheet()->selection = Selection::ofStored(Area{3, 3, 3, 3}, 3, 3);
  });
  Session s;
  s.run(path, "menu Tools > Outline > Auto\n");
  EXPECT_EQ(s.sheet().rowOutlineTop, 2);
  // On the subtotal in D4 the rows above it are its detail.
  ASSERT_FALSE(s.app->menuBar()->findItem(MenuCommand::HideDetail)->gray());
  s.keys("menu Tools > Outline > Hide Detail\n");
  for (int32_t r = 0; r < 3; ++r) EXPECT_EQ(s.sheet().visibleRowHeight(r), 0) << r;
  EXPECT_GT(s.sheet().visibleRowHeight(4), 0);
  s.keys("menu Tools > Outline > Show Detail\n");
  for (int32_t r = 0; r < 3; ++r) EXPECT_GT(s.sheet().visibleRowHeight(r), 0) << r;
  // Asked again, No keeps the outline as it is.
  s.keys("menu Tools > Outline > Auto\nsoft2\n");
  EXPECT_TRUE(s.seen.sawLines(u"Modify existing outline?"));
  EXPECT_EQ(s.sheet().rowOutlineTop, 2);
  s.keys("menu Tools > Outline > Clear\n");
  EXPECT_EQ(s.sheet().rowOutlineTop, 0);
}

TEST(Menu, GoalSeekFindsALoanAndPasteSpecialBringsResults) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    book.setActiveSheet(1);
    enter(book, 0, 0, u"200000");
    enter(book, 0, 1, u"0.004");
    enter(book, 0, 2, u"360");
    enter(book, 0, 3, u"=PMT(A2,A3,-A1)");
    book.activeSheet()->selection = Selection::ofStored(Area{3, 0, 3, 0}, 0, 3);
  });
  Session s;
  // Set cell starts as the active cell, A4: a payment of 1000 by changing the principal.
  s.run(path, "menu Tools > Goal Seek...\nkey Down\ntext 1000\nkey Down\ntext A1\nsoft1\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"Goal Seeking found a solution."));
  const double principal = 1000 * (1 - std::pow(1.004, -360)) / 0.004;
  EXPECT_NEAR(s.sheet().cellValue(0, 0).number(), principal, 0.01);
  EXPECT_NEAR(s.sheet().cellValue(0, 3).number(), 1000, 1e-6);
  s.keys("menu Edit > Undo Goal Seek\n");
  EXPECT_TRUE(s.backend.problems().empty());
  EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 200000);
  // A target that is no single cell of the sheet keeps the dialog open.
  s.keys("menu Tools > Goal Seek...\ntext A1:A2\nsoft1\nsoft1\nsoft2\n");
  EXPECT_TRUE(s.seen.sawLines(u"Enter a cell of this sheet, such as B3."));

  // Only results of formulas: the payment's value arrives, not its formula.
  s.keys("menu Edit > Copy\nkey Right\nmenu Edit > Paste Special...\nkey Down Down Down\nkey Enter\nsoft1\n");
  const CellRecord* pasted = s.sheet().cellPtr(1, 3);
  ASSERT_TRUE(pasted);
  EXPECT_EQ(pasted->value.kind, ValueKind::Number);
  EXPECT_NEAR(pasted->value.number(), s.sheet().cellValue(0, 3).number(), 1e-9);
  // A plain Paste brings the formula again.
  s.keys("key Right\nmenu Edit > Paste\n");
  EXPECT_EQ(s.sheet().cellPtr(2, 3)->value.kind, ValueKind::Formula);
}

TEST(Menu, TheEditingMenuInsertsCharactersAndNames) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    enter(book, 4, 0, u"2");
    ASSERT_GE(book.setName(u"Loan", compileToHandle(book, u"=Sheet1!$E$1", CellPosition{}, false)), 0);
  });
  Session s;
  // "+" is the sixth character; the name goes in at the caret.
  s.run(path, "key Ctrl+Home Down Down Down Down Down\ntext =SUM(1\nsoft2\ntext 1\nkey Down Down Down Down Down\nkey Enter\n"
              "text 2)*\nsoft2\ntext 3\nkey Enter\nkey Enter\n");
  std::u16string text;
  ASSERT_TRUE(s.sheet().cellPtr(0, 5));
  ASSERT_TRUE(editableText(s.sheet().cellPtr(0, 5)->value, text));
  EXPECT_EQ(text, u"=Sum(1+2)*Loan");
}

TEST(Menu, InsertFunctionAndDefineNameWhileTyping) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) { enter(book, 1, 0, u"0.05"); });
  const std::vector<int32_t> financial = functionsOf(4, RecentFunctions(), false);
  const auto pmt = std::find(financial.begin(), financial.end(), findFunction(u"Pmt"));
  ASSERT_NE(pmt, financial.end());
  std::string toPmt;
  for (auto it = financial.begin(); it != pmt; ++it) toPmt += "key Down\n";

  // Financial is four steps on from Most Recently Used; the caret waits between Pmt's
  // parentheses. Then "Loan" is defined to refer to B1 and serves in the same entry;
  // "Sum" (a function) and "A1" (a cell) are refused as names.
  Session s;
  s.run(path, "key Ctrl+Home Down Down Down Down Down\nkey Enter\nmenu Menu > Insert Function...\n"
              "key Right Right Right\nkey Down\n" + toPmt + "key Enter\ntext Loan/12,12,1000\n"
              "menu Menu > Define name...\nkey Down\ntext Sum\nsoft1\nkey Enter\ntext A1\nsoft1\nkey Enter\n"
              "text Loan\nkey Down\ntext =Sheet1!$B$1\nsoft1\nkey Enter\n");
  EXPECT_TRUE(s.seen.sawLines(u"Returns the periodical payment for an annuity."));
  EXPECT_TRUE(s.seen.saw(u"Invalid name"));
  ASSERT_GE(s.book().findName(u"Loan"), 0);
  EXPECT_EQ(s.book().findName(u"Sum"), -1);
  std::u16string text;
  ASSERT_TRUE(s.sheet().cellPtr(0, 5));
  ASSERT_TRUE(editableText(s.sheet().cellPtr(0, 5)->value, text));
  EXPECT_EQ(text, u"=Pmt(Loan/12,12,1000)");
  EXPECT_NEAR(effectiveValue(s.sheet().cellPtr(0, 5)->value).number(), -85.6075, 1e-3);

  // The recently used functions are kept in the settings: after a restart the dialog
  // opens on them with Pmt first.
  s.keys("menu File > Close\nsoft2\n");
  ASSERT_TRUE(s.app->closedByCommand());
  Session again;
  again.registry = s.registry;
  again.run(path, "key Enter\nmenu Menu > Insert Function...\nkey Enter\n");
  EXPECT_TRUE(again.seen.sawLines(u"Returns the periodical payment for an annuity."));
}

TEST(Menu, SortListsTheHeadingsAndSortsByTwoKeys) {
  TempFolder folder;
  auto table = [](Workbook& book) {
    Sheet& sheet = *book.activeSheet();
    const char16_t* rows[][3] = {
        {u"Name", u"Score", u"Age"}, {u"Ann", u"3", u"30"}, {u"Bob", u"5", u"25"}, {u"Cid", u"3", u"40"}, {u"Dan", u"5", u"20"}};
    for (int32_t r = 0; r < 5; ++r)
      for (int32_t c = 0; c < 3; ++c) enter(book, c, r, rows[r][c]);
    sheet.selection = Selection::ofStored(Area{0, 0, 0, 0}, 0, 0);
  };
  Session s;
  // Header row on (six controls down), then Score descending and Age ascending.
  s.run(savedBook(folder, table),
        "menu Data > Sort...\nkey Down Down Down Down Down Down\nkey Enter\nkey Up Up Up Up Up Up\nkey Right\n"
        "key Down\nkey Right\nkey Down\nkey Right Right Right\nsoft1\n");
  EXPECT_TRUE(s.seen.saw(u"Score"));
  std::u16string names;
  for (int32_t r = 1; r < 5; ++r) names += textOf(s.sheet().cellValue(0, r));
  EXPECT_EQ(names, u"DanBobAnnCid");
  EXPECT_EQ(s.sel().area(), (Area{0, 0, 4, 2}));  // the region around A1
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Sort");
  s.keys("key Ctrl+Z\n");
  names.clear();
  for (int32_t r = 1; r < 5; ++r) names += textOf(s.sheet().cellValue(0, r));
  EXPECT_EQ(names, u"AnnBobCidDan");

  Session merged;
  merged.run(savedBook(
                 folder,
                 [&](Workbook& book) {
                   table(book);
                   ASSERT_TRUE(book.activeSheet()->mergedAreas.append(Area{2, 1, 2, 2}));
                 },
                 "merged.kp"),
             "menu Data > Sort...\n");
  EXPECT_TRUE(merged.seen.sawLines(u"Cannot sort merged cells."));
}

TEST(Menu, EnterOnAFilterHeadingShowsTopRowsAndRowsThatBeginWith) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    book.setActiveSheet(1);
    const char16_t* rows[][2] = {{u"Fruit", u"Qty"}, {u"apple", u"5"},  {u"apricot", u"9"},
                                 {u"banana", u"2"},  {u"cherry", u"7"}, {u"grape", u"1"}};
    for (int32_t r = 0; r < 6; ++r)
      for (int32_t c = 0; c < 2; ++c) enter(book, c, r, rows[r][c]);
    book.activeSheet()->selection = Selection::ofStored(Area{0, 1, 0, 1}, 1, 0);
  });
  Session s;
  auto shown = [&s] {
    std::u16string out;
    for (int32_t r = 1; r < 6; ++r)
      if (s.sheet().visibleRowHeight(r) > 0) out += std::u16string(textOf(s.sheet().cellValue(0, r))) + u" ";
    return out;
  };
  // On Qty's heading: Top 3.
  s.run(path, "menu Data > Filter\nkey Enter\nkey Right\nkey Down\ntext 3\nsoft1\n");
  EXPECT_EQ(shown(), u"apple apricot cherry ");
  // On Fruit's heading: Where it begins with "ap"; the Top fields are passed over.
  s.keys("key Left\nkey Enter\nkey Left\nkey Down\nkey Right Right Right Right Right Right\nkey Down\ntext ap\nsoft1\n");
  EXPECT_EQ(shown(), u"apple apricot ");
  EXPECT_EQ(s.sheet().autoFilter.columns[0].operator1, FilterOperator::BeginsWith);
  s.keys("key Ctrl+Z\n");
  EXPECT_EQ(shown(), u"apple apricot cherry ");
}

TEST(Menu, AChartSavedToACellIsDrawnAgainWhenTheCellIsTapped) {
  TempFolder folder;
  const std::u16string path = savedBook(folder, [](Workbook& book) {
    enter(book, 1, 0, u"Jan");
    enter(book, 2, 0, u"Feb");
    enter(book, 0, 1, u"Rent");
    enter(book, 1, 1, u"950");
    enter(book, 2, 1, u"960");
  });
  Session s;
  // Tools > Chart..., Options..., a title, and the chart saved to the corner cell A1.
  s.run(path, "menu Data > Go to ...\ntext A1:C2\nsoft1\nmenu Tools > Chart...\nkey Down\nkey Enter\n"
              "text Rent\nkey Up\ntext A1\nsoft1\nsoft1\nsoft2\n");
  EXPECT_EQ(textOf(s.sheet().cellValue(0, 0)), u"Rent#Icon:5#Task:Chart(\"Title:Rent\")");
  // Tapping A1 asks before the workbook's task runs, then draws the chart again.
  s.seen.seen.clear();
  s.keys("menu Data > Go to ...\ntext A1\nsoft1\nkey Enter\nsoft1\nkey Right\nkey Right\nkey Enter\nkey Enter\nsoft2\n");
  EXPECT_TRUE(s.seen.sawPart(u"Run its tasks?"));
  EXPECT_TRUE(s.seen.sawPart(u"Rent: Feb 960.00"));
}

}  // namespace
}  // namespace kelp::test
