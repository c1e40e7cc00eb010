// Format Cells from the menu in a headless session: four cells formatted at once, read
// back by another program from the Excel 97 file, and undone to the same bytes.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "ShellTestSupport.h"

namespace kelp::test {
namespace {

std::vector<char> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// For B2, C2, B3 and C3: font weight, horizontal alignment, bottom line style and format
// code. (xlrd's own bold flag reads an option bit that Excel 97 leaves to the weight.)
std::string readWithXlrd(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c \"import sys, xlrd\n"
      "b = xlrd.open_workbook(sys.argv[1], formatting_info=True)\n"
      "s = b.sheet_by_index(0)\n"
      "for r, c in ((1, 1), (1, 2), (2, 1), (2, 2)):\n"
      "    x = b.xf_list[s.cell_xf_index(r, c)]\n"
      "    print(b.font_list[x.font_index].weight, x.alignment.hor_align, x.border.bottom_line_style,"
      " b.format_map[x.format_key].format_str)\" " +
      path + " 2>&1";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
  }
  return out;
}

TEST(FormatCellsSession, FourCellsFormattedAsOneEntryReadBackAndUndone) {
  if (std::system("/usr/bin/python3 -c 'import xlrd' > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 with the xlrd module is not installed (apt-get install python3-xlrd)";
  TempFolder folder;
  startEditingOnce();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->activeSheet();
  for (int32_t c = 1; c <= 2; ++c)
    for (int32_t r = 1; r <= 2; ++r) putNumber(sheet, c, r, 1000.0 * c + r);
  sheet.selection = Selection::ofStored(Area{1, 1, 2, 2}, 1, 1);
  Session s;
  s.run(saveWorkbook(std::move(book), folder.file("cells.kp")), "");
  // The native file keeps only the styles cells use, so its bytes show what Undo gave
  // back; the selection is written as it started (commands move its moving end).
  const std::string before = folder.file("before.kp"), after = folder.file("after.xls"),
                    undone = folder.file("undone.kp");
  auto saveNative = [&](const std::string& path) {
    s.sheet().selection = Selection::ofStored(Area{1, 1, 2, 2}, 1, 1);
    return SaveDocument(s.app->document(), utf8ToUtf16(path), DocFileType::Native);
  };
  ASSERT_TRUE(saveNative(before)) << pendingError();

  // Align: Right. Font: Bold. Border: a thick bottom. Format: the fifth number format,
  // currency with two decimals. The pages are turned on the tabs with Left and Right.
  s.keys("menu Format > Cells...\n"
         "key Right\nkey Down\nkey Right\nkey Right\nkey Right\nkey Up\n"
         "key Right\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nkey Up\nkey Up\nkey Up\nkey Up\nkey Up\n"
         "key Right\nkey Down\nkey Down\nkey Down\nkey Down\nkey Right\nkey Right\nkey Right\nkey Right\nkey Right\n"
         "key Up\nkey Up\nkey Up\nkey Up\nkey Left\nkey Left\nkey Left\n"
         "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nsoft1\n");
  EXPECT_TRUE(s.seen.saw(u"Format Cells"));
  ASSERT_EQ(s.app->undoList().size(), 1u);
  EXPECT_EQ(s.app->undoList().undoDescription(), u"Format Cells");
  ASSERT_TRUE(SaveDocument(s.app->document(), utf8ToUtf16(after), DocFileType::Excel97)) << pendingError();

  const std::string read = readWithXlrd(after);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = read.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(read.substr(at, end - at));
  ASSERT_EQ(lines.size(), 4u) << read;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.substr(0, 8), "700 3 5 ") << line;  // bold, right, thick bottom, then the code
    EXPECT_NE(line.find("$"), std::string::npos) << line;
    EXPECT_NE(line.find("#,##0.00"), std::string::npos) << line;
  }
  EXPECT_EQ(lines[0], lines[3]);

  s.keys("menu Edit > Undo Format Cells\n");
  EXPECT_EQ(s.app->undoList().position(), 0u);
  ASSERT_TRUE(saveNative(undone)) << pendingError();
  EXPECT_EQ(bytesOf(undone), bytesOf(before));
  s.keys("menu Edit > Redo Format Cells\n");
  ASSERT_TRUE(saveNative(undone)) << pendingError();
  EXPECT_NE(bytesOf(undone), bytesOf(before));
}

}  // namespace
}  // namespace kelp::test
