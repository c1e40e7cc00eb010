// The recently used functions of the Insert Function dialog, most recent first,
// and their registry form "UsedFn".
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelp {

class RecentFunctions {
 public:
  static constexpr int32_t Size = 10;
  static constexpr size_t BlobBytes = 40;  // the registry value: ten u32, little-endian
  static constexpr int32_t Empty = -1;

  /// Sum, If, Average and seven empty slots.
  RecentFunctions();

  int32_t at(int32_t position) const { return m_items[position]; }
  /// Moves `index` to the front; an index not in the list pushes the last one out.
  void use(int32_t index);

  void toBlob(uint8_t out[BlobBytes]) const;
  /// Replaces the list with a stored value; false, leaving the list unchanged, unless
  /// it is exactly 40 bytes. Entries that name no function become empty slots.
  bool fromBlob(const uint8_t* data, size_t size);

 private:
  int32_t m_items[Size];
};

}  // namespace kelp
