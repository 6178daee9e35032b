// The microcontroller model behind the seam: bus, virtual time, events, the
// processor's interrupt model and the peripherals. One board exists per run,
// in the run's own process.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "platform/hw.h"
#include "sim/bench.h"
#include "sim/time.h"
#include "sim/timeline.h"

namespace sim {

class Board;

class EventTarget {
 public:
  virtual ~EventTarget() = default;
  virtual void onEvent(uint32_t kind, uint64_t argument) = 0;
};

// A register block on the bus.
class Device : public EventTarget {
 public:
  Device(Board& board, std::string name, uint32_t base) : board_(board), name_(std::move(name)), base_(base) {}
  virtual uint32_t read(uint32_t offset) = 0;
  virtual void write(uint32_t offset, uint32_t value) = 0;
  // Byte and halfword accesses; most blocks take words only.
  virtual uint32_t readNarrow(uint32_t offset, unsigned size);
  virtual void writeNarrow(uint32_t offset, uint32_t value, unsigned size);
  void onEvent(uint32_t, uint64_t) override {}

  const std::string& name() const { return name_; }
  uint32_t base() const { return base_; }
  // Run-mode clock gate: class word offset and bit; none for always-on blocks.
  void setClockGate(uint32_t classOffset, uint32_t bit) {
    gated_ = true;
    gateClass_ = classOffset;
    gateBit_ = bit;
  }
  bool gated() const { return gated_; }
  uint32_t gateClass() const { return gateClass_; }
  uint32_t gateBit() const { return gateBit_; }

 protected:
  [[noreturn]] void unknownRegister(uint32_t offset, const char* access);
  Board& board_;

 private:
  std::string name_;
  uint32_t base_;
  bool gated_ = false;
  uint32_t gateClass_ = 0;
  uint32_t gateBit_ = 0;
};

class SystemControl final : public Device {
 public:
  explicit SystemControl(Board& board);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;
  // Whether a peripheral's clock runs, and whether it is ready for access.
  bool clocked(uint32_t classOffset, uint32_t bit) const;
  bool ready(uint32_t classOffset, uint32_t bit) const;
  // Core clock decoded from RCC and RCC2.
  uint32_t clockHz() const;

 private:
  void clockChanged();
  static constexpr unsigned kClasses = 32;
  uint32_t rcc_;
  uint32_t rcc2_;
  uint32_t ris_ = 0;
  uint32_t moscCtl_ = 0;
  bool pllLocked_ = false;
  uint64_t pllGeneration_ = 0;
  std::array<uint32_t, kClasses> gating_{};
  std::array<std::array<Time, 32>, kClasses> readyAt_{};
};

class Gpio final : public Device {
 public:
  Gpio(Board& board, unsigned port);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  // From outside the chip: drive a pin high or low, or leave it undriven.
  void drive(unsigned pin, PinState state);
  bool analogue(unsigned pin) const { return ((amsel_ >> pin) & 1U) != 0; }
  // Whether a pin is handed to the peripheral function with this PCTL code.
  bool routed(unsigned pin, unsigned function) const {
    return ((afsel_ & den_) >> pin & 1U) != 0 && ((pctl_ >> (4 * pin)) & 0xFU) == function;
  }

 private:
  uint8_t pinLevels() const;
  void update();
  void setLine();
  bool lockedBitsWritable(uint32_t offset) const;
  unsigned port_;
  uint32_t data_ = 0, dir_ = 0, is_ = 0, ibe_ = 0, iev_ = 0, im_ = 0, ris_ = 0;
  uint32_t afsel_ = 0, dr2r_ = 0xFF, dr4r_ = 0, dr8r_ = 0, odr_ = 0, pur_ = 0, pdr_ = 0;
  uint32_t slr_ = 0, den_ = 0, cr_ = 0xFF, amsel_ = 0, pctl_ = 0, adcctl_ = 0, dmactl_ = 0;
  bool locked_ = true;
  uint8_t driven_ = 0;
  uint8_t drivenHigh_ = 0;
  uint8_t levels_ = 0;
  uint8_t outputsShown_ = 0;
  uint8_t outputsSeen_ = 0xFF;
  uint8_t outputsDriving_ = 0;
};

class UartLine;

class Uart final : public Device {
 public:
  Uart(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;
  // A frame from the peer has just ended on the receive line.
  void receive(uint8_t byte, bool framingError);
  // Frame length at the configured rate; 0 while no rate is set.
  Time frameTime() const;
  // A bit's time at the configured rate.
  Time bitTimeConfigured() const;
  void attach(UartLine* line) { line_ = line; }
  unsigned index() const { return index_; }

 private:
  unsigned bitsPerFrame() const;
  bool pinRouted(bool transmit) const;
  unsigned rxCapacity() const;
  unsigned txCapacity() const;
  unsigned rxTrigger() const;
  unsigned txTrigger() const;
  bool enabled(uint32_t direction) const;
  void startTransmit();
  void updateLine();
  uint32_t flags() const;

  unsigned index_;
  uint32_t ibrd_ = 0, fbrd_ = 0, lcrh_ = 0, ctl_, ifls_, im_ = 0, ris_ = 0, rsr_ = 0;
  uint32_t ilpr_ = 0, dmactl_ = 0, cc_ = 0;
  uint32_t divisor_ = 0;  // latched by the LCRH write, in 64ths
  bool highSpeed_ = false;
  std::array<uint16_t, 16> rx_{};
  unsigned rxHead_ = 0, rxCount_ = 0;
  std::array<uint8_t, 16> tx_{};
  unsigned txHead_ = 0, txCount_ = 0;
  bool shifting_ = false;
  uint8_t shiftByte_ = 0;
  uint64_t transmitGeneration_ = 0;
  Time lastArrival_ = 0;
  bool timeoutWaiting_ = false;
  UartLine* line_ = nullptr;
};

class Timer final : public Device {
 public:
  Timer(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  uint32_t count() const;
  void start();
  void stop();
  void setLine();
  unsigned index_;
  uint32_t cfg_ = 0, tamr_ = 0, tbmr_ = 0, ctl_ = 0, imr_ = 0, ris_ = 0;
  uint32_t tailr_ = 0xFFFFFFFF, tbilr_ = 0xFFFFFFFF, tamatchr_ = 0xFFFFFFFF, tbmatchr_ = 0xFFFFFFFF;
  uint32_t tapr_ = 0, tbpr_ = 0;
  uint32_t value_ = 0xFFFFFFFF;  // count at anchor_, or the held count while stopped
  Time anchor_ = 0;
  Time cycle_ = 0;
  bool running_ = false;
  uint64_t generation_ = 0;
};

class Adc final : public Device {
 public:
  Adc(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  void trigger(unsigned sequencer);
  void setLines();
  uint16_t sample(unsigned channel) const;
  static constexpr std::array<unsigned, 4> kDepth = {8, 4, 4, 1};
  unsigned index_;
  uint32_t actss_ = 0, ris_ = 0, im_ = 0, emux_ = 0, sspri_ = 0x3210, sac_ = 0, ctl_ = 0, pc_ = 0x7;
  uint32_t ostat_ = 0, ustat_ = 0;
  std::array<uint32_t, 4> ssmux_{}, ssctl_{};
  std::array<std::deque<uint16_t>, 4> fifo_;
  std::array<bool, 4> busy_{};
};

// NVIC, system control block, FPU control: always clocked.
class Core final : public Device {
 public:
  explicit Core(Board& board);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t readNarrow(uint32_t offset, unsigned size) override;
  void writeNarrow(uint32_t offset, uint32_t value, unsigned size) override;
  uint32_t coprocessorAccess() const { return cpacr_; }

 private:
  uint32_t cpacr_ = 0;
  uint32_t fpccr_ = 0xC0000000;
  uint32_t systemHandlerControl_ = 0;
  uint32_t systemTick_ = 0;
  uint32_t applicationInterrupt_ = 0xFA050000;
  std::array<uint8_t, 12> systemPriority_{};
};

// The peer side of a UART: scripted bytes out, received bytes in.
class UartLine final : public EventTarget {
 public:
  UartLine(Board& board, Uart& uart, const UartPeer& script);
  void start();
  void onEvent(uint32_t kind, uint64_t argument) override;
  // The chip's byte has reached the peer.
  void heard(uint8_t byte);
  void send(Time at, std::string_view bytes);
  void sendAtRate(Time at, std::string_view bytes, uint32_t rate);
  void wakeAt(Time at, uint64_t tag);
  void record(std::string text);
  void pinChanged(Pin pin, bool high);
  [[nodiscard]] const std::vector<Pin>& watched() const { return script_.watched; }

 private:
  void pump();
  Board& board_;
  Uart& uart_;
  UartPeer script_;
  std::vector<bool> ruleActive_;
  std::string heard_;
  struct Pending {
    Time at;
    uint8_t byte;
    int burst;  // a burst at its own rate, or -1
  };
  std::deque<Pending> outgoing_;
  struct Burst {
    std::string bytes;
    uint32_t rate;
  };
  std::deque<Burst> bursts_;
  // The scripted sends in time order, each scheduled when the one before
  // it is taken: a day's GPS script would otherwise fill the event queue.
  std::vector<unsigned> sendsInOrder_;
  uint64_t sendsFirstOrder_ = 0;
  void scheduleSend(size_t position);
  bool startScheduled_ = false;
  Time lineFree_ = 0;
};

class PinDriver final : public EventTarget {
 public:
  PinDriver(Board& board, std::vector<PinChange> changes) : board_(board), changes_(std::move(changes)) {}
  void start();
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  Board& board_;
  std::vector<PinChange> changes_;
};

class Board {
 public:
  explicit Board(const Bench& bench);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Runs the entry program until the end time; never returns.
  [[noreturn]] void run(const std::function<void()>& entry, Time end);

  // The processor side of the seam.
  uint32_t read(uint32_t address, unsigned size);
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
    events_.push(Event{when < now_ ? now_ : when, order, target, kind, argument});
  }
  // Something changed that a polling loop may be waiting for.
  void markActivity() { activity_ = true; }

  // For a processor that takes its exceptions itself (the emulated board):
  // interrupts are not entered from inside register accesses, and the
  // vector table offset is a plain register.
  void emulate() { emulated_ = true; }
  bool emulated() const { return emulated_; }
  uint32_t vtor() const { return vtor_; }
  uint32_t coprocessorAccess() const { return core_.coprocessorAccess(); }
  void setVtor(uint32_t value);
  // The device interrupt the processor would take now, or -1.
  int takeableInterrupt(bool primask) const { return primask ? -1 : preemptingInterrupt(); }
  // The bookkeeping of an exception's entry and return, with their cycles.
  void exceptionEntered(unsigned deviceInterrupt);
  void exceptionReturned();
  // Foreground cycles, stopping early at the first event that makes an
  // interrupt takeable; the cycles spent.
  uint64_t advanceUnlessInterrupted(uint64_t cycles, bool primask);
  // Whole cycles until the next event or the run's end.
  uint64_t cyclesToNextEvent() const {
    const Time next = events_.empty() || events_.top().when > end_ ? end_ : events_.top().when;
    return cycle_ == 0 || next <= now_ ? 0 : (next - now_ + cycle_ - 1) / cycle_;
  }
  // WFI: until an interrupt is pending and enabled (PRIMASK aside).
  void sleepUntilInterrupt();
  // A loop that only an interrupt can leave, with none takeable: on to the
  // next event.
  void idleToNextEvent() { skipToNextEvent(); }
  // Where the processor stood, added to every fault's report.
  void faultContext(std::function<std::string()> where) { faultContext_ = std::move(where); }
  // Called once as the run ends, before its timeline is handed over.
  void beforeFinish(std::function<void()> last) { beforeFinish_ = std::move(last); }

  // Interrupt controller.
  void setLine(unsigned deviceInterrupt, bool level);
  void setEnabled(unsigned deviceInterrupt, bool enabled);
  void setPending(unsigned deviceInterrupt, bool pending);
  bool enabled(unsigned deviceInterrupt) const { return bit(enabled_, deviceInterrupt); }
  bool pending(unsigned deviceInterrupt) const { return bit(pending_, deviceInterrupt); }
  bool active(unsigned deviceInterrupt) const { return active_[deviceInterrupt]; }
  void setPriority(unsigned deviceInterrupt, uint8_t priority);
  uint8_t priority(unsigned deviceInterrupt) const { return priority_[deviceInterrupt]; }
  unsigned activeVector() const;

  // The timeline.
  void record(RecordKind kind, uint8_t unit, uint16_t value, uint32_t detail = 0);
  void note(std::string text);
  void peerRecord(unsigned uart, std::string text);
  // A pin's level as the devices wired to it see it changed.
  void outputSeen(Pin pin, bool high);
  void executedRecord(uint64_t halfwords);
  [[noreturn]] void fault(const std::string& what);

  Gpio& gpio(unsigned port) { return *gpio_[port]; }
  // A pin's routing, as a peripheral sees it: a port whose clock is off
  // routes nothing.
  bool gpioRouted(unsigned port, unsigned pin, unsigned function) const;
  uint16_t analogue(unsigned channel, Time at) const;

 private:
  static bool bit(const std::array<uint64_t, 3>& words, unsigned n) {
    return ((words[n / 64] >> (n % 64)) & 1U) != 0;
  }
  static void setBit(std::array<uint64_t, 3>& words, unsigned n, bool on) {
    if (on) {
      words[n / 64] |= 1ULL << (n % 64);
    } else {
      words[n / 64] &= ~(1ULL << (n % 64));
    }
  }
  Device* device(uint32_t address, unsigned size, bool writing);
  void watchPolling(uint32_t address, uint32_t value);
  void skipToNextEvent();
  // The device interrupt that would be taken next, ignoring PRIMASK, or -1.
  // Most calls find nothing pending: decided without the priority search.
  int preemptingInterrupt() const {
    const bool requested = ((pending_[0] & enabled_[0]) | (pending_[1] & enabled_[1]) | (pending_[2] & enabled_[2])) != 0;
    return requested ? highestPreempting() : -1;
  }
  int highestPreempting() const;
  void takeInterrupts();
  void enter(unsigned deviceInterrupt);
  [[noreturn]] void finish();

  struct Event {
    Time when;
    uint64_t order;
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
  uint32_t vtor_ = 0;
  std::array<uint64_t, 3> enabled_{};
  std::array<uint64_t, 3> pending_{};
  std::array<bool, 139> active_{};
  std::array<bool, 139> lineLevels_{};
  std::array<uint8_t, 139> priority_{};
  std::vector<unsigned> activeStack_;
  uint64_t interruptEntries_ = 0;
  const hw::Handler* vectors_;

  // Polling detection: consecutive reads of at most two address/value pairs
  // with nothing happening in between.
  bool activity_ = true;
  unsigned pollReads_ = 0;
  std::array<std::pair<uint32_t, uint32_t>, 2> pollPairs_{};
  unsigned pollDistinct_ = 0;

  Timeline timeline_;
  const Bench& bench_;

  SystemControl systemControl_;
  Core core_;
  std::array<std::unique_ptr<Gpio>, 6> gpio_;
  std::array<std::unique_ptr<Uart>, 8> uarts_;
  std::array<std::unique_ptr<Timer>, 6> timers_;
  std::array<std::unique_ptr<Adc>, 2> adcs_;
  std::array<std::unique_ptr<UartLine>, 8> lines_;
  std::vector<std::unique_ptr<PinDriver>> pinDrivers_;
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
