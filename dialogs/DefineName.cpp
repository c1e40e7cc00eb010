// The Define Name dialog.
#include "dialogs/DefineName.h"

#include <algorithm>
#include <vector>

#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Lexer.h"
#include "formula/Recalc.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Font.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int NamesList = 1088;
constexpr int NameField = 1031;
constexpr int RefersField = 1019;
constexpr uint32_t AddCommand = 1035;
constexpr uint32_t DeleteCommand = 1032;
constexpr size_t MaxNameText = 255;

// "=Sheet1!$B$1", or the area from the active corner to the other, as a new name refers to.
std::u16string selectionReference(const Workbook& book) {
  const Sheet* sheet = book.activeSheet();
  if (!sheet) return u"=";
  const Area a = sheet->selection.area();
  auto absolute = [](int32_t column, int32_t row) {
    std::u16string c, r;
    columnName(static_cast<uint16_t>(column), c);
    rowName(static_cast<uint16_t>(row), r);
    return u"$" + c + u"$" + r;
  };
  std::u16string sheetName = sheet->name;
  if (sheetNameNeedsQuotes(&book, sheetName)) sheetName = u"'" + sheetName + u"'";
  std::u16string out = u"=" + sheetName + u"!" + absolute(a.firstColumn, a.firstRow);
  if (a.lastColumn != a.firstColumn || a.lastRow != a.firstRow) out += u":" + absolute(a.lastColumn, a.lastRow);
  return out;
}

std::u16string definitionText(const Workbook& book, const DefinedName& name) {
  return handleFormulaText(book, name.definition, CellPosition{});
}

class DefineNameDialog : public Dialog {
 public:
  explicit DefineNameDialog(Workbook& book) : Dialog(u"Define Name"), m_book(book) { setHelpTopic(u"define_name"); }

  void build() {
    addLabel(u"Names in workbook:");
    const int row = fontMetrics(systemFont()).lineHeight + 2;
    // The list takes what the two fields below it leave.
    const int rows = std::clamp((rect().height() - 8 * row) / row, 2, 8);
    addList(NamesList, {}, rows);
    addLabel(u"Name:");
    addEdit(NameField).setMaxLength(MaxNameText);
    addLabel(u"Refers to:");
    EditLine& refers = addEdit(RefersField, selectionReference(m_book));
    refers.setMaxLength(MaxFormulaText);
    refers.selectAll();
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"Done", DialogCommand::Ok);
    Menu& menu = bar.setPopup(1, u"Menu");
    menu.append(AddCommand, u"Add");
    menu.append(DeleteCommand, u"Delete");
    refill(u"");
  }

  bool changed() const { return m_changed; }

 protected:
  void onCommand(int id, int64_t notify) override {
    if (id == NamesList && notify == Notify::Changed) {
      showChosen();
      return;
    }
    // Enter on the list means the name, not Done.
    if (id == NamesList && notify == Notify::Activated) {
      moveFocus(1);
      return;
    }
    if (notify == 0 && static_cast<uint32_t>(id) == AddCommand) {
      (void)add();
      return;
    }
    if (notify == 0 && static_cast<uint32_t>(id) == DeleteCommand) {
      remove();
      return;
    }
    Dialog::onCommand(id, notify);
  }

  // Done keeps a name typed and not yet added, as users expect of OK.
  bool onOk() override {
    const std::u16string text = field(NameField).text();
    if (text.empty()) return true;
    const int32_t index = m_book.findName(text);
    if (index >= 0 && isDefined(m_book, static_cast<size_t>(index)) &&
        definitionText(m_book, m_book.names[static_cast<size_t>(index)]) == field(RefersField).text())
      return true;
    return add();
  }

 private:
  EditLine& field(int id) const { return *controlAs<EditLine>(id); }
  ListBox& list() const { return *controlAs<ListBox>(NamesList); }

  void refill(std::u16string_view select) {
    m_shown.clear();
    std::vector<std::u16string> items;
    for (size_t i = 0; i < m_book.names.size(); ++i) {
      if (!isDefined(m_book, i)) continue;
      m_shown.push_back(i);
      items.push_back(m_book.names[i].text);
    }
    list().setItems(items);
    auto at = std::find_if(items.begin(), items.end(), [&](const std::u16string& s) { return s == select; });
    if (at != items.end()) list().select(static_cast<int>(at - items.begin()));
  }

  void showChosen() {
    const int at = list().selected();
    if (at < 0 || at >= static_cast<int>(m_shown.size())) return;
    const DefinedName& name = m_book.names[m_shown[static_cast<size_t>(at)]];
    field(NameField).setValue(name.text);
    field(NameField).selectAll();
    field(RefersField).setValue(definitionText(m_book, name));
    field(RefersField).selectAll();
  }

  bool add() {
    const std::u16string text = field(NameField).text();
    if (!defineName(m_book, text, field(RefersField).text())) {
      const uint32_t code = pendingError();
      const std::u16string detail = takePendingErrorText();
      clearError();
      messageBox(desktop(), id(), detail.empty() ? std::u16string(errorMessage(code)) : detail, u"Kelp",
                 BoxFlag::Ok | BoxFlag::IconExclamation);
      // The field at fault is offered whole, ready to be typed over.
      EditLine& wrong = field(code == static_cast<uint32_t>(Err::InvalidName) ? NameField : RefersField);
      wrong.selectAll();
      desktop().setFocus(&wrong);
      return false;
    }
    m_changed = true;
    refill(m_book.names[static_cast<size_t>(m_book.findName(text))].text);
    return true;
  }

  void remove() {
    const int at = list().selected();
    if (at < 0 || at >= static_cast<int>(m_shown.size())) return;
    DefinedName& name = m_book.names[m_shown[static_cast<size_t>(at)]];
    // The entry stays, undefined: formulas hold names by their place in the list.
    formulaPool().release(name.definition);
    name.definition = NoHandle;
    m_book.modified = true;
    m_changed = true;
    recalculateAll(m_book);
    field(NameField).setValue(u"");
    field(RefersField).setValue(selectionReference(m_book));
    refill(u"");
    showChosen();
  }

  Workbook& m_book;
  std::vector<size_t> m_shown;  // the names' places in the workbook, by list row
  bool m_changed = false;
};

}  // namespace

bool isDefined(const Workbook& workbook, size_t index) {
  return index < workbook.names.size() && workbook.names[index].definition != NoHandle;
}

bool usableName(Workbook& workbook, std::u16string_view text) {
  FormulaLexer lexer = makeLexer(&workbook, text, CellPosition{}, false);
  nextToken(lexer, false);
  const bool oneName = lexer.error == 0 && lexer.tokenStart == 0 &&
                       (lexer.token == TokenKind::Unknown ||
                        (lexer.token == TokenKind::Name && lexer.nameKind == NameKind::DefinedName));
  if (oneName) nextToken(lexer, false);
  if (oneName && lexer.error == 0 && lexer.token == TokenKind::End) return true;
  setError(Err::InvalidName);
  return false;
}

bool defineName(Workbook& workbook, std::u16string_view text, std::u16string_view refersTo) {
  if (!usableName(workbook, text)) return false;
  std::u16string formula(refersTo);
  if (formula.empty() || formula[0] != u'=') formula.insert(formula.begin(), u'=');
  const Sheet* sheet = workbook.activeSheet();
  const CellPosition base{0, 0, sheet ? static_cast<uint16_t>(sheet->index) : uint16_t{0}};
  const uint32_t handle = compileToHandle(workbook, formula, base, false);
  if (handle == NoHandle) return false;
  (void)workbook.setName(text, handle);
  workbook.modified = true;
  recalculateAll(workbook);
  return true;
}

bool runDefineNameDialog(Desktop& desktop, Workbook& workbook) {
  auto& dialog = desktop.create<DefineNameDialog>(nullptr, desktop.workArea(), workbook);
  dialog.build();
  (void)dialog.run();
  const bool changed = dialog.changed();
  desktop.destroy(dialog.id());
  return changed;
}

}  // namespace kelp
