// Dialogs described as data: a title and a list of fields, shown as one modal dialog.
// A dialog that only collects values and hands them to an operation is a Form.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/Dialog.h"

namespace kelp {

// Button notifies the form's `press`; Offer is a text field that also offers texts
// (items) to turn through with Left and Right.
enum class FieldKind { Note, Text, Number, Choice, Check, Button, Offer };

struct Field {
  FieldKind kind = FieldKind::Text;
  int id = 0;                         // the control id the value is kept under
  std::u16string label;               // above a text, number or choice; beside a check; a note's text
  std::vector<std::u16string> items;  // a choice's entries; the texts an offer field offers
  size_t maxLength = 0;               // 0 keeps the edit line's own limit
  int rows = 1;                       // a choice of one row is a spinner, of more a list
};

inline Field noteField(std::u16string text) { return {FieldKind::Note, 0, std::move(text), {}, 0, 1}; }
/// A note the dialog rewrites (setNote), with room for `rows` lines.
inline Field noteField(int id, std::u16string text, int rows) {
  return {FieldKind::Note, id, std::move(text), {}, 0, rows};
}
inline Field textField(int id, std::u16string label, size_t maxLength = 0) {
  return {FieldKind::Text, id, std::move(label), {}, maxLength, 1};
}
inline Field numberField(int id, std::u16string label, size_t maxLength) {
  return {FieldKind::Number, id, std::move(label), {}, maxLength, 1};
}
inline Field choiceField(int id, std::u16string label, std::vector<std::u16string> items, int rows = 1) {
  return {FieldKind::Choice, id, std::move(label), std::move(items), 0, rows};
}
inline Field checkField(int id, std::u16string label) { return {FieldKind::Check, id, std::move(label), {}, 0, 1}; }
inline Field buttonField(int id, std::u16string label) { return {FieldKind::Button, id, std::move(label), {}, 0, 1}; }
inline Field offerField(int id, std::u16string label, std::vector<std::u16string> offers, size_t maxLength = 0) {
  return {FieldKind::Offer, id, std::move(label), std::move(offers), maxLength, 1};
}

/// A form's values by control id: the texts of text and number fields, the index
/// chosen in a choice, the state of a check box.
struct FormValues {
  std::map<int, std::u16string> text;
  std::map<int, int> choice;
  std::map<int, bool> check;
  int page = 0;  // the page of a property sheet shown first, and the one shown last
};

/// One page of a property sheet: its tab name and its fields.
struct FormPage {
  std::u16string name;
  std::vector<Field> fields;
};

class FormDialog;

struct Form {
  std::u16string title;
  std::vector<Field> fields;
  /// OK with the values read back; false keeps the dialog open (it has said why).
  std::function<bool(FormDialog&, const FormValues&)> accept;
  /// After the dialog is built and after every change of a field: enables and disables.
  std::function<void(FormDialog&, const FormValues&)> update;
  /// Pages make the form a property sheet; `fields` then stand above the tabs.
  std::vector<FormPage> pages = {};
  /// A button field was pressed (by its id).
  std::function<void(FormDialog&, int)> press = nullptr;
  /// The manual's topic the Help key opens while the form is up.
  std::u16string help = {};
};

class FormDialog : public Dialog {
 public:
  explicit FormDialog(const Form& form) : Dialog(form.title), m_form(form) {}
  void build(const FormValues& start);
  FormValues values() const;
  /// Greys or restores a field and its label.
  void enableField(int id, bool on);
  /// Rewrites a note made with an id.
  void setNote(int id, std::u16string_view text);
  /// New entries for a choice, keeping the index chosen where it still exists.
  void setChoices(int id, std::vector<std::u16string> items);
  /// A message box over the dialog, titled "Kelp".
  void showMessage(std::u16string_view text);
  void showError(uint32_t code);

 protected:
  bool onOk() override;
  void onCommand(int id, int64_t notify) override;

 private:
  void addField(const Field& field, const FormValues& start);
  template <class F>
  void eachField(F&& f) const {
    for (const Field& field : m_form.fields) f(field);
    for (const FormPage& page : m_form.pages)
      for (const Field& field : page.fields) f(field);
  }

  const Form& m_form;
  std::map<int, WindowId> m_labels;
  bool m_built = false;  // the update hook waits until every field exists
};

/// Shows `form` starting from `values`; on OK `values` holds what was entered and the
/// result is true.
bool runForm(Desktop& desktop, const Form& form, FormValues& values);

}  // namespace kelp
