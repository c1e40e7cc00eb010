// The string table, built once from the two definition lists.
#include "platform/StringTable.h"

#include <algorithm>
#include <vector>

namespace kelp {

namespace {

struct Entry {
  int id;
  std::u16string_view text;
};

const std::vector<Entry>& table() {
  static const std::vector<Entry> entries = [] {
    std::vector<Entry> list = {
#define KELP_ERROR(number, name, message) {2000 + (number), message},
#include "platform/ErrorCodes.def"
#undef KELP_ERROR
#define KELP_STRING(number, text) {number, text},
#include "platform/Strings.def"
#undef KELP_STRING
    };
    std::stable_sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
    return list;
  }();
  return entries;
}

}  // namespace

std::u16string_view loadString(int id) {
  const auto& list = table();
  auto it = std::lower_bound(list.begin(), list.end(), id, [](const Entry& e, int key) { return e.id < key; });
  if (it == list.end() || it->id != id) return {};
  return it->text;
}

}  // namespace kelp
