// Pictures read from files: PNG through libpng, JPEG, GIF and BMP through SDL2_image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/ErrorState.h"
#include "platform/ui/FrameBuffer.h"

#ifdef KELP_HAVE_SDL2_IMAGE
#include <SDL.h>
#include <SDL_image.h>
#endif

namespace kelp {

namespace {

constexpr int MaxPictureSide = 16384;
constexpr uint64_t MaxPicturePixels = 40'000'000;  // far beyond any screen; 160 MB decoded

bool startsAsPng(const std::string& path) {
  static constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char head[8] = {};
  const bool png = std::fread(head, 1, 8, file) == 8 && std::equal(head, head + 8, signature);
  std::fclose(file);
  return png;
}

#ifdef KELP_HAVE_SDL2_IMAGE
// Four bytes of a little-endian or big-endian header field.
uint32_t le(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<size_t>(i)];
  return v;
}
uint32_t be16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at]) << 8 | b[at + 1]; }

// The size a BMP, GIF or JPEG header claims, read before decoding: a header of a few
// bytes can claim a picture of gigabytes, which the decoder would allocate and fill.
bool claimedSize(const std::string& path, uint32_t& width, uint32_t& height) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::vector<uint8_t> b(65536);
  b.resize(std::fread(b.data(), 1, b.size(), file));
  std::fclose(file);
  if (b.size() >= 26 && b[0] == 'B' && b[1] == 'M') {
    width = le(b, 18, 4);
    const auto rows = static_cast<int32_t>(le(b, 22, 4));  // negative rows run top down
    height = rows < 0 ? 0u - static_cast<uint32_t>(rows) : static_cast<uint32_t>(rows);
    return true;
  }
  if (b.size() >= 10 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F') {
    width = le(b, 6, 2);
    height = le(b, 8, 2);
    return true;
  }
  if (b.size() >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
    // The first start-of-frame segment holds the size; markers C4, C8 and CC are not frames.
    for (size_t at = 2; at + 9 <= b.size() && b[at] == 0xFF;) {
      const uint8_t marker = b[at + 1];
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        height = be16(b, at + 5);
        width = be16(b, at + 7);
        return true;
      }
      at += 2 + be16(b, at + 2);
    }
  }
  return false;
}

// SDL2_image finds the format from the bytes, not the name, so a renamed file still reads.
bool readWithSdlImage(const std::string& path, FrameBuffer& image) {
  uint32_t width = 0, height = 0;
  if (!claimedSize(path, width, height) || width == 0 || height == 0 || width > MaxPictureSide ||
      height > MaxPictureSide || uint64_t(width) * height > MaxPicturePixels)
    return false;
  SDL_Surface* loaded = IMG_Load(path.c_str());
  if (!loaded) return false;
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB888, 0);
  SDL_FreeSurface(loaded);
  if (!rgb) return false;
  const bool fits = rgb->w > 0 && rgb->h > 0 && rgb->w <= MaxPictureSide && rgb->h <= MaxPictureSide;
  if (fits) {
    FrameBuffer result(rgb->w, rgb->h);
    SDL_LockSurface(rgb);
    for (int y = 0; y < rgb->h; ++y) {
      const auto* src = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(rgb->pixels) + y * rgb->pitch);
      uint32_t* dst = result.row(y);
      for (int x = 0; x < rgb->w; ++x) dst[x] = src[x] & 0xFFFFFF;
    }
    SDL_UnlockSurface(rgb);
    image = std::move(result);
  }
  SDL_FreeSurface(rgb);
  return fits;
}
#endif

}  // namespace

bool readPicture(const std::string& path, FrameBuffer& image) {
  if (startsAsPng(path)) return readPng(path, image);
#ifdef KELP_HAVE_SDL2_IMAGE
  if (readWithSdlImage(path, image)) return true;
  SDL_ClearError();
#endif
  setError(Err::FileRead);
  return false;
}

bool canReadPictureFormats() {
#ifdef KELP_HAVE_SDL2_IMAGE
  return true;
#else
  return false;
#endif
}

}  // namespace kelp
