#include "sim/peers/pulse_sensor.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace sim::peers {

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

PulseSensor::PulseSensor(double beatsPerMinute) { rates_.push_back({0, beatsPerMinute}); }

PulseSensor& PulseSensor::rate(Time from, double beatsPerMinute) {
  rates_.push_back({from, beatsPerMinute});
  return *this;
}

PulseSensor& PulseSensor::noise(uint16_t counts, uint32_t seed) {
  noise_ = counts;
  seed_ = seed;
  return *this;
}

double PulseSensor::beats(Time time) const {
  double total = 0;
  for (size_t index = 0; index < rates_.size(); ++index) {
    const Time from = rates_[index].from;
    if (from >= time) {
      break;
    }
    const Time to = index + 1 < rates_.size() && rates_[index + 1].from < time ? rates_[index + 1].from : time;
    total += rates_[index].beatsPerMinute * static_cast<double>(to - from) / static_cast<double>(seconds(60));
  }
  return total;
}

uint16_t PulseSensor::operator()(Time time) const {
  // Each beat: the systolic peak at its start, then rest.
  const double beatsSoFar = beats(time);
  const double phase = beatsSoFar - std::floor(beatsSoFar);
  double rate = rates_.front().beatsPerMinute;
  for (const Change& change : rates_) {
    if (change.from <= time) {
      rate = change.beatsPerMinute;
    }
  }
  const double intoBeat = rate > 0 ? phase * 60.0 / rate : 1e9;  // seconds
  const double width = static_cast<double>(kPeakLength) / static_cast<double>(seconds(1));
  double level = kRest;
  if (intoBeat < width) {
    level += (kPeak - kRest) * 0.5 * (1 - std::cos(2 * kPi * intoBeat / width));
  }
  if (noise_ > 0) {
    std::mt19937 random(seed_ ^ static_cast<uint32_t>(time / microseconds(100)));
    level += std::uniform_int_distribution<int>(-noise_, noise_)(random);
  }
  return static_cast<uint16_t>(std::clamp(level, 0.0, 4095.0));
}

void PulseSensor::attach(Bench& bench, unsigned channel) const {
  const PulseSensor sensor = *this;
  bench.analogue(channel, [sensor](Time time) { return sensor(time); });
}

}  // namespace sim::peers
