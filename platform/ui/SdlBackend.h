// The interactive backend: an SDL window showing the phone screen, with the device's keys on a keyboard.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/Desktop.h"

namespace kelp {

/// A window showing a width × height screen enlarged `scale` times. Arrows move, Enter is
/// the action key, Backspace is Back, F1 and F3 are the soft keys (clicking a soft-key
/// label presses it too); Tab, Home, End, Page Up/Down, Esc, F2 and Delete arrive as
/// themselves, typed characters as Char messages. Closing the window asks the first
/// top-level window to close. Null (with the reason in `whyNot`) when there is no
/// display or the program was built without SDL.
std::unique_ptr<Backend> createSdlBackend(int width, int height, int scale, std::string* whyNot = nullptr);

/// Whether this build has the SDL backend.
bool haveSdlBackend();

/// Sound through SDL's audio: a wave file played while the caller goes on (in place of
/// one playing), a short tone for a system sound of `type`, and silence. False when the
/// build has no SDL, no audio device opens or the file is no wave file.
bool playWaveFile(const std::string& path);
bool playSystemSound(int type);
void stopSound();

}  // namespace kelp
