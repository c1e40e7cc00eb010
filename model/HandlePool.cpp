// The two reference-counted handle pools.
#include "model/HandlePool.h"

#include <cassert>
#include <cstring>

#include "model/CellValue.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {
constexpr uintptr_t freeSlot(int64_t next) { return (static_cast<uintptr_t>(next + 1) << 1) | 1; }
constexpr int64_t nextFree(uintptr_t slot) { return static_cast<int64_t>(slot >> 1) - 1; }
constexpr bool isFree(uintptr_t slot) { return (slot & 1) != 0; }
}  // namespace

HandlePool::~HandlePool() {
  // Entries still referenced at exit belong to values that were never released;
  // the heap goes with the process, so only the slot array is returned.
  heapFree(m_slots);
}

HandlePool::Entry* HandlePool::entry(uint32_t handle) const {
  assert(handle < m_count && "pool handle out of range");
  uintptr_t slot = m_slots[handle];
  assert(slot != 0 && !isFree(slot) && "pool handle names a free slot");
  return reinterpret_cast<Entry*>(slot);
}

uint32_t HandlePool::add(const void* data, size_t dataLength, size_t byteLength, uint32_t refCount) {
  auto* block = static_cast<Entry*>(heapAlloc(byteLength + sizeof(Entry)));
  if (!block) {
    setError(Err::OutOfMemory);
    return NoHandle;
  }
  block->refCount = refCount;
  block->saveIndex = 0xFFFFFFFF;
  if (dataLength > byteLength) dataLength = byteLength;
  if (dataLength) std::memcpy(block + 1, data, dataLength);
  if (byteLength > dataLength) std::memset(reinterpret_cast<uint8_t*>(block + 1) + dataLength, 0, byteLength - dataLength);

  uint32_t handle;
  if (m_freeHead >= 0) {
    handle = static_cast<uint32_t>(m_freeHead);
    m_freeHead = nextFree(m_slots[handle]);
  } else {
    if (m_count == m_capacity) {
      uint32_t capacity = m_capacity < 16 ? 16 : m_capacity + m_capacity / 2;
      auto* grown = static_cast<uintptr_t*>(heapRealloc(m_slots, capacity * sizeof(uintptr_t)));
      if (!grown) {
        heapFree(block);
        setError(Err::OutOfMemory);
        return NoHandle;
      }
      m_slots = grown;
      m_capacity = capacity;
    }
    handle = m_count++;
  }
  m_slots[handle] = reinterpret_cast<uintptr_t>(block);
  return handle;
}

uint32_t HandlePool::addRef(uint32_t handle) {
  if (handle >= 0xFFFFFFFE) return NoHandle;
  ++entry(handle)->refCount;
  return handle;
}

void HandlePool::release(uint32_t handle) {
  if (handle == NoHandle) return;
  Entry* e = entry(handle);
  if (e->refCount > 1) {
    --e->refCount;
    return;
  }
  if (m_freeHook) m_freeHook(e + 1);
  heapFree(e);
  m_slots[handle] = freeSlot(m_freeHead);
  m_freeHead = handle;
}

void* HandlePool::data(uint32_t handle) const { return entry(handle) + 1; }

uint32_t HandlePool::refCount(uint32_t handle) const { return entry(handle)->refCount; }

uint32_t& HandlePool::saveIndex(uint32_t handle) { return entry(handle)->saveIndex; }

bool HandlePool::isLive(uint32_t handle) const {
  return handle < m_count && m_slots[handle] != 0 && !isFree(m_slots[handle]);
}

void HandlePool::rebuildFreeList() {
  // Threaded from the last slot down so that the lowest free slot is reused first.
  m_freeHead = -1;
  for (uint32_t i = m_count; i-- > 0;) {
    uintptr_t slot = m_slots[i];
    if (slot == 0 || isFree(slot)) {
      m_slots[i] = freeSlot(m_freeHead);
      m_freeHead = i;
    } else {
      reinterpret_cast<Entry*>(slot)->saveIndex = 0xFFFFFFFF;
    }
  }
}

void HandlePool::clearFreeList() {
  for (uint32_t i = 0; i < m_count; ++i)
    if (isFree(m_slots[i])) m_slots[i] = 0;
  m_freeHead = -1;
}

uint32_t HandlePool::liveCount() const {
  uint32_t live = 0;
  for (uint32_t i = 0; i < m_count; ++i) live += isLive(i) ? 1 : 0;
  return live;
}

HandlePool& textPool() {
  static HandlePool pool;
  return pool;
}

HandlePool& formulaPool() {
  static HandlePool pool;
  return pool;
}

}  // namespace kelp
