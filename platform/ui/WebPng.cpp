// PNG writing for the web build, which has no libpng: stored deflate blocks, so a picture
// needs no compressor. Reading PNGs is not offered there.
#include <cstdio>
#include <vector>

#include "platform/ErrorState.h"
#include "platform/ui/FrameBuffer.h"

namespace kelp {

namespace {

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  put32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

bool writePng(const FrameBuffer& image, const std::string& path) {
  if (image.width <= 0 || image.height <= 0) {
    setError(Err::FileWrite);
    return false;
  }
  std::vector<uint8_t> raw;  // filter byte 0, then RGB, each row
  raw.reserve(static_cast<size_t>(image.height) * (1 + 3 * static_cast<size_t>(image.width)));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < image.width; ++x) {
      const uint32_t p = image.row(y)[x];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
    }
  }
  std::vector<uint8_t> z{0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
  }
  put32(z, (b << 16) | a);
  std::vector<uint8_t> header;
  put32(header, static_cast<uint32_t>(image.width));
  put32(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", z);
  chunk(out, "IEND", {});
  FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(out.data(), 1, out.size(), file) == out.size();
  if (file && std::fclose(file) != 0) {
    setError(Err::FileWrite);
    return false;
  }
  if (!ok) setError(Err::FileWrite);
  return ok;
}

bool readPng(const std::string&, FrameBuffer&) {
  setError(Err::FileRead);
  return false;
}

}  // namespace kelp
