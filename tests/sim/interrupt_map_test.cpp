// The interrupt map of the TM4C123GH6PM, from the data sheet's table of
// interrupts, written out here as literals rather than taken from either the
// driver layer or the board model: both are checked against it.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/driverlib.h"
#include "sim/sim.h"

namespace {

using namespace sim;

// Device interrupt numbers (the vector-table entry is 16 more).
constexpr std::array<unsigned, 6> kGpioDataSheet = {0, 1, 2, 3, 4, 30};             // ports A to F
constexpr std::array<unsigned, 8> kUartDataSheet = {5, 6, 33, 59, 60, 61, 62, 63};  // UART0 to UART7
constexpr std::array<unsigned, 6> kTimerADataSheet = {19, 21, 23, 35, 70, 92};      // TIMER0A to TIMER5A
constexpr std::array<unsigned, 6> kTimerBDataSheet = {20, 22, 24, 36, 71, 93};      // TIMER0B to TIMER5B
constexpr unsigned kAdc0Sequencer3DataSheet = 17;
constexpr unsigned kFirstDeviceEntry = 16;

TEST(InterruptMap, DriverLayerConstantsAreTheDataSheetEntries) {
  const std::array<uint32_t, 6> gpio = {INT_GPIOA, INT_GPIOB, INT_GPIOC, INT_GPIOD, INT_GPIOE, INT_GPIOF};
  const std::array<uint32_t, 8> uart = {INT_UART0, INT_UART1, INT_UART2, INT_UART3,
                                        INT_UART4, INT_UART5, INT_UART6, INT_UART7};
  const std::array<uint32_t, 6> timerA = {INT_TIMER0A, INT_TIMER1A, INT_TIMER2A,
                                          INT_TIMER3A, INT_TIMER4A, INT_TIMER5A};
  const std::array<uint32_t, 6> timerB = {INT_TIMER0B, INT_TIMER1B, INT_TIMER2B,
                                          INT_TIMER3B, INT_TIMER4B, INT_TIMER5B};
  for (size_t i = 0; i < gpio.size(); ++i) {
    EXPECT_EQ(gpio[i], kGpioDataSheet[i] + kFirstDeviceEntry) << "GPIO port " << i;
  }
  for (size_t i = 0; i < uart.size(); ++i) {
    EXPECT_EQ(uart[i], kUartDataSheet[i] + kFirstDeviceEntry) << "UART" << i;
  }
  for (size_t i = 0; i < timerA.size(); ++i) {
    EXPECT_EQ(timerA[i], kTimerADataSheet[i] + kFirstDeviceEntry) << "TIMER" << i << "A";
    EXPECT_EQ(timerB[i], kTimerBDataSheet[i] + kFirstDeviceEntry) << "TIMER" << i << "B";
  }
  EXPECT_EQ(INT_ADC0SS3, kAdc0Sequencer3DataSheet + kFirstDeviceEntry);
  // The modem link's entry: 76, with SSI2 and SSI3 at 73 and 74.
  EXPECT_EQ(INT_UART4, 76U);
}

// Device interrupts pending at the interrupt controller, read from its
// set-pending registers.
std::vector<unsigned> pendingDeviceInterrupts() {
  std::vector<unsigned> pending;
  for (unsigned word = 0; word < 5; ++word) {
    const uint32_t bits = hw::read32(0xE000E200 + 4 * word);
    for (unsigned bit = 0; bit < 32; ++bit) {
      if ((bits >> bit) & 1U) {
        pending.push_back(word * 32 + bit);
      }
    }
  }
  return pending;
}

// Which line the block raised, by note: the pending device interrupts, none
// of them enabled, so they stay pending.
std::vector<unsigned> raisedLines(const Bench& bench, const std::function<void()>& setUp) {
  const auto run = bench.run(
      [&setUp] {
        setUp();
        runUntil(milliseconds(20));
        std::string text;
        for (unsigned line : pendingDeviceInterrupts()) {
          text += std::to_string(line) + " ";
        }
        note(text);
      },
      milliseconds(30));
  EXPECT_TRUE(run.ok()) << run.failure();
  std::vector<unsigned> lines;
  const std::string text = run.notes().at(0).second;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find(' ', at);
    lines.push_back(static_cast<unsigned>(std::stoul(text.substr(at, end - at))));
    at = end + 1;
  }
  return lines;
}

struct UartWiring {
  uint32_t gpioPeripheral;
  uint32_t port;
  uint8_t receivePin;
  uint32_t receiveFunction;
};

TEST(InterruptMap, EachUartRaisesItsDataSheetLine) {
  const std::array<UartWiring, 8> wiring = {{
      {SYSCTL_PERIPH_GPIOA, GPIO_PORTA_BASE, GPIO_PIN_0, GPIO_PA0_U0RX},
      {SYSCTL_PERIPH_GPIOB, GPIO_PORTB_BASE, GPIO_PIN_0, GPIO_PB0_U1RX},
      {SYSCTL_PERIPH_GPIOD, GPIO_PORTD_BASE, GPIO_PIN_6, GPIO_PD6_U2RX},
      {SYSCTL_PERIPH_GPIOC, GPIO_PORTC_BASE, GPIO_PIN_6, GPIO_PC6_U3RX},
      {SYSCTL_PERIPH_GPIOC, GPIO_PORTC_BASE, GPIO_PIN_4, GPIO_PC4_U4RX},
      {SYSCTL_PERIPH_GPIOE, GPIO_PORTE_BASE, GPIO_PIN_4, GPIO_PE4_U5RX},
      {SYSCTL_PERIPH_GPIOD, GPIO_PORTD_BASE, GPIO_PIN_4, GPIO_PD4_U6RX},
      {SYSCTL_PERIPH_GPIOE, GPIO_PORTE_BASE, GPIO_PIN_0, GPIO_PE0_U7RX},
  }};
  for (unsigned uart = 0; uart < wiring.size(); ++uart) {
    Bench bench;
    bench.uart(uart).send(milliseconds(1), "x");
    const UartWiring pins = wiring[uart];
    const auto lines = raisedLines(bench, [uart, pins] {
      SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0 + uart);
      SysCtlPeripheralEnable(pins.gpioPeripheral);
      GPIOPinTypeUART(pins.port, pins.receivePin);
      GPIOPinConfigure(pins.receiveFunction);
      const uint32_t base = 0x4000C000 + 0x1000 * uart;
      UARTConfigSetExpClk(base, SysCtlClockGet(), 115200,
                          UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
      // One byte stays below the FIFO level: the receive time-out raises it.
      UARTIntEnable(base, UART_INT_RX | UART_INT_RT);
      UARTEnable(base);
    });
    EXPECT_EQ(lines, std::vector<unsigned>{kUartDataSheet[uart]}) << "UART" << uart;
  }
}

TEST(InterruptMap, EachTimerARaisesItsDataSheetLine) {
  for (unsigned timer = 0; timer < kTimerADataSheet.size(); ++timer) {
    const auto lines = raisedLines(Bench{}, [timer] {
      const uint32_t base = 0x40030000 + 0x1000 * timer;
      SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0 + timer);
      TimerConfigure(base, TIMER_CFG_ONE_SHOT);
      TimerLoadSet(base, TIMER_A, 1000);
      TimerIntEnable(base, TIMER_TIMA_TIMEOUT);
      TimerEnable(base, TIMER_A);
    });
    EXPECT_EQ(lines, std::vector<unsigned>{kTimerADataSheet[timer]}) << "TIMER" << timer;
  }
}

TEST(InterruptMap, EachGpioPortRaisesItsDataSheetLine) {
  // Pin 2 of each port, falling edge, driven low at 1 ms.
  for (unsigned port = 0; port < kGpioDataSheet.size(); ++port) {
    Bench bench;
    bench.drive(Pin{static_cast<uint8_t>(port), 2}, 0, PinState::High);
    bench.drive(Pin{static_cast<uint8_t>(port), 2}, milliseconds(1), PinState::Low);
    const auto lines = raisedLines(bench, [port] {
      const uint32_t base = reg::gpio::kPorts[port];
      SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA + port);
      GPIOPinTypeGPIOInput(base, GPIO_PIN_2);
      GPIOIntTypeSet(base, GPIO_PIN_2, GPIO_FALLING_EDGE);
      GPIOIntEnable(base, GPIO_INT_PIN_2);
    });
    EXPECT_EQ(lines, std::vector<unsigned>{kGpioDataSheet[port]}) << "port " << port;
  }
}

TEST(InterruptMap, Adc0Sequencer3RaisesItsDataSheetLine) {
  const auto lines = raisedLines(Bench{}, [] {
    SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
    ADCSequenceConfigure(ADC0_BASE, 3, ADC_TRIGGER_PROCESSOR, 0);
    ADCSequenceStepConfigure(ADC0_BASE, 3, 0, ADC_CTL_CH0 | ADC_CTL_IE | ADC_CTL_END);
    ADCSequenceEnable(ADC0_BASE, 3);
    hw::write32(ADC0_BASE + 0x008, 1U << 3);  // ADCIM: sequencer 3 to the controller
    ADCProcessorTrigger(ADC0_BASE, 3);
  });
  EXPECT_EQ(lines, std::vector<unsigned>{kAdc0Sequencer3DataSheet});
}

}  // namespace
