// Moving the active cell and building the selection with the keys of the grid.
#pragma once

#include <cstdint>

#include "model/Sheet.h"
#include "platform/ui/Message.h"

namespace kelp {

class GridView;
class Workbook;

/// Flags of a select operation; the last ones used are the selection kind.
namespace SelectFlag {
constexpr int Extend = 1, Rows = 2, Columns = 4, All = 6;
}

/// The data-edge searches of Ctrl+arrows: the end of the run of values the cell starts,
/// or the next value beyond an empty stretch, or the sheet's edge.
int32_t dataEdgeRow(const Sheet& sheet, int32_t col, int32_t row, int direction);
int32_t dataEdgeColumn(const Sheet& sheet, int32_t col, int32_t row, int direction);

class Navigator {
 public:
  explicit Navigator(GridView& view) : m_view(view) {}

  /// ExtendMode: movement keys extend the selection from the active cell.
  bool extendMode = false;
  /// The flags of the last select operation.
  int selectionKind = 0;

  /// Builds the range from `flags`, clamps, normalises, widens it over merged areas,
  /// stores it, marks the selection for repaint and scrolls the moving end into view.
  void select(Sheet& sheet, int32_t col, int32_t row, int flags);
  /// Keeps the cell out of the frozen titles' leading rows and columns, then selects.
  void moveTo(Sheet& sheet, int32_t col, int32_t row, int flags);
  /// The grid's movement keys (arrows, Page Up/Down, Home, End, Tab); false for other keys.
  bool handleKey(const Workbook& book, Sheet& sheet, Key key, int64_t mods);

 private:
  bool tabProtected(const Workbook& book, Sheet& sheet, bool backward);

  GridView& m_view;
};

}  // namespace kelp
