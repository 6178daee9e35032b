// The periodic report end to end, the HTTP scripts, and one script at a
// time on the modem link.
#include <gtest/gtest.h>

#include <map>

#include "tests/tracker/tracker_bench.h"
#include "tracker/settings.h"

namespace {

using namespace tracker_test;

const std::string kNumber = tracker::settings::kCaretakerNumber;
const std::string kServer = tracker::settings::kReportServer;
// Ended by CR alone: an LF may reach a modem after its prompt and open the
// text.
const std::string kSendCommand = "AT + CMGS = \"" + kNumber + "\"\r";

std::string smsReport(const std::string& record) {
  return "AT+CMGF=1\r" + kSendCommand + record + "\x1A\r\n\r\nAT+CMGF=1\rAT+CNMI=1,2,0,0,0\rAT\r\n";
}

// Above the threshold for the first second: ten samples count.
uint16_t pulseSignal(Time t) { return t < milliseconds(1050) ? 3000 : 1000; }

void trackerWithPosition() {
  entry::bringUp();
  setPosition("12.345678", "98.765432");
}

TEST(PeriodicReport, TheWholeRoadOfOneReport) {
  Bench bench;
  bench.analogue(0, pulseSignal);
  const auto run = bench.run(trackerWithPosition, seconds(86));
  ASSERT_TRUE(run.ok()) << run.failure();

  // 20 at start and ten samples above the threshold: 2 x 30.
  EXPECT_EQ(run.sent(kModem), smsReport("12.345678,98.765432,60\r\n") + smsReport("12.345678,98.765432,10\r\n"));
  const auto ticks = run.interrupts(INT_TIMER1A);
  ASSERT_EQ(ticks.size(), 2U);
  EXPECT_EQ(ticks[1] - ticks[0], seconds(40));

  // One second between the parts of the message, 100 ms in the set-up.
  const Time mode = run.sentStartAt(kModem, "AT+CMGF=1\r");
  const Time send = run.sentStartAt(kModem, kSendCommand);
  const Time body = run.sentStartAt(kModem, "12.345678,");
  const Time end = run.sentStartAt(kModem, "\x1A");
  const Time closing = run.sentStartAt(kModem, "\r\n", run.sent(kModem).find("\x1A") + 3);
  // (A line longer than the FIFO's 16 and the shift register returns once
  // its last characters found room: 11 character times for the 28 of the
  // send command, 7 for the record.)
  EXPECT_NEAR(static_cast<double>(send - mode), static_cast<double>(trackerWait(1000)), 1e9);
  EXPECT_NEAR(static_cast<double>(body - send), static_cast<double>(trackerWait(1000) + 11 * kModemCharacter), 1e9);
  EXPECT_NEAR(static_cast<double>(end - body), static_cast<double>(trackerWait(1000) + 7 * kModemCharacter), 1e9);
  EXPECT_NEAR(static_cast<double>(closing - end), static_cast<double>(trackerWait(1000)), 1e9);

  // The trace of the report, in order, between samples.
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("callStatFlag:0\n60\npostFunct\nlat:12.345678lon:98.765432pulse:60\n"
                         "PostDataTimer:12.345678,98.765432,60\n"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("3000\n\n"), std::string::npos);

  // The handler holds the processor for the whole script, about 4.2 s.
  Time exit = 0;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptExit && record.value == INT_TIMER1A && exit == 0) {
      exit = record.time;
    }
  }
  EXPECT_NEAR(static_cast<double>(exit - ticks[0]), 4.2e12, 0.05e12);
  // No pulse sample while it runs: the pulse timer is stopped.
  for (Time sample : run.interrupts(INT_TIMER0A)) {
    EXPECT_FALSE(sample > ticks[0] && sample < exit) << formatTime(sample);
  }
  // White while the message goes out, all off afterwards.
  for (Pin led : {PF1, PF2, PF3}) {
    EXPECT_EQ(run.pinLevel(led, ticks[0] + seconds(2)), 1);
    EXPECT_EQ(run.pinLevel(led, exit), 0);
  }
}

TEST(PeriodicReport, ATickDuringACallSendsNothingAndKeepsTheCount) {
  Bench bench;
  bench.analogue(0, pulseSignal);
  bench.uart(kModem).send(seconds(30), "\r\nRING\r\n");
  bench.uart(kModem).send(seconds(60), "\r\nNO CARRIER\r\n");
  const auto run = bench.run(trackerWithPosition, seconds(86));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("callStatFlag:1\nNO POST DATA TO SERVER \n"), std::string::npos) << console;
  // The first report is the one at 80 s, still counting from 20 + 10.
  EXPECT_EQ(run.sent(kModem), smsReport("12.345678,98.765432,60\r\n"));
}

TEST(PeriodicReport, ATickDuringAnAnsweredCallSendsNothingAndKeepsTheCount) {
  Bench bench;
  bench.analogue(0, pulseSignal);
  bench.uart(kModem)
      .send(seconds(10), "\r\nRING\r\n")
      .reply("AT\r\n", "\r\nOK\r\n", milliseconds(20))
      .reply("ATA\r\n", "\r\nOK\r\n", milliseconds(20));
  bench.press(PF4, seconds(20), milliseconds(200));
  bench.uart(kModem).send(seconds(60), "\r\nNO CARRIER\r\n");
  const auto run = bench.run(trackerWithPosition, seconds(86));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string console = run.sent(kConsole);
  EXPECT_NE(console.find("callStatusFlag : 2\n"), std::string::npos) << console;
  EXPECT_NE(console.find("callStatFlag:2\nNO POST DATA TO SERVER \n"), std::string::npos) << console;
  // Only the answer went out before the hang-up; the report at 80 s still
  // counts from 20 + 10.
  EXPECT_EQ(run.sent(kModem), "AT\r\nATA\r\n" + smsReport("12.345678,98.765432,60\r\n"));
}

TEST(BringUp, PriorityBytesAsWritten) {
  const auto run = Bench{}.run(entry::bringUp, milliseconds(100));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::map<unsigned, uint32_t> written;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::Priority) {
      written[record.value] = record.detail;
    }
  }
  // Vector entries from the data sheet: GPIO F 46, UART4 76, TIMER1A 37,
  // TIMER0A 35. Only the top three bits count, so all four share level 0.
  EXPECT_EQ(written, (std::map<unsigned, uint32_t>{{46, 1}, {76, 2}, {37, 3}, {35, 5}}));
}

TEST(PeriodicReport, ModemRepliesAreTakenByTheHandlersWaits) {
  Bench bench;
  bench.uart(kModem).reply("AT+CMGF=1\r", "\r\nOK\r\n", milliseconds(20));
  bench.uart(kModem).reply(kSendCommand, "\r\n> ", milliseconds(20));
  bench.uart(kModem).reply("\x1A\r\n", "\r\n+CMGS: 12\r\n\r\nOK\r\n", milliseconds(500));
  bench.uart(kModem).reply("AT+CNMI=1,2,0,0,0\r", "\r\nOK\r\n", milliseconds(20));
  const auto run = bench.run(trackerWithPosition, seconds(46));
  ASSERT_TRUE(run.ok()) << run.failure();
  const Time tick = run.interrupts(INT_TIMER1A).at(0);
  Time exit = 0;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptExit && record.value == INT_TIMER1A) {
      exit = record.time;
    }
  }
  const auto batches = run.interrupts(INT_UART4);
  for (Time batch : batches) {
    EXPECT_FALSE(batch > tick && batch < exit) << formatTime(batch);
  }
  // 6 + 4 + 19 + 6 + 6 replied, and none lost: the handler's waits take
  // the line (a caretaker's text or a RING in those 4 s would be lost
  // otherwise), and its batches are echoed before it returns.
  EXPECT_EQ(run.received(kModem).size(), 41U);
  EXPECT_TRUE(run.lost(kModem).empty());
  const Time echoed = run.sentAt(kConsole, "+CMGS: 12\r\n");
  EXPECT_GT(echoed, tick);
  EXPECT_LT(echoed, exit);
}

TEST(PeriodicReport, ThePulseValueIsTwiceTheCountHeldToTwoDigits) {
  Bench bench;
  // Each text through before the next report: a report raised while the
  // last one's text is still with the network waits for it.
  textReplies(bench.uart(kModem), milliseconds(100));
  const auto run = bench.run(
      [] {
        entry::bringUp();
        setPosition("1", "2");
        // Each report raised by software, the count set just before.
        for (int count : {0, 4, 5, 6, 49, 50, 255}) {
          tracker::pulse = static_cast<uint8_t>(count);
          IntPendSet(INT_TIMER1A);  // the report runs before this returns
          runUntil(now() + seconds(1));
        }
      },
      seconds(36));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::string values;
  const std::string console = run.sent(kConsole);
  for (size_t at = console.find("PostDataTimer:"); at != std::string::npos;
       at = console.find("PostDataTimer:", at + 1)) {
    values += console.substr(console.find_last_of(',', console.find('\n', at)) + 1,
                             console.find('\n', at) - console.find_last_of(',', console.find('\n', at)));
  }
  EXPECT_EQ(values, "10\n10\n10\n12\n98\n99\n99\n");
  // Short position texts are padded: the record keeps its 24 bytes.
  EXPECT_NE(run.sent(kModem).find("1        ,2        ,10\r\n"), std::string::npos);
}

TEST(Http, ThePostScriptWritesFourteenLinesEachAfterTheModemsAnswer) {
  Bench bench;
  httpModem(bench, seconds(8));
  const auto run = bench.run(
      [] {
        entry::bringUp();
        postDataToServer("12.34", "98.765432", "72");
      },
      seconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::vector<std::string> lines = {
      "AT\r\n",
      "AT+SAPBR=3,1,\"CONTYPE\",\"GPRS\"\r\n",
      "AT+SAPBR=3,1,\"APN\",\"www\"\r\n",
      "AT+SAPBR=1,1\r\n",
      "AT+SAPBR=2,1\r\n",
      "AT+HTTPINIT\r\n",
      "AT+HTTPPARA=\"CID\",1\r\n",
      "AT+HTTPPARA=\"URL\",\"http://" + kServer + ":5000/postData\"\r\n",
      "AT+HTTPPARA=\"CONTENT\",\"text/plain\"\r\n",
      "AT+HTTPDATA=24,10000\r",  // no LF: it could become the body's first byte
      "12.34    ,98.765432,72\r\n",
      "AT+HTTPACTION=1\r\n",
      "AT+HTTPTERM\r\n",
      "AT+SAPBR=0,1\r\n"};
  std::string all;
  for (const auto& line : lines) {
    all += line;
  }
  EXPECT_EQ(run.sent(kModem), all);
  EXPECT_EQ(lines[10].size(), 24U);
  // Each line after the answer to the one before it; the service is ended
  // only after the action's result, 8 s after its OK.
  size_t from = 0;
  Time previous = 0;
  for (const auto& line : lines) {
    const Time start = run.sentStartAt(kModem, line, from);
    EXPECT_GT(start, previous) << line;
    previous = start;
    from = run.sent(kModem).find(line, from) + line.size();
  }
  EXPECT_GT(run.sentStartAt(kModem, "AT+HTTPTERM\r\n") - run.sentAt(kModem, "AT+HTTPACTION=1\r\n"), seconds(8));
  EXPECT_LT(run.sentStartAt(kModem, "AT+HTTPTERM\r\n") - run.sentAt(kModem, "AT+HTTPACTION=1\r\n"), seconds(9));

  // A modem that never answers: nothing after twelve unanswered ATs but
  // the closing lines.
  Bench silent;
  const auto unanswered = silent.run(
      [] {
        entry::bringUp();
        postDataToServer("12.34", "98.765432", "72");
      },
      seconds(30));
  // (ESC after every three unanswered: a text prompt left open would take
  // the ATs as text.)
  std::string attentions;
  for (int tries = 1; tries <= 12; ++tries) {
    attentions += tries % 3 == 0 && tries < 12 ? "AT\r\n\x1B" : "AT\r\n";
  }
  EXPECT_EQ(unanswered.sent(kModem), attentions + "AT+HTTPTERM\r\nAT+SAPBR=0,1\r\n");
  EXPECT_NE(unanswered.sent(kConsole).find("modem does not answer\nbearer not open\n"), std::string::npos);
}

TEST(Http, LongTextsGiveTheirFirstNineCharactersAndTheTraceShowsThemWhole) {
  Bench bench;
  httpModem(bench, seconds(1));
  const auto run = bench.run(
      [] {
        bringUp();
        postDataToServer("12.3456789012", "98.7654321", "721");
      },
      seconds(8));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_NE(run.sent(kModem).find("AT+HTTPDATA=24,10000\r12.345678,98.765432,72\r\nAT+HTTPACTION=1\r\n"),
            std::string::npos);
  EXPECT_NE(run.sent(kConsole).find("lat:12.3456789012lon:98.7654321pulse:721\n"), std::string::npos);
}

TEST(Http, TheGetScriptReadsTheRadiusOnceTheActionsResultCameAndNeverTerminates) {
  // The field's 1 and 10 s for the action's result (the old fixed 2 s read
  // too early at the far end), with either spacing of the result line.
  for (const auto& [network, blank] : {std::pair{seconds(1), false}, std::pair{seconds(10), true}}) {
    Bench bench;
    httpModem(bench, network, blank);
    const auto run = bench.run(
        [] {
          entry::bringUp();
          getCircleSizeFromServer();
          note(std::to_string(tracker::circleSize) + tracker::circleFlag);
        },
        seconds(30));
    ASSERT_TRUE(run.ok()) << run.failure();
    const std::string sent = run.sent(kModem);
    EXPECT_EQ(sent,
              "AT\r\nAT+SAPBR=3,1,\"CONTYPE\",\"GPRS\"\r\nAT+SAPBR=3,1,\"APN\",\"www\"\r\nAT+SAPBR=1,1\r\n"
              "AT+SAPBR=2,1\r\nAT+HTTPINIT\r\nAT+HTTPPARA=\"CID\",1\r\nAT+HTTPPARA=\"URL\",\"http://" +
                  kServer + ":5000/getCircle\"\r\nAT+HTTPACTION=0\r\nAT+HTTPREAD\r\nAT+SAPBR=0,1\r\n");
    EXPECT_EQ(sent.find("HTTPTERM"), std::string::npos);
    const Time action = run.sentAt(kModem, "AT+HTTPACTION=0\r\n");
    const Time read = run.sentStartAt(kModem, "AT+HTTPREAD\r\n");
    EXPECT_GT(read - action, network);
    EXPECT_LT(read - action, network + seconds(1));
    EXPECT_EQ(noteText(run, 0), "250y");
    const std::string console = run.sent(kConsole);
    EXPECT_NE(console.find("CIRCLESETSUCCES\nSet Circle Size"), std::string::npos) << console;
    EXPECT_NE(console.find("read\n"), std::string::npos);
  }
}

TEST(OneScriptAtATime, AReportTickDuringAnAlertWaitsForItsEnd) {
  Bench bench;
  textingModem(bench, seconds(3));
  const auto run = bench.run(
      [] {
        trackerWithPosition();
        runUntil(seconds(38));
        note(sendSms() ? "alert sent" : "alert refused");
      },
      seconds(50));
  ASSERT_TRUE(run.ok()) << run.failure();
  // AT first, then the alert's lines each after its answer; the send
  // command ends with its CR alone.
  const std::string alert = "AT\r\nAT+CMGF=1\r" + kSendCommand +
                            "The target went beyond the limits.\r\x1A";
  EXPECT_EQ(run.sent(kModem), alert + smsReport("12.345678,98.765432,40\r\n"));
  EXPECT_EQ(noteText(run, 0), "alert sent");
  // The tick at 40 s found the modem held and returned; it was served as
  // soon as the network had taken the alert, not at the next tick, and
  // before the entry program went on.
  const auto reports = run.interrupts(INT_TIMER1A);
  ASSERT_EQ(reports.size(), 2U);
  const Time ctrlZ = run.sentAt(kModem, "\x1A");
  EXPECT_GT(reports[1], ctrlZ + seconds(3));
  EXPECT_LT(reports[1], ctrlZ + seconds(3) + milliseconds(100));
  EXPECT_GT(run.notes()[0].first, reports[1] + seconds(4));
}

// The network's result to a text: taken, or refused as session 34's module
// refused one.
class LateReport : public testing::TestWithParam<std::string> {};

TEST_P(LateReport, ATickRightAfterItWaitsForItsTextsResult) {
  // Texts take 39 s on this network: the alert holds the tick of 40 s until
  // about 77 s, that late report's text is still out at the tick of 80 s,
  // which waits for its result rather than send into the busy modem.
  Bench bench;
  textingModem(bench, seconds(39), GetParam());
  const auto run = bench.run(
      [] {
        trackerWithPosition();
        runUntil(seconds(38));
        (void)sendSms();
        runUntil(seconds(130));
      },
      seconds(130));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::vector<Time> texts;
  const std::string sent = run.sent(kModem);
  for (size_t at = sent.find("AT+CMGF=1\r"); at != std::string::npos; at = sent.find("AT+CMGF=1\r", at + 1)) {
    texts.push_back(run.sentStartAt(kModem, "AT+CMGF=1\r", at));
  }
  // The alert, the late report, its closing text mode, the next report.
  ASSERT_GE(texts.size(), 4U) << sent;
  const Time lateReportText = run.sentAt(kModem, "\x1A", sent.find("12.345678"));
  EXPECT_GT(texts[3], lateReportText + seconds(39));
  EXPECT_LT(texts[3], lateReportText + seconds(39) + milliseconds(100));
}

INSTANTIATE_TEST_SUITE_P(Results, LateReport, testing::Values(kTextTaken, "\r\n+CMS ERROR: 302\r\n"));

TEST(OneScriptAtATime, AnEmergencyPressDuringAnAlertIsDialledAfterIt) {
  Bench bench;
  bench.press(PF4, seconds(3), milliseconds(200));
  textingModem(bench, seconds(5));
  answeringModem(bench, seconds(3), seconds(25));
  const auto run = bench.run(
      [] {
        bringUp();
        runUntil(seconds(1));
        (void)sendSms();
      },
      seconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string dial = std::string("ATD") + kNumber + ";\r\n";
  const std::string sent = run.sent(kModem);
  // The message body stays clean, and the call follows once the network
  // has taken the message.
  EXPECT_NE(sent.find("The target went beyond the limits.\r\x1A" "AT\r\nAT+COLP=1\r\n" + dial), std::string::npos)
      << sent;
  EXPECT_GT(run.sentStartAt(kModem, "AT+COLP=1\r\n"), run.sentAt(kModem, "\x1A") + seconds(5));
  EXPECT_NE(sent.find("ATH\r\n"), std::string::npos);
}

TEST(Sms, ReceiveSelectsTextModeAndDirectDelivery) {
  Bench bench;
  bench.uart(kModem).send(seconds(2), "\r\n+CMT: \"+905550000000\",\"\",\"26/12/08,10:00:00+12\"\r\n@300$\r\n");
  const auto run = bench.run(
      [] {
        bringUp();
        note("start");
        receiveSms();
        note("done");
        runUntil(seconds(3));
        note(std::to_string(tracker::circleSize));
      },
      seconds(3));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT+CMGF=1\rAT+CNMI=1,2,0,0,0\r");
  const Time second = run.sentStartAt(kModem, "AT+CNMI");
  const Time first = run.sentStartAt(kModem, "AT+CMGF");
  EXPECT_NEAR(static_cast<double>(second - first), static_cast<double>(trackerWait(100)), 1e9);
  const auto notes = run.notes();
  // The 18-character second line waits one character time for room.
  EXPECT_NEAR(static_cast<double>(notes[1].first - notes[0].first),
              static_cast<double>(trackerWait(200) + kModemCharacter), 1e8);
}

}  // namespace
