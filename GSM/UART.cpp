#include "UART.h"

#include "delay.h"
#include "gsm/serial_settings.h"
#include "platform/driverlib.h"

namespace {

struct Wiring {
  uint32_t uartPeripheral;
  uint32_t gpioPeripheral;
  uint32_t port;
  uint8_t pins;
  uint32_t receive;
  uint32_t transmit;
};

constexpr Wiring kWirings[] = {
    {SYSCTL_PERIPH_UART0, SYSCTL_PERIPH_GPIOA, GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PA0_U0RX, GPIO_PA1_U0TX},
    {SYSCTL_PERIPH_UART1, SYSCTL_PERIPH_GPIOB, GPIO_PORTB_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PB0_U1RX, GPIO_PB1_U1TX},
    {SYSCTL_PERIPH_UART2, SYSCTL_PERIPH_GPIOD, GPIO_PORTD_BASE, GPIO_PIN_6 | GPIO_PIN_7, GPIO_PD6_U2RX, GPIO_PD7_U2TX},
    {SYSCTL_PERIPH_UART3, SYSCTL_PERIPH_GPIOC, GPIO_PORTC_BASE, GPIO_PIN_6 | GPIO_PIN_7, GPIO_PC6_U3RX, GPIO_PC7_U3TX},
    {SYSCTL_PERIPH_UART4, SYSCTL_PERIPH_GPIOC, GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5, GPIO_PC4_U4RX, GPIO_PC5_U4TX},
    {SYSCTL_PERIPH_UART5, SYSCTL_PERIPH_GPIOE, GPIO_PORTE_BASE, GPIO_PIN_4 | GPIO_PIN_5, GPIO_PE4_U5RX, GPIO_PE5_U5TX},
    {SYSCTL_PERIPH_UART6, SYSCTL_PERIPH_GPIOD, GPIO_PORTD_BASE, GPIO_PIN_4 | GPIO_PIN_5, GPIO_PD4_U6RX, GPIO_PD5_U6TX},
    {SYSCTL_PERIPH_UART7, SYSCTL_PERIPH_GPIOE, GPIO_PORTE_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PE0_U7RX, GPIO_PE1_U7TX},
};

constexpr Wiring kWiring = kWirings[gsm::settings::kUart];
constexpr uint32_t kUart = platform::kUartBases[gsm::settings::kUart];
constexpr uint32_t kTimer = TIMER0_BASE + gsm::settings::kTimer * 0x1000;
constexpr uint32_t kTimerPeripheral = SYSCTL_PERIPH_TIMER0 + gsm::settings::kTimer;

}  // namespace

void UART_Init() {
  SysCtlPeripheralEnable(kWiring.uartPeripheral);
  SysCtlPeripheralEnable(kWiring.gpioPeripheral);
  if (gsm::settings::kUart == 2) {
    GPIOUnlockPin(kWiring.port, GPIO_PIN_7);  // PD7 is locked at reset
  }
  GPIOPinTypeUART(kWiring.port, kWiring.pins);
  GPIOPinConfigure(kWiring.receive);
  GPIOPinConfigure(kWiring.transmit);
  UARTConfigSetExpClk(kUart, SysCtlClockGet(), gsm::settings::kBaud,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  SysCtlPeripheralEnable(kTimerPeripheral);
  TimerConfigure(kTimer, TIMER_CFG_ONE_SHOT);
}

void UART_SendStr(const unsigned char* text) {
  while (*text != 0) {
    UARTCharPut(kUart, *text++);
  }
}

void UART_SendChar(unsigned char character) { UARTCharPut(kUart, character); }

void UART_RecCharwTimeOut(unsigned char* character) {
  // Timed by the timer, not by counting passes: the wait is the same
  // whatever the loop costs.
  TimerDisable(kTimer, TIMER_A);
  TimerIntClear(kTimer, TIMER_TIMA_TIMEOUT);
  TimerLoadSet(kTimer, TIMER_A, SysCtlClockGet() / 1000 * kCharacterTimeoutMs);
  TimerEnable(kTimer, TIMER_A);
  for (;;) {
    if (UARTCharsAvail(kUart)) {
      *character = static_cast<unsigned char>(UARTCharGetNonBlocking(kUart) & 0xFF);
      // The modem never sends a zero byte; one from a noisy line would read
      // as the time-out and cut a reply in two.
      if (*character == 0) {
        continue;
      }
      break;
    }
    if ((TimerIntStatus(kTimer, false) & TIMER_TIMA_TIMEOUT) != 0) {
      *character = 0;
      break;
    }
  }
  TimerDisable(kTimer, TIMER_A);
}

void UART_Discard() {
  while (UARTCharsAvail(kUart)) {
    (void)UARTCharGetNonBlocking(kUart);
  }
}
