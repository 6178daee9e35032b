// The serial echo program on the simulated board.
#include <gtest/gtest.h>

#include "platform/memmap.h"
#include "tests/boards/image_run.h"

namespace {

using namespace sim;
using namespace boards_test;

// 115200 baud from the 16 MHz crystal: divisor 556 64ths of 16 clocks.
constexpr Time kCharacter = 10 * Time{8687500};

TEST(Typeback, PromptsWithTheSixteenBytesAndNothingMore) {
  const auto run = runImage(imageBench(), milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(0), "\x1B[2JEnter text: ");
  EXPECT_EQ(run.sent(0).size(), 16U);
  // The prompt goes out back to back at line rate.
  const auto bytes = run.sentBytes(0);
  EXPECT_EQ(bytes[15].time - bytes[0].time, 15 * kCharacter);
}

TEST(Typeback, EchoesEachByteWithAMillisecondFlash) {
  Bench bench = imageBench();
  bench.uart(0).send(milliseconds(5), "a");
  bench.uart(0).send(milliseconds(10), std::string("xyz\0!", 5));
  const auto run = runImage(bench, milliseconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  // The burst comes back in order, the zero byte like any other.
  EXPECT_EQ(run.sent(0), "\x1B[2JEnter text: " + std::string("axyz\0!", 6));
  // One flash of about 1 ms per byte on PF2.
  const auto flashes = run.pinChanges(PF2);
  ASSERT_EQ(flashes.size(), 1U + 2 * 6);
  for (size_t on = 1; on < flashes.size(); on += 2) {
    EXPECT_EQ(flashes[on].value, 1);
    EXPECT_NEAR(static_cast<double>(flashes[on + 1].time - flashes[on].time), 1e9, 0.01e9);
  }
  // The single byte raised the time-out interrupt, the burst of 5 too.
  EXPECT_EQ(run.interrupts(INT_UART0).size(), 2U);
}

TEST(Typeback, ByteArrivingWhileThePromptGoesOutIsEchoedInBetween) {
  Bench bench = imageBench();
  bench.uart(0).send(microseconds(300), "Q");
  const auto run = runImage(bench, milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string sent = run.sent(0);
  EXPECT_EQ(sent.size(), 17U);
  EXPECT_NE(sent.find('Q'), std::string::npos);
}

TEST(Typeback, TheArmImageEchoesThroughTheRomAsTheHostBuildDoes) {
  // The image calls the chip's ROM table; the emulated board's ROM holds the
  // driver layer built for the chip, in the same layout.
  Bench bench = imageBench();
  bench.uart(0).send(milliseconds(5), "a");
  bench.uart(0).send(milliseconds(10), std::string("xyz\0!", 5));
  const auto host = runImage(bench, milliseconds(30));
  const auto arm = runArmImage(bench, "boards/typeback/typeback.elf", milliseconds(30));
  ASSERT_TRUE(arm.ok()) << arm.failure();
  EXPECT_EQ(arm.sent(0), host.sent(0));
  EXPECT_EQ(arm.interrupts(INT_UART0).size(), host.interrupts(INT_UART0).size());
  const auto armFlashes = arm.pinChanges(PF2);
  const auto hostFlashes = host.pinChanges(PF2);
  ASSERT_EQ(armFlashes.size(), hostFlashes.size());
  for (size_t index = 0; index < armFlashes.size(); ++index) {
    EXPECT_EQ(armFlashes[index].value, hostFlashes[index].value);
    EXPECT_NEAR(static_cast<double>(armFlashes[index].time), static_cast<double>(hostFlashes[index].time), 0.2e9)
        << index;
  }
}

}  // namespace
