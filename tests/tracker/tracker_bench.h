// The tracker on the simulated board, brought up as its entry program does,
// or in part: setPins first, UART2 for the position source, the pulse timer,
// the modem link and the button.
#pragma once

#include <cstdio>
#include <string>

#include "apps/tracker/entry.h"
#include "platform/driverlib.h"
#include "sim/sim.h"
#include "tracker/settings.h"
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


inline const std::string kDial = std::string("ATD") + tracker::settings::kCaretakerNumber + ";\r\n";

// A modem that answers each line of a call: OK, the dial's OK once the far
// end answers (AT+COLP=1, the manual's connected-line form), NO CARRIER when
// the far end hangs up at hangUpAt.
inline void answeringModem(Bench& bench, Time answerAfter, Time hangUpAt) {
  bench.uart(kModem)
      .reply("AT\r\n", "\r\nOK\r\n", milliseconds(20))
      .reply("AT+COLP=1\r\n", "\r\nOK\r\n", milliseconds(20))
      .replyOnce(kDial, "\r\n+COLP: \"+905551234567\",145,\"\",0,\"\"\r\n\r\nOK\r\n", answerAfter)
      .reply("ATH\r\n", "\r\nOK\r\n", milliseconds(20));
  bench.uart(kModem).send(hangUpAt, "\r\nNO CARRIER\r\n");
}

inline void setPosition(const char* latitude, const char* longitude) {
  std::snprintf(latitudeResult, sizeof latitudeResult, "%s", latitude);
  std::snprintf(longitudeResult, sizeof longitudeResult, "%s", longitude);
}

inline std::string noteText(const Outcome& run, size_t index) { return run.notes().at(index).second; }

}  // namespace tracker_test
