// The one application-wide error state: a pending code, first error wins.
#pragma once

#include <cstdint>
#include <string>

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
/// The pending code, 0 when none.
uint32_t pendingError();
bool hasError(Err code);
void clearError();

/// Whether a pending error may be shown to the user; the shell turns it off while
/// it runs work whose failures it reports another way.
void setErrorShowing(bool enabled);
bool errorShowing();

/// What nested runs save and put back so that inner work cannot change an outer error.
struct SavedErrorState {
  uint32_t code;
  bool showing;
};
SavedErrorState saveErrorState();
void restoreErrorState(const SavedErrorState& saved);

/// The message for `code`: string 2000 + code, or "Error no. N" when the table has none.
std::u16string errorMessage(uint32_t code);

}  // namespace kelp
