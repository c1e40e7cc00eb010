// A scratch folder under /tmp for tests that write files, removed with everything in it,
// and the reading of a whole file.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace kelp::test {

struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    char name[] = "/tmp/kelp-test-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::u16string file(const char* name) const { return utf8ToUtf16((path / name).string()); }
  size_t entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path),
                                             std::filesystem::directory_iterator()));
  }
};

/// The whole contents of a file; empty when it cannot be read.
inline std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline std::vector<uint8_t> fileBytes(const std::u16string& name) {
  return fileBytes(std::filesystem::path(utf16ToUtf8(name)));
}

}  // namespace kelp::test
