// A chip that talks to the SIM900 model on UART4 as a firmware would: it
// sends each line at its time (or moves the power key) and takes everything
// the modem says by its receive interrupts.
#pragma once

#include <string>
#include <vector>

#include "platform/driverlib.h"
#include "sim/peers/sim900.h"
#include "sim/sim.h"

namespace sim900_talk {

using namespace sim;

struct Line {
  Time at;
  std::string bytes;
  int powerKey = -1;  // 0 or 1: drive PC6, the power key, to that level instead
};

inline Outcome talk(const peers::Sim900& modem, std::vector<Line> lines, Time end, uint32_t rate = 9600) {
  Bench bench;
  modem.attach(bench);
  return bench.run(
      [lines, rate] {
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
        GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
        GPIOPinConfigure(GPIO_PC4_U4RX);
        GPIOPinConfigure(GPIO_PC5_U4TX);
        UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), rate,
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
          if (line.powerKey >= 0) {
            GPIOPinTypeGPIOOutput(GPIO_PORTC_BASE, GPIO_PIN_6);
            GPIOPinWrite(GPIO_PORTC_BASE, GPIO_PIN_6, line.powerKey != 0 ? GPIO_PIN_6 : 0);
            continue;
          }
          for (char byte : line.bytes) {
            UARTCharPut(UART4_BASE, static_cast<unsigned char>(byte));
          }
        }
      },
      end);
}

// The bytes the modem sent from a time on.
inline std::string receivedFrom(const Outcome& run, Time from) {
  std::string text;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::UartReceived && record.unit == 4 && record.time >= from) {
      text.push_back(static_cast<char>(record.value));
    }
  }
  return text;
}

// The time the modem's text first finished arriving at or after a time;
// kNever if it did not.
inline Time receivedAt(const Outcome& run, const std::string& text, Time from = 0) {
  std::string heard;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::UartReceived && record.unit == 4 && record.time >= from) {
      heard.push_back(static_cast<char>(record.value));
      if (heard.size() >= text.size() && heard.compare(heard.size() - text.size(), text.size(), text) == 0) {
        return record.time;
      }
    }
  }
  return kNever;
}

}  // namespace sim900_talk
