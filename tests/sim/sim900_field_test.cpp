// The SIM900 model's field profile against what real modules printed (the
// session files named in each test) and what the SIMCom manuals say. The
// expected bytes are those sources' literals, not the model's constants.
#include <gtest/gtest.h>

#include <set>

#include "tests/sim/sim900_talk.h"

namespace {

using namespace sim;
using peers::BootMode;
using peers::BusyPolicy;
using peers::CaretakerPhone;
using peers::ModemLog;
using peers::PromptLineFeed;
using peers::Sim900;
using peers::Sim900Settings;
using peers::Span;
using sim900_talk::receivedAt;
using sim900_talk::receivedFrom;
using sim900_talk::talk;

// The field profile with its start-up pinned: powered up at once, booted at
// 2 s, Call Ready at 3 s, registered at 7 s, attached at 8 s.
Sim900Settings field(BootMode boot = BootMode::Fixed) {
  Sim900Settings settings = Sim900Settings::field(1);
  settings.boot = boot;
  settings.firstAtLost = 0;
  settings.timing.command = milliseconds(20);
  settings.timing.powerUp = 0;
  settings.timing.boot = seconds(2);
  settings.timing.services = seconds(1);
  settings.timing.registration = seconds(5);
  settings.timing.attach = seconds(1);
  return settings;
}

double secondsAt(Time time) { return static_cast<double>(time) / 1e12; }

TEST(Sim900Field, PowerOnSyncBytesSilenceAndTheFixedRateBoot) {
  // The maker's note: "00 49 49 49 49 FF FF FF FF" at 115200 right after
  // power-on. A chip at that rate reads them as they are...
  const std::string sync("\x00\x49\x49\x49\x49\xFF\xFF\xFF\xFF", 9);
  Sim900Settings keyed = field();
  keyed.selfPowered = false;
  keyed.powerKey = PC6;
  const std::vector<sim900_talk::Line> press = {{milliseconds(1), "", 0}, {milliseconds(1500), "", 1}};
  const auto fast = talk(Sim900(keyed), press, milliseconds(1100), 115200);
  ASSERT_TRUE(fast.ok()) << fast.failure();
  EXPECT_EQ(receivedFrom(fast, 0), sync);
  // ...one at 9600 sees a few garbage bytes (session 49's "four dots").
  std::vector<sim900_talk::Line> lines = press;
  lines.push_back({seconds(2), "AT\r"});
  const auto slow = talk(Sim900(keyed), lines, seconds(5));
  ASSERT_TRUE(slow.ok()) << slow.failure();
  const std::string garbage = slow.received(4).substr(0, slow.received(4).find("\r\nRDY"));
  EXPECT_FALSE(garbage.empty());
  EXPECT_LT(garbage.size(), sync.size());
  EXPECT_NE(garbage, sync.substr(0, garbage.size()));
  // Nothing answers before the boot (the AT at 2 s); then each start-up
  // line framed on its own, as session 28 and the manual's URC table give
  // them, and Call Ready once the SIM's services are up.
  EXPECT_EQ(slow.received(4).substr(garbage.size()),
            "\r\nRDY\r\n\r\n+CFUN: 1\r\n\r\n+CPIN: READY\r\n\r\nCall Ready\r\n");
  EXPECT_NEAR(secondsAt(receivedAt(slow, "\r\nRDY\r\n")), 3.0, 0.02);

  // The boot's two ends: 2 s and 5 s of silence after the shield powers
  // the module up.
  for (const Time boot : {seconds(2), seconds(5)}) {
    Sim900Settings settings = field();
    settings.timing.powerUp = seconds(1);
    settings.timing.boot = boot;
    const auto run = talk(Sim900(settings), {}, seconds(7));
    EXPECT_NEAR(secondsAt(receivedAt(run, "\r\nRDY\r\n")), 1.0 + secondsAt(boot), 0.02);
    EXPECT_GT(run.received(4).find("\r\nRDY\r\n"), 0U);  // the sync bytes' garbage first
  }
}

TEST(Sim900Field, SmsCommandsWaitForTheSimsServices) {
  // Session 05: "AT+CMGF=1" answered "ERROR" before the ready lines came.
  const auto run = talk(Sim900(field()), {{milliseconds(2500), "AT+CMGF=1\r"}, {milliseconds(3500), "AT+CMGF=1\r"}},
                        seconds(4));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_NE(run.received(4).find("+CPIN: READY\r\nAT+CMGF=1\r\r\nERROR\r\n\r\nCall Ready\r\nAT+CMGF=1\r\r\nOK\r\n"),
            std::string::npos)
      << run.received(4);
}

TEST(Sim900Field, AutobaudTakesOnlyUpperCaseATAndMayLoseTheFirst) {
  // The manual (2.2.41.1): 'Only the strings "AT" or "At" (not "aT" or
  // "at") can be detected when auto-bauding is enabled', and "RDY" is not
  // shown. Session 49: "at" gets no answer, "AT" gets OK.
  const auto run = talk(Sim900(field(BootMode::Autobaud)),
                        {{seconds(4), "at\r"}, {milliseconds(4500), "aT\r"}, {seconds(5), "AT\r"}, {seconds(6), "At\r"}},
                        seconds(7));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(receivedFrom(run, seconds(1)), "AT\r\r\nOK\r\nAt\r\r\nOK\r\n");
  // Session 10: the first AT after the start went unanswered, the retry
  // was answered at once.
  Sim900Settings losing = field(BootMode::Autobaud);
  losing.firstAtLost = 1;
  const auto lost = talk(Sim900(losing), {{seconds(4), "AT\r"}, {seconds(5), "AT\r"}}, seconds(6));
  EXPECT_EQ(receivedFrom(lost, seconds(1)), "AT\r\r\nOK\r\n");
  EXPECT_EQ(receivedAt(lost, "OK\r\n") > seconds(5), true);
}

TEST(Sim900Field, EchoAndAnswersFramedAsRealModulesPrintThem) {
  const auto run = talk(Sim900(field()),
                        {{seconds(8), "AT\r\n"},  // session 41: "AT\r" back, then "\r\nOK\r\n"
                         {seconds(9), "AT+CREG?\r\n"},
                         {seconds(10), "ATE0\r\n"},  // session 11: ATE0 itself is echoed
                         {seconds(11), "AT\r\n"}},
                        seconds(12));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Session 07: "AT+CREG?\r\r\n", "+CREG: 1,5\r\n", "\r\n", "OK\r\n": the
  // information line, a blank line, the result.
  EXPECT_EQ(receivedFrom(run, seconds(8)),
            "AT\r\r\nOK\r\n"
            "AT+CREG?\r\r\n+CREG: 0,1\r\n\r\nOK\r\n"
            "ATE0\r\r\nOK\r\n"
            "\r\nOK\r\n");
}

TEST(Sim900Field, RegistrationTakesItsTimeAndTheNetworkRefusesUntilThen) {
  for (const Time searching : {seconds(5), seconds(60)}) {
    Sim900Settings settings = field();
    settings.timing.registration = searching;
    const Time registered = seconds(2) + searching;
    const auto run = talk(Sim900(settings),
                          {{seconds(4), "AT+CREG=1\r"},
                           {seconds(5), "AT+CREG?;+CSQ\r"},
                           {seconds(6), "ATD+905551234567;\r"},
                           {milliseconds(6500), "AT+SAPBR=1,1\r"},
                           {registered + seconds(3), "AT+CREG?;+CGATT?\r"}},
                          registered + seconds(4));
    ASSERT_TRUE(run.ok()) << run.failure();
    const std::string heard = receivedFrom(run, seconds(4));
    // Session 10: "+CSQ: 0,0" and "+CREG: 0,2" (searching) at first.
    EXPECT_NE(heard.find("+CREG: 1,2\r\n\r\n+CSQ: 0,0\r\n\r\nOK\r\n"), std::string::npos) << heard;
    EXPECT_NE(heard.find("ATD+905551234567;\r\r\nNO CARRIER\r\n"), std::string::npos) << heard;
    // Refused (not attached); a report may come inside the answer (F23).
    const size_t bearer = heard.find("AT+SAPBR=1,1\r\r\n");
    EXPECT_LT(heard.find("\r\nERROR\r\n", bearer), heard.find("AT+CREG?;+CGATT?")) << heard;
    // With AT+CREG=1 the report is "+CREG: <stat>" (session 07's "+CREG: 5").
    EXPECT_NEAR(secondsAt(receivedAt(run, "\r\n+CREG: 1\r\n")), secondsAt(registered), 0.02);
    EXPECT_NE(heard.find("+CREG: 1,1\r\n\r\n+CGATT: 1\r\n\r\nOK\r\n"), std::string::npos) << heard;
  }
}

TEST(Sim900Field, TheNetworksLossEndsACallAndRegistrationComesBack) {
  CaretakerPhone phone;
  phone.answerAfterRings = 1;
  Sim900 modem(field());
  modem.phone(phone).fault(Sim900::Fault::NoNetwork, seconds(20), seconds(30));
  const auto run = talk(modem, {{seconds(8), "ATD+905551234567;\r"}, {seconds(25), "AT+CREG?\r"}, {seconds(36), "AT+CREG?\r"}},
                        seconds(37));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Session 35: "Whenever there is any network issue, it says NO CARRIER".
  EXPECT_NEAR(secondsAt(receivedAt(run, "\r\nNO CARRIER\r\n")), 20.0, 0.02);
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 1U);
  EXPECT_EQ(log.calls[0].outcome, "network lost");
  EXPECT_NE(receivedFrom(run, seconds(25)).find("+CREG: 0,2"), std::string::npos);
  EXPECT_NE(receivedFrom(run, seconds(36)).find("+CREG: 0,1"), std::string::npos);  // 5 s after the network's return
}

// A line that arrives while the text's +CMGS is still pending.
class Sim900Busy : public testing::TestWithParam<std::pair<BusyPolicy, const char*>> {};

TEST_P(Sim900Busy, ALineDuringTheNetworksWaitIsQueuedDroppedOrRefused) {
  Sim900Settings settings = field();
  settings.timing.smsNetwork = seconds(10);
  settings.busy = GetParam().first;
  const auto run = talk(Sim900(settings),
                        {{seconds(8), "ATE0;+CMGF=1\r"},
                         {seconds(9), "AT+CMGS=\"+905551234567\"\r"},
                         {milliseconds(9500), "hello\x1A"},
                         {seconds(12), "AT+CNMI=1,2,0,0,0\r"}},
                        seconds(21));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(receivedFrom(run, seconds(12)), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Policies, Sim900Busy,
                         testing::Values(std::pair{BusyPolicy::Queue, "\r\n+CMGS: 1\r\n\r\nOK\r\n\r\nOK\r\n"},
                                         std::pair{BusyPolicy::Drop, "\r\n+CMGS: 1\r\n\r\nOK\r\n"},
                                         std::pair{BusyPolicy::Error, "\r\nERROR\r\n\r\n+CMGS: 1\r\n\r\nOK\r\n"}));

TEST(Sim900Field, ACharacterAbortsADialInProgressButItsOwnLineFeedDoesNot) {
  // The manual's ATD note: "This Command may be aborted generally by
  // receiving an ATH Command or a character during execution."
  Sim900Settings settings = field();
  settings.timing.callSetUp = seconds(8);
  const auto run = talk(Sim900(settings),
                        {{seconds(8), "ATE0\r"}, {seconds(9), "ATD+905551234567;\r\n"}, {seconds(19), "ATH\r"},
                         {seconds(20), "ATD+905551234567;\r\n"},
                         {seconds(22), "AT\r\n"}},
                        seconds(25));
  ASSERT_TRUE(run.ok()) << run.failure();
  // The first dial's LF did not abort it: OK after the 8-s set-up. The
  // second is aborted by the "A" of the AT, whose rest is no command.
  EXPECT_NEAR(secondsAt(receivedAt(run, "\r\nOK\r\n\r\nOK\r\n")), 17.0, 0.03);
  EXPECT_EQ(receivedFrom(run, seconds(18)), "\r\nOK\r\n\r\nNO CARRIER\r\n");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 2U);
  EXPECT_EQ(log.calls[1].outcome, "aborted");
}

struct Ends {
  Time at;      // the pinned time of every network wait
  const char* read;  // what AT+HTTPREAD 2 s after the action answers
};
class Sim900Ends : public testing::TestWithParam<Ends> {};

TEST_P(Sim900Ends, EachWaitAtEitherEndOfItsRange) {
  const Time wait = GetParam().at;
  Sim900Settings settings = field();
  settings.timing.httpAction = wait;
  settings.timing.smsNetwork = wait;
  Sim900 modem(settings);
  modem.http([](const peers::HttpRequest&) { return peers::HttpResponse{200, "@250$"}; });
  const auto run = talk(modem,
                        {{seconds(8), "ATE0;+CMGF=1;+SAPBR=3,1,\"APN\",\"www\"\r"},
                         {seconds(9), "AT+SAPBR=1,1\r"},
                         {seconds(13), "AT+HTTPINIT;+HTTPPARA=\"URL\",\"http://203.0.113.10:5000/getCircle\"\r"},
                         {seconds(14), "AT+HTTPACTION=0\r"},
                         {seconds(16), "AT+HTTPREAD\r"},
                         {seconds(30), "AT+CMGS=\"+905551234567\"\r"},
                         {seconds(31), "x\x1A"}},
                        seconds(45));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Session 02: "+HTTPACTION:0,200,7438", no blank after the colon.
  EXPECT_NEAR(secondsAt(receivedAt(run, "\r\n+HTTPACTION:0,200,5\r\n")), 14.0 + secondsAt(wait), 0.05);
  EXPECT_NE(receivedFrom(run, seconds(16)).find(GetParam().read), std::string::npos) << receivedFrom(run, seconds(16));
  EXPECT_NEAR(secondsAt(receivedAt(run, "\r\n+CMGS: 1\r\n")), 31.0 + secondsAt(wait), 0.05);
}

INSTANTIATE_TEST_SUITE_P(Network, Sim900Ends,
                         testing::Values(Ends{seconds(1), "\r\n+HTTPREAD:5\r\n@250$\r\nOK\r\n"},
                                         Ends{seconds(10), "\r\nERROR\r\n"}));

TEST(Sim900Field, DrawsStayInTheirRangesAndASeedGivesOneTimeline) {
  std::vector<std::string> timelines;
  std::set<Time> waits;
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    Sim900Settings settings = field();
    settings.seed = seed;
    settings.timing.callSetUp = Sim900Settings::field().timing.callSetUp;
    const auto run = talk(Sim900(settings), {{seconds(8), "ATD+905551234567;\r"}}, seconds(20));
    const Time answered = receivedAt(run, "\r\nOK\r\n") - seconds(8);
    // 3 to 8 s of call set-up, drawn.
    EXPECT_GE(answered, seconds(3));
    EXPECT_LE(answered, seconds(8) + milliseconds(30));
    waits.insert(answered);
    timelines.push_back(run.text());
  }
  EXPECT_GT(waits.size(), 6U);
  Sim900Settings again = field();
  again.seed = 5;
  again.timing.callSetUp = Sim900Settings::field().timing.callSetUp;
  EXPECT_EQ(talk(Sim900(again), {{seconds(8), "ATD+905551234567;\r"}}, seconds(20)).text(), timelines[4]);
}

TEST(Sim900Field, UnderVoltageAndThePowerKey) {
  // The hardware design's lines, in its spelling: "UNDER-VOLTAGE WARNNING",
  // "UNDER-VOLTAGE POWER DOWN", "NORMAL POWER DOWN". After them the module
  // accepts no AT command.
  Sim900Settings settings = field();
  settings.powerKey = PC6;
  settings.selfPowered = true;
  Sim900 modem(settings);
  modem.fault(Sim900::Fault::UnderVoltage, seconds(10), seconds(20));
  const std::vector<sim900_talk::Line> lines = {{milliseconds(100), "", 1},  // the key released
                                                {seconds(15), "AT\r"},
                                                {seconds(30), "", 0},
                                                {milliseconds(30500), "", 1},  // too short a press
                                                {seconds(31), "AT\r"},
                                                {seconds(32), "", 0},
                                                {milliseconds(33200), "", 1},
                                                {seconds(40), "AT\r"}};
  // Self-powered: the shield boots it again when the supply returns.
  const auto self = talk(modem, lines, seconds(41));
  ASSERT_TRUE(self.ok()) << self.failure();
  const std::string selfHeard = receivedFrom(self, seconds(9));
  EXPECT_EQ(selfHeard.find("\r\nUNDER-VOLTAGE WARNNING\r\n\r\nUNDER-VOLTAGE POWER DOWN\r\n"), 0U) << selfHeard;
  EXPECT_NEAR(secondsAt(receivedAt(self, "\r\nRDY\r\n", seconds(20))), 22.0, 0.02);
  EXPECT_NE(selfHeard.find("AT\r\r\nOK\r\n\r\nNORMAL POWER DOWN\r\n"), std::string::npos) << selfHeard;
  EXPECT_EQ(receivedFrom(self, seconds(34)), "");  // off after the key

  // Not self-powered: off until the key is held 1 s or more.
  settings.selfPowered = false;
  const auto keyed = talk(Sim900(settings).fault(Sim900::Fault::UnderVoltage, seconds(10), seconds(20)),
                          {{milliseconds(100), "", 1}, {seconds(1), "", 0}, {seconds(3), "", 1},  // on at 2 s
                           {seconds(25), "AT\r"}, {seconds(30), "", 0}, {milliseconds(30500), "", 1},
                           {seconds(32), "", 0}, {milliseconds(33200), "", 1}, {seconds(39), "AT\r"}},
                          seconds(40));
  ASSERT_TRUE(keyed.ok()) << keyed.failure();
  EXPECT_NEAR(secondsAt(receivedAt(keyed, "\r\nRDY\r\n")), 4.0, 0.02);  // 2 s of boot after the key
  const std::string after = receivedFrom(keyed, seconds(21));
  EXPECT_EQ(after.find("RDY"), after.rfind("RDY"));  // one boot only: the one the 1.2-s press gave
  EXPECT_NEAR(secondsAt(receivedAt(keyed, "AT\r\r\nOK\r\n")), 39.0, 0.05);
}

TEST(Sim900Field, ABrownOutRebootsWithItsSettingsBackAtTheirDefaults) {
  // Sessions 29 and 32: garbage, then the boot lines; the settings made
  // before are lost.
  CaretakerPhone phone;
  phone.texts.push_back({seconds(25), "@300$"});
  Sim900Settings settings = field();
  settings.timing.smsDelivery = seconds(2);
  Sim900 modem(settings);
  modem.phone(phone).fault(Sim900::Fault::BrownOut, seconds(12));
  const auto run = talk(modem, {{seconds(8), "ATE0;+CMGF=1;+CNMI=1,2,0,0,0\r"}, {seconds(20), "AT+CMGF?\r"}}, seconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string heard = receivedFrom(run, seconds(12));
  const size_t rdy = heard.find("\r\nRDY\r\n");
  ASSERT_NE(rdy, std::string::npos) << heard;
  EXPECT_GT(rdy, 0U);  // the sync bytes' garbage before it
  EXPECT_EQ(heard.substr(rdy), "\r\nRDY\r\n\r\n+CFUN: 1\r\n\r\n+CPIN: READY\r\n\r\nCall Ready\r\n"
                               "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n"  // echo on, PDU mode again
                               "\r\n+CMTI: \"SM\",1\r\n");              // stored, not sent to the line
}

TEST(Sim900Field, TheOperatorsApnAndTheNetworksRefusals) {
  Sim900 modem(field());
  modem.http([](const peers::HttpRequest&) { return peers::HttpResponse{200, "ok"}; })
      .fault(Sim900::Fault::TextsRefused, seconds(40), seconds(60));
  const auto run = talk(modem,
                        {{seconds(8), "ATE0;+CMEE=2;+SAPBR=3,1,\"APN\",\"internet\"\r"},
                         {seconds(9), "AT+SAPBR=1,1\r"},  // not the operator's APN
                         {seconds(13), "AT+SAPBR=3,1,\"APN\",\"www\";+SAPBR=1,1\r"},
                         {seconds(17), "AT+SAPBR=1,1\r"},  // already open
                         {seconds(18), "AT+HTTPINIT;+HTTPPARA=\"NOSUCH\",\"1\"\r"},
                         {seconds(19), "AT+HTTPINIT\r"},  // already started
                         {seconds(20), "AT+HTTPPARA=\"URL\",\"http://reports.example/getCircle\";+HTTPACTION=0\r"},
                         {seconds(20) + milliseconds(500), "AT+HTTPACTION=0\r"},  // one at a time
                         {seconds(35), "AT+CMEE=1;+SAPBR=1,1\r"},
                         {seconds(36), "AT+CMEE=0;+SAPBR=1,1\r"},
                         {seconds(41), "AT+CMGS=\"+905551234567\"\r"},  // PDU mode: session 34's 302
                         {seconds(42), "AT+CMGF=1;+CMGS=\"+905551234567\"\r"},
                         {seconds(43), "x\x1A"}},
                        seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string heard = receivedFrom(run, seconds(9));
  EXPECT_EQ(heard,
            "\r\nERROR\r\n"
            "\r\nOK\r\n"
            // Session 07, with AT+CMEE=2: an open bearer and a started
            // service are "+CME ERROR: operation not allowed".
            "\r\n+CME ERROR: operation not allowed\r\n"
            "\r\nERROR\r\n"
            "\r\n+CME ERROR: operation not allowed\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"  // the second action, while the first runs
            "\r\n+HTTPACTION:0,604,0\r\n"
            "\r\n+HTTPACTION:0,603,0\r\n"  // a name the operator's DNS does not know
            "\r\n+CME ERROR: 3\r\n"
            "\r\nERROR\r\n"
            "\r\n+CMS ERROR: 302\r\n"
            "\r\n> \r\n+CMS ERROR: 21\r\n");
}

TEST(Sim900Field, NumbersGoByTheirPlanAndOtherCallersRing) {
  CaretakerPhone phone;
  phone.calls.push_back({seconds(70), seconds(11), std::nullopt, "+14155550100"});
  phone.calls.push_back({seconds(90), seconds(6), std::nullopt, "05321234567"});
  Sim900 modem(field());
  modem.phone(phone);
  const auto run = talk(modem,
                        {{seconds(8), "ATE0;+CMGF=1;+CLIP=1\r"},
                         {seconds(9), "AT+CMGS=\"+905551234567\"\r"},
                         {seconds(10), "a\x1A"},
                         {seconds(25), "AT+CMGS=\"905551234567\"\r"},  // a national number of the operator's country
                         {seconds(26), "b\x1A"},
                         {seconds(41), "AT+CMGS=\"05551234567\"\r"},  // the caretaker, dialled nationally
                         {seconds(42), "c\x1A"},
                         {seconds(57), "ATD905551234567;\r"}},
                        seconds(100));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.sent.size(), 3U);
  ASSERT_EQ(log.inbox().size(), 2U);
  EXPECT_EQ(log.inbox()[0].text, "a");
  EXPECT_EQ(log.inbox()[1].text, "c");
  ASSERT_EQ(log.calls.size(), 3U);
  EXPECT_EQ(log.calls[0].outcome, "failed");
  EXPECT_EQ(log.calls[1].number, "+14155550100");
  // Session 37 and the manual: "+CLIP: <number>,<type>,..." after each
  // RING; 145 for an international number, 129 otherwise.
  EXPECT_EQ(receivedFrom(run, seconds(69)),
            "\r\nRING\r\n\r\n+CLIP: \"+14155550100\",145,\"\",0,\"\",0\r\n"
            "\r\nRING\r\n\r\n+CLIP: \"+14155550100\",145,\"\",0,\"\",0\r\n"
            "\r\nRING\r\n\r\n+CLIP: \"+14155550100\",145,\"\",0,\"\",0\r\n"
            "\r\nNO CARRIER\r\n"
            "\r\nRING\r\n\r\n+CLIP: \"05321234567\",129,\"\",0,\"\",0\r\n"
            "\r\nRING\r\n\r\n+CLIP: \"05321234567\",129,\"\",0,\"\",0\r\n"
            "\r\nNO CARRIER\r\n");
}

TEST(Sim900Field, TheCaretakerAnswersLateIsBusyOrLeavesItToTheVoicemail) {
  struct Case {
    CaretakerPhone phone;
    const char* outcome;
    double ended;  // s after the dial's OK
  };
  CaretakerPhone late;  // the 6th ring, 5 s apart
  late.answerAfterRings = 6;
  late.hangUpAfter = seconds(10);
  CaretakerPhone busy;
  busy.busy = true;
  CaretakerPhone voicemail;
  voicemail.answerAfterRings.reset();
  voicemail.voicemailAfter = seconds(25);
  voicemail.voicemailRecording = seconds(30);
  CaretakerPhone away;
  away.answerAfterRings.reset();
  for (const Case& test : {Case{late, "talked", 40}, Case{busy, "busy", 0}, Case{voicemail, "voicemail", 55},
                           Case{away, "no answer", 60}}) {
    Sim900Settings settings = field();
    settings.timing.callSetUp = seconds(3);
    settings.timing.noAnswer = seconds(60);
    Sim900 modem(settings);
    modem.phone(test.phone);
    const auto run = talk(modem, {{seconds(8), "ATD+905551234567;\r"}}, seconds(80));
    ASSERT_TRUE(run.ok()) << run.failure();
    const ModemLog log = ModemLog::from(run);
    ASSERT_EQ(log.calls.size(), 1U);
    EXPECT_EQ(log.calls[0].outcome, test.outcome);
    EXPECT_NEAR(secondsAt(log.calls[0].end), 11.0 + test.ended, 0.05) << test.outcome;
  }
}

TEST(Sim900Field, WithConnectedLineTheDialAnswersWhenTheFarEndDoes) {
  // The manual's AT+COLP=1: the dial's OK waits for the far end, with
  // "+COLP: <number>,<type>[,<subaddr>,<satype>,<alpha>]" before it; an
  // unanswered dial ends with NO ANSWER as its own result.
  for (const bool answers : {true, false}) {
    CaretakerPhone phone;
    phone.answerAfterRings = 3;
    if (!answers) {
      phone.answerAfterRings.reset();
    }
    Sim900Settings settings = field();
    settings.timing.callSetUp = seconds(4);
    settings.timing.noAnswer = seconds(40);
    Sim900 modem(settings);
    modem.phone(phone);
    const auto run = talk(modem, {{seconds(8), "ATE0;+COLP=1\r"}, {seconds(9), "ATD+905551234567;\r"}}, seconds(60));
    ASSERT_TRUE(run.ok()) << run.failure();
    if (answers) {
      EXPECT_EQ(receivedFrom(run, seconds(9)), "\r\n+COLP: \"+905551234567\",145,\"\",0,\"\"\r\n\r\nOK\r\n");
      EXPECT_NEAR(secondsAt(receivedAt(run, "OK\r\n", seconds(9))), 9 + 4 + 15.0, 0.1);  // set-up, 3 rings of 5 s
    } else {
      EXPECT_EQ(receivedFrom(run, seconds(9)), "\r\nNO ANSWER\r\n");
      EXPECT_NEAR(secondsAt(receivedAt(run, "NO ANSWER\r\n")), 9 + 4 + 40.0, 0.05);
    }
  }
}

TEST(Sim900Field, TheLineFeedAfterAPromptCommandIsIgnoredOrTaken) {
  for (const auto policy : {PromptLineFeed::Ignored, PromptLineFeed::Body}) {
    Sim900Settings settings = field();
    settings.promptLineFeed = policy;
    Sim900 modem(settings);
    modem.http([](const peers::HttpRequest&) { return peers::HttpResponse{200, ""}; });
    const auto run = talk(modem,
                          {{seconds(8), "ATE0;+CMGF=1;+SAPBR=3,1,\"APN\",\"www\";+SAPBR=1,1\r"},
                           {seconds(12), "AT+CMGS=\"+905551234567\"\r\n"},
                           {seconds(13), "report\x1A"},
                           {seconds(30), "AT+HTTPINIT;+HTTPPARA=\"URL\",\"http://203.0.113.10:5000/postData\"\r"},
                           {seconds(31), "AT+HTTPDATA=4,10000\r\n"},
                           {seconds(32), "1234"},
                           {seconds(33), "AT+HTTPACTION=1\r"}},
                          seconds(50));
    ASSERT_TRUE(run.ok()) << run.failure();
    const ModemLog log = ModemLog::from(run);
    ASSERT_EQ(log.sent.size(), 1U);
    ASSERT_EQ(log.http.size(), 1U);
    if (policy == PromptLineFeed::Ignored) {
      EXPECT_EQ(log.sent[0].text, "report");
      EXPECT_EQ(log.http[0].request.body, "1234");
    } else {
      EXPECT_EQ(log.sent[0].text, "\nreport");
      EXPECT_EQ(log.http[0].request.body, "\n123");
    }
  }
}

}  // namespace
