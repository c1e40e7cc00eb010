// Private to the native format: its constants, and the record framing and token walking
// that the writer and the reader share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "formula/Tokens.h"
#include "model/Style.h"
#include "platform/ErrorState.h"

namespace kelp::native {

// The record numbers and version numbers are public, in files/NativeFormat.h.

constexpr uint32_t MaxRecord = MaxNativeRecord;
constexpr uint8_t NoCellByte = 12;
constexpr uint8_t FormulaBit = 0x80;
constexpr uint16_t RowFlagAlways = 0x0100;
constexpr uint16_t RowFlagHasStyle = 0x0080;
constexpr uint16_t NoRowHeight = 0xFFFF;
constexpr uint32_t AbsentCounted = 1;
constexpr size_t MaxMergedPerRecord = 999;
constexpr uint32_t NoIndex = 0xFFFFFFFF;
static_assert(MaxStoredText == (MaxRecord - 4) / 2 - 1, "a record 4 carries the longest text with count and terminator");

inline bool isRefOp(uint8_t op) {
  return op == static_cast<uint8_t>(Op::SheetCellRef) || op == static_cast<uint8_t>(Op::SheetAreaRef) ||
         op == static_cast<uint8_t>(Op::DeletedSheetCellRef) || op == static_cast<uint8_t>(Op::DeletedSheetAreaRef);
}

// Calls `visit(op, payload)` for each token; false when the string is malformed.
template <typename Visit>
bool walkTokens(const uint8_t* tokens, uint32_t length, Visit visit) {
  uint32_t at = 0;
  while (at < length) {
    uint8_t op = tokens[at];
    uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return false;
    if (!visit(op, tokens + at + 1)) return false;
    at += 1 + size;
  }
  return true;
}

// A record being built: little-endian fields appended to a byte buffer. The buffer is
// kept sized ahead of what is written, so that a field is a bounds test and a store
// rather than a call into the vector for every byte.
class RecordOut {
 public:
  void clear() { m_size = 0; }
  void u8(uint32_t v) { *room(1) = static_cast<uint8_t>(v); }
  void u16(uint32_t v) {
    uint8_t* p = room(2);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  void u32(uint32_t v) {
    uint8_t* p = room(4);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void f64(double d) { bytes(&d, 8); }
  void bytes(const void* p, size_t n) {
    if (n) std::memcpy(room(n), p, n);
  }
  void fill(uint8_t value, size_t n) {
    if (n) std::memset(room(n), value, n);
  }
  void patch32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m_bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  }
  /// Room for `n` bytes in all before the buffer grows again.
  void reserve(size_t n) { m_bytes.reserve(n); }
  /// The bytes written, leaving the buffer empty.
  std::vector<uint8_t> take() {
    m_bytes.resize(m_size);
    m_size = 0;
    return std::move(m_bytes);
  }
  void plain(std::u16string_view text) {
    uint8_t* p = room((text.size() + 1) * 2);
    for (char16_t c : text) {
      *p++ = static_cast<uint8_t>(c);
      *p++ = static_cast<uint8_t>(c >> 8);
    }
    p[0] = p[1] = 0;
  }
  void counted(std::u16string_view text) {
    u32(static_cast<uint32_t>((text.size() + 1) * 2));
    plain(text);
  }
  void absentCounted() {
    u32(AbsentCounted);
    u8(0);
  }
  size_t size() const { return m_size; }
  const uint8_t* data() const { return m_bytes.data(); }
  /// Writes the record; one longer than a record holds fails the save with error 14
  /// instead, for a record cut short would leave a file that no longer opens.
  void emit(DocStream& stream, uint16_t type) {
    if (m_size > MaxRecord) setError(Err::FileWrite);
    else stream.WriteRecord16(type, static_cast<uint16_t>(m_size), m_bytes.data());
    m_size = 0;
  }

 private:
  [[gnu::always_inline]] uint8_t* room(size_t n) {
    if (m_bytes.size() - m_size < n) [[unlikely]]
      grow(n);
    uint8_t* p = m_bytes.data() + m_size;
    m_size += n;
    return p;
  }
  // Sizes the buffer a step at a time, so that only the pages written are touched even
  // where the capacity is far ahead; past the capacity the vector doubles it as usual.
  [[gnu::noinline]] void grow(size_t n) {
    constexpr size_t Step = 65536;
    const size_t need = m_size + n;
    m_bytes.resize(need <= m_bytes.capacity() ? std::min(m_bytes.capacity(), std::max(need, m_bytes.size() + Step))
                                              : std::max(need, m_bytes.size() + Step));
  }
  std::vector<uint8_t> m_bytes;  // sized at least m_size; what lies past it is not written yet
  size_t m_size = 0;
};

// A record being read; any read past its end marks it bad and yields zeros.
class RecordIn {
 public:
  RecordIn(const uint8_t* data, uint32_t length) : m_data(data), m_length(length) {}
  bool bad() const { return m_bad; }
  uint32_t left() const { return m_length - m_at; }
  bool take(void* out, uint32_t n) {
    if (m_bad || n > left()) {
      m_bad = true;
      std::memset(out, 0, n);
      return false;
    }
    std::memcpy(out, m_data + m_at, n);
    m_at += n;
    return true;
  }
  uint8_t u8() {
    uint8_t v;
    take(&v, 1);
    return v;
  }
  uint16_t u16() {
    uint8_t b[2];
    take(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  uint32_t u32() {
    uint8_t b[4];
    take(b, 4);
    return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
  }
  double f64() {
    double d;
    take(&d, 8);
    return d;
  }
  const uint8_t* span(uint32_t n) {
    if (m_bad || n > left()) {
      m_bad = true;
      return nullptr;
    }
    const uint8_t* p = m_data + m_at;
    m_at += n;
    return p;
  }
  std::u16string plain() {
    std::u16string text;
    for (;;) {
      if (left() < 2) {
        m_bad = true;
        return text;
      }
      char16_t c = u16();
      if (c == 0) return text;
      text.push_back(c);
    }
  }
  /// False for the absent string.
  bool counted(std::u16string& text) {
    text.clear();
    uint32_t count = u32();
    if (count == AbsentCounted) {
      u8();
      return false;
    }
    const uint8_t* p = span(count);
    if (!p || count % 2) {
      m_bad = true;
      return false;
    }
    for (uint32_t i = 0; i + 1 < count; i += 2) {
      char16_t c = static_cast<char16_t>(p[i] | p[i + 1] << 8);
      if (c == 0) break;
      text.push_back(c);
    }
    return true;
  }

 private:
  const uint8_t* m_data;
  uint32_t m_length;
  uint32_t m_at = 0;
  bool m_bad = false;
};

// The older 16-byte style layout that earlier releases read.
void writeOldStyle(RecordOut& out, const StyleRecord& s, uint32_t font, uint32_t format);
StyleRecord readOldStyle(RecordIn& in);

}  // namespace kelp::native
