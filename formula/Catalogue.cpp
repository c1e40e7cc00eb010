// The function catalogue table and the name lookup the compiler uses.
#include "formula/Catalogue.h"

#include <cassert>

#include "platform/Text.h"

namespace kelp {

namespace {

// The rows with the implementations bound so far; the data never changes after start-up.
FunctionRow g_rows[] = {
#define KELP_FUNCTION(index, minArgs, maxArgs, name, hint, description, category) \
  {nullptr, minArgs, maxArgs, name, hint, description, category},
#include "formula/CatalogueData.inc"
#undef KELP_FUNCTION
};
static_assert(sizeof g_rows / sizeof g_rows[0] == FunctionIndex::Count, "the catalogue has 302 rows");

// Generated rows carry their index; check at compile time that none was skipped.
constexpr bool indexesInOrder() {
  int32_t expected = 0;
#define KELP_FUNCTION(index, minArgs, maxArgs, name, hint, description, category) \
  if ((index) != expected++) return false;
#include "formula/CatalogueData.inc"
#undef KELP_FUNCTION
  return true;
}
static_assert(indexesInOrder(), "catalogue rows must be listed in index order");

}  // namespace

const FunctionRow& functionRow(int32_t index) {
  assert(index >= 0 && index < FunctionIndex::Count && "function index beyond the catalogue");
  return g_rows[index];
}

void bindFunctions(std::span<const FunctionBinding> bindings) {
  for (const FunctionBinding& binding : bindings) {
    assert(binding.index >= 0 && binding.index < FunctionIndex::Count && "binding beyond the catalogue");
    FunctionImpl& slot = g_rows[binding.index].implementation;
    assert((!slot || slot == binding.implementation) && "a catalogue row bound to two implementations");
    slot = binding.implementation;
  }
}

int32_t findFunction(std::u16string_view name) {
  if (name.empty()) return -1;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    // Internal command rows are called by command programs only, never by name.
    if (i >= FunctionIndex::FirstInternal && i < FunctionIndex::FirstTaskOnly) continue;
    if (g_rows[i].name && equalsIgnoreCase(g_rows[i].name, name)) return i;
  }
  return -1;
}

}  // namespace kelp
