// The application-wide error state and its messages.
#include "platform/ErrorState.h"

#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {
uint32_t g_code = 0;
bool g_showing = true;
}  // namespace

void setError(uint32_t code) {
  if (g_code == 0) g_code = code;
}

void setError(Err code) { setError(static_cast<uint32_t>(code)); }

uint32_t pendingError() { return g_code; }

bool hasError(Err code) { return g_code == static_cast<uint32_t>(code); }

void clearError() { g_code = 0; }

void setErrorShowing(bool enabled) { g_showing = enabled; }

bool errorShowing() { return g_showing; }

SavedErrorState saveErrorState() { return {g_code, g_showing}; }

void restoreErrorState(const SavedErrorState& saved) {
  g_code = saved.code;
  g_showing = saved.showing;
}

std::u16string errorMessage(uint32_t code) {
  if (code <= 0xFFFF) {
    std::u16string_view text = loadString(StringId::ErrorBase + static_cast<int>(code));
    if (!text.empty()) return std::u16string(text);
  }
  return formatText(u"Error no. %i", static_cast<int64_t>(code));
}

}  // namespace kelp
