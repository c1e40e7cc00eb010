// Folder listing, the documents folder, removable media from the mounts table, file dates.
#include "platform/Folders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

struct Tree {
  std::string path;
  Tree() {
    char name[] = "/tmp/kelp-folders-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~Tree() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string at(const std::string& name) const { return path + "/" + name; }
};

const FolderEntry* find(const std::vector<FolderEntry>& entries, std::u16string_view name) {
  auto at = std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) { return e.name == name; });
  return at == entries.end() ? nullptr : &*at;
}

TEST(Folders, ListsNamesFolderFlagsAndTimes) {
  Tree tree;
  std::ofstream(tree.at("Budget.kp")) << "x";
  std::filesystem::create_directory(tree.at("Work"));
  std::filesystem::create_symlink(tree.at("Work"), tree.at("to-work"));
  std::filesystem::create_symlink(tree.at("nowhere"), tree.at("dangling.kp"));
  std::ofstream(tree.at("caf\xc3\xa9.txt")) << "y";
  // 2021-03-04 12:00:00 UTC: the time a file was last written comes back as it was set.
  const timespec times[2] = {{1614859200, 0}, {1614859200, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.at("Budget.kp").c_str(), times, 0), 0);

  // A trailing "/" on the folder changes nothing.
  for (const std::string& folder : {tree.path, tree.path + "/"}) {
    const std::vector<FolderEntry> entries = listFolder(utf8ToUtf16(folder));
    ASSERT_EQ(entries.size(), 5u) << "no \".\" or \"..\"";
    const FolderEntry* budget = find(entries, u"Budget.kp");
    ASSERT_NE(budget, nullptr);
    EXPECT_FALSE(budget->folder);
    EXPECT_EQ(budget->lastWrite, 1614859200);
    ASSERT_NE(find(entries, u"Work"), nullptr);
    EXPECT_TRUE(find(entries, u"Work")->folder);
    ASSERT_NE(find(entries, u"to-work"), nullptr);
    EXPECT_TRUE(find(entries, u"to-work")->folder) << "a link counts as what it leads to";
    ASSERT_NE(find(entries, u"dangling.kp"), nullptr) << "a dangling link is still a name in the folder";
    EXPECT_FALSE(find(entries, u"dangling.kp")->folder);
    EXPECT_NE(find(entries, u"caf\u00e9.txt"), nullptr);
  }

  // What cannot be listed gives nothing: a missing folder, a file.
  EXPECT_TRUE(listFolder(utf8ToUtf16(tree.at("missing"))).empty());
  EXPECT_TRUE(listFolder(utf8ToUtf16(tree.at("Budget.kp"))).empty());
  EXPECT_FALSE(listFolder(u"/").empty());
}

TEST(Folders, DocumentsFolderFallsBackToHome) {
  Tree tree;
  const char* oldDocs = std::getenv("XDG_DOCUMENTS_DIR");
  const char* oldHome = std::getenv("HOME");
  const std::string savedDocs = oldDocs ? oldDocs : "", savedHome = oldHome ? oldHome : "";
  ASSERT_EQ(::setenv("XDG_DOCUMENTS_DIR", tree.at("papers").c_str(), 1), 0);
  EXPECT_EQ(userDocumentsFolder(), utf8ToUtf16(tree.at("papers")));
  EXPECT_TRUE(std::filesystem::is_directory(tree.at("papers")));
  ::unsetenv("XDG_DOCUMENTS_DIR");
  ASSERT_EQ(::setenv("HOME", tree.path.c_str(), 1), 0);
  EXPECT_EQ(homeFolder(), utf8ToUtf16(tree.path));
  EXPECT_EQ(userDocumentsFolder(), utf8ToUtf16(tree.at("Documents")));
  // A home where no Documents folder can be made (here a file, which even root cannot
  // make a folder in) is the documents folder itself.
  std::ofstream(tree.at("plain")) << "x";
  ASSERT_EQ(::setenv("HOME", tree.at("plain").c_str(), 1), 0);
  EXPECT_EQ(userDocumentsFolder(), utf8ToUtf16(tree.at("plain")));
  if (oldDocs) ::setenv("XDG_DOCUMENTS_DIR", savedDocs.c_str(), 1);
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
  else ::unsetenv("HOME");
}

TEST(Folders, RemovableMediaAreTheUsersMountsUnderMedia) {
  const char* table =
      "proc /proc proc rw,nosuid 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdb1 /media/alice/USB\\040STICK vfat rw 0 0\n"
      "/dev/sdc1 /media/bob/THEIRS vfat rw 0 0\n"
      "/dev/sdd1 /run/media/alice/CARD exfat rw 0 0\n"
      "/dev/sde1 /media/alice ext4 rw 0 0\n"
      "/dev/sdf1 /media/alice/DISK/inner ext4 rw 0 0\n"
      "/dev/sdg1 /media/alicexyz/X vfat rw 0 0\n"
      "broken-line\n";
  const std::vector<std::u16string> media = removableMediaIn(table, "alice");
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0], u"/media/alice/USB STICK");
  EXPECT_EQ(media[1], u"/run/media/alice/CARD");
  EXPECT_TRUE(removableMediaIn(table, "").empty());
  EXPECT_TRUE(removableMediaIn("", "alice").empty());
}

TEST(Folders, ShortDatesFollowTheLocale) {
  // Noon UTC is the same calendar day in every time zone from -11 to +11 hours.
  const int64_t noon = 1772712000;  // 2026-03-05 12:00 UTC
  ASSERT_TRUE(selectLocale("en_US"));
  EXPECT_EQ(shortDateText(noon), u"3/5/26");
  ASSERT_TRUE(selectLocale("de_DE"));
  EXPECT_EQ(shortDateText(noon), u"5.3.26");
  selectLocale("en_US");
}

}  // namespace
}  // namespace kelp
