// Files, folders and locks on Linux: descriptors, flock, fsync, rename, and the fault plan.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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
  m_fd = ::open(path.c_str(), (access == FileAccess::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (m_fd < 0) return fromErrno(errno);
  // A folder opens for reading here, and only its first read would fail.
  struct stat info;
  if (::fstat(m_fd, &info) != 0 || S_ISDIR(info.st_mode)) {
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
  static unsigned counter = 0;
  // The process id keeps two processes apart, the counter two saves of this one.
  FileError error = FileError::Exists;
  for (int attempt = 0; attempt < 100 && error == FileError::Exists; ++attempt) {
    created = folder + "/." + base + ".kelp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    error = create(created);
  }
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

FileError File::sync() {
  if (FileError planned = plannedFailure(FileCall::Sync); planned != FileError::None) return planned;
  return ::fsync(m_fd) == 0 ? FileError::None : fromErrno(errno);
}

bool File::copyPermissions(const File& model) {
  struct stat info;
  return ::fstat(model.m_fd, &info) == 0 && ::fchmod(m_fd, info.st_mode & 07777) == 0;
}

// Names and folders.

FileError renameFile(const std::string& from, const std::string& to) {
  if (FileError planned = plannedFailure(FileCall::Rename); planned != FileError::None) return planned;
  return ::rename(from.c_str(), to.c_str()) == 0 ? FileError::None : fromErrno(errno);
}

FileError removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? FileError::None : fromErrno(errno);
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
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace kelp
