// The SIM900 model, spoken to through the chip's UART4 as a firmware would.
// The expected answers are the modem's own texts, as its AT manual frames
// them.
#include <gtest/gtest.h>

#include "platform/driverlib.h"
#include "sim/peers/sim900.h"
#include "sim/sim.h"

namespace {

using namespace sim;
using peers::CaretakerPhone;
using peers::ModemLog;
using peers::Sim900;

struct Line {
  Time at;
  std::string bytes;
};

// The chip sends each line at its time and reads everything the modem says.
Outcome talk(Sim900 modem, std::vector<Line> lines, Time end) {
  Bench bench;
  modem.attach(bench);
  return bench.run(
      [lines] {
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
        GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
        GPIOPinConfigure(GPIO_PC4_U4RX);
        GPIOPinConfigure(GPIO_PC5_U4TX);
        UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), 9600,
                            UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
        // Everything the modem says is taken by the receive interrupts.
        UARTIntEnable(UART4_BASE, UART_INT_RX | UART_INT_RT);
        UARTIntRegister(UART4_BASE, [] {
          UARTIntClear(UART4_BASE, UART_INT_RX | UART_INT_RT);
          while (UARTCharsAvail(UART4_BASE)) {
            (void)UARTCharGetNonBlocking(UART4_BASE);
          }
        });
        IntEnable(INT_UART4);
        IntMasterEnable();
        for (const Line& line : lines) {
          runUntil(line.at);
          for (char byte : line.bytes) {
            UARTCharPut(UART4_BASE, static_cast<unsigned char>(byte));
          }
        }
      },
      end);
}

TEST(Sim900, EchoResultCodesAndTheCommandLine) {
  const auto run = talk(Sim900{}, {{0, "AT\r"}, {seconds(1), "at + cmgf = 1\r\n"}, {seconds(2), "AT+CMGF?\r"},
                                   {seconds(3), "AT+NOSUCH\r"}, {seconds(4), "ATE0\r"}, {seconds(5), "AT\r"}},
                        seconds(6));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "AT\r\r\nOK\r\n"
            "at + cmgf = 1\r\n\r\nOK\r\n"
            "AT+CMGF?\r\r\n+CMGF: 1\r\n\r\nOK\r\n"
            "AT+NOSUCH\r\r\nERROR\r\n"
            "ATE0\r\r\nOK\r\n"
            "\r\nOK\r\n");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.commands.size(), 6U);
  EXPECT_EQ(log.commands[1].line, "at + cmgf = 1");
  EXPECT_EQ(log.commands[3].answer, "ERROR");
}

}  // namespace
