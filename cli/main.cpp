// kelpcli: Kelp's batch command line.
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: kelpcli [--help] [--version]\n"
    "\n"
    "Kelp's batch command line.\n"
    "\n"
    "Options:\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0) {
    std::printf("kelpcli %s\n", KELP_VERSION);
    return 0;
  }
  std::fprintf(stderr, "kelpcli: unknown command '%s' (see kelpcli --help)\n", command);
  return 2;
}
