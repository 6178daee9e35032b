// Raises the TIMER0 time-out after 1 ms, with no handler of its own, then
// keeps printing on the console.
#include "platform/driverlib.h"
#include "platform/hw.h"

int main() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, 0x60);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0);
  TimerConfigure(TIMER0_BASE, TIMER_CFG_ONE_SHOT);
  TimerLoadSet(TIMER0_BASE, TIMER_A, SysCtlClockGet() / 1000);
  TimerIntEnable(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  IntEnable(INT_TIMER0A);
  IntMasterEnable();
  TimerEnable(TIMER0_BASE, TIMER_A);
  for (;;) {
    UARTCharPut(UART0_BASE, '.');
    SysCtlDelay(SysCtlClockGet() / 3000 / 10);
  }
}
