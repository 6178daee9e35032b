#include "apps/tracker/entry.h"

#include "apps/tracker/clock.h"
#include "apps/tracker/position_source.h"
#include "platform/driverlib.h"
#include "tracker/tracker.h"

namespace entry {

void setUpPositionLink() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART2);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOD);
  // PD7 is one of the chip's locked pins.
  GPIOUnlockPin(GPIO_PORTD_BASE, GPIO_PIN_7);
  GPIOPinTypeUART(GPIO_PORTD_BASE, GPIO_PIN_6 | GPIO_PIN_7);
  GPIOPinConfigure(GPIO_PD6_U2RX);
  GPIOPinConfigure(GPIO_PD7_U2TX);
  UARTConfigSetExpClk(UART2_BASE, SysCtlClockGet(), 9600,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
}

void bringUp() {
  setPins();
  clockConfig();
  setUpPositionLink();
  pulseSensorConfig();
  pulseSensorTimerConfig();
  sim900UartConfig();
  pressConfig();
  postToDataTimerConfig();
  gpsConfig();
}

}  // namespace entry
