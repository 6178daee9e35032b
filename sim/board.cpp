#include "sim/board.h"

#include <cstdio>

#include "platform/registers.h"

namespace sim {

namespace {

Board* current = nullptr;

// The flash table of a run without an image: every entry empty.
constexpr std::array<hw::Handler, hw::kVectorCount> kEmptyVectors{};

}  // namespace

const hw::Handler* Board::emptyVectors() { return kEmptyVectors.data(); }

Board& board() {
  if (current == nullptr) {
    std::fprintf(stderr, "simulated board: hardware access outside a run\n");
    std::abort();
  }
  return *current;
}

Board::Board(const Bench& bench)
    : vectors_(bench.flashVectors() != nullptr ? bench.flashVectors() : kEmptyVectors.data()),
      bench_(bench),
      systemControl_(*this),
      scs_(*this) {
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
  if (bench_.realtime() > 0) {
    pacer_ = std::make_unique<Pacer>(*this, bench_.realtime());
    pacer_->start();
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
  if ((scs_.coprocessorAccess() & reg::core::kFullFpuAccess) != reg::core::kFullFpuAccess) {
    fault("start-up ran the C run-time's initialisation (data, static constructors) with the FPU disabled");
  }
}

// Bus.

Device* Board::device(uint32_t address, unsigned size, bool writing) {
  Device* block = nullptr;
  if ((address & 0xFFF00000U) == 0x40000000U) {
    block = peripherals_[(address >> 12) & 0xFF];
  } else if ((address & 0xFFFFF000U) == 0xE000E000U) {
    block = &scs_;
  }
  const auto access = [&] {
    return std::to_string(size * 8) + (writing ? "-bit write at " : "-bit read at ") + registerAddress(address);
  };
  const auto error = [&](const std::string& what) -> Device* {
    if (!busError_) {
      fault(what);
    }
    busError_(what);
    return nullptr;
  };
  if (block == nullptr) {
    return error(access() + ": nothing is mapped there");
  }
  if (block->gated()) {
    if (!systemControl_.clocked(block->gateClass(), block->gateBit())) {
      return error(access() + ": " + block->name() + " has its clock off");
    }
    if (!systemControl_.ready(block->gateClass(), block->gateBit())) {
      return error(access() + ": " + block->name() + " is not ready yet after its clock was enabled");
    }
  }
  if ((address & (size - 1)) != 0) {
    return error(access() + ": unaligned");
  }
  return block;
}

uint32_t Board::read(uint32_t address, unsigned size, uint64_t loopState) {
  Device* block = device(address, size, false);
  const uint32_t offset = address & 0xFFFU;
  const uint32_t value = block == nullptr ? 0 : size == 4 ? block->read(offset) : block->readNarrow(offset, size);
  advanceCycles(kAccessCycles);
  takeInterrupts();
  watchPolling(address, value, loopState);
  return value;
}

uint32_t Board::debugRead(uint32_t address) {
  Device* block = device(address, 4, false);
  return block == nullptr ? 0 : block->read(address & 0xFFFU);
}

void Board::drive(std::vector<PinChange> changes) {
  pinDrivers_.push_back(std::make_unique<PinDriver>(*this, std::move(changes)));
  pinDrivers_.back()->start();
}

void Board::write(uint32_t address, uint32_t value, unsigned size) {
  Device* block = device(address, size, true);
  const uint32_t offset = address & 0xFFFU;
  if (block == nullptr) {
    // dropped: a bus error
  } else if (size == 4) {
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
void Board::watchPolling(uint32_t address, uint32_t value, uint64_t loopState) {
  if (activity_) {
    activity_ = false;
    pollReads_ = 0;
    pollDistinct_ = 0;
  }
  bool known = false;
  for (unsigned index = 0; index < pollDistinct_; ++index) {
    PollRead& read = pollPairs_[index];
    if (read.address == address && read.value == value) {
      if (read.loopState == 0) {
        read.loopState = loopState;
      } else if (loopState != 0 && read.loopState != loopState) {
        // The same read in another state: a loop that counts.
        pollReads_ = 0;
        pollDistinct_ = 0;
        break;
      }
      known = true;
    }
  }
  if (!known) {
    if (pollDistinct_ == pollPairs_.size()) {
      pollReads_ = 0;
      pollDistinct_ = 0;
    }
    pollPairs_[pollDistinct_++] = PollRead{address, value, loopState};
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
  scs_.clockChanged();
}

void Board::schedule(Time when, EventTarget* target, uint32_t kind, uint64_t argument) {
  events_.push(Event{when < now_ ? now_ : when, order_++, resets_, target, kind, argument});
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
    if (event.resets != resets_ && !event.target->outsideChip()) {
      continue;  // the chip was reset since
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
    if (nvic_.preempting(Masks{}) >= 0) {
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

bool Board::gpioRouted(unsigned port, unsigned pin, unsigned function) const {
  return systemControl_.clocked(reg::sysctl::kGpioClass, port) && gpio_[port]->routed(pin, function);
}

uint16_t Board::analogue(unsigned channel, Time at) const {
  const auto& source = bench_.analogue(channel);
  return source ? static_cast<uint16_t>(source(at) & 0xFFFU) : 0;
}

}  // namespace sim
