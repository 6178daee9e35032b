// Serial echo: prompt on the console, then every character received is sent
// back, with a short flash of the blue LED.
#include "platform/driverlib.h"
#include "platform/hw.h"
#include "platform/rom.h"
#include "vectors.h"

namespace {

constexpr uint32_t kClock16MHzCrystal = 0x07803D40;  // main oscillator, no PLL, undivided
constexpr uint32_t kFrame8N1 = 0x60;
constexpr uint8_t kPrompt[] = "\x1B[2JEnter text: ";
static_assert(sizeof kPrompt - 1 == 16);

}  // namespace

// Puts each byte without waiting: one that finds the FIFO full is dropped.
void UARTSend(const uint8_t* pui8Buffer, uint32_t ui32Count) {
  while (ui32Count-- != 0) {
    ROM_UARTCharPutNonBlocking(UART0_BASE, *pui8Buffer++);
  }
}

void UARTIntHandler() {
  const uint32_t ui32Status = ROM_UARTIntStatus(UART0_BASE, true);
  ROM_UARTIntClear(UART0_BASE, ui32Status);
  while (ROM_UARTCharsAvail(UART0_BASE)) {
    ROM_UARTCharPutNonBlocking(UART0_BASE,
                               static_cast<unsigned char>(ROM_UARTCharGetNonBlocking(UART0_BASE) & 0xFF));
    GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
    SysCtlDelay(SysCtlClockGet() / 3000);
    GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  }
}

int main() {
  ROM_FPUEnable();
  ROM_FPULazyStackingEnable();
  ROM_SysCtlClockSet(kClock16MHzCrystal);
  ROM_SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
  ROM_GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_2);
  ROM_SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  ROM_SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  ROM_IntMasterEnable();
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  ROM_GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  ROM_UARTConfigSetExpClk(UART0_BASE, ROM_SysCtlClockGet(), 115200, kFrame8N1);
  ROM_IntEnable(INT_UART0);
  ROM_UARTIntEnable(UART0_BASE, UART_INT_RX | UART_INT_RT);
  UARTSend(kPrompt, 16);
  hw::spinForever();
}
