// Files, folders and advisory locks of the host, and the test hook that makes chosen calls fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelp {

/// Why a file call failed, as far as any caller acts on it; every call that returns
/// one must be looked at. Paths are UTF-8.
enum class [[nodiscard]] FileError : uint8_t {
  None = 0,
  NotFound,  // the name, or a folder on its way, does not exist
  Exists,    // exclusive creation met a name already taken
  Locked,    // another open file holds the lock
  NoRoom,    // the disk or the quota is full
  Failed,    // anything else
};

enum class FileAccess : uint8_t { Read, ReadWrite };

/// An open file; closing it, or destroying it, drops its lock.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  /// Opens an existing plain file (or a link to one), closing whatever this one held
  /// before. A folder, pipe, device or socket fails at once, never waiting for a writer.
  FileError open(const std::string& path, FileAccess access);
  /// Creates a new file for reading and writing; Exists when the name is taken.
  FileError create(const std::string& path);
  /// Creates a new hidden file beside `path`, readable by its owner only, named after it
  /// (".NAME.kelp-PID-N", NAME cut short when the whole would be too long) and unique
  /// among processes; `created` receives its name. The files of this naming that
  /// processes now gone left beside `path` are removed first. Until the new file is
  /// renamed or removed, a signal that would end the process removes it before.
  FileError createBeside(const std::string& path, std::string& created);
  bool isOpen() const { return m_fd >= 0; }
  void close();

  /// Takes the whole-file lock without waiting. Until this file is closed no other open
  /// file can take it, in this process or another; Locked when another one has it.
  FileError lock();
  /// Writes all `count` bytes at the current position.
  FileError write(const void* bytes, size_t count);
  /// Up to `count` bytes, fewer only at the end of the file; -1 on failure.
  int64_t read(void* bytes, size_t count);
  bool seek(uint64_t offset);
  /// The file's length in bytes now; -1 when it cannot be told.
  int64_t size() const;
  /// Brings the contents written so far onto the disk.
  FileError sync();
  /// Gives this file the access permissions of `model` and, where the process may, its
  /// owner and group.
  bool copyPermissions(const File& model);
  /// Gives this file the permissions a newly created file gets (0666 less the umask).
  bool giveNewFilePermissions();

 private:
  int m_fd = -1;
};

/// Replaces `to` by `from` in one step: `to` names the old file or the new, never neither.
FileError renameFile(const std::string& from, const std::string& to);
FileError removeFile(const std::string& path);
/// Creates one folder level.
FileError createFolder(const std::string& folder);
/// Brings the folder's entries (a rename into it) onto the disk.
FileError syncFolder(const std::string& folder);
/// True when anything, a file or a folder, goes by the name.
bool pathExists(const std::string& path);
bool isFolder(const std::string& path);
/// True for a plain file (a link to one included): no folder, device, pipe or socket.
bool isRegularFile(const std::string& path);
/// Whether the file's mode bits let this process write it: the owner's, the group's or
/// the others' bits, whichever class the process is in. Root, whom the system lets
/// write anything, is held to the bits too: a file nobody may write stays unwritten.
bool modeAllowsWriting(const std::string& path);
/// The file a symbolic link leads to, also when that file does not exist yet; any other
/// path, and a loop of links, comes back as it is.
std::string followLink(const std::string& path);
/// The folder part of `path`: "." when it has none, "/" at the root.
std::string folderOf(const std::string& path);

/// Test hook: the calls a planned fault can hit. Sync covers files and folders.
enum class FileCall : uint8_t { Write, Sync, Rename, Lock };
/// Test hook: once `skip` calls of the kind have succeeded, every further one fails
/// with `error` until the faults are cleared. For Write, `skip` counts bytes, and the
/// write that reaches it is cut short there.
void planFileFault(FileCall call, uint64_t skip, FileError error);
void clearFileFaults();

}  // namespace kelp
