// Compound files: the sector container (allocation tables, directory tree, mini stream)
// that Excel workbooks live in, read from and built in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

/// True when `bytes` start with the compound-file signature D0 CF 11 E0 A1 B1 1A E1.
bool looksLikeCompoundFile(const uint8_t* bytes, size_t size);

/// The streams of the root storage of a compound file held in memory, with 512- or
/// 4096-byte sectors. Every sector number, chain, index and size is checked before it
/// is used, so a damaged file fails with error 13 and never loops, crashes or makes
/// the reader allocate more than the file's own size.
class CompoundReader {
 public:
  /// Parses header, FAT with DIFAT (large files), mini FAT, directory of `bytes` (kept).
  /// False with error 13 (Err::FileRead) when malformed; the reader is empty then.
  bool open(std::vector<uint8_t> bytes);
  /// Streams of the root storage in the order of their directory entries; storages
  /// below the root are left out.
  std::vector<std::u16string> streamNames() const;
  /// Whether the root storage has the stream; names are compared without regard to case.
  bool hasStream(std::u16string_view name) const;
  /// Whole stream of that name in the root storage; false (no error) when absent, false
  /// with error 13 when its chain is damaged, false with error 15 when memory runs out.
  bool readStream(std::u16string_view name, std::vector<uint8_t>& out) const;
  /// The same, but when the stream's sectors run forward through the file, as writers
  /// lay them, they are moved to the front of the file's bytes and those are handed
  /// over, sparing a second copy; the reader is empty after a stream is taken.
  bool takeStream(std::u16string_view name, std::vector<uint8_t>& out);
  /// 512 or 4096 once a file is open, 0 before.
  uint32_t sectorSize() const { return m_sectorSize; }

 private:
  struct Stream {
    std::u16string name;
    uint32_t start;
    uint64_t size;
  };

  bool parse();
  void reset();
  /// The sectors of a FAT chain from `start`: exactly `count` of them, or with `count`
  /// WholeChain up to its end mark. False when the chain loops, leaves the file or
  /// ends early.
  bool fatChain(uint32_t start, uint64_t count, std::vector<uint32_t>& sectors) const;
  bool miniChain(uint32_t start, uint64_t count, std::vector<uint32_t>& sectors) const;
  const uint8_t* sector(uint32_t index) const {
    return m_bytes.data() + (static_cast<size_t>(index) + 1) * m_sectorSize;
  }

  static constexpr uint64_t WholeChain = ~uint64_t{0};

  std::vector<uint8_t> m_bytes;  // padded to whole sectors
  uint32_t m_sectorSize = 0;
  uint32_t m_sectorCount = 0;
  std::vector<uint32_t> m_fat;
  std::vector<uint32_t> m_miniFat;
  std::vector<uint32_t> m_miniStreamSectors;
  uint64_t m_miniStreamSize = 0;
  std::vector<Stream> m_streams;
};

/// Collects streams for the root storage and builds a compound file of them.
class CompoundWriter {
 public:
  /// Adds a stream, or replaces the one whose name is the same without regard to case
  /// (it keeps its place and takes the new spelling). Names have 1 to 31 characters,
  /// none of them / \ : or !.
  void addStream(std::u16string_view name, std::vector<uint8_t> bytes);
  /// The whole file: 512-byte sectors (version 3), streams under 4096 bytes in the mini
  /// stream, DIFAT sectors when the FAT needs more than 109 sectors, a valid directory
  /// tree. False with error 15 when memory runs out, 14 when the streams are too large
  /// for 32-bit sector numbers.
  bool build(std::vector<uint8_t>& out) const;

 private:
  struct Stream {
    std::u16string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Stream> m_streams;
};

}  // namespace kelp
