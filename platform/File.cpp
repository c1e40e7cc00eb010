// Files, folders and locks on Linux: descriptors, flock, fsync, rename, and the fault plan.
#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>
#include <vector>

namespace kelp {

namespace {

struct Fault {
  bool planned = false;
  uint64_t skip = 0;
  FileError error = FileError::None;
};

Fault g_faults[4];

Fault& faultFor(FileCall call) { return g_faults[static_cast<int>(call)]; }

// The planned failure of one call, counting it as succeeded when none is due yet.
FileError plannedFailure(FileCall call) {
  Fault& fault = faultFor(call);
  if (!fault.planned) return FileError::None;
  if (fault.skip == 0) return fault.error;
  --fault.skip;
  return FileError::None;
}

FileError fromErrno(int error) {
  switch (error) {
    case 0: return FileError::None;
    case ENOENT:
    case ENOTDIR: return FileError::NotFound;
    case EEXIST: return FileError::Exists;
    case EWOULDBLOCK: return FileError::Locked;
    case ENOSPC:
    case EDQUOT: return FileError::NoRoom;
    default: return FileError::Failed;
  }
}

// The temporary file of the save under way, which a signal that would end the process
// removes first. The handler may only touch what is ready before it can run: the name
// is written before the flag is raised, and the flag lowered before the name changes.
char g_guardedPath[PATH_MAX];
volatile sig_atomic_t g_guarding = 0;
constexpr int GuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previousActions[std::size(GuardedSignals)];
bool g_replaced[std::size(GuardedSignals)] = {};

void removeGuardedAndEnd(int signal) {
  if (g_guarding) (void)::unlink(g_guardedPath);
  g_guarding = 0;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = SIG_DFL;
  (void)::sigaction(signal, &action, nullptr);
  (void)::raise(signal);  // delivered, with its default end, once this handler returns
}

void endGuard() {
  g_guarding = 0;
  // A handler the program put in place meanwhile stays.
  for (size_t i = 0; i < std::size(GuardedSignals); ++i) {
    struct sigaction current {};
    if (g_replaced[i] && ::sigaction(GuardedSignals[i], nullptr, &current) == 0 &&
        current.sa_handler == removeGuardedAndEnd)
      (void)::sigaction(GuardedSignals[i], &g_previousActions[i], nullptr);
    g_replaced[i] = false;
  }
}

// Only signals left to their default, which ends the process, are taken over. One the
// program catches (the window's end of session, an interrupted task) ends nothing at
// once, and the save finishes or fails and removes the file itself.
void guardTemporary(const std::string& path) {
  endGuard();
  if (path.size() >= sizeof g_guardedPath) return;
  std::memcpy(g_guardedPath, path.c_str(), path.size() + 1);
  g_guarding = 1;
  for (size_t i = 0; i < std::size(GuardedSignals); ++i) {
    struct sigaction current {};
    if (::sigaction(GuardedSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = removeGuardedAndEnd;
    g_previousActions[i] = current;
    g_replaced[i] = ::sigaction(GuardedSignals[i], &action, nullptr) == 0;
  }
}

// A rename or removal of the guarded file ends its guard.
void endGuardOf(const std::string& path) {
  if (g_guarding && path == g_guardedPath) endGuard();
}

constexpr size_t MaxNameBytes = 255;
// ".", ".kelp-", up to ten digits of the process id, "-" and up to ten of the counter.
constexpr size_t TemporaryNameExtra = 1 + 6 + 10 + 1 + 10;

// The NAME of ".NAME.kelp-PID-N" for a file named `base`: the whole of it, or as much as
// fits, cut before a UTF-8 character rather than inside one. The cut depends on `base`
// alone, so that the stale files of an earlier save are found by the same prefix.
std::string temporaryStem(const std::string& base) {
  if (base.size() + TemporaryNameExtra <= MaxNameBytes) return base;
  size_t cut = MaxNameBytes - TemporaryNameExtra;
  for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80; ++back) --cut;
  return base.substr(0, cut);
}

// The process id of a "PID-N" suffix; 0 when `rest` is not one.
long temporaryOwner(std::string_view rest) {
  const size_t dash = rest.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 10 || dash + 1 == rest.size() ||
      rest.size() - dash - 1 > 10)
    return 0;
  long pid = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i == dash) continue;
    if (rest[i] < '0' || rest[i] > '9') return 0;
    if (i < dash) pid = pid * 10 + (rest[i] - '0');
  }
  return pid <= INT_MAX ? pid : 0;
}

// Removes the temporary files named `prefix`PID-N in `folder` whose process is gone. One
// still locked belongs to a save under way on another host, whose processes this one
// cannot see, and stays.
void removeStaleTemporaries(const std::string& folder, const std::string& prefix) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name = item->d_name;
    if (!name.starts_with(prefix)) continue;
    const long pid = temporaryOwner(name.substr(prefix.size()));
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const std::string path = folder + "/" + std::string(name);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      (void)::unlink(path.c_str());
    ::close(fd);
  }
  ::closedir(dir);
}

}  // namespace

void planFileFault(FileCall call, uint64_t skip, FileError error) {
  faultFor(call) = Fault{true, skip, error};
}

void clearFileFaults() {
  for (Fault& fault : g_faults) fault = Fault{};
}

// File.

File::File(File&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

File::~File() { close(); }

void File::close() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

FileError File::open(const std::string& path, FileAccess access) {
  close();
  // Anything but a plain file is refused before it is opened, since opening a device can
  // act on it, and once more after, in case the name changed meanwhile. Opening without
  // waiting keeps a pipe that has no writer from holding the open for ever.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return fromErrno(errno);
  if (!S_ISREG(info.st_mode)) return FileError::Failed;
  m_fd = ::open(path.c_str(), (access == FileAccess::Read ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (m_fd < 0) return fromErrno(errno);
  const int flags = ::fcntl(m_fd, F_GETFL);
  if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close();
    return FileError::Failed;
  }
  return FileError::None;
}

FileError File::create(const std::string& path) {
  close();
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return m_fd >= 0 ? FileError::None : fromErrno(errno);
}

FileError File::createBeside(const std::string& path, std::string& created) {
  std::string folder = folderOf(path);
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = "." + temporaryStem(base) + ".kelp-";
  removeStaleTemporaries(folder, prefix);
  static unsigned counter = 0;
  // The process id keeps two processes apart, the counter two saves of this one. Only
  // the owner may read the new contents until they take the old file's permissions.
  FileError error = FileError::Exists;
  for (int attempt = 0; attempt < 100 && error == FileError::Exists; ++attempt) {
    created = folder + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    close();
    m_fd = ::open(created.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    error = m_fd >= 0 ? FileError::None : fromErrno(errno);
  }
  if (error == FileError::None) guardTemporary(created);
  return error;
}

FileError File::lock() {
  if (FileError planned = plannedFailure(FileCall::Lock); planned != FileError::None) return planned;
  // flock locks belong to the open file, not to the process, so a second open in this
  // process is refused as well; fcntl locks would let it through.
  return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0 ? FileError::None : fromErrno(errno);
}

FileError File::write(const void* bytes, size_t count) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  Fault& fault = faultFor(FileCall::Write);
  size_t written = 0;
  while (written < count) {
    size_t ask = count - written;
    if (fault.planned) {
      if (fault.skip == 0) return fault.error;
      if (ask > fault.skip) ask = static_cast<size_t>(fault.skip);
    }
    ssize_t n = ::write(m_fd, from + written, ask);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fromErrno(errno);
    if (n == 0) return FileError::NoRoom;  // a write that makes no progress means no room
    if (fault.planned) fault.skip -= static_cast<uint64_t>(n);
    written += static_cast<size_t>(n);
  }
  return FileError::None;
}

int64_t File::read(void* bytes, size_t count) {
  auto* to = static_cast<uint8_t*>(bytes);
  size_t got = 0;
  while (got < count) {
    ssize_t n = ::read(m_fd, to + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return got ? static_cast<int64_t>(got) : -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(got);
}

bool File::seek(uint64_t offset) { return ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

int64_t File::size() const {
  struct stat info;
  return ::fstat(m_fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

FileError File::sync() {
  if (FileError planned = plannedFailure(FileCall::Sync); planned != FileError::None) return planned;
  return ::fsync(m_fd) == 0 ? FileError::None : fromErrno(errno);
}

bool File::copyPermissions(const File& model) {
  struct stat info;
  if (::fstat(model.m_fd, &info) != 0) return false;
  // The owner goes first, since a change of owner clears the set-id bits. Only root may
  // give a file away, and others may set only a group of their own; a refusal leaves
  // this process's.
  if (::fchown(m_fd, info.st_uid, info.st_gid) != 0) (void)::fchown(m_fd, static_cast<uid_t>(-1), info.st_gid);
  return ::fchmod(m_fd, info.st_mode & 07777) == 0;
}

bool File::giveNewFilePermissions() {
  // The umask is read by setting it; the program runs on one thread.
  const mode_t mask = ::umask(0);
  (void)::umask(mask);
  return ::fchmod(m_fd, 0666 & ~mask) == 0;
}

// Names and folders.

FileError renameFile(const std::string& from, const std::string& to) {
  if (FileError planned = plannedFailure(FileCall::Rename); planned != FileError::None) return planned;
  if (::rename(from.c_str(), to.c_str()) != 0) return fromErrno(errno);
  endGuardOf(from);
  return FileError::None;
}

FileError removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return fromErrno(errno);
  endGuardOf(path);
  return FileError::None;
}

FileError createFolder(const std::string& folder) {
  return ::mkdir(folder.c_str(), 0777) == 0 ? FileError::None : fromErrno(errno);
}

FileError syncFolder(const std::string& folder) {
  if (FileError planned = plannedFailure(FileCall::Sync); planned != FileError::None) return planned;
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fromErrno(errno);
  FileError error = ::fsync(fd) == 0 ? FileError::None : fromErrno(errno);
  ::close(fd);
  return error;
}

bool pathExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool modeAllowsWriting(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  uid_t user = ::geteuid();
  // As for execution, root needs one write bit, whoever it belongs to.
  if (user == 0) return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (info.st_uid == user) return (info.st_mode & S_IWUSR) != 0;
  bool inGroup = info.st_gid == ::getegid();
  if (!inGroup) {
    int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
    count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count && !inGroup; ++i) inGroup = groups[static_cast<size_t>(i)] == info.st_gid;
  }
  return (info.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

std::string followLink(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  // A dangling link: its chain is followed to the missing name, which a save creates.
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return path;
    std::string next(target, static_cast<size_t>(length));
    if (next[0] != '/') next = folderOf(current) + "/" + next;
    if (::lstat(next.c_str(), &info) != 0) return next;
    if (!S_ISLNK(info.st_mode)) return path;
    current = next;
  }
  return path;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace kelp
