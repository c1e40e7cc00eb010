// Text files: the registered readers and writers of types 1, 2 and 8 and their options.
#include "files/TextFiles.h"

#include "files/DocStream.h"
#include "files/Document.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {

namespace {

TextFileOptions g_options;

char16_t separatorFor(DocFileType type) {
  if (type == DocFileType::TabText) return u'\t';
  return g_options.csvSeparator ? g_options.csvSeparator : currentLocale().listSeparator;
}

bool readTextDocument(Workbook& workbook, DocStream& stream, DocFileType type) {
  Sheet* sheet = workbook.sheetAt(0);
  if (!sheet) {
    setError(Err::OutOfMemory);
    return false;
  }
  return ReadDelimitedText(workbook, *sheet, stream, separatorFor(type), 0, 0);
}

void writeTextDocument(Workbook& workbook, DocStream& stream, DocFileType type) {
  if (type == DocFileType::XmlList) {
    WriteXmlList(workbook, stream);
    return;
  }
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) {
    static const uint8_t mark[2] = {0xFF, 0xFE};
    if (g_options.encoding == TextEncoding::Utf16Le) stream.Write(mark, 2);
    return;
  }
  WriteDelimitedText(workbook, *sheet, stream, separatorFor(type), g_options.encoding);
}

}  // namespace

void setTextFileOptions(const TextFileOptions& options) { g_options = options; }
const TextFileOptions& textFileOptions() { return g_options; }

void installTextFormats() {
  installDocumentReader(DocFileType::CommaText, readTextDocument);
  installDocumentReader(DocFileType::TabText, readTextDocument);
  installDocumentWriter(DocFileType::CommaText, writeTextDocument);
  installDocumentWriter(DocFileType::TabText, writeTextDocument);
  installDocumentWriter(DocFileType::XmlList, writeTextDocument);
}

}  // namespace kelp
