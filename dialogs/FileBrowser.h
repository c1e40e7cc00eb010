// The file browser: the Open File and Save As dialogs and the folder rules under them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Desktop;

/// The Open File dialog's Menu items, one per filter; a filter's position is its index here.
inline constexpr uint32_t OpenFilterCommands[] = {40099, 40100, 40102, 40101, 40103, 40142};
constexpr int OpenFilterCount = 6;
constexpr int SaveTypeCount = 7;

/// The first entry of every folder but the root; it leads to the parent.
inline constexpr std::u16string_view UpEntry = u"..[Up]";

/// Control ids of the two dialogs.
namespace FileControl {
constexpr int Folder = 1004;      // Open File: the label with the folder's path
constexpr int Files = 1002;       // Open File: the folder's entries
constexpr int Name = 1019;        // Save As: the name field
constexpr int Type = 1076;        // Save As: the save types
constexpr int SaveFolder = 1105;  // Save As: the document folders
}  // namespace FileControl

struct FileFilter {
  std::u16string name;
  std::vector<std::u16string> patterns;  // "*.kp"
};
/// The six Open File filters in position order.
std::vector<FileFilter> openFilters();
/// The seven save types' names, in the order of their 1-based index.
std::vector<std::u16string> saveTypeNames();

/// Whether `name` matches `pattern` ("*" any run, "?" one character), ignoring case.
bool matchesPattern(std::u16string_view name, std::u16string_view pattern);

struct BrowserEntry {
  std::u16string name;
  bool folder = false;
  bool up = false;  // the "..[Up]" entry
  int64_t lastWrite = 0;
};

/// What the Open File list shows for `folder` under filter position `filter`: "..[Up]"
/// first except at the root, then the folders, then the files the filter lets through,
/// each group sorted by name without regard to case. An unreadable folder gives "..[Up]" alone.
std::vector<BrowserEntry> browseFolder(std::u16string_view folder, int filter);

/// The folder above `folder`; the root is its own parent.
std::u16string parentFolder(std::u16string_view folder);
/// `name` inside `folder`.
std::u16string pathInFolder(std::u16string_view folder, std::u16string_view name);
/// A path as the user knows it: the home folder written as "~".
std::u16string shownPath(std::u16string_view path, std::u16string_view home);

/// The folders Save As offers: the documents folder and its subfolders, then each
/// removable medium and its subfolders; subfolders sorted without regard to case,
/// hidden ones (starting with ".") left out.
std::vector<std::u16string> saveFolders(std::u16string_view documents, const std::vector<std::u16string>& media);

/// Whether a typed name can name a file in a folder: not empty, not "." or "..", no "/"
/// or NUL, at most 255 bytes of UTF-8.
bool isValidFileName(std::u16string_view name);

/// The Open File dialog over `folder` with filter position `filter`. True with the chosen
/// file's path; `folder` and `filter` come back as the user left them.
bool runOpenFileDialog(Desktop& desktop, std::u16string& folder, int& filter, std::u16string& path);

/// The Save As dialog: `path` brings the current name (empty for a new workbook) and
/// takes the chosen folder and name; `type` is the 1-based save type, in and out. The
/// folder list is `folders`, with `startFolder` selected (put first when missing).
bool runSaveAsDialog(Desktop& desktop, std::vector<std::u16string> folders, std::u16string_view startFolder,
                     int& type, std::u16string& path);

}  // namespace kelp
