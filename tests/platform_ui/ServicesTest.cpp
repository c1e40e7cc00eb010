// The settings store, host folders, starting programs, ticks and the single-instance handshake.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/SingleInstance.h"

namespace kelp {
namespace {

std::string scratch(const std::string& name) {
  return testing::TempDir() + "kelp_" + std::to_string(getpid()) + "_" + name;
}

// Binary units stored as a string (the global tasks do): surrogates without partners.
const std::u16string kUnits{0xD804, u'a', 0xDC00, 0xD83D, 0xDE00, u'\\', u'u', u'1', u'2', u'3', u'4', 0xDBFF};

TEST(Registry, ValuesSurviveTheFileWithTheirTypes) {
  std::string path = scratch("registry");
  std::remove(path.c_str());
  {
    Registry reg(path);
    EXPECT_TRUE(reg.load());  // a missing file is an empty store
    EXPECT_FALSE(reg.hasKey(KelpRegistryKey));
    EXPECT_TRUE(reg.writeDword(KelpRegistryKey, u"MoveEnter", 1));
    EXPECT_TRUE(reg.writeDword(KelpRegistryKey, u"FSZoom", 0xFFFFFFFFu));
    EXPECT_TRUE(reg.writeString(KelpRegistryKey, u"CLst", u"January,February,;I,II,;"));
    EXPECT_TRUE(reg.writeString(KelpRegistryKey, u"RecFile1", u"/home/u/Doc [1]=x\\y\nz \u00e9\u4e2d"));
    EXPECT_TRUE(reg.writeString(KelpRegistryKey, u"Empty", u""));
    EXPECT_TRUE(reg.writeString(KelpRegistryKey, u"Units", kUnits));
    EXPECT_TRUE(reg.writeBinary(KelpRegistryKey, u"UsedFn", {3, 0, 0, 0, 37, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(reg.writeDword(u"Software\\Other", u"a=b", 5));
  }
  Registry reg(path);
  ASSERT_TRUE(reg.load());
  EXPECT_TRUE(reg.hasKey(u"software\\ulmero\\KELP"));  // keys and names ignore case
  uint32_t n = 0;
  EXPECT_TRUE(reg.readDword(KelpRegistryKey, u"moveenter", n));
  EXPECT_EQ(n, 1u);
  EXPECT_TRUE(reg.readDword(KelpRegistryKey, u"FSZoom", n));
  EXPECT_EQ(n, 0xFFFFFFFFu);
  std::u16string s;
  EXPECT_TRUE(reg.readString(KelpRegistryKey, u"RecFile1", s));
  EXPECT_EQ(s, u"/home/u/Doc [1]=x\\y\nz \u00e9\u4e2d");
  EXPECT_TRUE(reg.readString(KelpRegistryKey, u"Empty", s));
  EXPECT_EQ(s, u"");
  EXPECT_TRUE(reg.readString(KelpRegistryKey, u"Units", s));
  EXPECT_EQ(s, kUnits) << "lone surrogates, a pair and a typed \\u1234 come back as they were";
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(reg.readBinary(KelpRegistryKey, u"UsedFn", bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{3, 0, 0, 0, 37, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(reg.readDword(u"Software\\Other", u"a=b", n));
  EXPECT_EQ(n, 5u);
  // A value of another type, or none, leaves the caller's default alone.
  n = 77;
  EXPECT_FALSE(reg.readDword(KelpRegistryKey, u"CLst", n));
  EXPECT_FALSE(reg.readDword(KelpRegistryKey, u"AutoSave", n));
  EXPECT_EQ(n, 77u);
  EXPECT_EQ(reg.valueNames(KelpRegistryKey).size(), 7u);
  EXPECT_TRUE(reg.writeDword(KelpRegistryKey, u"MOVEENTER", 0));  // overwrites, keeps one value
  EXPECT_EQ(reg.valueNames(KelpRegistryKey).size(), 7u);
  EXPECT_TRUE(reg.deleteValue(KelpRegistryKey, u"Empty"));
  EXPECT_FALSE(reg.deleteValue(KelpRegistryKey, u"Empty"));
  EXPECT_TRUE(reg.deleteKey(u"Software\\Other"));

  Registry again(path);
  ASSERT_TRUE(again.load());
  EXPECT_TRUE(again.readDword(KelpRegistryKey, u"MoveEnter", n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(again.readString(KelpRegistryKey, u"Empty", s));
  EXPECT_FALSE(again.hasKey(u"Software\\Other"));
  std::remove(path.c_str());
}

TEST(Registry, DamagedLinesAreSkippedAndWriteFailuresReported) {
  std::string path = scratch("damaged");
  {
    std::ofstream out(path);
    out << "FmlBar=dword:1\n"  // before any key: ignored
        << "[Software\\Ulmero\\Kelp]\n"
        << "FmlBar=dword:1\n"
        << "AutoSaveMin=dword:12x\n"
        << "Big=dword:4294967296\n"
        << "Bin=binary:ABC\n"
        << "Odd=unknown:1\n"
        << "no separator here\n"
        << "DocDir=string:/tmp/docs\\\n"  // a dangling escape
        << "RecFile1=string:/a/b.kp\r\n"
        << "[Broken\n"
        << "Lost=dword:3\n";
  }
  Registry reg(path);
  ASSERT_TRUE(reg.load());
  uint32_t n = 0;
  EXPECT_TRUE(reg.readDword(KelpRegistryKey, u"FmlBar", n));
  EXPECT_EQ(n, 1u);
  std::u16string s;
  EXPECT_TRUE(reg.readString(KelpRegistryKey, u"RecFile1", s));
  EXPECT_EQ(s, u"/a/b.kp");
  EXPECT_EQ(reg.valueNames(KelpRegistryKey), (std::vector<std::u16string>{u"FmlBar", u"RecFile1"}));
  std::remove(path.c_str());

  clearError();
  Registry nowhere("/nonexistent-folder/registry");
  EXPECT_FALSE(nowhere.writeDword(KelpRegistryKey, u"FmlBar", 1));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileWrite));
  clearError();
  uint32_t kept = 0;
  EXPECT_TRUE(nowhere.readDword(KelpRegistryKey, u"FmlBar", kept));  // the change is still in memory
}

TEST(System, FoldersFilesProgramsAndTicks) {
  std::string base = scratch("home");
  std::string docs = base + "/My Docs/Kelp";
  std::string config = base + "/config";
  const char* oldDocs = std::getenv("XDG_DOCUMENTS_DIR");
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  std::string savedDocs = oldDocs ? oldDocs : "", savedConfig = oldConfig ? oldConfig : "";
  setenv("XDG_DOCUMENTS_DIR", docs.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(documentsFolder(), utf8ToUtf16(docs));
  struct stat st;
  EXPECT_EQ(stat(docs.c_str(), &st), 0);  // made when missing
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(settingsFolder(), config + "/kelp");
  setenv("XDG_DOCUMENTS_DIR", "relative/path", 1);  // not absolute: the home folder's Documents
  const char* home = std::getenv("HOME");
  if (home && *home) {
    EXPECT_EQ(documentsFolder(), utf8ToUtf16(std::string(home) + "/Documents"));
  }
  if (oldDocs) {
    setenv("XDG_DOCUMENTS_DIR", savedDocs.c_str(), 1);
  } else {
    unsetenv("XDG_DOCUMENTS_DIR");
  }
  if (oldConfig) {
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }

  std::string file = base + "/book.kp";
  EXPECT_FALSE(fileExists(utf8ToUtf16(file)));
  std::ofstream(file) << "x";
  EXPECT_TRUE(fileExists(utf8ToUtf16(file)));
  EXPECT_FALSE(fileExists(utf8ToUtf16(base)));  // a folder is not a file
  EXPECT_FALSE(fileExists(u""));

  EXPECT_EQ(splitArguments(R"(a "b c"  d"e f" "")"), (std::vector<std::string>{"a", "b c", "de f", ""}));
  std::string marker = base + "/started";
  EXPECT_TRUE(startProgram(u"sh", utf8ToUtf16("-c \"echo ok > '" + marker + "'\"")));
  for (int i = 0; i < 200 && !fileExists(utf8ToUtf16(marker)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(fileExists(utf8ToUtf16(marker)));
  EXPECT_FALSE(startProgram(u"kelp-no-such-program-anywhere", u""));
  EXPECT_FALSE(startProgram(u"", u"x"));
  EXPECT_FALSE(openHelpPage(u"", u"zoom"));

  uint32_t t0 = tickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  uint32_t elapsed = tickCount() - t0;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_EQ(std::system(("rm -rf '" + base + "'").c_str()), 0);
}

TEST(SingleInstance, ASecondProcessPassesItsMessagesToTheFirst) {
  std::string path = scratch("instance.sock");
  std::remove(path.c_str());
  Desktop desktop(50, 50);
  std::vector<Message> received;
  Window& main = desktop.create(nullptr, {0, 0, 50, 50});
  main.setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::CopyData) received.push_back(m);
    return w.defaultHandling(m);
  });
  SingleInstance first(path);
  ASSERT_TRUE(first.claim());
  ASSERT_TRUE(first.listening());
  first.attach(desktop, main.id());

  std::u16string doc = u"/home/u/Budget \u00e9.kp";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance second(path);
    if (second.claim()) _exit(2);  // it must find the first
    std::vector<uint8_t> bytes;
    for (char16_t c : doc + u'\0') {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    _exit(second.sendToFirst({{23457, {}}, {23456, bytes}}) == Delivery::Delivered ? 0 : 3);
  }
  for (int i = 0; i < 500 && received.size() < 2; ++i) {
    desktop.pumpPending();
    Message m;
    if (desktop.peekMessage(m)) desktop.dispatch(m);  // runs the idle hook that polls
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].wParam, 23457);
  EXPECT_TRUE(received[0].data.empty());
  EXPECT_EQ(received[1].wParam, 23456);
  ASSERT_EQ(received[1].data.size(), (doc.size() + 1) * 2);
  std::u16string got;
  for (size_t i = 0; i + 1 < received[1].data.size(); i += 2)
    got += static_cast<char16_t>(received[1].data[i] | received[1].data[i + 1] << 8);
  EXPECT_EQ(got, doc + u'\0');
}

TEST(SingleInstance, AStaleSocketIsReplacedAndNoFirstMeansNoDelivery) {
  std::string path = scratch("stale.sock");
  std::remove(path.c_str());
  {
    SingleInstance gone(path);
    ASSERT_TRUE(gone.claim());
  }
  EXPECT_EQ(SingleInstance(path).sendToFirst({{1, {}}}), Delivery::NoInstance);  // nobody listens

  // A socket file whose owner died without removing it.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance dying(path);
    _exit(dying.claim() ? 0 : 1);  // _exit skips the destructor: the file stays
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  SingleInstance next(path);
  EXPECT_TRUE(next.claim());
  EXPECT_TRUE(next.listening());
  SingleInstance another(path);
  EXPECT_FALSE(another.claim());  // while `next` lives, it is the first
}

TEST(SingleInstance, AFirstThatNeverPollsIsBusyNotAbsent) {
  std::string path = scratch("busy.sock");
  std::remove(path.c_str());
  SingleInstance first(path);
  ASSERT_TRUE(first.claim());
  // The system queues the connection, but nobody takes the messages within the wait.
  SingleInstance second(path, 300);
  EXPECT_FALSE(second.claim());
  uint32_t t0 = tickCount();
  EXPECT_EQ(second.sendToFirst({{23457, {}}}), Delivery::NoAnswer);
  EXPECT_GE(tickCount() - t0, 250u);
  // A sender that gave up is not served later: its user was told to try again.
  EXPECT_EQ(first.poll(), 0);
}

}  // namespace
}  // namespace kelp
