// The function catalogue table and the name lookup the compiler uses.
#include "functions/Catalogue.h"

#include <cassert>

#include "functions/FunctionFamilies.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr FunctionRow kData[] = {
#define KELP_FUNCTION(index, minArgs, maxArgs, name, hint, description, category) \
  {nullptr, minArgs, maxArgs, name, hint, description, category},
#include "functions/CatalogueData.inc"
#undef KELP_FUNCTION
};
static_assert(sizeof kData / sizeof kData[0] == FunctionIndex::Count, "the catalogue has 302 rows");

struct Rows {
  FunctionRow row[FunctionIndex::Count];
};

// The data with every family's implementations filled in, made once.
const Rows& rows() {
  static const Rows table = [] {
    Rows made{};
    for (int32_t i = 0; i < FunctionIndex::Count; ++i) made.row[i] = kData[i];
    const std::span<const FunctionBinding> families[] = {
        mathBindings(), listBindings(),  distributionBindings(), logicalBindings(),
        infoBindings(), textBindings(), commandBindings(),
        statisticsBindings(),
    };
    for (const auto& family : families)
      for (const FunctionBinding& binding : family) {
        assert(binding.index >= 0 && binding.index < FunctionIndex::Count && "binding beyond the catalogue");
        assert(!made.row[binding.index].implementation && "a catalogue row bound twice");
        made.row[binding.index].implementation = binding.implementation;
      }
    return made;
  }();
  return table;
}

// Generated rows carry their index; check at compile time that none was skipped.
constexpr bool indexesInOrder() {
  int32_t expected = 0;
#define KELP_FUNCTION(index, minArgs, maxArgs, name, hint, description, category) \
  if ((index) != expected++) return false;
#include "functions/CatalogueData.inc"
#undef KELP_FUNCTION
  return true;
}
static_assert(indexesInOrder(), "catalogue rows must be listed in index order");

}  // namespace

const FunctionRow& functionRow(int32_t index) {
  assert(index >= 0 && index < FunctionIndex::Count && "function index beyond the catalogue");
  return rows().row[index];
}

int32_t findFunction(std::u16string_view name) {
  if (name.empty()) return -1;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    // Internal command rows are called by command programs only, never by name.
    if (i >= FunctionIndex::FirstInternal && i < FunctionIndex::FirstTaskOnly) continue;
    if (kData[i].name && equalsIgnoreCase(kData[i].name, name)) return i;
  }
  return -1;
}

}  // namespace kelp
