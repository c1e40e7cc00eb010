// The 32-bit RGB pixel buffer every backend draws into, its PNG form, and pictures read from files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace kelp {

struct FrameBuffer {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // row by row, 0x00RRGGBB

  FrameBuffer() = default;
  FrameBuffer(int w, int h, Color fill = Colors::White) { resize(w, h, fill); }
  void resize(int w, int h, Color fill = Colors::White) {
    width = w > 0 ? w : 0;
    height = h > 0 ? h : 0;
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
  }
  Rect bounds() const { return {0, 0, width, height}; }
  uint32_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
  const uint32_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
  /// The colour at (x, y); black outside the buffer.
  Color pixel(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height ? row(y)[x] & 0xFFFFFF : Colors::Black;
  }
};

/// Writes an 8-bit RGB PNG; false (and error 14) when the file cannot be written.
bool writePng(const FrameBuffer& image, const std::string& path);
/// Reads a PNG of any colour type into RGB; false (and error 13) on a bad or missing file.
bool readPng(const std::string& path, FrameBuffer& image);
/// Reads a PNG, JPEG, GIF or BMP picture, told apart by its bytes; false (and error 13)
/// when the file is missing, damaged or of another kind. Builds without SDL2_image read
/// PNG alone.
bool readPicture(const std::string& path, FrameBuffer& image);
/// Whether readPicture knows JPEG, GIF and BMP in this build.
bool canReadPictureFormats();

}  // namespace kelp
