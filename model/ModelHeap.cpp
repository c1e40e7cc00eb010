// The model heap over the C allocator, with accounting and a failure hook for tests.
#include "model/ModelHeap.h"

#include <malloc.h>

#include <cstdlib>

namespace kelp {

namespace {
size_t g_bytesInUse = 0;
int64_t g_allocationsLeft = -1;  // negative: never fail

bool mayAllocate() {
  if (g_allocationsLeft < 0) return true;
  if (g_allocationsLeft == 0) return false;
  --g_allocationsLeft;
  return true;
}
}  // namespace

// The C allocator needs no set-up; the heap exists for the whole process.
void heapCreate() {}
void heapDestroy() {}

void* heapAlloc(size_t bytes) {
  if (!mayAllocate()) return nullptr;
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block) g_bytesInUse += malloc_usable_size(block);
  return block;
}

char16_t* heapAllocText(size_t length) {
  return static_cast<char16_t*>(heapAlloc((length + 1) * sizeof(char16_t)));
}

void* heapRealloc(void* block, size_t bytes) {
  if (!block) return heapAlloc(bytes);
  if (!mayAllocate()) return nullptr;
  size_t before = malloc_usable_size(block);
  void* grown = std::realloc(block, bytes == 0 ? 1 : bytes);
  if (!grown) return nullptr;
  g_bytesInUse = g_bytesInUse - before + malloc_usable_size(grown);
  return grown;
}

void heapFree(void* block) {
  if (!block) return;
  g_bytesInUse -= malloc_usable_size(block);
  std::free(block);
}

size_t heapBytesInUse() { return g_bytesInUse; }

void heapFailAfter(int64_t allocations) { g_allocationsLeft = allocations; }

}  // namespace kelp
