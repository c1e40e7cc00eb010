// kelpcli fill: Fill Down, Fill Right, series and Autofill over cells of a file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/Book.h"
#include "cli/Cli.h"
#include "edit/Commands.h"
#include "edit/Fill.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp::cli {

namespace {

struct FillOptions {
  std::vector<std::string> positional;
  std::string password;
  std::string output;
  SeriesSettings series;
  bool lists = false;
  int seed = 1;
};

bool readNumber(Args& args, std::string_view option, double& out) {
  std::string value;
  if (!args.takeValue(option, value)) return false;
  char* end = nullptr;
  out = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != 0) {
    usageError(std::string(option) + " takes a number");
    return false;
  }
  return true;
}

bool parseFillOptions(Args& args, FillOptions& options) {
  while (!args.done()) {
    std::string_view arg = args.take();
    std::string value;
    if (arg == "--password") {
      if (!args.takeValue(arg, options.password)) return false;
    } else if (arg == "-o" || arg == "--output") {
      if (!args.takeValue(arg, options.output)) return false;
    } else if (arg == "--right") {
      options.series.direction = FillDirection::Right;
    } else if (arg == "--lists") {
      options.lists = true;
    } else if (arg == "--step") {
      if (!readNumber(args, arg, options.series.step)) return false;
    } else if (arg == "--stop") {
      if (!readNumber(args, arg, options.series.stop)) return false;
      options.series.hasStop = true;
    } else if (arg == "--seed") {
      double n = 0;
      if (!readNumber(args, arg, n)) return false;
      if (n < 1 || n > 65536 || n != static_cast<int>(n)) return usageError("--seed takes a count of cells") == 0;
      options.seed = static_cast<int>(n);
    } else if (arg == "--by") {
      if (!args.takeValue(arg, value)) return false;
      static const char* const kUnits[] = {"day", "weekday", "month", "year"};
      SeriesSettings& s = options.series;
      if (value == "linear") {
        s.type = SeriesType::Linear;
      } else if (value == "growth") {
        s.type = SeriesType::Growth;
      } else {
        int unit = -1;
        for (int i = 0; i < 4; ++i)
          if (value == kUnits[i]) unit = i;
        if (unit < 0) return usageError("--by takes linear, growth, day, weekday, month or year") == 0;
        s.type = SeriesType::Date;
        s.dateUnit = static_cast<DateUnit>(unit);
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return usageError("unknown option '" + std::string(arg) + "' for fill") == 0;
    } else {
      options.positional.emplace_back(arg);
    }
  }
  return true;
}

}  // namespace

int runFill(Args& args) {
  FillOptions options;
  options.series.direction = FillDirection::Down;
  if (!parseFillOptions(args, options)) return 2;
  if (options.positional.size() != 3) return usageError("fill takes FILE, REF and down, right, series or auto");
  const std::string& path = options.positional[0];
  const std::string& mode = options.positional[2];
  if (mode != "down" && mode != "right" && mode != "series" && mode != "auto")
    return usageError("fill takes down, right, series or auto, not '" + mode + "'");
  Document document;
  if (!openBook(document, path, options.password)) return 1;
  Workbook& book = document.workbook();
  const int32_t sheet = book.activeSheetIndex();
  if (!selectCells(book, sheet, options.positional[1])) return 2;
  UndoList undo;
  bool done = false;
  if (mode == "down" || mode == "right") {
    done = mode == "down" ? fillDownCommand(book, undo, options.lists) : fillRightCommand(book, undo, options.lists);
  } else if (mode == "series") {
    done = seriesCommand(book, undo, options.series);
  } else {
    const Area area = book.sheetAt(sheet)->selection.area();
    Area source = area;
    const bool down = options.series.direction == FillDirection::Down;
    (down ? source.lastRow : source.lastColumn) =
        static_cast<uint16_t>((down ? area.firstRow : area.firstColumn) + options.seed - 1);
    if (down ? source.lastRow > area.lastRow : source.lastColumn > area.lastColumn)
      return usageError("--seed is more cells than REF holds");
    done = autoFill(book, undo, source, options.series.direction);
  }
  if (!done) {
    std::fprintf(stderr, "kelpcli: fill %s: %s\n", mode.c_str(),
                 pendingError() ? takeErrorText().c_str() : "nothing could be filled there");
    return 1;
  }
  return saveBook(document, options.output.empty() ? path : options.output, -1) ? 0 : 1;
}

}  // namespace kelp::cli
