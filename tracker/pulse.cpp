// Pulse sampling: ten conversions a second, counting those above the threshold.
#include <cstdio>

#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {
constexpr int kThreshold = 2300;
}  // namespace

void pulseSensorConfig() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOE);
  GPIOPinTypeADC(GPIO_PORTE_BASE, GPIO_PIN_3);
  ADCSequenceConfigure(ADC0_BASE, 3, ADC_TRIGGER_PROCESSOR, 0);
  ADCSequenceStepConfigure(ADC0_BASE, 3, 0, ADC_CTL_CH0 | ADC_CTL_IE | ADC_CTL_END);
  ADCSequenceEnable(ADC0_BASE, 3);
  ADCIntClear(ADC0_BASE, 3);
}

void pulseSensorTimerConfig() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0);
  TimerConfigure(TIMER0_BASE, TIMER_CFG_PERIODIC);
  TimerLoadSet(TIMER0_BASE, TIMER_A, SysCtlClockGet() / 10);
  TimerIntRegister(TIMER0_BASE, TIMER_A, Int_PulseTimer);
  TimerIntEnable(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  IntPrioritySet(INT_TIMER0A, 5);
  TimerEnable(TIMER0_BASE, TIMER_A);
  IntMasterEnable();
}

void Int_PulseTimer() {
  TimerIntClear(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  ADCProcessorTrigger(ADC0_BASE, 3);
  while (ADCIntStatus(ADC0_BASE, 3, false) == 0) {
  }
  ADCIntClear(ADC0_BASE, 3);
  ADCSequenceDataGet(ADC0_BASE, 3, AdcValues);
  const int res = static_cast<int>(AdcValues[0]);
  // Held at 255 rather than wrapped: a racing pulse must not report as the
  // lowest.
  if (res > kThreshold && pulse < 255) {
    pulse = static_cast<uint8_t>(pulse + 1);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(res));
  sendUartString(UART0_BASE, text);
  sendUartString(UART0_BASE, "\n");
}
