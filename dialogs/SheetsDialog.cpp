// The Sheets dialog.
#include "dialogs/SheetsDialog.h"

#include <algorithm>

#include "edit/Commands.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Font.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int SheetList = 1029;
constexpr int NameField = 1031;
constexpr uint32_t NewCommand = 1030;
constexpr uint32_t RenameCommand = 1031;
constexpr uint32_t DeleteCommand = 1032;
constexpr uint32_t HideCommand = 1033;
constexpr int DeleteQuestion = 2580;
constexpr int LastVisibleString = 2671;
constexpr int HideString = 4202;
constexpr int UnhideString = 4203;
constexpr size_t MaxSheetName = 40;
constexpr std::u16string_view Caption = u"Kelp";

int lineHeight() { return fontMetrics(systemFont()).lineHeight; }

class SheetsDialog : public Dialog {
 public:
  SheetsDialog(Workbook& book, UndoList& undo) : Dialog(u"Sheets"), m_book(book), m_undo(undo) {
    setHelpTopic(u"sheets");
  }

  void build() {
    // The list takes the room the title leaves, a row a sheet.
    const int rows = std::max(1, (rect().height() - lineHeight() - 20) / (lineHeight() + 2));
    m_rows = rows;
    addList(SheetList, {}, rows);
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"Done", DialogCommand::Ok);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(NewCommand, u"New");
    menu.append(RenameCommand, u"Rename");
    menu.append(DeleteCommand, u"Delete");
    menu.append(HideCommand, loadString(HideString));
    refill(m_book.activeSheetIndex());
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (m_rename != NoWindow) {
      renameCommand(id, notify);
      return;
    }
    if (id == SheetList && notify == Notify::Changed) {
      followSelection();
      return;
    }
    if (notify != 0) {
      Dialog::onCommand(id, notify);
      return;
    }
    switch (static_cast<uint32_t>(id)) {
      case NewCommand: addSheet(); return;
      case RenameCommand: startRename(); return;
      case DeleteCommand: deleteSheet(); return;
      case HideCommand: toggleHidden(); return;
      default: Dialog::onCommand(id, notify); return;
    }
  }

  bool onOk() override {
    const Sheet* sheet = m_book.sheetAt(selected());
    if (sheet && sheet->visibility == SheetVisibility::Visible) m_book.setActiveSheet(sheet->index);
    return true;
  }

  int64_t onMessage(Message& m) override {
    // While a name is typed the focus stays in its field.
    if (m_rename != NoWindow && m.msg == Msg::KeyDown &&
        (m.wParam == static_cast<int64_t>(Key::Up) || m.wParam == static_cast<int64_t>(Key::Down)))
      return 0;
    return Dialog::onMessage(m);
  }

 private:
  ListBox& list() const { return *controlAs<ListBox>(SheetList); }
  int selected() const { return list().selected(); }

  void refill(int32_t select) {
    std::vector<std::u16string> items;
    for (int32_t i = 0; i < m_book.sheetCount(); ++i) {
      const Sheet& sheet = *m_book.sheetAt(i);
      std::u16string item = sheet.name;
      if (sheet.visibility == SheetVisibility::Hidden) item += loadString(4200);
      if (sheet.visibility == SheetVisibility::Internal) item += loadString(4201);
      items.push_back(std::move(item));
    }
    list().setItems(std::move(items));
    m_top = 0;
    list().select(select);
    followSelection();
  }

  // Keeps the first row shown as the list does, so that the name field covers the right row.
  void followSelection() {
    const int at = selected();
    if (at < m_top) m_top = at;
    if (at >= m_top + m_rows) m_top = at - m_rows + 1;
    const Sheet* sheet = m_book.sheetAt(at);
    const bool shown = sheet && sheet->visibility == SheetVisibility::Visible;
    if (MenuBar* bar = menuBar()) {
      if (MenuItem* item = bar->findItem(HideCommand)) item->text = loadString(shown ? HideString : UnhideString);
    }
  }

  void message(std::u16string_view text, uint32_t flags = BoxFlag::Ok | BoxFlag::IconExclamation) {
    messageBox(desktop(), id(), text, Caption, flags);
  }

  int visibleSheets() const {
    int count = 0;
    for (int32_t i = 0; i < m_book.sheetCount(); ++i)
      if (m_book.sheetAt(i)->visibility == SheetVisibility::Visible) ++count;
    return count;
  }

  // Whether taking sheet `index` away from the visible ones would leave none.
  bool isLastVisible(int32_t index) const {
    return m_book.sheetAt(index)->visibility == SheetVisibility::Visible && visibleSheets() == 1;
  }

  // The active sheet must be one the grid can show.
  void keepActiveVisible() {
    const int32_t active = m_book.activeSheetIndex();
    if (m_book.activeSheet()->visibility == SheetVisibility::Visible) return;
    for (int32_t step = 1; step < m_book.sheetCount(); ++step) {
      for (int32_t candidate : {active + step, active - step}) {
        const Sheet* sheet = m_book.sheetAt(candidate);
        if (sheet && sheet->visibility == SheetVisibility::Visible) {
          m_book.setActiveSheet(candidate);
          return;
        }
      }
    }
  }

  void addSheet() {
    std::u16string name = m_book.defaultSheetName();
    for (int tries = 0; m_book.findSheet(name) >= 0 && tries < 256; ++tries) name = m_book.defaultSheetName();
    if (!insertSheetCommand(m_book, m_undo, name)) {
      if (const uint32_t code = pendingError()) {
        clearError();
        message(errorMessage(code));
      }
      return;
    }
    refill(m_book.sheetCount() - 1);
    startRename();
  }

  void deleteSheet() {
    const int32_t index = selected();
    if (index < 0) return;
    if (isLastVisible(index) || m_book.sheetCount() <= 1) {
      message(loadString(LastVisibleString));
      return;
    }
    const std::u16string question = formatText(loadString(DeleteQuestion), m_book.sheetAt(index)->name);
    if (messageBox(desktop(), id(), question, Caption, BoxFlag::YesNo | BoxFlag::IconQuestion) != DialogResult::Yes)
      return;
    if (!deleteSheetCommand(m_book, m_undo, index)) return;
    keepActiveVisible();
    refill(std::min(index, m_book.sheetCount() - 1));
  }

  void toggleHidden() {
    const int32_t index = selected();
    Sheet* sheet = m_book.sheetAt(index);
    if (!sheet) return;
    if (sheet->visibility == SheetVisibility::Visible) {
      if (isLastVisible(index)) {
        message(loadString(LastVisibleString));
        return;
      }
      sheet->visibility = SheetVisibility::Hidden;
      keepActiveVisible();
    } else {
      sheet->visibility = SheetVisibility::Visible;
    }
    m_book.modified = true;
    refill(index);
  }

  void startRename() {
    const int32_t index = selected();
    const Sheet* sheet = m_book.sheetAt(index);
    if (!sheet) return;
    const Rect box = list().rect();
    const int row = lineHeight() + 2;
    const int top = box.top + 2 + (index - m_top) * row;
    EditLine& field = desktop().create<EditLine>(this, Rect{box.left + 1, top - 2, box.right - 1, top + row + 2});
    field.setControlId(NameField);
    field.setMaxLength(MaxSheetName);
    field.setValue(sheet->name);
    field.selectAll();
    m_rename = field.id();
    m_renamed = index;
    desktop().setFocus(&field);
  }

  void endRename() {
    const WindowId field = m_rename;
    m_rename = NoWindow;
    desktop().setFocus(&list());
    desktop().destroy(field);
  }

  void renameCommand(int id, int64_t notify) {
    if (notify != 0) return;
    if (id == static_cast<int>(DialogCommand::Cancel)) {
      endRename();
      return;
    }
    if (id != static_cast<int>(DialogCommand::Ok)) return;
    auto* field = dynamic_cast<EditLine*>(desktop().find(m_rename));
    std::u16string name = field ? field->text() : std::u16string();
    while (!name.empty() && name.back() == u' ') name.pop_back();
    Sheet* sheet = m_book.sheetAt(m_renamed);
    if (name.empty() || !sheet || name == sheet->name) {
      endRename();
      return;
    }
    if (!m_book.renameSheet(m_renamed, name)) {
      message(errorMessage(static_cast<uint32_t>(Err::SheetNameExists)));
      if (field) {
        field->selectAll();
        desktop().setFocus(field);
      }
      return;
    }
    m_book.modified = true;
    endRename();
    refill(m_renamed);
  }

  Workbook& m_book;
  UndoList& m_undo;
  int m_rows = 1;
  int m_top = 0;
  WindowId m_rename = NoWindow;
  int32_t m_renamed = -1;
};

}  // namespace

void runSheetsDialog(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo) {
  (void)owner;
  (void)showFullScreen<SheetsDialog>(desktop, book, undo);
}

}  // namespace kelp
