// Shared helpers of the dialog tests: a workbook, an undo list and a headless desktop
// whose key script drives the dialog, remembering every text the screen showed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "edit/Commands.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/ui/HeadlessBackend.h"

namespace kelp::test {

/// The headless backend, noting the texts on screen each time the loop waits for a key,
/// so that a message box closed again is still known to have been shown.
class WatchingBackend : public HeadlessBackend {
 public:
  bool waitInput(Desktop& desktop, uint64_t deadline) override {
    for (const DrawnText& t : desktop.textLog().texts()) seen.push_back(t);
    return HeadlessBackend::waitInput(desktop, deadline);
  }
  std::vector<DrawnText> seen;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool started = false;
    if (!started) {
      startEditing();
      started = true;
    }
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

  /// Sets the key script the next dialog runs over, forgetting the texts seen so far.
  void script(const std::string& keys) {
    backend.seen.clear();
    backend.setScript(keys);
  }
  /// The last text holding `part` that was on screen since the script was set, or null.
  const DrawnText* seen(std::u16string_view part) const {
    for (auto it = backend.seen.rbegin(); it != backend.seen.rend(); ++it)
      if (it->text.find(part) != std::u16string::npos) return &*it;
    return nullptr;
  }
  bool saw(std::u16string_view part) const { return seen(part) != nullptr; }
  void noProblems() { EXPECT_TRUE(backend.problems().empty()) << backend.problems().front(); }

  Sheet& sheet(int index = 0) { return *book->sheetAt(index); }
  const Selection& sel() { return book->activeSheet()->selection; }
  bool enter(int col, int row, std::u16string_view text) { return enterCellValue(*book, undo, col, row, text); }

  WatchingBackend backend;
  Desktop desktop{240, 320, &backend};
  std::unique_ptr<Workbook> book;
  UndoList undo;
};

}  // namespace kelp::test
