// The workbook password dialogs: File > Password... sets or removes it, and opening a
// protected file asks for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/Window.h"

namespace kelp {

class Desktop;
class Workbook;

/// "Password" with the two hidden fields; OK with matching texts gives the workbook that
/// password ("" removes it) and marks it modified. False when cancelled.
bool runPasswordDialog(Desktop& desktop, WindowId owner, Workbook& workbook);

/// The prompt behind opening a protected file (a PasswordPrompt): `error` 45 says the
/// last try was wrong, shown over the prompt before it asks again.
bool askPasswordDialog(Desktop& desktop, WindowId owner, std::u16string& entered, uint32_t error);

}  // namespace kelp
