#include "sim/system_control_space.h"

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::core;

constexpr uint32_t kBlock = 0xE000E000;
constexpr uint32_t kCpuIdValue = 0x410FC241;  // Cortex-M4 r0p1
constexpr uint32_t kVectorKey = 0x05FA0000;
constexpr uint32_t kSystemResetRequest = 1U << 2;
constexpr uint32_t kCountFlag = 1U << 16;
constexpr uint32_t kClockSourceCore = 1U << 2;
constexpr uint32_t kTickInterrupt = 1U << 1;
// The reference clock when CLKSOURCE is 0: PIOSC divided by four.
constexpr Time kReferenceTick = kPicosecondsPerSecond / 4000000;
// CCR's traps on every unaligned access and on division by zero.
constexpr uint32_t kUnmodelledTraps = (1U << 3) | (1U << 4);

// ICSR's bits.
constexpr uint32_t kNmiPendSet = 1U << 31;
constexpr uint32_t kPendSvSet = 1U << 28;
constexpr uint32_t kPendSvClear = 1U << 27;
constexpr uint32_t kPendStSet = 1U << 26;
constexpr uint32_t kPendStClear = 1U << 25;
constexpr uint32_t kIsrPending = 1U << 22;
constexpr uint32_t kReturnToBase = 1U << 11;

enum Event : uint32_t { kReachedZero };

uint32_t offsetOf(uint32_t address) { return address - kBlock; }

// Which of the five words of an enable, pending or active bank an offset is.
bool inBank(uint32_t offset, uint32_t bank, unsigned& word) {
  const uint32_t first = offsetOf(bank);
  if (offset < first || offset >= first + 5 * 4) {
    return false;
  }
  word = (offset - first) / 4;
  return true;
}

}  // namespace

// SysTick.

Time SystemTick::tick() const {
  return (control_ & kClockSourceCore) != 0 ? board_.cycleTime() : kReferenceTick;
}

uint32_t SystemTick::current() const {
  if (!counting() || tick_ == 0 || board_.now() < anchor_) {
    return value_;
  }
  const uint64_t elapsed = (board_.now() - anchor_) / tick_;
  if (elapsed <= value_) {
    return static_cast<uint32_t>(value_ - elapsed);
  }
  // Past zero it reloads on the next tick, then counts RELOAD+1 a turn.
  if (reload_ == 0) {
    return 0;
  }
  return reload_ - static_cast<uint32_t>((elapsed - value_ - 1) % (uint64_t{reload_} + 1));
}

void SystemTick::start(uint32_t from, Time at) {
  ++generation_;
  anchor_ = at;
  value_ = from;
  tick_ = tick();
  if (tick_ != 0 && (value_ != 0 || reload_ != 0)) {
    board_.schedule(anchor_ + value_ * tick_, this, kReachedZero, generation_);
  }
}

void SystemTick::onEvent(uint32_t kind, uint64_t argument) {
  if (kind != kReachedZero || argument != generation_ || !counting()) {
    return;
  }
  // Counting from 1 to 0 sets COUNTFLAG; a start from 0 only reloads.
  if (value_ != 0) {
    countFlag_ = true;
    if ((control_ & kTickInterrupt) != 0) {
      board_.interrupts().setPending(kSysTick, true);
    }
  }
  if (reload_ != 0) {
    start(reload_, board_.now() + tick_);
  } else {
    value_ = 0;
    anchor_ = board_.now();
  }
}

uint32_t SystemTick::control() {
  const uint32_t value = control_ | (countFlag_ ? kCountFlag : 0U);
  countFlag_ = false;
  return value;
}

void SystemTick::setControl(uint32_t value) {
  const bool was = counting();
  const uint32_t count = current();
  control_ = value & 0x7U;
  if (counting() && !was) {
    start(count, board_.now());
  } else if (!counting() && was) {
    value_ = count;
    ++generation_;
  } else if (counting()) {
    start(count, board_.now());  // the clock source may have changed
  }
}

void SystemTick::clearCurrent() {
  countFlag_ = false;
  value_ = 0;
  if (counting()) {
    start(0, board_.now());
  }
}

void SystemTick::clockChanged() {
  if (counting()) {
    start(current(), board_.now());
  }
}

// The rest of the block.

SystemControlSpace::SystemControlSpace(Board& board)
    : Device(board, "NVIC and system control block", kBlock), tick_(board) {}

void SystemControlSpace::reset() {
  tick_.setControl(0);
  tick_.setReload(0);
  tick_.clearCurrent();
  cpacr_ = 0;
  fpccr_ = 0xC0000000;
  fpcar_ = 0;
  faultEnables_ = 0;
  cfsr_ = hfsr_ = mmfar_ = bfar_ = 0;
  ccr_ = 0x200;
  scr_ = 0;
  systemPriority_ = {};
}

uint32_t SystemControlSpace::systemHandlerControl() const {
  const InterruptController& nvic = board_.interrupts();
  constexpr struct {
    unsigned vector;
    unsigned bit;
  } kActive[] = {{kMemManage, 0}, {kBusFault, 1}, {kUsageFault, 3}, {kSvCall, 7}, {kDebugMonitor, 8}, {kPendSv, 10}, {kSysTick, 11}};
  uint32_t value = faultEnables_;
  for (const auto& entry : kActive) {
    value |= nvic.active(entry.vector) ? 1U << entry.bit : 0U;
  }
  value |= nvic.pending(kUsageFault) ? 1U << 12 : 0U;
  value |= nvic.pending(kMemManage) ? 1U << 13 : 0U;
  value |= nvic.pending(kBusFault) ? 1U << 14 : 0U;
  value |= nvic.pending(kSvCall) ? 1U << 15 : 0U;
  return value;
}

uint32_t SystemControlSpace::interruptControl() const {
  const InterruptController& nvic = board_.interrupts();
  const int pending = nvic.highestPending();
  bool devicePending = false;
  for (unsigned vector = kFirstDeviceVector; vector < kExceptionCount && !devicePending; ++vector) {
    devicePending = nvic.pending(vector);
  }
  return nvic.current() | (nvic.activeCount() <= 1 ? kReturnToBase : 0U) |
         (pending > 0 ? static_cast<uint32_t>(pending) << 12 : 0U) | (devicePending ? kIsrPending : 0U) |
         (nvic.pending(kSysTick) ? kPendStSet : 0U) | (nvic.pending(kPendSv) ? kPendSvSet : 0U) |
         (nvic.pending(kNmi) ? kNmiPendSet : 0U);
}

uint32_t SystemControlSpace::read(uint32_t offset) {
  const InterruptController& nvic = board_.interrupts();
  unsigned word = 0;
  const auto bank = [&](auto test) {
    uint32_t value = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
      const unsigned n = word * 32 + bit;
      if (n < kDeviceInterrupts && test(n + kFirstDeviceVector)) {
        value |= 1U << bit;
      }
    }
    return value;
  };
  if (inBank(offset, kInterruptSetEnable, word) || inBank(offset, kInterruptClearEnable, word)) {
    return bank([&](unsigned n) { return nvic.enabled(n); });
  }
  if (inBank(offset, kInterruptSetPending, word) || inBank(offset, kInterruptClearPending, word)) {
    return bank([&](unsigned n) { return nvic.pending(n); });
  }
  if (inBank(offset, kInterruptActive, word)) {
    return bank([&](unsigned n) { return nvic.active(n); });
  }
  const uint32_t priorities = offsetOf(kInterruptPriority);
  if (offset >= priorities && offset < priorities + kDeviceInterrupts) {
    uint32_t value = 0;
    for (unsigned byte = 0; byte < 4; ++byte) {
      const unsigned n = offset - priorities + byte;
      value |= (n < kDeviceInterrupts ? static_cast<uint32_t>(nvic.priority(n + kFirstDeviceVector)) : 0U) << (8 * byte);
    }
    return value;
  }
  const uint32_t system = offsetOf(kSystemPriority);
  if (offset >= system && offset < system + systemPriority_.size()) {
    uint32_t value = 0;
    for (unsigned byte = 0; byte < 4; ++byte) {
      value |= static_cast<uint32_t>(systemPriority_[offset - system + byte]) << (8 * byte);
    }
    return value;
  }
  switch (offset + kBlock) {
    case kSystemTickControl: return tick_.control();
    case kSystemTickReload: return tick_.reload();
    case kSystemTickCurrent: return tick_.current();
    case kCpuId: return kCpuIdValue;
    case kInterruptControl: return interruptControl();
    case kVectorTableOffset: return board_.emulated() ? board_.vtor() : board_.vectorTableRegister();
    case kApplicationInterrupt: return 0xFA050000U | (nvic.grouping() << 8);
    case kSystemControl: return scr_;
    case kConfigurationControl: return ccr_;
    case kSystemHandlerControl: return systemHandlerControl();
    case kConfigurableFaultStatus: return cfsr_;
    case kHardFaultStatus: return hfsr_;
    case kMemManageFaultAddress: return mmfar_;
    case kBusFaultAddress: return bfar_;
    case kCoprocessorAccess: return cpacr_;
    case kFpContextControl: return fpccr_;
    case kFpContextAddress: return fpcar_;
    default: unknownRegister(offset, "read");
  }
}

void SystemControlSpace::write(uint32_t offset, uint32_t value) {
  InterruptController& nvic = board_.interrupts();
  unsigned word = 0;
  const auto each = [&](auto apply) {
    for (unsigned bit = 0; bit < 32; ++bit) {
      const unsigned n = word * 32 + bit;
      if (((value >> bit) & 1U) != 0 && n < kDeviceInterrupts) {
        apply(n + kFirstDeviceVector);
      }
    }
  };
  if (inBank(offset, kInterruptSetEnable, word)) {
    each([&](unsigned n) { nvic.setEnabled(n, true); });
    return;
  }
  if (inBank(offset, kInterruptClearEnable, word)) {
    each([&](unsigned n) { nvic.setEnabled(n, false); });
    return;
  }
  if (inBank(offset, kInterruptSetPending, word)) {
    each([&](unsigned n) { nvic.setPending(n, true); });
    return;
  }
  if (inBank(offset, kInterruptClearPending, word)) {
    each([&](unsigned n) { nvic.setPending(n, false); });
    return;
  }
  const uint32_t priorities = offsetOf(kInterruptPriority);
  const uint32_t system = offsetOf(kSystemPriority);
  if ((offset >= priorities && offset < priorities + kDeviceInterrupts) ||
      (offset >= system && offset < system + systemPriority_.size())) {
    for (unsigned byte = 0; byte < 4; ++byte) {
      writeNarrow(offset + byte, (value >> (8 * byte)) & 0xFFU, 1);
    }
    return;
  }
  switch (offset + kBlock) {
    case kSystemTickControl: tick_.setControl(value); return;
    case kSystemTickReload: tick_.setReload(value); return;
    case kSystemTickCurrent: tick_.clearCurrent(); return;
    case kInterruptControl:
      if ((value & kNmiPendSet) != 0) nvic.setPending(kNmi, true);
      if ((value & kPendSvSet) != 0) nvic.setPending(kPendSv, true);
      if ((value & kPendSvClear) != 0) nvic.setPending(kPendSv, false);
      if ((value & kPendStSet) != 0) nvic.setPending(kSysTick, true);
      if ((value & kPendStClear) != 0) nvic.setPending(kSysTick, false);
      return;
    case kVectorTableOffset:
      if (board_.emulated()) {
        board_.setVtor(value);
        return;
      }
      board_.fault("VTOR written directly: on the simulated board the table is set through the seam");
    case kApplicationInterrupt:
      // Without the key the write is ignored.
      if ((value & 0xFFFF0000U) == kVectorKey) {
        nvic.setGrouping((value >> 8) & 7U);
        if ((value & kSystemResetRequest) != 0) {
          board_.requestSystemReset();
        }
      }
      return;
    case kSystemControl: scr_ = value & 0x16U; return;
    case kConfigurationControl:
      if ((value & kUnmodelledTraps) != 0) {
        board_.fault("CCR: the traps on unaligned access and division by zero are not modelled");
      }
      ccr_ = (ccr_ & 0x200U) | (value & 0x303U);
      return;
    case kSystemHandlerControl:
      faultEnables_ = value & (7U << 16);
      nvic.setEnabled(kMemManage, (value & (1U << 16)) != 0);
      nvic.setEnabled(kBusFault, (value & (1U << 17)) != 0);
      nvic.setEnabled(kUsageFault, (value & (1U << 18)) != 0);
      return;
    case kConfigurableFaultStatus: cfsr_ &= ~value; return;  // write one to clear
    case kHardFaultStatus: hfsr_ &= ~value; return;
    case kMemManageFaultAddress: mmfar_ = value; return;
    case kBusFaultAddress: bfar_ = value; return;
    case kCoprocessorAccess: cpacr_ = value & kFullFpuAccess; return;
    case kSoftwareTrigger:
      if ((value & 0xFFU) < kDeviceInterrupts) {
        nvic.setPending((value & 0xFFU) + kFirstDeviceVector, true);
      }
      return;
    case kFpContextControl: fpccr_ = (fpccr_ & ~0xC0000001U) | (value & 0xC0000001U); return;
    case kFpContextAddress: fpcar_ = value & ~7U; return;
    default: unknownRegister(offset, "write");
  }
}

uint32_t SystemControlSpace::readNarrow(uint32_t offset, unsigned size) {
  const uint32_t word = read(offset & ~3U);
  return (word >> ((offset & 3U) * 8)) & (size == 1 ? 0xFFU : 0xFFFFU);
}

void SystemControlSpace::writeNarrow(uint32_t offset, uint32_t value, unsigned size) {
  const uint32_t priorities = offsetOf(kInterruptPriority);
  const uint32_t system = offsetOf(kSystemPriority);
  if (size == 1 && offset >= priorities && offset < priorities + kDeviceInterrupts) {
    board_.setPriority(offset - priorities + kFirstDeviceVector, static_cast<uint8_t>(value));
    return;
  }
  if (size == 1 && offset >= system && offset < system + systemPriority_.size()) {
    systemPriority_[offset - system] = static_cast<uint8_t>(value & 0xE0U);
    board_.setPriority(offset - system + 4, static_cast<uint8_t>(value));
    return;
  }
  // The fault status registers are cleared a byte or halfword at a time.
  const uint32_t status = offsetOf(kConfigurableFaultStatus);
  if (offset >= status && offset < status + 4) {
    cfsr_ &= ~((value & (size == 1 ? 0xFFU : 0xFFFFU)) << ((offset - status) * 8));
    return;
  }
  Device::writeNarrow(offset, value, size);
}

}  // namespace sim
