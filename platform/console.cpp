#include "platform/console.h"

#include "platform/memmap.h"
#include "platform/registers.h"
#include "platform/sysctl.h"
#include "platform/uart.h"
#include "platform/hw.h"

void consoleWrite(const char* data, size_t size) {
  if (!SysCtlPeripheralReady(SYSCTL_PERIPH_UART0) ||
      (hw::read32(UART0_BASE + reg::uart::kCtl) & reg::uart::kCtlEnable) == 0) {
    return;
  }
  for (size_t index = 0; index < size; ++index) {
    UARTCharPut(UART0_BASE, static_cast<unsigned char>(data[index]));
  }
}
