// The Go to dialog.
#include "dialogs/GoToDialog.h"

#include <string>

#include "formula/Compiler.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int ReferenceField = 1019;

std::u16string& lastReference() {
  static std::u16string text;
  return text;
}

class GoToDialog : public Dialog {
 public:
  explicit GoToDialog(Workbook& book) : Dialog(u"Go to"), m_book(book) { setHelpTopic(u"goto"); }

  void build() {
    addLabel(u"Reference:");
    addEdit(ReferenceField, lastReference()).selectAll();
  }

 protected:
  bool onOk() override {
    EditLine& field = *controlAs<EditLine>(ReferenceField);
    const std::u16string text = field.text();
    lastReference() = text;
    const Sheet& active = *m_book.activeSheet();
    const CellPosition base{static_cast<uint16_t>(active.selection.activeColumn), active.selection.activeRow,
                            static_cast<uint16_t>(active.index)};
    CellValue reference = emptyValue();
    if (!readReferenceText(m_book, text, base, reference)) {
      messageBox(desktop(), id(), errorMessage(static_cast<uint32_t>(Err::UnexpectedToken)), u"Kelp",
                 BoxFlag::Ok | BoxFlag::IconExclamation);
      field.selectAll();
      desktop().setFocus(&field);
      return false;
    }
    if (reference.kind == ValueKind::SheetAreaRef) m_book.setActiveSheet(reference.firstSheet);
    Selection& s = m_book.activeSheet()->selection;
    s.firstRow = s.activeRow = reference.u16(0);
    s.firstColumn = s.activeColumn = static_cast<int16_t>(reference.u16(1));
    s.lastRow = s.endRow = reference.u16(2);
    s.lastColumn = s.endColumn = static_cast<int16_t>(reference.u16(3));
    return true;
  }

 private:
  Workbook& m_book;
};

}  // namespace

bool runGoToDialog(Desktop& desktop, WindowId owner, Workbook& book) {
  (void)owner;
  return showFullScreen<GoToDialog>(desktop, book);
}

}  // namespace kelp
