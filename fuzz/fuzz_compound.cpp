// libFuzzer target: the compound-file reader over arbitrary bytes, every stream read and walked as records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"

namespace {

// A failure must leave a read error (or, for a huge stream, out of memory) behind.
void expectFailureCode() {
  uint32_t code = kelp::pendingError();
  if (code != 13 && code != 15) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  clearError();
  CompoundReader reader;
  if (!reader.open(std::vector<uint8_t>(data, data + size))) {
    expectFailureCode();
    clearError();
    return 0;
  }
  for (const std::u16string& name : reader.streamNames()) {
    clearError();
    if (!reader.hasStream(name)) __builtin_trap();
    std::vector<uint8_t> bytes;
    if (!reader.readStream(name, bytes)) {
      expectFailureCode();
      continue;
    }
    StorageDocStream stream(bytes);
    stream.allocateBuffer();
    std::vector<uint8_t> record(65535);
    uint16_t type, length;
    while (stream.ReadRecord(type, length, record.data())) {
    }
  }
  clearError();
  return 0;
}
