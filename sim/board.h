// The microcontroller model behind the seam: bus, virtual time, events, and
// the chip's blocks. One board exists per run, in the run's own process.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "platform/hw.h"
#include "sim/bench.h"
#include "sim/device.h"
#include "sim/interrupt_controller.h"
#include "sim/pacer.h"
#include "sim/peer_lines.h"
#include "sim/peripherals.h"
#include "sim/system_control_space.h"
#include "sim/time.h"
#include "sim/timeline.h"

namespace sim {

class Board {
 public:
  explicit Board(const Bench& bench);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Runs the entry program until the end time; never returns.
  [[noreturn]] void run(const std::function<void()>& entry, Time end);

  // The processor side of the seam.
  // A read with the processor's state as a loop sees it (its registers, on
  // the emulated board): a loop whose state changes between equal reads
  // counts, and is not waiting.
  uint32_t read(uint32_t address, unsigned size, uint64_t loopState = 0);
  // Whether a read now would continue a run of reads with nothing between:
  // only then does its loop state matter (0 stands for not known).
  [[nodiscard]] bool watchingLoop() const { return !activity_ && pollDistinct_ > 0; }
  void write(uint32_t address, uint32_t value, unsigned size);
  void delayLoop(uint32_t passes);
  void waitForInterrupt();
  // An endless loop: handlers still run, the caller never goes on.
  [[noreturn]] void idleForever();
  // The C run-time's initialisation of an image: the host process has its
  // data in place already, but on the chip static constructors compiled for
  // hard float may use the FPU, so it must be enabled by then.
  void initialiseData();
  bool setInterruptsDisabled(bool disabled);
  const hw::Handler* vectorTable() const { return vectors_; }
  void setVectorTable(const hw::Handler* table);
  uint32_t vectorTableRegister() const;
  // Foreground work, excluding any handler that interrupts it.
  void advanceCycles(uint64_t cycles);
  void advance(Time duration);
  // Events up to a time; foreground time excludes the handlers that run.
  void advanceUntil(Time until, bool foreground);
  // Busy until the given time, as an entry program's wait.
  void runUntil(Time time);

  Time now() const { return now_; }
  uint32_t clockHz() const { return clockHz_; }
  Time cycleTime() const { return cycle_; }
  void clockChanged(uint32_t hz);
  void schedule(Time when, EventTarget* target, uint32_t kind, uint64_t argument = 0);
  // A run of events known from the start but scheduled one at a time: their
  // places among same-time events are taken now, as if all were scheduled.
  uint64_t reserveOrder(uint64_t count) {
    const uint64_t first = order_;
    order_ += count;
    return first;
  }
  void scheduleReserved(Time when, uint64_t order, EventTarget* target, uint32_t kind, uint64_t argument = 0) {
    events_.push(Event{when < now_ ? now_ : when, order, resets_, target, kind, argument});
  }
  // Something changed that a polling loop may be waiting for.
  void markActivity() { activity_ = true; }

  // For a processor that takes its exceptions itself (the emulated board):
  // interrupts are not entered from inside register accesses, and the
  // vector table offset is a plain register.
  void emulate() { emulated_ = true; }
  bool emulated() const { return emulated_; }
  uint32_t vtor() const { return vtor_; }
  void setVtor(uint32_t value);
  SystemControlSpace& systemControlSpace() { return scs_; }
  [[nodiscard]] bool runsFaultHandlers() const { return bench_.faultHandlers(); }
  InterruptController& interrupts() { return nvic_; }
  const InterruptController& interrupts() const { return nvic_; }
  // The exception the processor would take now under its masks, or -1.
  int preempting(Masks masks) const { return nvic_.preempting(masks); }
  // The bookkeeping of an exception's entry and return, with their cycles.
  void exceptionEntered(unsigned vector);
  void exceptionReturned(unsigned vector);
  // Foreground cycles, stopping early at the first event that makes an
  // exception takeable; the cycles spent.
  uint64_t advanceUnlessInterrupted(uint64_t cycles, Masks masks);
  // AIRCR's SYSRESETREQ: the processor that can restart its image resets
  // the chip at its next instruction; the simulated board cannot.
  void requestSystemReset();
  void onSystemReset(std::function<void()> reset) { systemReset_ = std::move(reset); }
  // A processor that takes bus faults itself: a bus error calls this, the
  // read gives 0 and the write is dropped, instead of ending the run.
  void onBusError(std::function<void(const std::string&)> error) { busError_ = std::move(error); }
  // The chip's devices and the processor's registers back to their reset
  // values; the RAM and the world outside keep theirs.
  void resetChip();
  // Whole cycles until the next event or the run's end.
  uint64_t cyclesToNextEvent() const {
    const Time next = events_.empty() || events_.top().when > end_ ? end_ : events_.top().when;
    return cycle_ == 0 || next <= now_ ? 0 : (next - now_ + cycle_ - 1) / cycle_;
  }
  // WFI: until an exception could preempt were PRIMASK clear.
  void sleepUntilInterrupt(Masks masks);
  // A loop that only an interrupt can leave, with none takeable: on to the
  // next event.
  void idleToNextEvent() { skipToNextEvent(); }
  // Where the processor stood, added to every fault's report.
  void faultContext(std::function<std::string()> where) { faultContext_ = std::move(where); }
  // Called once as the run ends, before its timeline is handed over.
  void beforeFinish(std::function<void()> last) { beforeFinish_ = std::move(last); }
  // Called with a fault's report once it is in the timeline, before the
  // run ends.
  void onFault(std::function<void(const std::string&)> faulted) { onFault_ = std::move(faulted); }
  // The run ends now, as at its end time.
  [[noreturn]] void endNow() { finish(); }
  [[nodiscard]] const std::optional<DebugServer>& debugServer() const { return bench_.debugServer(); }
  // Pin changes from now on, beside the bench's (times from the run's start).
  void drive(std::vector<PinChange> changes);
  // A debugger's read of a register: its value as the processor would read
  // it now, with no time passing. Meant for a copy of the board made to be
  // thrown away: a read may pop a FIFO, and an error ends the run.
  uint32_t debugRead(uint32_t address);

  // A device's interrupt request line.
  void setLine(unsigned deviceInterrupt, bool level) { nvic_.setLine(deviceInterrupt, level); }
  // A priority byte written, as the timeline shows it.
  void setPriority(unsigned vector, uint8_t value);

  // The timeline.
  void record(RecordKind kind, uint8_t unit, uint16_t value, uint32_t detail = 0);
  void note(std::string text);
  void peerRecord(unsigned uart, std::string text);
  void inputRecord(std::string text);
  // A pin's level as the devices wired to it see it changed.
  void outputSeen(Pin pin, bool high);
  void executedRecord(uint64_t halfwords);
  [[nodiscard]] const Timeline& timeline() const { return timeline_; }
  [[noreturn]] void fault(const std::string& what);

  Gpio& gpio(unsigned port) { return *gpio_[port]; }
  // A pin's routing, as a peripheral sees it: a port whose clock is off
  // routes nothing.
  bool gpioRouted(unsigned port, unsigned pin, unsigned function) const;
  uint16_t analogue(unsigned channel, Time at) const;

 private:
  static const hw::Handler* emptyVectors();
  Device* device(uint32_t address, unsigned size, bool writing);
  void watchPolling(uint32_t address, uint32_t value, uint64_t loopState);
  void skipToNextEvent();
  void takeInterrupts();
  void enter(unsigned vector);
  [[noreturn]] void finish();
  // Hands the records and texts not yet handed over to the test's process:
  // a long run's timeline is not held here as it goes.
  void ship(bool last);

  struct Event {
    Time when;
    uint64_t order;
    uint64_t resets;  // the chip's resets before it was scheduled
    EventTarget* target;
    uint32_t kind;
    uint64_t argument;
    bool operator>(const Event& other) const {
      return when != other.when ? when > other.when : order > other.order;
    }
  };

  Time now_ = 0;
  Time end_ = 0;
  uint32_t clockHz_ = 16000000;
  Time cycle_ = 62500;
  uint64_t order_ = 0;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;

  bool primask_ = false;
  bool emulated_ = false;
  std::function<void()> beforeFinish_;
  std::function<std::string()> faultContext_;
  std::function<void(const std::string&)> onFault_;
  uint32_t vtor_ = 0;
  InterruptController nvic_;
  uint64_t interruptEntries_ = 0;
  uint64_t resets_ = 0;
  std::function<void()> systemReset_;
  std::function<void(const std::string&)> busError_;
  const hw::Handler* vectors_;

  // Polling detection: consecutive reads of at most two address/value pairs
  // with nothing happening in between.
  bool activity_ = true;
  unsigned pollReads_ = 0;
  struct PollRead {
    uint32_t address;
    uint32_t value;
    uint64_t loopState;
  };
  std::array<PollRead, 2> pollPairs_{};
  unsigned pollDistinct_ = 0;

  Timeline timeline_;
  size_t unshipped_ = 0;     // the first record not yet handed over
  size_t textsShipped_ = 0;  // the texts handed over (all are kept here)
  const Bench& bench_;

  SystemControl systemControl_;
  SystemControlSpace scs_;
  std::array<std::unique_ptr<Gpio>, 6> gpio_;
  std::array<std::unique_ptr<Uart>, 8> uarts_;
  std::array<std::unique_ptr<Timer>, 6> timers_;
  std::array<std::unique_ptr<Adc>, 2> adcs_;
  std::array<std::unique_ptr<UartLine>, 8> lines_;
  std::vector<std::unique_ptr<PinDriver>> pinDrivers_;
  std::unique_ptr<Pacer> pacer_;
  std::array<Device*, 256> peripherals_{};
};

// The board of the running process; set while a run is under way.
Board& board();

// Cycle costs of the processor model.
inline constexpr uint64_t kAccessCycles = 4;
inline constexpr uint64_t kInterruptEntryCycles = 12;
inline constexpr uint64_t kInterruptExitCycles = 10;
inline constexpr unsigned kPollReadsBeforeSkip = 8;

}  // namespace sim
