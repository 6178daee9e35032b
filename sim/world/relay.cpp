#include "sim/world/relay.h"

#include <cstdint>
#include <initializer_list>

#include "platform/driverlib.h"
#include "platform/hw.h"

namespace world {

namespace {

// Each byte as it arrives, either way: the FIFOs at 9600 baud hold many
// character times of the other side's.
void pass(uint32_t from, uint32_t to) {
  UARTIntClear(from, UART_INT_RX | UART_INT_RT);
  while (UARTCharsAvail(from)) {
    UARTCharPut(to, static_cast<unsigned char>(UARTCharGetNonBlocking(from)));
  }
}

void line(uint32_t base, uint32_t interrupt, void (*handler)()) {
  UARTConfigSetExpClk(base, SysCtlClockGet(), 9600, UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  UARTIntEnable(base, UART_INT_RX | UART_INT_RT);
  UARTIntRegister(base, handler);
  IntEnable(interrupt);
  UARTEnable(base);
}

}  // namespace

void relay() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  for (const uint32_t peripheral : {SYSCTL_PERIPH_UART1, SYSCTL_PERIPH_UART2, SYSCTL_PERIPH_UART4, SYSCTL_PERIPH_UART6,
                                    SYSCTL_PERIPH_GPIOB, SYSCTL_PERIPH_GPIOC, SYSCTL_PERIPH_GPIOD}) {
    SysCtlPeripheralEnable(peripheral);
  }
  GPIOPinTypeUART(GPIO_PORTB_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PB0_U1RX);
  GPIOPinConfigure(GPIO_PB1_U1TX);
  GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinConfigure(GPIO_PC4_U4RX);
  GPIOPinConfigure(GPIO_PC5_U4TX);
  GPIOUnlockPin(GPIO_PORTD_BASE, GPIO_PIN_7);
  GPIOPinTypeUART(GPIO_PORTD_BASE, GPIO_PIN_4 | GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7);
  GPIOPinConfigure(GPIO_PD4_U6RX);
  GPIOPinConfigure(GPIO_PD5_U6TX);
  GPIOPinConfigure(GPIO_PD6_U2RX);
  GPIOPinConfigure(GPIO_PD7_U2TX);
  line(UART4_BASE, INT_UART4, [] { pass(UART4_BASE, UART1_BASE); });
  line(UART1_BASE, INT_UART1, [] { pass(UART1_BASE, UART4_BASE); });
  line(UART2_BASE, INT_UART2, [] { pass(UART2_BASE, UART6_BASE); });
  line(UART6_BASE, INT_UART6, [] { pass(UART6_BASE, UART2_BASE); });
  IntMasterEnable();
  for (;;) {
    hw::waitForInterrupt();
  }
}

}  // namespace world
