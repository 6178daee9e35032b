// Pulse sampling and the geofence.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "tests/tracker/tracker_bench.h"

namespace {

using namespace tracker_test;

void samplingOnly() {
  setPins();
  entry::setUpPositionLink();
  pulseSensorConfig();
  pulseSensorTimerConfig();
}

TEST(Pulse, SamplesAboveTwentyThreeHundredCountAndEachIsPrinted) {
  Bench bench;
  // 100 ms apart: 2300, 2301, 0, 4095, ...
  bench.analogue(0, [](Time t) {
    const uint16_t values[] = {2300, 2301, 0, 4095};
    return values[(t / milliseconds(100) - 1) % 4];
  });
  const auto run = bench.run(
      [] {
        samplingOnly();
        runUntil(milliseconds(450));
        note(std::to_string(tracker::pulse));
      },
      milliseconds(450));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole), "UART Setup Completed\n2300\n\n2301\n\n0\n\n4095\n\n");
  EXPECT_EQ(noteText(run, 0), "22");
  const auto ticks = run.interrupts(INT_TIMER0A);
  ASSERT_EQ(ticks.size(), 4U);
  EXPECT_EQ(ticks[1] - ticks[0], milliseconds(100));
}

TEST(Pulse, TheCountHoldsAt255) {
  Bench bench;
  bench.analogue(0, [](Time) { return uint16_t{3000}; });
  const auto run = bench.run(
      [] {
        samplingOnly();
        tracker::pulse = 253;
        runUntil(milliseconds(550));
        note(std::to_string(tracker::pulse));
      },
      milliseconds(550));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteText(run, 0), "255");
}

TEST(Pulse, NoSampleWhileThePulseTimerIsStopped) {
  Bench bench;
  bench.analogue(0, [](Time) { return uint16_t{3000}; });
  const auto run = bench.run(
      [] {
        samplingOnly();
        runUntil(milliseconds(250));
        TimerDisable(TIMER0_BASE, TIMER_A);
        runUntil(milliseconds(2250));
        note(std::to_string(tracker::pulse));
        TimerEnable(TIMER0_BASE, TIMER_A);
      },
      milliseconds(2400));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteText(run, 0), "22");
  const auto ticks = run.interrupts(INT_TIMER0A);
  ASSERT_EQ(ticks.size(), 3U);
  // Resumed from the held count: 50 ms were left of the period.
  EXPECT_NEAR(static_cast<double>(ticks[2]), static_cast<double>(milliseconds(2300)), 1e9);
}

TEST(Distance, OneDegreeOfLatitudeInEachUnit) {
  EXPECT_NEAR(distance(10.0, 20.0, 11.0, 20.0, 'M'), 69.09, 1e-9);
  EXPECT_NEAR(distance(10.0, 20.0, 11.0, 20.0, 'K'), 111.18957696, 1e-8);
  EXPECT_NEAR(distance(10.0, 20.0, 11.0, 20.0, 'N'), 59.997756, 1e-8);
  // Lower case and other letters give statute miles.
  EXPECT_EQ(distance(10.0, 20.0, 11.0, 20.0, 'k'), distance(10.0, 20.0, 11.0, 20.0, 'M'));
  EXPECT_EQ(distance(10.0, 20.0, 11.0, 20.0, 'x'), distance(10.0, 20.0, 11.0, 20.0, 'M'));
  EXPECT_EQ(distance(41.0, 29.0, 41.0, 29.0, 'K'), 0.0);
  EXPECT_DOUBLE_EQ(deg2rad(180.0), 3.141592653589793);
  EXPECT_DOUBLE_EQ(rad2deg(3.141592653589793 / 2), 90.0);
}

TEST(Distance, ClosePositionsKeepTheirSmallTrueDistance) {
  // The cosine sum of these rounds to just above 1.
  const double lat = 40.0032;
  const double kilometres = distance(lat, 29.0, lat, 29.0000001, 'K');
  ASSERT_FALSE(std::isnan(kilometres));
  const double expected = 1e-7 * std::cos(lat * 3.141592653589793 / 180) * 111.18957696;
  EXPECT_NEAR(kilometres, expected, expected * 1e-6);
}

TEST(Distance, AntipodalPositionsAreHalfTheEarthAway) {
  // Half the circumference of the formula's sphere: pi x 3958.7 miles
  // (60 x 1.1515 x 180 / pi) in kilometres.
  const double halfRound = 180 * 60 * 1.1515 * 1.609344;
  for (const auto& [lat1, lon1, lat2, lon2] :
       std::vector<std::array<double, 4>>{{-12, -180, 12, 0}, {45, 10, -45, -170}, {0, 0, 0, 180}}) {
    const double kilometres = distance(lat1, lon1, lat2, lon2, 'K');
    ASSERT_FALSE(std::isnan(kilometres)) << lat1 << "," << lon1;
    EXPECT_NEAR(kilometres, halfRound, 1e-3) << lat1 << "," << lon1;
  }
  // Every whole-degree antipodal pair: none falls out of acos's domain.
  for (int lat = -90; lat <= 90; ++lat) {
    for (int lon = -180; lon < 0; ++lon) {
      const double kilometres = distance(lat, lon, -lat, lon + 180, 'K');
      ASSERT_NEAR(kilometres, halfRound, 1e-3) << lat << "," << lon;
    }
  }
}

TEST(Geofence, AFixAtTheFarSideOfTheEarthIsOutside) {
  Bench bench;
  const auto run = bench.run(
      [] {
        setPins();
        tracker::circleSize = 9999;
        setReferencePosition(-12.0, -180.0);
        setCurrentPosition(12.0, 0.0);
        note(std::to_string(controlDistanceRange()));
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteText(run, 0), "1");
}

TEST(Geofence, InsideOutsideAndTheRadius) {
  Bench bench;
  bench.uart(kModem).send(milliseconds(100), "xxx@111$");
  const auto run = bench.run(
      [] {
        bringUp();
        // Nothing set: both positions at 0, distance 0, radius 0: inside.
        note(std::to_string(controlDistanceRange()));
        setReferencePosition(10.0, 20.0);
        setCurrentPosition(10.001, 20.0);  // 111.19 m north
        note(std::to_string(controlDistanceRange()));
        runUntil(milliseconds(200));  // radius 111 arrives
        note(std::to_string(controlDistanceRange()));
        setCurrentPosition(10.0009, 20.0);  // 100.07 m
        note(std::to_string(controlDistanceRange()));
        setCurrentPosition(10.0, 20.0);
        note(std::to_string(controlDistanceRange()));
        tracker::circleSize = -1;
        note(std::to_string(controlDistanceRange()));
      },
      milliseconds(300));
  ASSERT_TRUE(run.ok()) << run.failure();
  std::string answers;
  for (const auto& [time, text] : run.notes()) {
    answers += text;
  }
  EXPECT_EQ(answers, "011001");
}

}  // namespace
