// Voice calls and the emergency button, with the exact modem lines.
#include <gtest/gtest.h>

#include "tests/tracker/tracker_bench.h"
#include "tracker/settings.h"

namespace {

using namespace tracker_test;

const std::string kDial = std::string("ATD") + tracker::settings::kCaretakerNumber + ";\r\n";

TEST(Calls, APressWhileIdleDialsForAFixedTimeAndHangsUp) {
  Bench bench;
  bench.press(PF4, seconds(1), milliseconds(300));
  const auto run = bench.run(bringUp, seconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(kDial.size(), 19U);
  EXPECT_EQ(run.sent(kModem), "AT\r\n" + kDial + "ATH\r\n");

  const Time at = run.sentStartAt(kModem, "AT\r\n");
  const Time dial = run.sentStartAt(kModem, kDial);
  const Time hangUp = run.sentStartAt(kModem, "ATH\r\n");
  // The attention line goes at once, the dial 1 s after it; the hang-up
  // 22 s after the dial line has been queued (2 of its 19 characters wait
  // for room, 2 character times) and its 19-character trace (2 wait).
  EXPECT_NEAR(static_cast<double>(at - seconds(1)), static_cast<double>(kModemCharacter), 1e8);
  EXPECT_NEAR(static_cast<double>(dial - at), static_cast<double>(trackerWait(1000)), 1e8);
  EXPECT_NEAR(static_cast<double>(hangUp - dial),
              static_cast<double>(trackerWait(2000) + trackerWait(20000) + 2 * kModemCharacter +
                                  2 * kConsoleCharacter),
              1e7);

  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("making call\ncallStatusFlag : 1\ncallStatusFlag : 0\n"), std::string::npos) << console;
  // The state traces follow the dial and the hang-up.
  EXPECT_NEAR(static_cast<double>(run.sentAt(kConsole, "callStatusFlag : 1\n") - dial), 3e9, 1e9);
  EXPECT_GT(run.sentAt(kConsole, "callStatusFlag : 0\n"), hangUp);

  // Blue throughout, green off at the start, blue off at the end.
  EXPECT_EQ(run.pinLevel(PF2, seconds(1) + milliseconds(1)), 1);
  // (The hang-up's first character ends one character time after the LED
  // goes off.)
  EXPECT_EQ(run.pinLevel(PF2, hangUp - kModemCharacter - milliseconds(1)), 1);
  EXPECT_EQ(run.pinLevel(PF2, hangUp), 0);
  EXPECT_EQ(run.pinLevel(PF3, seconds(25)), 0);
  // One handler run for the whole call, about 23 s.
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 1U);
}

TEST(Calls, BounceAndFurtherPressesDuringTheCallRaiseNoSecondCall) {
  Bench bench;
  bench.press(PF4, seconds(1), milliseconds(300), 5);
  bench.press(PF4, seconds(10), milliseconds(200), 3);
  const auto run = bench.run(bringUp, seconds(27));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT\r\n" + kDial + "ATH\r\n");
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 1U);
}

TEST(Calls, APressWhileRingingAnswersOnce) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(500), "\r\nRING\r\n");
  bench.press(PF4, seconds(3), milliseconds(200));
  bench.press(PF4, seconds(5), milliseconds(200));  // during the answered call
  const auto run = bench.run(bringUp, seconds(7));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "ATA\r\n");
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("answerCall\nanswerCall\ncallStatusFlag : 2\n"), std::string::npos) << console;
  // The state trace comes 100 ms after the answer.
  const Time answered = run.sentStartAt(kModem, "ATA\r\n");
  EXPECT_NEAR(static_cast<double>(run.sentAt(kConsole, "callStatusFlag : 2\n") - answered), 100e9, 2e9);
  // Blue lit and still lit; the second press printed and sent nothing.
  EXPECT_EQ(run.pinLevel(PF2, seconds(6)), 1);
  EXPECT_EQ(console.find("answerCall", console.find("callStatusFlag : 2")), std::string::npos);
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 2U);
}

TEST(Calls, RingDuringAnAnsweredCallLetsTheNextPressAnswerAgain) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(500), "\r\nRING\r\n");
  bench.press(PF4, seconds(3), milliseconds(200));
  bench.uart(kModem).send(seconds(4), "\r\nRING\r\n");
  bench.press(PF4, seconds(7), milliseconds(200));
  const auto run = bench.run(bringUp, seconds(8));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "ATA\r\nATA\r\n");
}

TEST(Calls, HangingUpWhileIdleStillSendsTheHangUp) {
  Bench bench;
  const auto run = bench.run(
      [] {
        bringUp();
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
        hangsUpCall();
      },
      milliseconds(50));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "ATH\r\n");
  EXPECT_NE(run.sent(kConsole).find("callStatusFlag : 0\n"), std::string::npos);
  EXPECT_EQ(run.pinLevel(PF2, milliseconds(50)), 0);
}

TEST(Calls, APortFInterruptWithoutPin4ChangesNothingAndClearsNothing) {
  Bench bench;
  const auto run = bench.run(
      [] {
        bringUp();
        // Pin 0 latches a rising edge, unmasked; then the port's interrupt
        // is raised by software.
        GPIOUnlockPin(GPIO_PORTF_BASE, GPIO_PIN_0);
        GPIOPinTypeGPIOInput(GPIO_PORTF_BASE, GPIO_PIN_0);
        GPIOIntTypeSet(GPIO_PORTF_BASE, GPIO_PIN_0, GPIO_RISING_EDGE);
        GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_0);
        GPIOPadConfigSet(GPIO_PORTF_BASE, GPIO_PIN_0, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD_WPU);
        hw::write32(0xE000E200 + 4 * ((INT_GPIOF - 16) / 32), 1U << ((INT_GPIOF - 16) % 32));
        note(std::to_string(GPIOIntStatus(GPIO_PORTF_BASE, false)));
      },
      milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 1U);
  EXPECT_EQ(run.sent(kModem), "");
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\n");
  EXPECT_EQ(noteText(run, 0), "1");
}

}  // namespace
