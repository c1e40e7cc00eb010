// The grid view: repaint flags and the update hold, painting, scrolling by moving pixels,
// the selection highlight by inversion, and scrolling a cell into view.
#pragma once

#include <cstdint>
#include <functional>

#include "model/Sheet.h"
#include "platform/ui/Window.h"
#include "shell/GridLayout.h"

namespace kelp {

class Canvas;
class Workbook;

/// Repaint flags of the active sheet; 8 replaces all others.
namespace Repaint {
constexpr uint16_t Selection = 4;
constexpr uint16_t Everything = 8;
constexpr uint16_t Scrolled = 16;
}  // namespace Repaint

class GridView {
 public:
  /// `workbook` answers the current workbook (null while there is none).
  explicit GridView(std::function<Workbook*()> workbook);

  void attach(Window* window) { m_window = window ? window->id() : NoWindow; m_desktop = window ? &window->desktop() : nullptr; }
  Window* window() const;

  bool formulaBarShown = false;
  bool fullScreen = false;
  /// The text the formula bar shows; set by whoever knows the active cell's editable text.
  std::function<std::u16string()> formulaBarText;
  /// Drawn over the cells after every paint (the range a formula points at).
  std::function<void(Canvas&, const GridGeometry&)> overlay;

  Workbook* workbook() const { return m_workbook(); }
  Sheet* sheet() const;
  GridLayout layout() const;
  GridGeometry geometry() const;

  /// OR-s repaint flags into the pending set (8 replaces the others).
  void markRepaint(uint16_t flags);
  uint16_t pendingFlags() const { return m_flags; }
  /// Applies the pending flags now, unless an update hold is active.
  void update();
  /// While held, updates wait; the last release applies them.
  void hold() { ++m_hold; }
  void release();
  int holdCount() const { return m_hold; }

  /// The window's paint message.
  void paint(Canvas& canvas);

  /// Brings a cell into the scrolled pane; marks the grid scrolled when the view moved.
  void scrollIntoView(int32_t col, int32_t row, bool margin);

  /// How many times pixels were moved instead of repainting (tests and benchmarks ask).
  int pixelScrolls() const { return m_pixelScrolls; }

 private:
  void applyScroll(Sheet& sheet);
  void drawHeaders();
  bool drawHighlight(const Selection* remove, const Selection* add);
  void forgetPainted() { m_painted = false; }

  std::function<Workbook*()> m_workbook;
  WindowId m_window = NoWindow;
  Desktop* m_desktop = nullptr;
  uint16_t m_flags = Repaint::Everything;
  int m_hold = 0;
  // What the screen shows: for which sheet, from which left column and top row, with
  // which selection inverted.
  bool m_painted = false;
  const Sheet* m_paintedSheet = nullptr;
  uint16_t m_paintedLeft = 0;
  uint16_t m_paintedTop = 0;
  Rect m_paintedCells;
  Selection m_paintedSelection;
  int m_pixelScrolls = 0;
};

}  // namespace kelp
