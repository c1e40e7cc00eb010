// Registers the text readers and writers before the first test of the files suite.
#include <gtest/gtest.h>

#include "files/TextFiles.h"

namespace {

class TextFormatsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { kelp::installTextFormats(); }
};

const auto* const g_textFormatsEnvironment = ::testing::AddGlobalTestEnvironment(new TextFormatsEnvironment);

}  // namespace
