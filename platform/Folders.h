// Folders for the file browser: listing a folder, the user's documents and home folders,
// the mounted removable media, and file dates in the locale's short form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

/// One name in a folder. `lastWrite` counts seconds since 1970 (UTC).
struct FolderEntry {
  std::u16string name;
  bool folder = false;
  int64_t lastWrite = 0;
};

/// The entries of `folder` without "." and ".."; a link counts as what it leads to.
/// A folder that cannot be read gives nothing.
std::vector<FolderEntry> listFolder(std::u16string_view folder);

/// $HOME, else the password database's home of this user; empty when unknown.
std::u16string homeFolder();

/// The folder documents are kept in: $XDG_DOCUMENTS_DIR, else ~/Documents (both created
/// when missing), else the home folder, else "/".
std::u16string userDocumentsFolder();

/// Mount points of the removable media the system mounted for `user`: those under
/// /media/USER and /run/media/USER in a mounts table (the form of /proc/self/mounts,
/// with its octal escapes), in table order.
std::vector<std::u16string> removableMediaIn(std::string_view mountsTable, std::string_view user);
/// The removable media mounted now for the user running Kelp; none when unknown.
std::vector<std::u16string> removableMedia();

/// The date of `seconds` since 1970 on the local clock, under the locale's short date picture.
std::u16string shortDateText(int64_t seconds);
/// The same followed by the time of day under the locale's short time picture.
std::u16string shortDateTimeText(int64_t seconds);

}  // namespace kelp
