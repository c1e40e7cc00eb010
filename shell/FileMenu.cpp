// The File menu's items and the flows of Open..., Save and Save As... around the file browser.
#include "shell/FileMenu.h"

#include <string>

#include "files/Document.h"
#include "model/Workbook.h"
#include "platform/File.h"
#include "platform/Folders.h"
#include "platform/Text.h"
#include "platform/ui/Menu.h"
#include "shell/Application.h"
#include "shell/EditMenu.h"
#include "dialogs/FileBrowser.h"

namespace kelp {

namespace {

constexpr std::u16string_view RecentFilesText = u"Recent Files";

// The folder part of a path; "/" for a file in the root, empty for a bare name.
std::u16string folderPart(std::u16string_view path) {
  const size_t slash = path.rfind(u'/');
  if (slash == std::u16string_view::npos) return {};
  return slash == 0 ? std::u16string(u"/") : std::u16string(path.substr(0, slash));
}

// After a save under a new name the next file dialog opens where it went.
void rememberFolder(Application& app, std::u16string_view folder) {
  if (folder.empty()) return;
  app.document().saveFolder = folder;
  app.settings().documentsFolder = folder;
}

void openWithDialog(Application& app) {
  if (!app.saveChangesPrompt()) return;
  std::u16string folder = app.document().saveFolder;
  if (!isFolder(utf16ToUtf8(folder))) folder = userDocumentsFolder();
  int filter = app.openFilter;
  std::u16string path;
  if (!runOpenFileDialog(app.desktop(), folder, filter, path)) return;
  app.openFilter = filter;
  rememberFolder(app, folderPart(path));
  // Recent Files and the settings are written when the file has opened.
  app.openDocument(path);
}

}  // namespace

bool saveWorkbook(Application& app, bool ask) {
  if (!SaveCommand(app.document(), ask)) return false;
  rememberFolder(app, app.document().saveFolder);
  app.noteRecentFile(app.workbook().fileName);
  return true;
}

Menu* recentFilesMenu(Menu& menu) {
  for (size_t i = 0; i < menu.count(); ++i) {
    MenuItem& item = menu.item(i);
    if (!item.submenu) continue;
    if (item.text == RecentFilesText) return item.submenu.get();
    if (Menu* inner = recentFilesMenu(*item.submenu)) return inner;
  }
  return nullptr;
}

void installSaveAsDialog(Application& app) {
  app.document().ui.chooseSaveName = [&app](int filter, std::u16string& name, int& chosenFilter) {
    // The dialog opens on the folder of the name offered, else where the last dialog left off.
    std::u16string start = folderPart(name);
    if (start.empty()) start = app.document().saveFolder;
    int type = filter;
    if (!runSaveAsDialog(app.desktop(), saveFolders(userDocumentsFolder(), removableMedia()), start, type, name))
      return false;
    chosenFilter = type;
    return true;
  };
}

bool runFileCommand(Application& app, uint32_t id) {
  switch (id) {
    case MenuCommand::Open:
      openWithDialog(app);
      return true;
    case MenuCommand::Save:
      (void)saveWorkbook(app, false);
      return true;
    case MenuCommand::SaveAs:
      (void)saveWorkbook(app, true);
      return true;
    default:
      return false;
  }
}

}  // namespace kelp
