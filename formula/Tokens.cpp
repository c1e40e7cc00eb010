// Op names and the walks over token strings that every holder of one needs.
#include "formula/Tokens.h"

#include "model/CellValue.h"
#include "model/HandlePool.h"

namespace kelp {

const char* opName(uint8_t op) {
  switch (op) {
#define KELP_OP(number, name, payload, handler) \
  case number:                         \
    return #name;
#include "formula/Ops.def"
#undef KELP_OP
    default:
      return "?";
  }
}

void releaseTokenTexts(const uint8_t* tokens, size_t length) {
  size_t at = 0;
  while (at < length) {
    uint8_t op = tokens[at];
    uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return;
    if (op == static_cast<uint8_t>(Op::String)) textPool().release(readU32(tokens + at + 1));
    at += 1 + size;
  }
}

void releaseEntryTexts(void* data) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  releaseTokenTexts(bytes + 4, readU32(bytes));
}

}  // namespace kelp
