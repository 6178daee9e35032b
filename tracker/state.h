// The tracker's working state and helpers, shared by the tracker's own
// sources only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tracker {

inline constexpr size_t kMessageSize = 64;

// Board resources.
inline constexpr uint8_t kRedLed = 2;
inline constexpr uint8_t kBlueLed = 4;
inline constexpr uint8_t kGreenLed = 8;

// State shared by handlers and foreground operations; each int and byte is
// one aligned access.
extern char recieveMessage[kMessageSize];
extern int sim900Index;
extern volatile int callStatusFlag;
extern volatile uint8_t pulse;
extern volatile int circleSize;
extern double beforeLat;
extern double beforeLong;
extern double currentLat;
extern double currentLong;
extern uint32_t AdcValues[1];
extern volatile int readFlag;
extern volatile char circleFlag;
extern volatile uint8_t gpsFlagControl;
extern volatile int cameraIndex;

// The modem link carries one script at a time. Foreground scripts hold it;
// a handler that finds it held defers its own script (deferReport,
// deferPress), which then runs as soon as the last script ends.
void beginModemScript();
void endModemScript();
[[nodiscard]] bool modemBusy();
extern volatile bool reportDeferred;
extern volatile bool pressDeferred;

// Inside a script that already holds the modem: an SMS of body to the
// caretaker number (text mode, send command, body, Ctrl-Z, a second apart),
// and text mode with direct delivery of received messages.
void sendSmsScript(const char* body);
void receiveSmsScript();
// The same SMS waiting for each answer: whether the network took it.
[[nodiscard]] bool sendSmsAwaited(const char* body);

// UART2, the position source's line, off while a handler runs and on again
// at its end; each pause is counted.
void pausePositionLink();
void resumePositionLink();

// Console trace of a label, a value in decimal and a line end.
void traceValue(const char* label, int value);

// A busy wait of ms milliseconds: three-cycle passes, the division first.
void waitMilliseconds(uint32_t ms);

// Texts put together at compile time, for the command lines that carry a
// build-time setting.
template <size_t... Sizes>
constexpr auto concatenate(const char (&... parts)[Sizes]) {
  std::array<char, ((Sizes - 1) + ... + 0) + 1> text{};
  size_t at = 0;
  (
      [&] {
        for (size_t index = 0; index + 1 < Sizes; ++index) {
          text[at++] = parts[index];
        }
      }(),
      ...);
  text[at] = '\0';
  return text;
}

}  // namespace tracker
