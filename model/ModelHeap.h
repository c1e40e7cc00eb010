// The model's private heap: every pool entry and scratch text comes from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelp {

void heapCreate();
void heapDestroy();
/// Null when memory runs out; callers set error 15.
void* heapAlloc(size_t bytes);
/// Room for `length` UTF-16 units and a terminator, not filled.
char16_t* heapAllocText(size_t length);
/// A null block allocates; on failure the old block stays valid and null is returned.
void* heapRealloc(void* block, size_t bytes);
void heapFree(void* block);

/// Bytes currently allocated from the heap, as the allocator reports block sizes.
size_t heapBytesInUse();

/// Test hook: after `allocations` more successful allocations every further one
/// fails, until called again with a negative count.
void heapFailAfter(int64_t allocations);

}  // namespace kelp
