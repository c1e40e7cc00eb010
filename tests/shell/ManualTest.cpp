// The manual the Help key opens: well-formed HTML, with an anchor for every topic a dialog
// asks for and for every link inside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace kelp::test {
namespace {

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Every text between `open` and the next `close`.
std::set<std::string> between(const std::string& text, const std::string& open, const std::string& close) {
  std::set<std::string> out;
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const size_t from = at + open.size(), to = text.find(close, from);
    if (to != std::string::npos) out.insert(text.substr(from, to - from));
  }
  return out;
}

const std::filesystem::path kManual = std::filesystem::path(KELP_SOURCE_DIR) / "docs" / "kelp.html";

TEST(Manual, PassesXmllint) {
  if (std::system("xmllint --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
  const std::string command = "xmllint --html --noout '" + kManual.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string said;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) said += buffer;
  EXPECT_EQ(::pclose(pipe), 0) << said;
  EXPECT_EQ(said, "");
}

TEST(Manual, EveryTopicAndLinkHasItsAnchor) {
  const std::string manual = readAll(kManual);
  ASSERT_GT(manual.size(), 20000u);
  const std::set<std::string> anchors = between(manual, " id=\"", "\"");
  // The topics the dialogs are known by, including those of dialogs still to come.
  std::set<std::string> topics = {
      "find", "replace", "sort", "goto", "zoom", "col_widths", "insert_delete", "series", "paste_special",
      "fn_math_trig", "fn_statistical", "fn_financial", "fn_date", "fn_logical", "fn_text", "fn_information",
      "fn_database", "fn_tasks", "functions", "insert_name", "define_name", "insert_char", "sheets", "format",
      "number_format", "options", "data_val", "outlining", "goal_seek", "chart", "chart_options", "define_task",
      "task", "cell_task", "insert_hyperlink", "saveas"};
  // And whatever topic the code gives a dialog.
  size_t given = 0;
  for (const char* folder : {"dialogs", "shell", "tasks", "chart"}) {
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(KELP_SOURCE_DIR) / folder)) {
      if (entry.path().extension() != ".cpp" && entry.path().extension() != ".h") continue;
      const std::string source = readAll(entry.path());
      for (const char* marker : {"setHelpTopic(", "help = "})
        for (const std::string& use : between(source, marker, ";"))
          for (const std::string& topic : between(use, "u\"", "\"")) {
            topics.insert(topic);
            ++given;
          }
    }
  }
  EXPECT_GE(given, 15u);
  for (const std::string& topic : topics) EXPECT_TRUE(anchors.count(topic)) << "no anchor for topic " << topic;
  for (const std::string& link : between(manual, "href=\"#", "\""))
    EXPECT_TRUE(anchors.count(link)) << "a link to the missing anchor #" << link;
}

}  // namespace
}  // namespace kelp::test
