// DocStream: the buffered byte stream under every document reader and writer, with its
// file, memory and compound-file targets, record framing, password scrambling and byte text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelp {

class File;

/// Streams never throw and never stop: a failure sets the first code in the error
/// state (13 read, 14 write, 48 disk full, 15 memory) and the stream goes on.
class DocStream {
 public:
  static constexpr uint32_t LargeBuffer = 65536;
  static constexpr uint32_t SmallBuffer = 16384;
  static constexpr uint32_t TextChunk = 2048;

  DocStream() = default;
  DocStream(const DocStream&) = delete;
  DocStream& operator=(const DocStream&) = delete;
  virtual ~DocStream();

  /// Gives the stream its block buffer: 64 KiB, else 16 KiB, else none (unbuffered).
  void allocateBuffer();
  uint32_t bufferCapacity() const { return m_capacity; }

  /// Drops the read buffer, writes what is pending and moves to an absolute offset.
  void Seek(uint32_t offset);
  void Write(const void* bytes, uint32_t count);
  /// The bytes delivered; fewer than asked (end of data, failure) sets error 13.
  uint32_t Read(void* bytes, uint32_t count);
  /// The next character of a byte text; 0 at its end, a NUL character comes back as 1.
  char16_t ReadChar();
  /// A 16-bit type, a 16-bit length and that many bytes into `data` (room for 65535).
  /// False when the stream failed (the error state says why).
  bool ReadRecord(uint16_t& type, uint16_t& length, uint8_t* data);
  /// The same record, left where it lies when the buffer holds it whole (then valid until
  /// the next read), else copied into `room`; null when the stream failed.
  const uint8_t* ReadRecordInPlace(uint16_t& type, uint16_t& length, uint8_t* room);
  /// True when no byte is left to read; otherwise the next byte is taken. No error
  /// either way.
  bool drained();
  /// Up to `count` bytes; fewer only at the end of the data, which is no error.
  uint32_t ReadSome(void* bytes, uint32_t count);
  /// Writes the pending bytes; a failure sets error 48 for a full disk, else 14.
  void Flush();

  void WriteRecord16(uint16_t type, uint16_t length, const void* data);
  /// One type byte, then the data; the caller puts any length field into the data.
  void WriteRecord8(uint8_t type, uint16_t length, const void* data);
  /// UTF-16LE without terminator; WriteLine adds CR LF.
  void WriteText(std::u16string_view text);
  void WriteLine(std::u16string_view text);

  /// Up to `count` of the next bytes as they are stored, unscrambled or not, without
  /// taking them; fewer at the end of the data or past the buffer's size.
  uint32_t PeekStored(uint8_t* bytes, uint32_t count);

  /// Switches scrambling on for everything after this call, keyed by the password.
  void SetScrambleKey(std::u16string_view password);
  /// The two key bytes `password` scrambles with.
  static void scrambleKeys(std::u16string_view password, uint8_t& key1, uint8_t& key2);
  /// A stored byte unscrambled with the keys.
  static uint8_t unscrambled(uint8_t stored, uint8_t key1, uint8_t key2) {
    return static_cast<uint8_t>(static_cast<uint8_t>(stored - key2) ^ key1);
  }
  bool scrambling() const { return m_scramble; }
  uint8_t scrambleKey1() const { return m_key1; }
  uint8_t scrambleKey2() const { return m_key2; }

  /// The code page ReadChar converts bytes with.
  void setCodePage(uint32_t codePage) { m_codePage = codePage; }
  /// Bytes moved through the stream since it was opened or last positioned.
  uint32_t position() const { return m_position; }

 protected:
  /// Writes all `count` bytes to the target; 0 on success, else the error code to report.
  virtual uint32_t targetWrite(const uint8_t* bytes, uint32_t count) = 0;
  /// Up to `count` bytes from the target; fewer only at its end; -1 on failure.
  virtual int64_t targetRead(uint8_t* bytes, uint32_t count) = 0;
  virtual bool targetSeek(uint32_t offset) = 0;

 private:
  void writeBuffered(const uint8_t* bytes, uint32_t count);
  bool writePending();
  /// Up to `count` bytes, fewer only at the end; no error for the end itself.
  uint32_t readAvailable(uint8_t* bytes, uint32_t count);

  uint32_t m_position = 0;
  uint8_t* m_buffer = nullptr;
  uint32_t m_capacity = 0;
  uint32_t m_pending = 0;
  uint32_t m_readIndex = 0;  // next unread buffered byte
  uint32_t m_filled = 0;     // bytes the last refill brought
  bool m_scramble = false;
  uint8_t m_key1 = 0;
  uint8_t m_key2 = 0;
  int32_t m_textState = -1;  // -1 before the first chunk, 1 after a leading FF FE, else 0
  uint32_t m_codePage = 1252;
  char16_t m_chars[TextChunk] = {};
  uint32_t m_charCount = 0;
  uint32_t m_charIndex = 0;
};

/// A stream over an open file, which stays the caller's to close.
class FileDocStream final : public DocStream {
 public:
  explicit FileDocStream(File& file) : m_file(file) {}

 protected:
  uint32_t targetWrite(const uint8_t* bytes, uint32_t count) override;
  int64_t targetRead(uint8_t* bytes, uint32_t count) override;
  bool targetSeek(uint32_t offset) override;

 private:
  File& m_file;
};

/// A growable memory block (clipboard data); reads deliver what was written or given.
class MemoryDocStream final : public DocStream {
 public:
  MemoryDocStream() = default;
  /// A stream that reads a copy of `bytes`; error 15 when it cannot be made.
  MemoryDocStream(const void* bytes, size_t count);
  ~MemoryDocStream() override;

  const uint8_t* data() const { return m_block; }
  uint32_t size() const { return m_used; }
  uint32_t allocated() const { return m_allocated; }
  /// Hands the block over (free it with std::free); the stream is empty afterwards.
  uint8_t* release();

 protected:
  uint32_t targetWrite(const uint8_t* bytes, uint32_t count) override;
  int64_t targetRead(uint8_t* bytes, uint32_t count) override;
  bool targetSeek(uint32_t offset) override;

 private:
  uint8_t* m_block = nullptr;
  uint32_t m_used = 0;
  uint32_t m_allocated = 0;
  uint32_t m_at = 0;
};

/// A stream of a compound file, held as bytes in a vector that stays the caller's: the
/// opener fills it with CompoundReader::readStream and the saver hands it, flushed, to
/// CompoundWriter::addStream. Reads deliver the vector's bytes from the start; writes
/// replace and extend them at the current position.
class StorageDocStream final : public DocStream {
 public:
  explicit StorageDocStream(std::vector<uint8_t>& bytes) : m_bytes(bytes) {}

 protected:
  uint32_t targetWrite(const uint8_t* bytes, uint32_t count) override;
  int64_t targetRead(uint8_t* bytes, uint32_t count) override;
  bool targetSeek(uint32_t offset) override;

 private:
  std::vector<uint8_t>& m_bytes;
  uint32_t m_at = 0;
};

/// Whether ReadChar can convert bytes of this code page: 437, 850, 1250-1258, 20127, 28591.
bool codePageSupported(uint32_t codePage);
/// One byte of text in `codePage` as a character; an unsupported page reads as 1252.
char16_t byteToChar(uint32_t codePage, uint8_t byte);
/// The byte that stands for `c` in `codePage` (an unsupported page writes as 1252); `ok`
/// false and "?" when the code page has no byte for it.
uint8_t charToByte(uint32_t codePage, char16_t c, bool& ok);

}  // namespace kelp
