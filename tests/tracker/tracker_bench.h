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

inline const std::string kTextTaken = "\r\n+CMGS: 12\r\n\r\nOK\r\n";

// A modem's answers to a text: OK to text mode, the prompt to the send
// command (its CR), the network's result (+CMGS) a network time after the
// Ctrl-Z.
inline UartPeer& textReplies(UartPeer& modem, Time network, const std::string& result = kTextTaken) {
  return modem.reply("AT+CMGF=1\r", "\r\nOK\r\n", milliseconds(20))
      .reply(std::string("AT + CMGS = \"") + tracker::settings::kCaretakerNumber + "\"\r", "\r\n> ", milliseconds(50))
      .reply("\x1A", result, network);
}

// A modem that takes a text, AT answered first.
inline void textingModem(Bench& bench, Time network, const std::string& result = kTextTaken) {
  textReplies(bench.uart(kModem), network, result).reply("AT\r\n", "\r\nOK\r\n", milliseconds(20));
}

// A modem for the HTTP scripts and texts: OK to each line, DOWNLOAD to HTTPDATA, the
// action's OK and then its result actionAfter later, the radius to
// HTTPREAD. The result line is SIM900's, with no blank after the colon
// (session 02), or SIM800's, with one (sessions 07, 08).
inline void httpModem(Bench& bench, Time actionAfter, bool blankAfterColon = false, const std::string& radius = "250") {
  const std::string result = blankAfterColon ? "+HTTPACTION: " : "+HTTPACTION:";
  textReplies(bench.uart(kModem), seconds(2))
      .reply("AT+HTTPDATA=24,10000\r", "\r\nDOWNLOAD\r\n", milliseconds(20))
      // The action's OK and result come from the hook below, in that order.
      .reply("AT+HTTPACTION=0\r\n", "", 0)
      .reply("AT+HTTPACTION=1\r\n", "", 0)
      .reply("AT+HTTPREAD\r\n",
             "\r\n+HTTPREAD:" + std::to_string(radius.size() + 2) + "\r\n@" + radius + "$\r\nOK\r\n",
             milliseconds(200))
      // A dial is left ringing: the tests that call answer it themselves.
      .reply(kDial, "", 0)
      .reply("\r\n", "\r\nOK\r\n", milliseconds(20))
      .onByte([actionAfter, result, heard = std::string()](PeerLink& link, uint8_t byte) mutable {
        heard.push_back(static_cast<char>(byte));
        for (const char method : {'0', '1'}) {
          const std::string action = std::string("AT+HTTPACTION=") + method + "\r\n";
          if (heard.size() >= action.size() && heard.compare(heard.size() - action.size(), action.size(), action) == 0) {
            link.send(milliseconds(20), "\r\nOK\r\n");
            link.send(actionAfter, "\r\n" + result + method + ",200,5\r\n");
            heard.clear();
          }
        }
        if (heard.size() > 64) {
          heard.erase(0, 32);
        }
      });
}

inline void setPosition(const char* latitude, const char* longitude) {
  std::snprintf(latitudeResult, sizeof latitudeResult, "%s", latitude);
  std::snprintf(longitudeResult, sizeof longitudeResult, "%s", longitude);
}

inline std::string noteText(const Outcome& run, size_t index) { return run.notes().at(index).second; }

}  // namespace tracker_test
