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

}  // namespace
