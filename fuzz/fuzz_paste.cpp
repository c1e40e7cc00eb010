// libFuzzer target: arbitrary clipboard content pasted into a sheet with content, merged
// areas and rules: as text from another program, or as Kelp's own data with its text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "edit/Clipboard.h"
#include "edit/Commands.h"
#include "formula/Evaluator.h"
#include "fuzz/FuzzText.h"
#include "model/Workbook.h"
#include "platform/Clipboard.h"
#include "platform/ErrorState.h"

namespace {

kelp::Workbook& fuzzBook() {
  static std::unique_ptr<kelp::Workbook> book = [] {
    auto b = kelp::newWorkbook(2);
    kelp::startEditing();
    kelp::setEvalWorkbook(b.get());
    kelp::UndoList undo;
    const char16_t* entries[] = {u"4", u"-2.5", u"text", u"=A1*A2", u"1/15/26", u"=SUM(A1:A3)"};
    for (int32_t row = 0; row < 6; ++row) (void)kelp::enterCellValue(*b, undo, 0, row, entries[row]);
    kelp::Sheet& sheet = *b->activeSheet();
    (void)sheet.mergedAreas.append(kelp::Area{8, 1, 9, 2});
    kelp::ValidationEntry rule;
    rule.rule.flags = 3 | 0x80;
    rule.rule.list = {u"x"};
    rule.areas = {kelp::Area{2, 2, 5, 3}};
    sheet.validations.push_back(std::move(rule));
    sheet.selection.firstRow = sheet.selection.lastRow = sheet.selection.activeRow = 1;
    sheet.selection.firstColumn = sheet.selection.lastColumn = sheet.selection.activeColumn = 1;
    return b;
  }();
  return *book;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  kelp::Workbook& book = fuzzBook();
  kelp::setEvalWorkbook(&book);
  kelp::clearError();
  if (size > 0 && (data[0] & 2)) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(data + 1, data + size);
    (void)kelp::setClipboardData(*bytes, [bytes] { return kelp::clipboardTextOf(*bytes); });
  } else {
    (void)kelp::setClipboardText(fuzzText(data, size));
  }
  kelp::UndoList undo;
  kelp::PasteOptions options;
  options.skipBlanks = size > 1 && (data[1] & 1);
  if (kelp::pasteSelection(book, undo, options)) (void)undo.undo(book);
  std::u16string text;
  (void)kelp::clipboardText(text);
  if (kelp::evalState().sp != 0) __builtin_trap();
  kelp::Sheet& sheet = *book.activeSheet();
  sheet.selection.firstRow = sheet.selection.lastRow = sheet.selection.activeRow = 1;
  sheet.selection.firstColumn = sheet.selection.lastColumn = sheet.selection.activeColumn = 1;
  kelp::emptyClipboard();
  kelp::clearError();
  return 0;
}
