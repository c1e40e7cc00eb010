// The Edit menu's own commands: Undo and Redo, the clipboard items, Clear.
#pragma once

#include <cstdint>

namespace kelp {

class Application;
class Menu;
class MenuBar;

namespace MenuCommand {
constexpr uint32_t Save = 40127;
constexpr uint32_t Undo = 40006;
constexpr uint32_t Redo = 40007;
constexpr uint32_t Cut = 40008;
constexpr uint32_t Copy = 40009;
constexpr uint32_t Paste = 40010;
constexpr uint32_t PasteSpecial = 40050;
constexpr uint32_t ClearAll = 40035;
constexpr uint32_t ClearContents = 40036;
constexpr uint32_t ClearFormats = 40037;
}  // namespace MenuCommand

/// Runs an Edit item; false when `id` is none of them.
bool runEditCommand(Application& app, uint32_t id);

/// The clipboard's items (Cut, Copy, Paste, Paste Special).
bool runClipboardCommand(Application& app, uint32_t id);

}  // namespace kelp
