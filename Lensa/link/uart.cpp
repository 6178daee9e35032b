#include "uart.h"

#include "buffer.h"
#include "camera_link/settings.h"
#include "platform/driverlib.h"

namespace {

uint8_t storage[kCameraReceiveBufferSize];
struct Buffer received = {storage, 0, 0, kCameraReceiveBufferSize};
volatile uint32_t dropped = 0;

static_assert((kCameraReceiveBufferSize & (kCameraReceiveBufferSize - 1)) == 0, "a power of two");

}  // namespace

void UART5_Init() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART5);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOE);
  GPIOPinTypeUART(GPIO_PORTE_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinConfigure(GPIO_PE4_U5RX);
  GPIOPinConfigure(GPIO_PE5_U5TX);
  UARTConfigSetExpClk(UART5_BASE, SysCtlClockGet(), camera_link::settings::kBaud,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  // The time-out interrupt brings in what stays below the FIFO level.
  UARTIntEnable(UART5_BASE, UART_INT_RX | UART_INT_RT);
  // Enabling interrupts globally is left to the application.
  UARTIntRegister(UART5_BASE, UART5_IntHandler);
}

void UART5_IntHandler() {
  UARTIntClear(UART5_BASE, UART_INT_RX | UART_INT_RT);
  while (UARTCharsAvail(UART5_BASE)) {
    const uint8_t byte = static_cast<uint8_t>(UARTCharGetNonBlocking(UART5_BASE) & 0xFF);
    if (!Buffer_Put(received, byte)) {
      dropped = dropped + 1;
    }
  }
}

unsigned char UART5_WriteBytes(const uint8_t* data, uint32_t count) {
  for (uint32_t index = 0; index < count; ++index) {
    UARTCharPut(UART5_BASE, data[index]);
  }
  return 1;
}

uint32_t UART5_Available() { return Buffer_Count(received); }

uint32_t UART5_ReadBytes(uint8_t* data, uint32_t count) { return Buffer_Take(received, data, count); }

uint32_t UART5_DroppedBytes() { return dropped; }
