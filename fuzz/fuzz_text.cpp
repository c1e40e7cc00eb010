// libFuzzer target: delimited text read into a fresh one-sheet workbook, then written
// back as delimited text and an XML list. The first byte picks comma or tab, the code
// page and the encoding written.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/TextFiles.h"
#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelp;
  static const bool started = [] {
    startEngine();
    return true;
  }();
  (void)started;
  if (size < 1) return 0;
  const char16_t separator = (data[0] & 1) ? u'\t' : u',';
  clearError();
  auto book = newWorkbook(1);
  // A code page other than the default now and then, for texts that are no UTF-8.
  if (data[0] & 2) book->codePage = 1250;
  {
    MemoryDocStream stream(data + 1, size - 1);
    stream.allocateBuffer();
    (void)ReadDelimitedText(*book, *book->sheetAt(0), stream, separator, 0, 0);
  }
  clearError();
  {
    MemoryDocStream out;
    WriteDelimitedText(*book, *book->sheetAt(0), out, separator, static_cast<TextEncoding>((data[0] >> 2) % 5));
    WriteXmlList(*book, out);
  }
  // The notices of what reading cut or writing could not hold would pile up run after run.
  (void)takeNotices();
  clearError();
  return 0;
}
