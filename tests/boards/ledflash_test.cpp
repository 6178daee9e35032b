// The LED blink program on the simulated board.
#include <gtest/gtest.h>

#include "tests/boards/image_run.h"

namespace {

using namespace sim;
using namespace boards_test;

TEST(Ledflash, BlinksOnlyPin1WithEqualOnAndOffTimes) {
  const auto run = runImage(imageBench(), milliseconds(1000));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto changes = run.pinChanges(PF1);
  ASSERT_GE(changes.size(), 5U);
  // Off as it becomes an output, then on first.
  EXPECT_EQ(changes[0].value, 0);
  EXPECT_EQ(changes[1].value, 1);
  const Time on = changes[2].time - changes[1].time;
  const Time off = changes[3].time - changes[2].time;
  // 200 000 passes at the 16 MHz reset clock, plus one pin write: equal.
  EXPECT_NEAR(static_cast<double>(on), static_cast<double>(off), 1e6);
  EXPECT_NEAR(static_cast<double>(on), 200000 * 11 * 62500.0, 1e7);
  for (Pin other : {PF0, PF2, PF3, PF4}) {
    EXPECT_TRUE(run.pinChanges(other).empty());
  }
  // The pin was set up after the ready-wait saw the port ready: no fault.
  EXPECT_EQ(run.text().find("fault"), std::string::npos);
}

TEST(Ledflash, TheArmImageBlinksAsTheHostBuildDoes) {
  const auto host = runImage(imageBench(), milliseconds(1000));
  const auto arm = runArmImage(Bench{}, "boards/ledflash/ledflash.elf", milliseconds(1000));
  ASSERT_TRUE(arm.ok()) << arm.failure();
  const auto hostChanges = host.pinChanges(PF1);
  const auto armChanges = arm.pinChanges(PF1);
  ASSERT_GE(armChanges.size(), 5U) << arm.text().substr(0, 2000);
  // The same changes of the same pin only.
  for (size_t index = 0; index < 5; ++index) {
    EXPECT_EQ(armChanges[index].value, hostChanges[index].value) << index;
  }
  for (Pin other : {PF0, PF2, PF3, PF4}) {
    EXPECT_TRUE(arm.pinChanges(other).empty());
  }
  // The blink's loop runs natively here, counted by instruction class; the
  // chip spends 11 cycles a pass (load 2, compare 1, branch not taken 1,
  // load 2, add 1, store 2, branch taken 2), which the host build counts.
  const Time on = armChanges[2].time - armChanges[1].time;
  const Time off = armChanges[3].time - armChanges[2].time;
  EXPECT_NEAR(static_cast<double>(on), static_cast<double>(off), 0.001 * static_cast<double>(on));
  EXPECT_NEAR(static_cast<double>(on), 200000 * 11 * 62500.0, 0.001 * static_cast<double>(on));
}

}  // namespace
