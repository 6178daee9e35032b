#include "apps/tracker/clock.h"

#include "platform/driverlib.h"

namespace entry {

namespace {

uint32_t lastCount = 0xFFFFFFFF;
uint64_t elapsed = 0;
// The processor clock, set once by the bring-up before the clock starts.
uint32_t cyclesPerSecond = 1;

}  // namespace

void clockConfig() {
  cyclesPerSecond = SysCtlClockGet();
  SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER3);
  TimerConfigure(TIMER3_BASE, TIMER_CFG_PERIODIC);
  TimerLoadSet(TIMER3_BASE, TIMER_A, 0xFFFFFFFF);
  TimerEnable(TIMER3_BASE, TIMER_A);
}

uint64_t clockCycles() {
  // Handlers read it too: one reader at a time.
  const bool wasDisabled = IntMasterDisable();
  const uint32_t count = TimerValueGet(TIMER3_BASE, TIMER_A);
  // The timer counts down and reloads; the difference wraps with it.
  elapsed += lastCount - count;
  lastCount = count;
  const uint64_t cycles = elapsed;
  if (!wasDisabled) {
    IntMasterEnable();
  }
  return cycles;
}

uint32_t clockSeconds() { return static_cast<uint32_t>(clockCycles() / cyclesPerSecond); }

uint64_t clockCyclesIn(uint32_t seconds) { return static_cast<uint64_t>(seconds) * cyclesPerSecond; }

}  // namespace entry
