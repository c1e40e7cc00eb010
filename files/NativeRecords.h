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

// A record being built: little-endian fields appended to a byte buffer.
class RecordOut {
 public:
  void clear() { m_bytes.clear(); }
  void u8(uint32_t v) { m_bytes.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v);
    u16(v >> 16);
  }
  void f64(double d) { bytes(&d, 8); }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
  }
  void fill(uint8_t value, size_t n) { m_bytes.insert(m_bytes.end(), n, value); }
  void patch32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m_bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  }
  std::vector<uint8_t>& vector() { return m_bytes; }
  void plain(std::u16string_view text) {
    for (char16_t c : text) u16(c);
    u16(0);
  }
  void counted(std::u16string_view text) {
    u32(static_cast<uint32_t>((text.size() + 1) * 2));
    plain(text);
  }
  void absentCounted() {
    u32(AbsentCounted);
    u8(0);
  }
  size_t size() const { return m_bytes.size(); }
  const uint8_t* data() const { return m_bytes.data(); }
  /// Writes the record; one longer than a record holds fails the save with error 14
  /// instead, for a record cut short would leave a file that no longer opens.
  void emit(DocStream& stream, uint16_t type) {
    if (m_bytes.size() > MaxRecord) setError(Err::FileWrite);
    else stream.WriteRecord16(type, static_cast<uint16_t>(m_bytes.size()), m_bytes.data());
    m_bytes.clear();
  }

 private:
  std::vector<uint8_t> m_bytes;
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
