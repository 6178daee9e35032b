// A device interrupt without its own handler ends in the default handler,
// and stays there.
#include <gtest/gtest.h>

#include "platform/memmap.h"
#include "tests/boards/image_run.h"

namespace {

using namespace sim;
using namespace boards_test;

TEST(DefaultHandler, TakesTheInterruptAndNeverReturns) {
  const auto run = runImage(imageBench(), milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto entries = run.interrupts(INT_TIMER0A);
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_NEAR(static_cast<double>(entries[0]), 1e9, 0.1e9);
  EXPECT_EQ(run.text().find("interrupt 35 exit"), std::string::npos);
  // The foreground printed every 0.1 ms until then, and nothing after the
  // bytes already queued.
  const std::string before = run.sentBetween(0, 0, entries[0]);
  EXPECT_GE(before.size(), 8U);
  // Start-up had given full access to the FPU before the C run-time's
  // initialisation, whose static constructor computed 2.5 x 3 in floating
  // point.
  EXPECT_EQ(before.substr(0, 2), "F7");
  EXPECT_LE(run.sentBetween(0, entries[0] + milliseconds(1), milliseconds(5)).size(), 0U);
}

}  // namespace
