// Shared pieces of kelpcli's commands: argument reading, cell names, output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Workbook;

namespace cli {

/// The arguments after the command name, read front to back.
class Args {
 public:
  Args(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) m_items.emplace_back(argv[i]);
  }
  bool done() const { return m_next >= m_items.size(); }
  std::string_view peek() const { return m_items[m_next]; }
  std::string_view take() { return m_items[m_next++]; }
  /// The value after an option such as --at; false (with a message) when it is missing.
  bool takeValue(std::string_view option, std::string& out);

 private:
  std::vector<std::string> m_items;
  size_t m_next = 0;
};

/// A cell named as "B3" (on the default sheet) or "Sheet2!B3" / "'My Sheet'!B3".
struct CellName {
  int32_t sheet = 0;
  uint16_t column = 0;
  uint16_t row = 0;
};
/// False with a message on stderr when `text` names no cell of `workbook`.
bool parseCellName(const Workbook& workbook, std::u16string_view text, int32_t defaultSheet, CellName& out);

/// Selects REF ("B2" or "B2:D5") on the sheet; false with a message when it names no cells.
bool selectCells(Workbook& book, int32_t sheetIndex, const std::string& ref);
/// Prints one line of UTF-16 text as UTF-8.
void printLine(std::u16string_view text);
/// "kelpcli: " and the message on stderr; returns the exit status for usage errors.
int usageError(std::string_view message);
/// The message of the pending error ("error N: MESSAGE"), clearing it.
std::string takeErrorText();

/// Applies --locale, else KELP_LOCALE and the environment; false for an unknown name.
bool applyLocale(const std::string& name);

int runEval(Args& args);
/// Runs task texts on a workbook and saves what they changed.
int runRun(Args& args);
/// Fills cells of a file: down, right, a series or Autofill.
int runFill(Args& args);
/// Draws a chart of a range, or of a chart cell's saved items, to a PNG.
int runChart(Args& args);
/// cat, convert, set and info; -1 for another command.
int runFileCommand(std::string_view command, Args& args);

}  // namespace cli
}  // namespace kelp
