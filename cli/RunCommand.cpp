// kelpcli run: task texts run on a workbook, which is saved when they changed it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/Book.h"
#include "cli/Cli.h"
#include "formula/Catalogue.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "edit/Commands.h"
#include "tasks/TaskFunctions.h"
#include "tasks/Tasks.h"

namespace kelp::cli {

namespace {

struct RunOptions {
  std::string path;
  std::vector<std::string> tasks;  // as given: a text, "-" or "@PATH"
  std::string output;
  std::string sheet;
  std::string select;
  std::string password;
  std::string locale;
};

// MsgBox shows its text as a line on standard output; the answer is always OK.
void messageBox() {
  std::u16string text = popTextCopy();
  printLine(text);
  std::fflush(stdout);
  pushLogical(1);
}

// The name of the window-only function that ended the run, for the message.
const char16_t* g_windowFunction = nullptr;

// A function that asks the user or shows something beyond text ends the task.
template <int32_t Index>
void needsWindow() {
  discard(argCount());
  g_windowFunction = functionRow(Index).name;
  setError(Err::NeedsWindow);
  EvalState& state = evalState();
  state.ok = false;
  state.running = false;
  pushLogical(0);
}

constexpr FunctionBinding kCommandLineFunctions[] = {
    {253, messageBox},        {254, needsWindow<254>},  // MsgBox, YesNoBox
    {274, needsWindow<274>},  {275, needsWindow<275>},  // InputBox, ListBox
    {286, needsWindow<286>},  {284, needsWindow<284>},  // ListBox2, FileBox
    {297, needsWindow<297>},  {263, needsWindow<263>},  // ComboBox, FindDialog
    {250, needsWindow<250>},  {283, needsWindow<283>},  // Chart, ShowPicture
    {282, needsWindow<282>},  {296, needsWindow<296>},  // PlaySound, Beep
    {285, needsWindow<285>},  {291, needsWindow<291>},  // RunApp, IBrowser
};

// The one place that binds the functions tasks may call in kelpcli. The window-only
// rows are bound here first, so that the command line's answers are the ones used.
void installCommandLineTaskFunctions() { bindFunctions(kCommandLineFunctions); }

void stopOnInterrupt() { TaskRun::requestStop(); }

bool parseOptions(Args& args, RunOptions& options) {
  std::vector<std::string> positional;
  while (!args.done()) {
    std::string_view arg = args.take();
    if (arg == "-o" || arg == "--output") {
      if (!args.takeValue(arg, options.output)) return false;
    } else if (arg == "--sheet") {
      if (!args.takeValue(arg, options.sheet)) return false;
    } else if (arg == "--select") {
      if (!args.takeValue(arg, options.select)) return false;
    } else if (arg == "--password") {
      if (!args.takeValue(arg, options.password)) return false;
    } else if (arg == "--locale") {
      if (!args.takeValue(arg, options.locale)) return false;
    } else if (arg == "--") {
      while (!args.done()) positional.emplace_back(args.take());
    } else if (arg.starts_with("--")) {
      usageError("unknown option '" + std::string(arg) + "' for run");
      return false;
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.size() < 2) {
    usageError("run takes FILE and at least one TASKTEXT");
    return false;
  }
  options.path = positional[0];
  options.tasks.assign(positional.begin() + 1, positional.end());
  return applyLocale(options.locale);
}

// The task text an argument stands for; false with a message when it cannot be read.
bool readTaskText(const std::string& argument, std::u16string& out) {
  std::string bytes;
  if (argument == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else if (argument.starts_with("@")) {
    std::string path = argument.substr(1);
    File file;
    if (file.open(path, FileAccess::Read) != FileError::None) {
      std::fprintf(stderr, "kelpcli: %s: the task file cannot be read\n", path.c_str());
      return false;
    }
    char chunk[4096];
    for (;;) {
      int64_t got = file.read(chunk, sizeof chunk);
      if (got < 0) {
        std::fprintf(stderr, "kelpcli: %s: the task file cannot be read\n", path.c_str());
        return false;
      }
      if (got == 0) break;
      bytes.append(chunk, static_cast<size_t>(got));
    }
  } else {
    bytes = argument;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  out = utf8ToUtf16(bytes);  // line breaks are blanks to the compiler and end comments
  return true;
}

// The sheet --sheet names, by name or by number from 1; -1 with a message when none.
int32_t chosenSheet(const Workbook& book, const RunOptions& options) {
  if (options.sheet.empty()) return book.activeSheetIndex();
  int32_t index = book.findSheet(utf8ToUtf16(options.sheet));
  char* end = nullptr;
  long n = std::strtol(options.sheet.c_str(), &end, 10);
  if (index < 0 && *end == 0 && n >= 1 && n <= book.sheetCount()) index = static_cast<int32_t>(n - 1);
  if (index < 0) std::fprintf(stderr, "kelpcli: %s has no sheet '%s'\n", options.path.c_str(), options.sheet.c_str());
  return index;
}

// How the tasks ended: 0 when all were done, else the exit status.
int runTasks(Workbook& book, const std::vector<std::u16string>& texts) {
  TaskRun::clearStop();
  (void)onInterrupt(stopOnInterrupt);
  int status = 0;
  for (size_t i = 0; i < texts.size() && status == 0; ++i) {
    clearError();
    g_windowFunction = nullptr;
    TaskRunResult result = runTask(book, texts[i]);
    switch (result.outcome) {
      case TaskOutcome::Done:
        break;
      case TaskOutcome::NotCompiled:  // only when the check before passed and the run did not
        std::printf("%s at %d\n", takeErrorText().c_str(), result.position < 0 ? 0 : result.position);
        status = 1;
        break;
      case TaskOutcome::Failed: {
        std::string where = "task " + std::to_string(i + 1);
        if (g_windowFunction) where += ": " + utf16ToUtf8(g_windowFunction);
        std::fprintf(stderr, "kelpcli: %s: %s\n", where.c_str(), takeErrorText().c_str());
        status = 1;
        break;
      }
      case TaskOutcome::Stopped:
        std::fprintf(stderr, "kelpcli: task %zu: interrupted, nothing saved\n", i + 1);
        status = 130;
        break;
    }
  }
  (void)onInterrupt(nullptr);
  std::fflush(stdout);
  return status;
}

}  // namespace

int runRun(Args& args) {
  RunOptions options;
  if (!parseOptions(args, options)) return 2;
  installCommandLineTaskFunctions();
  std::vector<std::u16string> texts;
  for (const std::string& argument : options.tasks) {
    texts.emplace_back();
    if (!readTaskText(argument, texts.back())) return 1;
  }

  Document document;
  // Nothing is undone on the command line, but the task functions record their changes
  // as the window does, so that they behave the same.
  UndoList undo;
  installTaskFunctions(&undo, &document);
  // As with set, only a name that does not exist starts a new workbook.
  bool isNew = !pathExists(options.path);
  if (!isNew && !openBook(document, options.path, options.password)) return 1;
  Workbook& book = document.workbook();
  if (book.sheetCount() == 0) {
    std::fprintf(stderr, "kelpcli: %s has no sheets\n", options.path.c_str());
    return 1;
  }
  int32_t sheet = chosenSheet(book, options);
  if (sheet < 0) return 1;
  book.setActiveSheet(sheet);
  if (!options.select.empty() && !selectCells(book, sheet, options.select)) return 2;
  book.modified = false;

  // Every text is compiled before any runs, so that a mistake in the last one leaves
  // the workbook as it was.
  for (const std::u16string& text : texts) {
    clearError();
    int32_t position = checkTaskText(book, text);
    if (position >= 0) {
      std::printf("%s at %d\n", takeErrorText().c_str(), position);
      std::fflush(stdout);
      return 1;
    }
  }
  int status = runTasks(book, texts);
  if (status != 0) return status;  // a failed or interrupted run saves nothing

  recalculateAll(book);
  bool toOther = !options.output.empty();
  if (!toOther && !isNew && !book.modified) return 0;
  return saveBook(document, toOther ? options.output : options.path, -1) ? 0 : 1;
}

}  // namespace kelp::cli
