// kelpcli eval: entries typed into cells of a workbook, each result printed as a line.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/Book.h"
#include "cli/Cli.h"
#include "format/ValueText.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp::cli {

namespace {

struct EvalOptions {
  std::vector<std::pair<std::string, std::string>> sets;  // cell, entry
  std::string at;  // default: IV65536 on the first sheet, where --set types
  std::string locale;
  std::string book;
  std::string password;
  int32_t format = -1;
  std::vector<std::string> entries;
};

bool parseOptions(Args& args, EvalOptions& options) {
  while (!args.done()) {
    std::string_view arg = args.take();
    std::string value;
    if (arg == "--set") {
      if (!args.takeValue(arg, value)) return false;
      size_t eq = value.find('=');
      if (eq == std::string::npos || eq == 0) {
        usageError("--set takes REF=ENTRY");
        return false;
      }
      options.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else if (arg == "--at") {
      if (!args.takeValue(arg, options.at)) return false;
    } else if (arg == "--locale") {
      if (!args.takeValue(arg, options.locale)) return false;
    } else if (arg == "--book") {
      if (!args.takeValue(arg, options.book)) return false;
    } else if (arg == "--password") {
      if (!args.takeValue(arg, options.password)) return false;
    } else if (arg == "--format") {
      if (!args.takeValue(arg, value)) return false;
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != 0 || n < 0 || n > 0xFFFF) {
        usageError("--format takes a number format index");
        return false;
      }
      options.format = static_cast<int32_t>(n);
    } else if (arg == "--") {
      while (!args.done()) options.entries.emplace_back(args.take());
    } else if (arg.starts_with("--")) {
      usageError("unknown option '" + std::string(arg) + "'");
      return false;
    } else {
      // Entries may start with "-" (negative numbers, formulas with a sign).
      options.entries.emplace_back(arg);
    }
  }
  if (options.entries.empty()) {
    usageError("eval needs at least one ENTRY");
    return false;
  }
  return true;
}

}  // namespace

int runEval(Args& args) {
  EvalOptions options;
  if (!parseOptions(args, options)) return 2;
  if (!applyLocale(options.locale)) return 2;
  Document document;
  if (!options.book.empty() && !readBook(document, options.book, options.password)) return 1;
  Workbook* book = &document.workbook();
  if (book->sheetCount() == 0) {
    std::fprintf(stderr, "kelpcli: %s has no sheets\n", options.book.c_str());
    return 1;
  }
  if (options.format >= static_cast<int32_t>(book->numberFormats.size())) {
    std::fprintf(stderr, "kelpcli: there is no number format %d (0 to %zu)\n", options.format,
                 book->numberFormats.size() - 1);
    return 2;
  }

  int status = 0;
  for (const auto& [ref, entry] : options.sets) {
    CellName cell;
    if (!parseCellName(*book, utf8ToUtf16(ref), 0, cell)) return 2;
    std::string error;
    if (!typeEntry(*book, cell, utf8ToUtf16(entry), error)) {
      std::fprintf(stderr, "kelpcli: --set %s: %s\n", ref.c_str(), error.c_str());
      status = 1;
    }
  }
  CellName at;
  if (options.at.empty()) {
    // The sheet --set fills by default, so that plain references read what it typed.
    at = CellName{0, MaxColumns - 1, MaxRows - 1};
  } else if (!parseCellName(*book, utf8ToUtf16(options.at), 0, at)) {
    return 2;
  }
  const Sheet& sheet = *book->sheetAt(at.sheet);

  auto evaluate = [&](std::u16string_view entry) {
    std::string error;
    if (!typeEntry(*book, at, entry, error)) {
      printLine(utf8ToUtf16(error));
      status = 1;
      return;
    }
    // Typing the entry recalculated once; another pass would move a circular formula on.
    std::u16string text;
    const CellValue& value = sheet.cellValue(at.column, at.row);
    if (options.format >= 0)
      displayText(value, book->numberFormats, static_cast<uint32_t>(options.format), NoWidthLimit, nullptr, text);
    else
      valueToText(value, text);
    printLine(text);
  };

  for (const std::string& entry : options.entries) {
    if (entry != "-") {
      evaluate(utf8ToUtf16(entry));
      continue;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      evaluate(utf8ToUtf16(line));
    }
  }
  std::fflush(stdout);
  return status;
}

}  // namespace kelp::cli
