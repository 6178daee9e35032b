// The bench a test sets up around the simulated board: peers on the UART
// lines, drivers of input pins, analogue sources. A run executes an entry
// program on a fresh board, in a process of its own, to a given virtual time
// and hands back the timeline.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hw.h"
#include "sim/time.h"
#include "sim/timeline.h"

namespace sim {

enum class PinState : uint8_t { Low, High, Undriven };

struct Pin {
  uint8_t port;  // 0 for port A to 5 for port F
  uint8_t pin;
  constexpr uint8_t unit() const { return static_cast<uint8_t>(port * 8 + pin); }
};

inline constexpr Pin PA0{0, 0}, PA1{0, 1};
inline constexpr Pin PC4{2, 4}, PC5{2, 5}, PC6{2, 6};
inline constexpr Pin PD6{3, 6}, PD7{3, 7};
inline constexpr Pin PE3{4, 3}, PE4{4, 4}, PE5{4, 5};
inline constexpr Pin PF0{5, 0}, PF1{5, 1}, PF2{5, 2}, PF3{5, 3}, PF4{5, 4};

struct PinChange {
  Time at;
  Pin pin;
  PinState state;
};

// What a peer's own code may do while the run goes on.
class PeerLink {
 public:
  virtual ~PeerLink() = default;
  [[nodiscard]] virtual Time now() const = 0;
  // Starts sending after delay, behind anything already queued.
  virtual void send(Time delay, std::string_view bytes) = 0;
  // Bytes sent at another bit rate than the peer's: the chip's receiver
  // hears what its own rate makes of them (garbage, framing errors).
  virtual void sendAtRate(Time delay, std::string_view bytes, uint32_t rate) {
    (void)rate;
    send(delay, bytes);
  }
  // Calls the device's wake with this tag after delay.
  virtual void wakeAfter(Time delay, uint64_t tag) = 0;
  // A line in the run's timeline, for what the device saw and did.
  virtual void record(std::string text) = 0;
  // A line for what the world did to the board, not the line's own device.
  virtual void recordInput(std::string text) { record(std::move(text)); }
  // The bit rate the firmware set on the chip's UART, 0 while none is set.
  [[nodiscard]] virtual uint32_t chipRate() const { return 0; }
  // Ends the run now, as at its end time, with what it has recorded.
  virtual void endRun() {}
  // Pin changes from now on, beside the bench's (times from the run's start).
  virtual void drive(std::vector<PinChange> changes) { (void)changes; }
};

// A behavioural model of a device at the far end of a UART line. Each run
// works on its own copy of the model's state.
class UartDevice {
 public:
  virtual ~UartDevice() = default;
  // At the start of the run.
  virtual void start(PeerLink& link) { (void)link; }
  // Every byte the chip sends, when its stop bit ends.
  virtual void heard(PeerLink& link, uint8_t byte) = 0;
  // A wake-up the device asked for.
  virtual void wake(PeerLink& link, uint64_t tag) {
    (void)link;
    (void)tag;
  }
  // A chip pin the device watches changed level (undriven reads high, as a
  // pull-up on the device's side makes it).
  virtual void pinChanged(PeerLink& link, Pin pin, bool high) {
    (void)link;
    (void)pin;
    (void)high;
  }
};

// The device at the far end of a UART line.
class UartPeer {
 public:
  // The peer's own bit rate; 0 (the default) follows the chip's setting.
  UartPeer& baud(uint32_t rate);
  // Bytes that start at the given time, back to back at line rate.
  UartPeer& send(Time at, std::string bytes);
  // Each time what the chip sent ends with trigger, answer after delay.
  UartPeer& reply(std::string trigger, std::string response, Time delay = 0);
  // The same, for the first match only.
  UartPeer& replyOnce(std::string trigger, std::string response, Time delay = 0);
  // Called with every byte the chip sends.
  UartPeer& onByte(std::function<void(PeerLink&, uint8_t)> handler);
  // A device model on the line.
  UartPeer& device(std::shared_ptr<UartDevice> model);
  // A chip pin the device sees, wired to it beside the line.
  UartPeer& watch(Pin pin);

  struct Send {
    Time at;
    std::string bytes;
  };
  struct Rule {
    std::string trigger;
    std::string response;
    Time delay;
    bool once;
  };
  uint32_t rate = 0;
  std::vector<Send> sends;
  std::vector<Rule> rules;
  std::function<void(PeerLink&, uint8_t)> handler;
  std::shared_ptr<UartDevice> model;
  std::vector<Pin> watched;
};

class Outcome;

// Sees each record as the run's process hands it over, while the run goes
// on, with the texts so far; the outcome keeps the records it returns true
// for (a fault is reported whether kept or not).
using RecordSink = std::function<bool(const Record& record, const Timeline& sofar)>;

// The pin changes of a push-button to ground on a pin with its pull-up: low
// from at for hold; bounces extra open-close pairs, gap apart, after the
// first contact and after the release.
std::vector<PinChange> pressChanges(Pin pin, Time at, Time hold, unsigned bounces = 0, Time gap = microseconds(200));

// A GDB remote server on the emulated board.
struct DebugServer {
  std::string host = "127.0.0.1";
  uint16_t port = 3333;  // 0: one the system picks
  // Halted before the first instruction until a debugger connects; else
  // the run goes on and a debugger may connect at any time.
  bool wait = true;
  // What "monitor press" does, its times from the command's.
  std::vector<PinChange> press;
};

class Bench {
 public:
  Bench();
  UartPeer& uart(unsigned index);
  const UartPeer& uart(unsigned index) const { return uarts_.at(index); }
  Bench& drive(Pin pin, Time at, PinState state);
  // A push-button press, as pressChanges gives it.
  Bench& press(Pin pin, Time at, Time hold, unsigned bounces = 0, Time gap = microseconds(200));
  // AIN channel's 12-bit conversion result as a function of time.
  Bench& analogue(unsigned channel, std::function<uint16_t(Time)> source);
  // The image's flash vector table; without one every entry is empty.
  Bench& vectorTable(const hw::Handler* table);
  // On the emulated board a fault ends the run where it happened, with its
  // cause; with this the processor takes it as the chip does: the image's
  // handler runs (escalated to HardFault as the architecture says), and the
  // timeline notes each fault taken.
  Bench& runFaultHandlers(bool run = true) {
    faultHandlers_ = run;
    return *this;
  }
  [[nodiscard]] bool faultHandlers() const { return faultHandlers_; }
  // Virtual time kept to the wall clock, factor times as fast (0: as fast
  // as the host runs it, the default).
  Bench& realtime(double factor) {
    realtime_ = factor;
    return *this;
  }
  [[nodiscard]] double realtime() const { return realtime_; }
  // The emulated board halts for a debugger; its port is printed on the
  // standard error as it listens.
  Bench& debugServer(DebugServer server) {
    debugServer_ = std::move(server);
    return *this;
  }
  [[nodiscard]] const std::optional<DebugServer>& debugServer() const { return debugServer_; }
  // Records handed to sink as the run goes, kept only where it says.
  Bench& stream(RecordSink sink) {
    sink_ = std::move(sink);
    return *this;
  }

  // Runs entry on a fresh board from reset to end. When entry returns, the
  // processor idles in wait-for-interrupt and handlers go on running.
  [[nodiscard]] Outcome run(const std::function<void()>& entry, Time end) const;
  // Runs the target build's ARM image (its ELF file) on the emulated board,
  // from reset to end, with the same peers and stimuli.
  [[nodiscard]] Outcome runImage(const std::string& elfPath, Time end) const;

  const std::vector<PinChange>& pinChanges() const { return pinChanges_; }
  const std::function<uint16_t(Time)>& analogue(unsigned channel) const { return analogue_.at(channel); }
  const hw::Handler* flashVectors() const { return vectors_; }

 private:
  std::vector<UartPeer> uarts_;
  std::vector<PinChange> pinChanges_;
  std::vector<std::function<uint16_t(Time)>> analogue_;
  const hw::Handler* vectors_ = nullptr;
  bool faultHandlers_ = false;
  double realtime_ = 0;
  std::optional<DebugServer> debugServer_;
  RecordSink sink_;
};

struct TimedByte {
  Time time;
  uint8_t byte;
};

// A line's bytes in one direction, with the time each finished: lighter
// than TimedBytes over a long run.
struct LineBytes {
  std::string bytes;
  std::vector<Time> times;
};

class Outcome {
 public:
  Outcome(Timeline timeline, std::string failure) : timeline_(std::move(timeline)), failure_(std::move(failure)) {}

  // True when the run reached its end with no fault and no crash.
  [[nodiscard]] bool ok() const { return failure_.empty(); }
  // The fault report or how the run's process ended; empty when ok.
  [[nodiscard]] const std::string& failure() const { return failure_; }
  [[nodiscard]] const Timeline& timeline() const { return timeline_; }
  [[nodiscard]] std::string text() const { return timeline_.text(); }

  // Bytes the chip sent or received on a UART, in order.
  [[nodiscard]] std::string sent(unsigned uart) const;
  [[nodiscard]] std::string received(unsigned uart) const;
  [[nodiscard]] std::vector<TimedByte> sentBytes(unsigned uart) const;
  [[nodiscard]] LineBytes sentLine(unsigned uart) const;
  [[nodiscard]] LineBytes receivedLine(unsigned uart) const;
  [[nodiscard]] std::vector<TimedByte> lost(unsigned uart) const;
  // Time the last byte of the first occurrence of text at or after byte
  // index from finished on the line; kNever when it was not sent.
  [[nodiscard]] Time sentAt(unsigned uart, std::string_view text, size_t from = 0) const;
  // Time the first byte of that occurrence finished.
  [[nodiscard]] Time sentStartAt(unsigned uart, std::string_view text, size_t from = 0) const;
  // What was sent within [from, to).
  [[nodiscard]] std::string sentBetween(unsigned uart, Time from, Time to) const;

  // Changes an output pin drove, and its level at a time (-1 before any).
  [[nodiscard]] std::vector<Record> pinChanges(Pin pin) const;
  [[nodiscard]] int pinLevel(Pin pin, Time at) const;
  // Entries into the handler of a vector.
  [[nodiscard]] std::vector<Time> interrupts(unsigned vector) const;
  [[nodiscard]] std::vector<std::pair<Time, std::string>> notes() const;
  // What the device on a UART line recorded.
  [[nodiscard]] std::vector<std::pair<Time, std::string>> peerRecords(unsigned uart) const;
  [[nodiscard]] Time end() const;
  // An emulated image's deepest stack and its stack's size, in bytes.
  [[nodiscard]] std::optional<std::pair<uint32_t, uint32_t>> stack() const;
  // An emulated image's halfwords of code executed (0 for a host build).
  [[nodiscard]] uint64_t executedHalfwords() const;

 private:
  Timeline timeline_;
  std::string failure_;
};

// For entry programs of tests: the current virtual time, a busy wait to a
// time (handlers run meanwhile), a note in the timeline.
Time now();
void runUntil(Time time);
void note(std::string text);

}  // namespace sim
