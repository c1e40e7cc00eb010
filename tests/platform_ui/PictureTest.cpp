// Pictures read for ShowPicture: JPEG, GIF and BMP made here byte by byte (the JPEG is a
// fixture), PNG as before, and damaged files refused with error 13.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ErrorState.h"
#include "platform/ui/FrameBuffer.h"

namespace kelp {
namespace {

using Bytes = std::vector<uint8_t>;

std::string tempPath(const std::string& name) {
  return testing::TempDir() + "kelp_picture_" + std::to_string(getpid()) + "_" + name;
}

std::string write(const std::string& name, const Bytes& bytes) {
  const std::string path = tempPath(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

void put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A 2x2 24-bit BMP: red, green over blue, white. Rows are stored bottom up, padded to 4 bytes.
Bytes bmp() {
  Bytes b{'B', 'M'};
  put32(b, 70);
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, 2);
  put32(b, 2);
  put16(b, 1);
  put16(b, 24);
  put32(b, 0);
  put32(b, 16);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  for (const Bytes& row : {Bytes{255, 0, 0, 255, 255, 255, 0, 0}, Bytes{0, 0, 255, 0, 255, 0, 0, 0}})
    b.insert(b.end(), row.begin(), row.end());  // blue, white, pad; red, green, pad (BGR)
  return b;
}

// A 2x1 GIF with a red and a blue palette entry: the LZW codes clear, 0, 1, end in 3 bits.
Bytes gif() {
  return {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 255, 0, 0, 0, 0, 255,
          0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, 0x3B};
}

Bytes fixture(const std::string& name) {
  std::ifstream in(std::string(KELP_TEST_DATA) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool near(Color c, Color want) {
  return std::abs(int(redOf(c)) - int(redOf(want))) < 40 && std::abs(int(greenOf(c)) - int(greenOf(want))) < 40 &&
         std::abs(int(blueOf(c)) - int(blueOf(want))) < 40;
}

TEST(Picture, JpegGifAndBmpAreDecodedAndPngStillIs) {
  FrameBuffer png(3, 2, rgb(10, 200, 30));
  ASSERT_TRUE(writePng(png, tempPath("p.png")));
  FrameBuffer image;
  ASSERT_TRUE(readPicture(tempPath("p.png"), image));
  EXPECT_EQ(image.pixel(2, 1), rgb(10, 200, 30));
  if (!canReadPictureFormats()) GTEST_SKIP() << "built without SDL2_image";

  ASSERT_TRUE(readPicture(write("b.bmp", bmp()), image));
  ASSERT_EQ(image.width, 2);
  ASSERT_EQ(image.height, 2);
  EXPECT_EQ(image.pixel(0, 0), rgb(255, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), rgb(0, 255, 0));
  EXPECT_EQ(image.pixel(0, 1), rgb(0, 0, 255));
  EXPECT_EQ(image.pixel(1, 1), rgb(255, 255, 255));

  ASSERT_TRUE(readPicture(write("g.gif", gif()), image));
  ASSERT_EQ(image.width, 2);
  EXPECT_EQ(image.pixel(0, 0), rgb(255, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), rgb(0, 0, 255));

  const Bytes jpeg = fixture("red-blue.jpg");
  ASSERT_GT(jpeg.size(), 200u);
  // Named .bmp: the bytes, not the name, tell the kind.
  ASSERT_TRUE(readPicture(write("j.bmp", jpeg), image));
  ASSERT_EQ(image.width, 16);
  ASSERT_EQ(image.height, 8);
  EXPECT_TRUE(near(image.pixel(2, 4), rgb(255, 0, 0)));
  EXPECT_TRUE(near(image.pixel(13, 4), rgb(0, 0, 255)));
}

TEST(Picture, DamagedFilesAreRefusedWithError13) {
  Bytes hugeBmp = bmp();
  hugeBmp[18] = hugeBmp[19] = hugeBmp[22] = hugeBmp[23] = 0xFF;  // 65535 x 65535 in 70 bytes
  Bytes cutGif = gif();
  cutGif.resize(24);
  Bytes cutJpeg = fixture("red-blue.jpg");
  cutJpeg.resize(120);
  const std::vector<std::string> damaged = {
      write("cut.jpg", cutJpeg),
      write("cut.gif", cutGif), write("huge.bmp", hugeBmp), write("text.gif", Bytes{'h', 'e', 'l', 'l', 'o'}),
      write("cut.png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}), tempPath("missing.jpg")};
  for (const std::string& path : damaged) {
    clearError();
    FrameBuffer image(1, 1, rgb(1, 2, 3));
    EXPECT_FALSE(readPicture(path, image)) << path;
    EXPECT_EQ(pendingError(), 13u) << path;
    EXPECT_EQ(image.pixel(0, 0), rgb(1, 2, 3)) << path;
  }
  clearError();
}

}  // namespace
}  // namespace kelp
