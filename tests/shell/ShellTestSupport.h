// Shared helpers of the shell tests: a temporary folder, workbooks saved to files and a
// headless session running the application over a key script.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "files/Document.h"
#include "edit/Commands.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/ui/HeadlessBackend.h"
#include "shell/Application.h"
#include "shell/GridPainter.h"

namespace kelp::test {

struct TempFolder {
  std::string path;
  TempFolder() {
    char name[] = "/tmp/kelp-shell-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

inline void startEditingOnce() {
  static bool started = false;
  if (!started) {
    startEditing();
    started = true;
  }
}

inline void putText(Sheet& sheet, int32_t col, int32_t row, std::u16string_view text, int16_t style = -1) {
  CellRecord r{emptyValue(), style};
  makeText(r.value, text);
  sheet.setCell(col, row, r);
}

inline void putNumber(Sheet& sheet, int32_t col, int32_t row, double number, int16_t style = -1) {
  sheet.setCell(col, row, CellRecord{numberValue(number), style});
}

/// A style made from style 0 by `change`.
template <class Change>
int16_t makeStyle(Workbook& book, Change change) {
  StyleRecord record = book.style(0);
  change(record);
  return static_cast<int16_t>(book.findOrAddStyle(record));
}

/// Saves `book` as a native file and returns its path.
inline std::u16string saveWorkbook(std::unique_ptr<Workbook> book, const std::string& path) {
  clearError();
  Document doc;
  doc.replaceWorkbook(std::move(book));
  EXPECT_TRUE(SaveDocument(doc, utf8ToUtf16(path), DocFileType::Native)) << pendingError();
  return utf8ToUtf16(path);
}

// Texts seen on screen whenever the loop waits (a modal box drawn and waiting for its key).
struct ScreenWatch {
  std::vector<std::u16string> seen;
  std::vector<DrawnText> drawn;  // every text with where it was, as often as it was seen
  void attach(Desktop& desktop) {
    desktop.addIdleHook([this, &desktop] {
      for (const DrawnText& t : desktop.textLog().texts()) {
        if (std::find(seen.begin(), seen.end(), t.text) == seen.end()) seen.push_back(t.text);
        drawn.push_back(t);
      }
    });
  }
  /// A text seen on the line of `other` and left of it, or null.
  const DrawnText* leftOf(std::u16string_view text, const DrawnText& other) const {
    for (const DrawnText& t : drawn)
      if (t.text == text && t.rect.top == other.rect.top && t.rect.right <= other.rect.left) return &t;
    return nullptr;
  }
  /// The last place `text` was seen, or null.
  const DrawnText* seenText(std::u16string_view text) const {
    for (auto it = drawn.rbegin(); it != drawn.rend(); ++it)
      if (it->text == text) return &*it;
    return nullptr;
  }
  bool saw(std::u16string_view text) const { return std::find(seen.begin(), seen.end(), text) != seen.end(); }
  /// Whether some text seen holds `part` (a box breaks long texts into lines).
  bool sawPart(std::u16string_view part) const {
    return std::any_of(seen.begin(), seen.end(), [&](const std::u16string& t) { return t.find(part) != t.npos; });
  }
  /// Whether `part` appears in the texts seen, taken in order as the lines of one text.
  bool sawLines(std::u16string_view part) const {
    std::u16string all;
    for (const std::u16string& t : seen) all += t + u' ';
    return all.find(part) != all.npos;
  }
};

/// The application on a headless desktop, with settings in memory.
struct Session {
  HeadlessBackend backend;
  Desktop desktop;
  Registry registry;
  std::unique_ptr<Application> app;
  ScreenWatch seen;  // every text on screen while the session waited for a key

  explicit Session(int width = 240, int height = 320) : desktop(width, height, &backend) {
    seen.attach(desktop);
    startEditingOnce();
    clearError();
    app = std::make_unique<Application>(desktop, registry);
  }
  /// Starts the application (opening `path` when given), then runs `script` to its end.
  void run(const std::u16string& path, const std::string& script) {
    backend.setScript(script);
    ASSERT_TRUE(app->start(path));
    desktop.run();
    desktop.paintAll();
    EXPECT_TRUE(backend.problems().empty()) << backend.problems().front();
  }
  /// Runs more keys in the same session.
  void keys(const std::string& script) {
    backend.setScript(script);
    desktop.run();
    desktop.paintAll();
  }
  Workbook& book() { return app->workbook(); }
  Sheet& sheet() { return *app->workbook().activeSheet(); }
  const Selection& sel() { return sheet().selection; }
  GridGeometry geometry() { return app->grid().geometry(); }
  Color pixel(int x, int y) { return desktop.screen().pixel(x, y); }
  /// The screen rectangle of a cell (the main window starts at the screen's top left).
  Rect cell(int32_t col, int32_t row) { return geometry().cellRect(col, row); }
  const DrawnText* text(std::u16string_view t) { return desktop.textLog().find(t); }
  /// The label of the Select menu's first item ("Cells", or "Stop" in ExtendMode).
  std::u16string menuBarText() {
    MenuBar* bar = app->menuBar();
    MenuItem* item = bar ? bar->findItem(MenuCommand::SelectCells) : nullptr;
    return item ? item->text : u"";
  }
};

}  // namespace kelp::test
