#include <array>

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::sysctl;

constexpr Time kPllLockTime = microseconds(100);
// Access to a block is allowed this many system clocks after its gate opens.
constexpr uint64_t kReadyCycles = 3;

enum Event : uint32_t { kPllLocked };

constexpr std::array<uint32_t, 27> kCrystalHz = {
    1000000,  1843200,  2000000,  2457600,  3579545,  3686400,  4000000,
    4096000,  4915200,  5000000,  5120000,  6000000,  6144000,  7372800,
    8000000,  8192000,  10000000, 12000000, 12288000, 13560000, 14318180,
    16000000, 16384000, 18000000, 20000000, 24000000, 25000000};

bool inClassRange(uint32_t offset, uint32_t first) {
  return offset >= first && offset < first + 0x80 && (offset & 3U) == 0;
}

}  // namespace

SystemControl::SystemControl(Board& board)
    : Device(board, "system control", kBase), rcc_(kResetRcc), rcc2_(kResetRcc2) {
  ris_ = kRisMainOscPowerUp;
}

uint32_t SystemControl::clockHz() const {
  const bool useRcc2 = (rcc2_ & kRcc2UseRcc2) != 0;
  const uint32_t source = useRcc2 ? (rcc2_ >> 4) & 0x7U : (rcc_ >> 4) & 0x3U;
  const bool bypass = useRcc2 ? (rcc2_ & kRcc2Bypass) != 0 : (rcc_ & kRccBypass) != 0;
  uint64_t hz = 0;
  switch (source) {
    case 0: {
      const uint32_t xtal = (rcc_ >> 6) & 0x1FU;
      hz = xtal < kCrystalHz.size() ? kCrystalHz[xtal] : 0;
      break;
    }
    case 1:
      hz = 16000000;
      break;
    case 2:
      hz = 4000000;
      break;
    case 3:
      hz = 30000;
      break;
    case 7:
      hz = 32768;
      break;
    default:
      hz = 0;
  }
  const bool div400 = useRcc2 && (rcc2_ & kRcc2Div400) != 0;
  if (!bypass) {
    hz = div400 ? 400000000 : 200000000;
  }
  if ((rcc_ & kRccUseSysDiv) != 0) {
    uint32_t divisor;
    if (!useRcc2) {
      divisor = ((rcc_ >> 23) & 0xFU) + 1;
    } else if (div400 && !bypass) {
      divisor = ((rcc2_ >> 22) & 0x7FU) + 1;
    } else {
      divisor = ((rcc2_ >> 23) & 0x3FU) + 1;
    }
    hz /= divisor;
  }
  return static_cast<uint32_t>(hz);
}

void SystemControl::clockChanged() { board_.clockChanged(clockHz()); }

bool SystemControl::clocked(uint32_t classOffset, uint32_t bit) const {
  return ((gating_[classOffset / 4] >> bit) & 1U) != 0;
}

bool SystemControl::ready(uint32_t classOffset, uint32_t bit) const {
  return clocked(classOffset, bit) && board_.now() >= readyAt_[classOffset / 4][bit];
}

uint32_t SystemControl::read(uint32_t offset) {
  switch (offset) {
    case kRis:
      return ris_;
    case kRcc:
      return rcc_;
    case kRcc2:
      return rcc2_;
    case kMoscCtl:
      return moscCtl_;
    case kPllStat:
      return pllLocked_ ? kPllStatLock : 0;
    default:
      break;
  }
  if (inClassRange(offset, kRunClockGating)) {
    return gating_[(offset - kRunClockGating) / 4];
  }
  if (inClassRange(offset, kPeripheralReady)) {
    const uint32_t index = (offset - kPeripheralReady) / 4;
    uint32_t value = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
      if (ready(index * 4, bit)) {
        value |= 1U << bit;
      }
    }
    return value;
  }
  unknownRegister(offset, "read");
}

void SystemControl::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kMisc:
      ris_ &= ~(value & kRisPllLock);
      return;
    case kRcc:
    case kRcc2: {
      const bool pllWasOn = (rcc2_ & kRcc2UseRcc2) != 0 ? (rcc2_ & kRcc2PowerDown) == 0
                                                        : (rcc_ & kRccPowerDown) == 0;
      const uint32_t xtalBefore = rcc_ & kRccXtalMask;
      (offset == kRcc ? rcc_ : rcc2_) = value;
      const bool pllOn = (rcc2_ & kRcc2UseRcc2) != 0 ? (rcc2_ & kRcc2PowerDown) == 0
                                                     : (rcc_ & kRccPowerDown) == 0;
      if (pllOn && (!pllWasOn || xtalBefore != (rcc_ & kRccXtalMask))) {
        pllLocked_ = false;
        board_.schedule(board_.now() + kPllLockTime, this, kPllLocked, ++pllGeneration_);
      } else if (!pllOn) {
        pllLocked_ = false;
        ++pllGeneration_;
      }
      clockChanged();
      return;
    }
    case kMoscCtl:
      moscCtl_ = value;
      return;
    default:
      break;
  }
  if (inClassRange(offset, kRunClockGating)) {
    const uint32_t index = (offset - kRunClockGating) / 4;
    const uint32_t opened = value & ~gating_[index];
    for (uint32_t bit = 0; bit < 32; ++bit) {
      if (((opened >> bit) & 1U) != 0) {
        // Counted from the end of this write's bus access, which the
        // emulated board charges after it. The simulated board cannot count
        // its code's cycles between two accesses: the rule holds there only
        // for accesses with none between, which its access cost covers.
        const uint64_t after = board_.emulated() ? kAccessCycles + kReadyCycles : kReadyCycles;
        readyAt_[index][bit] = board_.now() + after * board_.cycleTime();
      }
    }
    gating_[index] = value;
    return;
  }
  unknownRegister(offset, "write");
}

void SystemControl::onEvent(uint32_t kind, uint64_t argument) {
  if (kind == kPllLocked && argument == pllGeneration_) {
    pllLocked_ = true;
    ris_ |= kRisPllLock;
  }
}

}  // namespace sim
