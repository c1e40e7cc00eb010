// The workbook password: its check value and the prompt that opening a protected file runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kelp {

class Workbook;

/// Asks the user for the password; `error` is 0 on the first ask and 45 after a wrong
/// one, for the prompt to show. False when the user cancels.
using PasswordPrompt = std::function<bool(std::u16string& entered, uint32_t error)>;

/// The longest password the prompt takes.
constexpr size_t MaxPasswordLength = 19;

/// The sum of character code times 1-based position, wrapping at 32 bits; 0 for "".
uint32_t passwordHash(std::u16string_view password);

/// Gives the workbook `password`, which the next native save writes and scrambles with;
/// "" removes it. False, changing nothing, for one longer than MaxPasswordLength.
bool setWorkbookPassword(Workbook& workbook, std::u16string_view password);

/// Whether a password whose check value matches also unscrambles what follows sensibly.
using PasswordFits = std::function<bool(std::u16string_view password)>;

/// Asks until the entered password's hash matches the workbook's and `fits` (when given)
/// accepts it; the match becomes the workbook's password text. The check value is a plain
/// sum that other passwords share, so `fits` is what refuses most of those. False when
/// the user cancels (or there is no prompt).
bool CheckPassword(Workbook& workbook, const PasswordPrompt& prompt, const PasswordFits& fits = {});

}  // namespace kelp
