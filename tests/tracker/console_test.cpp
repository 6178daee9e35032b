// Bring-up, the console text output, the LED blink and the modem drain.
#include <gtest/gtest.h>

#include "tests/tracker/tracker_bench.h"

namespace {

using namespace tracker_test;

TEST(BringUp, FirstConsoleTextAndTheInitialState) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        note(std::to_string(SysCtlClockGet()) + " " + std::to_string(tracker::pulse) + " " +
             tracker::circleFlag);
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\n");
  EXPECT_EQ(noteText(run, 0), "50000000 20 n");
  // The three LEDs are outputs and off; the button pin is not set up yet.
  for (Pin led : {PF1, PF2, PF3}) {
    EXPECT_EQ(run.pinLevel(led, milliseconds(10)), 0);
  }
}

TEST(SendUartString, SendsExactlyTheTextWithoutTerminator) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        note("empty");
        sendUartString(UART0_BASE, "");
        note("returned");
        // More than the FIFO holds: the rest waits for room, nothing is lost.
        sendUartString(UART0_BASE, "0123456789abcdefghijklmnopqrstuvwxyz\n");
      },
      milliseconds(20));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\n0123456789abcdefghijklmnopqrstuvwxyz\n");
  EXPECT_EQ(run.notes()[1].first - run.notes()[0].first, 0U);
}

TEST(LedLight, BlinksForTwiceTheTimeAndLeavesAllLedsOff) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);  // the call LED
        note("blink");
        ledLight(8, 100);
        note("dark");
        ledLight(0, 50);
        note("done");
      },
      seconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  const Time start = notes[0].first;
  // Green on for 100 ms, then off 100 ms; blue went off at the start.
  EXPECT_EQ(run.pinLevel(PF2, start + milliseconds(1)), 0);
  EXPECT_EQ(run.pinLevel(PF3, start + milliseconds(50)), 1);
  EXPECT_EQ(run.pinLevel(PF3, start + milliseconds(150)), 0);
  EXPECT_NEAR(static_cast<double>(notes[1].first - start), 200e9, 0.1e9);
  // Nothing lit, still 2 x 50 ms.
  EXPECT_NEAR(static_cast<double>(notes[2].first - notes[1].first), 100e9, 0.1e9);
  for (Pin led : {PF1, PF2, PF3}) {
    EXPECT_EQ(run.pinLevel(led, notes[2].first), 0);
  }
  EXPECT_EQ(run.pinChanges(PF1).size(), 1U);  // red never lit
}

TEST(FlushUart, DiscardsExactlyWhatWaitsAndNeverWaits) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(10), "abc");
  bench.uart(kModem).send(milliseconds(60), "defgh");
  const auto run = bench.run(
      [] {
        setPins();
        entry::setUpPositionLink();
        setUpPulseTimerRegisters();
        sim900UartConfig();
        note("empty");
        flushUART();
        note("flushed");
        runUntil(milliseconds(50));
        flushUART();
        runUntil(milliseconds(100));
        std::string left;
        while (UARTCharsAvail(UART4_BASE)) {
          left.push_back(static_cast<char>(UARTCharGet(UART4_BASE)));
        }
        note(left);
      },
      milliseconds(120));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  EXPECT_LT(notes[1].first - notes[0].first, microseconds(5));
  // "abc" was drained, "defgh" arrived later and stays.
  EXPECT_EQ(notes[2].second, "defgh");
  EXPECT_TRUE(run.interrupts(INT_UART4).empty());
}

}  // namespace
