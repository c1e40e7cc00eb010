// The recently used functions list and its registry blob.
#include "functions/RecentFunctions.h"

#include "formula/Catalogue.h"

namespace kelp {

namespace {

constexpr int32_t Sum = 3;
constexpr int32_t Average = 5;

}  // namespace

RecentFunctions::RecentFunctions() {
  for (int32_t& item : m_items) item = Empty;
  m_items[0] = Sum;
  m_items[1] = FunctionIndex::If;
  m_items[2] = Average;
}

void RecentFunctions::use(int32_t index) {
  int32_t found = Size - 1;  // not found: everything moves back and the last falls off
  for (int32_t i = 0; i < Size; ++i) {
    if (m_items[i] == index) {
      found = i;
      break;
    }
  }
  for (int32_t i = found; i > 0; --i) m_items[i] = m_items[i - 1];
  m_items[0] = index;
}

void RecentFunctions::toBlob(uint8_t out[BlobBytes]) const {
  for (int32_t i = 0; i < Size; ++i) {
    uint32_t v = static_cast<uint32_t>(m_items[i]);
    for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<uint8_t>(v >> (8 * b));
  }
}

bool RecentFunctions::fromBlob(const uint8_t* data, size_t size) {
  if (!data || size != BlobBytes) return false;
  for (int32_t i = 0; i < Size; ++i) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= static_cast<uint32_t>(data[i * 4 + b]) << (8 * b);
    int32_t index = static_cast<int32_t>(v);
    // A damaged value must not make the dialog index past the catalogue or list a
    // row that has no name.
    bool named = index >= 0 && index < FunctionIndex::Count && functionRow(index).name;
    m_items[i] = named ? index : Empty;
  }
  return true;
}

}  // namespace kelp
