// The cell editor: its edit line, the keys while editing, commit and cancel, PointMode.
#include "shell/CellEditor.h"

#include <algorithm>
#include <utility>

#include "dialogs/DefineName.h"
#include "dialogs/Forms.h"
#include "dialogs/InsertFunction.h"
#include "dialogs/PickList.h"
#include "edit/Validation.h"
#include "edit/Commands.h"
#include "format/ValueText.h"
#include "formula/Recalc.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/StringTable.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "shell/Application.h"
#include "shell/GridPainter.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {

constexpr int LockedCellString = 2576;
constexpr int ProtectionString = 2577;
constexpr int EditorControlId = 0x7E01;
constexpr int TextPadding = 2;

bool isMovementKey(Key key) {
  switch (key) {
    case Key::Up: case Key::Down: case Key::Left: case Key::Right: case Key::PageUp: case Key::PageDown:
    case Key::Home: case Key::End:
      return true;
    default:
      return false;
  }
}

// The top-left cell of the merged area holding the cell, or the cell itself.
void topLeftOf(const Sheet& sheet, int32_t& col, int32_t& row) {
  Area merged;
  if (sheet.mergedAreas.size() > 0 && sheet.findMergedAt(col, row, &merged) >= 0) {
    col = merged.firstColumn;
    row = merged.firstRow;
  }
}

}  // namespace

/// The edit line: the platform's one-line field, drawn in the cell's font, whose keys
/// and characters go to the cell editor first.
class EditorWindow : public EditLine {
 public:
  EditorWindow(CellEditor& owner, FontSpec font) : m_owner(owner), m_font(std::move(font)) {}

  /// The field's own handling of a message.
  int64_t base(Message& m) { return EditLine::onMessage(m); }

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint:
        paint(*m.canvas);
        return 0;
      case Msg::KeyDown:
      case Msg::Char:
        return m_owner.editorMessage(*this, m);
      default:
        return EditLine::onMessage(m);
    }
  }

 private:
  void paint(Canvas& c) {
    const Rect r = clientRect();
    c.frameRect(r, Colors::Black, 1);
    const Rect inner = r.inflated(-TextPadding, -1);
    const std::u16string_view shown = text();
    const int caretX = textWidth(m_font, shown.substr(0, caret()));
    // The caret stays inside the field with a third of the field's text before it.
    if (caretX - m_scroll > inner.width() - 2) m_scroll = caretX - inner.width() + 2;
    if (caretX - m_scroll < 0) m_scroll = std::max(0, caretX - inner.width() / 3);
    const int line = fontMetrics(m_font).lineHeight;
    const int y = inner.top + (inner.height() - line) / 2;
    c.pushClip(inner);
    c.drawText(inner.left - m_scroll, y, shown, m_font);
    if (selectionLength() > 0) {
      const int x0 = textWidth(m_font, shown.substr(0, selectionStart()));
      const int x1 = textWidth(m_font, shown.substr(0, selectionStart() + selectionLength()));
      c.invertRect({inner.left - m_scroll + x0, y, inner.left - m_scroll + x1, y + line});
    } else {
      c.fillRect({inner.left - m_scroll + caretX, y, inner.left - m_scroll + caretX + 1, y + line}, Colors::Black);
    }
    c.popClip();
  }

  CellEditor& m_owner;
  FontSpec m_font;
  int m_scroll = 0;
};

bool isLockedCell(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row) {
  if (!book.isProtected && !sheet.isProtected) return false;
  topLeftOf(sheet, col, row);
  return book.style(sheet.effectiveStyle(col, row)).locked();
}

CellEditor::CellEditor(Application& app) : m_app(app) {}

CellEditor::~CellEditor() { abandon(); }

EditorWindow* CellEditor::editorWindow() const {
  return dynamic_cast<EditorWindow*>(m_app.desktop().find(m_editor));
}

std::u16string CellEditor::text() const {
  EditorWindow* e = editorWindow();
  return e ? e->text() : std::u16string();
}

size_t CellEditor::caret() const {
  EditorWindow* e = editorWindow();
  return e ? e->caret() : 0;
}

bool CellEditor::activeCellLocked() const {
  const Workbook& book = m_app.workbook();
  const Sheet* sheet = book.activeSheet();
  return sheet && isLockedCell(book, *sheet, sheet->selection.activeColumn, sheet->selection.activeRow);
}

void CellEditor::showLocked() {
  if (m_lockedShown) return;
  m_lockedShown = true;
  Window* main = m_app.mainWindow();
  messageBox(m_app.desktop(), main ? main->id() : NoWindow, loadString(LockedCellString), loadString(ProtectionString),
             BoxFlag::Ok | BoxFlag::IconExclamation);
  // Characters typed in the same go are queued already; the marker comes after them.
  if (main) m_app.desktop().post(main->id(), LockedAttemptOver);
}

bool CellEditor::pickFromValidationList(int32_t col, int32_t row) {
  Workbook& book = m_app.workbook();
  Sheet& sheet = *book.activeSheet();
  const int32_t index = findRule(sheet, col, row);
  if (index < 0) return false;
  const ValidationRule& rule = sheet.validations[static_cast<size_t>(index)].rule;
  if (ruleType(rule) != ValidationType::List || (rule.flags & ValidationFlag::NoDropDown)) return false;
  if (activeCellLocked()) {
    showLocked();
    return true;
  }
  const CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)};
  std::vector<std::u16string> entries = listEntries(book, rule, at);
  // The entry the cell shows now is the one the list starts on.
  const std::u16string current = cellShownText(book, sheet, col, row);
  int chosen = static_cast<int>(std::find(entries.begin(), entries.end(), current) - entries.begin());
  if (chosen >= static_cast<int>(entries.size())) chosen = -1;
  const std::vector<std::u16string> offered = entries;
  if (pickFromList(m_app.desktop(), m_app.grid().geometry().cellRect(col, row), std::move(entries), chosen)) {
    (void)enterText(col, row, offered[static_cast<size_t>(chosen)]);
  }
  return true;
}

bool CellEditor::gridKey(Key key, int64_t mods) {
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!sheet) return false;
  const int32_t col = sheet->selection.activeColumn, row = sheet->selection.activeRow;
  if (key == Key::Enter) {
    if (mods & (KeyMod::Ctrl | KeyMod::Alt)) return true;
    m_swallowReturn = true;
    m_app.navigator().extendMode = false;
    if (m_app.tasks().tap()) return true;
    if (pickFromValidationList(col, row)) return true;
    // Enter on an AutoFilter heading sets what the column shows.
    const AutoFilter& filter = sheet->autoFilter;
    if (filter.active && row == filter.area.firstRow && col >= filter.area.firstColumn &&
        col <= filter.area.lastColumn && !book.isProtected && !sheet->isProtected) {
      if (runFilterDialog(m_app.desktop(), book, m_app.undoList(), col)) m_app.grid().markRepaint(Repaint::Everything);
      return true;
    }
    if (activeCellLocked()) {
      showLocked();
      return true;
    }
  } else if (key == Key::F2) {
    if (activeCellLocked()) {
      showLocked();
      return true;
    }
    if (cellTask(*sheet, col, row).hasTask) return true;
  } else {
    return false;
  }
  int32_t c = col, r = row;
  topLeftOf(*sheet, c, r);
  std::u16string editable;
  const CellRecord* cell = sheet->cellPtr(c, r);
  if (cell && !editableText(cell->value, editable)) {
    // Opening a formula that cannot be shown would offer its message as the text.
    setError(Err::FormulaTooComplex);
    return true;
  }
  begin(editable, true, true);
  return true;
}

void CellEditor::gridChar(char16_t c) {
  if (c == u'\r' && m_swallowReturn) {
    m_swallowReturn = false;
    return;
  }
  if (!editing()) {
    if (c < 0x20 || c == 0x7F) return;
    if (activeCellLocked()) {
      showLocked();
      return;
    }
    if (!begin(u"", false, false)) return;
  }
  deliver(Msg::Char, c, 0);
}

void CellEditor::forwardKey(Key key, int64_t mods) { deliver(Msg::KeyDown, static_cast<int64_t>(key), mods); }

void CellEditor::deliver(Msg msg, int64_t wParam, int64_t lParam) {
  EditorWindow* e = editorWindow();
  if (!e) return;
  Message m;
  m.window = e->id();
  m.msg = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  editorMessage(*e, m);
}

void CellEditor::command(uint32_t id) {
  if (id == EditingCommand::Cancel) {
    cancel();
    return;
  }
  std::u16string inserted;
  if (id == EditingCommand::InsertChar) {
    char16_t c = 0;
    if (!askCharacter(m_app.desktop(), c)) return;
    inserted.assign(1, c);
  } else if (id == EditingCommand::InsertName) {
    if (!askName(m_app.desktop(), m_app.workbook(), inserted)) return;
  } else if (id == EditingCommand::InsertFunction) {
    int32_t function = -1;
    if (!askFunction(m_app.desktop(), m_app.settings().functionMru, false, function)) return;
    EditorWindow* e = editorWindow();
    if (!e) return;
    const size_t start = e->selectionStart();
    size_t caret = 0;
    e->replaceSelection(functionInsertion(function, start == 0, caret));
    e->setCaret(start + caret);
    m_app.desktop().setFocus(e);
    return;
  } else if (id == EditingCommand::DefineName) {
    const bool changed = runDefineNameDialog(m_app.desktop(), m_app.workbook());
    if (changed) refreshEditingMenu();
    if (EditorWindow* e = editorWindow()) m_app.desktop().setFocus(e);
    return;
  } else {
    return;
  }
  if (EditorWindow* e = editorWindow()) {
    e->replaceSelection(inserted);
    m_app.desktop().setFocus(e);
  }
}

bool CellEditor::begin(std::u16string_view text, bool arrowsMoveCaret, bool selectAll) {
  if (editing()) return false;
  Window* main = m_app.mainWindow();
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!main || !sheet) return false;
  GridView& grid = m_app.grid();
  grid.scrollIntoView(sheet->selection.activeColumn, sheet->selection.activeRow, true);
  grid.update();

  int32_t col = sheet->selection.activeColumn, row = sheet->selection.activeRow;
  topLeftOf(*sheet, col, row);
  const int zoom = static_cast<int>(sheet->view.zoom);
  FontSpec font = grid.formulaBarShown ? headerFont(100) : cellFont(book, sheet->effectiveStyle(col, row), zoom);
  EditorWindow& editor = m_app.desktop().create<EditorWindow>(main, Rect{}, *this, font);
  editor.setControlId(EditorControlId);
  editor.setMaxLength(MaxEditText);
  m_editor = editor.id();
  place();

  // The soft keys become the editing bar: Cancel, and a menu of the insert dialogs.
  if (MenuBar* bar = m_app.menuBar()) {
    std::swap(bar->key(0), m_savedKeys[0]);
    std::swap(bar->key(1), m_savedKeys[1]);
    bar->setKey(0, u"Cancel", EditingCommand::Cancel);
    Menu& menu = bar->setPopup(1, u"Menu");
    menu.append(EditingCommand::InsertChar, u"Insert Char...");
    menu.append(EditingCommand::InsertFunction, u"Insert Function...");
    menu.append(EditingCommand::InsertName, u"Insert Name...");
    menu.append(EditingCommand::DefineName, u"Define name...");
    refreshEditingMenu();
  }
  m_app.desktop().setFocus(&editor);
  editor.setValue(text.substr(0, std::min(text.size(), MaxEditText)));
  if (selectAll) editor.selectAll();
  m_arrowsMoveCaret = arrowsMoveCaret;
  return true;
}

void CellEditor::refreshEditingMenu() {
  MenuBar* bar = m_app.menuBar();
  MenuItem* item = bar ? bar->findItem(EditingCommand::InsertName) : nullptr;
  if (!item) return;
  // Without names there is nothing to insert.
  bool any = false;
  for (size_t i = 0; i < m_app.workbook().names.size(); ++i) any = any || isDefined(m_app.workbook(), i);
  item->flags = any ? (item->flags & ~MenuFlag::Gray) : (item->flags | MenuFlag::Gray);
}

void CellEditor::place() {
  EditorWindow* e = editorWindow();
  if (!e) return;
  GridView& grid = m_app.grid();
  const GridLayout layout = grid.layout();
  if (grid.formulaBarShown && !layout.formulaBar.empty()) {
    e->move({layout.formulaBar.left, layout.formulaBar.top, layout.formulaBar.right, layout.formulaBar.bottom});
    e->show(true);
    return;
  }
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  // Over the cell, from its left edge to the right edge of the grid; away while the cell
  // is not shown (scrolled off, or another sheet pointed at).
  Rect cell;
  if (sheet && (!m_point.on || book.activeSheetIndex() == m_point.sheet)) {
    // While pointing, the selection still holds the cell being edited.
    int32_t col = sheet->selection.activeColumn, row = sheet->selection.activeRow;
    topLeftOf(*sheet, col, row);
    cell = grid.geometry().cellRect(col, row);
  }
  if (cell.empty()) {
    e->show(false);
    return;
  }
  Rect r{cell.left, cell.top, layout.cells.right, cell.bottom + 1};
  r = r.intersected(layout.cells);
  if (r.empty()) {
    e->show(false);
    return;
  }
  e->move(r);
  e->show(true);
}

bool CellEditor::enterText(int32_t column, int32_t row, std::u16string_view text) {
  if (!enterCellValue(m_app.workbook(), m_app.undoList(), column, row, text)) return false;
  m_app.grid().markRepaint(Repaint::Everything);
  m_app.tasks().newValue(column, row);
  return true;
}

bool CellEditor::commit(bool move) {
  EditorWindow* e = editorWindow();
  if (!e) return false;
  GridView& grid = m_app.grid();
  grid.hold();
  leavePoint();
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!sheet) {
    grid.release();
    return false;
  }
  int32_t col = sheet->selection.activeColumn, row = sheet->selection.activeRow;
  topLeftOf(*sheet, col, row);
  const std::u16string typed = e->text();
  std::u16string current;
  if (const CellRecord* cell = sheet->cellPtr(col, row)) (void)editableText(cell->value, current);
  const std::u16string cycleBefore = circularNotice(book);
  // The text as it was opened writes nothing and records nothing.
  if (typed != current && !enterCellValue(book, m_app.undoList(), col, row, typed)) {
    // A refused entry (a message is pending, or the validation alert has spoken) keeps
    // the edit open for a correction.
    grid.release();
    m_app.desktop().setFocus(e);
    return false;
  }
  close();
  grid.markRepaint(Repaint::Everything);
  grid.release();
  // A cycle is evaluated once per recalculation as it stands; the entry that makes one
  // says so, once, rather than leaving the user to wonder why its value counts on.
  const std::u16string cycle = circularNotice(book);
  if (!cycle.empty() && cycle != cycleBefore) {
    Window* main = m_app.mainWindow();
    messageBox(m_app.desktop(), main ? main->id() : NoWindow, cycle, u"Kelp", BoxFlag::Ok | BoxFlag::IconExclamation);
  }
  m_app.tasks().newValue(col, row);
  if (move && pendingError() == 0) {
    const uint32_t moveEnter = m_app.settings().moveEnter;
    if (moveEnter == MoveAfterEnter::Right || moveEnter == MoveAfterEnter::Down) {
      m_app.navigator().extendMode = false;
      gridMove(moveEnter == MoveAfterEnter::Right ? Key::Right : Key::Down, 0);
    }
  }
  grid.update();
  return true;
}

void CellEditor::cancel() {
  if (!editing()) return;
  leavePoint();
  close();
  m_app.grid().update();
}

void CellEditor::abandon() {
  m_point = PointMode{};
  m_app.pointMode = false;
  close();
}

void CellEditor::close() {
  Desktop& desktop = m_app.desktop();
  if (m_editor == NoWindow) return;
  const WindowId editor = std::exchange(m_editor, NoWindow);
  if (MenuBar* bar = m_app.menuBar()) {
    std::swap(bar->key(0), m_savedKeys[0]);
    std::swap(bar->key(1), m_savedKeys[1]);
    m_savedKeys[0] = SoftKey{};
    m_savedKeys[1] = SoftKey{};
    bar->invalidate();
  }
  if (Window* main = m_app.mainWindow()) desktop.setFocus(main);
  desktop.destroy(editor);
}

void CellEditor::gridMove(Key key, int64_t mods) {
  Workbook& book = m_app.workbook();
  if (Sheet* sheet = book.activeSheet()) {
    if (m_app.navigator().handleKey(book, *sheet, key, mods)) m_app.grid().update();
  }
}

int64_t CellEditor::editorMessage(EditorWindow& editor, Message& m) {
  if (m.msg == Msg::KeyDown) {
    editorKey(editor, static_cast<Key>(m.wParam), m.lParam, m);
  } else if (m.msg == Msg::Char) {
    editorChar(editor, m);
  }
  m_app.messageHandled();
  return 0;
}

void CellEditor::editorKey(EditorWindow& editor, Key key, int64_t mods, Message& m) {
  switch (key) {
    case Key::Escape:
      cancel();
      return;
    case Key::Tab:
      if (commit(false)) gridMove(Key::Tab, mods);
      return;
    case Key::F2:
      leavePoint();
      m_arrowsMoveCaret = !m_arrowsMoveCaret;
      return;
    case Key::Enter:  // its character commits
    case Key::Back:   // its character deletes
      return;
    default:
      break;
  }
  if (!isMovementKey(key)) {
    leavePoint();
    editor.base(m);
    return;
  }
  if (m_point.on) {
    movePointer(key, mods);
    return;
  }
  const bool arrow = key == Key::Up || key == Key::Down || key == Key::Left || key == Key::Right;
  const bool caretKey = key == Key::Home || key == Key::End ||
                        (m_arrowsMoveCaret && (key == Key::Left || key == Key::Right));
  if (caretKey) {
    editor.base(m);
    return;
  }
  if (!arrow) return;  // Page Up and Page Down do nothing in the text
  if (formulaWaitsForReference(editor.text(), editor.caret(), currentLocale().listSeparator)) {
    enterPoint();
    movePointer(key, mods);
    return;
  }
  if (commit(false)) gridMove(key, mods);
}

void CellEditor::editorChar(EditorWindow& editor, Message& m) {
  const char16_t c = static_cast<char16_t>(m.wParam);
  if (c == u'\r' || c == u'\n') {
    commit(true);
    return;
  }
  if (c == 0x1B || c == u'\t') return;
  // Any character goes back to the text: an operator ends the pointing, and the next
  // movement key may point again.
  leavePoint();
  editor.base(m);
}

void CellEditor::enterPoint() {
  EditorWindow* e = editorWindow();
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!e || !sheet) return;
  m_point.on = true;
  m_point.sheet = book.activeSheetIndex();
  m_point.leftColumn = sheet->view.leftColumn;
  m_point.topRow = sheet->view.topRow;
  const Selection& sel = sheet->selection;
  Selection start;
  start.firstRow = start.lastRow = start.activeRow = start.endRow = sel.activeRow;
  start.firstColumn = start.lastColumn = start.activeColumn = start.endColumn = sel.activeColumn;
  m_point.pointer = start;
  // The reference goes in at the caret; a selected part of the text stays.
  m_point.start = e->selectionLength() > 0 ? e->selectionStart() + e->selectionLength() : e->caret();
  m_point.length = 0;
  m_app.pointMode = true;
}

void CellEditor::movePointer(Key key, int64_t mods) {
  EditorWindow* e = editorWindow();
  Workbook& book = m_app.workbook();
  Sheet* sheet = book.activeSheet();
  if (!e || !sheet) return;
  // The grid's movement rules move the pointer in place of the selection; Shift extends.
  Navigator& navigator = m_app.navigator();
  const bool extend = navigator.extendMode;
  const int kind = navigator.selectionKind;
  std::swap(sheet->selection, m_point.pointer);
  navigator.extendMode = extend || (mods & KeyMod::Shift);
  navigator.handleKey(book, *sheet, key, mods & ~KeyMod::Shift);
  std::swap(sheet->selection, m_point.pointer);
  navigator.extendMode = extend;
  navigator.selectionKind = kind;

  const std::u16string reference =
      pointerReference(book, m_point.sheet, book.activeSheetIndex(), m_point.pointer);
  std::u16string text = e->text();
  const size_t start = std::min(m_point.start, text.size());
  text.replace(start, std::min(m_point.length, text.size() - start), reference);
  if (text.size() > MaxEditText) return;  // the reference does not fit: the text stays
  e->setValue(text);
  e->setCaret(start + reference.size());
  m_point.length = reference.size();
  m_app.grid().markRepaint(Repaint::Everything);
  place();
  m_app.grid().update();
}

void CellEditor::leavePoint() {
  if (!m_point.on) return;
  m_point.on = false;
  m_app.pointMode = false;
  Workbook& book = m_app.workbook();
  if (book.activeSheetIndex() != m_point.sheet && book.sheetAt(m_point.sheet)) book.setActiveSheet(m_point.sheet);
  if (Sheet* sheet = book.activeSheet()) {
    sheet->view.leftColumn = m_point.leftColumn;
    sheet->view.topRow = m_point.topRow;
  }
  m_app.grid().markRepaint(Repaint::Everything);
  place();
  m_app.grid().update();
  if (EditorWindow* e = editorWindow()) m_app.desktop().setFocus(e);
}

void CellEditor::paintOverlay(Canvas& canvas, const GridGeometry& geometry) const {
  if (m_point.on) paintPointer(canvas, geometry, m_point.pointer);
}

}  // namespace kelp
