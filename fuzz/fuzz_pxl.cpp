// libFuzzer target: the Pocket Excel reader over arbitrary bytes, and the writer over
// whatever the reader made of them, whose file must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/PocketExcel.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  clearError();
  {
    auto book = newWorkbook(0);
    MemoryDocStream stream(data, size);
    stream.allocateBuffer();
    const bool read = ReadPocketExcel(*book, stream);
    // Success and an error code never come together.
    if (read != (pendingError() == 0)) std::abort();
    clearError();
    (void)takeNotice();
    if (read) {
      MemoryDocStream out;
      if (!WritePocketExcel(*book, out)) std::abort();
      out.Flush();
      (void)takeNotice();
      MemoryDocStream in(out.data(), out.size());
      auto again = newWorkbook(0);
      if (!ReadPocketExcel(*again, in)) std::abort();
      if (again->sheetCount() != book->sheetCount() || again->tasks.size() != book->tasks.size()) std::abort();
      (void)takeNotice();
    }
  }
  clearError();
  return 0;
}
