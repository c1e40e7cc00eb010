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

/// True when the environment variable is set and not empty.
bool environmentHas(const char* name);

/// Starts `program` (looked up on PATH) with `arguments` split at blanks, where double
/// quotes group words; true once the program is really running. The child is detached.
bool startProgram(std::u16string_view program, std::u16string_view arguments);

/// Splits a command line the way startProgram does.
std::vector<std::string> splitArguments(std::string_view arguments);

/// Opens `page` (a file path or URL), at `topic` when not empty, with xdg-open;
/// false when there is no viewer.
bool openHelpPage(std::u16string_view page, std::u16string_view topic);

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

/// Milliseconds since 1970 on the wall clock, for seeds that differ from run to run.
uint64_t wallClockMilliseconds();

}  // namespace kelp
