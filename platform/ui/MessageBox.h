// Message boxes: an icon, a caption, a text and one to three answers on the soft keys.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ui/Message.h"

namespace kelp {

class Desktop;

/// Buttons and icons, combined with |, in the handheld's values.
namespace BoxFlag {
constexpr uint32_t Ok = 0, OkCancel = 1, YesNoCancel = 3, YesNo = 4;
constexpr uint32_t IconError = 0x10, IconQuestion = 0x20, IconExclamation = 0x30, IconInformation = 0x40;
constexpr uint32_t ButtonMask = 0xF, IconMask = 0xF0;
/// The action key gives the second answer (No, Cancel) instead of the first.
constexpr uint32_t DefaultSecond = 0x100;
}  // namespace BoxFlag

/// Shows the box modally and returns DialogResult Ok, Cancel, Yes or No.
/// The left soft key gives the first answer (OK or Yes) and so does the action key,
/// unless DefaultSecond makes it give the second;
/// the right soft key gives the second (Cancel or No); Back and Escape give Cancel
/// when the box offers it, OK in a box with OK alone, and No in a Yes/No box.
/// A loop that ends while the box is open (no more input) counts as Cancel.
int messageBox(Desktop& desktop, WindowId owner, std::u16string_view text, std::u16string_view caption,
               uint32_t flags);

}  // namespace kelp
