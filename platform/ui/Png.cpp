// PNG reading and writing of frame buffers through libpng.
#include <png.h>

#include <cstdio>
#include <memory>

#include "platform/ErrorState.h"
#include "platform/ui/FrameBuffer.h"

namespace kelp {

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

}  // namespace

bool writePng(const FrameBuffer& image, const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file || image.width <= 0 || image.height <= 0) {
    setError(Err::FileWrite);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    setError(Err::OutOfMemory);
    return false;
  }
  std::vector<png_byte> rowBytes(static_cast<size_t>(image.width) * 3);
  // libpng reports failures by jumping back here; nothing below owns resources
  // that a jump would leak besides the two structs and the file.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    setError(Err::FileWrite);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    const uint32_t* src = image.row(y);
    for (int x = 0; x < image.width; ++x) {
      rowBytes[static_cast<size_t>(x) * 3] = static_cast<png_byte>(redOf(src[x]));
      rowBytes[static_cast<size_t>(x) * 3 + 1] = static_cast<png_byte>(greenOf(src[x]));
      rowBytes[static_cast<size_t>(x) * 3 + 2] = static_cast<png_byte>(blueOf(src[x]));
    }
    png_write_row(png, rowBytes.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) {
    setError(Err::FileWrite);
    return false;
  }
  return true;
}

bool readPng(const std::string& path, FrameBuffer& image) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  png_byte header[8];
  if (!file || std::fread(header, 1, 8, file.get()) != 8 || png_sig_cmp(header, 0, 8) != 0) {
    setError(Err::FileRead);
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    setError(Err::OutOfMemory);
    return false;
  }
  // Declared before setjmp so that a jump out of libpng still destroys them.
  std::vector<png_byte> rowBytes;
  FrameBuffer result;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    setError(Err::FileRead);
    return false;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (width == 0 || height == 0 || width > 16384 || height > 16384) png_error(png, "image size");
  // Every colour type becomes 8-bit RGB; alpha is dropped since frame buffers are opaque.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 3) png_error(png, "row layout");
  rowBytes.resize(static_cast<size_t>(width) * 3);
  result.resize(static_cast<int>(width), static_cast<int>(height));
  int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      uint32_t* dst = result.row(static_cast<int>(y));
      if (pass > 0) {
        for (png_uint_32 x = 0; x < width; ++x) {
          rowBytes[x * 3] = static_cast<png_byte>(redOf(dst[x]));
          rowBytes[x * 3 + 1] = static_cast<png_byte>(greenOf(dst[x]));
          rowBytes[x * 3 + 2] = static_cast<png_byte>(blueOf(dst[x]));
        }
      }
      png_read_row(png, rowBytes.data(), nullptr);
      for (png_uint_32 x = 0; x < width; ++x) dst[x] = rgb(rowBytes[x * 3], rowBytes[x * 3 + 1], rowBytes[x * 3 + 2]);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  image = std::move(result);
  return true;
}

}  // namespace kelp
