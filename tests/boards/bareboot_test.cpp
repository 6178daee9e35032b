// The startup image on the simulated board.
#include <gtest/gtest.h>

#include "tests/boards/image_run.h"

namespace {

using namespace sim;
using namespace boards_test;

TEST(Bareboot, StartsAndIdles) {
  const auto run = runImage(imageBench(), seconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Nothing happens but the end of the run.
  ASSERT_EQ(run.timeline().records.size(), 1U) << run.text();
  EXPECT_EQ(run.end(), seconds(1));
}

TEST(Bareboot, TheArmImageStartsAndIdlesAsTheHostBuildDoes) {
  const auto arm = runArmImage(Bench{}, "boards/bareboot/bareboot.elf", seconds(1));
  ASSERT_TRUE(arm.ok()) << arm.failure();
  // Only the end, and the stack it used of its 512 bytes.
  EXPECT_EQ(arm.end(), seconds(1));
  ASSERT_TRUE(arm.stack());
  EXPECT_EQ(arm.stack()->second, 512U);
  EXPECT_LT(arm.stack()->first, 64U);
  for (const Record& record : arm.timeline().records) {
    EXPECT_TRUE(record.kind == RecordKind::Ended || record.kind == RecordKind::Stack ||
                record.kind == RecordKind::Executed)
        << arm.text();
  }
}

}  // namespace
