// Text files: tab- and comma-delimited text read and written, and the XML list writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelp {

class DocStream;
class Sheet;
class Workbook;

/// How delimited text is written. Reading tells the encodings apart by itself.
enum class TextEncoding {
  Utf16Le,       // with the byte order mark FF FE, as Kelp always wrote
  Utf8,          // without a mark
  Utf8WithMark,  // with the mark EF BB BF
  Utf16Be,       // with the mark FE FF
  CodePage,      // a byte per character in the workbook's code page, "?" for one it lacks
};

/// Writes the sheet's display texts, a line per row up to its last row with a value,
/// each line ended by CR LF; a number under General as the shortest text that reads
/// back to it. A field holding the separator, a double quote, a line
/// break or a leading space is enclosed in double quotes with its quotes doubled.
void WriteDelimitedText(const Workbook& workbook, const Sheet& sheet, DocStream& stream, char16_t separator,
                        TextEncoding encoding = TextEncoding::Utf16Le);

/// Reads delimited text into `sheet` from (firstColumn, firstRow) on, each field read as
/// a typed entry (a leading "=" stays text). Quoted fields may hold separators, doubled
/// quotes and line breaks. The text is read a piece at a time and reading stops at the
/// sheet's last row; what had to be cut or left out is told in notices. `found`
/// receives the encoding the text came in. False when the error state holds a code.
bool ReadDelimitedText(Workbook& workbook, Sheet& sheet, DocStream& stream, char16_t separator,
                       int32_t firstColumn, int32_t firstRow, TextEncoding* found = nullptr);

/// Writes the first sheet as an XML list: row 0 names the elements, every later row is
/// one element named after the sheet. Names are made valid XML names, texts escaped.
void WriteXmlList(const Workbook& workbook, DocStream& stream);

/// Byte text as characters: a byte order mark (UTF-16LE, UTF-16BE, UTF-8) decides;
/// without one, valid UTF-8 with non-ASCII bytes is UTF-8, anything else `codePage`.
std::u16string decodeText(const uint8_t* bytes, size_t count, uint32_t codePage);

/// What the registered CSV reader and writer use in place of the locale's list
/// separator (0: the locale's), and how delimited text is written.
struct TextFileOptions {
  char16_t csvSeparator = 0;
  TextEncoding encoding = TextEncoding::Utf16Le;
};
void setTextFileOptions(const TextFileOptions& options);
const TextFileOptions& textFileOptions();
/// The separator and encoding the last text document opened was read with, so that a
/// save over it can keep them.
const TextFileOptions& textFileFound();

/// Registers the readers of types 1 and 2 and the writers of types 1, 2 and 8.
void installTextFormats();

}  // namespace kelp
