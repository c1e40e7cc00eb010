// The list window under a cell.
#include "dialogs/PickList.h"

#include <algorithm>

#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Menu.h"

namespace kelp {

namespace {

constexpr int MostRows = 7;
constexpr int ListId = 1029;

class PickWindow : public Window {
 public:
  void build(std::vector<std::u16string> entries, int chosen, int rows) {
    ListBox& list = desktop().create<ListBox>(this, clientRect());
    list.setControlId(ListId);
    list.setRows(rows);
    list.setItems(std::move(entries));
    if (chosen > 0) list.select(chosen);
    m_list = list.id();
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"OK", DialogCommand::Ok);
    bar.setKey(1, u"Cancel", DialogCommand::Cancel);
  }
  ListBox* list() const { return dynamic_cast<ListBox*>(desktop().find(m_list)); }

 protected:
  int64_t onMessage(Message& m) override {
    if (m.msg == Msg::Command) {
      if (m.wParam == ListId && m.lParam == Notify::Activated) desktop().endModal(*this, DialogResult::Ok);
      if (m.lParam == 0 && (m.wParam == DialogCommand::Ok || m.wParam == DialogCommand::Cancel))
        desktop().endModal(*this, m.wParam == DialogCommand::Ok ? DialogResult::Ok : DialogResult::Cancel);
      return 0;
    }
    if (m.msg == Msg::KeyDown &&
        (m.wParam == static_cast<int64_t>(Key::Back) || m.wParam == static_cast<int64_t>(Key::Escape))) {
      desktop().endModal(*this, DialogResult::Cancel);
      return 0;
    }
    return defaultHandling(m);
  }

 private:
  WindowId m_list = NoWindow;
};

}  // namespace

bool pickFromList(Desktop& desktop, const Rect& cell, std::vector<std::u16string> entries, int& chosen) {
  if (entries.empty()) return false;
  const int rows = std::min<int>(MostRows, static_cast<int>(entries.size()));
  const int height = rows * (fontMetrics(systemFont()).lineHeight + 2) + 4;
  const Rect work = desktop.workArea();
  const int width = std::clamp(cell.width(), 60, work.width());
  const int left = std::clamp(cell.left, 0, work.right - width);
  const int top = cell.bottom + height <= work.bottom ? cell.bottom : std::max(0, cell.top - height);
  auto& window = desktop.create<PickWindow>(nullptr, Rect{left, top, left + width, top + height});
  window.build(std::move(entries), chosen, rows);
  const bool ok = desktop.runModal(window, window.list()) == DialogResult::Ok;
  if (ok && window.list()) chosen = window.list()->selected();
  desktop.destroy(window.id());
  return ok && chosen >= 0;
}

}  // namespace kelp
