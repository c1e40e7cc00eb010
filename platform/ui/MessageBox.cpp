// The message box window: caption strip, drawn icon, wrapped text and soft-key answers.
#include "platform/ui/MessageBox.h"

#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Menu.h"

namespace kelp {

namespace {

class MessageBoxWindow : public Window {
 public:
  MessageBoxWindow(std::u16string_view text, std::u16string_view caption, uint32_t flags)
      : m_body(text), m_caption(caption), m_flags(flags) {}

  int first() const { return buttons() == BoxFlag::Ok || buttons() == BoxFlag::OkCancel ? DialogResult::Ok : DialogResult::Yes; }
  int second() const {
    switch (buttons()) {
      case BoxFlag::OkCancel: return DialogResult::Cancel;
      case BoxFlag::YesNo:
      case BoxFlag::YesNoCancel: return DialogResult::No;
      default: return 0;
    }
  }
  int escape() const {
    switch (buttons()) {
      case BoxFlag::Ok: return DialogResult::Ok;
      case BoxFlag::YesNo: return DialogResult::No;
      default: return DialogResult::Cancel;
    }
  }
  static std::u16string_view label(int result) {
    switch (result) {
      case DialogResult::Ok: return u"OK";
      case DialogResult::Cancel: return u"Cancel";
      case DialogResult::Yes: return u"Yes";
      case DialogResult::No: return u"No";
      default: return u"";
    }
  }

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint:
        paint(*m.canvas);
        return 0;
      case Msg::KeyDown: {
        Key k = static_cast<Key>(m.wParam);
        if (k == Key::Enter) desktop().endModal(*this, (m_flags & BoxFlag::DefaultSecond) && second() ? second() : first());
        if (k == Key::Back || k == Key::Escape) desktop().endModal(*this, escape());
        return 0;
      }
      case Msg::Command:
        if (m.wParam == DialogResult::Ok || m.wParam == DialogResult::Cancel || m.wParam == DialogResult::Yes ||
            m.wParam == DialogResult::No) {
          desktop().endModal(*this, static_cast<int>(m.wParam));
        }
        return 0;
      default:
        return defaultHandling(m);
    }
  }

 private:
  uint32_t buttons() const {
    uint32_t b = m_flags & BoxFlag::ButtonMask;
    return b == BoxFlag::OkCancel || b == BoxFlag::YesNo || b == BoxFlag::YesNoCancel ? b : BoxFlag::Ok;
  }

  void paint(Canvas& c) {
    Rect r = clientRect();
    FontSpec font = systemFont();
    int captionHeight = fontMetrics(font).lineHeight + 6;
    c.fillRect({r.left, r.top, r.right, r.top + captionHeight}, Colors::Highlight);
    FontSpec captionFont = font;
    captionFont.weight = 700;
    captionFont.color = Colors::HighlightText;
    c.drawTextBox({r.left + 4, r.top, r.right - 4, r.top + captionHeight}, m_caption, captionFont, TextFlag::VCenter);
    int textLeft = r.left + 6;
    uint32_t icon = m_flags & BoxFlag::IconMask;
    if (icon) {
      Rect disc{r.left + 6, r.top + captionHeight + 8, r.left + 38, r.top + captionHeight + 40};
      Color fill = icon == BoxFlag::IconError ? rgb(200, 0, 0) : icon == BoxFlag::IconExclamation ? rgb(230, 180, 0) : rgb(0, 80, 200);
      if (icon == BoxFlag::IconExclamation) {
        c.fillPolygon({{(disc.left + disc.right) / 2, disc.top}, {disc.right, disc.bottom}, {disc.left, disc.bottom}}, fill);
      } else {
        c.fillEllipse(disc, fill);
      }
      std::u16string_view mark = icon == BoxFlag::IconError ? u"X" : icon == BoxFlag::IconQuestion ? u"?" : icon == BoxFlag::IconExclamation ? u"!" : u"i";
      FontSpec markFont = font;
      markFont.height = 18;
      markFont.weight = 700;
      markFont.color = icon == BoxFlag::IconExclamation ? Colors::Black : Colors::White;
      c.drawTextBox(disc.offset(0, icon == BoxFlag::IconExclamation ? 3 : 0), mark, markFont, TextFlag::Center | TextFlag::VCenter);
      textLeft = disc.right + 8;
    }
    c.drawTextBox({textLeft, r.top + captionHeight + 8, r.right - 6, r.bottom - 4}, m_body, font, TextFlag::Wrap);
  }

  std::u16string m_body;
  std::u16string m_caption;
  uint32_t m_flags;
};

}  // namespace

int messageBox(Desktop& desktop, WindowId /*owner*/, std::u16string_view text, std::u16string_view caption,
               uint32_t flags) {
  MessageBoxWindow& box = desktop.create<MessageBoxWindow>(nullptr, desktop.workArea(), text, caption, flags);
  MenuBar& bar = createMenuBar(desktop, box);
  bar.setKey(0, MessageBoxWindow::label(box.first()), static_cast<uint32_t>(box.first()));
  if (box.second()) bar.setKey(1, MessageBoxWindow::label(box.second()), static_cast<uint32_t>(box.second()));
  int result = desktop.runModal(box);
  desktop.destroy(box.id());
  return result;
}

}  // namespace kelp
