// The global tasks in the settings: "TasksGlobal" packs every task into UTF-16 units
// and "TasksLen" gives how many units it holds.
#include <algorithm>
#include <vector>

#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {

constexpr std::u16string_view LengthValue = u"TasksLen";
constexpr std::u16string_view TasksValue = u"TasksGlobal";
// The length unit, the run-on unit, six units of area and the names' two NULs.
constexpr size_t RecordOverhead = 10;
constexpr size_t AreaUnits = 6;

// The text from `at` to its NUL, which must lie before `end`; false when there is none.
bool readText(std::u16string_view units, size_t& at, size_t end, std::u16string& out) {
  size_t nul = units.find(u'\0', at);
  if (nul == std::u16string_view::npos || nul >= end) return false;
  out.assign(units.substr(at, nul - at));
  at = nul + 1;
  return true;
}

// Every length is checked against what was read; false on the first that does not fit.
bool parseTasks(std::u16string_view units, std::vector<WorkbookTask>& out) {
  if (units.empty()) return false;
  const size_t count = units[0];
  size_t at = 1;
  for (size_t n = 0; n < count; ++n) {
    if (at >= units.size()) return false;
    const size_t length = units[at];
    const size_t end = at + length;
    if (length < RecordOverhead || end > units.size()) return false;
    WorkbookTask task;
    task.global = true;
    task.runOn = units[at + 1];
    for (size_t i = 0; i < AreaUnits; ++i) {
      char16_t unit = units[at + 2 + i];
      task.area[2 * i] = static_cast<uint8_t>(unit);
      task.area[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
    }
    size_t text = at + 2 + AreaUnits;
    if (!readText(units, text, end, task.name) || !readText(units, text, end, task.definition)) return false;
    if (text < end) {
      std::u16string menu;
      if (!readText(units, text, end, menu) || text != end) return false;
      task.menuText = std::move(menu);
    }
    out.push_back(std::move(task));
    at = end;
  }
  return at == units.size();
}

}  // namespace

bool loadGlobalTasks(const Registry& registry, Workbook& book) {
  uint32_t length = 0;
  std::u16string units;
  const bool hasLength = registry.readDword(KelpRegistryKey, LengthValue, length);
  const bool hasTasks = registry.readString(KelpRegistryKey, TasksValue, units);
  if (!hasLength && !hasTasks) return true;  // none kept yet
  std::vector<WorkbookTask> loaded;
  if (!hasLength || !hasTasks || length != units.size() || !parseTasks(units, loaded)) return false;
  std::erase_if(book.tasks, [](const WorkbookTask& task) { return task.global; });
  for (WorkbookTask& task : loaded) book.tasks.push_back(std::move(task));
  return true;
}

bool saveGlobalTasks(Registry& registry, const Workbook& book) {
  std::u16string units(1, u'\0');
  size_t count = 0;
  for (const WorkbookTask& task : book.tasks) {
    if (!task.global) continue;
    size_t length = task.name.size() + task.definition.size() + RecordOverhead;
    if (task.menuText) length += task.menuText->size() + 1;
    if (length > 0xFFFF || ++count > 0xFFFF) {
      setError(Err::TaskTooLong);
      return false;
    }
    units += static_cast<char16_t>(length);
    units += static_cast<char16_t>(task.runOn);
    for (size_t i = 0; i < AreaUnits; ++i)
      units += static_cast<char16_t>(task.area[2 * i] | task.area[2 * i + 1] << 8);
    units += task.name;
    units += u'\0';
    units += task.definition;
    units += u'\0';
    if (task.menuText) {
      units += *task.menuText;
      units += u'\0';
    }
  }
  units[0] = static_cast<char16_t>(count);
  return registry.writeString(KelpRegistryKey, TasksValue, units) &&
         registry.writeDword(KelpRegistryKey, LengthValue, static_cast<uint32_t>(units.size()));
}

}  // namespace kelp
