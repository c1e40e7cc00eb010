// Settings defaults, their registry form, custom lists and recent files.
#include "shell/Settings.h"

#include <algorithm>

#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int DefaultCustomListsString = 2500;

uint32_t clamped(uint32_t value, uint32_t low, uint32_t high) { return std::clamp(value, low, high); }

}  // namespace

Settings defaultSettings(std::u16string_view documentsFolder) {
  Settings s;
  s.documentsFolder = documentsFolder.empty() ? std::u16string(u"/") : std::u16string(documentsFolder);
  s.customLists = parseCustomLists(loadString(DefaultCustomListsString));
  return s;
}

void readSettings(const Registry& registry, Settings& s) {
  const std::u16string_view key = KelpRegistryKey;
  uint32_t v = 0;
  if (registry.readDword(key, u"FmlBar", v)) s.formulaBar = v != 0;
  // A stored value outside 0..2 is treated as "down", the default.
  if (registry.readDword(key, u"MoveEnter", v)) s.moveEnter = v <= MoveAfterEnter::Down ? v : MoveAfterEnter::Down;
  if (registry.readDword(key, u"DFSZoom", v)) s.useFullScreenZoom = v != 0;
  if (registry.readDword(key, u"FSZoom", v)) s.fullScreenZoom = clamped(v, 25, 200);
  if (registry.readDword(key, u"AutoSave", v)) s.autoSave = v != 0;
  if (registry.readDword(key, u"AutoSaveMin", v)) s.autoSaveMinutes = clamped(v, 1, 300);
  std::u16string text;
  // The folder the file dialogs last used is where the next start opens them.
  if (registry.readString(key, u"DocDir", text) && !text.empty()) s.documentsFolder = text.substr(0, MaxPathLength);
  for (int i = 0; i < RecentFileCount; ++i) {
    std::u16string name = u"RecFile" + decimalText(i + 1);
    if (registry.readString(key, name, text)) s.recentFiles[i] = text.substr(0, MaxPathLength);
  }
  if (registry.readString(key, u"CLst", text)) {
    const size_t units = MaxCustomListBytes / 2 - 1;
    s.customLists = parseCustomLists(std::u16string_view(text).substr(0, units));
  }
  std::vector<uint8_t> blob;
  if (registry.readBinary(key, u"UsedFn", blob)) (void)s.functionMru.fromBlob(blob.data(), blob.size());
}

bool writeSettings(Registry& registry, const Settings& s) {
  const std::u16string_view key = KelpRegistryKey;
  bool ok = registry.writeDword(key, u"FmlBar", s.formulaBar ? 1 : 0);
  ok = registry.writeDword(key, u"MoveEnter", s.moveEnter) && ok;
  ok = registry.writeDword(key, u"DFSZoom", s.useFullScreenZoom ? 1 : 0) && ok;
  ok = registry.writeDword(key, u"FSZoom", s.fullScreenZoom) && ok;
  ok = registry.writeDword(key, u"AutoSave", s.autoSave ? 1 : 0) && ok;
  ok = registry.writeDword(key, u"AutoSaveMin", s.autoSaveMinutes) && ok;
  ok = registry.writeString(key, u"DocDir", s.documentsFolder) && ok;
  for (int i = 0; i < RecentFileCount; ++i) {
    ok = registry.writeString(key, u"RecFile" + decimalText(i + 1), s.recentFiles[i]) && ok;
  }
  ok = registry.writeString(key, u"CLst", customListsText(s.customLists)) && ok;
  std::vector<uint8_t> blob(RecentFunctions::BlobBytes);
  s.functionMru.toBlob(blob.data());
  ok = registry.writeBinary(key, u"UsedFn", blob) && ok;
  return ok;
}

std::u16string customListsText(const std::vector<std::u16string>& lists) {
  std::u16string text;
  for (const std::u16string& list : lists) {
    if (text.size() + list.size() + 1 >= CustomListTextLimit) break;
    text += list;
    text += u';';
  }
  return text;
}

void addRecentFile(std::array<std::u16string, RecentFileCount>& files, std::u16string_view path) {
  for (int i = 0; i < RecentFileCount; ++i) {
    if (!files[i].empty() && equalsIgnoreCase(files[i], path)) {
      for (int j = i; j + 1 < RecentFileCount; ++j) files[j] = std::move(files[j + 1]);
      files[RecentFileCount - 1].clear();
      break;
    }
  }
  for (int i = RecentFileCount - 1; i > 0; --i) files[i] = std::move(files[i - 1]);
  files[0] = std::u16string(path.substr(0, MaxPathLength));
}

std::u16string recentFileLabel(std::u16string_view path) {
  size_t slash = path.rfind(u'/');
  std::u16string label(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
  if (label.size() > 20) {
    label.resize(20);
    label += u"...";
  }
  return label;
}

std::u16string commandLinePath(std::u16string_view line) {
  if (!line.empty() && line.front() == u'"' && line.size() < 300) {
    line.remove_prefix(1);
    if (!line.empty() && line.back() == u'"') line.remove_suffix(1);
  }
  return std::u16string(line);
}

}  // namespace kelp
