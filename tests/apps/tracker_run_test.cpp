// The tracker at work on the simulated board: bring-up and the foreground
// duties as the image runs them, a GPS receiver on UART2 and a modem that
// answers the radius request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "tests/apps/tracker_loop.h"
#include "tests/tracker/tracker_bench.h"
#include "platform/driverlib.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/sim.h"
#include "tracker/settings.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

namespace {

using namespace sim;
using peers::GpsReceiver;
using peers::Position;

constexpr unsigned kConsole = 0;
constexpr unsigned kModem = 4;
const std::string kAlert = "The target went beyond the limits.\r";
const std::string kDial = std::string("ATD") + tracker::settings::kCaretakerNumber + ";";
const Position kHome{41.015137, 28.979530};

// Metres north of a position, on the tracker's sphere.
Position north(Position from, double metres) {
  return {from.latitude + metres / (60 * 1.1515 * 1.609344 * 1000), from.longitude};
}

// The modem answers the radius request with "@250$".
// A modem that answers the scripts, the radius request among them.
void radiusAnswer(Bench& bench, const std::string& radius = "250") {
  tracker_test::httpModem(bench, seconds(2), false, radius);
}

// The image's main, with notes of the position, the fix and the radius.
std::function<void()> tracker(std::vector<Time> noteAt = {}) {
  return tracker_test::trackerNoting(std::move(noteAt), [] {
    return std::string(latitudeResult) + "," + longitudeResult + " fix " + std::to_string(tracker::gpsFlagControl) +
           " radius " + std::to_string(tracker::circleSize);
  });
}

// The SMS texts the modem was given: what stands between each send command
// (ended by CR LF, or by CR alone where the script awaits the prompt) and
// its Ctrl-Z.
std::vector<std::string> messages(const Outcome& run) {
  const std::string sent = run.sent(kModem);
  std::vector<std::string> texts;
  for (size_t at = sent.find("CMGS"); at != std::string::npos; at = sent.find("CMGS", at + 1)) {
    size_t start = sent.find('\r', at) + 1;
    start += sent[start] == '\n';
    texts.push_back(sent.substr(start, sent.find('\x1A', start) - start));
  }
  return texts;
}

// Times at which the text had gone out to the modem, every occurrence.
std::vector<Time> sentTimes(const Outcome& run, const std::string& text) {
  std::vector<Time> times;
  const std::string sent = run.sent(kModem);
  for (size_t at = sent.find(text); at != std::string::npos; at = sent.find(text, at + 1)) {
    times.push_back(run.sentAt(kModem, text, at));
  }
  return times;
}

TEST(TrackerRun, EveryReportCarriesTheCurrentPosition) {
  Bench bench;
  radiusAnswer(bench);
  GpsReceiver gps;
  gps.walk({kHome, north(kHome, 2000)}, 1.5).noise(3, 7).firstFixAfter(seconds(8));
  gps.attach(bench, seconds(125));
  const auto run = bench.run(tracker(), seconds(125));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto reports = messages(run);
  // The reports at 40, 80 and 120 s (the geofence stays quiet: 180 m at most).
  ASSERT_EQ(reports.size(), 3U) << run.sent(kModem);
  for (size_t index = 0; index < reports.size(); ++index) {
    const std::string& record = reports[index];
    ASSERT_EQ(record.size(), 24U) << record;
    EXPECT_EQ(record.substr(9, 1) + record.substr(19, 1) + record.substr(22), ",,\r\n") << record;
    // The last fix before the tick: the burst of the second before it.
    const auto fix = gps.fixAt(seconds(40 * (index + 1) - 1));
    ASSERT_TRUE(fix);
    EXPECT_NEAR(std::atof(record.substr(0, 9).c_str()), fix->latitude, 2e-6) << record;
    EXPECT_NEAR(std::atof(record.substr(10, 9).c_str()), fix->longitude, 2e-6) << record;
  }
}

TEST(TrackerRun, TheReportedPulseCountsTheSensorsSamplesAboveTheThreshold) {
  Bench bench;
  const peers::PulseSensor heart(15);
  heart.attach(bench);
  const auto run = bench.run(tracker(), seconds(45));
  ASSERT_TRUE(run.ok()) << run.failure();
  const Time tick = run.interrupts(INT_TIMER1A).at(0);
  // Each sample is converted within microseconds of its timer interrupt.
  int above = 0;
  for (Time sample : run.interrupts(INT_TIMER0A)) {
    above += sample < tick && heart(sample) > 2300;
  }
  EXPECT_GE(above, 15);
  const auto reports = messages(run);
  ASSERT_EQ(reports.size(), 1U);
  // Twice the count from its initial 20, held to two digits.
  EXPECT_EQ(reports[0].substr(20, 2), std::to_string(std::min(99, 2 * (20 + above))));
}

TEST(TrackerRun, PositionTextsInEveryQuadrantAndWidth) {
  // A new place every 40 s, each reported by the next tick.
  const std::vector<std::pair<Position, std::string>> places = {
      {{-33.868820, 151.209290}, "-33.86882,151.20929"},
      {{37.774900, -122.419400}, "37.774900,-122.4194"},
      {{-1.286389, -48.503333}, "-1.286389,-48.50333"},
      {{9.012345, 7.654321}, "9.0123450,7.6543210"},
  };
  std::vector<Position> fixes;
  for (const auto& [place, text] : places) {
    fixes.insert(fixes.end(), 40, place);
  }
  Bench bench;
  radiusAnswer(bench);
  GpsReceiver gps;
  gps.fixes(fixes).talker("GN");
  gps.attach(bench, seconds(175));
  const auto run = bench.run(tracker(), seconds(175));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::vector<std::string> reports = messages(run);
  std::erase(reports, kAlert);  // every place is outside the circle
  ASSERT_EQ(reports.size(), 4U);
  for (size_t index = 0; index < places.size(); ++index) {
    EXPECT_EQ(reports[index].substr(0, 19), places[index].second);
  }
}

TEST(TrackerRun, LeavingTheCircleAlertsOnceEachTime) {
  // Out past 250 m at 50 s, back in at 150 s, out again at 250 s.
  Bench bench;
  radiusAnswer(bench);
  GpsReceiver gps;
  gps.walk({kHome, north(kHome, 500), kHome, north(kHome, 500)}, 5);
  gps.attach(bench, seconds(300));
  const auto run = bench.run(tracker(), seconds(300));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::vector<Time> alerts;
  const auto texts = messages(run);
  const auto sends = sentTimes(run, "\x1A");
  ASSERT_EQ(texts.size(), sends.size());
  for (size_t index = 0; index < texts.size(); ++index) {
    if (texts[index] == kAlert) {
      alerts.push_back(sends[index]);
    }
  }
  ASSERT_EQ(alerts.size(), 2U) << run.sent(kModem);
  EXPECT_GT(alerts[0], seconds(50));
  EXPECT_LT(alerts[0], seconds(60));
  EXPECT_GT(alerts[1], seconds(250));
  EXPECT_LT(alerts[1], seconds(260));
}

TEST(TrackerRun, NoAlertBeforeARadiusArrives) {
  // The modem takes every line but the request never gets its result:
  // outside from 50 s, and no radius.
  Bench bench;
  bench.uart(kModem).reply("\r\n", "\r\nOK\r\n", milliseconds(20));
  GpsReceiver gps;
  gps.walk({kHome, north(kHome, 5000)}, 5);
  gps.attach(bench, seconds(200));
  const auto run = bench.run(tracker(), seconds(200));
  ASSERT_TRUE(run.ok()) << run.failure();
  for (const std::string& text : messages(run)) {
    EXPECT_NE(text, kAlert);
  }
  // The request was repeated while no radius came: at start and 2 min after
  // the first one ended, which waited 65 s for the action's result, read
  // nothing and closed the bearer.
  const auto actions = sentTimes(run, "AT+HTTPACTION=0\r\n");
  const auto closes = sentTimes(run, "AT+SAPBR=0,1\r\n");
  ASSERT_EQ(actions.size(), 2U);
  ASSERT_GE(closes.size(), 1U);
  EXPECT_GT(closes[0] - actions[0], seconds(65));
  EXPECT_LT(closes[0] - actions[0], seconds(66));
  // (After the report of 160 s, when it falls first.)
  EXPECT_GT(actions[1] - closes[0], seconds(120));
  EXPECT_LT(actions[1] - closes[0], seconds(126));
  EXPECT_EQ(run.sent(kModem).find("AT+HTTPREAD"), std::string::npos);
}

TEST(TrackerRun, BadSentencesNeverMoveThePosition) {
  const Position here{41.015137, 28.979530};
  const auto sentence = [](const std::string& body) { return peers::nmeaSentence(body); };
  const std::string good = "GPRMC,101010.00,A,5231.2005,N,01324.2972,E,0.0,0.0,081226,,,A";
  std::string badChecksum = sentence(good);
  badChecksum[badChecksum.size() - 3] = badChecksum[badChecksum.size() - 3] == '0' ? '1' : '0';
  const std::string truncated = sentence(good).substr(0, 40);
  const std::string overLong =
      sentence("GPRMC,101010.000000000000000000000,A,5231.2005,N,01324.2972,E,0.0,0.0,081226,,,A");
  ASSERT_GT(overLong.size(), 82U);

  Bench bench;
  GpsReceiver gps;
  // (The foreground notes once the radius request at start is over.)
  gps.fixes({here}).silent(seconds(25), seconds(35));
  gps.raw(seconds(26), badChecksum).raw(seconds(27), truncated + sentence("GPTXT,01,01,02,ANTENNA OK"));
  gps.raw(seconds(28), overLong).raw(seconds(29), sentence(good).substr(0, 30) + "\r\n");
  // The same place elsewhere, well formed: it counts.
  gps.raw(seconds(33), sentence(good));
  gps.attach(bench, seconds(35));
  const auto run = bench.run(tracker({seconds(32), seconds(34)}), seconds(35));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 2U);
  EXPECT_EQ(run.notes()[0].second.substr(0, 19), "41.015137,28.979530");
  EXPECT_EQ(run.notes()[1].second.substr(0, 19), "52.520008,13.404953");
}

TEST(TrackerRun, ASentenceCutByTheReportHandlerIsDropped) {
  // Its head arrives just before the report tick at 40 s, its tail after the
  // handler has switched UART2 on again: together they would make a valid
  // sentence of another place, with what the handler's pause lost between.
  const std::string whole = peers::nmeaSentence("GPRMC,101010.00,A,5231.2005,N,01324.2972,E,0.0,0.0,081226,,,A");
  const std::string head = whole.substr(0, 20);
  const std::string tail = whole.substr(20);
  Bench bench;
  GpsReceiver gps;
  gps.fixes({kHome}).silent(seconds(39), seconds(47));
  gps.raw(seconds(40) - milliseconds(30), head).raw(seconds(41), "lost while off").raw(seconds(45), tail);
  gps.attach(bench, seconds(47));
  const auto run = bench.run(tracker({seconds(46)}), seconds(47));
  ASSERT_TRUE(run.ok()) << run.failure();
  // The handler did cut it: bytes were lost with the receiver off.
  bool lostWhileOff = false;
  for (const Record& record : run.timeline().records) {
    lostWhileOff = lostWhileOff || (record.kind == RecordKind::UartLost && record.unit == 2 &&
                                    record.detail == kLostReceiverOff);
  }
  EXPECT_TRUE(lostWhileOff);
  // What reached the chip joins into the whole sentence all the same.
  EXPECT_NE(run.received(2).find(head + tail), std::string::npos);
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second.substr(0, 19), "41.015137,28.979530");
}

TEST(TrackerRun, ALostFixKeepsTheLastPositionAndSaysSo) {
  Bench bench;
  GpsReceiver gps;
  gps.fixes({kHome}).withoutFix(seconds(20), seconds(60));
  gps.attach(bench, seconds(60));
  const auto run = bench.run(tracker({seconds(5), seconds(25), seconds(35)}), seconds(40));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 3U);
  EXPECT_EQ(run.notes()[0].second, "41.015137,28.979530 fix 1 radius 0");
  // Within the 10 s time-out the fix still counts; after it, none.
  EXPECT_EQ(run.notes()[1].second, "41.015137,28.979530 fix 1 radius 0");
  EXPECT_EQ(run.notes()[2].second, "41.015137,28.979530 fix 0 radius 0");
}

TEST(TrackerRun, TheRadiusAndThePostAtTheirIntervalsAndNeverDuringACall) {
  Bench bench;
  radiusAnswer(bench);
  GpsReceiver gps;
  gps.fixes({kHome});
  gps.attach(bench, seconds(1850));
  // A call answered before the post at 300 s and ended at 400 s.
  bench.uart(kModem).send(seconds(285), "\r\nRING\r\n");
  bench.press(PF4, seconds(290), milliseconds(200));
  bench.uart(kModem).send(seconds(400), "\r\nNO CARRIER\r\n");
  const auto run = bench.run(tracker(), seconds(1850));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto gets = sentTimes(run, "AT+HTTPACTION=0\r\n");
  ASSERT_EQ(gets.size(), 2U);
  EXPECT_LT(gets[0], seconds(20));
  // 30 minutes after the first request ended: it lasts about 4 s here, the
  // network's 2 s for the GET among them.
  EXPECT_NEAR(static_cast<double>(gets[1] - gets[0]), static_cast<double>(seconds(1800 + 4)), 2e12);
  const auto posts = sentTimes(run, "AT+HTTPACTION=1\r\n");
  // Every 5 minutes from the first: 400, 700, 1000, 1300, 1600 s.
  ASSERT_EQ(posts.size(), 5U);
  // The one due at 300 s waited for the hang-up.
  EXPECT_GT(posts[0], seconds(400));
  EXPECT_LT(posts[0], seconds(410));
  for (size_t index = 1; index < posts.size(); ++index) {
    EXPECT_NEAR(static_cast<double>(posts[index] - posts[index - 1]), 300e12, 10e12) << index;
  }
  // Each post carries the position and a two-digit pulse value.
  EXPECT_NE(run.sent(kModem).find("AT+HTTPDATA=24,10000\r41.015137,28.979530,"), std::string::npos);
  // Nothing went to the modem during the answered call but its own lines.
  EXPECT_EQ(run.sentBetween(kModem, seconds(292), seconds(400)).find("AT+"), std::string::npos)
      << run.sentBetween(kModem, seconds(292), seconds(400));
}

TEST(TrackerRun, AnEmergencyPressDuringTheRadiusRequestIsCalledWithinALine) {
  Bench bench;
  radiusAnswer(bench);
  bench.uart(kModem).reply("AT\r\n", "\r\nOK\r\n", milliseconds(20)).reply("AT+COLP=1\r\n", "\r\nOK\r\n", milliseconds(20));
  // While the request waits for the network's answer to its GET.
  bench.press(PF4, seconds(1), milliseconds(200));
  const auto run = bench.run(tracker(), seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  const Time dial = run.sentAt(kModem, kDial);
  ASSERT_NE(dial, kNever);
  // The request stops within a tenth of a second and closes the bearer;
  // then the call: "AT", the modem's OK, the dial.
  EXPECT_LT(run.sentStartAt(kModem, "AT+SAPBR=0,1\r\n") - seconds(1), milliseconds(150));
  EXPECT_GT(dial, run.sentAt(kModem, "AT+SAPBR=0,1\r\n"));
  EXPECT_NE(run.sent(kModem).find("AT+HTTPACTION=0"), std::string::npos);
  EXPECT_EQ(run.sent(kModem).find("AT+HTTPREAD"), std::string::npos);
  // (A handler's trace may land inside the foreground's line.)
  EXPECT_NE(run.sent(kConsole).find("circle request given way"), std::string::npos);
  EXPECT_NE(run.sent(kModem).find("AT+SAPBR=0,1\r\nAT\r\nAT+COLP=1\r\n" + kDial), std::string::npos) << run.sent(kModem);
}

TEST(TrackerRun, RingingThatStopsWithoutItsEndIsForgotten) {
  // Two RINGs and then nothing: the caller's NO CARRIER was lost (or the
  // modem restarted with the call). The report at 40 s still goes out.
  Bench bench;
  radiusAnswer(bench);
  bench.uart(kModem).send(seconds(5), "\r\nRING\r\n").send(seconds(10), "\r\nRING\r\n");
  const auto run = bench.run(tracker(), seconds(45));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::string console = run.sent(kConsole);
  const size_t ended = console.find("ringing ended\n");
  ASSERT_NE(ended, std::string::npos) << console;
  EXPECT_GT(run.sentAt(kConsole, "ringing ended\n"), seconds(30));
  EXPECT_LT(run.sentAt(kConsole, "ringing ended\n"), seconds(33));  // the clock counts whole seconds
  EXPECT_EQ(messages(run).size(), 1U);
}

}  // namespace

