#include <string>

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::timer;

constexpr unsigned kInterruptOf[] = {19, 21, 23, 35, 70, 92};  // timer A of TIMER0 to TIMER5

enum Event : uint32_t { kTimeout };

}  // namespace

Timer::Timer(Board& board, unsigned index)
    : Device(board, "TIMER" + std::to_string(index), kTimer0 + index * kSpacing), index_(index) {
  setClockGate(reg::sysctl::kTimerClass, index);
}

// Only timer A at full width, counting down, one-shot or periodic, is modelled.
uint32_t Timer::count() const {
  if (!running_ || cycle_ == 0) {
    return value_;
  }
  const uint64_t elapsed = (board_.now() - anchor_) / cycle_;
  return elapsed >= value_ ? 0 : static_cast<uint32_t>(value_ - elapsed);
}

void Timer::start() {
  if (cfg_ != 0 || (tamr_ & kModeCountUp) != 0 ||
      ((tamr_ & kModeMask) != kModeOneShot && (tamr_ & kModeMask) != kModePeriodic)) {
    board_.fault(name() + ": only full-width count-down one-shot and periodic modes are modelled");
  }
  if (value_ == 0) {
    value_ = tailr_;
  }
  if (value_ == 0) {
    board_.fault(name() + ": enabled with a load value of 0");
  }
  running_ = true;
  anchor_ = board_.now();
  cycle_ = board_.cycleTime();
  board_.schedule(anchor_ + static_cast<Time>(value_) * cycle_, this, kTimeout, ++generation_);
}

void Timer::stop() {
  value_ = count();
  running_ = false;
  ++generation_;
}

void Timer::setLine() { board_.setLine(kInterruptOf[index_], (ris_ & imr_ & kIntTimerATimeout) != 0); }

void Timer::onEvent(uint32_t kind, uint64_t argument) {
  if (kind != kTimeout || argument != generation_ || !running_) {
    return;
  }
  ris_ |= kIntTimerATimeout;
  value_ = tailr_;
  if ((tamr_ & kModeMask) == kModePeriodic) {
    anchor_ = board_.now();
    board_.schedule(anchor_ + static_cast<Time>(value_) * cycle_, this, kTimeout, ++generation_);
  } else {
    running_ = false;
    ctl_ &= ~kCtlTimerAEnable;
  }
  setLine();
}

uint32_t Timer::read(uint32_t offset) {
  switch (offset) {
    case kCfg: return cfg_;
    case kTamr: return tamr_;
    case kTbmr: return tbmr_;
    case kCtl: return ctl_;
    case kImr: return imr_;
    case kRis: return ris_;
    case kMis: return ris_ & imr_;
    case kTailr: return tailr_;
    case kTbilr: return tbilr_;
    case kTamatchr: return tamatchr_;
    case kTbmatchr: return tbmatchr_;
    case kTapr: return tapr_;
    case kTbpr: return tbpr_;
    case kTar:
    case kTav: return count();
    case kTbr:
    case kTbv: return tbilr_;
    default: unknownRegister(offset, "read");
  }
}

void Timer::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kCfg: cfg_ = value & 0x7U; return;
    case kTamr: tamr_ = value & 0xFFFU; return;
    case kTbmr: tbmr_ = value & 0xFFFU; return;
    case kCtl: {
      const bool wasOn = (ctl_ & kCtlTimerAEnable) != 0;
      ctl_ = value;
      const bool on = (ctl_ & kCtlTimerAEnable) != 0;
      if (on && !wasOn) {
        start();
      } else if (!on && wasOn) {
        // The count holds while disabled and resumes on the next enable.
        stop();
      }
      if ((ctl_ & kCtlTimerBEnable) != 0) {
        board_.fault(name() + ": timer B is not modelled");
      }
      return;
    }
    case kImr: imr_ = value; setLine(); return;
    case kIcr: ris_ &= ~value; setLine(); return;
    case kTailr:
      tailr_ = value;
      // Loading a count-down timer takes effect at once.
      value_ = value;
      if (running_) {
        ++generation_;
        start();
      }
      return;
    case kTbilr: tbilr_ = value; return;
    case kTamatchr: tamatchr_ = value; return;
    case kTbmatchr: tbmatchr_ = value; return;
    case kTapr: tapr_ = value & 0xFFU; return;
    case kTbpr: tbpr_ = value & 0xFFU; return;
    case kTav:
      value_ = value;
      if (running_) {
        ++generation_;
        start();
      }
      return;
    default: unknownRegister(offset, "write");
  }
}

}  // namespace sim
