// The SMS driver against a scripted modem in text mode with the echo off.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "GSM/GSM.h"
#include "GSM/UART.h"
#include "platform/driverlib.h"
#include "sim/sim.h"

namespace {

using namespace sim;

constexpr unsigned kModem = 4;
constexpr Time kTimeout = milliseconds(kCharacterTimeoutMs);

// Answers each command line (ended by CR) and each message (ended by
// Ctrl-Z) as the modem does.
struct ScriptedModem {
  int attentionErrors = 0;  // this many "AT" commands answered ERROR first
  bool silent = false;
  std::string messageReply = "\r\n+CMGS: 12\r\n\r\nOK\r\n";
  std::string readReply =
      "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC UNREAD\",\"+905550001111\",\"\",\"26/12/08,10:00:00+12\"\r\n"
      "Hello @250$\r\n\r\nOK\r\n";
  // The read reply may come late, or in two parts with a pause between.
  Time readDelay = milliseconds(20);
  std::string readReplyRest;
  Time restDelay = 0;
  Time messageDelay = milliseconds(20);
  std::string line;

  void hear(PeerLink& link, uint8_t byte) {
    line.push_back(static_cast<char>(byte));
    if (silent || (byte != '\r' && byte != 0x1A)) {
      return;
    }
    std::string reply = "\r\nOK\r\n";
    if (line == "AT\n \r" && attentionErrors > 0) {
      --attentionErrors;
      reply = "\r\nERROR\r\n";
    } else if (line.rfind("AT+CMGS=", 0) == 0) {
      reply = "\r\n> ";
    } else if (byte == 0x1A) {
      line.clear();
      link.send(messageDelay, messageReply);
      return;
    } else if (line.find("+CMGR=") != std::string::npos) {
      line.clear();
      link.send(readDelay, readReply);
      if (!readReplyRest.empty()) {
        link.send(restDelay, readReplyRest);
      }
      return;
    }
    line.clear();
    link.send(milliseconds(20), reply);
  }
};

void attach(Bench& bench, const ScriptedModem& modem) {
  auto state = std::make_shared<ScriptedModem>(modem);
  bench.uart(kModem).onByte([state](PeerLink& link, uint8_t byte) { state->hear(link, byte); });
}

void start() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  UART_Init();
}

std::string text(const unsigned char* bytes) { return reinterpret_cast<const char*>(bytes); }

TEST(GsmInit, OneAttemptEachWhenTheFirstReplyHoldsOk) {
  Bench bench;
  attach(bench, {});
  const auto run = bench.run(
      [] {
        start();
        note("init");
        GSM_Init();
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT\n \rATE0\n \r");
  EXPECT_EQ(run.notes()[1].second, "1");
  // Each reply ends with a time-out of silence, then the 500 ms wait.
  const Time echoOff = run.sentStartAt(kModem, "ATE0");
  const Time attention = run.sentStartAt(kModem, "AT\n");
  const Time reply = milliseconds(20) + 6 * 10 * Time{104165000};
  EXPECT_NEAR(static_cast<double>(echoOff - attention), static_cast<double>(4 * 10 * Time{104165000} + reply + kTimeout + milliseconds(500)),
              2e9);
}

TEST(GsmInit, ThreeAttemptsNotFourAndEachReadsItsOwnAnswer) {
  for (int errors : {2, 3, 5}) {
    Bench bench;
    ScriptedModem modem;
    modem.attentionErrors = errors;
    attach(bench, modem);
    const auto run = bench.run(
        [] {
          start();
          GSM_Init();
        },
        seconds(20));
    ASSERT_TRUE(run.ok()) << run.failure();
    const int attempts = errors < 3 ? errors + 1 : 3;
    std::string expected;
    for (int i = 0; i < attempts; ++i) {
      expected += "AT\n \r";
    }
    // The echo-off phase runs whatever came of the first.
    EXPECT_EQ(run.sent(kModem), expected + "ATE0\n \r") << errors;
  }
}

TEST(GsmInit, ASilentModemEndsAfterBoundedWaitsAndReportsIt) {
  Bench bench;
  ScriptedModem modem;
  modem.silent = true;
  attach(bench, modem);
  const auto run = bench.run(
      [] {
        start();
        GSM_Init();
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(70));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT\n \rAT\n \rAT\n \rATE0\n \rATE0\n \rATE0\n \r");
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second, "0");
  // Twenty silent character time-outs per attempt, six attempts, two waits.
  EXPECT_NEAR(static_cast<double>(run.notes()[0].first), static_cast<double>(6 * 20 * kTimeout + seconds(1)), 0.1e12);
}

TEST(AtResponse, LooksForAnUpperCaseOkAnywhereInTheReply) {
  Bench bench;
  const std::vector<std::string> replies = {"\r\nERROR\r\n", "\r\nok\r\n", "xxOKyy", "abcO", "\r\nOK\r\n",
                                            "AT\n \r\r\nOK\r\n"};
  for (size_t index = 0; index < replies.size(); ++index) {
    bench.uart(kModem).send(seconds(1 + index), replies[index]);
  }
  const auto run = bench.run(
      [] {
        start();
        std::string verdicts;
        unsigned char reply[8];
        for (int index = 0; index < 6; ++index) {
          std::memset(reply, '#', sizeof reply);
          verdicts += std::to_string(AT_Response(reply, sizeof reply));
        }
        note(verdicts);
        // The last reply (an echo, then the result) was 11 characters: 7
        // kept and a zero, the eighth byte of the buffer.
        note(std::to_string(std::strlen(reinterpret_cast<char*>(reply))));
      },
      seconds(12));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "001011");
  EXPECT_EQ(run.notes()[1].second, "7");
}

TEST(AtResponse, AZeroByteOnTheLineNeitherEndsNorSplitsTheReply) {
  // Found by fuzzing: a zero byte read as the time-out, so the OK after it
  // was missed and then taken for the answer to the next command.
  Bench bench;
  bench.uart(kModem).send(seconds(1), std::string("\r\n\0\0OK\r\n", 8));
  bench.uart(kModem).send(seconds(3), "\r\nERROR\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char reply[8] = {};
        const unsigned char first = AT_Response(reply, sizeof reply);
        const unsigned char second = AT_Response(reply, sizeof reply);
        note(std::to_string(first) + std::to_string(second));
      },
      seconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "10");
}

TEST(AtResponse, AnEmptyReadIsRepeatedFromTheFirstByte) {
  Bench bench;
  bench.uart(kModem).send(seconds(3), "\r\nOK\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char reply[8] = {};
        const unsigned char ok = AT_Response(reply, sizeof reply);
        note(std::to_string(ok) + (reply[0] == '\r' ? " from the start" : " shifted"));
      },
      seconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "1 from the start");
}

TEST(SmsReceive, ReadsTextAndSenderAndDeletesTheMessage) {
  Bench bench;
  attach(bench, {});
  // A bare result of 11 characters first: not the indication.
  bench.uart(kModem).send(seconds(1), "\r\nOK\r\n\r\nOK");
  bench.uart(kModem).send(seconds(3), "\r\n+CMTI: \"SM\",12\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char message[kSmsTextSize + 4];
        unsigned char sender[kSenderSize + 4];
        std::memset(message, 0, sizeof message);
        std::memset(sender, 0, sizeof sender);
        SMSReceive(message, sender);
        note(text(message));
        note(text(sender));
      },
      seconds(8));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT+CMGF=1;+CPMS=\"SM\";+CMGR=12\n\rAT+CMGD=12\n\r");
  EXPECT_EQ(run.notes()[0].second, "Hello @250$");
  EXPECT_EQ(run.notes()[1].second, "905550001111");
  // The command came after the indication, not after the short burst.
  EXPECT_GT(run.sentStartAt(kModem, "AT+CMGF"), seconds(3));
}

TEST(SmsReceive, LongIndicesLongTextsAndShortRepliesStayInTheirBuffers) {
  Bench bench;
  ScriptedModem modem;
  // 200 characters of text: more than the read buffer holds.
  modem.readReply = "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC READ\",\"+905550001111\",\"\",\"26/12/08\"\r\n" +
                    std::string(200, 'x') + "\r\n\r\nOK\r\n";
  attach(bench, modem);
  bench.uart(kModem).send(seconds(1), "\r\n+CMTI: \"ME\",12345\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char message[kSmsTextSize + 8];
        unsigned char sender[kSenderSize + 8];
        std::memset(message, 0, sizeof message);
        std::memset(sender, 0, sizeof sender);
        std::memset(message + kSmsTextSize, '#', 8);
        std::memset(sender + kSenderSize, '#', 8);
        SMSReceive(message, sender);
        note(std::to_string(std::strlen(reinterpret_cast<char*>(message))));
        note(std::string(reinterpret_cast<char*>(message + kSmsTextSize), 8) +
             std::string(reinterpret_cast<char*>(sender + kSenderSize), 8));
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(8));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Not read whole: kept in the store, not deleted, and reported.
  EXPECT_EQ(run.sent(kModem), "AT+CMGF=1;+CPMS=\"ME\";+CMGR=12345\n\r");
  // What fits of the text, and not a byte past the buffers.
  EXPECT_EQ(std::stoul(run.notes()[0].second), kSmsTextSize - 1);
  EXPECT_EQ(run.notes()[1].second, "################");
  EXPECT_EQ(run.notes()[2].second, "0");
}

// One SMSReceive against the modem, with the indication at 1 s: what was
// sent, the text, the sender and the verdict.
struct Received {
  std::string sent;
  std::string text;
  std::string sender;
  std::string verdict;
};

Received receiveWith(const ScriptedModem& modem, const std::string& indication = "\r\n+CMTI: \"SM\",3\r\n") {
  Bench bench;
  attach(bench, modem);
  bench.uart(kModem).send(seconds(1), indication);
  const auto run = bench.run(
      [] {
        start();
        unsigned char message[kSmsTextSize] = {};
        unsigned char sender[kSenderSize] = {};
        SMSReceive(message, sender);
        note(text(message));
        note(text(sender));
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(40));
  EXPECT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes().size(), 3U);
  return {run.sent(kModem), run.notes().at(0).second, run.notes().at(1).second, run.notes().at(2).second};
}

const std::string kReadCommand = "AT+CMGF=1;+CPMS=\"SM\";+CMGR=3\n\r";
const std::string kDeleteCommand = "AT+CMGD=3\n\r";

TEST(SmsReceive, ALateOrPausedReplyIsReadWholeAndOnlyThenDeleted) {
  ScriptedModem late;
  late.readDelay = seconds(2);
  const Received fromLate = receiveWith(late);
  EXPECT_EQ(fromLate.sent, kReadCommand + kDeleteCommand);
  EXPECT_EQ(fromLate.text, "Hello @250$");
  EXPECT_EQ(fromLate.verdict, "1");

  ScriptedModem paused;
  paused.readReply = "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC UNREAD\",\"+905550001111\",\"\",\"26/12/08\"\r\n";
  paused.readReplyRest = "Hello\r\n\r\nOK\r\n";
  paused.restDelay = seconds(2);
  const Received fromPaused = receiveWith(paused);
  EXPECT_EQ(fromPaused.sent, kReadCommand + kDeleteCommand);
  EXPECT_EQ(fromPaused.text, "Hello");
  EXPECT_EQ(fromPaused.verdict, "1");
}

TEST(SmsReceive, AReplyThatStopsHalfWayKeepsTheMessage) {
  ScriptedModem cut;
  cut.readReply = "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC UNREAD\",\"+905550001111\",\"\",\"26/12/08\"\r\nHel";
  const Received received = receiveWith(cut);
  EXPECT_EQ(received.sent, kReadCommand);
  EXPECT_EQ(received.verdict, "0");
}

TEST(SmsReceive, AFullLengthTextAfterALongNameIsDeliveredWhole) {
  const std::string text160(160, 'y');
  ScriptedModem named;
  named.readReply = "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC UNREAD\",\"+905550001111\",\"ABCDEFGHIJKLMNOP\","
                    "\"26/12/08,10:00:00+12\"\r\n" +
                    text160 + "\r\n\r\nOK\r\n";
  const Received received = receiveWith(named);
  EXPECT_EQ(received.text, text160);
  EXPECT_EQ(received.sender, "905550001111");
  EXPECT_EQ(received.sent, kReadCommand + kDeleteCommand);
}

TEST(SmsReceive, TheIndicationIsFoundAmongOtherLines) {
  // A RING and Call Ready first, and the indication's own line split.
  const Received received =
      receiveWith({}, "\r\nRING\r\n\r\nCall Ready\r\n\r\n+CMTI: \"SM\",3\r\n");
  EXPECT_EQ(received.sent, kReadCommand + kDeleteCommand);
  EXPECT_EQ(received.text, "Hello @250$");
  // Lines that only look like one build no command.
  Bench bench;
  attach(bench, {});
  bench.uart(kModem).send(seconds(1), "\r\n+CMTI: \"S\",3\r\n+CMTI: \"SM\",\r\n+CMTI: \"SM\",123456\r\n"
                                      "+CMTI: \"SM\",3x\r\n+CMTI \"SM\",3\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char message[kSmsTextSize] = {};
        unsigned char sender[kSenderSize] = {};
        SMSReceive(message, sender);
      },
      seconds(20));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "");
}

TEST(SmsReceive, TheSenderComesFromTheOriginatorField) {
  ScriptedModem national;
  national.readReply =
      "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: \"REC UNREAD\",\"05550001111\",\"\",\"26/12/08,10:00:00+12\"\r\n"
      "Hi\r\n\r\nOK\r\n";
  EXPECT_EQ(receiveWith(national).sender, "05550001111");
}

TEST(SmsReceive, AHeaderWhoseSecondFieldIsNoOriginatorKeepsTheMessage) {
  // Found by fuzzing: a stray CR inside the status field (dropped with the
  // others) left the third quote of the header after the originator's
  // opening one, and "," was taken for the sender.
  ScriptedModem broken;
  broken.readReply =
      "\r\n+CMGR: \"REC\rUNREAD\"\r\",\"+905550002222\",\"\",\"26/12/08,10:00:00+12\"\r\nHi\r\n\r\nOK\r\n";
  const Received received = receiveWith(broken);
  EXPECT_EQ(received.sent, kReadCommand);
  EXPECT_EQ(received.verdict, "0");
  EXPECT_EQ(received.sender, "");
}

TEST(SmsReceive, AReplyWithTooFewMarkersDeliversNothing) {
  Bench bench;
  ScriptedModem modem;
  modem.readReply = "\r\n+CMS ERROR: 321\r\n";
  attach(bench, modem);
  bench.uart(kModem).send(seconds(1), "\r\n+CMTI: \"SM\",3\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char message[kSmsTextSize] = {};
        unsigned char sender[kSenderSize] = {};
        SMSReceive(message, sender);
        note("[" + text(message) + "][" + text(sender) + "]");
      },
      seconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "[][]");
}

TEST(SmsSend, SendsTheNumberAsGivenAndTheBodyThenCtrlZ) {
  for (const std::string number : {"+905551234567", "05551234567"}) {
    Bench bench;
    attach(bench, {});
    const auto run = bench.run(
        [number] {
          start();
          std::string copy = number;
          unsigned char body[] = "Hello";
          SMSSend(reinterpret_cast<unsigned char*>(copy.data()), body);
          note(std::to_string(GSM_Succeeded()));
        },
        seconds(10));
    ASSERT_TRUE(run.ok()) << run.failure();
    EXPECT_EQ(run.sent(kModem), "AT+CMGF=1\n \rAT+CMGS=\"" + number + "\"\n \rHello\x1A") << number;
    EXPECT_EQ(run.notes()[0].second, "1");
  }
}

TEST(AtResponse, ABufferOfNoRoomStillHasItsReplyJudged) {
  Bench bench;
  bench.uart(kModem).send(seconds(1), "\r\nOK\r\n");
  bench.uart(kModem).send(seconds(2), "\r\nOK\r\n");
  const auto run = bench.run(
      [] {
        start();
        unsigned char one[1] = {'#'};
        note(std::to_string(AT_Response(nullptr, 0)));
        const unsigned char ok = AT_Response(one, sizeof one);
        note(std::to_string(ok) + std::to_string(one[0]));
      },
      seconds(20));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 2U);
  EXPECT_EQ(run.notes()[0].second, "1");
  EXPECT_EQ(run.notes()[1].second, "10");
  // Each returned on its reply, not after the 10 s bound.
  EXPECT_LT(run.notes()[1].first, seconds(3));
}

TEST(SmsSend, TheNetworkMayTakeUpToAMinute) {
  Bench bench;
  ScriptedModem modem;
  modem.messageDelay = seconds(45);
  attach(bench, modem);
  const auto run = bench.run(
      [] {
        start();
        unsigned char number[] = "+905551234567";
        unsigned char body[] = "Hi";
        SMSSend(number, body);
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(70));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second, "1");
  EXPECT_GT(run.notes()[0].first, seconds(45));
}

TEST(SmsSend, AnAnswerLaterThanAMinuteIsNotTakenForTheNextReply) {
  Bench bench;
  ScriptedModem modem;
  modem.messageDelay = seconds(65);
  // With a one-digit reference its first 16 characters, up to the OK, fit
  // the receive FIFO.
  modem.messageReply = "\r\n+CMGS: 7\r\n\r\nOK\r\n";
  modem.attentionErrors = 100;
  attach(bench, modem);
  const auto run = bench.run(
      [] {
        start();
        unsigned char number[] = "+905551234567";
        unsigned char body[] = "Hi";
        SMSSend(number, body);
        note(std::to_string(GSM_Succeeded()));
        runUntil(seconds(70));
        GSM_Init();
      },
      seconds(150));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "0");
  EXPECT_LT(run.notes()[0].first, seconds(65));
  // The late +CMGS and OK waited in the FIFO: dropped, so every attention
  // command is judged by its own ERROR.
  const std::string sent = run.sent(kModem);
  EXPECT_EQ(sent.substr(sent.find("\x1A") + 1), "AT\n \rAT\n \rAT\n \rATE0\n \r");
}

TEST(SmsSend, AnEmptyNumberIsNotReadPastItsEnd) {
  Bench bench;
  attach(bench, {});
  const auto run = bench.run(
      [] {
        start();
        // Exactly one byte: a read past it is caught by the address sanitizer.
        auto number = std::make_unique<unsigned char[]>(1);
        number[0] = 0;
        unsigned char body[] = "Hi";
        SMSSend(number.get(), body);
      },
      seconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kModem), "AT+CMGF=1\n \rAT+CMGS=\"\"\n \rHi\x1A");
}

TEST(SmsSend, AnErrorAfterTheBodyEndsTheWaitAndIsReported) {
  Bench bench;
  ScriptedModem modem;
  modem.messageReply = "\r\n+CMS ERROR: 500\r\n";
  attach(bench, modem);
  const auto run = bench.run(
      [] {
        start();
        unsigned char number[] = "+905551234567";
        unsigned char body[] = "Hi";
        SMSSend(number, body);
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second, "0");
  EXPECT_LT(run.notes()[0].first, seconds(5));
}

}  // namespace
