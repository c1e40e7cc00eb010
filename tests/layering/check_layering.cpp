// Checks the one-way layering of the source tree: a folder may include its own headers
// and those of folders below it, never one above; platform/ui is seen only by the
// folders that draw. Prints each offending include and exits 1 when there is one.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lowest first; cli and app stand side by side at the top.
struct Layer {
  const char* folder;
  int rank;
};
constexpr Layer kLayers[] = {
    {"platform", 0}, {"model", 1}, {"format", 2}, {"formula", 3}, {"functions", 4}, {"files", 5},
    {"edit", 6},     {"chart", 7}, {"dialogs", 8}, {"tasks", 9}, {"shell", 10}, {"cli", 11},  {"app", 11},
};
constexpr const char* kDrawingFolders[] = {"platform/ui", "chart", "dialogs", "tasks", "shell", "app"};

// The layer a path inside the tree belongs to: "platform/ui" or a top folder, or empty.
std::string layerOf(const std::string& path) {
  if (path.rfind("platform/ui/", 0) == 0) return "platform/ui";
  std::string top = path.substr(0, path.find('/'));
  for (const Layer& layer : kLayers)
    if (top == layer.folder) return top;
  return {};
}

int rankOf(const std::string& layer) {
  std::string top = layer == "platform/ui" ? "platform" : layer;
  for (const Layer& l : kLayers)
    if (top == l.folder) return l.rank;
  return -1;
}

bool allowed(const std::string& from, const std::string& to) {
  if (from == to) return true;
  if (to == "platform/ui")
    return std::find(std::begin(kDrawingFolders), std::end(kDrawingFolders), from) != std::end(kDrawingFolders);
  if (rankOf(to) == rankOf(from)) return from == "platform/ui" && to == "platform";
  return rankOf(to) < rankOf(from);
}

// The quoted target of an `#include "..."` line; empty for any other line.
std::string quotedInclude(const std::string& line) {
  size_t p = line.find_first_not_of(" \t");
  if (p == std::string::npos || line[p] != '#') return {};
  p = line.find_first_not_of(" \t", p + 1);
  if (p == std::string::npos || line.compare(p, 7, "include") != 0) return {};
  size_t open = line.find('"', p + 7);
  if (open == std::string::npos || line.find_first_not_of(" \t", p + 7) != open) return {};
  size_t close = line.find('"', open + 1);
  return close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: check_layering SOURCE_ROOT\n";
    return 2;
  }
  const fs::path root = argv[1];
  int files = 0;
  std::vector<std::string> violations;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h" && ext != ".inc" && ext != ".def") continue;
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    const std::string from = layerOf(relative);
    if (from.empty()) continue;  // tests, benchmarks, fuzz targets and examples may use anything
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      const std::string target = quotedInclude(line);
      if (target.empty()) continue;
      const std::string to = layerOf(target);
      if (to.empty() || allowed(from, to)) continue;
      violations.push_back(relative + ":" + std::to_string(number) + ": " + from + "/ includes \"" + target +
                           "\", which " +
                           (to == "platform/ui" ? "only chart/, dialogs/, tasks/, shell/ and app/ may see" : "lies above it"));
    }
  }
  if (files == 0) {
    std::cerr << "check_layering: no source files below " << root << "\n";
    return 2;
  }
  std::sort(violations.begin(), violations.end());
  for (const std::string& violation : violations) std::cout << violation << "\n";
  std::cout << files << " files checked, " << violations.size() << " upward includes\n";
  return violations.empty() ? 0 : 1;
}
