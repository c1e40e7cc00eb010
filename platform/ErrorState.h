// The one application-wide error state: a pending code, first error wins.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelp {

/// Operational error codes; the message of code N is string 2000 + N.
enum class Err : uint32_t {
#define KELP_ERROR(number, name, message) name = number,
#include "platform/ErrorCodes.def"
#undef KELP_ERROR
};

/// Stores `code` only while no error is pending, so the first failure is the one reported.
void setError(Err code);
void setError(uint32_t code);
/// Stores `code` with what it concerns ("Foo" for an unknown name), both only while no
/// error is pending.
void setError(Err code, std::u16string_view detail);
/// Gives the pending error what it concerns, when it has nothing yet.
void setErrorDetail(std::u16string_view detail);
/// What the pending error concerns; empty when nothing was said or nothing is pending.
const std::u16string& pendingErrorDetail();
/// The pending code, 0 when none.
uint32_t pendingError();
bool hasError(Err code);
/// Clears the pending code and its detail.
void clearError();

/// Whether a pending error may be shown to the user; the shell turns it off while
/// it runs work whose failures it reports another way.
void setErrorShowing(bool enabled);
bool errorShowing();

/// What nested runs save and put back so that inner work cannot change an outer error.
struct SavedErrorState {
  uint32_t code;
  bool showing;
  std::u16string detail;
};
SavedErrorState saveErrorState();
void restoreErrorState(const SavedErrorState& saved);

/// The message for `code`: string 2000 + code, or "Error no. N" when the table has none.
std::u16string errorMessage(uint32_t code);
/// What the user is told of the pending error: its message, then ": detail" when it has
/// one ("Unknown name: Foo"); empty when none is pending.
std::u16string pendingErrorText();
/// pendingErrorText, and the error cleared.
std::u16string takePendingErrorText();

}  // namespace kelp
