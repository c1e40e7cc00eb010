// libFuzzer target: the Excel record reader over arbitrary bytes, and the writer over
// whatever the reader made of them; the first byte picks BIFF8 (odd) or BIFF5.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelReader.h"
#include "files/ExcelWriter.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  if (size == 0) return 0;
  const bool biff8 = (data[0] & 1) != 0;
  clearError();
  {
    auto book = newWorkbook(0);
    MemoryDocStream stream(data + 1, size - 1);
    stream.allocateBuffer();
    const bool read = readExcelWorkbook(*book, stream, biff8);
    clearError();
    if (read && book->sheetCount() > 0) {
      // A workbook the reader accepted is written in the same form and must read back.
      std::vector<uint8_t> bytes;
      StorageDocStream out(bytes);
      if (!writeExcelWorkbook(*book, out, biff8)) std::abort();
      (void)takeNotice();
      StorageDocStream in(bytes);
      auto again = newWorkbook(0);
      if (!readExcelWorkbook(*again, in, biff8) && pendingError() != static_cast<uint32_t>(Err::UnsupportedFormula))
        std::abort();
      if (again->sheetCount() != book->sheetCount()) std::abort();
    }
  }
  clearError();
  return 0;
}
