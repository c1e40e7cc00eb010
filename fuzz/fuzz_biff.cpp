// libFuzzer target: the Excel record reader over arbitrary bytes; the first byte picks BIFF8 (odd) or BIFF5.
#include <cstddef>
#include <cstdint>

#include "files/DocStream.h"
#include "files/ExcelReader.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  if (size == 0) return 0;
  clearError();
  {
    auto book = newWorkbook(0);
    MemoryDocStream stream(data + 1, size - 1);
    stream.allocateBuffer();
    (void)readExcelWorkbook(*book, stream, (data[0] & 1) != 0);
  }
  clearError();
  return 0;
}
