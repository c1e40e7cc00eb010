// Buffered document streams: buffering, framing, scrambling and the file, memory and compound-file targets.
#include "files/DocStream.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ErrorState.h"
#include "platform/File.h"

namespace kelp {

namespace {

constexpr uint32_t ScramblePiece = 1024;

}  // namespace

// DocStream.

DocStream::~DocStream() { std::free(m_buffer); }

void DocStream::allocateBuffer() {
  if (m_buffer) return;
  for (uint32_t size : {LargeBuffer, SmallBuffer}) {
    m_buffer = static_cast<uint8_t*>(std::malloc(size));
    if (m_buffer) {
      m_capacity = size;
      break;
    }
  }
  m_readIndex = m_filled = 0;
}

void DocStream::Seek(uint32_t offset) {
  // Pending bytes belong before the new position, so they go out first.
  if (m_pending) writePending();
  m_readIndex = m_filled = 0;
  if (!targetSeek(offset)) setError(Err::FileRead);
  m_position = offset;
}

// Every write reports its own cause, the final flush included: a full disk is 48
// however small the workbook, never the plain write error.
bool DocStream::writePending() {
  uint32_t pending = m_pending;
  m_pending = 0;
  if (!pending) return true;
  uint32_t code = targetWrite(m_buffer, pending);
  if (code == 0) return true;
  setError(code);
  return false;
}

void DocStream::writeBuffered(const uint8_t* bytes, uint32_t count) {
  if (m_capacity && count <= m_capacity) {
    if (m_pending + count > m_capacity) writePending();
    std::memcpy(m_buffer + m_pending, bytes, count);
    m_pending += count;
    m_position += count;
    return;
  }
  // Unbuffered, or more than a buffer at once: straight to the target, in order.
  if (m_pending) writePending();
  uint32_t code = targetWrite(bytes, count);
  if (code) {
    setError(code);
    return;
  }
  m_position += count;
}

void DocStream::Write(const void* bytes, uint32_t count) {
  if (count == 0) return;
  const auto* in = static_cast<const uint8_t*>(bytes);
  if (!m_scramble) {
    writeBuffered(in, count);
    return;
  }
  // Scrambled in pieces through a stack copy, so the caller's data is never changed.
  uint8_t piece[ScramblePiece];
  while (count) {
    uint32_t n = count < ScramblePiece ? count : ScramblePiece;
    for (uint32_t i = 0; i < n; ++i) piece[i] = static_cast<uint8_t>((in[i] ^ m_key1) + m_key2);
    writeBuffered(piece, n);
    in += n;
    count -= n;
  }
}

void DocStream::Flush() { writePending(); }

uint32_t DocStream::readAvailable(uint8_t* out, uint32_t count) {
  uint32_t delivered = 0;
  if (!m_capacity) {
    while (delivered < count) {
      int64_t n = targetRead(out + delivered, count - delivered);
      if (n < 0) {
        setError(Err::FileRead);
        break;
      }
      if (n == 0) break;
      delivered += static_cast<uint32_t>(n);
    }
  } else {
    while (delivered < count) {
      if (m_readIndex >= m_filled) {
        int64_t n = targetRead(m_buffer, m_capacity);
        m_readIndex = 0;
        m_filled = n > 0 ? static_cast<uint32_t>(n) : 0;
        if (n < 0) setError(Err::FileRead);
        if (n <= 0) break;
      }
      uint32_t n = m_filled - m_readIndex;
      if (n > count - delivered) n = count - delivered;
      std::memcpy(out + delivered, m_buffer + m_readIndex, n);
      m_readIndex += n;
      delivered += n;
    }
  }
  if (m_scramble)
    for (uint32_t i = 0; i < delivered; ++i) out[i] = unscrambled(out[i], m_key1, m_key2);
  m_position += delivered;
  return delivered;
}

uint32_t DocStream::Read(void* bytes, uint32_t count) {
  if (count == 0) return 0;
  uint32_t delivered = readAvailable(static_cast<uint8_t*>(bytes), count);
  if (delivered < count) setError(Err::FileRead);
  return delivered;
}

bool DocStream::ReadRecord(uint16_t& type, uint16_t& length, uint8_t* data) {
  uint8_t header[4];
  type = 0;
  length = 0;
  if (Read(header, 4) != 4) return false;
  type = static_cast<uint16_t>(header[0] | header[1] << 8);
  length = static_cast<uint16_t>(header[2] | header[3] << 8);
  return length == 0 || Read(data, length) == length;
}

const uint8_t* DocStream::ReadRecordInPlace(uint16_t& type, uint16_t& length, uint8_t* room) {
  // Most records lie whole in the buffer: the reader takes them there, saving a copy each.
  const uint32_t left = m_filled - m_readIndex;
  if (!m_scramble && left >= 4) {
    const uint8_t* header = m_buffer + m_readIndex;
    const auto size = static_cast<uint16_t>(header[2] | header[3] << 8);
    if (left - 4 >= size) {
      type = static_cast<uint16_t>(header[0] | header[1] << 8);
      length = size;
      m_readIndex += 4u + size;
      m_position += 4u + size;
      return header + 4;
    }
  }
  return ReadRecord(type, length, room) ? room : nullptr;
}

bool DocStream::drained() {
  uint8_t byte;
  return readAvailable(&byte, 1) == 0;
}

uint32_t DocStream::ReadSome(void* bytes, uint32_t count) {
  return count ? readAvailable(static_cast<uint8_t*>(bytes), count) : 0;
}

char16_t DocStream::ReadChar() {
  while (m_charIndex >= m_charCount) {
    uint8_t bytes[TextChunk];
    uint32_t n = readAvailable(bytes, TextChunk);
    if (n == 0) return 0;
    for (uint32_t i = 0; i < n; ++i) m_chars[i] = byteToChar(m_codePage, bytes[i]);
    m_charCount = n;
    m_charIndex = 0;
    if (m_textState < 0) {
      m_textState = (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) ? 1 : 0;
      if (m_textState == 1) m_charIndex = 2;
    }
  }
  char16_t c = m_chars[m_charIndex++];
  return c == 0 ? 1 : c;
}

void DocStream::WriteRecord16(uint16_t type, uint16_t length, const void* data) {
  uint8_t header[4] = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(length),
                       static_cast<uint8_t>(length >> 8)};
  Write(header, 4);
  if (length) Write(data, length);
}

void DocStream::WriteRecord8(uint8_t type, uint16_t length, const void* data) {
  Write(&type, 1);
  if (length) Write(data, length);
}

void DocStream::WriteText(std::u16string_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    // The units in memory are already the bytes to write; pieces keep each count in 32 bits.
    constexpr size_t Piece = size_t{1} << 20;
    for (size_t at = 0; at < text.size(); at += Piece) {
      const size_t n = std::min(Piece, text.size() - at);
      Write(text.data() + at, static_cast<uint32_t>(2 * n));
    }
  } else {
    uint8_t units[512];
    size_t at = 0;
    while (at < text.size()) {
      size_t n = text.size() - at < 256 ? text.size() - at : 256;
      for (size_t i = 0; i < n; ++i) {
        units[2 * i] = static_cast<uint8_t>(text[at + i]);
        units[2 * i + 1] = static_cast<uint8_t>(text[at + i] >> 8);
      }
      Write(units, static_cast<uint32_t>(2 * n));
      at += n;
    }
  }
}

void DocStream::WriteLine(std::u16string_view text) {
  WriteText(text);
  WriteText(u"\r\n");
}

void DocStream::scrambleKeys(std::u16string_view password, uint8_t& key1, uint8_t& key2) {
  key1 = static_cast<uint8_t>(password.size() + 23);
  // A one-character password pairs its character with the terminator.
  uint8_t first = password.size() > 0 ? static_cast<uint8_t>(password[0]) : 0;
  uint8_t second = password.size() > 1 ? static_cast<uint8_t>(password[1]) : 0;
  key2 = static_cast<uint8_t>(first + second + 3);
}

void DocStream::SetScrambleKey(std::u16string_view password) {
  m_scramble = true;
  scrambleKeys(password, m_key1, m_key2);
}

uint32_t DocStream::PeekStored(uint8_t* bytes, uint32_t count) {
  if (!m_capacity || count > m_capacity) return 0;
  if (m_filled - m_readIndex < count) {
    // What is left moves to the front, and the rest of the buffer is filled behind it.
    std::memmove(m_buffer, m_buffer + m_readIndex, m_filled - m_readIndex);
    m_filled -= m_readIndex;
    m_readIndex = 0;
    while (m_filled < count) {
      const int64_t n = targetRead(m_buffer + m_filled, m_capacity - m_filled);
      if (n <= 0) break;
      m_filled += static_cast<uint32_t>(n);
    }
  }
  const uint32_t n = std::min(count, m_filled - m_readIndex);
  std::memcpy(bytes, m_buffer + m_readIndex, n);
  return n;
}

// File target.

uint32_t FileDocStream::targetWrite(const uint8_t* bytes, uint32_t count) {
  FileError error = m_file.write(bytes, count);
  if (error == FileError::None) return 0;
  return static_cast<uint32_t>(error == FileError::NoRoom ? Err::DiskFull : Err::FileWrite);
}

int64_t FileDocStream::targetRead(uint8_t* bytes, uint32_t count) { return m_file.read(bytes, count); }

bool FileDocStream::targetSeek(uint32_t offset) { return m_file.seek(offset); }

// Memory target.

MemoryDocStream::MemoryDocStream(const void* bytes, size_t count) {
  if (count == 0) return;
  if (count > 0xFFFFFFFFu || !(m_block = static_cast<uint8_t*>(std::malloc(count)))) {
    setError(Err::OutOfMemory);
    return;
  }
  std::memcpy(m_block, bytes, count);
  m_used = m_allocated = static_cast<uint32_t>(count);
}

MemoryDocStream::~MemoryDocStream() { std::free(m_block); }

uint8_t* MemoryDocStream::release() {
  uint8_t* block = m_block;
  m_block = nullptr;
  m_used = m_allocated = m_at = 0;
  return block;
}

uint32_t MemoryDocStream::targetWrite(const uint8_t* bytes, uint32_t count) {
  uint64_t end = static_cast<uint64_t>(m_at) + count;
  if (end > m_allocated) {
    // Grows by the shortfall rounded up to whole KiB, so appends rarely move the block.
    uint64_t shortfall = end - m_allocated;
    uint64_t grown = m_allocated + (shortfall + 1023) / 1024 * 1024;
    void* block = grown <= 0xFFFFFFFFu ? std::realloc(m_block, grown) : nullptr;
    if (!block) return static_cast<uint32_t>(Err::OutOfMemory);
    m_block = static_cast<uint8_t*>(block);
    m_allocated = static_cast<uint32_t>(grown);
  }
  std::memcpy(m_block + m_at, bytes, count);
  m_at = static_cast<uint32_t>(end);
  if (m_at > m_used) m_used = m_at;
  return 0;
}

int64_t MemoryDocStream::targetRead(uint8_t* bytes, uint32_t count) {
  uint32_t n = m_at < m_used ? m_used - m_at : 0;
  if (n > count) n = count;
  if (n) std::memcpy(bytes, m_block + m_at, n);
  m_at += n;
  return n;
}

bool MemoryDocStream::targetSeek(uint32_t offset) {
  if (offset > m_used) return false;
  m_at = offset;
  return true;
}

// Compound-file stream target.

uint32_t StorageDocStream::targetWrite(const uint8_t* bytes, uint32_t count) {
  uint64_t end = static_cast<uint64_t>(m_at) + count;
  if (end > 0xFFFFFFFFu) return static_cast<uint32_t>(Err::OutOfMemory);
  if (end > m_bytes.size()) {
    // The vector reports exhaustion by throwing; the stream reports it as error 15.
    try {
      m_bytes.resize(end);
    } catch (const std::bad_alloc&) {
      return static_cast<uint32_t>(Err::OutOfMemory);
    }
  }
  std::memcpy(m_bytes.data() + m_at, bytes, count);
  m_at = static_cast<uint32_t>(end);
  return 0;
}

int64_t StorageDocStream::targetRead(uint8_t* bytes, uint32_t count) {
  uint64_t left = m_at < m_bytes.size() ? m_bytes.size() - m_at : 0;
  uint32_t n = left < count ? static_cast<uint32_t>(left) : count;
  if (n) std::memcpy(bytes, m_bytes.data() + m_at, n);
  m_at += n;
  return n;
}

bool StorageDocStream::targetSeek(uint32_t offset) {
  if (offset > m_bytes.size()) return false;
  m_at = offset;
  return true;
}

}  // namespace kelp
