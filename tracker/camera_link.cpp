// The camera link on UART5: whatever the camera sends is echoed to the console.
#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

// One byte as it is, zero included, with the wait of sendUartString.
void sendUartByte(uint32_t base, uint8_t byte) {
  while (!UARTSpaceAvail(base)) {
  }
  UARTCharPut(base, byte);
}

}  // namespace

void cameraConfig() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART5);
  UARTConfigSetExpClk(UART5_BASE, SysCtlClockGet(), 19200,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOE);
  GPIOPinTypeUART(GPIO_PORTE_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinConfigure(GPIO_PE5_U5TX);
  GPIOPinConfigure(GPIO_PE4_U5RX);
  UARTIntEnable(UART5_BASE, UART_INT_RX);
  UARTIntRegister(UART5_BASE, Int_Camera);
  IntEnable(INT_UART5);
  IntMasterEnable();
  UARTEnable(UART5_BASE);
}

void Int_Camera() {
  sendUartString(UART0_BASE, "camera-in\n");
  while (UARTCharsAvail(UART5_BASE)) {
    const uint8_t temp = static_cast<uint8_t>(UARTCharGetNonBlocking(UART5_BASE) & 0xFF);
    sendUartByte(UART0_BASE, temp);
    sendUartString(UART0_BASE, ",");
  }
  cameraIndex = 0;
  UARTIntClear(UART5_BASE, UART_INT_RX);
  sendUartString(UART0_BASE, "camera-out\n");
}

void sendCommandToCamera(uint32_t nBase, const uint8_t* nData, int size) {
  // Every byte waits for room: a command with bytes missing is no command.
  for (int var = 0; var < size; var++) {
    sendUartByte(nBase, nData[var]);
  }
}
