// libFuzzer target: the dBase table reader over arbitrary bytes, into a fresh one-sheet workbook.
#include <cstddef>
#include <cstdint>

#include "files/DbaseFile.h"
#include "files/DocStream.h"
#include "files/Document.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  clearError();
  {
    auto book = newWorkbook(1);
    book->codePage = size > 0 && (data[0] & 1) ? 850 : 1252;
    MemoryDocStream stream(data, size);
    stream.allocateBuffer();
    (void)readDbase(*book, stream);
  }
  (void)takeNotice();
  clearError();
  return 0;
}
