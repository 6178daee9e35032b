#include "sim/runner/waveform.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <string>

namespace sim {

namespace {

struct Change {
  Time at;
  unsigned signal;
  int value;
};

// One short VCD identifier per signal.
char identifier(unsigned signal) { return static_cast<char>('!' + signal); }

// A frame of 8N1 ending at end: the start bit, the data bits from the
// lowest, the stop bit; the line idles high.
void frame(std::vector<Change>& changes, unsigned signal, Time end, Time bit, uint8_t byte) {
  const Time start = end - 10 * bit;
  changes.push_back({start, signal, 0});
  for (unsigned index = 0; index < 8; ++index) {
    changes.push_back({start + (index + 1) * bit, signal, (byte >> index) & 1});
  }
  changes.push_back({start + 9 * bit, signal, 1});
}

}  // namespace

void writeWaveform(std::ostream& out, const Outcome& run, const WaveformLines& lines) {
  std::vector<std::string> names;
  std::map<uint8_t, unsigned> pinSignal;
  std::map<std::pair<unsigned, bool>, unsigned> uartSignal;  // (uart, transmit)
  std::vector<Change> changes;

  auto pinName = [](uint8_t unit) { return std::string(1, static_cast<char>('A' + unit / 8)) + std::to_string(unit % 8); };
  std::set<uint8_t> pins;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::Pin) {
      pins.insert(record.unit);
    }
  }
  for (const PinChange& change : lines.drivenPins) {
    pins.insert(change.pin.unit());
  }
  for (uint8_t unit : pins) {
    pinSignal[unit] = static_cast<unsigned>(names.size());
    names.push_back("P" + pinName(unit));
  }
  for (const auto& [uart, rate] : lines.uartRates) {
    uartSignal[{uart, true}] = static_cast<unsigned>(names.size());
    names.push_back("UART" + std::to_string(uart) + "_TX");
    uartSignal[{uart, false}] = static_cast<unsigned>(names.size());
    names.push_back("UART" + std::to_string(uart) + "_RX");
  }

  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::Pin) {
      changes.push_back({record.time, pinSignal[record.unit], record.value});
      continue;
    }
    const bool sent = record.kind == RecordKind::UartSent;
    const bool arrived = record.kind == RecordKind::UartReceived || record.kind == RecordKind::UartLost;
    const auto rate = lines.uartRates.find(record.unit);
    if ((sent || arrived) && rate != lines.uartRates.end() && rate->second != 0) {
      frame(changes, uartSignal[{record.unit, sent}], record.time, bitTime(rate->second),
            static_cast<uint8_t>(record.value));
    }
  }
  for (const PinChange& change : lines.drivenPins) {
    // A pulled-up input reads high when nothing drives it.
    changes.push_back({change.at, pinSignal[change.pin.unit()], change.state == PinState::Low ? 0 : 1});
  }
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.at < b.at; });

  // VCD's timescales are 1, 10 or 100 of a unit; another step is taken as 1 ns.
  const char* const timescales[] = {"1ns", "10ns", "100ns", "1us", "10us"};
  static_assert(std::size(timescales) == std::size(kWaveformSteps));
  const size_t scale = static_cast<size_t>(
      std::find(std::begin(kWaveformSteps), std::end(kWaveformSteps), lines.stepNanoseconds) - std::begin(kWaveformSteps));
  const size_t chosen = scale < std::size(kWaveformSteps) ? scale : 0;
  const Time perStep = static_cast<Time>(kWaveformSteps[chosen]) * 1000;  // picoseconds
  out << "$comment " << lines.comment << " $end\n$timescale " << timescales[chosen] << " $end\n$scope module board $end\n";
  for (size_t signal = 0; signal < names.size(); ++signal) {
    out << "$var wire 1 " << identifier(static_cast<unsigned>(signal)) << " " << names[signal] << " $end\n";
  }
  out << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
  std::vector<int> level(names.size(), 1);
  for (const auto& [unit, signal] : pinSignal) {
    // Outputs start low until driven; the button's pin idles high.
    const bool driven = std::any_of(lines.drivenPins.begin(), lines.drivenPins.end(),
                                    [unit = unit](const PinChange& change) { return change.pin.unit() == unit; });
    level[signal] = driven ? 1 : 0;
  }
  for (size_t signal = 0; signal < names.size(); ++signal) {
    out << level[signal] << identifier(static_cast<unsigned>(signal)) << "\n";
  }
  out << "$end\n";
  // Built in a buffer written a megabyte at a time: a long run has millions
  // of changes, and a stream insertion each costs more than the rest.
  std::string text;
  text.reserve((1U << 20) + 64);
  const auto timestamp = [&text](Time steps) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, steps);
    text += '#';
    text.append(digits, end);
    text += '\n';
  };
  Time last = 0;
  for (const Change& change : changes) {
    if (level[change.signal] == change.value) {
      continue;
    }
    level[change.signal] = change.value;
    const Time steps = change.at / perStep;
    if (steps != last) {
      timestamp(steps);
      last = steps;
    }
    text += static_cast<char>('0' + change.value);
    text += identifier(change.signal);
    text += '\n';
    if (text.size() >= (1U << 20)) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  }
  timestamp(run.end() / perStep);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace sim
