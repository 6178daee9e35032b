// The camera link: bursts echoed between their frames, commands written whole.
#include <gtest/gtest.h>

#include "tests/tracker/tracker_bench.h"

namespace {

using namespace tracker_test;

TEST(CameraLink, EightBytesAreEchoedBetweenTheFrames) {
  Bench bench;
  bench.uart(kCamera).send(milliseconds(10), std::string("\x76\x00\x26\x00", 4) + "ab\x01z");
  bench.uart(kCamera).send(milliseconds(30), "xyz");
  const auto run = bench.run(setPins, milliseconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Bytes go to the console as they are, zero included; the last three
  // wait below the FIFO level.
  const std::string echoed{'\x76', ',', '\0', ',', '\x26', ',', '\0', ',', 'a', ',', 'b', ',', '\x01', ',', 'z', ','};
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\ncamera-in\n" + echoed + "camera-out\n");
  EXPECT_EQ(run.interrupts(INT_UART5).size(), 1U);
}

TEST(CameraLink, AnInterruptWithAnEmptyFifoStillPrintsBothFrames) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        hw::write32(0xE000E200 + 4 * ((INT_UART5 - 16) / 32), 1U << ((INT_UART5 - 16) % 32));
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\ncamera-in\ncamera-out\n");
}

TEST(CameraLink, CommandsGoOutWholeEvenBeyondTheFifo) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        uint8_t command[40];
        for (int i = 0; i < 40; ++i) {
          command[i] = static_cast<uint8_t>(i);
        }
        sendCommandToCamera(UART5_BASE, command, 0);
        sendCommandToCamera(UART5_BASE, command, -3);
        sendCommandToCamera(UART5_BASE, command, 40);
      },
      milliseconds(40));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string sent = run.sent(kCamera);
  ASSERT_EQ(sent.size(), 40U);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(static_cast<uint8_t>(sent[i]), i);
  }
}

}  // namespace
