// Tests of compound files: round trips, the directory tree, large files, 4096-byte
// sectors, damaged files, and agreement with an independent implementation (gsf).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t NoEntry = 0xFFFFFFFF;

uint32_t get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void set16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void set32(Bytes& b, size_t at, uint32_t v) {
  set16(b, at, static_cast<uint16_t>(v));
  set16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// Bytes that differ from sector to sector, so a sector read from the wrong place shows.
Bytes pattern(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

Bytes built(const CompoundWriter& writer) {
  Bytes out;
  EXPECT_TRUE(writer.build(out));
  return out;
}

// A stream's bytes as the reader gives them; nothing when it cannot read them.
std::optional<Bytes> streamOf(const CompoundReader& reader, std::u16string_view name) {
  Bytes back = {1, 2, 3};
  if (!reader.readStream(name, back)) return std::nullopt;
  return back;
}

// The places in a file with 512-byte sectors, found the way any reader finds them
// (header, FAT, directory chain), so that a test can damage one structure at a time.
struct Layout {
  Bytes& file;

  static size_t sector(uint32_t s) { return (static_cast<size_t>(s) + 1) * 512; }
  uint32_t sectorCount() const { return static_cast<uint32_t>(file.size() / 512 - 1); }
  size_t fatEntry(uint32_t index) const { return sector(get32(file, 76 + 4 * (index / 128))) + index % 128 * 4; }
  uint32_t fat(uint32_t index) const { return get32(file, fatEntry(index)); }
  size_t miniFatEntry(uint32_t index) const {
    uint32_t s = get32(file, 60);
    for (uint32_t k = 0; k < index / 128; ++k) s = fat(s);
    return sector(s) + index % 128 * 4;
  }
  uint32_t miniFat(uint32_t index) const { return get32(file, miniFatEntry(index)); }
  uint32_t entryCount() const {
    uint32_t count = 0;
    for (uint32_t s = get32(file, 48); s != EndOfChain; s = fat(s)) count += 4;
    return count;
  }
  size_t entry(uint32_t id) const {
    uint32_t s = get32(file, 48);
    for (uint32_t k = 0; k < id / 4; ++k) s = fat(s);
    return sector(s) + id % 4 * 128;
  }
  std::u16string name(uint32_t id) const {
    size_t e = entry(id);
    std::u16string text;
    for (size_t i = 0; i + 2 < static_cast<size_t>(file[e + 64]); i += 2)
      text.push_back(static_cast<char16_t>(file[e + i] | file[e + i + 1] << 8));
    return text;
  }
  uint32_t idOf(std::u16string_view wanted) const {
    for (uint32_t id = 0; id < entryCount(); ++id)
      if (file[entry(id) + 66] != 0 && name(id) == wanted) return id;
    ADD_FAILURE() << "no entry " << utf16ToUtf8(wanted);
    return 0;
  }
  size_t left(uint32_t id) const { return entry(id) + 68; }
  size_t right(uint32_t id) const { return entry(id) + 72; }
  size_t child(uint32_t id) const { return entry(id) + 76; }
  uint32_t top() const { return get32(file, child(0)); }
  size_t start(uint32_t id) const { return entry(id) + 116; }
  size_t size(uint32_t id) const { return entry(id) + 120; }
};

// The order of siblings in a directory tree, for ASCII names.
bool precedes(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'a' && a[i] <= u'z' ? a[i] - 32 : a[i];
    char16_t y = b[i] >= u'a' && b[i] <= u'z' ? b[i] - 32 : b[i];
    if (x != y) return x < y;
  }
  return false;
}

TEST(CompoundFile, StreamsOfEverySizeComeBackByNameWithoutRegardToCase) {
  clearError();
  const std::vector<std::pair<std::u16string, Bytes>> streams = {
      {u"Workbook", pattern(1000, 1)}, {u"Empty", {}},       {u"LargestMini", pattern(4095, 2)},
      {u"Exact", pattern(4096, 3)},    {u"One", {0x42}},     {u"\x05SummaryInformation", pattern(64, 4)},
      {u"Wide", pattern(100000, 5)},   {u"Odd", pattern(65, 6)},
  };
  CompoundWriter writer;
  for (const auto& [name, bytes] : streams) writer.addStream(name, bytes);
  Bytes file = built(writer);
  EXPECT_TRUE(looksLikeCompoundFile(file.data(), file.size()));
  EXPECT_FALSE(looksLikeCompoundFile(file.data(), 7));
  CompoundReader reader;
  ASSERT_TRUE(reader.open(file));
  EXPECT_EQ(reader.sectorSize(), 512u);
  std::vector<std::u16string> names;
  for (const auto& stream : streams) names.push_back(stream.first);
  EXPECT_EQ(reader.streamNames(), names);
  for (const auto& [name, bytes] : streams) EXPECT_EQ(streamOf(reader, name), bytes) << utf16ToUtf8(name);
  Bytes untouched = {7};
  EXPECT_FALSE(reader.hasStream(u"Book"));
  EXPECT_FALSE(reader.readStream(u"Book", untouched));
  EXPECT_EQ(pendingError(), 0u) << "an absent stream is no error";

  // No stream at all still makes a file with a root.
  CompoundWriter none;
  CompoundReader empty;
  ASSERT_TRUE(empty.open(built(none)));
  EXPECT_TRUE(empty.streamNames().empty());

  // Names compare without case; a replaced stream keeps its place, takes the new
  // spelling and may move between the mini stream and the regular sectors.
  writer.addStream(u"WORKBOOK", pattern(5000, 9));
  writer.addStream(u"wide", pattern(300, 10));
  writer.addStream(u"\u00C4rger", pattern(20, 11));
  writer.addStream(u"\u00E4RGER", pattern(30, 12));
  ASSERT_TRUE(reader.open(built(writer)));
  names[0] = u"WORKBOOK";
  names[6] = u"wide";
  names.push_back(u"\u00E4RGER");
  EXPECT_EQ(reader.streamNames(), names);
  EXPECT_TRUE(reader.hasStream(u"\u00C4rger"));
  EXPECT_EQ(streamOf(reader, u"workBook"), pattern(5000, 9));
  EXPECT_EQ(streamOf(reader, u"WIDE"), pattern(300, 10));
  EXPECT_EQ(pendingError(), 0u);
}

// Taking a stream moves its sectors within the file's bytes when its chain runs forward,
// and copies them when it does not; either way the bytes are the stream's.
TEST(CompoundFile, TakenStreamsAreTheirBytesWhicheverWayTheirChainRuns) {
  clearError();
  CompoundWriter writer;
  writer.addStream(u"Small", pattern(100, 1));
  writer.addStream(u"Big", pattern(10000, 2));
  writer.addStream(u"After", pattern(6000, 3));
  Bytes forward = built(writer);
  Bytes backward = forward;
  Layout l{backward};
  const uint32_t big = l.idOf(u"Big");
  const uint32_t first = get32(backward, l.start(big));
  const uint32_t second = l.fat(first);
  // The first two sectors change places and the chain follows them: second, first, ...
  std::swap_ranges(backward.begin() + static_cast<ptrdiff_t>(Layout::sector(first)),
                   backward.begin() + static_cast<ptrdiff_t>(Layout::sector(first) + 512),
                   backward.begin() + static_cast<ptrdiff_t>(Layout::sector(second)));
  const uint32_t third = l.fat(second);
  set32(backward, l.start(big), second);
  set32(backward, l.fatEntry(second), first);
  set32(backward, l.fatEntry(first), third);
  for (const Bytes* file : {&forward, &backward}) {
    for (const char16_t* name : {u"Big", u"After", u"Small"}) {
      CompoundReader reader;
      ASSERT_TRUE(reader.open(*file));
      const std::optional<Bytes> read = streamOf(reader, name);
      ASSERT_TRUE(read.has_value());
      Bytes taken = {9};
      EXPECT_FALSE(reader.takeStream(u"Missing", taken));
      ASSERT_TRUE(reader.takeStream(name, taken)) << utf16ToUtf8(name);
      EXPECT_EQ(taken, *read) << utf16ToUtf8(name) << (file == &forward ? " forward" : " backward");
    }
  }
  EXPECT_EQ(pendingError(), 0u);
}

TEST(CompoundFile, DirectoryIsASortedRedBlackTree) {
  clearError();
  // Names of several lengths, and "_" against letters: by capitals "A" sorts before "_",
  // by small letters after it.
  const char* pool[] = {"_", "a", "B", "Workbook", "Book", "ab", "A_", "a_b", "_b", "zz", "Ole", "CompObj",
                        "x1", "x2", "x3", "Data", "Ctls", "q", "r", "s", "longer name", "Qq"};
  for (size_t count = 1; count <= std::size(pool); ++count) {
    SCOPED_TRACE(testing::Message() << count << " streams");
    CompoundWriter writer;
    for (size_t i = 0; i < count; ++i) writer.addStream(utf8ToUtf16(pool[i]), pattern(i, 1));
    Bytes file = built(writer);
    Layout layout{file};
    uint32_t entries = layout.entryCount();
    ASSERT_GE(entries, count + 1);
    EXPECT_EQ(file[layout.entry(0) + 67], 1) << "the root is black";
    std::vector<std::u16string> inOrder;
    std::set<int> blackHeights;
    // Walks a subtree in order; returns false on a red entry under a red one.
    std::function<void(uint32_t, bool, int)> walk = [&](uint32_t id, bool parentRed, int blacks) {
      if (id == NoEntry) {
        blackHeights.insert(blacks);
        return;
      }
      ASSERT_LT(id, entries);
      ASSERT_LT(inOrder.size(), count) << "an entry is reached twice";
      bool red = file[layout.entry(id) + 67] == 0;
      EXPECT_FALSE(red && parentRed) << "two red entries in a row";
      walk(get32(file, layout.left(id)), red, blacks + !red);
      inOrder.push_back(layout.name(id));
      walk(get32(file, layout.right(id)), red, blacks + !red);
    };
    uint32_t top = get32(file, layout.child(0));
    EXPECT_EQ(file[layout.entry(top) + 67], 1) << "the tree's top is black";
    walk(top, false, 0);
    ASSERT_EQ(inOrder.size(), count);
    for (size_t i = 1; i < inOrder.size(); ++i)
      EXPECT_TRUE(precedes(inOrder[i - 1], inOrder[i]))
          << utf16ToUtf8(inOrder[i - 1]) << " before " << utf16ToUtf8(inOrder[i]);
    EXPECT_EQ(blackHeights.size(), 1u) << "every path holds as many black entries";
  }
}

TEST(CompoundFile, LargeFilesListTheirFatThroughDifatSectors) {
  clearError();
  const Bytes large = pattern(8 << 20, 7);
  CompoundWriter writer;
  writer.addStream(u"Small", pattern(100, 8));
  writer.addStream(u"Workbook", large);
  const Bytes file = built(writer);
  ASSERT_GT(get32(file, 44), 109u) << "more FAT sectors than the header lists";
  ASSERT_GE(get32(file, 72), 1u);
  {
    CompoundReader reader;
    ASSERT_TRUE(reader.open(file));
    EXPECT_TRUE(streamOf(reader, u"Workbook") == large);
    EXPECT_EQ(streamOf(reader, u"Small"), pattern(100, 8));
    EXPECT_EQ(pendingError(), 0u);
  }

  // Damage to the DIFAT: the file does not open.
  const uint32_t fatSectors = get32(file, 44);
  const size_t difat = Layout::sector(get32(file, 68));
  const uint32_t sectorCount = static_cast<uint32_t>(file.size() / 512 - 1);
  // Asks for a second DIFAT sector: the first one is filled up with valid FAT sector
  // numbers and its link to the next one is `next`.
  auto withSecondDifat = [&](uint32_t next) {
    Bytes damaged = file;
    set32(damaged, 44, fatSectors + 127);
    for (uint32_t i = fatSectors - 109; i < 127; ++i) set32(damaged, difat + 4 * i, 0);
    set32(damaged, difat + 508, next);
    return damaged;
  };
  std::vector<std::pair<const char*, Bytes>> cases;
  cases.emplace_back("DIFAT chain loops", withSecondDifat(get32(file, 68)));
  cases.emplace_back("DIFAT chain leaves the file", withSecondDifat(sectorCount + 1));
  cases.emplace_back("DIFAT chain ends early", withSecondDifat(EndOfChain));
  cases.emplace_back("DIFAT lists a FAT sector outside the file", file);
  set32(cases.back().second, difat, sectorCount + 5);
  for (auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    clearError();
    CompoundReader reader;
    EXPECT_FALSE(reader.open(std::move(bytes)));
    EXPECT_EQ(pendingError(), 13u);
    EXPECT_TRUE(reader.streamNames().empty());
  }
  clearError();
}

// Three streams: "Small" (5 mini sectors), "Big" (10 sectors) and "Other" (2 mini sectors).
Bytes smallFile() {
  CompoundWriter writer;
  writer.addStream(u"Small", pattern(300, 1));
  writer.addStream(u"Big", pattern(5000, 2));
  writer.addStream(u"Other", pattern(100, 3));
  return built(writer);
}

TEST(CompoundFile, DamagedStructuresFailWithAReadError) {
  struct Case {
    const char* what;
    std::function<void(Bytes&, Layout&)> damage;
    const char16_t* stream;  // the stream that fails to read, or none when the file fails to open
  };
  // The entries and first sectors of the streams the cases damage.
  auto big = [](Layout& l) { return l.idOf(u"Big"); };
  auto small = [](Layout& l) { return l.idOf(u"Small"); };
  auto bigStart = [&](Bytes& f, Layout& l) { return get32(f, l.start(big(l))); };
  auto smallStart = [&](Bytes& f, Layout& l) { return get32(f, l.start(small(l))); };
  const std::vector<Case> cases = {
      {"signature", [](Bytes& f, Layout&) { f[7] = 0xE0; }, nullptr},
      {"header cut short", [](Bytes& f, Layout&) { f.resize(511); }, nullptr},
      {"byte order mark", [](Bytes& f, Layout&) { set16(f, 28, 0xFEFF); }, nullptr},
      {"major version", [](Bytes& f, Layout&) { set16(f, 26, 2); }, nullptr},
      {"sector shift 10", [](Bytes& f, Layout&) { set16(f, 30, 10); }, nullptr},
      {"sector shift 40", [](Bytes& f, Layout&) { set16(f, 30, 40); }, nullptr},
      {"mini sector shift", [](Bytes& f, Layout&) { set16(f, 32, 7); }, nullptr},
      {"mini stream cutoff", [](Bytes& f, Layout&) { set32(f, 56, 8192); }, nullptr},
      {"FAT sector count beyond the file", [](Bytes& f, Layout&) { set32(f, 44, 1000); }, nullptr},
      {"FAT sector outside the file", [](Bytes& f, Layout& l) { set32(f, 76, l.sectorCount()); }, nullptr},
      {"directory outside the file", [](Bytes& f, Layout& l) { set32(f, 48, l.sectorCount() + 3); }, nullptr},
      {"no directory", [](Bytes& f, Layout&) { set32(f, 48, EndOfChain); }, nullptr},
      {"directory chain loops", [](Bytes& f, Layout& l) { set32(f, l.fatEntry(get32(f, 48)), get32(f, 48)); }, nullptr},
      {"mini FAT chain loops", [](Bytes& f, Layout& l) { set32(f, l.fatEntry(get32(f, 60)), get32(f, 60)); }, nullptr},
      {"first entry is no root", [](Bytes& f, Layout& l) { f[l.entry(0) + 66] = 1; }, nullptr},
      {"mini stream beyond its chain", [](Bytes& f, Layout& l) { set32(f, l.size(0), 448 + 1024); }, nullptr},
      {"tree cycle through the top", [&](Bytes& f, Layout& l) { set32(f, l.left(big(l)), l.top()); }, nullptr},
      {"sibling index out of range", [&](Bytes& f, Layout& l) { set32(f, l.right(big(l)), 1000); }, nullptr},
      {"name longer than an entry holds", [&](Bytes& f, Layout& l) { set16(f, l.entry(small(l)) + 64, 66); }, nullptr},
      {"name of odd length", [&](Bytes& f, Layout& l) { set16(f, l.entry(small(l)) + 64, 7); }, nullptr},
      {"unused entry in the tree", [&](Bytes& f, Layout& l) { f[l.entry(big(l)) + 66] = 0; }, nullptr},
      {"second root in the tree", [&](Bytes& f, Layout& l) { f[l.entry(big(l)) + 66] = 5; }, nullptr},

      {"sector chain loops", [&](Bytes& f, Layout& l) {
         uint32_t second = l.fat(bigStart(f, l));
         set32(f, l.fatEntry(l.fat(second)), second);
       }, u"Big"},
      {"chain leaves the file", [&](Bytes& f, Layout& l) { set32(f, l.fatEntry(bigStart(f, l)), 0xFFFFFFF0); }, u"Big"},
      {"size beyond the file", [&](Bytes& f, Layout& l) { set32(f, l.size(big(l)), 0x7FFFFFF0); }, u"Big"},
      {"mini chain loops", [&](Bytes& f, Layout& l) {
         set32(f, l.miniFatEntry(l.miniFat(smallStart(f, l))), smallStart(f, l));
       }, u"Small"},
      // The mini stream holds 7 mini sectors; its mini FAT sector has room for 128.
      {"mini sector beyond the mini stream", [&](Bytes& f, Layout& l) { set32(f, l.start(small(l)), 9); }, u"Small"},
  };
  const Bytes source = smallFile();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearError();
    Bytes damaged = source;
    Layout layout{damaged};
    c.damage(damaged, layout);
    CompoundReader reader;
    bool opened = reader.open(damaged);
    if (!c.stream) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(pendingError(), 13u);
      continue;
    }
    ASSERT_TRUE(opened);
    Bytes back;
    EXPECT_FALSE(reader.readStream(c.stream, back));
    EXPECT_EQ(pendingError(), 13u);
    clearError();
    // The damage stays with its stream.
    EXPECT_EQ(streamOf(reader, u"Other"), pattern(100, 3));
    EXPECT_EQ(pendingError(), 0u);
  }
  clearError();
}

TEST(CompoundFile, OldSizeHalvesAndShortLastSectorsAreTolerated) {
  clearError();
  Bytes file = smallFile();
  Layout layout{file};
  // Version 3 writers left garbage in the high half of sizes.
  set32(file, layout.size(layout.idOf(u"Big")) + 4, 0xFFFFFFFF);
  set32(file, layout.size(0) + 4, 0x12345678);
  // The last sector holds the end of "Big" (392 bytes) and padding that may be missing.
  file.erase(file.end() - 100, file.end());
  CompoundReader reader;
  ASSERT_TRUE(reader.open(file));
  EXPECT_EQ(streamOf(reader, u"Big"), pattern(5000, 2));
  EXPECT_EQ(streamOf(reader, u"Small"), pattern(300, 1));
  EXPECT_EQ(pendingError(), 0u);
}

TEST(CompoundFile, EveryCutAndByteFlipFailsCleanlyOrReads) {
  const Bytes source = smallFile();
  int failed = 0, read = 0;
  auto check = [&](Bytes bytes) {
    clearError();
    CompoundReader reader;
    bool ok = reader.open(std::move(bytes));
    for (const std::u16string& name : reader.streamNames()) {
      Bytes back;
      ok = reader.readStream(name, back) && ok;
    }
    if (ok) {
      ++read;
    } else {
      ++failed;
      EXPECT_EQ(pendingError(), 13u);
    }
  };
  for (size_t cut = 0; cut < source.size(); ++cut)
    check(Bytes(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(cut)));
  // The header and the structure sectors (FAT, directory, mini FAT) come first.
  for (size_t at = 0; at < 4 * 512; ++at) {
    for (uint8_t mask : {0xFF, 0x01, 0x80}) {
      Bytes damaged = source;
      damaged[at] ^= mask;
      check(std::move(damaged));
    }
  }
  EXPECT_GT(failed, 1000);
  EXPECT_GT(read, 1000) << "damage to unused fields leaves a readable file";
  clearError();
}

// A version 4 file put together by hand: header sector, FAT (0), directory (1), mini
// FAT (2), mini stream (3) and the 5000 bytes of "Big" (4 and 5).
Bytes fileWith4096ByteSectors(uint64_t bigSize) {
  constexpr size_t S = 4096;
  Bytes f(7 * S, 0);
  const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(signature), std::end(signature), f.begin());
  // Version 4, sector shift 12, mini shift 6; one FAT sector (0), the directory at 1,
  // mini stream cutoff 4096, one mini FAT sector (2), no DIFAT sector.
  for (auto [at, value] : {std::pair<size_t, uint16_t>{24, 0x3E}, {26, 4}, {28, 0xFFFE}, {30, 12}, {32, 6}})
    set16(f, at, value);
  for (auto [at, value] :
       {std::pair<size_t, uint32_t>{40, 1}, {44, 1}, {48, 1}, {56, 4096}, {60, 2}, {64, 1}, {68, EndOfChain}})
    set32(f, at, value);
  for (size_t i = 1; i < 109; ++i) set32(f, 76 + 4 * i, 0xFFFFFFFF);
  auto at = [&](uint32_t sector) { return (sector + 1) * S; };
  const uint32_t fat[] = {0xFFFFFFFD, EndOfChain, EndOfChain, EndOfChain, 5, EndOfChain};
  for (size_t i = 0; i < 1024; ++i) set32(f, at(0) + 4 * i, i < std::size(fat) ? fat[i] : 0xFFFFFFFF);
  for (size_t i = 0; i < 1024; ++i) set32(f, at(2) + 4 * i, i == 0 ? 1 : i == 1 ? EndOfChain : 0xFFFFFFFF);
  auto entry = [&](uint32_t id, std::u16string_view name, uint8_t type, uint32_t left, uint32_t child,
                   uint32_t start, uint64_t size) {
    size_t e = at(1) + id * 128;
    for (size_t i = 0; i < name.size(); ++i) set16(f, e + 2 * i, name[i]);
    set16(f, e + 64, static_cast<uint16_t>(2 * name.size() + 2));
    f[e + 66] = type;
    f[e + 67] = 1;
    set32(f, e + 68, left);
    set32(f, e + 72, NoEntry);
    set32(f, e + 76, child);
    set32(f, e + 116, start);
    set32(f, e + 120, static_cast<uint32_t>(size));
    set32(f, e + 124, static_cast<uint32_t>(size >> 32));
  };
  for (uint32_t id = 3; id < 32; ++id)
    for (size_t link : {68, 72, 76}) set32(f, at(1) + id * 128 + link, NoEntry);
  entry(0, u"Root Entry", 5, NoEntry, 1, 3, 128);
  entry(1, u"Small", 2, 2, NoEntry, 0, 100);
  entry(2, u"Big", 2, NoEntry, NoEntry, 4, bigSize);
  Bytes small = pattern(100, 1);
  std::copy(small.begin(), small.end(), f.begin() + static_cast<std::ptrdiff_t>(at(3)));
  Bytes big = pattern(5000, 2);
  std::copy(big.begin(), big.end(), f.begin() + static_cast<std::ptrdiff_t>(at(4)));
  return f;
}

TEST(CompoundFile, ReadsFilesWith4096ByteSectors) {
  clearError();
  CompoundReader reader;
  ASSERT_TRUE(reader.open(fileWith4096ByteSectors(5000)));
  EXPECT_EQ(reader.sectorSize(), 4096u);
  EXPECT_EQ(reader.streamNames(), (std::vector<std::u16string>{u"Small", u"Big"}));
  EXPECT_EQ(streamOf(reader, u"Small"), pattern(100, 1));
  EXPECT_EQ(streamOf(reader, u"big"), pattern(5000, 2));
  EXPECT_EQ(pendingError(), 0u);
  // Version 4 sizes have 64 bits: the high half counts.
  ASSERT_TRUE(reader.open(fileWith4096ByteSectors((uint64_t{1} << 32) + 5000)));
  EXPECT_EQ(streamOf(reader, u"Big"), std::nullopt);
  EXPECT_EQ(pendingError(), 13u);
  clearError();
}

TEST(CompoundFile, ReadsAFileAnotherWriterMade) {
  clearError();
  std::ifstream in(KELP_TEST_DATA "/gsf-made.cfb", std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(file.empty());
  CompoundReader reader;
  ASSERT_TRUE(reader.open(file));
  std::vector<std::u16string> names = reader.streamNames();
  EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()), (std::set<std::u16string>{u"Small", u"Big"}))
      << "the storage Sub is no stream of the root";
  const std::string hello = "hello compound";
  EXPECT_EQ(streamOf(reader, u"Small"), Bytes(hello.begin(), hello.end()));
  std::string numbers;
  for (int i = 1; numbers.size() < 5000; ++i) numbers += std::to_string(i) + "\n";
  numbers.resize(5000);
  EXPECT_EQ(streamOf(reader, u"Big"), Bytes(numbers.begin(), numbers.end()));
  EXPECT_FALSE(reader.hasStream(u"Inner"));
  EXPECT_EQ(pendingError(), 0u);
}

// What a command prints on its standard output.
std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

TEST(CompoundFile, GsfReadsWhatWeWrite) {
  if (std::system("command -v gsf > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "gsf (Debian package libgsf-bin) is not installed; the cross-check with it is skipped";
  clearError();
  const std::vector<std::pair<std::string, Bytes>> streams = {
      {"Workbook", pattern(20000, 1)}, {"Tiny", pattern(10, 2)},      {"Exact", pattern(4096, 3)},
      {"Mini", pattern(4095, 4)},      {"Huge", pattern(7500000, 5)}, {"Empty", {}},
  };
  CompoundWriter writer;
  for (const auto& [name, bytes] : streams) writer.addStream(utf8ToUtf16(name), bytes);
  Bytes file = built(writer);
  ASSERT_GE(get32(file, 72), 1u) << "the file needs DIFAT sectors";
  char path[] = "/tmp/kelp-compound-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
  ::close(fd);

  // `gsf list` ends each stream's line with its size and name.
  std::string listing = commandOutput(std::string("gsf list ") + path);
  for (const auto& [name, bytes] : streams)
    EXPECT_NE(listing.find(" " + std::to_string(bytes.size()) + " " + name + "\n"), std::string::npos) << listing;
  for (const auto& [name, bytes] : streams) {
    std::string content = commandOutput(std::string("gsf cat ") + path + " " + name);
    EXPECT_TRUE(content == std::string(bytes.begin(), bytes.end()))
        << name << ": gsf gives " << content.size() << " bytes";
  }
  ::unlink(path);
}

}  // namespace
}  // namespace kelp
