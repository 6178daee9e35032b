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

TEST(TrackerFirmware, TheArmImageBringsUpAndReportsAsTheHostBuildDoes) {
  Bench bench = imageBench();
  bench.analogue(0, [](Time) { return uint16_t{1000}; });
  // The modem's RING reaches the image through UART4's interrupt: with the
  // wrong interrupt number it would go unseen.
  bench.uart(4).send(seconds(30), "\r\nRING\r\n");
  const auto host = runImage(bench, seconds(45));
  const auto arm = runArmImage(bench, "apps/tracker/tracker_firmware.elf", seconds(45));
  ASSERT_TRUE(arm.ok()) << arm.failure();
  // The same bytes on the console and the modem line, in the same order.
  EXPECT_EQ(arm.sent(0).substr(0, 21), "UART Setup Completed\n");
  EXPECT_NE(arm.sent(0).find("\r\nRING\r\ncallFlag : 1\n"), std::string::npos) << arm.sent(0);
  EXPECT_EQ(arm.interrupts(INT_UART4).size(), host.interrupts(INT_UART4).size());
  EXPECT_EQ(arm.sent(4), host.sent(4));
  // The report tick at 40 s and the pulse ticks every 100 ms on both.
  ASSERT_EQ(arm.interrupts(INT_TIMER1A).size(), 1U);
  EXPECT_NEAR(static_cast<double>(arm.interrupts(INT_TIMER1A)[0]),
              static_cast<double>(host.interrupts(INT_TIMER1A)[0]), 0.01e12);
  EXPECT_NEAR(static_cast<double>(arm.interrupts(INT_TIMER0A).size()),
              static_cast<double>(host.interrupts(INT_TIMER0A).size()), 3.0);
  // Each byte of the modem line at the host build's time, within 2 ms and
  // 0.1 % of the time: the two count the code's cycles differently (one a
  // halfword of code here, four a register access there), and the waits
  // in between are the same.
  const auto armBytes = arm.sentBytes(4);
  const auto hostBytes = host.sentBytes(4);
  ASSERT_EQ(armBytes.size(), hostBytes.size());
  for (size_t index = 0; index < armBytes.size(); ++index) {
    const double expected = static_cast<double>(hostBytes[index].time);
    EXPECT_NEAR(static_cast<double>(armBytes[index].time), expected, 2e9 + 1e-3 * expected) << index;
  }
  // The stack it reached, within the image's.
  ASSERT_TRUE(arm.stack());
  EXPECT_EQ(arm.stack()->second, 0x600U);
  EXPECT_LT(arm.stack()->first, arm.stack()->second);
  EXPECT_GT(arm.stack()->first, 200U);
}

}  // namespace
