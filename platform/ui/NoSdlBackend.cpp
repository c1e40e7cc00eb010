// Stands in for the SDL backend in builds without SDL2.
#include "platform/ui/SdlBackend.h"

namespace kelp {

std::unique_ptr<Backend> createSdlBackend(int, int, int, std::string* whyNot) {
  if (whyNot) *whyNot = "Kelp was built without SDL2";
  return nullptr;
}

bool haveSdlBackend() { return false; }

bool playWaveFile(const std::string&) { return false; }
bool playSystemSound(int) { return false; }
void stopSound() {}

}  // namespace kelp
