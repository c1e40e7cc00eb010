// Argument reading, cell names and output shared by kelpcli's commands.
#include "cli/Cli.h"

#include <algorithm>
#include <cstdio>

#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp::cli {

bool Args::takeValue(std::string_view option, std::string& out) {
  if (done()) {
    std::fprintf(stderr, "kelpcli: %.*s needs a value\n", static_cast<int>(option.size()), option.data());
    return false;
  }
  out = take();
  return true;
}

namespace {

bool isLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool parseCellPart(std::u16string_view text, uint16_t& column, uint16_t& row) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'$') ++i;
  int32_t col = 0;
  size_t letters = 0;
  while (i < text.size() && isLetter(text[i])) {
    col = col * 26 + (foldCase(text[i]) - u'a' + 1);
    if (col > MaxColumns) return false;
    ++i;
    ++letters;
  }
  if (letters == 0) return false;
  if (i < text.size() && text[i] == u'$') ++i;
  if (i >= text.size() || text[i] == u'0') return false;
  int32_t r = 0;
  while (i < text.size() && isDigit(text[i])) {
    r = r * 10 + (text[i] - u'0');
    if (r > MaxRows) return false;
    ++i;
  }
  if (i != text.size() || r == 0) return false;
  column = static_cast<uint16_t>(col - 1);
  row = static_cast<uint16_t>(r - 1);
  return true;
}

}  // namespace

bool parseCellName(const Workbook& workbook, std::u16string_view text, int32_t defaultSheet, CellName& out) {
  out.sheet = defaultSheet;
  std::u16string_view cell = text;
  size_t bang = text.rfind(u'!');
  if (bang != std::u16string_view::npos) {
    std::u16string_view sheetName = text.substr(0, bang);
    if (sheetName.size() >= 2 && sheetName.front() == u'\'' && sheetName.back() == u'\'')
      sheetName = sheetName.substr(1, sheetName.size() - 2);
    out.sheet = workbook.findSheet(sheetName);
    if (out.sheet < 0) {
      std::fprintf(stderr, "kelpcli: no sheet named '%s'\n", utf16ToUtf8(sheetName).c_str());
      return false;
    }
    cell = text.substr(bang + 1);
  }
  if (!parseCellPart(cell, out.column, out.row)) {
    std::fprintf(stderr, "kelpcli: '%s' is not a cell such as B3 or Sheet2!B3\n", utf16ToUtf8(text).c_str());
    return false;
  }
  return true;
}

// Selects REF ("B2" or "B2:D5") on the sheet; false with a message when it names no cells.
bool selectCells(Workbook& book, int32_t sheetIndex, const std::string& ref) {
  std::u16string text = utf8ToUtf16(ref);
  if (text.find(u'!') != std::u16string::npos) {
    std::fprintf(stderr, "kelpcli: '%s' is not cells of the chosen sheet, such as B2 or B2:D5\n", ref.c_str());
    return false;
  }
  size_t colon = text.find(u':');
  CellName first;
  CellName last;
  if (!parseCellName(book, std::u16string_view(text).substr(0, colon), sheetIndex, first)) return false;
  if (colon == std::u16string::npos) {
    last = first;
  } else if (!parseCellName(book, std::u16string_view(text).substr(colon + 1), sheetIndex, last)) {
    return false;
  }
  Selection& selection = book.sheetAt(sheetIndex)->selection;
  selection.firstRow = std::min(first.row, last.row);
  selection.lastRow = std::max(first.row, last.row);
  selection.firstColumn = static_cast<int16_t>(std::min(first.column, last.column));
  selection.lastColumn = static_cast<int16_t>(std::max(first.column, last.column));
  selection.activeRow = first.row;
  selection.activeColumn = static_cast<int16_t>(first.column);
  selection.endRow = last.row;
  selection.endColumn = static_cast<int16_t>(last.column);
  return true;
}

void printLine(std::u16string_view text) {
  std::string line = utf16ToUtf8(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}

int usageError(std::string_view message) {
  std::fprintf(stderr, "kelpcli: %.*s (see kelpcli --help)\n", static_cast<int>(message.size()), message.data());
  return 2;
}

std::string takeErrorText() {
  uint32_t code = pendingError();
  return "error " + std::to_string(code) + ": " + utf16ToUtf8(takePendingErrorText());
}

bool applyLocale(const std::string& name) {
  if (name.empty()) {
    selectLocaleFromEnvironment();
    return true;
  }
  if (selectLocale(name)) return true;
  std::string known;
  for (std::string_view n : builtInLocaleNames()) known += (known.empty() ? "" : ", ") + std::string(n);
  std::fprintf(stderr, "kelpcli: unknown locale '%s' (known: %s)\n", name.c_str(), known.c_str());
  return false;
}

}  // namespace kelp::cli
