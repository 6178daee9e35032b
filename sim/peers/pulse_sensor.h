// A pulse sensor on an analogue input: a heartbeat waveform at a given rate
// in 12-bit converter counts, with optional noise.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bench.h"

namespace sim::peers {

class PulseSensor {
 public:
  explicit PulseSensor(double beatsPerMinute);
  // From this time on the heart beats at another rate.
  PulseSensor& rate(Time from, double beatsPerMinute);
  // Up to this many counts either way, the same for the same seed.
  PulseSensor& noise(uint16_t counts, uint32_t seed);

  // The converter's reading at a time.
  [[nodiscard]] uint16_t operator()(Time time) const;
  // Beats from the start of the run up to a time.
  [[nodiscard]] double beats(Time time) const;
  // Feeds the bench's analogue channel (AIN0 by default).
  void attach(Bench& bench, unsigned channel = 0) const;

  // The waveform, in counts: rest, and at the start of each beat a
  // raised-cosine systolic peak of this height and length (it stands above
  // the tracker's threshold of 2300 for about 260 ms).
  static constexpr uint16_t kRest = 1700;
  static constexpr uint16_t kPeak = 3100;
  static constexpr Time kPeakLength = milliseconds(480);

 private:
  struct Change {
    Time from;
    double beatsPerMinute;
  };
  std::vector<Change> rates_;
  uint16_t noise_ = 0;
  uint32_t seed_ = 0;
};

}  // namespace sim::peers
