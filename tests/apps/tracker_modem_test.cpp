// The tracker firmware against the SIM900 model and the caretaker's phone:
// each of its modem scripts judged by the model's own command parser.
#include <gtest/gtest.h>

#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/sim900.h"
#include "sim/sim.h"
#include "tests/apps/tracker_loop.h"
#include "tracker/settings.h"
#include "tracker/state.h"

namespace {

using namespace sim;
using peers::CaretakerPhone;
using peers::ModemLog;
using peers::Sim900;

const std::string kRecord = "41.015137,28.979530,";
const std::string kCaretaker = tracker::settings::kCaretakerNumber;

// The image's main, noting the radius and the call state; with the modem's
// start-up when startModem is set.
std::function<void()> tracker(std::vector<Time> noteAt = {}, bool startModem = true) {
  return tracker_test::trackerNoting(
      std::move(noteAt),
      [] { return std::to_string(tracker::circleSize) + tracker::circleFlag + " call " + std::to_string(tracker::callStatusFlag); },
      startModem);
}

// The report server's side, in the test process: the radius, and the
// reports posted.
peers::HttpResponse server(const peers::HttpRequest& request) {
  if (request.url.ends_with("/getCircle")) {
    return {200, "@250$"};
  }
  return {request.body.size() == 24 ? 200 : 400, "OK\n"};
}

// The field's modem, registered the given time after its boot (the
// field's 5 to 60 s; the low end unless a test is about the start-up).
Sim900 fieldModem(Time registration = seconds(5)) {
  peers::Sim900Settings settings = peers::Sim900Settings::field(1);
  settings.timing.registration = registration;
  return Sim900(settings);
}

Bench benchWith(const Sim900& modem, Time end) {
  Bench bench;
  modem.attach(bench);
  peers::GpsReceiver gps;
  gps.fixes({{41.015137, 28.979530}});
  gps.attach(bench, end);
  return bench;
}

TEST(TrackerWithModem, TheEmergencyCallConnectsAndEnds) {
  CaretakerPhone phone;
  phone.hangUpAfter = seconds(40);  // longer than the old fixed 22-s call
  Sim900 modem = fieldModem();
  modem.http(server).phone(phone);
  Bench bench = benchWith(modem, seconds(110));
  bench.press(PF4, seconds(25), milliseconds(200));
  const auto run = bench.run(tracker({seconds(108)}), seconds(110));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 1U);
  EXPECT_TRUE(log.calls[0].outgoing);
  EXPECT_EQ(log.calls[0].number, kCaretaker);
  EXPECT_NE(log.calls[0].answered, kNever);
  // Answered after the field's 3 to 8 s of set-up and two rings 5 s apart;
  // the caretaker talked for 40 s and hung up: the module never cut the call.
  EXPECT_EQ(log.calls[0].outcome, "talked");
  EXPECT_GE(log.calls[0].answered - log.calls[0].start, seconds(13));
  EXPECT_LE(log.calls[0].answered - log.calls[0].start, seconds(18));
  EXPECT_NEAR(static_cast<double>(log.calls[0].end - log.calls[0].answered), 40e12, 0.2e12);
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
}

TEST(TrackerWithModem, ARingIsAnsweredByAPress) {
  CaretakerPhone phone;
  phone.calls.push_back({seconds(30), seconds(30), seconds(15)});
  Sim900 modem = fieldModem();
  modem.http(server).phone(phone);
  Bench bench = benchWith(modem, seconds(60));
  bench.press(PF4, seconds(34), milliseconds(200));
  const auto run = bench.run(tracker({seconds(40), seconds(55)}), seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 1U);
  EXPECT_FALSE(log.calls[0].outgoing);
  EXPECT_GT(log.calls[0].answered, seconds(34));
  EXPECT_LT(log.calls[0].answered, seconds(35));
  EXPECT_EQ(log.calls[0].outcome, "talked");
  // Talking at 40 s (no report then), idle again once the caretaker hung up.
  EXPECT_EQ(run.notes()[0].second, "250y call 2");
  EXPECT_EQ(run.notes()[1].second, "250y call 0");
  EXPECT_TRUE(log.sent.empty());
}

TEST(TrackerWithModem, TheReportReachesTheCaretakersInbox) {
  Sim900 modem = fieldModem();
  modem.http(server);
  Bench bench = benchWith(modem, seconds(75));
  const auto run = bench.run(tracker(), seconds(75));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.inbox().size(), 1U) << run.sent(0);
  EXPECT_EQ(log.inbox()[0].to, kCaretaker);
  EXPECT_EQ(log.inbox()[0].text.size(), 24U);
  EXPECT_EQ(log.inbox()[0].text.substr(0, 20), kRecord);
  EXPECT_EQ(log.inbox()[0].text.substr(22), "\r\n");
  // Every command of the report was one the modem took.
  for (const auto& command : log.commands) {
    EXPECT_EQ(command.answer.find("ERROR"), std::string::npos) << command.line;
  }
}

TEST(TrackerWithModem, TheRadiusComesByHttpAndByText) {
  CaretakerPhone phone;
  phone.texts.push_back({seconds(60), "Radius @300$ please"});
  Sim900 modem = fieldModem();
  modem.http(server).phone(phone);
  Bench bench = benchWith(modem, seconds(80));  // a text takes 2 to 10 s to come
  const auto run = bench.run(tracker({seconds(30), seconds(78)}), seconds(80));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_GE(log.http.size(), 1U);
  EXPECT_EQ(log.http[0].request.method, "GET");
  EXPECT_TRUE(log.http[0].request.url.ends_with(":5000/getCircle"));
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
  // The text came straight to the line once the report had asked for it.
  EXPECT_EQ(log.received.size(), 1U);
  EXPECT_EQ(run.notes()[1].second, "300y call 0");
}

TEST(TrackerWithModem, ThePostReachesTheServerWithItsRecord) {
  Sim900 modem = fieldModem();
  modem.http(server);
  Bench bench = benchWith(modem, seconds(330));
  const auto run = bench.run(tracker(), seconds(330));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  std::vector<ModemLog::Http> posts;
  for (const auto& exchange : log.http) {
    if (exchange.request.method == "POST") {
      posts.push_back(exchange);
    }
  }
  ASSERT_EQ(posts.size(), 1U);
  EXPECT_TRUE(posts[0].request.url.ends_with(":5000/postData"));
  EXPECT_EQ(posts[0].request.contentType, "text/plain");
  EXPECT_EQ(posts[0].request.body.size(), 24U);
  EXPECT_EQ(posts[0].request.body.substr(0, 20), kRecord);
  EXPECT_EQ(posts[0].response.status, 200);
}

TEST(TrackerWithModem, AnEmergencyInAnOutageIsCalledAgainUntilItGetsThrough) {
  CaretakerPhone phone;
  phone.hangUpAfter = seconds(15);
  Sim900 modem = fieldModem();
  modem.http(server).phone(phone).fault(Sim900::Fault::NoNetwork, seconds(20), seconds(60));
  Bench bench = benchWith(modem, seconds(150));
  bench.press(PF4, seconds(25), milliseconds(200));
  bench.press(PF4, seconds(90), milliseconds(200));
  const auto run = bench.run(tracker(), seconds(150));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  // Three attempts in the outage, each dial refused by the unregistered
  // modem, then the SOS text, which the network refused too.
  size_t refusedDials = 0;
  for (const auto& command : log.commands) {
    refusedDials += command.line.starts_with("ATD") && command.at < seconds(60) && command.answer != "OK";
  }
  EXPECT_GE(refusedDials, 3U);
  EXPECT_NE(run.sent(4).find("SOS 41.015137,28.979530\r\x1A"), std::string::npos);
  EXPECT_TRUE(log.inbox().empty() || log.inbox()[0].text.find("SOS") == std::string::npos);
  const std::string console = run.sent(0);
  EXPECT_LT(console.find("SOS pending\n"), console.find("SOS again\n"));
  EXPECT_NE(console.find("SOS again\n"), std::string::npos);
  // Called again until the network was back: the caretaker answered before
  // the second press, which got a call of its own.
  bool reached = false;
  for (const auto& call : log.calls) {
    reached = reached || (call.outcome == "talked" && call.start < seconds(90));
  }
  EXPECT_TRUE(reached);
  EXPECT_EQ(log.calls.back().outcome, "talked");
  EXPECT_GT(log.calls.back().start, seconds(90));
}

TEST(TrackerWithModem, AnUnreachableServerLeavesTheRadiusUnsetAndItIsAskedAgain) {
  Sim900 modem = fieldModem();
  modem.http(server).fault(Sim900::Fault::ServerUnreachable, 0, seconds(100));
  Bench bench = benchWith(modem, seconds(200));
  const auto run = bench.run(tracker({seconds(100), seconds(195)}), seconds(200));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_GE(log.http.size(), 2U);
  EXPECT_EQ(log.http[0].response.status, 601);
  EXPECT_EQ(run.notes()[0].second, "0n call 0");
  EXPECT_EQ(log.http[1].response.status, 200);
  EXPECT_EQ(run.notes()[1].second, "250y call 0");
}

TEST(TrackerWithModem, ASlowNetworkStillGivesTheRadius) {
  // The field's slow network: each wait from its span's high end up to ten
  // times it (the action's answer up to a minute). The script reads it only
  // then (it read 2 s after and got ERROR before).
  Sim900 modem = fieldModem();
  modem.http(server).fault(Sim900::Fault::SlowNetwork, 0, seconds(150));
  Bench bench = benchWith(modem, seconds(150));
  const auto run = bench.run(tracker({seconds(140)}), seconds(150));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  for (const auto& command : log.commands) {
    EXPECT_FALSE(command.line == "AT+HTTPREAD" && command.answer == "ERROR");
  }
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
}

TEST(TrackerWithModem, AReportDuringAPowerLossIsLostAndTheNextOneArrives) {
  Sim900 modem = fieldModem();
  modem.http(server).fault(Sim900::Fault::PowerLoss, seconds(35), seconds(50));
  Bench bench = benchWith(modem, seconds(100));  // the network takes 2 to 10 s
  const auto run = bench.run(tracker(), seconds(100));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.inbox().size(), 1U) << run.sent(0);
  EXPECT_GT(log.inbox()[0].at, seconds(80));
  EXPECT_EQ(log.inbox()[0].text.substr(0, 20), kRecord);
}

TEST(TrackerWithModem, ADroppedBearerLosesThatPostAndTheNextOneArrives) {
  Sim900 modem = fieldModem();
  // Dropped while the POST at 300 s waits for its action's result.
  modem.http(server).fault(Sim900::Fault::BearerDropped, seconds(303));
  Bench bench = benchWith(modem, seconds(630));
  const auto run = bench.run(tracker(), seconds(630));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::vector<int> posts;
  for (const auto& exchange : ModemLog::from(run).http) {
    if (exchange.request.method == "POST") {
      posts.push_back(exchange.response.status);
    }
  }
  EXPECT_EQ(posts, (std::vector<int>{601, 200}));
}

TEST(TrackerWithModem, TheStartUpWaitsForTheFieldModemAndRunsAgainAfterABrownOut) {
  // An autobauding modem that loses the first AT, no network for 20 s, a
  // radius texted at 30 s (before the first report selects direct
  // delivery), a brown-out at 120 s in the middle of an emergency call, and
  // another text at 180 s.
  peers::Sim900Settings settings = peers::Sim900Settings::field(3);
  settings.firstAtLost = 1;
  settings.timing.registration = seconds(20);
  CaretakerPhone phone;
  phone.answerAfterRings = 1U;
  phone.hangUpAfter = seconds(120);
  phone.texts.push_back({seconds(30), "@300$"});
  phone.texts.push_back({seconds(180), "@350$"});
  Sim900 modem(settings);
  modem.http(server).phone(phone).fault(Sim900::Fault::BrownOut, seconds(120));
  Bench bench = benchWith(modem, seconds(200));
  bench.press(PF4, seconds(95), milliseconds(200));
  const auto run = bench.run(tracker({seconds(60), seconds(190)}, true), seconds(200));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string console = run.sent(0);
  EXPECT_NE(console.find("modem start\n"), std::string::npos) << console.substr(0, 400);
  EXPECT_NE(console.find("modem registered\n"), std::string::npos);
  // The call ended with the modem, noticed within seconds (the hang-up,
  // then the report the call held back), and the modem was started again.
  const ModemLog calls = ModemLog::from(run);
  ASSERT_EQ(calls.calls.size(), 1U);
  EXPECT_LT(calls.calls[0].answered, seconds(120));
  EXPECT_EQ(calls.calls[0].end, seconds(120));
  EXPECT_LT(run.sentAt(0, "modem restarted\n"), seconds(128));
  EXPECT_GT(run.sentAt(0, "modem restarted\n"), seconds(120));
  const ModemLog log = ModemLog::from(run);
  size_t directDelivery = 0;
  for (const auto& command : log.commands) {
    directDelivery += command.line == "AT+CNMI=1,2,0,0,0" && command.answer == "OK";
  }
  EXPECT_GE(directDelivery, 2U);  // at the start and after the reboot
  // Both texts reached the line and set the radius, the second after the reboot.
  ASSERT_EQ(run.notes().size(), 2U) << console;
  EXPECT_EQ(run.notes()[0].second.substr(0, 4), "300y");
  EXPECT_EQ(run.notes()[1].second.substr(0, 4), "350y");
}

}  // namespace

namespace {

// Registration at either end of the field's 5 to 60 s after the boot: the
// start-up waits for it (bounded), and the radius and the first report
// follow once the modem can carry them.
class StartUp : public testing::TestWithParam<int> {};

TEST_P(StartUp, WaitsForRegistrationThenTheRadiusAndTheReportFollow) {
  Sim900 modem = fieldModem(seconds(GetParam()));
  modem.http(server);
  Bench bench = benchWith(modem, seconds(110));
  const auto run = bench.run(tracker({seconds(108)}), seconds(110));
  ASSERT_TRUE(run.ok()) << run.failure();
  const Time registered = run.sentAt(0, "modem registered\n");
  ASSERT_NE(registered, kNever) << run.sent(0).substr(0, 600);
  EXPECT_GT(registered, seconds(GetParam()));
  // No script line before the start-up was done.
  EXPECT_GT(run.sentStartAt(4, "AT+SAPBR"), registered);
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
  const ModemLog log = ModemLog::from(run);
  ASSERT_GE(log.inbox().size(), 1U);
  EXPECT_EQ(log.inbox()[0].text.substr(0, 20), kRecord);
}

INSTANTIATE_TEST_SUITE_P(FieldEnds, StartUp, testing::Values(5, 60));

}  // namespace

namespace {

TEST(TrackerWithModem, AnAlertTheNetworkRefusedIsTextedAgain) {
  // Out of the 250 m circle at about 50 s, at 10 m/s, while the network
  // rejects texts (until 70 s).
  Sim900 modem = fieldModem();
  modem.http(server).fault(Sim900::Fault::TextsRefused, seconds(45), seconds(70));
  Bench bench;
  modem.attach(bench);
  peers::GpsReceiver gps;
  gps.walk({{41.015137, 28.979530}, {41.015137 + 1000 / 111195.0, 28.979530}}, 10).firstFixAfter(seconds(25));
  gps.attach(bench, seconds(120));
  const auto run = bench.run(tracker(), seconds(120));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string alert = "The target went beyond the limits.\r";
  size_t refused = 0;
  for (const auto& [at, text] : run.peerRecords(4)) {
    refused += text.rfind("sms-failed", 0) == 0 && text.find("limits.") != std::string::npos;
  }
  EXPECT_GE(refused, 1U);
  std::vector<Time> delivered;
  for (const auto& text : ModemLog::from(run).inbox()) {
    if (text.text == alert) {
      delivered.push_back(text.at);
    }
  }
  ASSERT_EQ(delivered.size(), 1U);
  EXPECT_GT(delivered[0], seconds(70));
}

}  // namespace
