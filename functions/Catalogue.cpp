// The function catalogue table and the name lookup the compiler uses.
#include "functions/Catalogue.h"

#include <cassert>

#include "functions/FunctionFamilies.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr FunctionRow kRows[] = {
#define KELP_FUNCTION(index, impl, minArgs, maxArgs, name, hint, description, category) \
  {impl, minArgs, maxArgs, name, hint, description, category},
#include "functions/CatalogueData.inc"
#undef KELP_FUNCTION
};
static_assert(sizeof kRows / sizeof kRows[0] == FunctionIndex::Count, "the catalogue has 302 rows");

// Generated rows carry their index; check at compile time that none was skipped.
constexpr bool indexesInOrder() {
  int32_t expected = 0;
#define KELP_FUNCTION(index, impl, minArgs, maxArgs, name, hint, description, category) \
  if ((index) != expected++) return false;
#include "functions/CatalogueData.inc"
#undef KELP_FUNCTION
  return true;
}
static_assert(indexesInOrder(), "catalogue rows must be listed in index order");

}  // namespace

const FunctionRow& functionRow(int32_t index) {
  assert(index >= 0 && index < FunctionIndex::Count && "function index beyond the catalogue");
  return kRows[index];
}

int32_t findFunction(std::u16string_view name) {
  if (name.empty()) return -1;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    // Internal command rows are called by command programs only, never by name.
    if (i >= FunctionIndex::FirstInternal && i < FunctionIndex::FirstTaskOnly) continue;
    if (kRows[i].name && equalsIgnoreCase(kRows[i].name, name)) return i;
  }
  return -1;
}

}  // namespace kelp
