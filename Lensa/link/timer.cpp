#include "timer.h"

#include "platform/driverlib.h"

void TIMER0_SetTimer(uint32_t cycles) {
  if (!SysCtlPeripheralReady(SYSCTL_PERIPH_TIMER0)) {
    SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0);
    while (!SysCtlPeripheralReady(SYSCTL_PERIPH_TIMER0)) {
    }
  }
  TimerConfigure(TIMER0_BASE, TIMER_CFG_ONE_SHOT);
  TimerIntClear(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  TimerLoadSet(TIMER0_BASE, TIMER_A, cycles);
  TimerEnable(TIMER0_BASE, TIMER_A);
}

unsigned char TIMER0_CheckTimeout() {
  return (TimerIntStatus(TIMER0_BASE, false) & TIMER_TIMA_TIMEOUT) != 0 ? 1 : 0;
}

void TIMER0_DisableTimer() { TimerDisable(TIMER0_BASE, TIMER_A); }
