// libFuzzer target: the native reader over arbitrary bytes, as a workbook and as clipboard data.
#include <cstddef>
#include <cstdint>

#include "files/DocStream.h"
#include "files/NativeFormat.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  clearError();
  {
    auto book = newWorkbook(0);
    MemoryDocStream stream(data, size);
    stream.allocateBuffer();
    NativeReadOptions options;
    options.askPassword = [](std::u16string& entered, uint32_t error) {
      entered = u"pw";
      return error == 0;
    };
    (void)ReadNative(*book, stream, options);
  }
  clearError();
  {
    // Clipboard data lands in a sheet that already has content.
    auto book = newWorkbook(2);
    book->sheetAt(1)->setCell(3, 3, CellRecord{numberValue(1), -1});
    PasteTarget target;
    target.sheet = 1;
    target.column = 2;
    target.row = 2;
    NativeReadOptions options;
    options.paste = &target;
    MemoryDocStream stream(data, size);
    (void)ReadNative(*book, stream, options);
  }
  clearError();
  return 0;
}
