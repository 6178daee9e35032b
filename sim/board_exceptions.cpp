// The board's side of exceptions: the simulated board enters handlers
// itself, between register accesses; the emulated board's processor enters
// them and tells the board. A system reset puts the chip back.
#include <memory>

#include "sim/board.h"

namespace sim {

namespace {

template <typename T, typename... Arguments>
void rebuild(T& device, Arguments&&... arguments) {
  std::destroy_at(&device);
  std::construct_at(&device, std::forward<Arguments>(arguments)...);
}

}  // namespace

void Board::setVectorTable(const hw::Handler* table) {
  if ((reinterpret_cast<uintptr_t>(table) & 0x3FFU) != 0) {
    fault("vector table base " + registerAddress(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table))) +
          " is not aligned to 1024 bytes");
  }
  vectors_ = table;
  advanceCycles(kAccessCycles);
}

uint32_t Board::vectorTableRegister() const {
  if (vectors_ == bench_.flashVectors() || vectors_ == emptyVectors()) {
    return 0;
  }
  // A table in RAM: the host address cannot show, its 1 KB alignment can.
  return 0x20000000U | (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(vectors_)) & 0x7C00U);
}

void Board::setVtor(uint32_t value) {
  if ((value & 0x3FFU) != 0) {
    fault("vector table base " + registerAddress(value) + " is not aligned to 1024 bytes");
  }
  vtor_ = value;
}

void Board::setPriority(unsigned vector, uint8_t value) {
  nvic_.setPriority(vector, value);
  record(RecordKind::Priority, 0, static_cast<uint16_t>(vector), value);
}

void Board::takeInterrupts() {
  if (emulated_) {
    return;  // the processor takes them between its instructions
  }
  for (;;) {
    const int next = nvic_.preempting(Masks{primask_});
    if (next < 0) {
      return;
    }
    enter(static_cast<unsigned>(next));
  }
}

void Board::enter(unsigned vector) {
  nvic_.entered(vector);
  ++interruptEntries_;
  activity_ = true;
  record(RecordKind::InterruptEnter, 0, static_cast<uint16_t>(vector));
  const hw::Handler handler = vectors_[vector];
  if (handler == nullptr) {
    fault(std::string(vector >= kFirstDeviceVector ? "interrupt " : "exception ") + std::to_string(vector) +
          " taken with no handler in its vector table entry");
  }
  advanceCycles(kInterruptEntryCycles);
  handler();
  advanceCycles(kInterruptExitCycles);
  nvic_.returned(vector);
  activity_ = true;
  record(RecordKind::InterruptExit, 0, static_cast<uint16_t>(vector));
}

void Board::exceptionEntered(unsigned vector) {
  nvic_.entered(vector);
  ++interruptEntries_;
  activity_ = true;
  record(RecordKind::InterruptEnter, 0, static_cast<uint16_t>(vector));
  advanceCycles(kInterruptEntryCycles);
}

void Board::exceptionReturned(unsigned vector) {
  advanceCycles(kInterruptExitCycles);
  nvic_.returned(vector);
  activity_ = true;
  record(RecordKind::InterruptExit, 0, static_cast<uint16_t>(vector));
}

uint64_t Board::advanceUnlessInterrupted(uint64_t cycles, Masks masks) {
  const Time start = now_;
  const Time target = now_ + cycles * cycle_;
  while (now_ < target) {
    const Time next = events_.empty() ? kNever : events_.top().when;
    advanceUntil(next < target ? next : target, true);
    if (nvic_.preempting(masks) >= 0) {
      break;
    }
  }
  return cycle_ != 0 ? (now_ - start) / cycle_ : cycles;
}

void Board::sleepUntilInterrupt(Masks masks) {
  activity_ = true;
  masks.primask = false;
  while (nvic_.preempting(masks) < 0) {
    skipToNextEvent();
  }
}

void Board::requestSystemReset() {
  if (!systemReset_) {
    fault("AIRCR SYSRESETREQ: the simulated board cannot restart the program; run the image on the emulated board");
  }
  systemReset_();
}

void Board::resetChip() {
  ++resets_;
  note("system reset");
  nvic_.reset();
  scs_.reset();
  vtor_ = 0;
  primask_ = false;
  rebuild(systemControl_, *this);
  for (unsigned index = 0; index < uarts_.size(); ++index) {
    rebuild(*uarts_[index], *this, index);
    uarts_[index]->attach(lines_[index].get());
  }
  for (unsigned index = 0; index < timers_.size(); ++index) {
    rebuild(*timers_[index], *this, index);
  }
  for (unsigned index = 0; index < adcs_.size(); ++index) {
    rebuild(*adcs_[index], *this, index);
  }
  for (unsigned port = 0; port < gpio_.size(); ++port) {
    Gpio& gpio = *gpio_[port];
    const auto drive = gpio.externalDrive();
    const uint8_t drivingHigh = gpio.drivingHigh();
    const uint8_t drivingLow = gpio.drivingLow();
    rebuild(gpio, *this, port);
    // The pins let go: what drove high is dark now, and a device wired to
    // a pin sees its pull-up.
    for (unsigned pin = 0; pin < 8; ++pin) {
      if (((drivingHigh >> pin) & 1U) != 0) {
        record(RecordKind::Pin, static_cast<uint8_t>(port * 8 + pin), 0);
      }
      if (((drivingLow >> pin) & 1U) != 0) {
        outputSeen(Pin{static_cast<uint8_t>(port), static_cast<uint8_t>(pin)}, true);
      }
      if (drive[pin] != PinState::Undriven) {
        gpio.drive(pin, drive[pin]);
      }
    }
  }
  clockChanged(systemControl_.clockHz());
  activity_ = true;
}

}  // namespace sim
