// The modem link: batches as the receive FIFO forms them, and the three
// tests of the interpreter.
#include <gtest/gtest.h>

#include "tests/tracker/tracker_bench.h"

namespace {

using namespace tracker_test;

std::string state() {
  return std::to_string(tracker::callStatusFlag) + " " + std::to_string(tracker::circleSize) + " " +
         tracker::circleFlag;
}

// Each text through the three tests, as Int_sim900 runs them, with the state after.
std::vector<std::string> interpret(const std::vector<std::string>& texts) {
  Bench bench;
  const auto run = bench.run(
      [&texts] {
        setPins();
        for (const std::string& text : texts) {
          const int call = isCall(text.c_str());
          const int no = isNo(text.c_str());
          const int circle = isCircleSet(text.c_str());
          note(std::to_string(call) + std::to_string(no) + std::to_string(circle) + " " + state());
        }
      },
      seconds(1));
  EXPECT_TRUE(run.ok()) << run.failure();
  std::vector<std::string> results;
  for (const auto& [time, text] : run.notes()) {
    results.push_back(text);
  }
  return results;
}

TEST(Interpreter, RingAndNoCarrierSetTheCallState) {
  // Both in one batch: 1 from the RING, then 0 from the NO, in either order.
  EXPECT_EQ(interpret({"\r\nRING\r\n", "\r\nNO CARRIER\r\n", "NO CARRIER\r\n\r\nRING", "RING\r\nNO CARRIER"}),
            (std::vector<std::string>{"100 1 0 n", "010 0 0 n", "110 0 0 n", "110 0 0 n"}));
  // The other NO results end a call too.
  EXPECT_EQ(interpret({"RING", "\r\nNO ANSWER\r\n", "RING", "\r\nNO DIALTONE\r\n", "ring", "BUSY"}),
            (std::vector<std::string>{"100 1 0 n", "010 0 0 n", "100 1 0 n", "010 0 0 n", "000 0 0 n",
                                      "000 0 0 n"}));
}

TEST(Interpreter, EveryRingInABatchIsSeenWhateverComesBeforeIt) {
  EXPECT_EQ(interpret({"RIRING", "RRING", "RINX RING", "xxRIN", "G\r\n", "ring"}),
            (std::vector<std::string>{"100 1 0 n", "100 1 0 n", "100 1 0 n", "000 1 0 n", "100 1 0 n",
                                      "000 1 0 n"}));
}

TEST(Interpreter, EchoedCommandsAndConnectDoNotHideTheHangUp) {
  // With echo on, the command line comes back before the modem's answers.
  EXPECT_EQ(interpret({"RING", "CONNECT\r\nNO CARRIER", "RING", "ATA\r\r\nOK\r\n\r\nNO CARRIER\r\n", "RING",
                       "AT+CNMI=2,2,0,0,0\r\r\nOK\r\nNO CARRIER", "xNO", "N"}),
            (std::vector<std::string>{"100 1 0 n", "010 0 0 n", "100 1 0 n", "010 0 0 n", "100 1 0 n",
                                      "010 0 0 n", "010 0 0 n", "000 0 0 n"}));
}

// Each text split in two at every position, the halves given as two batches:
// the marker is seen exactly once, in the batch that holds the character
// that decides it (the G of RING, the O of NO, the '$' of a frame).
void expectSeenOnceAtEverySplit(const std::string& text, const std::string& decider, const std::string& once) {
  for (size_t cut = 1; cut < text.size(); ++cut) {
    const auto results = interpret({"RING", text.substr(0, cut), text.substr(cut), "OK"});
    ASSERT_EQ(results.size(), 4U);
    const std::string seen = results[1].substr(0, 3) + results[2].substr(0, 3);
    const bool endsInFirst = cut > text.find(decider) + decider.size() - 1;
    const std::string expected = endsInFirst ? once + "000" : "000" + once;
    EXPECT_EQ(seen, expected) << "cut after " << cut << " of " << text;
  }
}

TEST(Interpreter, AMarkerSplitAcrossBatchesIsSeenOnce) {
  expectSeenOnceAtEverySplit("\r\nRING\r\n", "RING", "100");
  expectSeenOnceAtEverySplit("\r\nNO CARRIER\r\n", "NO", "010");
  expectSeenOnceAtEverySplit("\r\nNO ANSWER\r\n", "NO", "010");
  expectSeenOnceAtEverySplit("\r\n@250$\r\n", "@250$", "001");
}

TEST(Interpreter, TextInsideAnSmsNeverChangesTheCallState) {
  // Delivered straight to the line, and read from the store; the caller's
  // name after +CLIP neither. A radius frame in a text still counts.
  EXPECT_EQ(interpret({"\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\nBRING A COAT\r\n",
                       "\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\nNO WAY, RING ME @300$\r\n",
                       "\r\n+CMGR: \"REC READ\",\"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\nNOTE\r\n\r\nOK\r\n",
                       "\r\nRING\r\n\r\n+CLIP: \"+905551234567\",145,\"\",0,\"NORA\",0\r\n"}),
            (std::vector<std::string>{"000 0 0 n", "001 0 300 n", "000 0 300 n", "100 1 300 n"}));
  // An empty text: the next line is the modem's again.
  EXPECT_EQ(interpret({"\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\n", "\r\n", "\r\nRING\r\n"}),
            (std::vector<std::string>{"000 0 0 n", "000 0 0 n", "100 1 0 n"}));
  // The header and the text cut anywhere by the batches.
  const std::string sms = "\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:00+12\"\r\nRING NO\r\n";
  for (size_t cut = 1; cut < sms.size(); ++cut) {
    const auto results = interpret({sms.substr(0, cut), sms.substr(cut)});
    EXPECT_EQ(results, (std::vector<std::string>{"000 0 0 n", "000 0 0 n"})) << "cut after " << cut;
  }
}

TEST(Interpreter, ARadiusOnlyFromACompleteFrame) {
  // '@', 1 to 4 digits, '$', a value from 1 to 9999; anything else changes
  // nothing, prints nothing and sets no flag.
  EXPECT_EQ(interpret({"+HTTPREAD: 5\r\n@250$\r\nOK", "@12", "@-5$", "@$", "@abc$", "@5pm", "@1e3$", "@0$",
                       "@ 42$", "@7$@9$", "@x@25$", "@0042$"}),
            (std::vector<std::string>{"001 0 250 n", "000 0 250 n", "000 0 250 n", "000 0 250 n", "000 0 250 n",
                                      "000 0 250 n", "000 0 250 n", "000 0 250 n", "000 0 250 n", "001 0 7 n",
                                      "001 0 25 n", "001 0 42 n"}));
}

TEST(Interpreter, ALongerCircleTextIsRefusedAndTheRadiusKept) {
  EXPECT_EQ(interpret({"@250$", "@12345$", "@99999", "@1234$"}),
            (std::vector<std::string>{"001 0 250 n", "000 0 250 n", "000 0 250 n", "001 0 1234 n"}));
}

TEST(Interpreter, TracesOfEachMatch) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        (void)isCall("RING");
        (void)isNo("NO");
        (void)isCircleSet("@1$");
      },
      seconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole),
            "UART Setup Completed\ncallFlag : 1\ncallStatusFlag: 0\nCIRCLESETSUCCES\n");
}

TEST(Batches, EightCharactersMakeABatchAndTheRestWaits) {
  Bench bench;
  // 11 characters: the first 8 interrupt, 3 wait for company.
  bench.uart(kModem).send(milliseconds(100), "\r\nOK\r\n\r\nERR");
  bench.uart(kModem).send(milliseconds(300), "OR\r\n\r\n");
  const auto run = bench.run(bringUp, milliseconds(400));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto batches = run.interrupts(INT_UART4);
  ASSERT_EQ(batches.size(), 2U);
  EXPECT_EQ(batches[0], milliseconds(100) + 8 * kModemCharacter);
  // The 3 that waited and the next 5 form the second batch.
  EXPECT_EQ(batches[1], milliseconds(300) + 5 * kModemCharacter);
  EXPECT_EQ(run.sentBetween(kConsole, batches[0], batches[1]), "\r\nOK\r\n\r\n");
  // The last line feed is the ninth and waits in turn.
  EXPECT_EQ(run.sentBetween(kConsole, batches[1], milliseconds(400)), "ERROR\r\n\r");
  // No test matched: no LED moved after bring-up.
  EXPECT_EQ(run.pinChanges(PF2).size(), 1U);
}

TEST(Batches, ANulOnTheLineHidesNothingAfterIt) {
  // Found by fuzzing: a NUL stored in the batch ended its text, and the RING
  // after it in the same batch was never seen.
  Bench bench;
  bench.uart(kModem).send(milliseconds(100), std::string("\0\r\nRING\r\n", 9));
  const auto run = bench.run(
      [] {
        bringUp();
        // After the RING's blink.
        runUntil(seconds(2));
        note(std::to_string(tracker::callStatusFlag));
      },
      seconds(3));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.interrupts(INT_UART4).size(), 1U);
  EXPECT_EQ(noteText(run, 0), "1");
  EXPECT_NE(run.sent(kConsole).find("RING\rcallFlag : 1\n"), std::string::npos) << run.sent(kConsole);
}

TEST(Batches, RingBlinksBlueAndHoldsTheLinkForItsBlink) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(100), "\r\nRING\r\n");
  // 30 characters during the 1.4 s blink: the FIFO keeps 16.
  bench.uart(kModem).send(milliseconds(300), "0123456789abcdefghijklmnopqrst");
  bench.uart(kModem).send(milliseconds(2500), "\r\nNO CARRIER\r\n");
  const auto run = bench.run(bringUp, seconds(4));
  ASSERT_TRUE(run.ok()) << run.failure();
  const Time ring = milliseconds(100) + 8 * kModemCharacter;
  EXPECT_EQ(run.interrupts(INT_UART4).at(0), ring);
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("\r\nRING\r\ncallFlag : 1\n"), std::string::npos) << console;
  // Blue on for 700 ms, off for 700 ms.
  EXPECT_EQ(run.pinLevel(PF2, ring + milliseconds(350)), 1);
  EXPECT_EQ(run.pinLevel(PF2, ring + milliseconds(1050)), 0);

  const auto lost = run.lost(kModem);
  ASSERT_EQ(lost.size(), 14U);
  EXPECT_EQ(lost.front().byte, 'g');
  // What the FIFO kept is the next batch, right after the blink.
  EXPECT_NE(console.find("0123456789abcdef"), std::string::npos) << console;
  const auto batches = run.interrupts(INT_UART4);
  ASSERT_GE(batches.size(), 2U);
  EXPECT_NEAR(static_cast<double>(batches[1]), static_cast<double>(ring + milliseconds(1400)), 5e9);
  // The link still works afterwards: the hang-up's first 8 characters make
  // a batch, are seen and blink green.
  EXPECT_NE(console.find("\r\nNO CARcallStatusFlag: 0\n"), std::string::npos) << console;
  EXPECT_EQ(run.pinLevel(PF3, batches.back() + milliseconds(50)), 1);
}

TEST(Batches, AHandlerRunWithAnEmptyFifoEchoesNothing) {
  Bench bench;
  const auto run = bench.run(
      [] {
        bringUp();
        note(std::to_string(tracker::readFlag));
        hw::write32(0xE000E200 + 4 * ((INT_UART4 - 16) / 32), 1U << ((INT_UART4 - 16) % 32));
        note(std::to_string(tracker::readFlag));
      },
      milliseconds(20));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.interrupts(INT_UART4).size(), 1U);
  EXPECT_EQ(noteText(run, 0), "0");
  EXPECT_EQ(noteText(run, 1), "1");
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\n");
}

TEST(Batches, ACircleSplitBetweenBatchesIsSetWhenItsFrameEnds) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(100), "xxxxxx@1");
  bench.uart(kModem).send(milliseconds(200), "00$xxxxx");
  const auto run = bench.run(
      [] {
        bringUp();
        runUntil(milliseconds(150));
        note(std::to_string(tracker::circleSize) + tracker::circleFlag);
        runUntil(milliseconds(290));
        note(std::to_string(tracker::circleSize) + tracker::circleFlag);
      },
      milliseconds(300));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteText(run, 0), "0n");
  EXPECT_EQ(noteText(run, 1), "100y");
  EXPECT_NE(run.sent(kConsole).find("xxxxxx@100$xxxxxCIRCLESETSUCCES\nSet Circle Size"), std::string::npos)
      << run.sent(kConsole);
}

TEST(Batches, TheHandlerStopsUart2AndThePulseTimerWhileItRuns) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(100), "\r\nRING\r\n");
  const auto run = bench.run(
      [] {
        bringUp();
        TimerEnable(TIMER0_BASE, TIMER_A);
        runUntil(milliseconds(105));
        note(std::to_string(TimerValueGet(TIMER0_BASE, TIMER_A)));
        runUntil(milliseconds(1600));
        note(std::to_string(TimerValueGet(TIMER0_BASE, TIMER_A)));
        note(std::to_string(hw::read32(UART2_BASE + 0x030) & 1U));
      },
      seconds(2));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  const auto enter = run.interrupts(INT_UART4).at(0);
  Time exit = 0;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptExit && record.value == INT_UART4) {
      exit = record.time;
    }
  }
  // The pulse timer counted only outside the 1.4 s handler (5 000 000
  // counts a period, 20 ns a count).
  const int64_t counted = static_cast<int64_t>((enter - notes[0].first) + (notes[1].first - exit)) / 20000;
  const int64_t before = std::stoll(notes[0].second);
  const int64_t after = std::stoll(notes[1].second);
  const int64_t moved = ((before - after) % 5000000 + 5000000) % 5000000;
  EXPECT_NEAR(static_cast<double>(moved), static_cast<double>(counted), 100.0);
  EXPECT_GT(exit - enter, milliseconds(1400));
  // UART2 is enabled again.
  EXPECT_EQ(notes[2].second, "1");
}

}  // namespace
