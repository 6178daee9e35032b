// A run as a waveform: the LEDs, the button, and every active UART line at
// bit level (start, data and stop bits at the line's rate), in the Value
// Change Dump format that PulseView and GTKWave open and decode.
#pragma once

#include <map>
#include <ostream>
#include <vector>

#include "sim/bench.h"

namespace sim {

struct WaveformLines {
  // The rate of each UART line shown, by its number: both directions of it.
  std::map<unsigned, uint32_t> uartRates;
  // Input pins the bench drives (the button), shown with the outputs.
  std::vector<PinChange> drivenPins;
  // The header's comment: what ran.
  std::string comment = "tracker run on the simulated board";
  // The time step in nanoseconds, one of kWaveformSteps: coarser steps make
  // a long run's dump quicker to read; 1000 (1 us) still resolves a bit at
  // 115 200 baud, 10000 only the 9600-baud lines and the pins.
  uint32_t stepNanoseconds = 1;
};

inline constexpr uint32_t kWaveformSteps[] = {1, 10, 100, 1000, 10000};

void writeWaveform(std::ostream& out, const Outcome& run, const WaveformLines& lines);

}  // namespace sim
