// Window messages, the device's keys and the result codes of boxes and dialogs.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/Geometry.h"

namespace kelp {

class Canvas;

using WindowId = uint32_t;
constexpr WindowId NoWindow = 0;

enum class Msg : uint16_t {
  Create = 1,  // sent once the window is in the tree
  Destroy,     // sent before the window and its children go
  Size,        // sent after the rectangle changed; wParam width, lParam height
  Paint,       // canvas set, clipped to the invalid part, origin at the window's top-left
  Close,       // a request to close; the default destroys the window
  SetFocus,    // wParam the window losing the focus
  KillFocus,   // wParam the window getting the focus
  KeyDown,     // wParam Key, lParam KeyMod bits
  Char,        // wParam the UTF-16 unit typed
  Command,     // wParam command id, lParam the notifying control's id (0 from a menu)
  Timer,       // wParam timer id
  CopyData,    // wParam code, data the bytes passed
  Quit,        // ends the message loop; wParam the exit code
  PointerDown, // a press of the touch screen or mouse; wParam x, lParam y in client coordinates
  PointerMove, // the pointer moved while pressed, to the window that took the press
  PointerUp,   // the press ended, to that same window
  Wheel,       // wParam notches (positive away from the user), lParam y << 16 | x in client coordinates
  User = 0x400,
};

/// The keys of the handheld, plus the few a desktop keyboard adds that the shell reads.
enum class Key : int {
  None = 0,
  Up,
  Down,
  Left,
  Right,
  Enter,  // the action key in the middle of the direction pad
  Back,
  Soft1,
  Soft2,
  Tab,
  Home,
  End,
  PageUp,
  PageDown,
  Escape,
  F2,
  Delete,
  Help,
};

namespace KeyMod {
constexpr int64_t Shift = 1, Ctrl = 2, Alt = 4;
}

/// The answers of message boxes and dialogs (the handheld's values).
namespace DialogResult {
constexpr int Ok = 1, Cancel = 2, Yes = 6, No = 7;
}

struct Message {
  WindowId window = NoWindow;
  Msg msg = Msg::User;
  int64_t wParam = 0;
  int64_t lParam = 0;
  std::vector<uint8_t> data;  // CopyData only
  Canvas* canvas = nullptr;   // Paint only
};

}  // namespace kelp
