// The form dialog: fields laid out from their description.
#include "dialogs/Form.h"

#include <algorithm>

#include "platform/ErrorState.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

void FormDialog::build(const FormValues& start) {
  setHelpTopic(m_form.help);
  for (const Field& field : m_form.fields) addField(field, start);
  for (const FormPage& page : m_form.pages) {
    beginPage(page.name);
    for (const Field& field : page.fields) addField(field, start);
  }
  if (!m_form.pages.empty()) showPage(start.page);
  m_built = true;
  if (m_form.update) m_form.update(*this, values());
}

void FormDialog::addField(const Field& field, const FormValues& start) {
  if (field.kind == FieldKind::Note && field.id != 0) {
    // A note that changes keeps the room of its rows, whatever it says at first.
    Label& label = addLabel(field.label + std::u16string(static_cast<size_t>(std::max(field.rows - 1, 0)), u'\n'));
    label.setText(field.label);
    m_labels[field.id] = label.id();
  } else if (field.kind != FieldKind::Check && field.kind != FieldKind::Button && !field.label.empty()) {
    Label& label = addLabel(field.label);
    if (field.kind != FieldKind::Note) m_labels[field.id] = label.id();
  }
  switch (field.kind) {
    case FieldKind::Note:
      break;
    case FieldKind::Text:
    case FieldKind::Number: {
      auto at = start.text.find(field.id);
      EditLine& edit = addEdit(field.id);
      if (field.maxLength) edit.setMaxLength(field.maxLength);
      edit.setValue(at == start.text.end() ? u"" : at->second);
      edit.selectAll();
      break;
    }
    case FieldKind::Choice: {
      ListBox& list = addList(field.id, field.items, field.rows);
      auto at = start.choice.find(field.id);
      if (at != start.choice.end()) list.select(at->second);
      break;
    }
    case FieldKind::Check: {
      auto at = start.check.find(field.id);
      addCheck(field.id, field.label, at != start.check.end() && at->second);
      break;
    }
    case FieldKind::Button:
      addButton(field.id, field.label);
      break;
    case FieldKind::Offer: {
      auto at = start.text.find(field.id);
      OfferEdit& edit = addOfferEdit(field.id, field.items);
      if (field.maxLength) edit.setMaxLength(field.maxLength);
      edit.setValue(at == start.text.end() ? u"" : at->second);
      edit.selectAll();
      break;
    }
  }
}

FormValues FormDialog::values() const {
  FormValues out;
  out.page = page();
  eachField([&](const Field& field) {
    if (field.kind == FieldKind::Text || field.kind == FieldKind::Number || field.kind == FieldKind::Offer) {
      if (auto* edit = controlAs<EditLine>(field.id)) out.text[field.id] = edit->text();
    } else if (field.kind == FieldKind::Choice) {
      if (auto* list = controlAs<ListBox>(field.id)) out.choice[field.id] = list->selected();
    } else if (field.kind == FieldKind::Check) {
      if (auto* box = controlAs<CheckBox>(field.id)) out.check[field.id] = box->checked();
    }
  });
  return out;
}

void FormDialog::enableField(int id, bool on) {
  if (Control* c = control(id)) {
    // The focus leaves a field that goes grey.
    if (!on && desktop().focus() == c) moveFocus(1);
    c->setEnabled(on);
  }
  auto at = m_labels.find(id);
  if (at != m_labels.end()) {
    if (auto* label = dynamic_cast<Control*>(desktop().find(at->second))) label->setEnabled(on);
  }
}

void FormDialog::setNote(int id, std::u16string_view text) {
  auto at = m_labels.find(id);
  if (at == m_labels.end()) return;
  if (Window* label = desktop().find(at->second)) {
    label->setText(text);
    label->invalidate();
  }
}

void FormDialog::setChoices(int id, std::vector<std::u16string> items) {
  auto* list = controlAs<ListBox>(id);
  if (!list || list->items() == items) return;
  const int chosen = list->selected();
  const int count = static_cast<int>(items.size());
  list->setItems(std::move(items));
  if (chosen > 0 && chosen < count) list->select(chosen);
}

void FormDialog::showMessage(std::u16string_view text) {
  messageBox(desktop(), id(), text, u"Kelp", BoxFlag::Ok | BoxFlag::IconExclamation);
}

void FormDialog::showError(uint32_t code) {
  clearError();
  showMessage(errorMessage(code));
}

bool FormDialog::onOk() { return !m_form.accept || m_form.accept(*this, values()); }

void FormDialog::onCommand(int id, int64_t notify) {
  if (notify == Notify::Changed) {
    if (m_form.update && m_built) m_form.update(*this, values());
    return;
  }
  if (notify == Notify::Activated && controlAs<Button>(id)) {
    if (m_form.press) m_form.press(*this, id);
    return;
  }
  Dialog::onCommand(id, notify);
}

bool runForm(Desktop& desktop, const Form& form, FormValues& values) {
  auto& dialog = desktop.create<FormDialog>(nullptr, desktop.workArea(), form);
  dialog.build(values);
  const bool ok = dialog.run() == DialogResult::Ok;
  if (ok) values = dialog.values();
  desktop.destroy(dialog.id());
  return ok;
}

}  // namespace kelp
