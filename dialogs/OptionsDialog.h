// The Options property sheet: what the window shows, where Enter moves, the full-screen
// zoom, automatic saves and the custom lists that fills continue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Desktop;
class Workbook;

/// What the sheet edits: settings of the program and three flags of the active sheet.
struct OptionValues {
  bool formulaBar = false;
  bool headers = true;  // of the active sheet, as the three below
  bool gridlines = true;
  bool zeros = true;
  uint32_t moveEnter = 2;  // 0 stay, 1 right, 2 down
  bool useFullScreenZoom = true;
  uint32_t fullScreenZoom = 75;  // 25..200
  bool autoSave = false;
  uint32_t autoSaveMinutes = 10;  // 1..300
  std::vector<std::u16string> customLists;  // each list with its trailing comma
  int page = 0;  // 0 View, 1 General, 2 Custom Lists: shown first, and set to the one shown last
};

/// Shows the sheet over `values`; on OK they hold what was chosen, numbers brought into
/// their ranges, and the result is true. `page` follows on Cancel too. Import reads the
/// selection of `workbook`'s active sheet.
bool runOptionsDialog(Desktop& desktop, const Workbook& workbook, OptionValues& values);

/// A whole number typed in a field brought into low..high; `fallback` when it does not read.
uint32_t clampedNumber(std::u16string_view text, uint32_t low, uint32_t high, uint32_t fallback);

/// The list Import makes: the text cells of the active sheet's selection, column by column
/// and top to bottom, each followed by a comma, stopping before the list would reach 3000
/// characters; empty when the selection holds no text.
std::u16string listFromSelection(const Workbook& workbook);

}  // namespace kelp
