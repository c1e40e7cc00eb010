// GrowArray: the one growable array of the model (rows, cells, columns, tables).
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "model/ModelHeap.h"
#include "platform/ErrorState.h"

namespace kelp {

/// The value new elements start with; types with another blank specialise it.
template <typename T>
struct GrowInit {
  static constexpr T value() { return T{}; }
};

template <typename T>
class GrowArray {
  static_assert(std::is_trivially_copyable_v<T>, "GrowArray moves its elements as bytes");

 public:
  GrowArray() = default;
  explicit GrowArray(int32_t growBy) : m_growBy(growBy) {}
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  GrowArray(GrowArray&& other) noexcept { swap(other); }
  GrowArray& operator=(GrowArray&& other) noexcept {
    if (this != &other) {
      clear();
      swap(other);
    }
    return *this;
  }
  ~GrowArray() { heapFree(m_data); }

  int32_t size() const { return m_size; }
  int32_t capacity() const { return m_capacity; }
  int32_t growBy() const { return m_growBy; }
  bool empty() const { return m_size == 0; }
  T* data() { return m_data; }
  const T* data() const { return m_data; }
  T* begin() { return m_data; }
  T* end() { return m_data + m_size; }
  const T* begin() const { return m_data; }
  const T* end() const { return m_data + m_size; }

  T& operator[](int32_t i) {
    assert(i >= 0 && i < m_size && "GrowArray index out of range");
    return m_data[i];
  }
  const T& operator[](int32_t i) const {
    assert(i >= 0 && i < m_size && "GrowArray index out of range");
    return m_data[i];
  }

  /// Resizes to `n` elements; a `growBy` other than -1 replaces the stored step.
  /// Fails with error 15 and leaves the array unchanged when memory runs out.
  [[nodiscard]] bool setSize(int32_t n, int32_t growBy = -1) {
    assert(n >= 0 && "negative GrowArray size");
    if (growBy != -1) m_growBy = growBy;
    if (n == 0) {
      clear();
      return true;
    }
    if (n > m_capacity) {
      int32_t step = m_growBy;
      if (step == 0) step = m_size / 8 < 4 ? 4 : (m_size / 8 > 1024 ? 1024 : m_size / 8);
      int64_t wanted = static_cast<int64_t>(m_capacity) + step;
      int32_t capacity = n > wanted ? n : static_cast<int32_t>(wanted);
      T* grown = static_cast<T*>(heapRealloc(m_data, static_cast<size_t>(capacity) * sizeof(T)));
      if (!grown) {
        setError(Err::OutOfMemory);
        return false;
      }
      m_data = grown;
      m_capacity = capacity;
    }
    // A constant blank, so that each new element is one plain copy.
    static constexpr T blank = GrowInit<T>::value();
    for (int32_t i = m_size; i < n; ++i) m_data[i] = blank;
    m_size = n;
    return true;
  }

  [[nodiscard]] bool append(const T& value) {
    if (!setSize(m_size + 1)) return false;
    m_data[m_size - 1] = value;
    return true;
  }

  [[nodiscard]] bool insertAt(int32_t index, const T& value) {
    assert(index >= 0 && index <= m_size && "GrowArray insert position out of range");
    if (!setSize(m_size + 1)) return false;
    std::memmove(static_cast<void*>(m_data + index + 1), m_data + index, sizeof(T) * (m_size - 1 - index));
    m_data[index] = value;
    return true;
  }

  /// Removes one element; what it owned is the caller's to release first.
  void removeAt(int32_t index) {
    assert(index >= 0 && index < m_size && "GrowArray remove position out of range");
    std::memmove(static_cast<void*>(m_data + index), m_data + index + 1, sizeof(T) * (m_size - 1 - index));
    --m_size;
  }

  /// Frees the storage; size and capacity become 0.
  void clear() {
    heapFree(m_data);
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
  }

 private:
  void swap(GrowArray& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_growBy, other.m_growBy);
  }

  T* m_data = nullptr;
  int32_t m_size = 0;
  int32_t m_capacity = 0;
  int32_t m_growBy = 0;
};

}  // namespace kelp
