// The Cortex-M4's exception model as both boards share it: which exceptions
// are pending, enabled and active, their priorities with the grouping AIRCR
// sets, and which one preempts under PRIMASK, FAULTMASK and BASEPRI.
// Exceptions are counted by vector number: 1 reset, 2 NMI, 3 HardFault,
// 4 MemManage, 5 BusFault, 6 UsageFault, 11 SVCall, 12 DebugMonitor,
// 14 PendSV, 15 SysTick, 16 on the device interrupts.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

inline constexpr unsigned kDeviceInterruptCount = 139;
inline constexpr unsigned kFirstDeviceVector = 16;
inline constexpr unsigned kExceptionCount = kFirstDeviceVector + kDeviceInterruptCount;

enum Vector : unsigned {
  kNmi = 2,
  kHardFault = 3,
  kMemManage = 4,
  kBusFault = 5,
  kUsageFault = 6,
  kSvCall = 11,
  kDebugMonitor = 12,
  kPendSv = 14,
  kSysTick = 15,
};

// The processor's masks, as its special registers hold them.
struct Masks {
  bool primask = false;
  bool faultmask = false;
  uint8_t basepri = 0;
};

// An execution priority above every configurable one: thread mode with no
// mask.
inline constexpr int kThreadPriority = 256;

class InterruptController {
 public:
  InterruptController();

  // A device interrupt's request line: pending while high and its handler
  // not running, and on every rising edge.
  void setLine(unsigned deviceInterrupt, bool level);
  void setEnabled(unsigned vector, bool on);
  void setPending(unsigned vector, bool on);
  [[nodiscard]] bool enabled(unsigned vector) const { return bit(enabled_, vector); }
  [[nodiscard]] bool pending(unsigned vector) const { return bit(pending_, vector); }
  [[nodiscard]] bool active(unsigned vector) const { return active_[vector]; }
  // The priority byte as written (the unimplemented low bits read as 0);
  // reset, NMI and HardFault have their fixed -3, -2, -1.
  void setPriority(unsigned vector, uint8_t value);
  [[nodiscard]] int priority(unsigned vector) const { return priority_[vector]; }
  void setGrouping(unsigned prigroup) { prigroup_ = prigroup & 7U; }
  [[nodiscard]] unsigned grouping() const { return prigroup_; }
  // The group part of a priority: only it decides preemption.
  [[nodiscard]] int groupPriority(int value) const;

  // The priority the processor runs at: the highest of the active
  // exceptions' group priorities and the masks.
  [[nodiscard]] int executionPriority(Masks masks) const;
  // Quick test: anything both pending and enabled at all.
  [[nodiscard]] bool requested() const {
    return ((pending_[0] & enabled_[0]) | (pending_[1] & enabled_[1]) | (pending_[2] & enabled_[2])) != 0;
  }
  // The pending, enabled exception of highest priority (ties to the lower
  // number), or -1.
  [[nodiscard]] int highestPending() const;
  // The exception that preempts now under these masks, or -1.
  [[nodiscard]] int preempting(Masks masks) const {
    if (!requested()) {
      return -1;
    }
    const int next = highestPending();
    return next >= 0 && groupPriority(priority_[next]) < executionPriority(masks) ? next : -1;
  }
  // Where a synchronous fault goes: its own handler if enabled and able to
  // preempt, else HardFault; 0 when not even HardFault can (lockup).
  [[nodiscard]] unsigned faultTarget(unsigned vector, Masks masks) const;

  void entered(unsigned vector);
  // The exception returned from leaves the active set; a device line still
  // high pends it again.
  void returned(unsigned vector);
  // The exception being handled (IPSR), 0 in thread mode.
  [[nodiscard]] unsigned current() const { return activeStack_.empty() ? 0 : activeStack_.back(); }
  // Active exceptions other than the current one: a return to thread mode
  // with any of them still active is an INVPC fault.
  [[nodiscard]] unsigned activeCount() const { return static_cast<unsigned>(activeStack_.size()); }
  void reset();

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
  std::array<uint64_t, 3> enabled_{};
  std::array<uint64_t, 3> pending_{};
  std::array<bool, kExceptionCount> active_{};
  std::array<bool, kExceptionCount> lineLevels_{};
  std::array<int16_t, kExceptionCount> priority_{};
  std::vector<unsigned> activeStack_;
  unsigned prigroup_ = 0;
};

}  // namespace sim
