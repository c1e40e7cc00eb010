// Binds the worksheet functions before the first test of a suite that evaluates formulas.
#include <gtest/gtest.h>

#include "functions/Engine.h"

namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { kelp::startEngine(); }
};

const auto* const g_engineEnvironment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace
