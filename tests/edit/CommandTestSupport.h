// The fixture of the command tests: a fresh three-sheet workbook with an undo list,
// entry and selection helpers, and the workbook's native file bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "edit/Commands.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp::test {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    startEditing();
    clearError();
    book = newWorkbook(3);
    setEvalWorkbook(book.get());
  }
  void TearDown() override {
    undo.clear();
    book.reset();
    setEvalWorkbook(nullptr);
    clearError();
  }

  Sheet& sheet(int index = 0) { return *book->sheetAt(index); }

  /// Selects columns c1..c2 of rows r1..r2 on the active sheet, active cell top-left.
  void select(int c1, int r1, int c2, int r2) {
    Selection& s = book->activeSheet()->selection;
    s.firstColumn = static_cast<int16_t>(c1);
    s.lastColumn = static_cast<int16_t>(c2);
    s.firstRow = static_cast<uint16_t>(r1);
    s.lastRow = static_cast<uint16_t>(r2);
    s.activeColumn = s.endColumn = static_cast<int16_t>(c1);
    s.activeRow = s.endRow = static_cast<uint16_t>(r1);
  }

  bool enter(int col, int row, std::u16string_view text) { return enterCellValue(*book, undo, col, row, text); }

  /// The value shown for a cell, as valueToText gives it.
  std::u16string shown(int col, int row, int s = 0) {
    std::u16string out;
    valueToText(sheet(s).cellValue(col, row), out);
    return out;
  }
  double number(int col, int row, int s = 0) {
    const CellValue& v = sheet(s).cellValue(col, row);
    return v.isNumeric() ? v.number() : -999999;
  }
  ValueKind kind(int col, int row, int s = 0) {
    const CellRecord* cell = sheet(s).cellPtr(col, row);
    return cell ? cell->value.kind : ValueKind::Empty;
  }
  int16_t ownStyle(int col, int row, int s = 0) {
    const CellRecord* cell = sheet(s).cellPtr(col, row);
    return cell ? cell->style : -1;
  }
  const FontRecord& fontOf(int col, int row, int s = 0) {
    return book->fonts[book->style(sheet(s).effectiveStyle(col, row)).font];
  }

  /// The native file bytes of the workbook. Commands move the selection and the active
  /// sheet as a user would see them move; those are written as A1 of the first sheet so
  /// that the bytes compare the content alone.
  std::vector<uint8_t> fileBytes() {
    std::vector<Selection> selections;
    for (int32_t i = 0; i < book->sheetCount(); ++i) {
      selections.push_back(book->sheetAt(i)->selection);
      book->sheetAt(i)->selection = Selection{};
    }
    int32_t active = book->activeSheetIndex();
    book->setActiveSheet(0);
    MemoryDocStream stream;
    stream.allocateBuffer();
    WriteNativeWorkbook(*book, stream);
    stream.Flush();
    for (int32_t i = 0; i < book->sheetCount(); ++i) book->sheetAt(i)->selection = selections[static_cast<size_t>(i)];
    book->setActiveSheet(active);
    return std::vector<uint8_t>(stream.data(), stream.data() + stream.size());
  }

  std::unique_ptr<Workbook> book;
  UndoList undo;
};

}  // namespace kelp::test
