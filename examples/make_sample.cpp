// Makes the bundled sample workbook, a small household budget, or checks that the
// committed copy is what this program makes.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/Recalc.h"
#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

class Maker {
 public:
  explicit Maker(Workbook& book) : m_book(book) {}

  /// Types an entry into a cell; entries are written in the US locale.
  void put(int sheet, const char* cell, const char* entry, int16_t style = -1) {
    uint16_t column = static_cast<uint16_t>(cell[0] - 'A');
    uint16_t row = static_cast<uint16_t>(std::atoi(cell + 1) - 1);
    CellValue value = readEntry(&m_book, utf8ToUtf16(entry), CellPosition{column, row, static_cast<uint16_t>(sheet)},
                                nullptr, false);
    if (pendingError() != 0) {
      std::fprintf(stderr, "make_sample: %s: %s\n", cell, utf16ToUtf8(errorMessage(pendingError())).c_str());
      std::exit(1);
    }
    m_book.sheetAt(sheet)->setCell(column, row, CellRecord{value, style});
  }

  /// A style from style 0 with the given number format, weight and alignment.
  int16_t style(uint16_t numberFormat, bool bold = false, int align = HAlign::General, bool bottomBorder = false) {
    StyleRecord record = m_book.style(0);
    record.numberFormat = numberFormat;
    record.setHorizontalAlignment(align);
    if (bottomBorder) record.setBorderStyle(Edge::Bottom, 1);
    if (bold) record.font = 1;  // the standard bold font
    return static_cast<int16_t>(m_book.findOrAddStyle(record));
  }

 private:
  Workbook& m_book;
};

std::vector<uint8_t> makeSample() {
  std::unique_ptr<Workbook> book = newWorkbook(3);
  book->renameSheet(0, u"Budget");
  book->renameSheet(1, u"Income");
  book->renameSheet(2, u"Notes");
  Maker m(*book);
  const int16_t title = m.style(0, true);
  const int16_t header = m.style(0, true, HAlign::Center, true);
  const int16_t money = m.style(4);
  const int16_t total = m.style(4, true);
  const int16_t percent = m.style(5);
  const int16_t date = m.style(7);

  // Income: what the budget is measured against.
  m.put(1, "A1", "Monthly income", title);
  m.put(1, "A2", "Salary");
  m.put(1, "B2", "3200", money);
  m.put(1, "A3", "Tax rate");
  m.put(1, "B3", "15%", percent);
  m.put(1, "A4", "Net income");
  m.put(1, "B4", "=B2*(1-B3)", total);
  uint32_t net = compileToHandle(*book, u"=Income!$B$4", CellPosition{0, 0, 0}, false);
  book->setName(u"NetIncome", net);

  // Budget: three months of spending by item.
  Sheet& budget = *book->sheetAt(0);
  m.put(0, "A1", "Household budget", title);
  const char* headings[] = {"Item", "Jan", "Feb", "Mar", "Total"};
  const char* cells[] = {"A3", "B3", "C3", "D3", "E3"};
  for (int i = 0; i < 5; ++i) m.put(0, cells[i], headings[i], header);
  const char* items[] = {"Rent", "Food", "Transport", "Power", "Phone", "Going out"};
  const char* amounts[][3] = {{"950", "950", "950"}, {"410.5", "388.2", "402.75"}, {"86", "92.4", "79"},
                              {"74.3", "69.1", "58"},  {"25", "25", "31.99"},      {"120", "95.5", "160"}};
  for (int i = 0; i < 6; ++i) {
    std::string row = std::to_string(4 + i);
    m.put(0, ("A" + row).c_str(), items[i]);
    for (int j = 0; j < 3; ++j) m.put(0, (std::string(1, char('B' + j)) + row).c_str(), amounts[i][j], money);
    m.put(0, ("E" + row).c_str(), ("=Sum(B" + row + ":D" + row + ")").c_str(), money);
  }
  m.put(0, "A10", "Total", title);
  for (char c = 'B'; c <= 'E'; ++c) {
    std::string column(1, c);
    m.put(0, (column + "10").c_str(), ("=Sum(" + column + "4:" + column + "9)").c_str(), total);
  }
  m.put(0, "A12", "Share of net income");
  m.put(0, "B12", "=E10/(NetIncome*3)", percent);
  m.put(0, "A13", "Left each month");
  m.put(0, "B13", "=NetIncome-E10/3", money);
  m.put(0, "A14", "Over budget?");
  m.put(0, "B14", "=If(B12>1,\"yes\",\"no\")");
  (void)budget.columns.setColumnWidths(0, 0, 4600);
  (void)budget.mergedAreas.append(Area{0, 0, 0, 4});  // the title spans the table
  budget.view.rowsFrozen = true;
  budget.view.frozenFirstRow = 0;
  budget.view.frozenLastRow = 2;
  budget.view.topRow = 3;

  // Notes.
  m.put(2, "A1", "Started", title);
  m.put(2, "B1", "1/15/26", date);
  m.put(2, "A2", "Prices in US dollars; change Income!B2 and every total follows.");

  recalculateAll(*book);
  MemoryDocStream stream;
  WriteNativeWorkbook(*book, stream);
  stream.Flush();
  if (pendingError() != 0) {
    std::fprintf(stderr, "make_sample: %s\n", utf16ToUtf8(errorMessage(pendingError())).c_str());
    std::exit(1);
  }
  return std::vector<uint8_t>(stream.data(), stream.data() + stream.size());
}

}  // namespace
}  // namespace kelp

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "--write") != 0 && std::strcmp(argv[1], "--check") != 0)) {
    std::fprintf(stderr, "usage: make_sample --write|--check FILE\n");
    return 2;
  }
  kelp::setCurrentLocale(kelp::LocaleSettings{});
  kelp::startEngine();
  std::vector<uint8_t> bytes = kelp::makeSample();
  if (std::strcmp(argv[1], "--write") == 0) {
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out ? 0 : 1;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::vector<uint8_t> stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (stored != bytes) {
    std::fprintf(stderr, "%s is not what make_sample makes: run make_sample --write %s\n", argv[2], argv[2]);
    return 1;
  }
  return 0;
}
