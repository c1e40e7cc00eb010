// kelpcli's file commands: convert, cat, set and info.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/Book.h"
#include "cli/Cli.h"
#include "files/Password.h"
#include "files/TextFiles.h"
#include "format/ValueText.h"
#include "formula/FormulaText.h"
#include "model/CellTaskText.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace kelp::cli {

namespace {

/// Options every file command shares; the rest are the command's own.
struct FileOptions {
  std::vector<std::string> positional;
  std::string password;
  std::string locale;
  std::string sheet;
  std::string output;
  std::string newPassword;
  bool changePassword = false;
  int type = -1;
  bool formulas = false;
  bool raw = false;
  TextFileOptions text;
};

bool parseFileOptions(Args& args, FileOptions& options, std::string_view command) {
  while (!args.done()) {
    std::string_view arg = args.take();
    std::string value;
    if (arg == "--password") {
      if (!args.takeValue(arg, options.password)) return false;
    } else if (arg == "--locale") {
      if (!args.takeValue(arg, options.locale)) return false;
    } else if (arg == "--new-password" && (command == "set" || command == "convert")) {
      if (!args.takeValue(arg, options.newPassword)) return false;
      if (utf8ToUtf16(options.newPassword).size() > MaxPasswordLength) {
        usageError("--new-password takes at most " + std::to_string(MaxPasswordLength) + " characters");
        return false;
      }
      options.changePassword = true;
    } else if (arg == "--sheet" && (command == "cat" || command == "convert")) {
      if (!args.takeValue(arg, options.sheet)) return false;
    } else if ((arg == "-o" || arg == "--output") && command == "set") {
      if (!args.takeValue(arg, options.output)) return false;
    } else if (arg == "--type" && command == "convert") {
      if (!args.takeValue(arg, value)) return false;
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != 0 || n < 0 || n > 8 || n == 5) {
        usageError("--type takes a file type: 0 Kelp, 1 CSV, 2 text, 3 dBase, 4 Pocket Excel, 6 Excel 95, "
                   "7 Excel 97, 8 XML");
        return false;
      }
      options.type = static_cast<int>(n);
    } else if (arg == "--encoding" && command == "convert") {
      if (!args.takeValue(arg, value)) return false;
      std::u16string name = utf8ToUtf16(value);
      if (equalsIgnoreCase(name, u"utf-8") || equalsIgnoreCase(name, u"utf8")) {
        options.text.encoding = TextEncoding::Utf8;
      } else if (equalsIgnoreCase(name, u"utf-16") || equalsIgnoreCase(name, u"utf-16le")) {
        options.text.encoding = TextEncoding::Utf16Le;
      } else {
        usageError("--encoding takes utf-8 or utf-16");
        return false;
      }
    } else if (arg == "--separator" && command == "convert") {
      if (!args.takeValue(arg, value)) return false;
      std::u16string separator = value == "\\t" ? std::u16string(u"\t") : utf8ToUtf16(value);
      // A quote, a line break or a second character would make fields nobody can split.
      if (separator.size() != 1 || separator[0] == u'"' || (separator[0] < 32 && separator[0] != u'\t')) {
        usageError("--separator takes one character other than a double quote or a line break");
        return false;
      }
      options.text.csvSeparator = separator[0];
    } else if (arg == "--formulas" && command == "cat") {
      options.formulas = true;
    } else if (arg == "--raw" && command == "cat") {
      options.raw = true;
    } else if (arg.starts_with("--")) {
      usageError("unknown option '" + std::string(arg) + "' for " + std::string(command));
      return false;
    } else {
      options.positional.emplace_back(arg);
    }
  }
  return applyLocale(options.locale);
}

/// What a cell shows in `cat`: its display text under its own number format, its
/// formula, or its value as it is typed. A formula too long to show gives the message
/// of error 22 in its place, on stderr too, and makes `failed` true.
std::u16string cellShown(const Workbook& book, const Sheet& sheet, int32_t column, int32_t row,
                         const FileOptions& options, bool& failed) {
  std::u16string text;
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell || cell->value.kind == ValueKind::Empty) return text;
  if (options.formulas && cell->value.kind == ValueKind::Formula) {
    if (!editableText(cell->value, text)) {
      std::u16string name = sheet.name + u"!" + cellAddress(column, row);
      std::fprintf(stderr, "kelpcli: %s: error %u: %s\n", utf16ToUtf8(name).c_str(),
                   static_cast<unsigned>(Err::FormulaTooComplex), utf16ToUtf8(text).c_str());
      failed = true;
    }
    return text;
  }
  const CellValue& value = effectiveValue(cell->value);
  // A cell task shows only its text; --formulas shows the task too, as it shows what
  // stands behind a formula's result.
  if (value.kind == ValueKind::Text && !options.formulas && hasCellTask(textOf(value)))
    return std::u16string(cellTaskDisplay(textOf(value)));
  if (options.raw) {
    (void)editableText(value, text);  // never a formula here
    return text;
  }
  uint32_t format = book.style(sheet.effectiveStyle(column, row)).numberFormat;
  displayText(value, book.numberFormats, format, NoWidthLimit, nullptr, text);
  return text;
}

/// A field of a `cat` line: tabs, line breaks and backslashes escaped, so that every
/// line stays one row and every tab a column boundary.
std::u16string escapedField(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'\\': out += u"\\\\"; break;
      case u'\t': out += u"\\t"; break;
      case u'\n': out += u"\\n"; break;
      case u'\r': out += u"\\r"; break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

int runCat(Args& args) {
  FileOptions options;
  if (!parseFileOptions(args, options, "cat")) return 2;
  if (options.positional.size() != 1) return usageError("cat takes one FILE");
  Document document;
  if (!readBook(document, options.positional[0], options.password)) return 1;
  const Workbook& book = document.workbook();
  const int32_t index = chosenSheet(book, options.positional[0], options.sheet);
  if (index < 0) return 1;
  const Sheet* sheet = book.sheetAt(index);
  if (!sheet) return 0;
  int32_t lastRow = sheet->lastUsedRow(-1);
  int32_t lastColumn = sheet->lastUsedColumn();
  bool failed = false;
  for (int32_t row = 0; row <= lastRow; ++row) {
    std::u16string line;
    for (int32_t column = 0; column <= lastColumn; ++column) {
      if (column > 0) line.push_back(u'\t');
      line += escapedField(cellShown(book, *sheet, column, row, options, failed));
    }
    printLine(line);
  }
  std::fflush(stdout);
  return failed ? 1 : 0;
}

/// Saves what a command made of the document, with the password --new-password gave.
bool saveResult(Document& document, const std::string& path, const FileOptions& options) {
  if (options.changePassword) (void)setWorkbookPassword(document.workbook(), utf8ToUtf16(options.newPassword));
  return saveBook(document, path, options.type);
}

int runConvert(Args& args) {
  FileOptions options;
  if (!parseFileOptions(args, options, "convert")) return 2;
  if (options.positional.size() != 2) return usageError("convert takes IN and OUT");
  setTextFileOptions(options.text);
  const DocFileType outType =
      options.type < 0 ? FileTypeFromName(utf8ToUtf16(options.positional[1])) : static_cast<DocFileType>(options.type);
  if (!options.sheet.empty() && outType != DocFileType::CommaText && outType != DocFileType::TabText &&
      outType != DocFileType::Dbase)
    return usageError("--sheet chooses the sheet of a .csv, .txt or .dbf OUT; other types keep their sheets");
  Document document;
  // Nothing is saved after a failed open, so a damaged IN converted onto itself stays.
  // IN is only read, and not held: converting a file onto itself must not meet its own lock.
  if (!readBook(document, options.positional[0], options.password)) return 1;
  Workbook& book = document.workbook();
  const int32_t index = chosenSheet(book, options.positional[0], options.sheet);
  if (index < 0) return 1;
  book.setActiveSheet(index);  // the one-sheet types write the active sheet
  // Opening recalculated the workbook already, so it is saved as it stands.
  const bool saved = saveResult(document, options.positional[1], options);
  keepUntilExit(document);
  return saved ? 0 : 1;
}

int runSet(Args& args) {
  FileOptions options;
  if (!parseFileOptions(args, options, "set")) return 2;
  if (options.positional.size() < 2) return usageError("set takes FILE and at least one REF=ENTRY");
  const std::string& path = options.positional[0];
  Document document;
  // Only a name that does not exist starts a new workbook: a file that is there but
  // cannot be read, or is damaged, fails here and is never replaced.
  if (pathExists(path) && !openBook(document, path, options.password)) return 1;
  // A text file is written back in the encoding and with the separator it was read with.
  const DocFileType inType = FileTypeFromName(utf8ToUtf16(path));
  if (pathExists(path) && (inType == DocFileType::CommaText || inType == DocFileType::TabText)) {
    TextFileOptions kept = textFileFound();
    if (inType != DocFileType::CommaText) kept.csvSeparator = 0;
    setTextFileOptions(kept);
  }
  Workbook& book = document.workbook();
  if (book.sheetCount() == 0) {
    std::fprintf(stderr, "kelpcli: %s has no sheets\n", path.c_str());
    return 1;
  }
  int status = 0;
  size_t accepted = 0;
  for (size_t i = 1; i < options.positional.size(); ++i) {
    const std::string& assignment = options.positional[i];
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) return usageError("'" + assignment + "' is not REF=ENTRY");
    CellName cell;
    if (!parseCellName(book, utf8ToUtf16(assignment.substr(0, eq)), book.activeSheetIndex(), cell)) return 2;
    std::string error;
    if (!typeEntry(book, cell, utf8ToUtf16(assignment.substr(eq + 1)), error)) {
      std::fprintf(stderr, "kelpcli: %s: %s\n", assignment.c_str(), error.c_str());
      status = 1;
    } else {
      ++accepted;
    }
  }
  // When every entry was refused nothing changed, and a file saved anyway would come
  // back in Kelp's own writing of its format.
  if (accepted == 0 && pathExists(path) && options.output.empty() && !options.changePassword) return status;
  // Each entry recalculated as it was typed, and opening recalculated the rest.
  if (!saveResult(document, options.output.empty() ? path : options.output, options)) return 1;
  return status;
}

int runInfo(Args& args) {
  FileOptions options;
  if (!parseFileOptions(args, options, "info")) return 2;
  if (options.positional.size() != 1) return usageError("info takes one FILE");
  Document document;
  if (!readBook(document, options.positional[0], options.password)) return 1;
  const Workbook& book = document.workbook();
  static const char* const kTypes[] = {"Kelp",         "CSV", "text",     "dBase", "Pocket Excel",
                                       "",             "Excel 95", "Excel 97", "XML list"};
  // A text or dBase file becomes a Kelp workbook as it opens; the name says what it was.
  const DocFileType named = FileTypeFromName(utf8ToUtf16(options.positional[0]));
  const bool textLike = named == DocFileType::CommaText || named == DocFileType::TabText || named == DocFileType::Dbase;
  const uint32_t type = textLike ? static_cast<uint32_t>(named) : book.fileType;
  std::printf("type: %s\n", type < 9 ? kTypes[type] : "unknown");
  std::printf("sheets: %d\n", book.sheetCount());
  int64_t values = 0;
  int64_t formulas = 0;
  for (int32_t s = 0; s < book.sheetCount(); ++s) {
    const Sheet& sheet = *book.sheetAt(s);
    int32_t lastRow = sheet.lastUsedRow(-1);
    int32_t lastColumn = sheet.lastUsedColumn();
    std::u16string line = u"  " + sheet.name;
    if (s == book.activeSheetIndex()) line += u" (active)";
    if (sheet.visibility == SheetVisibility::Hidden) line += u" (hidden)";
    line += lastRow < 0 ? u": empty" : u": " + cellAddress(0, 0) + u":" + cellAddress(lastColumn, lastRow);
    printLine(line);
    for (int32_t row = sheet.nextRow(-1); row < NoRow; row = sheet.nextRow(row))
      for (int32_t col = sheet.nextValueInRow(row, -1); col < NoColumn; col = sheet.nextValueInRow(row, col)) {
        ++values;
        if (sheet.cellPtr(col, row)->value.kind == ValueKind::Formula) ++formulas;
      }
  }
  std::printf("values: %lld\nformulas: %lld\n", static_cast<long long>(values), static_cast<long long>(formulas));
  std::printf("names: %zu\n", book.names.size());
  for (const DefinedName& name : book.names) {
    std::u16string line = u"  " + name.text;
    if (name.definition != NoHandle) {
      std::u16string definition;
      formulaText(book, static_cast<const uint8_t*>(formulaPool().data(name.definition)), CellPosition{0, 0, 0},
                  definition);
      line += u" " + definition;
    }
    printLine(line);
  }
  std::printf("tasks: %zu\n", book.tasks.size());
  for (const WorkbookTask& task : book.tasks) printLine(u"  " + task.name);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int runFileCommand(std::string_view command, Args& args) {
  if (command == "cat") return runCat(args);
  if (command == "convert") return runConvert(args);
  if (command == "set") return runSet(args);
  if (command == "info") return runInfo(args);
  return -1;
}

}  // namespace kelp::cli
