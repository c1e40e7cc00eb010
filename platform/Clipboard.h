// The clipboard: Kelp's own data under its private format, and text for other programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

/// The name Kelp's own data goes under; other programs see only the text.
inline constexpr std::u16string_view PrivateClipboardFormat = u"CF_KELP";

/// Makes the text other programs receive from Kelp's data.
using ClipboardTextRenderer = std::function<std::u16string()>;

/// Empties the clipboard and puts Kelp's data on it with its text. The text is made when
/// it is first asked for, or at once when a system clipboard takes it (its owner cannot
/// wait). False, with the clipboard left empty, when the system clipboard refused it.
bool setClipboardData(std::vector<uint8_t> privateData, ClipboardTextRenderer renderText);
/// Empties the clipboard and puts only text on it, as another program does.
bool setClipboardText(std::u16string_view text);
/// Empties the clipboard.
void emptyClipboard();

/// Whether the clipboard still holds Kelp's data: text another program put on the
/// system clipboard since replaces it.
bool clipboardHasPrivateData();
/// A copy of Kelp's data; false when the clipboard holds none.
bool clipboardPrivateData(std::vector<uint8_t>& out);
/// Whether the clipboard holds text (Kelp's own data always has its text).
bool clipboardHasText();
/// The clipboard's text; false when it holds none.
bool clipboardText(std::u16string& out);
/// A number that changes whenever the clipboard's content does.
uint64_t clipboardSequence();

/// The system's text clipboard, which a windowing backend bridges; without one the
/// clipboard lives in the process (headless runs, tests, kelpcli).
class SystemTextClipboard {
 public:
  virtual ~SystemTextClipboard() = default;
  virtual bool setText(const std::u16string& text) = 0;
  /// False when the system holds no text or cannot be asked.
  virtual bool getText(std::u16string& out) = 0;
};
/// Puts `system` in charge of the text (null gives the in-process clipboard back); the
/// clipboard is emptied either way.
void installSystemTextClipboard(SystemTextClipboard* system);

}  // namespace kelp
