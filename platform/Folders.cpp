// Folder listing, the documents and home folders, removable media and file dates on Linux.
#include "platform/Folders.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/Locale.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// The fields of a mounts line are separated by blanks; blanks inside them are written
// as octal escapes ("\040" for a space).
std::string unescapeMountField(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      bool octal = true;
      for (char c : digits) octal = octal && c >= '0' && c <= '7';
      if (octal) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::string currentUser() {
  if (const char* user = std::getenv("USER"); user && *user) return user;
  if (const passwd* entry = ::getpwuid(::getuid())) return entry->pw_name ? entry->pw_name : "";
  return "";
}

}  // namespace

std::vector<FolderEntry> listFolder(std::u16string_view folder) {
  std::vector<FolderEntry> entries;
  const std::string path = utf16ToUtf8(folder);
  DIR* dir = ::opendir(path.empty() ? "/" : path.c_str());
  if (!dir) return entries;
  const std::string prefix = !path.empty() && path.back() == '/' ? path : path + "/";
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = utf8ToUtf16(name);
    struct stat info;
    // A link is listed as what it leads to; a dangling one as a file without a date.
    if (::stat((prefix + item->d_name).c_str(), &info) == 0) {
      entry.folder = S_ISDIR(info.st_mode);
      entry.lastWrite = static_cast<int64_t>(info.st_mtime);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

std::u16string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return utf8ToUtf16(home);
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
    return utf8ToUtf16(entry->pw_dir);
  return u"";
}

std::u16string userDocumentsFolder() {
  std::u16string folder = documentsFolder();
  if (folder.empty()) folder = homeFolder();
  return folder.empty() ? u"/" : folder;
}

std::vector<std::u16string> removableMediaIn(std::string_view mountsTable, std::string_view user) {
  std::vector<std::u16string> media;
  if (user.empty()) return media;
  const std::string roots[] = {"/media/" + std::string(user) + "/", "/run/media/" + std::string(user) + "/"};
  std::istringstream lines{std::string(mountsTable)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint;
    if (!(fields >> device >> mountPoint)) continue;
    const std::string point = unescapeMountField(mountPoint);
    for (const std::string& root : roots) {
      // Only the media themselves, one level below the user's folder, count.
      if (point.size() > root.size() && point.compare(0, root.size(), root) == 0 &&
          point.find('/', root.size()) == std::string::npos) {
        media.push_back(utf8ToUtf16(point));
      }
    }
  }
  return media;
}

std::vector<std::u16string> removableMedia() {
  std::ifstream in("/proc/self/mounts");
  if (!in) return {};
  std::ostringstream table;
  table << in.rdbuf();
  return removableMediaIn(table.str(), currentUser());
}

namespace {

bool localCalendar(int64_t seconds, CalendarTime& time) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (!::localtime_r(&t, &local)) return false;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.weekday = local.tm_wday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  return true;
}

}  // namespace

std::u16string shortDateText(int64_t seconds) {
  CalendarTime time;
  if (!localCalendar(seconds, time)) return u"";
  std::u16string out;
  appendDatePicture(time, currentLocale().shortDatePicture(), out);
  return out;
}

std::u16string shortDateTimeText(int64_t seconds) {
  CalendarTime time;
  if (!localCalendar(seconds, time)) return u"";
  std::u16string out;
  appendDatePicture(time, currentLocale().shortDatePicture(), out);
  out += u' ';
  appendTimePicture(time, currentLocale().pictures[PictureSlot::Time12], out);
  return out;
}

}  // namespace kelp
