// The tracker on the simulated board, brought up as its entry program does,
// or in part: setPins first, UART2 for the position source, the pulse timer,
// the modem link and the button.
#pragma once

#include <cstdio>
#include <string>

#include "apps/tracker/entry.h"
#include "platform/driverlib.h"
#include "sim/sim.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

namespace tracker_test {

using namespace sim;

inline constexpr unsigned kConsole = 0;
inline constexpr unsigned kModem = 4;
inline constexpr unsigned kCamera = 5;

// One modem character at 9600 baud 8N1 with the chip's divisor at 50 MHz.
inline constexpr Time kModemCharacter = 10 * Time{104165000};
// One console character at 115200 baud.
inline constexpr Time kConsoleCharacter = 10 * Time{8680000};

// A tracker wait of ms milliseconds at 50 MHz: ms x 16666 passes of 3
// cycles, the division first.
constexpr Time trackerWait(uint64_t ms) { return ms * (50000000 / 3000) * 3 * nanoseconds(20); }

// The pulse timer's registers, which the modem handler stops and restarts.
inline void setUpPulseTimerRegisters() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0);
  TimerConfigure(TIMER0_BASE, TIMER_CFG_PERIODIC);
  TimerLoadSet(TIMER0_BASE, TIMER_A, SysCtlClockGet() / 10);
}

inline void bringUp() {
  setPins();
  entry::setUpPositionLink();
  setUpPulseTimerRegisters();
  sim900UartConfig();
  pressConfig();
}


inline void setPosition(const char* latitude, const char* longitude) {
  std::snprintf(latitudeResult, sizeof latitudeResult, "%s", latitude);
  std::snprintf(longitudeResult, sizeof longitudeResult, "%s", longitude);
}

inline std::string noteText(const Outcome& run, size_t index) { return run.notes().at(index).second; }

}  // namespace tracker_test
