// Tells on the console whether start-up enabled the FPU and what a static
// constructor computed in floating point, raises the TIMER0 time-out after
// 1 ms with no handler of its own, then keeps printing.
#include "platform/driverlib.h"
#include "platform/hw.h"

namespace {
// Dynamic initialisation in single precision: on the chip these are FPU
// instructions run by start-up before main.
volatile float gain = 2.5f;
const int scaled = static_cast<int>(gain * 3.0f);
}  // namespace

int main() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, 0x60);
  const bool fpuOn = (hw::read32(0xE000ED88) & (0xFU << 20)) == (0xFU << 20);
  UARTCharPut(UART0_BASE, fpuOn ? 'F' : '-');
  UARTCharPut(UART0_BASE, static_cast<unsigned char>('0' + scaled));
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
