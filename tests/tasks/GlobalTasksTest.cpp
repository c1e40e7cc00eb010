// Tests of the global tasks kept in the settings: the round trip and damaged values.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "tasks/Tasks.h"

namespace kelp {
namespace {

WorkbookTask globalTask(std::u16string name, std::u16string definition, uint32_t runOn,
                        std::optional<std::u16string> menu = std::nullopt) {
  WorkbookTask t;
  t.name = std::move(name);
  t.definition = std::move(definition);
  t.runOn = runOn;
  t.global = true;
  t.menuText = std::move(menu);
  setTaskArea(t, 1, 2, Area{3, 4, 300, 40});
  return t;
}

void expectSameTask(const WorkbookTask& a, const WorkbookTask& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.definition, b.definition);
  EXPECT_EQ(a.runOn, b.runOn);
  EXPECT_EQ(a.menuText, b.menuText);
  EXPECT_EQ(a.global, b.global);
  EXPECT_EQ(std::memcmp(a.area, b.area, sizeof a.area), 0);
}

class GlobalTasksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearError();
    book = newWorkbook(1);
    source = newWorkbook(1);
    source->tasks.push_back(globalTask(u"Sum up", u"s = Sum(A1:A9)", TaskRunsFromMenu, u"Add them"));
    WorkbookTask local = globalTask(u"local", u"l = 1", TaskRunsOnTap);
    local.global = false;
    source->tasks.push_back(local);
    source->tasks.push_back(globalTask(u"Tap", u"MsgBox(\"é\")", TaskRunsOnTap));
    source->tasks.push_back(globalTask(u"Empty menu", u"", TaskRunsFromMenu, u""));
    WorkbookTask any = globalTask(u"Any", u"x = 1", TaskRunsOnNewValue);
    setTaskArea(any, AnySheet, 0, Area{0, 0, 65535, 255});
    source->tasks.push_back(any);
  }
  void TearDown() override { clearError(); }

  // The stored units as they stand.
  std::u16string stored(const Registry& r) {
    std::u16string units;
    r.readString(KelpRegistryKey, u"TasksGlobal", units);
    return units;
  }
  void store(Registry& r, const std::u16string& units, uint32_t length) {
    r.writeString(KelpRegistryKey, u"TasksGlobal", units);
    r.writeDword(KelpRegistryKey, u"TasksLen", length);
  }

  std::unique_ptr<Workbook> book;
  std::unique_ptr<Workbook> source;
};

TEST_F(GlobalTasksTest, SavedTasksLoadBackInOrder) {
  Registry r;
  ASSERT_TRUE(saveGlobalTasks(r, *source));
  std::u16string units = stored(r);
  uint32_t length = 0;
  ASSERT_TRUE(r.readDword(KelpRegistryKey, u"TasksLen", length));
  EXPECT_EQ(length, units.size());
  ASSERT_FALSE(units.empty());
  EXPECT_EQ(units[0], 4);                            // the local task stays with its workbook
  EXPECT_EQ(units[1], 6 + 14 + 10 + 8 + 1);          // name, definition, overhead, menu text

  WorkbookTask mine = globalTask(u"mine", u"m = 1", TaskRunsOnTap);
  mine.global = false;
  book->tasks.push_back(mine);
  book->tasks.push_back(globalTask(u"stale", u"old", TaskRunsFromMenu));
  ASSERT_TRUE(loadGlobalTasks(r, *book));
  // The book's own task stays; the settings' global tasks replace the old global one.
  ASSERT_EQ(book->tasks.size(), 5u);
  EXPECT_EQ(book->tasks[0].name, u"mine");
  expectSameTask(book->tasks[1], source->tasks[0]);
  expectSameTask(book->tasks[2], source->tasks[2]);
  expectSameTask(book->tasks[3], source->tasks[3]);
  expectSameTask(book->tasks[4], source->tasks[4]);
  EXPECT_EQ(book->tasks[4].area[1], AnySheet);

  // Through the settings file as well.
  char folder[] = "/tmp/kelp-global-tasks-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/registry";
  {
    Registry file(path);
    ASSERT_TRUE(saveGlobalTasks(file, *source));
  }
  Registry reread(path);
  ASSERT_TRUE(reread.load());
  EXPECT_EQ(stored(reread), units);
  // Area units are binary: rows from 55,296 up are surrogates without partners, which
  // the settings file must carry whole.
  auto far = newWorkbook(1);
  far->tasks.push_back(globalTask(u"far", u"f = 1", TaskRunsOnTap));
  setTaskArea(far->tasks[0], 1, 1, Area{55300, 4, 56000, 40});
  {
    Registry file(path);
    ASSERT_TRUE(saveGlobalTasks(file, *far));
  }
  Registry farBack(path);
  ASSERT_TRUE(farBack.load());
  auto loaded = newWorkbook(1);
  ASSERT_TRUE(loadGlobalTasks(farBack, *loaded));
  ASSERT_EQ(loaded->tasks.size(), 1u);
  expectSameTask(loaded->tasks[0], far->tasks[0]);
  std::filesystem::remove_all(folder);

  // Nothing kept yet is no damage; an empty list loads as none.
  Registry empty;
  EXPECT_TRUE(loadGlobalTasks(empty, *book));
  ASSERT_TRUE(saveGlobalTasks(empty, *newWorkbook(1)));
  EXPECT_EQ(stored(empty), std::u16string(1, u'\0'));
  EXPECT_TRUE(loadGlobalTasks(empty, *book));
  EXPECT_EQ(book->tasks.size(), 1u);
}

TEST_F(GlobalTasksTest, DamagedValuesDropEveryGlobalTaskAndNothingElse) {
  Registry good;
  ASSERT_TRUE(saveGlobalTasks(good, *source));
  const std::u16string units = stored(good);
  const size_t second = 1 + units[1];  // where the second record starts

  auto damaged = [&](const std::u16string& value, uint32_t length) {
    Registry r;
    r.writeString(KelpRegistryKey, u"Other", u"kept");
    store(r, value, length);
    auto target = newWorkbook(1);
    WorkbookTask mine = globalTask(u"mine", u"m = 1", TaskRunsOnTap);
    target->tasks.push_back(mine);
    bool loaded = loadGlobalTasks(r, *target);
    std::u16string other;
    EXPECT_TRUE(r.readString(KelpRegistryKey, u"Other", other));
    EXPECT_EQ(other, u"kept");
    EXPECT_EQ(target->tasks.size(), 1u);  // the workbook's list as it was
    return !loaded;
  };
  const uint32_t size = static_cast<uint32_t>(units.size());
  EXPECT_TRUE(damaged(units, size + 1));                        // the length disagrees
  EXPECT_TRUE(damaged(units.substr(0, units.size() - 1), size - 1));  // cut short
  EXPECT_TRUE(damaged(units + u'x', size + 1));                 // more than the count says
  EXPECT_TRUE(damaged(u"", 0));
  std::u16string v = units;
  v[0] = 5;  // one task more than there are
  EXPECT_TRUE(damaged(v, size));
  v = units;
  v[second] = 9;  // shorter than a record can be
  EXPECT_TRUE(damaged(v, size));
  v = units;
  v[1] = static_cast<char16_t>(units[1] - 10);  // too short for its two texts
  EXPECT_TRUE(damaged(v, size));
  v = units;
  v[1] = static_cast<char16_t>(units[1] + 1);  // past its menu text's end
  EXPECT_TRUE(damaged(v, size));
  v = units;
  v[1] = 0xFFFF;  // past the end of the value
  EXPECT_TRUE(damaged(v, size));
  v = units;
  v[second + 8 + 3] = u'x';  // a name's NUL lost: the texts run past their record
  EXPECT_TRUE(damaged(v, size));
  {
    Registry r;
    r.writeString(KelpRegistryKey, u"TasksGlobal", units);  // no length beside it
    auto target = newWorkbook(1);
    EXPECT_FALSE(loadGlobalTasks(r, *target));
  }

  // A record exactly as long as its two texts has no menu text.
  std::u16string noMenu = units.substr(0, 1) + units.substr(1, 6 + 14 + 10) + units.substr(second);
  noMenu[1] = static_cast<char16_t>(6 + 14 + 10);
  Registry r;
  store(r, noMenu, static_cast<uint32_t>(noMenu.size()));
  auto target = newWorkbook(1);
  ASSERT_TRUE(loadGlobalTasks(r, *target));
  ASSERT_EQ(target->tasks.size(), 4u);
  EXPECT_FALSE(target->tasks[0].menuText.has_value());
  EXPECT_EQ(target->tasks[0].definition, u"s = Sum(A1:A9)");
  EXPECT_EQ(target->tasks[1].name, u"Tap");
}

TEST_F(GlobalTasksTest, ATaskTooLongForItsRecordIsNotWritten) {
  Registry r;
  ASSERT_TRUE(saveGlobalTasks(r, *source));
  const std::u16string before = stored(r);
  source->tasks.push_back(globalTask(u"huge", std::u16string(70000, u'x'), TaskRunsFromMenu));
  EXPECT_FALSE(saveGlobalTasks(r, *source));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::TaskTooLong));
  EXPECT_EQ(stored(r), before);
}

}  // namespace
}  // namespace kelp
