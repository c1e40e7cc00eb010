// The persistent settings: their defaults and limits, the registry form, custom lists,
// recent files and the command-line path rule.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "edit/Fill.h"  // parseCustomLists
#include "functions/RecentFunctions.h"

namespace kelp {

class Registry;

constexpr int RecentFileCount = 4;
/// The registry read of a recent file keeps at most this many characters (260 with the terminator).
constexpr size_t MaxPathLength = 259;
/// Custom lists read from the registry are cut at this many bytes of UTF-16 (the terminator included).
constexpr size_t MaxCustomListBytes = 6000;
/// Writing stops before the list that would bring the text to this length.
constexpr size_t CustomListTextLimit = 3000;

namespace MoveAfterEnter {
constexpr uint32_t Stay = 0, Right = 1, Down = 2;
}

struct Settings {
  bool formulaBar = false;           // FmlBar
  uint32_t moveEnter = MoveAfterEnter::Down;  // MoveEnter
  bool useFullScreenZoom = true;     // DFSZoom
  uint32_t fullScreenZoom = 75;      // FSZoom, 25..200
  bool autoSave = false;             // AutoSave
  uint32_t autoSaveMinutes = 10;     // AutoSaveMin, 1..300
  std::u16string documentsFolder;    // DocDir, the folder the file dialogs open in
  std::array<std::u16string, RecentFileCount> recentFiles;  // RecFile1..4, most recent first
  std::vector<std::u16string> customLists;  // CLst, each list with its trailing comma
  RecentFunctions functionMru;       // UsedFn
};

/// The settings a first start has: the defaults, the five default custom lists and
/// `documentsFolder` (the root folder when that is empty).
Settings defaultSettings(std::u16string_view documentsFolder);

/// Reads the values present under the settings key over `settings`; a missing key or
/// value keeps what is there. Values out of their range are brought into it.
void readSettings(const Registry& registry, Settings& settings);
/// Writes every value, creating the key when absent; false when the store could not be written.
bool writeSettings(Registry& registry, const Settings& settings);

/// The lists joined, each followed by ";", stopping before the first list that would
/// bring the text to CustomListTextLimit characters or more.
std::u16string customListsText(const std::vector<std::u16string>& lists);

/// Puts `path` first in the list; an entry equal to it (ignoring case) moves instead of
/// being repeated, and a fifth distinct path drops the oldest.
void addRecentFile(std::array<std::u16string, RecentFileCount>& files, std::u16string_view path);
/// The submenu label: the part after the last "/", cut to 20 characters plus "...".
std::u16string recentFileLabel(std::u16string_view path);

/// The document named by a command line: a line starting with a double quote and shorter
/// than 300 characters loses that quote and a closing one.
std::u16string commandLinePath(std::u16string_view commandLine);

}  // namespace kelp
