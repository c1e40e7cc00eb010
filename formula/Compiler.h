// The formula compiler: formula and task text to a postfix token string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formula/Tokens.h"
#include "model/CellValue.h"

namespace kelp {

class Workbook;

/// The most bytes a compiled formula of a cell, name or validation rule may take, its
/// end op included; longer ones are refused with error 22 when they are entered. A
/// native file record (65535 bytes) then holds any formula, and a rule's two with its
/// texts. Tasks are stored as their text and have no such limit.
constexpr size_t MaxFormulaBytes = 16384;

/// The byte buffer the compiler emits into. It owns the text-pool references of the
/// string literals emitted so far and gives them back when discarded or destroyed.
class TokenSink {
 public:
  TokenSink() = default;
  TokenSink(const TokenSink&) = delete;
  TokenSink& operator=(const TokenSink&) = delete;
  ~TokenSink() { discard(); }

  /// False with error 15 when the buffer cannot grow.
  [[nodiscard]] bool append(const void* bytes, size_t length);
  [[nodiscard]] bool appendOp(Op op, const void* payload = nullptr, size_t length = 0);
  /// Overwrites bytes already emitted (jump offsets).
  void patch(size_t position, const void* bytes, size_t length);

  size_t size() const { return m_size; }
  const uint8_t* data() const { return m_data; }

  /// Releases the string literals emitted and empties the buffer.
  void discard();
  /// Empties the buffer; the string literals now belong to whoever copied the bytes.
  void forget() { m_size = 0; }

 private:
  uint8_t* m_data = nullptr;
  size_t m_size = 0;
  size_t m_capacity = 0;
};

/// Compiles `text` (a leading "=" is skipped) for the cell `base`. Returns -1, or the
/// position (in UTF-16 units after the "=") of the token where compiling stopped, with
/// the code in the error state and the sink emptied. In task mode the text is a
/// statement list and unknown names assigned to become task variables of `workbook`.
int32_t compileFormula(Workbook& workbook, std::u16string_view text, CellPosition base, TokenSink& sink,
                       bool taskMode);

/// Appends the end op and returns a model-heap block holding the u32 length and the
/// tokens, the form the formula pool stores; the sink is left empty and the block owns
/// its string literals. Null with error 15 when memory runs out (the sink keeps them).
uint8_t* finishTokens(TokenSink& sink);

/// Reads `text` as a single cell or area reference, with or without a sheet prefix,
/// exactly as a formula at `base` would read it, and adds nothing to the workbook (so
/// another workbook's prefix is refused). True and the area in `out`: kind 7 without a
/// sheet prefix, 9 with one, corners in order; false, reporting nothing, for any other text.
bool readReferenceText(Workbook& workbook, std::u16string_view text, CellPosition base, CellValue& out);

/// Compiles a cell entry starting with "=" into a formula value: a new detached entry
/// at `base` holding a new formula-pool entry (one reference). On an error `out` stays
/// empty and the error state holds the code.
void compileToValue(Workbook& workbook, std::u16string_view text, CellPosition base, CellValue& out);

/// Compiles `text` and stores it in the formula pool; NoHandle on an error.
uint32_t compileToHandle(Workbook& workbook, std::u16string_view text, CellPosition base, bool taskMode);

/// The sheet names of the workbook file an external reference names, with `directory` and
/// `name` as typed into a formula of `workbook`; false when the file cannot be read. The
/// file layer installs it; without it only the books and sheets already listed are known.
using ExternalSheetNamesFn = bool (*)(const Workbook& workbook, std::u16string_view directory,
                                      std::u16string_view name, std::vector<std::u16string>& sheets);
void installExternalSheetNames(ExternalSheetNamesFn fn);

}  // namespace kelp
