// HandlePool: the reference-counted pools of texts and compiled token strings.
// A handle is a slot index; entries live on the model heap as
// [u32 reference count][u32 save index][data].
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelp {

class HandlePool {
 public:
  HandlePool() = default;
  HandlePool(const HandlePool&) = delete;
  HandlePool& operator=(const HandlePool&) = delete;
  ~HandlePool();

  /// A new entry with `refCount` references holding a copy of the data; NoHandle and
  /// error 15 when memory runs out.
  uint32_t add(const void* data, size_t byteLength, uint32_t refCount) {
    return add(data, byteLength, byteLength, refCount);
  }
  /// The same for an entry of `byteLength` bytes whose first `dataLength` (at most that)
  /// are copied from `data` and the rest are zero: a text and its terminator in one copy.
  uint32_t add(const void* data, size_t dataLength, size_t byteLength, uint32_t refCount);
  /// One more reference; NoHandle and 0xFFFFFFFE come back as NoHandle untouched.
  uint32_t addRef(uint32_t handle);
  /// One reference less; the last frees the entry and recycles its slot.
  void release(uint32_t handle);
  void* data(uint32_t handle) const;
  uint32_t refCount(uint32_t handle) const;
  /// The writer's numbering of the entry, -1 (0xFFFFFFFF) when not being written.
  uint32_t& saveIndex(uint32_t handle);
  bool isLive(uint32_t handle) const;

  /// After loading: threads every null slot onto the free list and resets save indexes.
  void rebuildFreeList();
  /// Drops the free list; its slots become null.
  void clearFreeList();

  /// Called with an entry's data just before the entry is freed; the formula pool uses
  /// it to release the texts a token string holds.
  using FreeHook = void (*)(void* data);
  void setFreeHook(FreeHook hook) { m_freeHook = hook; }

  /// Slots in use or free; handles are below this.
  uint32_t slotCount() const { return m_count; }
  uint32_t liveCount() const;

 private:
  struct Entry {
    uint32_t refCount;
    uint32_t saveIndex;
  };
  Entry* entry(uint32_t handle) const;

  // A slot holds an entry address, or while free (next free index + 1) << 1 | 1, or 0.
  uintptr_t* m_slots = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  int64_t m_freeHead = -1;
  FreeHook m_freeHook = nullptr;
};

/// The application's two pools.
HandlePool& textPool();
HandlePool& formulaPool();

}  // namespace kelp
