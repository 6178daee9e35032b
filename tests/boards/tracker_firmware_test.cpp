// The tracker firmware image on the simulated board: its bring-up order
// from reset, and its handlers at work.
#include <gtest/gtest.h>

#include "platform/memmap.h"
#include "tests/boards/image_run.h"

namespace {

using namespace sim;
using namespace boards_test;

TEST(TrackerFirmware, BringsUpAndReportsOnTheFirstTick) {
  Bench bench = imageBench();
  bench.analogue(0, [](Time) { return uint16_t{1000}; });
  bench.uart(2).send(seconds(5), "$GPGGA");  // the position link is up and listening
  const auto run = runImage(bench, seconds(45));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string console = run.sent(0);
  EXPECT_EQ(console.rfind("UART Setup Completed\n", 0), 0U) << console.substr(0, 40);
  // No position yet: blank fields, and the pulse from the initial 20.
  EXPECT_NE(run.sent(4).find("         ,         ,40\r\n"), std::string::npos) << run.sent(4);
  EXPECT_EQ(run.received(2), "$GPGGA");
  EXPECT_EQ(run.interrupts(INT_TIMER1A).size(), 1U);
  EXPECT_GT(run.interrupts(INT_TIMER0A).size(), 350U);
}

}  // namespace
