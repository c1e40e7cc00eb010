// System services of the host: folders, file tests, starting programs, help, ticks and the clock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

/// $XDG_CONFIG_HOME/kelp, else ~/.config/kelp; created when missing. Empty when unknown.
std::string settingsFolder();

/// $XDG_DOCUMENTS_DIR, else ~/Documents; created when missing. Empty when it cannot be.
std::u16string documentsFolder();

/// True when `path` names an existing file that is not a folder; creates nothing.
bool fileExists(std::u16string_view path);

/// `path` made absolute against the current folder and tidied of "." and "..";
/// unchanged when the current folder is unknown. Empty stays empty.
std::u16string absolutePath(std::string_view path);

/// The folder for temporary files: $TMPDIR, else /tmp.
std::string temporaryFolder();

/// Asks the system for large pages under the C heap, for a batch process that fills
/// a large workbook once and exits; nothing happens where the system has none.
void useLargeHeapPages();

/// True when the environment variable is set and not empty.
bool environmentHas(const char* name);

/// Starts `program` (looked up on PATH) with `arguments` split at blanks, where double
/// quotes group words; true once the program is really running. The child is detached.
bool startProgram(std::u16string_view program, std::u16string_view arguments);

/// Starts `words[0]` (looked up on PATH) with the other words as its arguments, one word
/// each and with no shell between, so that no word can start a second program; true
/// once it is really running. The child is detached.
bool startProgramWords(const std::vector<std::u16string>& words);

/// Splits a command line the way startProgram does.
std::vector<std::string> splitArguments(std::string_view arguments);

/// Opens `page` (a file path or URL), at `topic` when not empty, with xdg-open;
/// false when there is no viewer.
bool openHelpPage(std::u16string_view page, std::u16string_view topic);

/// A file shipped with Kelp (its manual): beside the running program, where a build puts
/// it, else in share/kelp beside the program's bin folder, else in the folder Kelp was
/// installed to; empty when none has it.
std::string installedFile(std::string_view name);

/// Milliseconds from a monotonic clock, wrapping like the handheld's tick count.
uint32_t tickCount();

/// A date and time of day on the local clock; month and day count from 1.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};
/// The local clock, or the one installLocalClock put in its place.
LocalTime localTimeNow();
/// Puts `clock` in place of the system's local clock (null gives it back), so that what
/// reads the time can be run at chosen moments.
using LocalClockFn = LocalTime (*)();
void installLocalClock(LocalClockFn clock);

/// Has `handler` called when the process is interrupted (Ctrl+C), in place of ending it;
/// null gives the default back. The handler runs inside a signal handler, so it may
/// only set flags. False when the system refused.
bool onInterrupt(void (*handler)());

/// Has SIGTERM, SIGHUP and SIGINT, the end of the user's session, noted instead of ending
/// the process at once, so that the message loop can keep unsaved work first. The handler
/// only sets a flag, and gives the default back so that a second signal ends the process.
bool catchEndOfSession();
/// The signal that ended the session since catchEndOfSession, else 0.
int endOfSessionSignal();
/// Sleeps up to `ms` milliseconds of real time, less when the session ends meanwhile.
void sleepUnlessSessionEnds(uint32_t ms);

/// A copy of unsaved work kept when the session ended, waiting for the next start.
struct RecoveryCopy {
  std::string path;
  std::u16string name;  // the workbook's file name, empty for an untitled one
  int64_t savedAt = 0;  // seconds since 1970
};
/// $XDG_STATE_HOME/kelp/recovery, else ~/.local/state/kelp/recovery; created when
/// `create`. Empty when unknown or when it cannot be created.
std::string recoveryFolder(bool create);
/// A path for a new copy (a .kp file) in the recovery folder, unique to this process and
/// moment; empty when there is no folder.
std::string newRecoveryPath();
/// Notes beside a copy the name of the workbook it holds.
bool noteRecoveryName(const std::string& copy, std::u16string_view name);
/// The copies waiting, oldest first.
std::vector<RecoveryCopy> recoveryCopies();
/// Removes a copy and its note.
void removeRecoveryCopy(const std::string& copy);

/// Milliseconds since 1970 on the wall clock, for seeds that differ from run to run.
uint64_t wallClockMilliseconds();

}  // namespace kelp
