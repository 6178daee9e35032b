#include "platform/sysctl.h"

#include <array>

#include "platform/hw.h"
#include "platform/registers.h"

namespace {

using namespace reg::sysctl;

constexpr uint32_t kPllFrequency = 400000000;
constexpr uint32_t kPrecisionInternalOsc = 16000000;
constexpr uint32_t kLowFrequencyInternalOsc = 30000;
constexpr uint32_t kHibernateOsc = 32768;

// Crystal frequencies by RCC XTAL field value.
constexpr std::array<uint32_t, 27> kCrystals = {
    1000000,  1843200,  2000000,  2457600,  3579545,  3686400,  4000000,
    4096000,  4915200,  5000000,  5120000,  6000000,  6144000,  7372800,
    8000000,  8192000,  10000000, 12000000, 12288000, 13560000, 14318180,
    16000000, 16384000, 18000000, 20000000, 24000000, 25000000};

uint32_t read(uint32_t offset) { return hw::read32(kBase + offset); }
void write(uint32_t offset, uint32_t value) { hw::write32(kBase + offset, value); }

uint32_t classOffset(uint32_t peripheral) { return (peripheral >> 8) & 0xFFU; }
uint32_t peripheralBit(uint32_t peripheral) { return 1U << (peripheral & 0xFFU); }

uint32_t oscillatorFrequency(uint32_t source, uint32_t rcc) {
  switch (source) {
    case 0: {
      uint32_t xtal = (rcc & kRccXtalMask) >> kRccXtalShift;
      return xtal < kCrystals.size() ? kCrystals[xtal] : 0;
    }
    case 1:
      return kPrecisionInternalOsc;
    case 2:
      return kPrecisionInternalOsc / 4;
    case 3:
      return kLowFrequencyInternalOsc;
    case 7:
      return kHibernateOsc;
    default:
      return 0;
  }
}

}  // namespace

void SysCtlDelay(uint32_t count) { hw::delayLoop(count); }

void SysCtlClockSet(uint32_t config) {
  const bool useRcc2 = (config & kRcc2UseRcc2) != 0;
  const bool usePll = (config & kRccBypass) == 0;
  uint32_t rcc = read(kRcc);
  uint32_t rcc2 = read(kRcc2);

  // Run from the raw oscillator, undivided, while the PLL settles.
  rcc |= kRccBypass;
  rcc &= ~kRccUseSysDiv;
  rcc2 |= kRcc2Bypass;
  write(kRcc, rcc);
  write(kRcc2, rcc2);

  // The main oscillator must run before it can be selected.
  if ((config & kRccOscSourceMask) == 0 && (rcc & kRccMainOscDisable) != 0) {
    rcc &= ~kRccMainOscDisable;
    write(kRcc, rcc);
    while ((read(kRis) & kRisMainOscPowerUp) == 0) {
    }
  }

  rcc &= ~(kRccXtalMask | kRccOscSourceMask | kRccPowerDown | kRccPllOutputEnable |
           kRccMainOscDisable | kRccInternalOscDisable);
  rcc |= config & (kRccXtalMask | kRccOscSourceMask | kRccPowerDown | kRccPllOutputEnable |
                   kRccMainOscDisable | kRccInternalOscDisable);
  rcc2 &= ~(kRcc2UseRcc2 | kRcc2Div400 | kRcc2OscSourceMask | kRcc2PowerDown |
            kRcc2SysDiv400Mask);
  if (useRcc2) {
    rcc2 |= kRcc2UseRcc2 | (config & (kRcc2Div400 | kRcc2SysDiv400Mask));
    rcc2 |= ((config & kRccOscSourceMask) >> 4) << kRcc2OscSourceShift;
    if (!usePll) {
      rcc2 |= kRcc2PowerDown;
    }
  }
  write(kMisc, kRisPllLock);
  write(kRcc, rcc);
  write(kRcc2, rcc2);

  // Divider next, then wait for the lock before leaving the bypass.
  rcc &= ~kRccSysDivMask;
  rcc |= config & (kRccSysDivMask | kRccUseSysDiv);
  if (useRcc2) {
    // RCC2 holds the divisor; RCC still switches the divider on.
    rcc |= kRccUseSysDiv;
  }
  if (usePll) {
    while ((read(kPllStat) & kPllStatLock) == 0) {
    }
    rcc &= ~kRccBypass;
    rcc2 &= ~kRcc2Bypass;
  }
  write(kRcc, rcc);
  write(kRcc2, rcc2);
}

uint32_t SysCtlClockGet() {
  const uint32_t rcc = read(kRcc);
  const uint32_t rcc2 = read(kRcc2);
  const bool useRcc2 = (rcc2 & kRcc2UseRcc2) != 0;

  const uint32_t source =
      useRcc2 ? (rcc2 & kRcc2OscSourceMask) >> kRcc2OscSourceShift : (rcc & kRccOscSourceMask) >> 4;
  const bool bypass = useRcc2 ? (rcc2 & kRcc2Bypass) != 0 : (rcc & kRccBypass) != 0;
  uint32_t clock = oscillatorFrequency(source, rcc);

  const bool div400 = useRcc2 && (rcc2 & kRcc2Div400) != 0;
  if (!bypass) {
    // The PLL runs at 400 MHz and is halved before the divider unless DIV400.
    clock = div400 ? kPllFrequency : kPllFrequency / 2;
  }
  if ((rcc & kRccUseSysDiv) != 0) {
    if (useRcc2) {
      clock /= (div400 && !bypass) ? ((rcc2 & kRcc2SysDiv400Mask) >> kRcc2SysDiv2LsbShift) + 1
                                   : ((rcc2 & kRcc2SysDiv2Mask) >> kRcc2SysDiv2Shift) + 1;
    } else {
      clock /= ((rcc & kRccSysDivMask) >> kRccSysDivShift) + 1;
    }
  }
  return clock;
}

void SysCtlPeripheralEnable(uint32_t peripheral) {
  const uint32_t offset = kRunClockGating + classOffset(peripheral);
  write(offset, read(offset) | peripheralBit(peripheral));
}

void SysCtlPeripheralDisable(uint32_t peripheral) {
  const uint32_t offset = kRunClockGating + classOffset(peripheral);
  write(offset, read(offset) & ~peripheralBit(peripheral));
}

bool SysCtlPeripheralReady(uint32_t peripheral) {
  return (read(kPeripheralReady + classOffset(peripheral)) & peripheralBit(peripheral)) != 0;
}
