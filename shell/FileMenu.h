// The File menu: New, Open..., Save, Save As..., Recent Files, Password... and Close,
// and the file dialogs wired into opening and saving.
#pragma once

#include <cstdint>

namespace kelp {

class Application;
class Menu;

namespace MenuCommand {
constexpr uint32_t Open = 102;
constexpr uint32_t SaveAs = 103;
constexpr uint32_t Password = 40128;
}  // namespace MenuCommand

/// The Recent Files submenu inside `menu`, or null.
Menu* recentFilesMenu(Menu& menu);

/// Gives the document's Save As question its dialog.
void installSaveAsDialog(Application& app);

/// Save (`ask` false) or Save As...: on success the name goes to Recent Files and its
/// folder becomes the one the next file dialog opens in. False when nothing was saved.
bool saveWorkbook(Application& app, bool ask);

/// Runs Open..., Save or Save As...; false when `id` is none of them.
bool runFileCommand(Application& app, uint32_t id);

}  // namespace kelp
