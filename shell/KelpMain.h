// The kelp program's run: arguments, the single-instance rule, the interactive or
// headless session and the screenshot written when there is no display.
#pragma once

#include <string>

namespace kelp {

struct KelpOptions {
  bool headless = false;
  bool help = false;
  bool version = false;
  bool newInstance = false;  // start even while another Kelp runs
  std::string keys;          // key script of a headless session
  std::string screenshot;    // PNG written when a headless session ends
  int width = 240;
  int height = 320;
  std::string file;          // the document to open, as given
};

/// False with a message in `error` for arguments kelp does not take.
bool parseKelpArguments(int argc, const char* const* argv, KelpOptions& options, std::string& error);

/// The usage text of `kelp --help`.
const char* kelpUsage();

/// Runs the program; returns its exit code. A second start passes its document to the
/// running instance and returns 0 at once.
int runKelp(const KelpOptions& options);

}  // namespace kelp
