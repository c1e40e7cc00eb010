// The clipboard: the private slot in the process, the text slot there or on the system.
#include "platform/Clipboard.h"

#include <optional>
#include <utility>

namespace kelp {

namespace {

struct ClipboardState {
  std::optional<std::vector<uint8_t>> privateData;
  ClipboardTextRenderer renderText;  // until the text is first asked for
  std::optional<std::u16string> text;
  // The text handed to the system with the private data: while the system still gives
  // it back, the private data is still the clipboard's.
  std::u16string handedOver;
  uint64_t sequence = 0;
  SystemTextClipboard* system = nullptr;
};

ClipboardState& state() {
  static ClipboardState s;
  return s;
}

void clear(ClipboardState& s) {
  s.privateData.reset();
  s.renderText = nullptr;
  s.text.reset();
  s.handedOver.clear();
  ++s.sequence;
}

// Another program may have taken the system clipboard since Kelp's data went on it.
// Empty cells give empty text, which the system holds as no text at all.
void checkOwner(ClipboardState& s) {
  if (!s.system || !s.privateData) return;
  std::u16string now;
  const bool hasText = s.system->getText(now);
  if (hasText ? now != s.handedOver : !s.handedOver.empty()) clear(s);
}

}  // namespace

bool setClipboardData(std::vector<uint8_t> privateData, ClipboardTextRenderer renderText) {
  ClipboardState& s = state();
  clear(s);
  if (s.system) {
    std::u16string text = renderText ? renderText() : std::u16string();
    if (!s.system->setText(text)) return false;
    s.handedOver = std::move(text);
  } else {
    s.renderText = std::move(renderText);
  }
  s.privateData = std::move(privateData);
  return true;
}

bool setClipboardText(std::u16string_view text) {
  ClipboardState& s = state();
  clear(s);
  if (s.system) return s.system->setText(std::u16string(text));
  s.text = std::u16string(text);
  return true;
}

void emptyClipboard() {
  ClipboardState& s = state();
  clear(s);
  if (s.system) s.system->setText(std::u16string());
}

bool clipboardHasPrivateData() {
  ClipboardState& s = state();
  checkOwner(s);
  return s.privateData.has_value();
}

bool clipboardPrivateData(std::vector<uint8_t>& out) {
  if (!clipboardHasPrivateData()) return false;
  out = *state().privateData;
  return true;
}

bool clipboardHasText() {
  ClipboardState& s = state();
  // Kelp's own data has its text without making it now.
  if (!s.system && s.renderText) return true;
  std::u16string text;
  return clipboardText(text);
}

bool clipboardText(std::u16string& out) {
  ClipboardState& s = state();
  if (s.system) {
    checkOwner(s);
    return s.system->getText(out) && !out.empty();
  }
  if (s.renderText) {
    s.text = s.renderText();
    s.renderText = nullptr;
  }
  if (!s.text || s.text->empty()) return false;
  out = *s.text;
  return true;
}

uint64_t clipboardSequence() {
  ClipboardState& s = state();
  checkOwner(s);
  return s.sequence;
}

void installSystemTextClipboard(SystemTextClipboard* system) {
  ClipboardState& s = state();
  clear(s);
  s.system = system;
}

}  // namespace kelp
