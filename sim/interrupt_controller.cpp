#include "sim/interrupt_controller.h"

#include <algorithm>

#include "platform/registers.h"

namespace sim {

namespace {

constexpr uint8_t kImplemented = static_cast<uint8_t>(0xFF << (8 - reg::core::kPriorityBits));

}  // namespace

InterruptController::InterruptController() { reset(); }

void InterruptController::reset() {
  enabled_ = {};
  pending_ = {};
  active_ = {};
  lineLevels_ = {};
  priority_ = {};
  activeStack_.clear();
  prigroup_ = 0;
  priority_[1] = -3;
  priority_[kNmi] = -2;
  priority_[kHardFault] = -1;
  // The controller never masks these; SysTick's own TICKINT decides
  // whether it pends.
  for (const unsigned vector : {unsigned{kNmi}, unsigned{kHardFault}, unsigned{kSvCall}, unsigned{kPendSv}, unsigned{kSysTick}}) {
    setBit(enabled_, vector, true);
  }
}

void InterruptController::setLine(unsigned deviceInterrupt, bool level) {
  const unsigned vector = deviceInterrupt + kFirstDeviceVector;
  const bool before = lineLevels_[vector];
  lineLevels_[vector] = level;
  if (level && (!before || !active_[vector])) {
    setBit(pending_, vector, true);
  }
}

void InterruptController::setEnabled(unsigned vector, bool on) { setBit(enabled_, vector, on); }

void InterruptController::setPending(unsigned vector, bool on) {
  setBit(pending_, vector, on || (lineLevels_[vector] && !active_[vector]));
}

void InterruptController::setPriority(unsigned vector, uint8_t value) {
  if (vector > kHardFault) {
    priority_[vector] = static_cast<int16_t>(value & kImplemented);
  }
}

int InterruptController::groupPriority(int value) const {
  if (value < 0) {
    return value;
  }
  const int group = 2 << prigroup_;
  return value - value % group;
}

int InterruptController::executionPriority(Masks masks) const {
  int highest = kThreadPriority;
  for (const unsigned vector : activeStack_) {
    highest = std::min(highest, groupPriority(priority_[vector]));
  }
  int boosted = kThreadPriority;
  if ((masks.basepri & kImplemented) != 0) {
    boosted = groupPriority(masks.basepri & kImplemented);
  }
  if (masks.primask) {
    boosted = 0;
  }
  if (masks.faultmask) {
    boosted = -1;
  }
  return std::min(boosted, highest);
}

int InterruptController::highestPending() const {
  int best = -1;
  int bestPriority = kThreadPriority + 1;
  // Lowest number first, so that a tie goes to the lower number.
  for (unsigned word = 0; word < pending_.size(); ++word) {
    for (uint64_t requests = pending_[word] & enabled_[word]; requests != 0; requests &= requests - 1) {
      const unsigned n = word * 64 + static_cast<unsigned>(__builtin_ctzll(requests));
      if (priority_[n] < bestPriority) {
        best = static_cast<int>(n);
        bestPriority = priority_[n];
      }
    }
  }
  return best;
}

unsigned InterruptController::faultTarget(unsigned vector, Masks masks) const {
  const int running = executionPriority(masks);
  if (enabled(vector) && groupPriority(priority_[vector]) < running) {
    return vector;
  }
  return running > -1 ? unsigned{kHardFault} : 0U;
}

void InterruptController::entered(unsigned vector) {
  setBit(pending_, vector, false);
  active_[vector] = true;
  activeStack_.push_back(vector);
}

void InterruptController::returned(unsigned vector) {
  active_[vector] = false;
  const auto found = std::find(activeStack_.rbegin(), activeStack_.rend(), vector);
  if (found != activeStack_.rend()) {
    activeStack_.erase(std::next(found).base());
  }
  if (lineLevels_[vector]) {
    setBit(pending_, vector, true);
  }
}

}  // namespace sim
