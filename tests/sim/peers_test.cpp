// The bench's GPS receiver and pulse sensor.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>

#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/sim.h"

namespace {

using namespace sim;
using peers::GpsReceiver;
using peers::Position;
using peers::PulseSensor;

const Position kStart{41.015137, 28.979530};

TEST(GpsReceiver, ABurstIsAnRmcAndAGgaSentenceOnceASecond) {
  GpsReceiver gps;
  gps.fixes({kStart});
  const std::string burst = gps.burst(5);
  const std::regex shape(
      "\\$GPRMC,100005\\.00,A,4100\\.90822,N,02858\\.77180,E,0\\.0,0\\.0,081226,,,A\\*[0-9A-F]{2}\r\n"
      "\\$GPGGA,100005\\.00,4100\\.90822,N,02858\\.77180,E,1,08,0\\.9,45\\.0,M,36\\.0,M,,\\*[0-9A-F]{2}\r\n");
  EXPECT_TRUE(std::regex_match(burst, shape)) << burst;
  // At 9600 baud 8N1 on the line, 100 ms past each second.
  Bench bench;
  gps.attach(bench, seconds(3));
  const auto& sends = bench.uart(2).sends;
  ASSERT_EQ(sends.size(), 3U);
  EXPECT_EQ(sends[1].at, seconds(1) + milliseconds(100));
  EXPECT_EQ(bench.uart(2).rate, 9600U);
}

TEST(GpsReceiver, NoFixBeforeTheFirstDuringOutagesAndNothingWhenSilent) {
  GpsReceiver gps;
  gps.fixes({kStart}).firstFixAfter(seconds(30)).withoutFix(seconds(60), seconds(70)).silent(seconds(80),
                                                                                          seconds(90));
  EXPECT_FALSE(gps.fixAt(seconds(29)));
  EXPECT_TRUE(gps.fixAt(seconds(30)));
  EXPECT_FALSE(gps.fixAt(seconds(65)));
  EXPECT_NE(gps.burst(10).find("$GPRMC,100010.00,V,,,,,,,081226,,,N*"), std::string::npos) << gps.burst(10);
  EXPECT_NE(gps.burst(10).find("$GPGGA,100010.00,,,,,0,00,99.99,,,,,,*"), std::string::npos);
  Bench bench;
  gps.attach(bench, seconds(100));
  EXPECT_EQ(bench.uart(2).sends.size(), 90U);
}

TEST(GpsReceiver, AWalkKeepsItsSpeedAndTurnsAtEachWaypoint) {
  const Position east{41.015137, 29.000000};
  GpsReceiver gps;
  gps.walk({kStart, east, kStart}, 2.0);
  const double leg = peers::metresBetween(kStart, east);
  ASSERT_GT(leg, 1500);
  EXPECT_NEAR(peers::metresBetween(kStart, *gps.fixAt(seconds(100))), 200.0, 0.5);
  // Past the turn, on the way back.
  const uint64_t turn = static_cast<uint64_t>(leg / 2.0);
  EXPECT_NEAR(peers::metresBetween(east, *gps.fixAt(seconds(turn + 50))), 100.0, 2.0);
  // At the end it stays.
  EXPECT_NEAR(peers::metresBetween(kStart, *gps.fixAt(seconds(2 * turn + 500))), 0.0, 0.01);
}

TEST(GpsReceiver, NoiseIsBoundedAndTheSameForTheSameSeed) {
  GpsReceiver noisy;
  noisy.fixes({kStart}).noise(5.0, 42);
  GpsReceiver again;
  again.fixes({kStart}).noise(5.0, 42);
  double largest = 0;
  bool moved = false;
  for (uint64_t second = 0; second < 200; ++second) {
    const Position fix = *noisy.fixAt(seconds(second));
    const double off = peers::metresBetween(kStart, fix);
    largest = std::max(largest, off);
    moved = moved || off > 1.0;
    EXPECT_EQ(noisy.burst(second), again.burst(second));
  }
  EXPECT_LE(largest, 5.0 * std::sqrt(2.0) + 0.01);
  EXPECT_TRUE(moved);
}

TEST(PulseSensor, BeatsAtItsRateAboveTheThresholdOncePerBeat) {
  PulseSensor sensor(60);
  sensor.rate(seconds(60), 120);
  EXPECT_NEAR(sensor.beats(seconds(60)), 60.0, 1e-9);
  EXPECT_NEAR(sensor.beats(seconds(90)), 120.0, 1e-9);
  // Rising through 2300 counts marks each beat, sampled every 10 ms.
  auto risings = [&sensor](Time from, Time to) {
    int count = 0;
    bool above = false;
    for (Time time = from; time < to; time += milliseconds(10)) {
      const bool now = sensor(time) > 2300;
      count += now && !above;
      above = now;
    }
    return count;
  };
  EXPECT_EQ(risings(0, seconds(60)), 60);
  EXPECT_EQ(risings(seconds(60), seconds(120)), 120);
  EXPECT_EQ(sensor(seconds(0) + milliseconds(240)), PulseSensor::kPeak);
  EXPECT_EQ(sensor(milliseconds(700)), PulseSensor::kRest);
}

TEST(PulseSensor, NoiseStaysWithinItsCounts) {
  PulseSensor quiet(72);
  PulseSensor noisy(72);
  noisy.noise(50, 3);
  int differing = 0;
  for (Time time = 0; time < seconds(10); time += milliseconds(7)) {
    const int difference = static_cast<int>(noisy(time)) - static_cast<int>(quiet(time));
    EXPECT_LE(std::abs(difference), 50);
    differing += difference != 0;
  }
  EXPECT_GT(differing, 1000);
}

}  // namespace
