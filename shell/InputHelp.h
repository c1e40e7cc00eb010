// The input help of a validation rule, shown in a small bordered window beside the
// active cell while it is selected.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/ui/Geometry.h"
#include "platform/ui/Message.h"

namespace kelp {

class Application;

class InputHelp {
 public:
  explicit InputHelp(Application& app) : m_app(app) {}
  /// After every message: removes the window of a cell left and shows the active cell's.
  void update();
  /// The window on screen, or NoWindow.
  WindowId window() const { return m_window; }
  /// Where the user dragged a sheet's window last, kept while the program runs.
  void remember(int32_t sheet, Point topLeft) { m_places[sheet] = topLeft; }

 private:
  void remove();

  Application& m_app;
  WindowId m_window = NoWindow;
  std::u16string m_shownFor;  // what the window shows, and for which cell, in one text
  std::map<int32_t, Point> m_places;
};

}  // namespace kelp
