// Grid painting: a full repaint of a phone screen of formatted cells, a one-row scroll, and
// the repaint after a key typed into an open edit.
#include <benchmark/benchmark.h>

#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/Registry.h"
#include "platform/ui/Desktop.h"
#include "shell/Application.h"
#include "shell/GridPainter.h"

namespace kelp {
namespace {

// A sheet full of numbers in three formats, texts, bold cells and a border or two.
void fillSheet(Workbook& book, Sheet& sheet) {
  StyleRecord money = book.style(0);
  money.numberFormat = 7;
  StyleRecord bold = book.style(0);
  bold.font = 1;
  bold.setBorderStyle(Edge::Bottom, 1);
  StyleRecord fixed = book.style(0);
  fixed.numberFormat = 2;
  const int16_t styles[3] = {static_cast<int16_t>(book.findOrAddStyle(money)),
                             static_cast<int16_t>(book.findOrAddStyle(bold)),
                             static_cast<int16_t>(book.findOrAddStyle(fixed))};
  for (int32_t row = 0; row < 400; ++row) {
    for (int32_t col = 0; col < 12; ++col) {
      if (col % 4 == 0) {
        CellRecord r{emptyValue(), -1};
        makeText(r.value, u"Item " + std::u16string(1, static_cast<char16_t>(u'A' + (row + col) % 26)));
        sheet.setCell(col, row, r);
      } else {
        sheet.setCell(col, row, CellRecord{numberValue(row * 13.25 + col * 7.5), styles[(row + col) % 3]});
      }
    }
  }
}

struct Screen {
  Desktop desktop{240, 320};
  Registry registry;
  Application app{desktop, registry};
  Screen() {
    static bool started = false;
    if (!started) {
      startEngine();
      started = true;
    }
    app.start(u"");
    Workbook& book = app.workbook();
    fillSheet(book, *book.activeSheet());
    app.grid().markRepaint(Repaint::Everything);
    app.grid().update();
    desktop.paintAll();
  }
};

void BM_FullRepaint(benchmark::State& state) {
  Screen s;
  Window* main = s.app.mainWindow();
  for (auto _ : state) {
    main->invalidate();
    s.desktop.paintAll();
    benchmark::DoNotOptimize(s.desktop.screen().pixels.data());
  }
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMicrosecond);

void BM_ScrollOneRow(benchmark::State& state) {
  Screen s;
  Sheet& sheet = *s.app.workbook().activeSheet();
  int direction = 1;
  for (auto _ : state) {
    // Down and up by one row in turn, so the sheet never runs out.
    if (sheet.view.topRow >= 300) direction = -1;
    if (sheet.view.topRow == 0) direction = 1;
    sheet.view.topRow = static_cast<uint16_t>(sheet.view.topRow + direction);
    s.app.grid().markRepaint(Repaint::Scrolled);
    s.app.grid().update();
    s.desktop.paintAll();
    benchmark::DoNotOptimize(s.desktop.screen().pixels.data());
  }
  if (s.app.grid().pixelScrolls() == 0) state.SkipWithError("the scroll repainted instead of moving pixels");
}
BENCHMARK(BM_ScrollOneRow)->Unit(benchmark::kMicrosecond);

// One character typed into a formula being edited, then Back, each handled and painted;
// the argument puts the edit line in the formula bar (1) or over the cell (0).
void BM_KeystrokeWhileEditing(benchmark::State& state) {
  Screen s;
  GridView& grid = s.app.grid();
  grid.formulaBarShown = state.range(0) != 0;
  grid.markRepaint(Repaint::Everything);
  grid.update();
  s.desktop.paintAll();
  CellEditor& editor = s.app.editor();
  if (!editor.begin(u"=Sum(B1:B40)*2+", false, false)) {
    state.SkipWithError("the edit did not open");
    return;
  }
  s.desktop.pumpPending();
  s.desktop.paintAll();
  bool typed = false;
  for (auto _ : state) {
    if (typed) {
      s.desktop.pressKey(Key::Back);
    } else {
      s.desktop.typeText(u"7");
    }
    typed = !typed;
    s.desktop.pumpPending();
    s.desktop.paintAll();
    benchmark::DoNotOptimize(s.desktop.screen().pixels.data());
  }
  if (editor.text().size() > 16) state.SkipWithError("the keys did not reach the edit line");
}
BENCHMARK(BM_KeystrokeWhileEditing)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelp
