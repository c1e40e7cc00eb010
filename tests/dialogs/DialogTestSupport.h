// Shared helpers of the dialog tests: a workbook, an undo list and a headless desktop
// whose key script drives the dialog, remembering every text the screen showed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/HeadlessBackend.h"
#include "tests/edit/CommandTestSupport.h"

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

// The command fixture's workbook, undo list and helpers, with a desktop to show dialogs on.
class DialogTest : public CommandTest {
 protected:
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

  const Selection& sel() { return book->activeSheet()->selection; }

  WatchingBackend backend;
  Desktop desktop{240, 320, &backend};
};

}  // namespace kelp::test
