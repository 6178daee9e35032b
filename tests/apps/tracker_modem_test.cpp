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
std::function<void()> tracker(std::vector<Time> noteAt = {}, bool startModem = false) {
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
  Sim900 modem;
  modem.http(server).phone(phone);
  Bench bench = benchWith(modem, seconds(80));
  bench.press(PF4, seconds(25), milliseconds(200));
  const auto run = bench.run(tracker({seconds(78)}), seconds(80));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 1U);
  EXPECT_TRUE(log.calls[0].outgoing);
  EXPECT_EQ(log.calls[0].number, kCaretaker);
  EXPECT_NE(log.calls[0].answered, kNever);
  // Answered after 3 s of set-up and two 3-s rings; the caretaker talked
  // for 40 s and hung up: the module never cut the call.
  EXPECT_EQ(log.calls[0].outcome, "talked");
  EXPECT_NEAR(static_cast<double>(log.calls[0].answered - log.calls[0].start), 9e12, 0.2e12);
  EXPECT_NEAR(static_cast<double>(log.calls[0].end - log.calls[0].answered), 40e12, 0.2e12);
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
}

TEST(TrackerWithModem, ARingIsAnsweredByAPress) {
  CaretakerPhone phone;
  phone.calls.push_back({seconds(30), seconds(30), seconds(15)});
  Sim900 modem;
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
  Sim900 modem;
  modem.http(server);
  Bench bench = benchWith(modem, seconds(50));
  const auto run = bench.run(tracker(), seconds(50));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.inbox().size(), 1U);
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
  Sim900 modem;
  modem.http(server).phone(phone);
  Bench bench = benchWith(modem, seconds(70));
  const auto run = bench.run(tracker({seconds(30), seconds(68)}), seconds(70));
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
  Sim900 modem;
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
  Sim900 modem;
  modem.http(server).phone(phone).fault(Sim900::Fault::NoNetwork, seconds(20), seconds(60));
  Bench bench = benchWith(modem, seconds(130));
  bench.press(PF4, seconds(25), milliseconds(200));
  bench.press(PF4, seconds(90), milliseconds(200));
  const auto run = bench.run(tracker(), seconds(130));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_GE(log.calls.size(), 5U);
  // Three attempts in the outage, then the SOS text, which the network
  // refused too.
  for (size_t attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(log.calls[attempt].outcome, "failed") << attempt;
  }
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
  Sim900 modem;
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
  // Five times the waits: the action's answer comes 7.5 s after it. The
  // script reads it only then (it read 2 s after and got ERROR before).
  Sim900 modem;
  modem.http(server).fault(Sim900::Fault::SlowNetwork, 0, seconds(60));
  Bench bench = benchWith(modem, seconds(60));
  const auto run = bench.run(tracker({seconds(50)}), seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  for (const auto& command : log.commands) {
    EXPECT_FALSE(command.line == "AT+HTTPREAD" && command.answer == "ERROR");
  }
  EXPECT_EQ(run.notes()[0].second, "250y call 0");
}

TEST(TrackerWithModem, AReportDuringAPowerLossIsLostAndTheNextOneArrives) {
  Sim900 modem;
  modem.http(server).fault(Sim900::Fault::PowerLoss, seconds(35), seconds(50));
  Bench bench = benchWith(modem, seconds(90));
  const auto run = bench.run(tracker(), seconds(90));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.inbox().size(), 1U);
  EXPECT_GT(log.inbox()[0].at, seconds(80));
  EXPECT_EQ(log.inbox()[0].text.substr(0, 20), kRecord);
}

TEST(TrackerWithModem, ADroppedBearerLosesThatPostAndTheNextOneArrives) {
  Sim900 modem;
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
