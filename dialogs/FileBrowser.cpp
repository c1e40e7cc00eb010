// The Open File and Save As dialogs, and the listing, sorting and folder rules they use.
#include "dialogs/FileBrowser.h"

#include <algorithm>
#include <utility>

#include "platform/Folders.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int OpenFilterString = 2583;
constexpr int SaveTypeString = 2585;
constexpr int OpenTitleString = 2586;
constexpr int SaveTitleString = 2587;
constexpr int BadNameString = 2695;
constexpr int DateColumnWidth = 70;

// The filter strings list display names and pattern lists alternately, each ended by "|".
std::vector<std::u16string> splitBars(std::u16string_view text) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t bar = text.find(u'|'); bar != std::u16string_view::npos; bar = text.find(u'|', start)) {
    parts.emplace_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  return parts;
}

bool nameBefore(const BrowserEntry& a, const BrowserEntry& b) {
  if (a.up != b.up) return a.up;
  if (a.folder != b.folder) return a.folder;
  int order = compareIgnoreCase(a.name, b.name);
  return order != 0 ? order < 0 : a.name < b.name;
}

int lineHeight() { return fontMetrics(systemFont()).lineHeight; }

// The filter's name on the dialog's Menu: its display name without the patterns.
std::u16string menuText(const FileFilter& filter) {
  size_t open = filter.name.find(u" (");
  return open == std::u16string::npos ? filter.name : filter.name.substr(0, open);
}

/// The folder's entries, a small folder or page mark before each name and, for files,
/// the date in a column at the right.
class FileListBox : public ListBox {
 public:
  void setEntries(std::vector<BrowserEntry> entries) {
    std::vector<std::u16string> names;
    names.reserve(entries.size());
    for (const BrowserEntry& e : entries) names.push_back(e.name);
    m_entries = std::move(entries);
    m_top = 0;
    setItems(std::move(names));
  }
  const BrowserEntry* selectedEntry() const {
    return selected() >= 0 && selected() < static_cast<int>(m_entries.size()) ? &m_entries[static_cast<size_t>(selected())]
                                                                               : nullptr;
  }

 protected:
  int64_t onMessage(Message& m) override {
    if (m.msg != Msg::Paint) return ListBox::onMessage(m);
    paintEntries(*m.canvas);
    return 0;
  }

 private:
  void paintEntries(Canvas& c) {
    Rect r = clientRect();
    const bool hasFocus = desktop().focus() == this;
    c.frameRect(r, hasFocus ? Colors::Highlight : Colors::Gray, hasFocus ? 2 : 1);
    FontSpec font = systemFont();
    const int h = lineHeight() + 2;
    // The list keeps the selected row in view the same way the plain list does.
    if (selected() < m_top) m_top = std::max(selected(), 0);
    if (selected() >= m_top + rows()) m_top = selected() - rows() + 1;
    Rect inner = r.inflated(-3, -2);
    c.pushClip(inner);
    for (int i = m_top; i < static_cast<int>(m_entries.size()) && i < m_top + rows(); ++i) {
      const BrowserEntry& entry = m_entries[static_cast<size_t>(i)];
      Rect row{inner.left, inner.top + (i - m_top) * h, inner.right, inner.top + (i - m_top + 1) * h};
      FontSpec f = font;
      if (i == selected()) {
        c.fillRect(row, hasFocus ? Colors::Highlight : Colors::LightGray);
        f.color = hasFocus ? Colors::HighlightText : Colors::Black;
      }
      const int mid = (row.top + row.bottom) / 2;
      Rect mark{row.left + 2, mid - 4, row.left + 12, mid + 4};
      if (entry.folder || entry.up) {
        c.fillRect(mark, rgb(230, 190, 80));
        c.frameRect(mark, Colors::Black);
      } else {
        c.fillRect({mark.left + 1, mark.top - 1, mark.right - 1, mark.bottom + 1}, Colors::White);
        c.frameRect({mark.left + 1, mark.top - 1, mark.right - 1, mark.bottom + 1}, Colors::Gray);
      }
      const bool dated = !entry.folder && !entry.up;
      Rect name{row.left + 16, row.top, row.right - (dated ? DateColumnWidth : 0) - 2, row.bottom};
      c.drawTextBox(name, entry.name, f, TextFlag::VCenter);
      if (dated) {
        c.drawTextBox({row.right - DateColumnWidth, row.top, row.right - 2, row.bottom}, shortDateText(entry.lastWrite), f,
                      TextFlag::VCenter | TextFlag::Right);
      }
    }
    c.popClip();
  }

  std::vector<BrowserEntry> m_entries;
  int m_top = 0;
};

class OpenFileDialog : public Dialog {
 public:
  OpenFileDialog(std::u16string folder, int filter)
      : Dialog(loadString(OpenTitleString)), m_folder(std::move(folder)), m_filter(filter) {
    setHelpTopic(u"saveas");
  }

  void build() {
    m_label = &addLabel(u" \n ");  // room for a path of two lines
    const int used = lineHeight() + 6 + 4 + 2 * lineHeight() + 4;
    const int rows = std::max(3, (rect().height() - used - 8) / (lineHeight() + 2));
    m_files = &addCustom<FileListBox>(FileControl::Files, rows * (lineHeight() + 2) + 4);
    m_files->setRows(rows);
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"OK", DialogCommand::Ok);
    Menu& menu = bar.setPopup(1, u"Menu");
    const std::vector<FileFilter> filters = openFilters();
    for (size_t i = 0; i < filters.size() && i < std::size(OpenFilterCommands); ++i)
      menu.append(OpenFilterCommands[i], menuText(filters[i]));
    showFolder();
  }

  const std::u16string& folder() const { return m_folder; }
  int filter() const { return m_filter; }
  const std::u16string& path() const { return m_path; }

 protected:
  // Activating an entry: a folder is entered, "..[Up]" leads to the parent, a file is chosen.
  bool onOk() override {
    const BrowserEntry* entry = m_files->selectedEntry();
    if (!entry) return false;
    if (entry->up) {
      m_folder = parentFolder(m_folder);
    } else if (entry->folder) {
      m_folder = pathInFolder(m_folder, entry->name);
    } else {
      m_path = pathInFolder(m_folder, entry->name);
      return true;
    }
    showFolder();
    return false;
  }

  void onCommand(int id, int64_t notify) override {
    for (int i = 0; i < OpenFilterCount && notify == 0; ++i) {
      if (static_cast<uint32_t>(id) == OpenFilterCommands[i]) {
        m_filter = i;
        showFolder();
        return;
      }
    }
    Dialog::onCommand(id, notify);
  }

 private:
  void showFolder() {
    m_label->setText(shownPath(m_folder, homeFolder()));
    m_label->invalidate();
    m_files->setEntries(browseFolder(m_folder, m_filter));
    desktop().setFocus(m_files);
    if (MenuBar* bar = menuBar(); bar && bar->key(1).popup) {
      for (int i = 0; i < OpenFilterCount; ++i) bar->key(1).popup->check(OpenFilterCommands[i], i == m_filter);
    }
  }

  std::u16string m_folder;
  int m_filter = 0;
  std::u16string m_path;
  Label* m_label = nullptr;
  FileListBox* m_files = nullptr;
};

class SaveAsDialog : public Dialog {
 public:
  SaveAsDialog() : Dialog(loadString(SaveTitleString)) { setHelpTopic(u"saveas"); }

  void build(std::u16string_view name, int type, std::vector<std::u16string> folders, size_t selectedFolder) {
    addLabel(u"Name:");
    m_name = &addEdit(FileControl::Name, name);
    m_name->setMaxLength(255);
    m_name->selectAll();
    addLabel(u"Type:");
    m_type = &addList(FileControl::Type, saveTypeNames());
    m_type->select(std::clamp(type, 1, SaveTypeCount) - 1);
    addLabel(u"Folder:");
    m_folders = std::move(folders);
    std::vector<std::u16string> shown;
    const std::u16string home = homeFolder();
    for (const std::u16string& folder : m_folders) shown.push_back(shownPath(folder, home));
    m_folderList = &addList(FileControl::SaveFolder, std::move(shown));
    m_folderList->select(static_cast<int>(selectedFolder));
    m_ready = true;
  }

  int type() const { return m_type->selected() + 1; }
  std::u16string path() const {
    const int at = m_folderList->selected();
    if (at < 0 || static_cast<size_t>(at) >= m_folders.size()) return {};
    return pathInFolder(m_folders[static_cast<size_t>(at)], m_name->text());
  }

 protected:
  // A name no file can carry is refused before the dialog ends, and the user may mend it.
  bool onOk() override {
    if (m_folderList->selected() < 0) return false;
    if (isValidFileName(m_name->text())) return true;
    messageBox(desktop(), id(), loadString(BadNameString), u"Kelp", BoxFlag::Ok | BoxFlag::IconExclamation);
    desktop().setFocus(m_name);
    m_name->selectAll();
    return false;
  }

  void onCommand(int id, int64_t notify) override {
    // Another type drops the extension typed for the old one ("Budget.kp" becomes "Budget").
    if (m_ready && id == FileControl::Type && notify == Notify::Changed) {
      const std::u16string name = m_name->text();
      const size_t dot = name.rfind(u'.');
      if (dot != std::u16string::npos && dot > 0) m_name->setValue(name.substr(0, dot));
      return;
    }
    Dialog::onCommand(id, notify);
  }

 private:
  EditLine* m_name = nullptr;
  ListBox* m_type = nullptr;
  ListBox* m_folderList = nullptr;
  std::vector<std::u16string> m_folders;
  bool m_ready = false;
};

}  // namespace

std::vector<FileFilter> openFilters() {
  std::vector<FileFilter> filters;
  const std::vector<std::u16string> parts = splitBars(loadString(OpenFilterString));
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    FileFilter filter;
    filter.name = parts[i];
    std::u16string_view patterns = parts[i + 1];
    while (!patterns.empty()) {
      size_t semicolon = patterns.find(u';');
      std::u16string_view one = patterns.substr(0, semicolon);
      if (!one.empty()) filter.patterns.emplace_back(one);
      patterns = semicolon == std::u16string_view::npos ? std::u16string_view() : patterns.substr(semicolon + 1);
    }
    filters.push_back(std::move(filter));
  }
  return filters;
}

std::vector<std::u16string> saveTypeNames() {
  std::vector<std::u16string> names;
  const std::vector<std::u16string> parts = splitBars(loadString(SaveTypeString));
  for (size_t i = 0; i < parts.size(); i += 2) names.push_back(parts[i]);
  return names;
}

bool matchesPattern(std::u16string_view name, std::u16string_view pattern) {
  // Iterative matching with one remembered star: linear in practice, never exponential.
  size_t n = 0, p = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || foldCase(pattern[p]) == foldCase(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::vector<BrowserEntry> browseFolder(std::u16string_view folder, int filter) {
  std::vector<BrowserEntry> entries;
  if (folder != u"/") entries.push_back({std::u16string(UpEntry), false, true, 0});
  const std::vector<FileFilter> filters = openFilters();
  const FileFilter* chosen = filter >= 0 && static_cast<size_t>(filter) < filters.size() ? &filters[static_cast<size_t>(filter)] : nullptr;
  for (FolderEntry& item : listFolder(folder)) {
    if (!item.folder) {
      const bool shown = chosen && std::any_of(chosen->patterns.begin(), chosen->patterns.end(),
                                               [&](const std::u16string& p) { return matchesPattern(item.name, p); });
      if (!shown) continue;
    }
    entries.push_back({std::move(item.name), item.folder, false, item.lastWrite});
  }
  std::sort(entries.begin(), entries.end(), nameBefore);
  return entries;
}

std::u16string parentFolder(std::u16string_view folder) {
  while (folder.size() > 1 && folder.back() == u'/') folder.remove_suffix(1);
  const size_t slash = folder.rfind(u'/');
  if (slash == std::u16string_view::npos || slash == 0) return u"/";
  return std::u16string(folder.substr(0, slash));
}

std::u16string pathInFolder(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (path.empty() || path.back() != u'/') path += u'/';
  return path + std::u16string(name);
}

std::u16string shownPath(std::u16string_view path, std::u16string_view home) {
  if (home.size() > 1 && path.substr(0, home.size()) == home &&
      (path.size() == home.size() || path[home.size()] == u'/')) {
    return u"~" + std::u16string(path.substr(home.size()));
  }
  return std::u16string(path);
}

std::vector<std::u16string> saveFolders(std::u16string_view documents, const std::vector<std::u16string>& media) {
  std::vector<std::u16string> folders;
  auto addWithSubfolders = [&](std::u16string_view base) {
    folders.emplace_back(base);
    std::vector<std::u16string> subfolders;
    for (const FolderEntry& entry : listFolder(base))
      if (entry.folder && !entry.name.empty() && entry.name[0] != u'.') subfolders.push_back(entry.name);
    std::sort(subfolders.begin(), subfolders.end(), [](const std::u16string& a, const std::u16string& b) {
      int order = compareIgnoreCase(a, b);
      return order != 0 ? order < 0 : a < b;
    });
    for (const std::u16string& name : subfolders) folders.push_back(pathInFolder(base, name));
  };
  addWithSubfolders(documents);
  for (const std::u16string& medium : media) addWithSubfolders(medium);
  return folders;
}

bool isValidFileName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find(u'/') != std::u16string_view::npos || name.find(u'\0') != std::u16string_view::npos) return false;
  return utf16ToUtf8(name).size() <= 255;
}

bool runOpenFileDialog(Desktop& desktop, std::u16string& folder, int& filter, std::u16string& path) {
  const std::u16string start = folder.empty() ? std::u16string(u"/") : folder;
  OpenFileDialog& dialog =
      desktop.create<OpenFileDialog>(nullptr, desktop.workArea(), start, std::clamp(filter, 0, OpenFilterCount - 1));
  dialog.build();
  const bool chosen = dialog.run() == DialogResult::Ok;
  if (chosen) {
    path = dialog.path();
    folder = dialog.folder();
    filter = dialog.filter();
  }
  desktop.destroy(dialog.id());
  return chosen;
}

bool runSaveAsDialog(Desktop& desktop, std::vector<std::u16string> folders, std::u16string_view startFolder,
                     int& type, std::u16string& path) {
  size_t selected = 0;
  if (!startFolder.empty()) {
    auto at = std::find(folders.begin(), folders.end(), startFolder);
    if (at == folders.end()) folders.insert(folders.begin(), std::u16string(startFolder));
    else selected = static_cast<size_t>(at - folders.begin());
  }
  if (folders.empty()) folders.emplace_back(u"/");
  const size_t slash = path.rfind(u'/');
  const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  SaveAsDialog& dialog = desktop.create<SaveAsDialog>(nullptr, desktop.workArea());
  dialog.build(name, type, std::move(folders), selected);
  const bool chosen = dialog.run() == DialogResult::Ok;
  if (chosen) {
    path = dialog.path();
    type = dialog.type();
  }
  desktop.destroy(dialog.id());
  return chosen;
}

}  // namespace kelp
