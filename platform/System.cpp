// Host services on Linux: XDG folders, file tests, detached child processes, ticks, the clock,
// the interrupt handler.
#include "platform/System.h"

#include <fcntl.h>
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <malloc.h>
#include <sys/mman.h>
#endif
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace kelp {

namespace {

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "";
}

// Creates `path` and its missing parents; true when it exists as a folder afterwards.
bool makeFolders(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash))) return false;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// An XDG base folder: the variable when it holds an absolute path, else HOME/fallback;
// empty without either.
std::string xdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return value;
  std::string home = homeFolder();
  return home.empty() ? "" : home + fallback;
}

}  // namespace

std::string settingsFolder() {
  std::string base = xdgFolder("XDG_CONFIG_HOME", "/.config");
  if (base.empty()) return "";
  std::string folder = base + "/kelp";
  return makeFolders(folder) ? folder : "";
}

std::u16string documentsFolder() {
  const char* docs = std::getenv("XDG_DOCUMENTS_DIR");
  std::string folder = docs && *docs == '/' ? docs : "";
  if (folder.empty()) {
    std::string home = homeFolder();
    if (home.empty()) return u"";
    folder = home + "/Documents";
  }
  return makeFolders(folder) ? utf8ToUtf16(folder) : u"";
}

bool fileExists(std::u16string_view path) {
  if (path.empty()) return false;
  struct stat st;
  return stat(utf16ToUtf8(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::u16string absolutePath(std::string_view path) {
  if (path.empty()) return {};
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), ec);
  return utf8ToUtf16(ec ? std::string(path) : absolute.lexically_normal().string());
}

std::string temporaryFolder() {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  return ec ? "/tmp" : folder.string();
}

void useLargeHeapPages() {
#if defined(__linux__) && !defined(__EMSCRIPTEN__) && !defined(__SANITIZE_ADDRESS__)
  // A conversion touches thousands of fresh 4 KiB pages, and in a virtual machine each
  // first touch is a costly fault; 2 MiB pages take a five-hundredth of the faults. The
  // heap is grown once by a large reach and advised as a whole; large blocks come from
  // it too up to 4 MiB, and it is never trimmed, so that later growth stays inside the advised part.
  constexpr size_t Large = size_t{2} << 20;
  constexpr size_t Reach = size_t{512} << 20;
  if (!mallopt(M_MMAP_THRESHOLD, 4 << 20) || !mallopt(M_TRIM_THRESHOLD, INT32_MAX) || !mallopt(M_TOP_PAD, Reach))
    return;
  // Bigger than what is left at the heap's top, so the heap grows by the reach now.
  void* volatile grown = std::malloc(Large);  // volatile: the pair must not be left out
  const auto at = reinterpret_cast<uintptr_t>(grown);
  std::free(grown);
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t first = (at + Large - 1) & ~(Large - 1), last = end & ~(Large - 1);
  if (!grown || last <= first) return;
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  // Growing wrote the header of the space beyond the probe into the first large page
  // before the advice, as a small page that would keep the whole stretch small; the
  // space is free, so the page can go.
  if (first + Large <= last) madvise(reinterpret_cast<void*>(first), Large, MADV_DONTNEED);
  // The heap's top starts where the probe was, below the first whole large page: the
  // stretch up to it could only hold small pages, so one block that is never touched
  // (nor freed) takes it, and the blocks that follow start on large pages.
  constexpr uintptr_t Header = 32;
  if (first - at > 16 * Header) {
    static void* volatile skipped = nullptr;
    skipped = std::malloc(first - at - Header);
  }
#endif
}

bool environmentHas(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

std::vector<std::string> splitArguments(std::string_view arguments) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : arguments) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

namespace {

bool spawnDetached(std::vector<std::string> words) {
  if (words.empty() || words[0].empty()) return false;
#ifdef __EMSCRIPTEN__
  // A page cannot start programs.
  return false;
#endif
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through a close-on-exec pipe: an empty read
  // means the program is running. The middle child exits at once so nothing is left
  // for us to reap later.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      execvp(argv[0], argv.data());
      int err = errno;
      if (write(report[1], &err, sizeof err) < 0) {}
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t got;
  do {
    got = read(report[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

}  // namespace

bool startProgram(std::u16string_view program, std::u16string_view arguments) {
  std::vector<std::string> words = splitArguments(utf16ToUtf8(arguments));
  words.insert(words.begin(), utf16ToUtf8(program));
  return spawnDetached(std::move(words));
}

bool startProgramWords(const std::vector<std::u16string>& words) {
  std::vector<std::string> converted;
  for (const std::u16string& word : words) converted.push_back(utf16ToUtf8(word));
  return spawnDetached(std::move(converted));
}

bool openHelpPage(std::u16string_view page, std::u16string_view topic) {
  if (page.empty()) return false;
  std::u16string target(page);
  if (target.find(u"://") == std::u16string::npos) {
    if (target[0] != u'/') {
      char cwd[4096];
      if (!getcwd(cwd, sizeof cwd)) return false;
      target = utf8ToUtf16(cwd) + u"/" + target;
    }
    target = u"file://" + target;
  }
  if (!topic.empty()) target += u"#" + std::u16string(topic);
  return spawnDetached({"xdg-open", utf16ToUtf8(target)});
}

std::string installedFile(std::string_view name) {
  std::vector<std::string> folders;
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    folders.push_back(program.parent_path().string());
    // An installation moved as a whole keeps bin/ and share/kelp/ side by side.
    folders.push_back((program.parent_path().parent_path() / "share" / "kelp").string());
  }
#ifdef KELP_DATA_DIR
  folders.push_back(KELP_DATA_DIR);
#endif
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + std::string(name);
    if (fileExists(utf8ToUtf16(path))) return path;
  }
  return {};
}

uint32_t tickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

namespace {
LocalClockFn g_localClock = nullptr;
}  // namespace

LocalTime localTimeNow() {
  if (g_localClock) return g_localClock();
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  std::time_t now = ts.tv_sec;
  std::tm local{};
  localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min,         local.tm_sec,       static_cast<int>(ts.tv_nsec / 1000000)};
}

void installLocalClock(LocalClockFn clock) { g_localClock = clock; }

uint64_t wallClockMilliseconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

namespace {
void (*volatile g_interruptHandler)() = nullptr;
void onSigint(int) {
  if (void (*handler)() = g_interruptHandler) handler();
}
}  // namespace

bool onInterrupt(void (*handler)()) {
  g_interruptHandler = handler;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = handler ? onSigint : SIG_DFL;
  return sigaction(SIGINT, &action, nullptr) == 0;
}

namespace {
volatile sig_atomic_t g_endSignal = 0;
void onEndOfSession(int signal) { g_endSignal = signal; }
}  // namespace

bool catchEndOfSession() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = onEndOfSession;
  action.sa_flags = SA_RESETHAND;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGHUP, &action, nullptr) == 0 &&
         sigaction(SIGINT, &action, nullptr) == 0;
}

int endOfSessionSignal() { return static_cast<int>(g_endSignal); }

void sleepUnlessSessionEnds(uint32_t ms) {
  // Short naps, so that a signal arriving between the flag test and the nap costs little.
  constexpr uint32_t Nap = 10;
  for (uint32_t slept = 0; slept < ms && g_endSignal == 0; slept += Nap) {
    timespec pause{0, static_cast<long>(std::min(Nap, ms - slept)) * 1000000L};
    (void)nanosleep(&pause, nullptr);
  }
}

// Recovery copies: NAME.kp holds the workbook, NAME.kp.name the name it had.

std::string recoveryFolder(bool create) {
  std::string base = xdgFolder("XDG_STATE_HOME", "/.local/state");
  if (base.empty()) return "";
  std::string folder = base + "/kelp/recovery";
  if (!create) return folder;
  return makeFolders(folder) ? folder : "";
}

std::string newRecoveryPath() {
  const std::string folder = recoveryFolder(true);
  if (folder.empty()) return "";
  return folder + "/" + std::to_string(wallClockMilliseconds()) + "-" + std::to_string(::getpid()) + ".kp";
}

bool noteRecoveryName(const std::string& copy, std::u16string_view name) {
  std::ofstream note(copy + ".name", std::ios::binary | std::ios::trunc);
  note << utf16ToUtf8(name);
  return static_cast<bool>(note.flush());
}

std::vector<RecoveryCopy> recoveryCopies() {
  std::vector<RecoveryCopy> copies;
  const std::string folder = recoveryFolder(false);
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return copies;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec) || entry.path().extension() != ".kp") continue;
    RecoveryCopy copy;
    copy.path = entry.path().string();
    struct stat st;
    if (::stat(copy.path.c_str(), &st) == 0) copy.savedAt = static_cast<int64_t>(st.st_mtime);
    std::ifstream note(copy.path + ".name", std::ios::binary);
    std::string name((std::istreambuf_iterator<char>(note)), std::istreambuf_iterator<char>());
    copy.name = utf8ToUtf16(name);
    copies.push_back(std::move(copy));
  }
  std::sort(copies.begin(), copies.end(), [](const RecoveryCopy& a, const RecoveryCopy& b) {
    return a.savedAt != b.savedAt ? a.savedAt < b.savedAt : a.path < b.path;
  });
  return copies;
}

void removeRecoveryCopy(const std::string& copy) {
  (void)::unlink(copy.c_str());
  (void)::unlink((copy + ".name").c_str());
}

}  // namespace kelp
