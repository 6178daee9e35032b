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
};

void writeWaveform(std::ostream& out, const Outcome& run, const WaveformLines& lines);

}  // namespace sim
