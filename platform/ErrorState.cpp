// The application-wide error state and its messages.
#include "platform/ErrorState.h"

#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {
uint32_t g_code = 0;
bool g_showing = true;
std::u16string g_detail;
}  // namespace

void setError(uint32_t code) {
  if (g_code == 0) g_code = code;
}

void setError(Err code) { setError(static_cast<uint32_t>(code)); }

void setError(Err code, std::u16string_view detail) {
  if (g_code != 0) return;
  g_code = static_cast<uint32_t>(code);
  g_detail = detail;
}

void setErrorDetail(std::u16string_view detail) {
  if (g_code != 0 && g_detail.empty()) g_detail = detail;
}

const std::u16string& pendingErrorDetail() { return g_detail; }

uint32_t pendingError() { return g_code; }

bool hasError(Err code) { return g_code == static_cast<uint32_t>(code); }

void clearError() {
  g_code = 0;
  g_detail.clear();
}

void setErrorShowing(bool enabled) { g_showing = enabled; }

bool errorShowing() { return g_showing; }

SavedErrorState saveErrorState() { return {g_code, g_showing, g_detail}; }

void restoreErrorState(const SavedErrorState& saved) {
  g_code = saved.code;
  g_showing = saved.showing;
  g_detail = saved.detail;
}

std::u16string errorMessage(uint32_t code) {
  if (code <= 0xFFFF) {
    std::u16string_view text = loadString(StringId::ErrorBase + static_cast<int>(code));
    if (!text.empty()) return std::u16string(text);
  }
  return formatText(u"Error no. %i", static_cast<int64_t>(code));
}

}  // namespace kelp

namespace kelp {

std::u16string pendingErrorText() {
  if (g_code == 0) return {};
  std::u16string text = errorMessage(g_code);
  if (!g_detail.empty()) text += u": " + g_detail;
  return text;
}

std::u16string takePendingErrorText() {
  std::u16string text = pendingErrorText();
  clearError();
  return text;
}

}  // namespace kelp
