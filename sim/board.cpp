#include "sim/board.h"

#include <cinttypes>
#include <cstdio>

#include "platform/registers.h"

namespace sim {

namespace {

Board* current = nullptr;

// The flash table of a run without an image: every entry empty.
constexpr std::array<hw::Handler, hw::kVectorCount> kEmptyVectors{};

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

}  // namespace

Board& board() {
  if (current == nullptr) {
    std::fprintf(stderr, "simulated board: hardware access outside a run\n");
    std::abort();
  }
  return *current;
}

uint32_t Device::readNarrow(uint32_t offset, unsigned size) {
  const uint32_t word = read(offset & ~3U);
  const uint32_t shift = (offset & 3U) * 8;
  return (word >> shift) & (size == 1 ? 0xFFU : 0xFFFFU);
}

void Device::writeNarrow(uint32_t offset, uint32_t, unsigned size) {
  board_.fault(name_ + ": " + std::to_string(size * 8) + "-bit write at " + hex(base_ + offset) +
               " (this block takes word writes)");
}

void Device::unknownRegister(uint32_t offset, const char* access) {
  board_.fault(std::string(access) + " at " + hex(base_ + offset) + ": no " + name_ +
               " register there");
}

Board::Board(const Bench& bench)
    : vectors_(bench.flashVectors() != nullptr ? bench.flashVectors() : kEmptyVectors.data()),
      bench_(bench),
      systemControl_(*this),
      core_(*this) {
  current = this;
  peripherals_[(reg::sysctl::kBase >> 12) & 0xFF] = &systemControl_;
  for (unsigned port = 0; port < gpio_.size(); ++port) {
    gpio_[port] = std::make_unique<Gpio>(*this, port);
    peripherals_[(gpio_[port]->base() >> 12) & 0xFF] = gpio_[port].get();
  }
  for (unsigned index = 0; index < uarts_.size(); ++index) {
    uarts_[index] = std::make_unique<Uart>(*this, index);
    peripherals_[(uarts_[index]->base() >> 12) & 0xFF] = uarts_[index].get();
    lines_[index] = std::make_unique<UartLine>(*this, *uarts_[index], bench.uart(index));
    uarts_[index]->attach(lines_[index].get());
  }
  for (unsigned index = 0; index < timers_.size(); ++index) {
    timers_[index] = std::make_unique<Timer>(*this, index);
    peripherals_[(timers_[index]->base() >> 12) & 0xFF] = timers_[index].get();
  }
  for (unsigned index = 0; index < adcs_.size(); ++index) {
    adcs_[index] = std::make_unique<Adc>(*this, index);
    peripherals_[(adcs_[index]->base() >> 12) & 0xFF] = adcs_[index].get();
  }
  pinDrivers_.push_back(std::make_unique<PinDriver>(*this, bench.pinChanges()));
  clockChanged(systemControl_.clockHz());
}

void Board::run(const std::function<void()>& entry, Time end) {
  end_ = end;
  for (auto& line : lines_) {
    line->start();
  }
  for (auto& driver : pinDrivers_) {
    driver->start();
  }
  entry();
  idleForever();
}

void Board::idleForever() {
  for (;;) {
    waitForInterrupt();
  }
}

void Board::initialiseData() {
  if ((core_.coprocessorAccess() & reg::core::kFullFpuAccess) != reg::core::kFullFpuAccess) {
    fault("start-up ran the C run-time's initialisation (data, static constructors) with the FPU disabled");
  }
}

// Bus.

Device* Board::device(uint32_t address, unsigned size, bool writing) {
  Device* block = nullptr;
  if ((address & 0xFFF00000U) == 0x40000000U) {
    block = peripherals_[(address >> 12) & 0xFF];
  } else if ((address & 0xFFFFF000U) == 0xE000E000U) {
    block = &core_;
  }
  const auto access = [&] {
    return std::to_string(size * 8) + (writing ? "-bit write at " : "-bit read at ") + hex(address);
  };
  if (block == nullptr) {
    fault(access() + ": nothing is mapped there");
  }
  if (block->gated()) {
    if (!systemControl_.clocked(block->gateClass(), block->gateBit())) {
      fault(access() + ": " + block->name() + " has its clock off");
    }
    if (!systemControl_.ready(block->gateClass(), block->gateBit())) {
      fault(access() + ": " + block->name() + " is not ready yet after its clock was enabled");
    }
  }
  if ((address & (size - 1)) != 0) {
    fault(access() + ": unaligned");
  }
  return block;
}

uint32_t Board::read(uint32_t address, unsigned size) {
  Device* block = device(address, size, false);
  const uint32_t offset = address & 0xFFFU;
  const uint32_t value = size == 4 ? block->read(offset) : block->readNarrow(offset, size);
  advanceCycles(kAccessCycles);
  takeInterrupts();
  watchPolling(address, value);
  return value;
}

void Board::write(uint32_t address, uint32_t value, unsigned size) {
  Device* block = device(address, size, true);
  const uint32_t offset = address & 0xFFFU;
  if (size == 4) {
    block->write(offset, value);
  } else {
    block->writeNarrow(offset, value, size);
  }
  activity_ = true;
  advanceCycles(kAccessCycles);
  takeInterrupts();
}

// A loop that keeps reading the same one or two registers and seeing the
// same values cannot see anything new before the next event: go there.
void Board::watchPolling(uint32_t address, uint32_t value) {
  if (activity_) {
    activity_ = false;
    pollReads_ = 0;
    pollDistinct_ = 0;
  }
  const std::pair<uint32_t, uint32_t> seen{address, value};
  bool known = false;
  for (unsigned index = 0; index < pollDistinct_; ++index) {
    known = known || pollPairs_[index] == seen;
  }
  if (!known) {
    if (pollDistinct_ == pollPairs_.size()) {
      pollReads_ = 0;
      pollDistinct_ = 0;
    }
    pollPairs_[pollDistinct_++] = seen;
  }
  if (++pollReads_ >= kPollReadsBeforeSkip) {
    pollReads_ = 0;
    skipToNextEvent();
  }
}

void Board::skipToNextEvent() {
  if (events_.empty()) {
    now_ = end_;
    finish();
  }
  const Time next = events_.top().when;
  advance(next > now_ ? next - now_ : 0);
}

// Time.

void Board::clockChanged(uint32_t hz) {
  clockHz_ = hz;
  cycle_ = hz != 0 ? kPicosecondsPerSecond / hz : 0;
}

void Board::schedule(Time when, EventTarget* target, uint32_t kind, uint64_t argument) {
  events_.push(Event{when < now_ ? now_ : when, order_++, target, kind, argument});
}

void Board::advanceCycles(uint64_t cycles) { advance(cycles * cycle_); }

void Board::advance(Time duration) { advanceUntil(now_ + duration, true); }

void Board::advanceUntil(Time until, bool foreground) {
  Time end = until;
  for (;;) {
    if (events_.empty() || events_.top().when > end) {
      if (end > end_) {
        now_ = end_;
        finish();
      }
      now_ = end;
      return;
    }
    const Event event = events_.top();
    events_.pop();
    if (event.when > end_) {
      now_ = end_;
      finish();
    }
    const Time remaining = end - event.when;
    now_ = event.when;
    activity_ = true;
    event.target->onEvent(event.kind, event.argument);
    const uint64_t before = interruptEntries_;
    takeInterrupts();
    if (interruptEntries_ != before) {
      // Foreground work stood still while the handlers ran.
      end = foreground ? now_ + remaining : (end > now_ ? end : now_);
    }
  }
}

void Board::runUntil(Time time) {
  // A wait to a time is the entry program acting: a loop that polls between
  // such waits may do something else after any of them.
  activity_ = true;
  if (time > now_) {
    advanceUntil(time, false);
  }
}

void Board::delayLoop(uint32_t passes) {
  // A count of 0 wraps on the chip: 2^32 passes.
  const uint64_t count = passes != 0 ? passes : (1ULL << 32);
  advanceCycles(3 * count);
}

void Board::waitForInterrupt() {
  advanceCycles(1);
  for (;;) {
    if (preemptingInterrupt() >= 0) {
      takeInterrupts();
      return;
    }
    const uint64_t before = interruptEntries_;
    skipToNextEvent();
    if (interruptEntries_ != before) {
      return;
    }
  }
}

bool Board::setInterruptsDisabled(bool disabled) {
  const bool before = primask_;
  primask_ = disabled;
  activity_ = true;
  advanceCycles(1);
  takeInterrupts();
  return before;
}

// Interrupts.

void Board::setVectorTable(const hw::Handler* table) {
  if ((reinterpret_cast<uintptr_t>(table) & 0x3FFU) != 0) {
    fault("vector table base " + hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table))) +
          " is not aligned to 1024 bytes");
  }
  vectors_ = table;
  advanceCycles(kAccessCycles);
}

uint32_t Board::vectorTableRegister() const {
  if (vectors_ == bench_.flashVectors() || vectors_ == kEmptyVectors.data()) {
    return 0;
  }
  // A table in RAM: the host address cannot show, its 1 KB alignment can.
  return 0x20000000U | (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(vectors_)) & 0x7C00U);
}

void Board::setLine(unsigned deviceInterrupt, bool level) {
  const bool before = lineLevels_[deviceInterrupt];
  lineLevels_[deviceInterrupt] = level;
  // Pending while the line is high and the handler not running, and on
  // every rising edge.
  if (level && (!before || !active_[deviceInterrupt])) {
    setBit(pending_, deviceInterrupt, true);
  }
}

void Board::setEnabled(unsigned deviceInterrupt, bool on) { setBit(enabled_, deviceInterrupt, on); }

void Board::setPending(unsigned deviceInterrupt, bool on) {
  setBit(pending_, deviceInterrupt, on || (lineLevels_[deviceInterrupt] && !active_[deviceInterrupt]));
}

void Board::setPriority(unsigned deviceInterrupt, uint8_t value) {
  constexpr uint8_t kImplemented = static_cast<uint8_t>(0xFF << (8 - reg::core::kPriorityBits));
  priority_[deviceInterrupt] = value & kImplemented;
  record(RecordKind::Priority, 0, static_cast<uint16_t>(deviceInterrupt + reg::core::kFirstDeviceVector), value);
}

unsigned Board::activeVector() const {
  return activeStack_.empty() ? 0 : activeStack_.back() + reg::core::kFirstDeviceVector;
}

int Board::highestPreempting() const {
  const unsigned running = activeStack_.empty() ? 256U : priority_[activeStack_.back()];
  int best = -1;
  unsigned bestPriority = 256;
  // Only the requests that are both pending and enabled, lowest number
  // first, so that a tie goes to the lower number.
  for (unsigned word = 0; word < pending_.size(); ++word) {
    for (uint64_t requests = pending_[word] & enabled_[word]; requests != 0; requests &= requests - 1) {
      const unsigned n = word * 64 + static_cast<unsigned>(__builtin_ctzll(requests));
      if (priority_[n] < bestPriority) {
        best = static_cast<int>(n);
        bestPriority = priority_[n];
      }
    }
  }
  return bestPriority < running ? best : -1;
}

void Board::takeInterrupts() {
  if (emulated_) {
    return;  // the processor takes them between its instructions
  }
  while (!primask_) {
    const int next = preemptingInterrupt();
    if (next < 0) {
      return;
    }
    enter(static_cast<unsigned>(next));
  }
}

void Board::enter(unsigned deviceInterrupt) {
  const unsigned vector = deviceInterrupt + reg::core::kFirstDeviceVector;
  setBit(pending_, deviceInterrupt, false);
  active_[deviceInterrupt] = true;
  activeStack_.push_back(deviceInterrupt);
  ++interruptEntries_;
  activity_ = true;
  record(RecordKind::InterruptEnter, 0, static_cast<uint16_t>(vector));
  const hw::Handler handler = vectors_[vector];
  if (handler == nullptr) {
    fault("interrupt " + std::to_string(vector) + " taken with no handler in its vector table entry");
  }
  advanceCycles(kInterruptEntryCycles);
  handler();
  advanceCycles(kInterruptExitCycles);
  active_[deviceInterrupt] = false;
  activeStack_.pop_back();
  activity_ = true;
  record(RecordKind::InterruptExit, 0, static_cast<uint16_t>(vector));
  if (lineLevels_[deviceInterrupt]) {
    setBit(pending_, deviceInterrupt, true);
  }
}

void Board::setVtor(uint32_t value) {
  if ((value & 0x3FFU) != 0) {
    fault("vector table base " + hex(value) + " is not aligned to 1024 bytes");
  }
  vtor_ = value;
}

void Board::exceptionEntered(unsigned deviceInterrupt) {
  setBit(pending_, deviceInterrupt, false);
  active_[deviceInterrupt] = true;
  activeStack_.push_back(deviceInterrupt);
  ++interruptEntries_;
  activity_ = true;
  record(RecordKind::InterruptEnter, 0, static_cast<uint16_t>(deviceInterrupt + reg::core::kFirstDeviceVector));
  advanceCycles(kInterruptEntryCycles);
}

void Board::exceptionReturned() {
  if (activeStack_.empty()) {
    fault("exception return with no exception active");
  }
  const unsigned deviceInterrupt = activeStack_.back();
  advanceCycles(kInterruptExitCycles);
  active_[deviceInterrupt] = false;
  activeStack_.pop_back();
  activity_ = true;
  record(RecordKind::InterruptExit, 0, static_cast<uint16_t>(deviceInterrupt + reg::core::kFirstDeviceVector));
  if (lineLevels_[deviceInterrupt]) {
    setBit(pending_, deviceInterrupt, true);
  }
}

uint64_t Board::advanceUnlessInterrupted(uint64_t cycles, bool primask) {
  const Time start = now_;
  const Time target = now_ + cycles * cycle_;
  while (now_ < target) {
    const Time next = events_.empty() ? kNever : events_.top().when;
    advanceUntil(next < target ? next : target, true);
    if (takeableInterrupt(primask) >= 0) {
      break;
    }
  }
  return cycle_ != 0 ? (now_ - start) / cycle_ : cycles;
}

void Board::sleepUntilInterrupt() {
  activity_ = true;
  while (preemptingInterrupt() < 0) {
    skipToNextEvent();
  }
}

// Timeline.

void Board::record(RecordKind kind, uint8_t unit, uint16_t value, uint32_t detail) {
  timeline_.records.push_back(Record{now_, kind, unit, value, detail});
}

void Board::note(std::string text) {
  timeline_.texts.push_back(std::move(text));
  record(RecordKind::Note, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::peerRecord(unsigned uart, std::string text) {
  timeline_.texts.push_back(std::move(text));
  record(RecordKind::Peer, static_cast<uint8_t>(uart), 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::outputSeen(Pin pin, bool high) {
  for (auto& line : lines_) {
    for (const Pin& watched : line->watched()) {
      if (watched.unit() == pin.unit()) {
        line->pinChanged(pin, high);
      }
    }
  }
}

void Board::executedRecord(uint64_t halfwords) {
  timeline_.texts.push_back(std::to_string(halfwords));
  record(RecordKind::Executed, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::fault(const std::string& what) {
  auto where = std::move(faultContext_);
  faultContext_ = nullptr;
  timeline_.texts.push_back(where ? what + where() : what);
  record(RecordKind::Fault, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
  finish();
}

bool Board::gpioRouted(unsigned port, unsigned pin, unsigned function) const {
  return systemControl_.clocked(reg::sysctl::kGpioClass, port) && gpio_[port]->routed(pin, function);
}

uint16_t Board::analogue(unsigned channel, Time at) const {
  const auto& source = bench_.analogue(channel);
  return source ? static_cast<uint16_t>(source(at) & 0xFFFU) : 0;
}

}  // namespace sim
