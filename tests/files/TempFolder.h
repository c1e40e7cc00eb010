// A scratch folder under /tmp for tests that write files, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <iterator>
#include <string>

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

}  // namespace kelp::test
