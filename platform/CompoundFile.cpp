// Compound files: reading the root storage's streams with every structure checked, and
// building a version 3 file from a list of streams.
#include "platform/CompoundFile.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <numeric>

#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr uint8_t Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Sector numbers above MaxRegularSector are marks, not places.
constexpr uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t DifatMark = 0xFFFFFFFC;
constexpr uint32_t FatMark = 0xFFFFFFFD;
constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSector = 0xFFFFFFFF;
constexpr uint32_t NoEntry = 0xFFFFFFFF;

constexpr uint32_t HeaderSize = 512;
constexpr uint32_t MiniCutoff = 4096;
constexpr uint32_t MiniSectorSize = 64;
constexpr uint32_t EntrySize = 128;
constexpr uint32_t HeaderDifatCount = 109;
constexpr uint32_t MaxNameLength = 31;

// Header fields.
constexpr size_t HMinorVersion = 24;
constexpr size_t HMajorVersion = 26;
constexpr size_t HByteOrder = 28;
constexpr size_t HSectorShift = 30;
constexpr size_t HMiniSectorShift = 32;
constexpr size_t HFatSectors = 44;
constexpr size_t HFirstDirectory = 48;
constexpr size_t HMiniCutoff = 56;
constexpr size_t HFirstMiniFat = 60;
constexpr size_t HMiniFatSectors = 64;
constexpr size_t HFirstDifat = 68;
constexpr size_t HDifatSectors = 72;
constexpr size_t HDifat = 76;

// Directory entry fields.
constexpr size_t ENameLength = 64;
constexpr size_t EType = 66;
constexpr size_t EColor = 67;
constexpr size_t ELeft = 68;
constexpr size_t ERight = 72;
constexpr size_t EChild = 76;
constexpr size_t EStart = 116;
constexpr size_t ESize = 120;

enum EntryType : uint8_t { TypeStorage = 1, TypeStream = 2, TypeRoot = 5 };
enum Color : uint8_t { Red = 0, Black = 1 };

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, static_cast<uint16_t>(v));
  put16(p + 2, static_cast<uint16_t>(v >> 16));
}

uint64_t unitsFor(uint64_t bytes, uint64_t unit) { return bytes / unit + (bytes % unit != 0); }

// The capital of `c` for the letters foldCase pairs; the directory tree is ordered by
// capitals, which sort differently from small letters around "[\]^_`".
char16_t directoryCapital(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c & ~1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

// The order of siblings in the directory tree: shorter names first, then by capitals.
bool precedes(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = directoryCapital(a[i]);
    char16_t y = directoryCapital(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

}  // namespace

bool looksLikeCompoundFile(const uint8_t* bytes, size_t size) {
  return size >= sizeof Signature && std::memcmp(bytes, Signature, sizeof Signature) == 0;
}

// Reader.

void CompoundReader::reset() {
  m_bytes = {};
  m_sectorSize = m_sectorCount = 0;
  m_fat = {};
  m_miniFat = {};
  m_miniStreamSectors = {};
  m_miniStreamSize = 0;
  m_streams = {};
}

bool CompoundReader::open(std::vector<uint8_t> bytes) {
  reset();
  m_bytes = std::move(bytes);
  if (parse()) return true;
  reset();
  setError(Err::FileRead);
  return false;
}

bool CompoundReader::fatChain(uint32_t start, uint64_t count, std::vector<uint32_t>& sectors) const {
  sectors.clear();
  if (count != WholeChain) {
    if (count > m_sectorCount) return false;
    sectors.reserve(count);
  }
  // A sector met twice is a loop; without this a chain could run forever.
  std::vector<bool> seen(m_sectorCount);
  for (uint32_t s = start; count == WholeChain ? s != EndOfChain : sectors.size() < count; s = m_fat[s]) {
    if (s >= m_sectorCount || s >= m_fat.size() || seen[s]) return false;
    seen[s] = true;
    sectors.push_back(s);
  }
  return true;
}

bool CompoundReader::miniChain(uint32_t start, uint64_t count, std::vector<uint32_t>& sectors) const {
  sectors.clear();
  uint64_t miniSectors = unitsFor(m_miniStreamSize, MiniSectorSize);
  if (count > miniSectors) return false;
  sectors.reserve(count);
  std::vector<bool> seen(miniSectors);
  for (uint32_t s = start; sectors.size() < count; s = m_miniFat[s]) {
    if (s >= miniSectors || s >= m_miniFat.size() || seen[s]) return false;
    seen[s] = true;
    sectors.push_back(s);
  }
  return true;
}

bool CompoundReader::parse() {
  if (m_bytes.size() < HeaderSize || !looksLikeCompoundFile(m_bytes.data(), m_bytes.size())) return false;
  const uint8_t* h = m_bytes.data();
  uint16_t major = le16(h + HMajorVersion);
  uint16_t shift = le16(h + HSectorShift);
  if ((major != 3 && major != 4) || le16(h + HByteOrder) != 0xFFFE || (shift != 9 && shift != 12) ||
      le16(h + HMiniSectorShift) != 6 || le32(h + HMiniCutoff) != MiniCutoff)
    return false;
  uint32_t size = 1u << shift;
  // A last sector cut short still counts; the padding reads as zeros.
  uint64_t sectors = unitsFor(m_bytes.size(), size) - 1;
  if (sectors > MaxRegularSector) return false;
  m_sectorSize = size;
  m_sectorCount = static_cast<uint32_t>(sectors);
  m_bytes.resize((sectors + 1) * size);
  h = m_bytes.data();

  // The FAT: the header lists its first 109 sectors, a chain of DIFAT sectors the rest.
  uint32_t fatSectors = le32(h + HFatSectors);
  if (fatSectors > m_sectorCount) return false;
  const uint32_t perSector = size / 4;
  m_fat.reserve(static_cast<size_t>(fatSectors) * perSector);
  auto addFatSector = [&](uint32_t s) {
    if (s >= m_sectorCount) return false;
    const uint8_t* p = sector(s);
    for (uint32_t i = 0; i < perSector; ++i) m_fat.push_back(le32(p + 4 * i));
    return true;
  };
  uint32_t listed = std::min(fatSectors, HeaderDifatCount);
  for (uint32_t i = 0; i < listed; ++i)
    if (!addFatSector(le32(h + HDifat + 4 * i))) return false;
  uint32_t left = fatSectors - listed;
  std::vector<bool> seen(m_sectorCount);
  for (uint32_t difat = le32(h + HFirstDifat); left > 0;) {
    if (difat >= m_sectorCount || seen[difat]) return false;
    seen[difat] = true;
    const uint8_t* p = sector(difat);
    for (uint32_t i = 0; i + 1 < perSector && left > 0; ++i, --left)
      if (!addFatSector(le32(p + 4 * i))) return false;
    difat = le32(p + size - 4);
  }

  std::vector<uint32_t> directory;
  if (!fatChain(le32(h + HFirstDirectory), WholeChain, directory) || directory.empty()) return false;
  const uint32_t perDirectorySector = size / EntrySize;
  const uint64_t entryCount = static_cast<uint64_t>(directory.size()) * perDirectorySector;
  auto entry = [&](uint64_t id) {
    return sector(directory[id / perDirectorySector]) + id % perDirectorySector * EntrySize;
  };
  // Version 3 writers have left garbage in the high half of sizes, which never exceed 2 GiB there.
  auto sizeOf = [&](const uint8_t* e) { return major == 3 ? le32(e + ESize) : le64(e + ESize); };

  const uint8_t* root = entry(0);
  if (root[EType] != TypeRoot) return false;
  m_miniStreamSize = sizeOf(root);
  if (m_miniStreamSize > 0 &&
      !fatChain(le32(root + EStart), unitsFor(m_miniStreamSize, size), m_miniStreamSectors))
    return false;
  uint32_t firstMiniFat = le32(h + HFirstMiniFat);
  if (firstMiniFat != EndOfChain && firstMiniFat != FreeSector) {
    std::vector<uint32_t> miniFat;
    if (!fatChain(firstMiniFat, WholeChain, miniFat)) return false;
    m_miniFat.reserve(miniFat.size() * perSector);
    for (uint32_t s : miniFat)
      for (uint32_t i = 0; i < perSector; ++i) m_miniFat.push_back(le32(sector(s) + 4 * i));
  }

  // The root's children form a binary tree through the sibling links; every entry may
  // be met once, so a cycle or a shared entry fails instead of looping.
  std::vector<bool> met(entryCount);
  met[0] = true;
  std::vector<uint32_t> pending;
  std::vector<uint32_t> ids;
  if (le32(root + EChild) != NoEntry) pending.push_back(le32(root + EChild));
  while (!pending.empty()) {
    uint32_t id = pending.back();
    pending.pop_back();
    if (id >= entryCount || met[id]) return false;
    met[id] = true;
    const uint8_t* e = entry(id);
    uint16_t nameBytes = le16(e + ENameLength);
    if ((e[EType] != TypeStorage && e[EType] != TypeStream) || nameBytes < 2 || nameBytes > 2 * (MaxNameLength + 1) ||
        nameBytes % 2)
      return false;
    for (size_t link : {ELeft, ERight})
      if (le32(e + link) != NoEntry) pending.push_back(le32(e + link));
    if (e[EType] == TypeStream) ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  m_streams.reserve(ids.size());
  for (uint32_t id : ids) {
    const uint8_t* e = entry(id);
    std::u16string name(le16(e + ENameLength) / 2 - 1, u'\0');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(le16(e + 2 * i));
    m_streams.push_back(Stream{std::move(name), le32(e + EStart), sizeOf(e)});
  }
  return true;
}

std::vector<std::u16string> CompoundReader::streamNames() const {
  std::vector<std::u16string> names;
  names.reserve(m_streams.size());
  for (const Stream& stream : m_streams) names.push_back(stream.name);
  return names;
}

bool CompoundReader::hasStream(std::u16string_view name) const {
  return std::any_of(m_streams.begin(), m_streams.end(),
                     [&](const Stream& stream) { return equalsIgnoreCase(stream.name, name); });
}

bool CompoundReader::readStream(std::u16string_view name, std::vector<uint8_t>& out) const {
  auto found = std::find_if(m_streams.begin(), m_streams.end(),
                            [&](const Stream& stream) { return equalsIgnoreCase(stream.name, name); });
  if (found == m_streams.end()) return false;
  out.clear();
  const uint64_t size = found->size;
  if (size == 0) return true;
  const bool mini = size < MiniCutoff;
  const uint32_t unit = mini ? MiniSectorSize : m_sectorSize;
  std::vector<uint32_t> sectors;
  if (!(mini ? miniChain(found->start, unitsFor(size, unit), sectors)
             : fatChain(found->start, unitsFor(size, unit), sectors))) {
    setError(Err::FileRead);
    return false;
  }
  // The chain holds the size, so the size is bounded by the file.
  // Reserved rather than resized: the sectors fill it, so zeroing it first is wasted.
  try {
    out.reserve(size);
  } catch (const std::bad_alloc&) {
    setError(Err::OutOfMemory);
    return false;
  }
  for (size_t i = 0; i < sectors.size(); ++i) {
    const uint8_t* from;
    if (mini) {
      // The mini stream holds every mini sector the chain check let through.
      uint64_t at = static_cast<uint64_t>(sectors[i]) * MiniSectorSize;
      from = sector(m_miniStreamSectors[at / m_sectorSize]) + at % m_sectorSize;
    } else {
      from = sector(sectors[i]);
    }
    uint64_t done = static_cast<uint64_t>(i) * unit;
    out.insert(out.end(), from, from + std::min<uint64_t>(unit, size - done));
  }
  return true;
}

bool CompoundReader::takeStream(std::u16string_view name, std::vector<uint8_t>& out) {
  auto found = std::find_if(m_streams.begin(), m_streams.end(),
                            [&](const Stream& stream) { return equalsIgnoreCase(stream.name, name); });
  if (found == m_streams.end()) return false;
  const uint64_t size = found->size;
  std::vector<uint32_t> sectors;
  if (size < MiniCutoff || !fatChain(found->start, unitsFor(size, m_sectorSize), sectors))
    return readStream(name, out);
  for (size_t i = 1; i < sectors.size(); ++i)
    if (sectors[i] <= sectors[i - 1]) return readStream(name, out);
  // Sector k of the stream lies at or after place k + 1 of the file, so moving them in
  // order to place k never overwrites one still to be moved.
  for (size_t i = 0; i < sectors.size(); ++i) {
    const uint64_t done = static_cast<uint64_t>(i) * m_sectorSize;
    std::memmove(m_bytes.data() + done, sector(sectors[i]), std::min<uint64_t>(m_sectorSize, size - done));
  }
  m_bytes.resize(size);
  out = std::move(m_bytes);
  reset();
  return true;
}

// Writer.

void CompoundWriter::addStream(std::u16string_view name, std::vector<uint8_t> bytes) {
  assert(!name.empty() && name.size() <= MaxNameLength && "stream names have 1 to 31 characters");
  assert(name.find_first_of(u"/\\:!") == std::u16string_view::npos && "stream names cannot hold / \\ : !");
  for (Stream& stream : m_streams) {
    if (equalsIgnoreCase(stream.name, name)) {
      stream.name = name;
      stream.bytes = std::move(bytes);
      return;
    }
  }
  m_streams.push_back(Stream{std::u16string(name), std::move(bytes)});
}

bool CompoundWriter::build(std::vector<uint8_t>& out) const {
  constexpr uint32_t Size = HeaderSize;
  constexpr uint32_t PerSector = Size / 4;
  constexpr uint32_t EntriesPerSector = Size / EntrySize;
  const size_t count = m_streams.size();

  uint64_t miniSectors = 0;
  uint64_t streamSectors = 0;
  for (const Stream& stream : m_streams) {
    uint64_t size = stream.bytes.size();
    // Version 3 stores sizes in 32 bits and allows no stream beyond 2 GiB.
    if (size > 0x80000000u) {
      setError(Err::FileWrite);
      return false;
    }
    if (size < MiniCutoff)
      miniSectors += unitsFor(size, MiniSectorSize);
    else
      streamSectors += unitsFor(size, Size);
  }
  const uint64_t miniStreamBytes = miniSectors * MiniSectorSize;
  const uint64_t miniFatSectors = unitsFor(miniSectors, PerSector);
  const uint64_t miniStreamSectors = unitsFor(miniStreamBytes, Size);
  const uint64_t directorySectors = unitsFor(count + 1, EntriesPerSector);
  const uint64_t dataSectors = directorySectors + miniFatSectors + miniStreamSectors + streamSectors;
  // The FAT covers itself and the DIFAT sectors that list it, so grow both until they fit.
  uint64_t fatSectors = 0;
  uint64_t difatSectors = 0;
  for (;;) {
    uint64_t fat = unitsFor(dataSectors + fatSectors + difatSectors, PerSector);
    uint64_t difat = fat > HeaderDifatCount ? unitsFor(fat - HeaderDifatCount, PerSector - 1) : 0;
    if (fat == fatSectors && difat == difatSectors) break;
    fatSectors = fat;
    difatSectors = difat;
  }
  const uint64_t total = dataSectors + fatSectors + difatSectors;
  if (total >= MaxRegularSector) {
    setError(Err::FileWrite);
    return false;
  }
  // The vector reports exhaustion by throwing; it stops here as error 15.
  try {
    out.assign((total + 1) * Size, 0);
  } catch (const std::bad_alloc&) {
    out.clear();
    setError(Err::OutOfMemory);
    return false;
  }

  // Layout: FAT, DIFAT, directory, mini FAT, mini stream, then the large streams.
  const uint32_t firstDifat = static_cast<uint32_t>(fatSectors);
  const uint32_t firstDirectory = static_cast<uint32_t>(firstDifat + difatSectors);
  const uint32_t firstMiniFat = static_cast<uint32_t>(firstDirectory + directorySectors);
  const uint32_t firstMiniStream = static_cast<uint32_t>(firstMiniFat + miniFatSectors);
  uint32_t nextSector = static_cast<uint32_t>(firstMiniStream + miniStreamSectors);
  uint8_t* const base = out.data();
  auto at = [&](uint64_t sector) { return base + (sector + 1) * Size; };
  // The FAT sectors come first and in order, so entry i lies in sector i / PerSector.
  auto setFat = [&](uint64_t index, uint32_t value) { put32(at(index / PerSector) + index % PerSector * 4, value); };
  auto chain = [&](uint64_t first, uint64_t length) {
    for (uint64_t k = 0; k < length; ++k)
      setFat(first + k, k + 1 < length ? static_cast<uint32_t>(first + k + 1) : EndOfChain);
  };
  std::memset(at(0), 0xFF, fatSectors * Size);
  for (uint64_t i = 0; i < fatSectors; ++i) setFat(i, FatMark);
  for (uint64_t i = 0; i < difatSectors; ++i) setFat(firstDifat + i, DifatMark);
  chain(firstDirectory, directorySectors);
  chain(firstMiniFat, miniFatSectors);
  chain(firstMiniStream, miniStreamSectors);

  std::memset(at(firstMiniFat), 0xFF, miniFatSectors * Size);
  uint8_t* const miniFat = at(firstMiniFat);
  uint8_t* const miniStream = at(firstMiniStream);
  uint32_t nextMini = 0;
  std::vector<uint32_t> starts(count, EndOfChain);
  for (size_t i = 0; i < count; ++i) {
    const std::vector<uint8_t>& bytes = m_streams[i].bytes;
    if (bytes.empty()) continue;
    if (bytes.size() < MiniCutoff) {
      uint32_t length = static_cast<uint32_t>(unitsFor(bytes.size(), MiniSectorSize));
      starts[i] = nextMini;
      for (uint32_t k = 0; k < length; ++k)
        put32(miniFat + 4 * (nextMini + k), k + 1 < length ? nextMini + k + 1 : EndOfChain);
      std::memcpy(miniStream + static_cast<size_t>(nextMini) * MiniSectorSize, bytes.data(), bytes.size());
      nextMini += length;
    } else {
      uint64_t length = unitsFor(bytes.size(), Size);
      starts[i] = nextSector;
      chain(nextSector, length);
      std::memcpy(at(nextSector), bytes.data(), bytes.size());
      nextSector += static_cast<uint32_t>(length);
    }
  }

  // Header.
  uint8_t* h = base;
  std::memcpy(h, Signature, sizeof Signature);
  put16(h + HMinorVersion, 0x3E);
  put16(h + HMajorVersion, 3);
  put16(h + HByteOrder, 0xFFFE);
  put16(h + HSectorShift, 9);
  put16(h + HMiniSectorShift, 6);
  put32(h + HFatSectors, static_cast<uint32_t>(fatSectors));
  put32(h + HFirstDirectory, firstDirectory);
  put32(h + HMiniCutoff, MiniCutoff);
  put32(h + HFirstMiniFat, miniFatSectors ? firstMiniFat : EndOfChain);
  put32(h + HMiniFatSectors, static_cast<uint32_t>(miniFatSectors));
  put32(h + HFirstDifat, difatSectors ? firstDifat : EndOfChain);
  put32(h + HDifatSectors, static_cast<uint32_t>(difatSectors));
  for (uint32_t i = 0; i < HeaderDifatCount; ++i) put32(h + HDifat + 4 * i, i < fatSectors ? i : FreeSector);
  for (uint64_t d = 0; d < difatSectors; ++d) {
    uint8_t* p = at(firstDifat + d);
    for (uint32_t j = 0; j + 1 < PerSector; ++j) {
      uint64_t listed = HeaderDifatCount + d * (PerSector - 1) + j;
      put32(p + 4 * j, listed < fatSectors ? static_cast<uint32_t>(listed) : FreeSector);
    }
    put32(p + Size - 4, d + 1 < difatSectors ? static_cast<uint32_t>(firstDifat + d + 1) : EndOfChain);
  }

  // Directory: the root, then the streams in the order they were added. The siblings
  // form a balanced tree over the sorted names; its deepest level is red and the rest
  // black, which gives every path the same number of black entries and no red pair.
  std::vector<uint32_t> sorted(count);
  std::iota(sorted.begin(), sorted.end(), 1u);
  std::sort(sorted.begin(), sorted.end(),
            [&](uint32_t a, uint32_t b) { return precedes(m_streams[a - 1].name, m_streams[b - 1].name); });
  std::vector<uint32_t> left(count + 1, NoEntry);
  std::vector<uint32_t> right(count + 1, NoEntry);
  std::vector<uint32_t> depth(count + 1, 0);
  uint32_t deepest = 0;
  auto place = [&](auto& self, size_t from, size_t to, uint32_t level) -> uint32_t {
    if (from == to) return NoEntry;
    size_t middle = from + (to - from) / 2;
    uint32_t id = sorted[middle];
    depth[id] = level;
    deepest = std::max(deepest, level);
    left[id] = self(self, from, middle, level + 1);
    right[id] = self(self, middle + 1, to, level + 1);
    return id;
  };
  const uint32_t top = place(place, 0, count, 0);

  uint8_t* const directory = at(firstDirectory);
  for (uint64_t id = 0; id < directorySectors * EntriesPerSector; ++id) {
    uint8_t* e = directory + id * EntrySize;
    for (size_t link : {ELeft, ERight, EChild}) put32(e + link, NoEntry);
  }
  auto describe = [&](uint32_t id, std::u16string_view name, EntryType type, Color color, uint32_t start,
                      uint32_t size) {
    uint8_t* e = directory + static_cast<size_t>(id) * EntrySize;
    for (size_t i = 0; i < name.size(); ++i) put16(e + 2 * i, name[i]);
    put16(e + ENameLength, static_cast<uint16_t>(2 * (name.size() + 1)));
    e[EType] = type;
    e[EColor] = color;
    put32(e + ELeft, left[id]);
    put32(e + ERight, right[id]);
    put32(e + EStart, start);
    put32(e + ESize, size);
  };
  describe(0, u"Root Entry", TypeRoot, Black, miniSectors ? firstMiniStream : EndOfChain,
           static_cast<uint32_t>(miniStreamBytes));
  put32(directory + EChild, top);
  for (size_t i = 0; i < count; ++i) {
    uint32_t id = static_cast<uint32_t>(i + 1);
    Color color = depth[id] == deepest && deepest > 0 ? Red : Black;
    describe(id, m_streams[i].name, TypeStream, color, starts[i], static_cast<uint32_t>(m_streams[i].bytes.size()));
  }
  return true;
}

}  // namespace kelp
