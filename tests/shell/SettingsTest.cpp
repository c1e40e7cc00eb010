// Settings: defaults, limits, the registry round trip, custom lists, recent files and the command line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "ShellTestSupport.h"
#include "platform/StringTable.h"
#include "platform/System.h"
#include "shell/Settings.h"

namespace kelp::test {
namespace {

TEST(Settings, DefaultsOfAFirstStart) {
  Settings s = defaultSettings(u"");
  EXPECT_FALSE(s.formulaBar);
  EXPECT_FALSE(s.autoSave);
  EXPECT_EQ(s.autoSaveMinutes, 10u);
  EXPECT_EQ(s.documentsFolder, u"/");
  EXPECT_EQ(defaultSettings(u"/home/me/Documents").documentsFolder, u"/home/me/Documents");
  for (const auto& file : s.recentFiles) EXPECT_TRUE(file.empty());
  EXPECT_EQ(s.functionMru.at(0), 3);
  EXPECT_EQ(s.functionMru.at(1), 37);
  EXPECT_EQ(s.functionMru.at(2), 5);
  EXPECT_EQ(s.functionMru.at(3), -1);
  // The lists are the string table's, whatever it holds.
  EXPECT_EQ(customListsText(s.customLists), loadString(2500));

  // An empty store changes nothing.
  Registry empty;
  Settings read = defaultSettings(u"");
  readSettings(empty, read);
  EXPECT_EQ(read.customLists, s.customLists);
  EXPECT_EQ(read.fullScreenZoom, 75u);
}

TEST(Settings, RoundTripThroughTheSettingsFileAndLimits) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1), 0);
  const std::string file = settingsFolder() + "/registry";
  EXPECT_EQ(file, folder.path + "/kelp/registry");

  Settings s = defaultSettings(u"/docs");
  s.formulaBar = true;
  s.moveEnter = 1;
  s.useFullScreenZoom = false;
  s.fullScreenZoom = 150;
  s.autoSave = true;
  s.autoSaveMinutes = 45;
  s.recentFiles[0] = u"/a/one.kp";
  s.recentFiles[1] = u"/b/two.xls";
  s.customLists = {u"red,green,blue,", u"x,y,"};
  s.functionMru.use(12);
  {
    Registry registry(file);
    ASSERT_TRUE(writeSettings(registry, s));
  }
  Registry reloaded(file);
  ASSERT_TRUE(reloaded.load());
  std::u16string docDir;
  EXPECT_TRUE(reloaded.readString(KelpRegistryKey, u"DocDir", docDir));
  EXPECT_EQ(docDir, u"/docs");
  Settings back = defaultSettings(u"/elsewhere");
  readSettings(reloaded, back);
  EXPECT_TRUE(back.formulaBar);
  EXPECT_EQ(back.moveEnter, 1u);
  EXPECT_FALSE(back.useFullScreenZoom);
  EXPECT_EQ(back.fullScreenZoom, 150u);
  EXPECT_TRUE(back.autoSave);
  EXPECT_EQ(back.autoSaveMinutes, 45u);
  EXPECT_EQ(back.recentFiles, s.recentFiles);
  EXPECT_EQ(back.customLists, s.customLists);
  EXPECT_EQ(back.functionMru.at(0), 12);
  EXPECT_EQ(back.functionMru.at(1), 3);
  EXPECT_EQ(back.documentsFolder, u"/docs") << "the file dialogs open where they were left";

  // Values out of their range are brought into it.
  Registry wild;
  wild.writeDword(KelpRegistryKey, u"FSZoom", 900);
  wild.writeDword(KelpRegistryKey, u"AutoSaveMin", 0);
  wild.writeDword(KelpRegistryKey, u"MoveEnter", 7);
  wild.writeBinary(KelpRegistryKey, u"UsedFn", {1, 2, 3});
  Settings limited = defaultSettings(u"");
  readSettings(wild, limited);
  EXPECT_EQ(limited.fullScreenZoom, 200u);
  EXPECT_EQ(limited.autoSaveMinutes, 1u);
  EXPECT_EQ(limited.moveEnter, 2u);
  EXPECT_EQ(limited.functionMru.at(0), 3) << "a blob of the wrong size is ignored";
  wild.writeDword(KelpRegistryKey, u"FSZoom", 3);
  wild.writeDword(KelpRegistryKey, u"AutoSaveMin", 301);
  readSettings(wild, limited);
  EXPECT_EQ(limited.fullScreenZoom, 25u);
  EXPECT_EQ(limited.autoSaveMinutes, 300u);
}

TEST(Settings, CustomListTextForm) {
  // A text without a final semicolon loses its last list.
  EXPECT_EQ(parseCustomLists(u"a,b,;c,d,"), (std::vector<std::u16string>{u"a,b,"}));
  EXPECT_EQ(parseCustomLists(u"a,b,;c,d,;"), (std::vector<std::u16string>{u"a,b,", u"c,d,"}));
  EXPECT_TRUE(parseCustomLists(u"no lists").empty());
  // Writing stops before the list that would bring the text to 3000 characters.
  std::vector<std::u16string> lists(3, std::u16string(999, u'x'));
  EXPECT_EQ(customListsText(lists).size(), 2000u);
  lists[2].resize(998);
  EXPECT_EQ(customListsText(lists).size(), 2999u);
  // A stored list longer than the 6000-byte read is cut there.
  Registry registry;
  registry.writeString(KelpRegistryKey, u"CLst", std::u16string(2990, u'y') + u";" + std::u16string(100, u'z') + u";");
  Settings s = defaultSettings(u"");
  readSettings(registry, s);
  ASSERT_EQ(s.customLists.size(), 1u);
  EXPECT_EQ(s.customLists[0].size(), 2990u);
}

TEST(Settings, RecentFilesMoveUpAndDropTheOldest) {
  std::array<std::u16string, RecentFileCount> files;
  addRecentFile(files, u"/d/one.kp");
  addRecentFile(files, u"/d/two.kp");
  addRecentFile(files, u"/d/three.kp");
  addRecentFile(files, u"/D/ONE.kp");  // the same file in other case moves up
  EXPECT_EQ(files, (std::array<std::u16string, 4>{u"/D/ONE.kp", u"/d/three.kp", u"/d/two.kp", u""}));
  addRecentFile(files, u"/d/four.kp");
  addRecentFile(files, u"/d/five.kp");
  EXPECT_EQ(files, (std::array<std::u16string, 4>{u"/d/five.kp", u"/d/four.kp", u"/D/ONE.kp", u"/d/three.kp"}));
  addRecentFile(files, u"/d/three.kp");
  EXPECT_EQ(files, (std::array<std::u16string, 4>{u"/d/three.kp", u"/d/five.kp", u"/d/four.kp", u"/D/ONE.kp"}));

  EXPECT_EQ(recentFileLabel(u"/home/me/abcdefghijklmnopqrstuvwxyz.kp"), u"abcdefghijklmnopqrst...");
  EXPECT_EQ(recentFileLabel(u"/home/me/short.kp"), u"short.kp");
  EXPECT_EQ(recentFileLabel(u"twentycharacters.kp"), u"twentycharacters.kp");
  EXPECT_EQ(recentFileLabel(u"/dir/"), u"");
}

TEST(Settings, CommandLineQuotes) {
  EXPECT_EQ(commandLinePath(u"\"/my docs/budget.kp\""), u"/my docs/budget.kp");
  EXPECT_EQ(commandLinePath(u"\"/open/ended.kp"), u"/open/ended.kp");
  EXPECT_EQ(commandLinePath(u"/plain.kp"), u"/plain.kp");
  EXPECT_EQ(commandLinePath(u""), u"");
  std::u16string longLine = u"\"" + std::u16string(298, u'a') + u"\"";
  EXPECT_EQ(commandLinePath(longLine), longLine) << "300 characters or more stay as they are";
  longLine.erase(1, 1);
  EXPECT_EQ(commandLinePath(longLine), std::u16string(297, u'a'));
}

}  // namespace
}  // namespace kelp::test
