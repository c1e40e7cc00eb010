// kelpcli: Kelp's batch command line.
#include <cstdio>
#include <cstring>

#include "cli/Book.h"
#include "cli/Cli.h"
#include "edit/Commands.h"
#include "files/DbaseFile.h"
#include "files/ExternalRefs.h"
#include "files/PocketExcel.h"
#include "files/TextFiles.h"
#include "formula/Recalc.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

const char kUsage[] =
    "Usage: kelpcli COMMAND [OPTIONS]\n"
    "\n"
    "Kelp's batch command line.\n"
    "\n"
    "Commands:\n"
    "  eval [--set REF=ENTRY]... [--at REF] [--format N] [--locale NAME] ENTRY...\n"
    "        Types each ENTRY into a cell of a fresh three-sheet workbook (REF, default\n"
    "        Sheet1!IV65536), recalculates and prints the cell's value, one line per\n"
    "        ENTRY. --set types entries into other cells first (REF like A1 on Sheet1,\n"
    "        or Sheet2!B3). An ENTRY of - reads one entry per line from standard input.\n"
    "        --format shows results under the workbook's number format N instead of\n"
    "        General. A formula that does not compile prints \"error N: MESSAGE at P\".\n"
    "        --book FILE evaluates in that workbook instead (nothing is saved); the\n"
    "        default cell is then IV65536 of its first sheet.\n"
    "  convert IN OUT [--type N] [--sheet NAME|N] [--password P] [--new-password P]\n"
    "        [--encoding E] [--separator C]\n"
    "        Opens IN, recalculates and saves it as OUT, typed by OUT's extension\n"
    "        (.kp, .xls, .pxl, .csv, .txt, .dbf, .xml) or by --type: 0 Kelp, 1 CSV,\n"
    "        2 text, 3 dBase, 4 Pocket Excel, 6 Excel 95, 7 Excel 97, 8 XML list.\n"
    "        CSV, text and dBase hold one sheet: the active one, or the one --sheet\n"
    "        names (N counts from 1); the sheets left out are named on stderr. XML\n"
    "        takes the first sheet.\n"
    "        --encoding utf-8 writes .txt and .csv as UTF-8 without a byte order\n"
    "        mark (default: utf-16, UTF-16LE with its mark). --separator C splits\n"
    "        and joins .csv fields with C (\\t for a tab) instead of the locale's\n"
    "        list separator, for IN and OUT alike.\n"
    "  cat FILE [--sheet NAME|N] [--formulas] [--raw] [--password P]\n"
    "        Prints the used range of a sheet (default: the active one) as lines of\n"
    "        tab-separated display texts under each cell's number format.\n"
    "        --formulas prints formulas instead of their results; --raw prints\n"
    "        values as they would be typed (General, dates with a four-digit year\n"
    "        where two digits would read back as another century). A cell task\n"
    "        prints the text its cell shows (--formulas: its whole stored text,\n"
    "        \"TEXT#Task:TASK\"). Inside a field, a tab, a line break,\n"
    "        a carriage return and a backslash are written as \\t, \\n, \\r and \\\\.\n"
    "  set FILE REF=ENTRY... [-o OUT] [--password P] [--new-password P]\n"
    "        Types entries into cells as a user would, recalculates and saves (to OUT\n"
    "        or back to FILE). A FILE that does not exist starts as a new workbook;\n"
    "        one that exists but cannot be opened fails and is left as it is.\n"
    "        REF without a sheet is on the active sheet. Texts of more than 32764\n"
    "        characters are refused, as a file cannot hold them.\n"
    "  run FILE TASKTEXT... [-o OUT] [--sheet NAME|N] [--select REF] [--password P]\n"
    "        Runs each TASKTEXT as a task, in turn, on the active sheet (or the one\n"
    "        --sheet names) with REF (B2 or B2:D5) selected, then recalculates and\n"
    "        saves: to OUT when given, else back to FILE when the tasks changed it.\n"
    "        A FILE that does not exist starts as a new workbook and is created.\n"
    "        A TASKTEXT of - reads the task from standard input, @PATH from a file.\n"
    "        MsgBox prints its text on standard output; functions that need the\n"
    "        window (YesNoBox, InputBox, Chart, PlaySound, RunApp, ...) stop the task.\n"
    "        Every text is compiled first: one that does not compile prints \"error N:\n"
    "        MESSAGE at P\" and nothing runs. A task that fails, or Ctrl+C, ends the\n"
    "        run and saves nothing, the changes of tasks before it included (exit\n"
    "        status 1, or 130 after Ctrl+C). The workbook's own tasks run only when\n"
    "        a TASKTEXT calls them.\n"
    "  fill FILE REF down|right|series|auto [--by linear|growth|day|weekday|month|\n"
    "        year] [--step N] [--stop V] [--right] [--lists] [--seed N] [-o OUT]\n"
    "        [--password P]\n"
    "        Fills REF (B2:B13) on the active sheet and saves (to OUT or back to FILE):\n"
    "        down and right copy the first cell of each column or row (--lists\n"
    "        continues a custom list such as Jan, Feb); series continues the first\n"
    "        cell down (or --right) by --step (default 1) up to --stop; auto chooses\n"
    "        between them from the first --seed cells (default 1) as Autofill does.\n"
    "  chart FILE REF [ITEM...] -o OUT.png [--size WxH] [--sheet NAME|N] [--password P]\n"
    "  chart FILE --cell CELL [REF] -o OUT.png [--size WxH] [--sheet NAME|N]\n"
    "        Draws the chart of REF (B2:E6) to a PNG of WxH pixels (default 480x360),\n"
    "        as the Chart window draws it. Each ITEM is a chart option as the Chart\n"
    "        task function takes it: a type (Bar, Line, LineMarkers, Pie, XY, XYLines,\n"
    "        XYLinesMarkers), Type:NAME, Legend, Xgrid, Ygrid, Xaxis, Yaxis, AutoScale\n"
    "        (each alone or with :No), Series:Rows or Series:Columns, Title:TEXT,\n"
    "        XTitle:TEXT, YTitle:TEXT; of two items on one setting the leftmost wins.\n"
    "        --cell draws the chart CELL saved (its Chart(...) task), from REF or else\n"
    "        the cells the file has selected. A leading row or column without numbers\n"
    "        names the series and labels the points. More than 10000 cells is error 36.\n"
    "  info FILE [--password P]\n"
    "        Prints the file type, the sheets with their used ranges, the counts of\n"
    "        values and formulas, the defined names and the tasks.\n"
    "\n"
    "--password P answers the password prompt of a protected FILE or IN.\n"
    "A file another Kelp holds open is read as last saved; writing it is error 47.\n"
    "--new-password P saves convert's OUT or set's result protected by P (at most 19\n"
    "characters; only the Kelp format keeps a password); an empty P saves it without one.\n"
    "--links lets formulas of a FILE or IN read the other workbooks they name. Without\n"
    "it nothing else is read: those formulas keep the values the file holds, and stderr\n"
    "names the first one.\n"
    "\n"
    "Options:\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Locales: --locale NAME, else KELP_LOCALE, else LC_ALL / LC_NUMERIC / LC_TIME / LANG\n"
    "when they name a built-in locale (en_US, en_GB, de_DE, fr_FR, cs_CZ, ja_JP);\n"
    "US English otherwise.\n"
    "\n"
    "Exit status: 0 on success, 1 when an entry, task or file failed, 2 on a usage\n"
    "error, 130 when run was interrupted.\n";

// The cycle the last recalculation of the command's workbook found, told once at the end
// so that a command recalculating several times says it once. Only the workbook
// recalculated first counts: others are read for references into them.
const kelp::Workbook* g_noticeBook = nullptr;
std::u16string g_circularNotice;

void noteRecalculation(const kelp::Workbook& workbook, const std::u16string& notice) {
  if (!g_noticeBook) g_noticeBook = &workbook;
  if (&workbook == g_noticeBook) g_circularNotice = notice;
}

int runCommand(const char* command, kelp::cli::Args& args) {
  if (std::strcmp(command, "eval") == 0) return kelp::cli::runEval(args);
  if (std::strcmp(command, "run") == 0) return kelp::cli::runRun(args);
  if (std::strcmp(command, "fill") == 0) return kelp::cli::runFill(args);
  if (std::strcmp(command, "chart") == 0) return kelp::cli::runChart(args);
  int status = kelp::cli::runFileCommand(command, args);
  if (status >= 0) return status;
  std::fprintf(stderr, "kelpcli: unknown command '%s' (see kelpcli --help)\n", command);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0) {
    std::printf("kelpcli %s\n", KELP_VERSION);
    return 0;
  }
  kelp::useLargeHeapPages();
  kelp::startEditing();
  kelp::installDbaseFormat();
  kelp::installTextFormats();
  kelp::installExternalReferences();
  kelp::installPocketExcelFormat();
  // --links goes with any command, anywhere after it.
  int kept = 2;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--links") == 0) kelp::cli::allowLinks(true);
    else argv[kept++] = argv[i];
  }
  kelp::cli::Args args(kept, argv, 2);
  kelp::installRecalcObserver(noteRecalculation);
  const int status = runCommand(command, args);
  if (!g_circularNotice.empty())
    std::fprintf(stderr, "kelpcli: %s\n", kelp::utf16ToUtf8(g_circularNotice).c_str());
  return status;
}
