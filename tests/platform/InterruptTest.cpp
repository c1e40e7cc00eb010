// Tests of the interrupt handler: Ctrl+C reaches the handler instead of ending the process.
#include <gtest/gtest.h>

#include <csignal>

#include "platform/System.h"

namespace kelp {
namespace {

volatile std::sig_atomic_t g_interrupts = 0;
void countInterrupt() { g_interrupts = g_interrupts + 1; }

TEST(InterruptTest, TheHandlerSeesEachInterruptUntilRemoved) {
  ASSERT_TRUE(onInterrupt(countInterrupt));
  std::raise(SIGINT);
  std::raise(SIGINT);
  EXPECT_EQ(g_interrupts, 2);
  // Removed again, an interrupt ends the process as it would without Kelp.
  ASSERT_TRUE(onInterrupt(nullptr));
  EXPECT_EXIT(std::raise(SIGINT), testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(g_interrupts, 2);
}

}  // namespace
}  // namespace kelp
