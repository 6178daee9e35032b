#include "sim/runner/waveform.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace sim {

namespace {

// One short VCD identifier per signal.
char identifier(unsigned signal) { return static_cast<char>('!' + signal); }

// VCD's timescales are 1, 10 or 100 of a unit; another step is taken as 1 ns.
const char* const kTimescales[] = {"1ns", "10ns", "100ns", "1us", "10us"};
static_assert(std::size(kTimescales) == std::size(kWaveformSteps));

size_t scaleOf(uint32_t stepNanoseconds) {
  const size_t scale = static_cast<size_t>(
      std::find(std::begin(kWaveformSteps), std::end(kWaveformSteps), stepNanoseconds) - std::begin(kWaveformSteps));
  return scale < std::size(kWaveformSteps) ? scale : 0;
}

// Changes are spilled a megabyte at a time: a long run has millions of
// them, and a stream insertion each costs more than the rest.
constexpr size_t kSpill = size_t{1} << 20;

}  // namespace

WaveformWriter::WaveformWriter(std::ostream& out, WaveformLines lines)
    : out_(out),
      lines_(std::move(lines)),
      scale_(scaleOf(lines_.stepNanoseconds)),
      perStep_(static_cast<Time>(kWaveformSteps[scale_]) * 1000),
      body_(std::tmpfile()) {
  if (body_ == nullptr) {
    throw std::runtime_error("no temporary file for the waveform");
  }
  text_.reserve(kSpill + 64);
  for (const auto& [uart, rate] : lines_.uartRates) {
    for (const bool transmit : {true, false}) {
      uarts_[{uart, transmit}] = addSignal("UART" + std::to_string(uart) + (transmit ? "_TX" : "_RX"), 1);
    }
    if (rate != 0) {
      window_ = std::max(window_, 10 * bitTime(rate));
    }
  }
  // A pulled-up input the bench drives idles high; at equal times its
  // changes come after the run's own.
  for (const PinChange& change : lines_.drivenPins) {
    pinSignal(change.pin.unit(), 1);
  }
  uint64_t after = uint64_t{1} << 62;
  for (const PinChange& change : lines_.drivenPins) {
    pending_.push({change.at, after++, pins_[change.pin.unit()], change.state == PinState::Low ? 0 : 1});
  }
}

WaveformWriter::~WaveformWriter() { std::fclose(body_); }

unsigned WaveformWriter::addSignal(std::string name, int initial) {
  names_.push_back(std::move(name));
  initial_.push_back(initial);
  level_.push_back(initial);
  return static_cast<unsigned>(names_.size() - 1);
}

unsigned WaveformWriter::pinSignal(uint8_t unit, int initial) {
  const auto found = pins_.find(unit);
  return found != pins_.end() ? found->second : pins_[unit] = addSignal(pinName(unit), initial);
}

void WaveformWriter::push(Time at, unsigned signal, int value) { pending_.push({at, order_++, signal, value}); }

void WaveformWriter::add(const Record& record) {
  if (record.kind == RecordKind::Pin) {
    // Outputs start low until driven.
    push(record.time, pinSignal(record.unit, 0), record.value);
  } else {
    const bool sent = record.kind == RecordKind::UartSent;
    const bool arrived = record.kind == RecordKind::UartReceived || record.kind == RecordKind::UartLost;
    const auto rate = lines_.uartRates.find(record.unit);
    if ((sent || arrived) && rate != lines_.uartRates.end() && rate->second != 0) {
      // A frame of 8N1 ending at the record: the start bit, the data bits
      // from the lowest, the stop bit; the line idles high.
      const unsigned signal = uarts_[{record.unit, sent}];
      const Time bit = bitTime(rate->second);
      const Time start = record.time - 10 * bit;
      push(start, signal, 0);
      for (unsigned index = 0; index < 8; ++index) {
        push(start + (index + 1) * bit, signal, (record.value >> index) & 1);
      }
      push(start + 9 * bit, signal, 1);
    }
  }
  // No later record's frame starts before this one's time less a frame.
  if (record.time > window_) {
    emitBefore(record.time - window_);
  }
}

void WaveformWriter::emitBefore(Time time) {
  while (!pending_.empty() && pending_.top().at < time) {
    const Change change = pending_.top();
    pending_.pop();
    if (level_[change.signal] == change.value) {
      continue;
    }
    level_[change.signal] = change.value;
    const Time steps = change.at / perStep_;
    if (steps != lastStep_) {
      timestamp(steps);
    }
    text_ += static_cast<char>('0' + change.value);
    text_ += identifier(change.signal);
    text_ += '\n';
    if (text_.size() >= kSpill) {
      spill();
    }
  }
}

void WaveformWriter::timestamp(Time steps) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, steps);
  text_ += '#';
  text_.append(digits, end);
  text_ += '\n';
  lastStep_ = steps;
}

void WaveformWriter::spill() {
  if (std::fwrite(text_.data(), 1, text_.size(), body_) != text_.size()) {
    throw std::runtime_error("the waveform's changes could not be written");
  }
  text_.clear();
}

void WaveformWriter::finish(Time end) {
  emitBefore(kNever);
  timestamp(end / perStep_);
  spill();

  out_ << "$comment " << lines_.comment << " $end\n$timescale " << kTimescales[scale_]
       << " $end\n$scope module board $end\n";
  // The pins by port and number, then the lines, whatever order they came in.
  std::vector<unsigned> shown;
  for (const auto& [unit, signal] : pins_) {
    shown.push_back(signal);
  }
  for (const auto& [uart, rate] : lines_.uartRates) {
    shown.push_back(uarts_[{uart, true}]);
    shown.push_back(uarts_[{uart, false}]);
  }
  for (const unsigned signal : shown) {
    out_ << "$var wire 1 " << identifier(signal) << " " << names_[signal] << " $end\n";
  }
  out_ << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
  for (const unsigned signal : shown) {
    out_ << initial_[signal] << identifier(signal) << "\n";
  }
  out_ << "$end\n";
  std::rewind(body_);
  std::vector<char> chunk(kSpill);
  for (size_t count; (count = std::fread(chunk.data(), 1, chunk.size(), body_)) > 0;) {
    out_.write(chunk.data(), static_cast<std::streamsize>(count));
  }
}

void writeWaveform(std::ostream& out, const Outcome& run, const WaveformLines& lines) {
  WaveformWriter writer(out, lines);
  for (const Record& record : run.timeline().records) {
    writer.add(record);
  }
  writer.finish(run.end());
}

}  // namespace sim
