// The task dialogs: Workbook Task, Define Task, Cell Task and Insert Hyperlink.
#include "dialogs/TaskDialogs.h"

#include <algorithm>
#include <cstring>

#include "dialogs/Form.h"
#include "dialogs/Forms.h"
#include "dialogs/InsertFunction.h"
#include "edit/Commands.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "model/CellTaskText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Font.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int NameField = 1, DefinitionField = 2, GlobalField = 3, RunOnField = 4, TargetField = 5;
constexpr int TextField = 1, TaskField = 2, IconField = 3, KindField = 4;
constexpr size_t MaxDefinition = 2048;
// A cell task and its text must leave this much of a stored text's 255 characters.
constexpr size_t CellTaskRoom = 255, CellTaskMarkers = 20;
// Any sheet, as a task's area stores it.
constexpr uint8_t AnySheet = 255;

std::u16string_view trimmed(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

uint16_t areaWord(const uint8_t* a, int at) { return static_cast<uint16_t>(a[at] | a[at + 1] << 8); }

void putArea(WorkbookTask& task, uint8_t first, uint8_t last, const Area& area) {
  std::memset(task.area, 0, sizeof task.area);
  task.area[1] = first;
  task.area[2] = last;
  const uint16_t words[4] = {area.firstRow, area.firstColumn, area.lastRow, area.lastColumn};
  for (int i = 0; i < 4; ++i) {
    task.area[4 + 2 * i] = static_cast<uint8_t>(words[i]);
    task.area[5 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
  }
}

// Shows a compile error with where it happened and puts the caret there.
bool refuseText(FormDialog& dialog, int field, int32_t position) {
  const uint32_t code = pendingError() ? pendingError() : static_cast<uint32_t>(Err::UnexpectedToken);
  clearError();
  dialog.showMessage(errorMessage(code) + u"\n" + formatText(u"At character %i.", position + 1));
  if (auto* edit = dialog.controlAs<EditLine>(field)) {
    edit->setCaret(static_cast<size_t>(std::max(position, 0)));
    dialog.desktop().setFocus(edit);
  }
  return false;
}

bool refuseField(FormDialog& dialog, int field, Err code) {
  dialog.showError(static_cast<uint32_t>(code));
  if (auto* edit = dialog.controlAs<EditLine>(field)) {
    edit->selectAll();
    dialog.desktop().setFocus(edit);
  }
  return false;
}

constexpr uint32_t InsertFunctionCommand = 1011, InsertCharCommand = 1014;

// A form whose Menu inserts a function or a character into the field being edited (the
// task's definition when no text field has the focus).
class TaskEditor : public FormDialog {
 public:
  TaskEditor(const Form& form, RecentFunctions& recent, int taskField)
      : FormDialog(form), m_recent(recent), m_taskField(taskField) {}

  void build(const FormValues& start) {
    FormDialog::build(start);
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"Done", DialogCommand::Ok);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(InsertFunctionCommand, u"Insert Function...");
    menu.append(InsertCharCommand, u"Insert Char...");
    menu.append(DialogCommand::Cancel, u"Cancel");
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (notify == 0 && (id == static_cast<int>(InsertFunctionCommand) || id == static_cast<int>(InsertCharCommand))) {
      insert(static_cast<uint32_t>(id));
      return;
    }
    FormDialog::onCommand(id, notify);
  }

 private:
  void insert(uint32_t command) {
    auto* edit = dynamic_cast<EditLine*>(desktop().focus());
    if (!edit) edit = controlAs<EditLine>(m_taskField);
    if (!edit) return;
    const size_t start = edit->selectionStart();
    if (command == InsertFunctionCommand) {
      int32_t function = -1;
      if (askFunction(desktop(), m_recent, true, function)) {
        size_t caret = 0;
        edit->replaceSelection(functionInsertion(function, false, caret));
        edit->setCaret(start + caret);
      }
    } else {
      char16_t c = 0;
      if (askCharacter(desktop(), c)) edit->replaceSelection(std::u16string(1, c));
    }
    desktop().setFocus(edit);
  }

  RecentFunctions& m_recent;
  int m_taskField;
};

bool runTaskEditor(Desktop& desktop, const Form& form, FormValues& values, RecentFunctions& recent, int taskField) {
  auto& dialog = desktop.create<TaskEditor>(nullptr, desktop.workArea(), form, recent, taskField);
  dialog.build(values);
  const bool ok = dialog.run() == DialogResult::Ok;
  if (ok) values = dialog.values();
  desktop.destroy(dialog.id());
  return ok;
}

int lineHeight() { return fontMetrics(systemFont()).lineHeight; }

constexpr int TaskList = 1110;
constexpr uint32_t RunCommand = 1012, NewCommand = 1030, EditCommand = 1014, DeleteCommand = 1032,
                   UpCommand = 1033, DownCommand = 1034;

class WorkbookTaskDialog : public Dialog {
 public:
  WorkbookTaskDialog(Workbook& book, const TaskEditing& editing, WorkbookTaskChoice& choice)
      : Dialog(u"Workbook Task"), m_book(book), m_editing(editing), m_choice(choice) {}

  void build() {
    const int rows = std::max(1, (rect().height() - lineHeight() - 20) / (lineHeight() + 2));
    addList(TaskList, {}, rows);
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"Done", DialogCommand::Cancel);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(RunCommand, u"Run");
    menu.append(NewCommand, u"New...");
    menu.append(EditCommand, u"Edit...");
    menu.append(DeleteCommand, u"Delete");
    menu.append(UpCommand, u"Move Up");
    menu.append(DownCommand, u"Move Down");
    refill(0);
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (id == TaskList && notify == Notify::Activated) return edit();
    if (notify != 0) return Dialog::onCommand(id, notify);
    switch (static_cast<uint32_t>(id)) {
      case RunCommand:
        if (selected() < 0) return;
        m_choice.run = selected();
        end(DialogResult::Ok);
        return;
      case NewCommand: return add();
      case EditCommand: return edit();
      case DeleteCommand: return remove();
      case UpCommand: return move(-1);
      case DownCommand: return move(1);
      default: Dialog::onCommand(id, notify); return;
    }
  }

 private:
  ListBox& list() const { return *controlAs<ListBox>(TaskList); }
  int32_t selected() const {
    const int at = list().selected();
    return at >= 0 && static_cast<size_t>(at) < m_book.tasks.size() ? at : -1;
  }

  void refill(int32_t select) {
    std::vector<std::u16string> items;
    for (const WorkbookTask& task : m_book.tasks) items.push_back(task.name);
    list().setItems(std::move(items));
    if (!m_book.tasks.empty()) list().select(std::clamp<int32_t>(select, 0, static_cast<int32_t>(m_book.tasks.size()) - 1));
  }

  void changed(int32_t select) {
    m_choice.changed = true;
    m_book.modified = true;
    refill(select);
  }

  void add() {
    WorkbookTask task;
    if (!runDefineTaskDialog(desktop(), m_book, task, m_editing)) return;
    m_book.tasks.push_back(std::move(task));
    changed(static_cast<int32_t>(m_book.tasks.size()) - 1);
  }

  void edit() {
    const int32_t at = selected();
    if (at < 0) return;
    WorkbookTask task = m_book.tasks[static_cast<size_t>(at)];
    if (!runDefineTaskDialog(desktop(), m_book, task, m_editing)) return;
    m_book.tasks[static_cast<size_t>(at)] = std::move(task);
    changed(at);
  }

  void remove() {
    const int32_t at = selected();
    if (at < 0) return;
    m_book.tasks.erase(m_book.tasks.begin() + at);
    changed(at);
  }

  void move(int step) {
    const int32_t at = selected();
    const int32_t to = at + step;
    if (at < 0 || to < 0 || static_cast<size_t>(to) >= m_book.tasks.size()) return;
    std::swap(m_book.tasks[static_cast<size_t>(at)], m_book.tasks[static_cast<size_t>(to)]);
    changed(to);
  }

  Workbook& m_book;
  const TaskEditing& m_editing;
  WorkbookTaskChoice& m_choice;
};

// Writes a cell task into the active cell; false (the error shown) when it cannot be.
bool writeCellTask(FormDialog& dialog, Workbook& book, UndoList& undo, std::u16string_view stored) {
  const Selection& s = book.activeSheet()->selection;
  if (enterCellValue(book, undo, s.activeColumn, s.activeRow, stored)) return true;
  dialog.showError(pendingError() ? pendingError() : static_cast<uint32_t>(Err::TaskTooLong));
  return false;
}

bool tooLong(std::u16string_view text, std::u16string_view task) {
  return text.size() + task.size() + CellTaskMarkers >= CellTaskRoom;
}

// The doubled quotes a string literal of task text needs.
std::u16string quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'"') out += u'"';
    out += c;
  }
  return out + u"\"";
}

}  // namespace

std::vector<std::u16string> runOnChoices() { return {u"(no event)", u"Menu item:", u"Tap on cell:", u"New value in:"}; }

std::u16string taskAreaText(const Workbook& book, const WorkbookTask& task) {
  const uint8_t* a = task.area;
  std::u16string out;
  const Sheet* sheet = book.sheetAt(a[1]);
  if (a[1] != AnySheet && sheet) {
    out = sheetNameNeedsQuotes(&book, sheet->name) ? u"'" + sheet->name + u"'" : sheet->name;
    out += u'!';
  }
  out += cellAddress(areaWord(a, 6), areaWord(a, 4));
  if (areaWord(a, 4) != areaWord(a, 8) || areaWord(a, 6) != areaWord(a, 10))
    out += u":" + cellAddress(areaWord(a, 10), areaWord(a, 8));
  return out;
}

bool readTaskArea(Workbook& book, std::u16string_view text, WorkbookTask& task) {
  CellValue reference = emptyValue();
  const CellPosition base{0, 0, static_cast<uint16_t>(book.activeSheetIndex())};
  if (!readReferenceText(book, trimmed(text), base, reference)) {
    setError(Err::ReferenceExpected);
    return false;
  }
  const Area area{reference.u16(0), reference.u16(1), reference.u16(2), reference.u16(3)};
  if (reference.kind == ValueKind::SheetAreaRef) {
    putArea(task, reference.firstSheet, reference.lastSheet, area);
  } else {
    putArea(task, AnySheet, AnySheet, area);
  }
  return true;
}

bool runDefineTaskDialog(Desktop& desktop, Workbook& book, WorkbookTask& task, const TaskEditing& editing) {
  const TaskCheck& check = editing.check;
  Form form;
  form.title = u"Define Task";
  form.fields = {textField(NameField, u"Task name:"), textField(DefinitionField, u"Task definition:", MaxDefinition),
                 checkField(GlobalField, u"Global"), choiceField(RunOnField, u"Run on:", runOnChoices()),
                 textField(TargetField, u"")};
  WorkbookTask result = task;
  form.update = [](FormDialog& dialog, const FormValues& v) { dialog.enableField(TargetField, v.choice.at(RunOnField) > 0); };
  form.accept = [&](FormDialog& dialog, const FormValues& v) {
    result.name = std::u16string(trimmed(v.text.at(NameField)));
    result.definition = v.text.at(DefinitionField);
    result.global = v.check.at(GlobalField);
    result.runOn = static_cast<uint32_t>(std::max(v.choice.at(RunOnField), 0));
    const int32_t position = check(result.definition);
    if (position >= 0) return refuseText(dialog, DefinitionField, position);
    const std::u16string target = v.text.at(TargetField);
    result.menuText.reset();
    if (result.runOn == 1) {
      if (trimmed(target).empty()) return refuseField(dialog, TargetField, Err::MenuTextExpected);
      result.menuText = target;
    } else if (result.runOn >= 2) {
      if (!readTaskArea(book, target, result)) return refuseField(dialog, TargetField, Err::ReferenceExpected);
    }
    return true;
  };
  FormValues values;
  values.text[NameField] = task.name;
  values.text[DefinitionField] = task.definition;
  values.check[GlobalField] = task.global;
  values.choice[RunOnField] = static_cast<int>(std::min<uint32_t>(task.runOn, 3));
  if (task.runOn == 1 && task.menuText) values.text[TargetField] = *task.menuText;
  if (task.runOn >= 2) values.text[TargetField] = taskAreaText(book, task);
  if (!runTaskEditor(desktop, form, values, editing.recent, DefinitionField)) return false;
  task = std::move(result);
  return true;
}

WorkbookTaskChoice runWorkbookTaskDialog(Desktop& desktop, Workbook& book, const TaskEditing& editing) {
  WorkbookTaskChoice choice;
  (void)showFullScreen<WorkbookTaskDialog>(desktop, book, editing, choice);
  return choice;
}

bool runCellTaskDialog(Desktop& desktop, Workbook& book, UndoList& undo, const std::vector<std::u16string>& iconNames,
                       const TaskEditing& editing) {
  const TaskCheck& check = editing.check;
  const Sheet& sheet = *book.activeSheet();
  CellRecord record;
  sheet.getCell(sheet.selection.activeColumn, sheet.selection.activeRow, record);
  FormValues values;
  values.text[TextField] = u"";
  values.text[TaskField] = u"";
  values.choice[IconField] = 0;
  if (record.value.kind == ValueKind::Text) {
    const std::u16string stored(textOf(record.value));
    const CellTaskParts parts = splitCellTaskText(stored);
    values.text[TextField] = std::u16string(parts.display);
    values.text[TaskField] = std::u16string(parts.definition);
    values.choice[IconField] = parts.icon;
  }
  Form form;
  form.title = u"Cell Task";
  form.fields = {textField(TextField, u"Cell text:"), textField(TaskField, u"Task definition:", MaxDefinition),
                 choiceField(IconField, u"Icon:", iconNames)};
  form.accept = [&](FormDialog& dialog, const FormValues& v) {
    const std::u16string& text = v.text.at(TextField);
    const std::u16string& task = v.text.at(TaskField);
    if (tooLong(text, task)) return refuseField(dialog, TaskField, Err::TaskTooLong);
    const int32_t position = check(task);
    if (position >= 0) return refuseText(dialog, TaskField, position);
    return writeCellTask(dialog, book, undo, makeCellTaskText(text, task, std::max(v.choice.at(IconField), 0)));
  };
  return runTaskEditor(desktop, form, values, editing.recent, TaskField);
}

std::u16string hyperlinkTask(HyperlinkKind kind, std::u16string_view target) {
  switch (kind) {
    case HyperlinkKind::Goto: return u"Sel(" + std::u16string(target) + u")";
    case HyperlinkKind::Web: return u"IBrowser(" + quoted(target) + u")";
    case HyperlinkKind::Email: return u"IBrowser(" + quoted(u"mailto:" + std::u16string(target)) + u")";
    case HyperlinkKind::Picture: return u"ShowPicture(" + quoted(target) + u")";
    case HyperlinkKind::Sound: return u"PlaySound(" + quoted(target) + u")";
  }
  return {};
}

bool runInsertHyperlinkDialog(Desktop& desktop, Workbook& book, UndoList& undo, const TaskCheck& check) {
  // The icons of Goto, Web, Email, Picture and Sound among the cell task icons.
  static constexpr int32_t kindIcons[] = {6, 7, 8, 3, 4};
  Form form;
  form.title = u"Insert Hyperlink";
  form.fields = {textField(TextField, u"Text to display:"),
                 choiceField(KindField, u"Link to:", {u"Goto", u"Web", u"Email", u"Picture", u"Sound"}),
                 textField(TaskField, u"Address, file or reference:", MaxDefinition)};
  form.accept = [&](FormDialog& dialog, const FormValues& v) {
    const int kind = std::clamp(v.choice.at(KindField), 0, 4);
    const std::u16string& text = v.text.at(TextField);
    const std::u16string_view target = trimmed(v.text.at(TaskField));
    if (target.empty()) return refuseField(dialog, TaskField, Err::ReferenceExpected);
    const std::u16string task = hyperlinkTask(static_cast<HyperlinkKind>(kind), target);
    if (tooLong(text, task)) return refuseField(dialog, TaskField, Err::TaskTooLong);
    // The target is what the user typed; the rest of the task is the dialog's own.
    if (check(task) >= 0) return refuseField(dialog, TaskField, pendingError() ? static_cast<Err>(pendingError()) : Err::UnexpectedToken);
    return writeCellTask(dialog, book, undo, makeCellTaskText(text, task, kindIcons[kind]));
  };
  FormValues values;
  values.choice[KindField] = 0;
  return runForm(desktop, form, values);
}

}  // namespace kelp
