#include "platform/timer.h"

#include "platform/hw.h"
#include "platform/interrupt.h"
#include "platform/memmap.h"
#include "platform/registers.h"

namespace {

using namespace reg::timer;

uint32_t read(uint32_t base, uint32_t offset) { return hw::read32(base + offset); }
void write(uint32_t base, uint32_t offset, uint32_t value) { hw::write32(base + offset, value); }

unsigned timerIndex(uint32_t base) { return ((base - kTimer0) / kSpacing) % kCount; }

// The enable bits that a TIMER_A / TIMER_B / TIMER_BOTH selection names.
uint32_t enableBits(uint32_t timer) {
  return timer & (kCtlTimerAEnable | kCtlTimerBEnable);
}

}  // namespace

void TimerConfigure(uint32_t base, uint32_t config) {
  write(base, kCtl, read(base, kCtl) & ~(kCtlTimerAEnable | kCtlTimerBEnable));
  write(base, kCfg, config >> 24);
  write(base, kTamr, config & 0xFFU);
  write(base, kTbmr, (config >> 8) & 0xFFU);
}

void TimerLoadSet(uint32_t base, uint32_t timer, uint32_t value) {
  if ((timer & TIMER_A) != 0) {
    write(base, kTailr, value);
  }
  if ((timer & TIMER_B) != 0) {
    write(base, kTbilr, value);
  }
}

uint32_t TimerLoadGet(uint32_t base, uint32_t timer) {
  return read(base, timer == TIMER_B ? kTbilr : kTailr);
}

void TimerEnable(uint32_t base, uint32_t timer) {
  write(base, kCtl, read(base, kCtl) | enableBits(timer));
}

void TimerDisable(uint32_t base, uint32_t timer) {
  write(base, kCtl, read(base, kCtl) & ~enableBits(timer));
}

uint32_t TimerValueGet(uint32_t base, uint32_t timer) {
  return read(base, timer == TIMER_B ? kTbr : kTar);
}

void TimerIntRegister(uint32_t base, uint32_t timer, void (*handler)()) {
  const unsigned index = timerIndex(base);
  if ((timer & TIMER_A) != 0) {
    IntRegister(platform::kTimerAInterrupts[index], handler);
    IntEnable(platform::kTimerAInterrupts[index]);
  }
  if ((timer & TIMER_B) != 0) {
    IntRegister(platform::kTimerBInterrupts[index], handler);
    IntEnable(platform::kTimerBInterrupts[index]);
  }
}

void TimerIntEnable(uint32_t base, uint32_t flags) { write(base, kImr, read(base, kImr) | flags); }

void TimerIntDisable(uint32_t base, uint32_t flags) {
  write(base, kImr, read(base, kImr) & ~flags);
}

uint32_t TimerIntStatus(uint32_t base, bool masked) { return read(base, masked ? kMis : kRis); }

void TimerIntClear(uint32_t base, uint32_t flags) { write(base, kIcr, flags); }
