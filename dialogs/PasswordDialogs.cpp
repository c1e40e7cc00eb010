// The workbook password dialogs.
#include "dialogs/PasswordDialogs.h"

#include "files/Password.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

constexpr int PasswordField = 1031;
constexpr int VerifyField = 1057;
constexpr std::u16string_view Caption = u"Kelp";

void showError(Desktop& desktop, WindowId owner, Err code) {
  messageBox(desktop, owner, errorMessage(static_cast<uint32_t>(code)), Caption, BoxFlag::Ok | BoxFlag::IconExclamation);
}

EditLine& addPasswordField(Dialog& dialog, int id, std::u16string_view text) {
  EditLine& field = dialog.addEdit(id, text);
  // The prompt on opening takes at most this many characters, so no longer password
  // may be set: it could never be typed back.
  field.setMaxLength(MaxPasswordLength);
  field.setPassword(true);
  field.selectAll();
  return field;
}

class SetPasswordDialog : public Dialog {
 public:
  explicit SetPasswordDialog(Workbook& workbook) : Dialog(u"Password"), m_workbook(workbook) {
    setHelpTopic(u"password");
  }

  void build() {
    addLabel(u"Password:");
    addPasswordField(*this, PasswordField, m_workbook.password);
    addLabel(u"Verify password:");
    addPasswordField(*this, VerifyField, u"");
    addLabel(u"Passwords are case-sensitive.");
    addLabel(u"Leave both fields empty to remove the password.");
    addLabel(u"A protected workbook can be saved in Kelp format (.kp) only.");
    // The scrambling has few keys and the check value is a sum: say what it is worth.
    addLabel(u"It keeps casual readers out; it is not encryption.");
  }

 protected:
  bool onOk() override {
    const std::u16string first = controlAs<EditLine>(PasswordField)->text();
    const std::u16string second = controlAs<EditLine>(VerifyField)->text();
    if (first != second) {
      showError(desktop(), id(), Err::PasswordsDiffer);
      if (EditLine* verify = controlAs<EditLine>(VerifyField)) {
        verify->selectAll();
        desktop().setFocus(verify);
      }
      return false;
    }
    if (first != m_workbook.password || passwordHash(first) != m_workbook.passwordHash) {
      setWorkbookPassword(m_workbook, first);
      m_workbook.modified = true;
    }
    return true;
  }

 private:
  Workbook& m_workbook;
};

}  // namespace

bool runPasswordDialog(Desktop& desktop, WindowId owner, Workbook& workbook) {
  (void)owner;
  return showFullScreen<SetPasswordDialog>(desktop, workbook);
}

bool askPasswordDialog(Desktop& desktop, WindowId owner, std::u16string& entered, uint32_t error) {
  if (error != 0) showError(desktop, owner, static_cast<Err>(error));
  auto& dialog = desktop.create<Dialog>(nullptr, desktop.workArea(), u"Password");
  dialog.setHelpTopic(u"password");
  dialog.addLabel(u"This workbook is password protected.");
  dialog.addLabel(u"Specify the password:");
  addPasswordField(dialog, PasswordField, u"");
  const int result = dialog.run();
  if (result == DialogResult::Ok) entered = dialog.controlAs<EditLine>(PasswordField)->text();
  desktop.destroy(dialog.id());
  return result == DialogResult::Ok;
}

}  // namespace kelp
