// The Find and Replace dialogs and their "Next" windows.
#include "dialogs/FindReplace.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "edit/Find.h"
#include "formula/FormulaText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

// Control and command ids of the dialogs' resources.
constexpr int FindField = 1019;
constexpr int SearchByList = 1021;
constexpr int LookInList = 1022;
constexpr int FindEntireCells = 1025;
constexpr int FindCaseSensitive = 1026;
constexpr int WildcardsBox = 1086;
constexpr int ReplaceField = 1025;
constexpr int ReplaceEntireCells = 1023;
constexpr int ReplaceCaseSensitive = 1024;
constexpr uint32_t FindCommand = 1020;     // "Find" and "Find Next" on the dialogs' bars
constexpr uint32_t NextCommand = 1036;     // "Find Next" of the replace step
constexpr uint32_t ReplaceCommand = 1074;
constexpr uint32_t ReplaceAllCommand = 1035;
constexpr int TooLongString = 2670;

constexpr std::u16string_view Caption = u"Kelp";

void showMessage(Desktop& desktop, WindowId owner, std::u16string_view text) {
  messageBox(desktop, owner, text, Caption, BoxFlag::Ok | BoxFlag::IconExclamation);
}

void showError(Desktop& desktop, WindowId owner, uint32_t code) {
  showMessage(desktop, owner, errorMessage(code));
}

void selectCell(Sheet& sheet, const FoundCell& cell) {
  Selection& s = sheet.selection;
  s.firstRow = s.lastRow = s.activeRow = s.endRow = static_cast<uint16_t>(cell.row);
  s.firstColumn = s.lastColumn = s.activeColumn = s.endColumn = static_cast<int16_t>(cell.column);
}


/// The small window that stays at the bottom of the screen while the user steps through
/// the matches, so that the cell found stays in view above it. Each run ends with the
/// command chosen, or Cancel when it is closed.
class NextWindow : public Dialog {
 public:
  NextWindow(std::u16string_view title, uint32_t next) : Dialog(title), m_next(next) {
    setHelpTopic(next == FindCommand ? u"find" : u"replace");
  }

  static Rect placement(const Desktop& desktop) {
    const int line = fontMetrics(systemFont()).lineHeight;
    const Rect work = desktop.workArea();
    const int height = 2 * line + 24;
    return {work.left, work.bottom - height, work.right, work.bottom};
  }

  void build(bool replacing) {
    Button& button = addCustom<Button>(static_cast<int>(m_next), fontMetrics(systemFont()).lineHeight + 6);
    button.setText(u"Next");
    MenuBar& bar = createMenuBar(desktop(), *this);
    if (!replacing) {
      bar.setKey(0, u"Next", m_next);
      bar.setKey(1, u"Cancel", DialogCommand::Cancel);
      return;
    }
    bar.setKey(0, u"Done", DialogCommand::Cancel);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(NextCommand, u"Find Next");
    menu.append(ReplaceCommand, u"Replace");
    menu.append(ReplaceAllCommand, u"Replace All");
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (notify == Notify::Activated || (notify == 0 && id == static_cast<int>(DialogCommand::Ok))) {
      end(static_cast<int>(m_next));
    } else if (notify == 0) {
      end(id);
    }
  }

 private:
  uint32_t m_next;
};

/// What one dialog run found: the range searched and the first match.
struct Search {
  Area range{};
  FoundCell found;
};

/// Find and Replace share their fields, their check and their first search.
class SearchDialog : public Dialog {
 public:
  SearchDialog(Workbook& book, bool replacing)
      : Dialog(replacing ? u"Replace" : u"Find"), m_book(book), m_replacing(replacing) {
    setHelpTopic(replacing ? u"replace" : u"find");
  }

  void build() {
    const FindSettings& s = findSettings();
    addLabel(u"Find:");
    addEdit(FindField, s.findText).selectAll();
    if (m_replacing) {
      addLabel(u"Replace with:");
      addEdit(ReplaceField, s.replaceText).selectAll();
    }
    addLabel(u"Search by:");
    addList(SearchByList, {u"Lines", u"Columns"}).select(s.byColumns ? 1 : 0);
    if (!m_replacing) {
      addLabel(u"Look in:");
      addList(LookInList, {u"Values", u"Formulas"}).select(s.lookInValues ? 0 : 1);
    }
    addCheck(m_replacing ? ReplaceEntireCells : FindEntireCells, u"Entire cells", s.entireCells);
    addCheck(m_replacing ? ReplaceCaseSensitive : FindCaseSensitive, u"Case sensitive", s.caseSensitive);
    if (!m_replacing) addCheck(WildcardsBox, u"?,* are wildcards", s.wildcards);
    MenuBar& bar = createMenuBar(desktop(), *this);
    if (m_replacing) {
      bar.setKey(0, u"Find Next", FindCommand);
      bar.setKey(1, u"Replaced All", ReplaceAllCommand);
    } else {
      bar.setKey(0, u"Find", FindCommand);
      bar.setKey(1, u"Cancel", DialogCommand::Cancel);
    }
  }

  const std::optional<Search>& search() const { return m_search; }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (notify == 0 && (id == static_cast<int>(FindCommand) || (m_replacing && id == static_cast<int>(ReplaceAllCommand)))) {
      m_mode = id == static_cast<int>(ReplaceAllCommand) ? 2 : 0;
      if (onOk()) end(DialogResult::Ok);
      return;
    }
    if (notify == 0 && id == static_cast<int>(DialogCommand::Ok)) m_mode = 0;
    Dialog::onCommand(id, notify);
  }

  bool onOk() override {
    FindSettings& s = findSettings();
    s.findText = controlAs<EditLine>(FindField)->text();
    s.byColumns = controlAs<ListBox>(SearchByList)->selected() == 1;
    if (m_replacing) {
      s.replaceText = controlAs<EditLine>(ReplaceField)->text();
      s.entireCells = controlAs<CheckBox>(ReplaceEntireCells)->checked();
      s.caseSensitive = controlAs<CheckBox>(ReplaceCaseSensitive)->checked();
      s.replaceMode = m_mode;
    } else {
      s.lookInValues = controlAs<ListBox>(LookInList)->selected() == 0;
      s.entireCells = controlAs<CheckBox>(FindEntireCells)->checked();
      s.caseSensitive = controlAs<CheckBox>(FindCaseSensitive)->checked();
      s.wildcards = controlAs<CheckBox>(WildcardsBox)->checked();
    }
    const Sheet& sheet = *m_book.activeSheet();
    const Area range = searchRange(sheet);
    const auto found = findCell(m_book, sheet, range, searchSettings(m_replacing), sheet.selection.activeColumn,
                                sheet.selection.activeRow, true);
    if (!found) {
      showError(desktop(), id(), static_cast<uint32_t>(Err::NoMatch));
      if (EditLine* field = controlAs<EditLine>(FindField)) desktop().setFocus(field);
      return false;
    }
    m_search = Search{range, *found};
    return true;
  }

 public:
  /// The settings a search runs with: Replace looks in the editable texts and takes
  /// the find text literally, whatever Find last used.
  static FindSettings searchSettings(bool replacing) {
    FindSettings s = findSettings();
    if (replacing) {
      s.lookInValues = false;
      s.wildcards = false;
    }
    return s;
  }

 private:
  Workbook& m_book;
  bool m_replacing;
  int m_mode = 0;
  std::optional<Search> m_search;
};

std::optional<Search> runSearchDialog(Desktop& desktop, Workbook& book, bool replacing) {
  auto& dialog = desktop.create<SearchDialog>(nullptr, desktop.workArea(), book, replacing);
  dialog.build();
  const int result = dialog.run();
  std::optional<Search> search = result == DialogResult::Ok ? dialog.search() : std::nullopt;
  desktop.destroy(dialog.id());
  return search;
}

void show(Sheet& sheet, const FoundCell& cell, const std::function<void()>& showActive) {
  selectCell(sheet, cell);
  if (showActive) showActive();
}

// Rewrites one cell as the replace step asks. False when the replacing has to stop: the
// text would grow too long, or the entry was refused.
bool replaceCell(Desktop& desktop, WindowId owner, Workbook& book, const CommitFn& commit, const FoundCell& cell,
                 bool all) {
  const FindSettings settings = SearchDialog::searchSettings(true);
  std::u16string text = searchedText(book, *book.activeSheet(), cell.column, cell.row, false);
  switch (replaceInText(text, settings, all)) {
    case ReplaceResult::NotFound:
      return true;
    case ReplaceResult::TooLong:
      showMessage(desktop, owner, formatText(loadString(TooLongString), cellAddress(cell.column, cell.row)));
      return false;
    case ReplaceResult::Replaced:
      break;
  }
  if (commit && commit(cell.column, cell.row, text)) return true;
  if (const uint32_t code = pendingError()) {
    clearError();
    showError(desktop, owner, code);
  }
  return false;
}

}  // namespace

void runFindDialog(Desktop& desktop, WindowId owner, Workbook& book, const std::function<void()>& showActive) {
  (void)owner;
  const std::optional<Search> search = runSearchDialog(desktop, book, false);
  if (!search) return;
  Sheet& sheet = *book.activeSheet();
  FoundCell current = search->found;
  show(sheet, current, showActive);
  auto& next = desktop.create<NextWindow>(nullptr, NextWindow::placement(desktop), u"Find", FindCommand);
  next.build(false);
  while (next.run() == static_cast<int>(FindCommand)) {
    const auto found = findCell(book, sheet, search->range, findSettings(), current.column, current.row, false);
    if (!found) {
      // Only when the cell found has changed meanwhile.
      showError(desktop, next.id(), static_cast<uint32_t>(Err::NoMatch));
      break;
    }
    current = *found;
    show(sheet, current, showActive);
  }
  desktop.destroy(next.id());
}

void runReplaceDialog(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo, const CommitFn& commit,
                      const std::function<void()>& showActive) {
  (void)owner;
  (void)undo;  // each replacement is recorded by `commit`, as typing is
  const std::optional<Search> search = runSearchDialog(desktop, book, true);
  if (!search) return;
  Sheet& sheet = *book.activeSheet();
  const FoundCell first = search->found;
  FoundCell current = first;
  int mode = findSettings().replaceMode;
  show(sheet, current, showActive);
  auto& next = desktop.create<NextWindow>(nullptr, NextWindow::placement(desktop), u"Replace", NextCommand);
  next.build(true);
  // Replace All visits each cell once: a replacement that holds the find text would
  // otherwise match again on every round.
  std::set<std::pair<int32_t, int32_t>> replaced;
  for (;;) {
    if (mode != 2) {
      const int chosen = next.run();
      if (chosen == static_cast<int>(NextCommand)) mode = 0;
      else if (chosen == static_cast<int>(ReplaceCommand)) mode = 1;
      else if (chosen == static_cast<int>(ReplaceAllCommand)) mode = 2;
      else break;
    }
    if (mode != 0) {
      if (!replaceCell(desktop, next.id(), book, commit, current, mode == 2)) break;
      if (mode == 2) replaced.insert({current.column, current.row});
    }
    const auto found =
        findCell(book, sheet, search->range, SearchDialog::searchSettings(true), current.column, current.row, false);
    if (!found || *found == first || replaced.count({found->column, found->row})) break;
    current = *found;
    show(sheet, current, showActive);
  }
  findSettings().replaceMode = mode;
  desktop.destroy(next.id());
}

}  // namespace kelp
