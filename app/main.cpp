// kelp: the keypad spreadsheet in a phone-sized window, or a scripted session without one.
#include <cstdio>

#include "shell/KelpMain.h"

int main(int argc, char** argv) {
  kelp::KelpOptions options;
  std::string error;
  if (!kelp::parseKelpArguments(argc, argv, options, error)) {
    std::fprintf(stderr, "kelp: %s\n\n%s", error.c_str(), kelp::kelpUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(kelp::kelpUsage(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("kelp %s\n", KELP_VERSION);
    return 0;
  }
  return kelp::runKelp(options);
}
