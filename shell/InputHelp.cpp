// The input help window.
#include "shell/InputHelp.h"

#include <algorithm>
#include <vector>

#include "edit/Validation.h"
#include "model/Workbook.h"
#include "platform/Text.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Font.h"
#include "shell/Application.h"

namespace kelp {

namespace {

constexpr int MaxWidth = 300;
constexpr int Padding = 4;
constexpr int FromCell = 5;

FontSpec helpFont() {
  FontSpec font;
  font.face = u"Arial";
  font.height = pixelsFromTwips(200);
  return font;
}

// The text, centred and wrapped, in a frame; a pointer drags it elsewhere.
class InputHelpWindow : public Window {
 public:
  InputHelpWindow(InputHelp& owner, int32_t sheet) : m_owner(owner), m_sheet(sheet) {}

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint: {
        Canvas& c = *m.canvas;
        c.frameRect(clientRect(), Colors::Black);
        c.drawTextBox(clientRect().inflated(-Padding, -Padding), text(), helpFont(), TextFlag::Center | TextFlag::Wrap);
        return 0;
      }
      case Msg::PointerDown:
        m_grab = Point{static_cast<int>(m.wParam), static_cast<int>(m.lParam)};
        m_dragging = true;
        return 0;
      case Msg::PointerMove:
        if (m_dragging) {
          Rect r = rect();
          r = r.offset(static_cast<int>(m.wParam) - m_grab.x, static_cast<int>(m.lParam) - m_grab.y);
          move(r);
        }
        return 0;
      case Msg::PointerUp:
        m_dragging = false;
        m_owner.remember(m_sheet, Point{rect().left, rect().top});
        return 0;
      default:
        return defaultHandling(m);
    }
  }

 private:
  InputHelp& m_owner;
  int32_t m_sheet;
  Point m_grab;
  bool m_dragging = false;
};

}  // namespace

void InputHelp::remove() {
  if (m_window != NoWindow) m_app.desktop().destroy(m_window);
  m_window = NoWindow;
  m_shownFor.clear();
}

void InputHelp::update() {
  Window* main = m_app.mainWindow();
  Workbook& book = m_app.workbook();
  const Sheet* sheet = book.activeSheet();
  if (!main || !sheet) {
    remove();
    return;
  }
  const int32_t column = sheet->selection.activeColumn, row = sheet->selection.activeRow;
  const int32_t index = findRule(*sheet, column, row);
  std::u16string shown;
  if (index >= 0) {
    const ValidationRule& rule = sheet->validations[static_cast<size_t>(index)].rule;
    if ((rule.flags & ValidationFlag::InputMessage) && !(rule.inputTitle.empty() && rule.inputMessage.empty()))
      shown = rule.inputTitle.empty() ? rule.inputMessage : rule.inputTitle + u"\n\n" + rule.inputMessage;
  }
  const std::u16string key = shown.empty() ? u"" : decimalText(book.activeSheetIndex()) + u"," + decimalText(column) + u"," +
                                                        decimalText(row) + u"," + shown;
  if (key == m_shownFor && (key.empty() || m_app.desktop().find(m_window))) return;
  remove();
  if (shown.empty()) return;

  // As wide as the text, at most 300 pixels; longer lines wrap.
  const FontSpec font = helpFont();
  int widest = 0;
  for (const TextLine& line : wrapText(font, shown, MaxWidth - 2 * Padding)) widest = std::max(widest, line.width);
  const int width = widest + 2 * Padding + 2;
  const int lines = static_cast<int>(wrapText(font, shown, width - 2 * Padding).size());
  const int height = lines * fontMetrics(font).lineHeight + 2 * Padding;

  const GridGeometry geometry = m_app.grid().geometry();
  const Rect area = m_app.grid().layout().cells;
  Point at;
  auto place = m_places.find(book.activeSheetIndex());
  if (place != m_places.end()) {
    at = place->second;
  } else {
    const Rect cell = geometry.cellRect(column, row);
    at = Point{cell.left + FromCell, cell.top + FromCell};
  }
  // Kept inside the grid, whichever way the cell lies.
  at.x = std::max(area.left, std::min(at.x, area.right - width));
  at.y = std::max(area.top, std::min(at.y, area.bottom - height));
  auto& window = m_app.desktop().create<InputHelpWindow>(main, Rect{at.x, at.y, at.x + width, at.y + height}, *this,
                                                         book.activeSheetIndex());
  window.setText(shown);
  m_window = window.id();
  m_shownFor = key;
}

}  // namespace kelp
