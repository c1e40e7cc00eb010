// Tests of the buffered streams: buffering, failures, scrambling, framing and byte text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <unistd.h>
#include <vector>

#include "files/DocStream.h"
#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"
#include "platform/File.h"

namespace kelp {
namespace {

struct TempFile {
  std::string path;
  File file;
  TempFile() {
    char name[] = "/tmp/kelp-stream-XXXXXX";
    ::close(::mkstemp(name));
    path = name;
    EXPECT_EQ(file.open(path, FileAccess::ReadWrite), FileError::None);
  }
  ~TempFile() { ::unlink(path.c_str()); }
  std::vector<uint8_t> bytes() const {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

TEST(DocStream, EmptyTransfersDoNothingAndReadingPastTheEndFails) {
  clearError();
  MemoryDocStream stream;
  stream.Write("x", 0);
  uint8_t byte = 7;
  EXPECT_EQ(stream.Read(&byte, 0), 0u);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(stream.size(), 0u);
  EXPECT_EQ(stream.allocated(), 0u);

  TempFile file;
  ASSERT_EQ(file.file.write("abc", 3), FileError::None);
  ASSERT_TRUE(file.file.seek(0));
  FileDocStream reader(file.file);
  reader.allocateBuffer();
  uint8_t buffer[8];
  EXPECT_EQ(reader.Read(buffer, 2), 2u);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(reader.Read(buffer, 2), 1u);
  EXPECT_EQ(pendingError(), 13u);
  EXPECT_EQ(reader.position(), 3u);
  clearError();
}

TEST(DocStream, BufferedWritesGatherAndFailuresNameTheCause) {
  clearError();
  {
    TempFile file;
    FileDocStream stream(file.file);
    stream.allocateBuffer();
    ASSERT_EQ(stream.bufferCapacity(), DocStream::LargeBuffer);
    std::vector<uint8_t> block(40000, 0x5A);
    stream.Write(block.data(), 40000);
    EXPECT_TRUE(file.bytes().empty()) << "gathered in the buffer";
    stream.Write(block.data(), 40000);
    EXPECT_EQ(file.bytes().size(), 40000u) << "the first block went out when the second did not fit";
    stream.Flush();
    EXPECT_EQ(file.bytes().size(), 80000u);
    EXPECT_EQ(stream.position(), 80000u);
    EXPECT_EQ(pendingError(), 0u);
  }
  // A full disk while the buffer is emptied: 48.
  {
    TempFile file;
    FileDocStream stream(file.file);
    stream.allocateBuffer();
    std::vector<uint8_t> block(40000, 1);
    planFileFault(FileCall::Write, 1000, FileError::NoRoom);
    stream.Write(block.data(), 40000);
    stream.Write(block.data(), 40000);
    clearFileFaults();
    EXPECT_EQ(pendingError(), 48u);
    clearError();
  }
  // The final flush reports its cause as well: a full disk is 48 however little was
  // written, any other failure 14.
  for (auto [error, code] : {std::pair{FileError::NoRoom, 48u}, std::pair{FileError::Failed, 14u}}) {
    TempFile file;
    FileDocStream stream(file.file);
    stream.allocateBuffer();
    stream.Write("abc", 3);
    planFileFault(FileCall::Write, 0, error);
    stream.Flush();
    clearFileFaults();
    EXPECT_EQ(pendingError(), code);
    clearError();
  }
  // Unbuffered writes go straight out and report the cause too.
  {
    TempFile file;
    FileDocStream stream(file.file);
    stream.Write("abcdef", 6);
    EXPECT_EQ(file.bytes().size(), 6u);
    planFileFault(FileCall::Write, 2, FileError::Failed);
    stream.Write("abcdef", 6);
    clearFileFaults();
    EXPECT_EQ(pendingError(), 14u);
    clearError();
  }
}

TEST(DocStream, MemoryBlockGrowsInWholeKibibytes) {
  clearError();
  MemoryDocStream stream;
  stream.Write("a", 1);
  EXPECT_EQ(stream.allocated(), 1024u);
  std::vector<uint8_t> block(3000, 2);
  stream.Write(block.data(), 3000);
  EXPECT_EQ(stream.size(), 3001u);
  EXPECT_EQ(stream.allocated(), 1024u + 2048u);
  stream.Seek(1);
  stream.Write("zz", 2);
  EXPECT_EQ(stream.size(), 3001u) << "overwriting does not grow the used size";
  EXPECT_EQ(stream.data()[1], 'z');
  stream.Seek(0);
  uint8_t back[3];
  EXPECT_EQ(stream.Read(back, 3), 3u);
  EXPECT_EQ(back[0], 'a');
  EXPECT_EQ(back[2], 'z');
  EXPECT_EQ(pendingError(), 0u);
}

TEST(DocStream, ScramblingIsReversibleAndStartsWhereSwitchedOn) {
  clearError();
  // Every byte under a key whose second byte wraps past 255.
  MemoryDocStream out;
  out.allocateBuffer();
  out.Write("AB", 2);
  out.Flush();
  out.SetScrambleKey(u"\u00FF\u00FFxyz");
  EXPECT_EQ(out.scrambleKey1(), 28);
  EXPECT_EQ(out.scrambleKey2(), static_cast<uint8_t>(0xFF + 0xFF + 3));
  std::vector<uint8_t> all(2500);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> copy = all;
  out.Write(all.data(), static_cast<uint32_t>(all.size()));
  out.Flush();
  EXPECT_EQ(all, copy) << "the caller's data is not changed";
  ASSERT_EQ(out.size(), 2502u);
  EXPECT_EQ(out.data()[0], 'A');
  EXPECT_NE(std::vector<uint8_t>(out.data() + 2, out.data() + 2502), all);

  MemoryDocStream in(out.data(), out.size());
  in.allocateBuffer();
  uint8_t head[2];
  in.Read(head, 2);
  in.SetScrambleKey(u"\u00FF\u00FFxyz");
  std::vector<uint8_t> back(all.size());
  EXPECT_EQ(in.Read(back.data(), static_cast<uint32_t>(back.size())), back.size());
  EXPECT_EQ(back, all);
  // One character pairs with the terminator.
  MemoryDocStream one;
  one.SetScrambleKey(u"A");
  EXPECT_EQ(one.scrambleKey1(), 24);
  EXPECT_EQ(one.scrambleKey2(), 'A' + 3);
  EXPECT_EQ(pendingError(), 0u);
}

TEST(DocStream, RecordsFrameTypeLengthAndData) {
  clearError();
  MemoryDocStream out;
  out.WriteRecord16(0x8001, 3, "xyz");
  out.WriteRecord16(2, 0, nullptr);
  out.WriteRecord8(9, 2, "hi");
  std::vector<uint8_t> expected = {0x01, 0x80, 3, 0, 'x', 'y', 'z', 2, 0, 0, 0, 9, 'h', 'i'};
  EXPECT_EQ(std::vector<uint8_t>(out.data(), out.data() + out.size()), expected);
  MemoryDocStream in(out.data(), 11);
  std::vector<uint8_t> data(65535);
  uint16_t type, length;
  ASSERT_TRUE(in.ReadRecord(type, length, data.data()));
  EXPECT_EQ(type, 0x8001);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(data[2], 'z');
  ASSERT_TRUE(in.ReadRecord(type, length, data.data()));
  EXPECT_EQ(type, 2);
  EXPECT_FALSE(in.ReadRecord(type, length, data.data()));
  EXPECT_EQ(pendingError(), 13u);
  clearError();
  // A record whose data runs past the end fails as well.
  MemoryDocStream cut(expected.data(), 5);
  EXPECT_FALSE(cut.ReadRecord(type, length, data.data()));
  EXPECT_EQ(pendingError(), 13u);
  clearError();
  MemoryDocStream cutInPlace(expected.data(), 5);
  cutInPlace.allocateBuffer();
  EXPECT_EQ(cutInPlace.ReadRecordInPlace(type, length, data.data()), nullptr);
  EXPECT_EQ(pendingError(), 13u);
  clearError();
}

TEST(DocStream, ByteTextReadsInChunksWithCodePageAndMark) {
  clearError();
  {
    TempFile file;
    std::string text(2048, 'a');
    text[0] = static_cast<char>(0x80);  // the euro sign in Windows-1252
    text[1] = 0;                        // NUL comes back as 1
    ASSERT_EQ(file.file.write(text.data(), text.size()), FileError::None);
    ASSERT_TRUE(file.file.seek(0));
    FileDocStream stream(file.file);
    stream.allocateBuffer();
    EXPECT_EQ(stream.ReadChar(), 0x20AC);
    EXPECT_EQ(stream.ReadChar(), 1);
    int count = 2;
    while (stream.ReadChar() == u'a') ++count;
    EXPECT_EQ(count, 2048);
    EXPECT_EQ(stream.ReadChar(), 0);
    EXPECT_EQ(pendingError(), 0u) << "the end of a text is no error";
  }
  {
    // What the program writes itself: UTF-16LE after FF FE; the mark is skipped.
    MemoryDocStream out;
    out.Write("\xFF\xFE", 2);
    out.WriteLine(u"ok");
    MemoryDocStream in(out.data(), out.size());
    in.setCodePage(28591);
    std::u16string seen;
    for (char16_t c; (c = in.ReadChar()) != 0;) seen.push_back(c);
    EXPECT_EQ(seen, std::u16string(u"o\x01k\x01\r\x01\n\x01"));
  }
}

TEST(DocStream, StorageStreamCarriesRecordsThroughACompoundFile) {
  clearError();
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> written;
  {
    // More than one buffer's worth, so the vector grows while the buffer empties.
    StorageDocStream out(written);
    out.allocateBuffer();
    for (uint16_t type = 1; type <= 40; ++type)
      out.WriteRecord16(type, static_cast<uint16_t>(3000 - type), data.data());
    out.Flush();
    EXPECT_EQ(out.position(), written.size());
    EXPECT_GT(written.size(), DocStream::LargeBuffer);
  }
  CompoundWriter writer;
  writer.addStream(u"Workbook", written);
  std::vector<uint8_t> file;
  ASSERT_TRUE(writer.build(file));
  CompoundReader reader;
  ASSERT_TRUE(reader.open(std::move(file)));
  std::vector<uint8_t> read;
  ASSERT_TRUE(reader.readStream(u"Workbook", read));
  EXPECT_TRUE(read == written);

  StorageDocStream in(read);
  in.allocateBuffer();
  std::vector<uint8_t> record(65535);
  // Read in place where the buffer holds a record whole, copied where one spans two refills.
  int copied = 0;
  for (uint16_t type = 1; type <= 40; ++type) {
    uint16_t gotType = 0, length = 0;
    const uint8_t* got = in.ReadRecordInPlace(gotType, length, record.data());
    ASSERT_NE(got, nullptr);
    copied += got == record.data();
    EXPECT_EQ(gotType, type);
    ASSERT_EQ(length, 3000 - type);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + length, got)) << "record " << type;
  }
  EXPECT_GT(copied, 0);
  EXPECT_LT(copied, 40);
  EXPECT_TRUE(in.drained());
  EXPECT_EQ(pendingError(), 0u);
  uint8_t byte;
  EXPECT_EQ(in.Read(&byte, 1), 0u);
  EXPECT_EQ(pendingError(), 13u);
  clearError();

  // Writes after a seek replace bytes and extend the vector; a seek past its end fails.
  std::vector<uint8_t> bytes = {1, 2, 3, 4};
  StorageDocStream edit(bytes);
  edit.Seek(2);
  edit.Write("\x09\x09\x09", 3);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 9, 9, 9}));
  edit.Seek(1);
  EXPECT_EQ(edit.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 2);
  EXPECT_EQ(pendingError(), 0u);
  edit.Seek(6);
  EXPECT_EQ(pendingError(), 13u);
  clearError();
}

TEST(DocStream, SingleByteCodePagesGiveTheirOwnCharacters) {
  struct Case {
    uint32_t codePage;
    uint8_t byte;
    char16_t expected;
  };
  // Letters that only the right table gives, one per page.
  const Case cases[] = {
      {437, 0x81, u'\u00FC'},  {850, 0x9B, u'\u00F8'},  {1250, 0x8A, u'\u0160'}, {1251, 0xC0, u'\u0410'},
      {1252, 0x80, u'\u20AC'}, {1253, 0xC1, u'\u0391'}, {1254, 0xD0, u'\u011E'}, {1255, 0xE0, u'\u05D0'},
      {1256, 0xC7, u'\u0627'}, {1257, 0xC0, u'\u0104'}, {1258, 0x80, u'\u20AC'}, {28591, 0x80, u'\u0080'},
      {20127, 0xC0, u'?'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_TRUE(codePageSupported(c.codePage));
    EXPECT_EQ(byteToChar(c.codePage, c.byte), c.expected);
    EXPECT_EQ(byteToChar(c.codePage, 'A'), u'A');
  }
  // A page without a table reads as Windows-1252.
  EXPECT_FALSE(codePageSupported(1200));
  EXPECT_FALSE(codePageSupported(65001));
  EXPECT_EQ(byteToChar(9999, 0x80), u'\u20AC');
  EXPECT_EQ(byteToChar(9999, 0xE9), u'\u00E9');
}

}  // namespace
}  // namespace kelp
