// Voice calls and the emergency button, with the exact modem lines.
#include <gtest/gtest.h>

#include "tests/tracker/tracker_bench.h"
#include "tracker/settings.h"

namespace {

using namespace tracker_test;

TEST(Calls, APressDialsOnceTheModemAnswersAndTalksUntilTheFarEndHangsUp) {
  Bench bench;
  bench.press(PF4, seconds(1), milliseconds(300));
  // The caretaker answers 30 s after the dial and talks for 60 s: longer
  // than the old fixed 22-s call, which would have cut them off.
  answeringModem(bench, seconds(30), seconds(91));
  const auto run = bench.run(bringUp, seconds(100));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(kDial.size(), 19U);
  EXPECT_EQ(run.sent(kModem), "AT\r\nAT+COLP=1\r\n" + kDial + "ATH\r\n");

  const Time dial = run.sentStartAt(kModem, kDial);
  const Time hangUp = run.sentStartAt(kModem, "ATH\r\n");
  // The dial follows the modem's OK to AT once the line is quiet (no
  // answers it still owed), not a second later.
  EXPECT_GT(dial - seconds(1), milliseconds(200));
  EXPECT_LT(dial - seconds(1), milliseconds(500));
  // The module hangs up only after the far end's NO CARRIER, at 91 s.
  EXPECT_GT(hangUp, seconds(91));
  EXPECT_LT(hangUp, seconds(92));

  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("making call\n"), std::string::npos) << console;
  EXPECT_NE(console.find("callStatusFlag : 1\n"), std::string::npos) << console;
  EXPECT_NE(console.find("call answered\n"), std::string::npos) << console;
  EXPECT_NE(console.find("callStatusFlag : 0\n"), std::string::npos) << console;
  EXPECT_GT(run.sentAt(kConsole, "callStatusFlag : 0\n"), hangUp);
  EXPECT_EQ(console.find("SOS"), std::string::npos);

  // Blue throughout, green off at the start, blue off at the end.
  EXPECT_EQ(run.pinLevel(PF2, seconds(1) + milliseconds(1)), 1);
  EXPECT_EQ(run.pinLevel(PF2, seconds(90)), 1);
  EXPECT_EQ(run.pinLevel(PF2, seconds(95)), 0);
  EXPECT_EQ(run.pinLevel(PF3, seconds(25)), 0);
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 1U);
}

TEST(Calls, BounceAndFurtherPressesDuringTheCallRaiseNoSecondCall) {
  Bench bench;
  bench.press(PF4, seconds(1), milliseconds(300), 5);
  bench.press(PF4, seconds(10), milliseconds(200), 3);
  answeringModem(bench, seconds(5), seconds(16));
  const auto run = bench.run(bringUp, seconds(27));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT\r\nAT+COLP=1\r\n" + kDial + "ATH\r\n");
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 1U);
}

TEST(Calls, AModemThatNeverAnswersGetsEveryAttemptThenTheSosTextAndTheEmergencyStaysPending) {
  Bench bench;
  bench.press(PF4, seconds(1), milliseconds(300));
  const auto run = bench.run(
      [] {
        bringUp();
        setPosition("41.015137", "28.979530");
      },
      seconds(80));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string modem = run.sent(kModem);
  // Three attempts of twelve ATs each, none answered, no dial into a silent
  // modem; then the text.
  size_t attentions = 0;
  for (size_t at = modem.find("AT\r\n"); at != std::string::npos; at = modem.find("AT\r\n", at + 1)) {
    ++attentions;
  }
  EXPECT_EQ(attentions, 3U * 12U) << modem;
  EXPECT_EQ(modem.find("ATD"), std::string::npos) << modem;
  // The text waits for the modem too: its unanswered first line ends it, and
  // the emergency stays pending.
  EXPECT_NE(modem.find("ATH\r\nAT+CMGF=1\r"), std::string::npos) << modem;
  EXPECT_EQ(modem.find("CMGS"), std::string::npos) << modem;
  EXPECT_NE(run.sent(kConsole).find("SOS pending\n"), std::string::npos);
  EXPECT_NE(run.sent(kConsole).find("modem does not answer\nmodem does not answer\nmodem does not answer\n"),
            std::string::npos);
}

TEST(Calls, APressWhileRingingAnswersOnce) {
  Bench bench;
  bench.uart(kModem)
      .send(milliseconds(500), "\r\nRING\r\n")
      .reply("AT\r\n", "\r\nOK\r\n", milliseconds(20))
      .reply("ATA\r\n", "\r\nOK\r\n", milliseconds(20));
  bench.press(PF4, seconds(3), milliseconds(200));
  bench.press(PF4, seconds(5), milliseconds(200));  // during the answered call
  const auto run = bench.run(bringUp, seconds(7));
  ASSERT_TRUE(run.ok()) << run.failure();
  // AT first: a modem still sending a text would drop the ATA.
  EXPECT_EQ(run.sent(kModem), "AT\r\nATA\r\n");
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("answerCall\nanswerCall\n"), std::string::npos) << console;
  EXPECT_NE(console.find("answerCall\n\r\nOK\r\n\r\nOK\r\ncallStatusFlag : 2\n"), std::string::npos) << console;
  // The state trace comes once the modem's OK is in, 20 ms after the answer
  // and the OK's 6 characters.
  const Time answered = run.sentAt(kModem, "ATA\r\n");
  EXPECT_NEAR(static_cast<double>(run.sentAt(kConsole, "callStatusFlag : 2\n") - answered), 30e9, 10e9);
  // Blue lit and still lit; the second press printed and sent nothing.
  EXPECT_EQ(run.pinLevel(PF2, seconds(6)), 1);
  EXPECT_EQ(console.find("answerCall", console.find("callStatusFlag : 2")), std::string::npos);
  EXPECT_EQ(run.interrupts(INT_GPIOF).size(), 2U);

  // A modem whose ATA gets NO CARRIER had no call to answer (the caller gave
  // up as the wearer pressed, or it restarted): not a call that never ends,
  // and the press is not lost either: it calls the caretaker.
  Bench silent;
  silent.uart(kModem)
      .send(milliseconds(500), "\r\nRING\r\n")
      .reply("AT\r\n", "\r\nOK\r\n", milliseconds(20))
      .reply("ATA\r\n", "\r\nNO CARRIER\r\n", milliseconds(20));
  silent.press(PF4, seconds(3), milliseconds(200));
  const auto unanswered = silent.run(bringUp, seconds(7));
  EXPECT_NE(unanswered.sent(kConsole).find("no call to answer\ncallStatusFlag : 0\nmaking call\n"), std::string::npos)
      << unanswered.sent(kConsole);
  const std::string lines = unanswered.sent(kModem);
  EXPECT_LT(lines.find("ATA\r\n"), lines.find(kDial)) << lines;
  EXPECT_NE(lines.find(kDial), std::string::npos) << lines;
}

TEST(Calls, RingDuringAnAnsweredCallLetsTheNextPressAnswerAgain) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(500), "\r\nRING\r\n").reply("AT\r\n", "\r\nOK\r\n", milliseconds(20));
  bench.press(PF4, seconds(3), milliseconds(200));
  bench.uart(kModem).send(seconds(4), "\r\nRING\r\n").reply("ATA\r\n", "\r\nOK\r\n", milliseconds(20));
  bench.press(PF4, seconds(7), milliseconds(200));
  const auto run = bench.run(bringUp, seconds(8));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT\r\nATA\r\nAT\r\nATA\r\n");
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
