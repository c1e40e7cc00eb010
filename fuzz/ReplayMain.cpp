// Runs a fuzz target without libFuzzer: over every stored input in a folder, then
// over generated inputs, so the test build keeps old crashes fixed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  size_t inputs = 0;
  if (argc > 1 && std::filesystem::is_directory(argv[1])) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
      if (!entry.is_regular_file()) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++inputs;
    }
  }
  // Printable-heavy random inputs reach further into text readers than uniform bytes.
  std::mt19937 random(12345);
  const char alphabet[] = "0123456789+-*/^&%=<>(),;:.!$'\"[]ABCabcxyz_ \t\r\n#@\x7f\xc3\xa9";
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> bytes(random() % 64);
    for (auto& b : bytes)
      b = (random() % 4 == 0) ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(alphabet[random() % (sizeof alphabet - 1)]);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++inputs;
  }
  std::printf("replayed %zu inputs\n", inputs);
  return 0;
}
