// The Options sheet: three pages of fields and the two buttons that edit the custom lists.
#include "dialogs/OptionsDialog.h"

#include <algorithm>
#include <charconv>

#include "dialogs/Form.h"
#include "dialogs/Forms.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Menu.h"

namespace kelp {

namespace {

constexpr int FormulaBarField = 1071, HeadersField = 1026, GridlinesField = 1027, ZerosField = 1028;
constexpr int MoveEnterField = 1081, UseZoomField = 1091, ZoomField = 1019, AutoSaveField = 1092,
              MinutesField = 1031;
constexpr int ListsField = 1029, ImportButton = 1035, DeleteButton = 1032;
constexpr int InsertCharCommand = 1014, ClearFieldCommand = 40201;
constexpr int OptionsTitleString = 2579;
constexpr size_t ListTextLimit = 3000;

// A list as the page shows it, without the comma that ends its last item.
std::u16string shownList(const std::u16string& list) {
  return !list.empty() && list.back() == u',' ? list.substr(0, list.size() - 1) : list;
}

class OptionsDialog : public FormDialog {
 public:
  OptionsDialog(const Form& form, const Workbook& workbook, std::vector<std::u16string> lists)
      : FormDialog(form), m_workbook(workbook), m_lists(std::move(lists)) {}

  void build(const FormValues& start) {
    FormDialog::build(start);
    // Added last, the buttons belong to the last page, below its list.
    const int height = fontMetrics(systemFont()).lineHeight + 6;
    addCustom<Button>(ImportButton, height).setText(u"Import list from selection");
    addCustom<Button>(DeleteButton, height).setText(u"Delete list");
    // The editing bar: OK, and a menu for the fields; Back cancels.
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"OK", DialogCommand::Ok);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(InsertCharCommand, u"Insert Char...");
    menu.append(ClearFieldCommand, u"Delete");
    menu.append(DialogCommand::Cancel, u"Cancel");
  }
  const std::vector<std::u16string>& lists() const { return m_lists; }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (notify == 0 && (id == InsertCharCommand || id == ClearFieldCommand)) {
      editField(id);
      return;
    }
    if (notify != Notify::Activated || (id != ImportButton && id != DeleteButton)) {
      FormDialog::onCommand(id, notify);
      return;
    }
    auto* list = controlAs<ListBox>(ListsField);
    if (!list) return;
    if (id == ImportButton) {
      std::u16string made = listFromSelection(m_workbook);
      if (made.empty()) return;
      m_lists.push_back(std::move(made));
      showLists(*list, static_cast<int>(m_lists.size()) - 1);
    } else if (id == DeleteButton) {
      const int chosen = list->selected();
      if (chosen < 0 || chosen >= static_cast<int>(m_lists.size())) return;
      m_lists.erase(m_lists.begin() + chosen);
      showLists(*list, std::min(chosen, static_cast<int>(m_lists.size()) - 1));
    }
  }

 private:
  // Insert Char... puts a character at the caret of the field with the focus, Delete
  // empties it; neither does anything elsewhere.
  void editField(int command) {
    auto* field = dynamic_cast<EditLine*>(desktop().focus());
    if (!field || field->parent() != this || !field->enabled()) return;
    if (command == ClearFieldCommand) {
      field->selectAll();
      field->replaceSelection(u"");
      return;
    }
    char16_t chosen = 0;
    const WindowId id = field->id();
    const bool ok = askCharacter(desktop(), chosen);
    // The nested dialog took the focus; the field gets it back, with the character.
    auto* back = dynamic_cast<EditLine*>(desktop().find(id));
    if (!back) return;
    desktop().setFocus(back);
    if (ok) back->replaceSelection(std::u16string_view(&chosen, 1));
  }

  void showLists(ListBox& list, int chosen) {
    std::vector<std::u16string> shown;
    for (const std::u16string& l : m_lists) shown.push_back(shownList(l));
    list.setItems(std::move(shown));
    list.select(chosen);
  }

  const Workbook& m_workbook;
  std::vector<std::u16string> m_lists;
};

}  // namespace

uint32_t clampedNumber(std::u16string_view text, uint32_t low, uint32_t high, uint32_t fallback) {
  const std::string s = utf16ToUtf8(text);
  const size_t start = s.find_first_not_of(' '), end = s.find_last_not_of(' ');
  if (start == std::string::npos) return fallback;
  long long value = 0;
  auto [last, ec] = std::from_chars(s.data() + start, s.data() + end + 1, value);
  // A number too long to read is as far out of range as its sign says.
  if (ec == std::errc::result_out_of_range && last == s.data() + end + 1) return s[start] == '-' ? low : high;
  if (ec != std::errc() || last != s.data() + end + 1) return fallback;
  return static_cast<uint32_t>(std::clamp<long long>(value, low, high));
}

std::u16string listFromSelection(const Workbook& workbook) {
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet) return {};
  const Area area = sheet->selection.area();
  std::u16string list;
  bool full = false;
  for (int32_t col = area.firstColumn; col <= area.lastColumn && !full; ++col) {
    sheet->forEachInColumn(col, area.firstRow, area.lastRow, [&](const CellRecord& cell) {
      if (full || cell.value.kind != ValueKind::Text) return;
      const std::u16string_view item = textOf(cell.value);
      if (item.empty()) return;
      if (list.size() + item.size() + 1 >= ListTextLimit) {
        full = true;
        return;
      }
      list += item;
      list += u',';
    });
  }
  return list;
}

bool runOptionsDialog(Desktop& desktop, const Workbook& workbook, OptionValues& options) {
  std::vector<std::u16string> shown;
  for (const std::u16string& l : options.customLists) shown.push_back(shownList(l));
  Form form{std::u16string(loadString(OptionsTitleString)), {}, nullptr, nullptr};
  form.pages = {{u"View",
                 {checkField(FormulaBarField, u"Formula bar"), checkField(HeadersField, u"Column and row titles"),
                  checkField(GridlinesField, u"Gridlines"), checkField(ZerosField, u"Zero values")}},
                {u"General",
                 {choiceField(MoveEnterField, u"Move after Enter:", {u"None", u"Right", u"Down"}),
                  checkField(UseZoomField, u"Full screen zoom:"), numberField(ZoomField, u"Percent:", 3),
                  checkField(AutoSaveField, u"Auto save every:"), numberField(MinutesField, u"Minutes:", 3)}},
                {u"Custom Lists", {choiceField(ListsField, u"Lists:", shown, 5)}}};
  form.help = u"options";
  // A number means something only while its box is checked.
  form.update = [](FormDialog& dialog, const FormValues& values) {
    dialog.enableField(ZoomField, values.check.count(UseZoomField) && values.check.at(UseZoomField));
    dialog.enableField(MinutesField, values.check.count(AutoSaveField) && values.check.at(AutoSaveField));
  };
  FormValues values;
  values.page = std::clamp(options.page, 0, 2);
  values.check = {{FormulaBarField, options.formulaBar}, {HeadersField, options.headers},
                  {GridlinesField, options.gridlines},   {ZerosField, options.zeros},
                  {UseZoomField, options.useFullScreenZoom}, {AutoSaveField, options.autoSave}};
  values.choice = {{MoveEnterField, static_cast<int>(std::min<uint32_t>(options.moveEnter, 2))}};
  values.text = {{ZoomField, decimalText(static_cast<int32_t>(options.fullScreenZoom))},
                 {MinutesField, decimalText(static_cast<int32_t>(options.autoSaveMinutes))}};

  auto& dialog = desktop.create<OptionsDialog>(nullptr, desktop.workArea(), form, workbook, options.customLists);
  dialog.build(values);
  const bool ok = dialog.run() == DialogResult::Ok;
  const FormValues chosen = dialog.values();
  const std::vector<std::u16string> lists = dialog.lists();
  desktop.destroy(dialog.id());
  options.page = chosen.page;
  if (!ok) return false;
  options.formulaBar = chosen.check.at(FormulaBarField);
  options.headers = chosen.check.at(HeadersField);
  options.gridlines = chosen.check.at(GridlinesField);
  options.zeros = chosen.check.at(ZerosField);
  options.moveEnter = static_cast<uint32_t>(std::clamp(chosen.choice.at(MoveEnterField), 0, 2));
  options.useFullScreenZoom = chosen.check.at(UseZoomField);
  options.fullScreenZoom = clampedNumber(chosen.text.at(ZoomField), 25, 200, options.fullScreenZoom);
  options.autoSave = chosen.check.at(AutoSaveField);
  options.autoSaveMinutes = clampedNumber(chosen.text.at(MinutesField), 1, 300, options.autoSaveMinutes);
  options.customLists = lists;
  return true;
}

}  // namespace kelp
