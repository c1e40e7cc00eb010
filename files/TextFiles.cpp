// Text files: the registered readers and writers of types 1, 2 and 8 and their options.
#include "files/TextFiles.h"

#include "files/DocStream.h"
#include "files/Document.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {

namespace {

TextFileOptions g_options;
TextFileOptions g_found;

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
  g_found.csvSeparator = separatorFor(type);
  return ReadDelimitedText(workbook, *sheet, stream, g_found.csvSeparator, 0, 0, &g_found.encoding);
}

void writeTextDocument(Workbook& workbook, DocStream& stream, DocFileType type) {
  if (type == DocFileType::XmlList) {
    WriteXmlList(workbook, stream);
    return;
  }
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) {
    const Sheet none;  // an empty sheet: just the mark the encoding begins with
    WriteDelimitedText(workbook, none, stream, separatorFor(type), g_options.encoding);
    return;
  }
  WriteDelimitedText(workbook, *sheet, stream, separatorFor(type), g_options.encoding);
}

}  // namespace

void setTextFileOptions(const TextFileOptions& options) { g_options = options; }
const TextFileOptions& textFileOptions() { return g_options; }
const TextFileOptions& textFileFound() { return g_found; }

void installTextFormats() {
  installDocumentReader(DocFileType::CommaText, readTextDocument);
  installDocumentReader(DocFileType::TabText, readTextDocument);
  installDocumentWriter(DocFileType::CommaText, writeTextDocument);
  installDocumentWriter(DocFileType::TabText, writeTextDocument);
  installDocumentWriter(DocFileType::XmlList, writeTextDocument);
}

}  // namespace kelp
