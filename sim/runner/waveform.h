// A run as a waveform: the LEDs, the button, and every active UART line at
// bit level (start, data and stop bits at the line's rate), in the Value
// Change Dump format that PulseView and GTKWave open and decode.
#pragma once

#include <cstdio>
#include <map>
#include <ostream>
#include <queue>
#include <string>
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

// Written as the run goes: the changes go to a file of their own, with
// identifiers given as signals appear, and the header, which must name every
// pin the run drove, goes in front of them at the end. Records must come in
// the order of their times.
class WaveformWriter {
 public:
  WaveformWriter(std::ostream& out, WaveformLines lines);
  ~WaveformWriter();
  WaveformWriter(const WaveformWriter&) = delete;
  WaveformWriter& operator=(const WaveformWriter&) = delete;
  void add(const Record& record);
  // The header, then the changes, to the run's end.
  void finish(Time end);

 private:
  struct Change {
    Time at;
    uint64_t order;  // at equal times, as they were added
    unsigned signal;
    int value;
    bool operator>(const Change& other) const { return at != other.at ? at > other.at : order > other.order; }
  };
  unsigned addSignal(std::string name, int initial);
  unsigned pinSignal(uint8_t unit, int initial);
  void push(Time at, unsigned signal, int value);
  void emitBefore(Time time);
  void timestamp(Time steps);
  void spill();

  std::ostream& out_;
  WaveformLines lines_;
  size_t scale_;
  Time perStep_;
  Time window_ = 0;  // how far before its record a frame starts, at the slowest line
  std::vector<std::string> names_;
  std::vector<int> initial_;
  std::vector<int> level_;
  std::map<uint8_t, unsigned> pins_;
  std::map<std::pair<unsigned, bool>, unsigned> uarts_;  // (uart, transmit)
  std::priority_queue<Change, std::vector<Change>, std::greater<Change>> pending_;
  uint64_t order_ = 0;
  Time lastStep_ = 0;
  std::string text_;
  std::FILE* body_;
};

// A whole run's waveform at once.
void writeWaveform(std::ostream& out, const Outcome& run, const WaveformLines& lines);

}  // namespace sim
