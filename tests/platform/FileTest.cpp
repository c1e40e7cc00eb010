// Tests of the host file services: locks across processes, replacing renames, planned faults.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/System.h"
#include "tests/UnixSocket.h"

namespace kelp {
namespace {

namespace fs = std::filesystem;

struct TempFolder {
  std::string path;
  TempFolder() {
    char name[] = "/tmp/kelp-file-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolder() {
    clearFileFaults();
    fs::remove_all(path);
  }
  std::string file(const char* name) const { return path + "/" + name; }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path), fs::directory_iterator())); }
};

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& text) {
  File file;
  ASSERT_EQ(file.create(path), FileError::None) << path;
  ASSERT_EQ(file.write(text.data(), text.size()), FileError::None);
}

// What a fresh process gets when it opens `path` and asks for the lock.
int lockInChild(const std::string& path) {
  pid_t child = ::fork();
  if (child == 0) {
    File file;
    FileError error = file.open(path, FileAccess::Read);
    if (error == FileError::None) error = file.lock();
    ::_exit(static_cast<int>(error));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(File, TheLockKeepsOutEveryOtherOpenerUntilClosed) {
  TempFolder folder;
  std::string path = folder.file("held.kp");
  writeFile(path, "contents");
  File holder;
  ASSERT_EQ(holder.open(path, FileAccess::ReadWrite), FileError::None);
  ASSERT_EQ(holder.lock(), FileError::None);

  // A second open file of this very process is refused, not only other processes.
  File second;
  ASSERT_EQ(second.open(path, FileAccess::Read), FileError::None);
  EXPECT_EQ(second.lock(), FileError::Locked);
  EXPECT_EQ(lockInChild(path), static_cast<int>(FileError::Locked));

  // Moving the file keeps the lock with it; only closing lets go.
  File moved = std::move(holder);
  EXPECT_FALSE(holder.isOpen());
  EXPECT_EQ(lockInChild(path), static_cast<int>(FileError::Locked));
  moved.close();
  EXPECT_EQ(lockInChild(path), static_cast<int>(FileError::None));
  EXPECT_EQ(second.lock(), FileError::None);
  EXPECT_EQ(lockInChild(path), static_cast<int>(FileError::Locked)) << "now the second one holds it";
}

TEST(File, RenameReplacesTheOldFileOnlyWhenItSucceeds) {
  TempFolder folder;
  std::string target = folder.file("book.kp");
  std::string fresh = folder.file("fresh");
  writeFile(target, "old contents");
  writeFile(fresh, "new");

  planFileFault(FileCall::Rename, 0, FileError::Failed);
  EXPECT_EQ(renameFile(fresh, target), FileError::Failed);
  clearFileFaults();
  EXPECT_EQ(contents(target), "old contents");
  EXPECT_EQ(contents(fresh), "new");

  // Real refusals leave both names as they were too.
  EXPECT_EQ(renameFile(folder.file("missing"), target), FileError::NotFound);
  fs::create_directory(folder.file("sub"));
  writeFile(folder.file("sub/inside"), "x");
  EXPECT_EQ(renameFile(fresh, folder.file("sub")), FileError::Failed);
  EXPECT_EQ(contents(target), "old contents");
  EXPECT_EQ(contents(folder.file("sub/inside")), "x");

  // A reader of the old file keeps reading the old contents after the replacement.
  File reader;
  ASSERT_EQ(reader.open(target, FileAccess::Read), FileError::None);
  EXPECT_EQ(renameFile(fresh, target), FileError::None);
  EXPECT_EQ(contents(target), "new");
  EXPECT_FALSE(pathExists(fresh));
  char bytes[32] = {};
  EXPECT_EQ(reader.read(bytes, sizeof bytes), 12);
  EXPECT_EQ(std::string(bytes), "old contents");
  EXPECT_EQ(syncFolder(folder.path), FileError::None);
}

TEST(File, PlannedFaultsHitTheChosenCallsUntilCleared) {
  TempFolder folder;
  std::string path = folder.file("data");
  File file;
  ASSERT_EQ(file.create(path), FileError::None);

  // A write reaching the planned byte is cut short there; every later one fails too.
  planFileFault(FileCall::Write, 5, FileError::NoRoom);
  EXPECT_EQ(file.write("abc", 3), FileError::None);
  EXPECT_EQ(file.write("defg", 4), FileError::NoRoom);
  EXPECT_EQ(contents(path), "abcde");
  EXPECT_EQ(file.write("h", 1), FileError::NoRoom);
  EXPECT_EQ(file.sync(), FileError::None) << "only writes were planned to fail";
  clearFileFaults();
  EXPECT_EQ(file.write("h", 1), FileError::None);
  EXPECT_EQ(contents(path), "abcdeh");

  // Syncs count files and folders alike.
  planFileFault(FileCall::Sync, 1, FileError::Failed);
  EXPECT_EQ(file.sync(), FileError::None);
  EXPECT_EQ(syncFolder(folder.path), FileError::Failed);
  EXPECT_EQ(file.sync(), FileError::Failed);
  clearFileFaults();
  EXPECT_EQ(file.sync(), FileError::None);

  planFileFault(FileCall::Lock, 1, FileError::Locked);
  EXPECT_EQ(file.lock(), FileError::None);
  File other;
  ASSERT_EQ(other.open(path, FileAccess::Read), FileError::None);
  EXPECT_EQ(other.lock(), FileError::Locked);
  file.close();
  EXPECT_EQ(other.lock(), FileError::Locked) << "the planned fault, not the lock, refuses it now";
  clearFileFaults();
  EXPECT_EQ(other.lock(), FileError::None);

  // Real failures come back as the same few kinds.
  File missing;
  EXPECT_EQ(missing.open(folder.file("none"), FileAccess::Read), FileError::NotFound);
  EXPECT_FALSE(missing.isOpen());
  EXPECT_EQ(missing.create(path), FileError::Exists);
  EXPECT_EQ(createFolder(folder.path), FileError::Exists);
  EXPECT_EQ(removeFile(folder.file("none")), FileError::NotFound);
  EXPECT_EQ(removeFile(path), FileError::None);
  EXPECT_FALSE(pathExists(path));
}

TEST(File, NamesFoldersAndPermissions) {
  TempFolder folder;
  std::string book = folder.file("book.kp");
  File first, second;
  std::string firstName, secondName;
  ASSERT_EQ(first.createBeside(book, firstName), FileError::None);
  ASSERT_EQ(second.createBeside(book, secondName), FileError::None);
  EXPECT_NE(firstName, secondName);
  EXPECT_EQ(firstName.rfind(folder.path + "/.book.kp.kelp-", 0), 0u) << firstName;
  EXPECT_TRUE(pathExists(firstName) && pathExists(secondName));
  EXPECT_EQ(folder.entries(), 2u);
  std::string lost;
  File nowhere;
  EXPECT_EQ(nowhere.createBeside(folder.file("no/book.kp"), lost), FileError::NotFound);
  EXPECT_EQ(createFolder(folder.file("no")), FileError::None);
  EXPECT_EQ(nowhere.createBeside(folder.file("no/book.kp"), lost), FileError::None);

  EXPECT_EQ(folderOf("book.kp"), ".");
  EXPECT_EQ(folderOf("/book.kp"), "/");
  EXPECT_EQ(folderOf("/a/b/book.kp"), "/a/b");

  writeFile(book, "x");
  fs::create_symlink(book, folder.file("link.kp"));
  EXPECT_EQ(fs::path(followLink(folder.file("link.kp"))), fs::canonical(book));
  EXPECT_EQ(followLink(book), book);
  EXPECT_EQ(followLink(folder.file("none")), folder.file("none"));
  // A dangling link, directly or through another link, leads to the name it gives.
  fs::create_symlink("gone.kp", folder.file("dangling.kp"));
  fs::create_symlink(folder.file("dangling.kp"), folder.file("chain.kp"));
  EXPECT_EQ(followLink(folder.file("dangling.kp")), folder.file("gone.kp"));
  EXPECT_EQ(followLink(folder.file("chain.kp")), folder.file("gone.kp"));
  fs::create_symlink("loop.kp", folder.file("loop.kp"));
  EXPECT_EQ(followLink(folder.file("loop.kp")), folder.file("loop.kp"));
  EXPECT_TRUE(pathExists(folder.path)) << "a folder is a name that exists";

  // Writability is read from the mode bits, so a read-only file is read-only for root
  // too; only a folder is a folder.
  EXPECT_TRUE(modeAllowsWriting(book));
  ASSERT_EQ(::chmod(book.c_str(), 0444), 0);
  EXPECT_FALSE(modeAllowsWriting(book));
  ASSERT_EQ(::chmod(book.c_str(), 0200), 0);
  EXPECT_TRUE(modeAllowsWriting(book));
  // Root needs one write bit of any class; anyone else the bit of the owner's class.
  ASSERT_EQ(::chmod(book.c_str(), 0442), 0);
  EXPECT_EQ(modeAllowsWriting(book), ::geteuid() == 0);
  EXPECT_FALSE(modeAllowsWriting(folder.file("none")));
  EXPECT_TRUE(isFolder(folder.path));
  EXPECT_FALSE(isFolder(book));
  File notAFile;
  EXPECT_EQ(notAFile.open(folder.path, FileAccess::Read), FileError::Failed);
  EXPECT_FALSE(notAFile.isOpen());

  // A temporary file is its owner's alone until it takes the model's permissions and,
  // where the process may give a file away, its owner and group.
  struct stat info;
  ASSERT_EQ(::stat(firstName.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(::chmod(book.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(book.c_str(), 4321, 4322), 0);
  }
  File model;
  ASSERT_EQ(model.open(book, FileAccess::Read), FileError::None);
  EXPECT_TRUE(first.copyPermissions(model));
  ASSERT_EQ(::stat(firstName.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_uid, root ? 4321u : ::geteuid());
  EXPECT_EQ(info.st_gid, root ? 4322u : ::getegid());
  EXPECT_TRUE(second.giveNewFilePermissions());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_EQ(::stat(secondName.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);

  // Reads stop at the end, from wherever the file was positioned.
  ASSERT_EQ(first.write("hello", 5), FileError::None);
  ASSERT_TRUE(first.seek(1));
  char bytes[8] = {};
  EXPECT_EQ(first.read(bytes, sizeof bytes), 4);
  EXPECT_EQ(std::string(bytes), "ello");
  EXPECT_EQ(first.read(bytes, sizeof bytes), 0);
}

TEST(File, OnlyPlainFilesOpenAndNothingWaitsForAWriter) {
  TempFolder folder;
  const std::string fifo = folder.file("pipe.kp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string socketPath = folder.file("socket.kp");
  const int listener = test::bindUnixSocket(socketPath);
  ASSERT_GE(listener, 0);
  // A pipe without a writer would hold a waiting open for ever; the alarm ends the test.
  ::alarm(20);
  for (const std::string& path : {fifo, socketPath, std::string("/dev/null")}) {
    for (FileAccess access : {FileAccess::Read, FileAccess::ReadWrite}) {
      File file;
      EXPECT_EQ(file.open(path, access), FileError::Failed) << path;
      EXPECT_FALSE(file.isOpen());
    }
  }
  ::alarm(0);
  ::close(listener);
  // A plain file reads as before, so no flag of the open is left on it.
  writeFile(folder.file("plain.kp"), "abc");
  File plain;
  ASSERT_EQ(plain.open(folder.file("plain.kp"), FileAccess::ReadWrite), FileError::None);
  char bytes[4] = {};
  EXPECT_EQ(plain.read(bytes, 3), 3);
  EXPECT_EQ(std::string(bytes), "abc");
}

TEST(File, TemporaryFilesGoWithTheirProcessAndFitAnyName) {
  TempFolder folder;
  const std::string book = folder.file("book.kp");
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  // Left by a process that is gone, by a live one (init), and for another file.
  const std::string stale = folder.file((".book.kp.kelp-" + std::to_string(gone) + "-3").c_str());
  const std::string live = folder.file(".book.kp.kelp-1-3");
  const std::string other = folder.file((".other.kp.kelp-" + std::to_string(gone) + "-3").c_str());
  for (const std::string& path : {stale, live, other}) writeFile(path, "x");
  File file;
  std::string created;
  ASSERT_EQ(file.createBeside(book, created), FileError::None);
  EXPECT_FALSE(pathExists(stale));
  EXPECT_TRUE(pathExists(live) && pathExists(other));
  EXPECT_EQ(removeFile(created), FileError::None);

  // A name of 250 bytes leaves no room for the suffix: the temporary name is cut short,
  // its stale files are still found, and it still renames onto the whole name.
  const std::string longName = folder.file(std::string(250, 'n').c_str());
  ASSERT_EQ(file.createBeside(longName, created), FileError::None);
  const std::string shortName = created.substr(created.rfind('/') + 1);
  EXPECT_LE(shortName.size(), 255u);
  const std::string deadLong =
      folder.path + "/" + shortName.substr(0, shortName.rfind(".kelp-") + 6) + std::to_string(gone) + "-9";
  writeFile(deadLong, "x");
  File again;
  std::string createdAgain;
  ASSERT_EQ(again.createBeside(longName, createdAgain), FileError::None);
  EXPECT_FALSE(pathExists(deadLong));
  EXPECT_EQ(renameFile(created, longName), FileError::None);
  EXPECT_TRUE(isRegularFile(longName));
  EXPECT_EQ(removeFile(createdAgain), FileError::None);
}

// How a child that made a temporary file beside `target` and then took SIGTERM ended:
// the signal's number when it killed the child, else 100 + what the child said.
int endWithTemporary(const std::string& target, bool rename, bool catchIt) {
  pid_t child = ::fork();
  if (child == 0) {
    if (catchIt) (void)catchEndOfSession();
    File file;
    std::string created;
    if (file.createBeside(target, created) != FileError::None) ::_exit(1);
    if (rename && renameFile(created, target) != FileError::None) ::_exit(1);
    ::kill(::getpid(), SIGTERM);
    // Caught: the save goes on, and its file is still there for it.
    ::_exit(endOfSessionSignal() == SIGTERM && pathExists(created) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return WTERMSIG(status);
  return WIFEXITED(status) ? 100 + WEXITSTATUS(status) : -1;
}

TEST(File, ASignalThatEndsTheProcessRemovesItsTemporaryFile) {
  TempFolder folder;
  const std::string target = folder.file("book.kp");
  EXPECT_EQ(endWithTemporary(target, false, false), SIGTERM);
  EXPECT_EQ(folder.entries(), 0u) << "the temporary file went with the process";
  // Once renamed it is the document, which the signal leaves.
  EXPECT_EQ(endWithTemporary(target, true, false), SIGTERM);
  EXPECT_TRUE(isRegularFile(target));
  EXPECT_EQ(folder.entries(), 1u);
  // A signal the program catches ends nothing, and the file stays for the save.
  EXPECT_EQ(endWithTemporary(folder.file("other.kp"), false, true), 100);
}

TEST(System, TheClockReadsTheLocalDateAndTime) {
  // Read again when a second boundary fell between the readings.
  std::time_t before = 0, after = 1;
  LocalTime now;
  uint64_t ms = 0;
  for (int attempt = 0; attempt < 5 && before != after; ++attempt) {
    before = std::time(nullptr);
    now = localTimeNow();
    ms = wallClockMilliseconds();
    after = std::time(nullptr);
  }
  ASSERT_EQ(before, after);
  std::tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(now.year, local.tm_year + 1900);
  EXPECT_EQ(now.month, local.tm_mon + 1);
  EXPECT_EQ(now.day, local.tm_mday);
  EXPECT_EQ(now.hour, local.tm_hour);
  EXPECT_EQ(now.minute, local.tm_min);
  EXPECT_EQ(now.second, local.tm_sec);
  // time() may read a coarser clock, a few milliseconds behind.
  EXPECT_LE(std::llabs(static_cast<long long>(ms / 1000) - static_cast<long long>(before)), 1);
}

}  // namespace
}  // namespace kelp
