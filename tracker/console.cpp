// Board bring-up, the console and the serial text output.
#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

void sendUartString(uint32_t nBase, const char* nData) {
  while (*nData != '\0') {
    if (UARTSpaceAvail(nBase)) {
      UARTCharPut(nBase, static_cast<unsigned char>(*nData));
      nData++;
    }
  }
}

void flushUART() {
  while (UARTCharsAvail(UART4_BASE)) {
    (void)UARTCharGet(UART4_BASE);
  }
}

void ledLight(uint8_t led, int millisec) {
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, led, led);
  waitMilliseconds(static_cast<uint32_t>(millisec));
  GPIOPinWrite(GPIO_PORTF_BASE, led, 0);
  waitMilliseconds(static_cast<uint32_t>(millisec));
}

void InitPCConsole() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  UARTFIFODisable(UART0_BASE);
  UARTEnable(UART0_BASE);  // switches the FIFOs back on
  sendUartString(UART0_BASE, "UART Setup Completed\n");
}

void setPins() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
  // pulse keeps its initial 20: the first report counts from it.
  InitPCConsole();
  cameraConfig();
  GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_3);
  GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_2);
  GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_1);
}
