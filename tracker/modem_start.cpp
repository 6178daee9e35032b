// The modem made ready for the scripts, at start and whenever it restarted
// or went away: it answers AT (which also sets an autobauding modem's
// rate), it has registered, and received texts come straight to the line.
#include "platform/driverlib.h"
#include "tracker/settings.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

constexpr unsigned kAttentionTries = 10;      // a second each: power-up and boot take up to 7 s
constexpr unsigned kRegistrationPolls = 45;   // 2 s apart: registration takes 5 to 60 s
constexpr uint32_t kAnswerWait = 1000;
constexpr uint32_t kPollPause = 2000;
constexpr uint32_t kPowerKeyHold = 1200;      // the power key wants a low of 1 s or more

volatile bool silent = false;
volatile bool startPending = false;  // a start-up that gave way to the button

// The power key's port and pin, from the setting "P<port><pin>".
constexpr bool kHasPowerKey = settings::kModemPowerPin[0] != '\0';
constexpr uint32_t kPortBases[] = {GPIO_PORTA_BASE, GPIO_PORTB_BASE, GPIO_PORTC_BASE,
                                   GPIO_PORTD_BASE, GPIO_PORTE_BASE, GPIO_PORTF_BASE};
constexpr uint32_t kPortClocks[] = {SYSCTL_PERIPH_GPIOA, SYSCTL_PERIPH_GPIOB, SYSCTL_PERIPH_GPIOC,
                                    SYSCTL_PERIPH_GPIOD, SYSCTL_PERIPH_GPIOE, SYSCTL_PERIPH_GPIOF};
constexpr unsigned kPowerKeyPortIndex = kHasPowerKey ? static_cast<unsigned>(settings::kModemPowerPin[1] - 'A') : 0;
constexpr uint32_t kPowerKeyPort = kPortBases[kPowerKeyPortIndex];
constexpr uint32_t kPowerKeyClock = kPortClocks[kPowerKeyPortIndex];
constexpr uint8_t kPowerKeyPin = kHasPowerKey ? static_cast<uint8_t>(1U << (settings::kModemPowerPin[2] - '0')) : 0;

// The line's answer is OK; a press waiting for the modem ends the wait.
bool send(const char* line, uint32_t wait) {
  expectModemAnswer();
  sendUartString(UART4_BASE, line);
  return awaitModemAnswer(wait, true) == ModemAnswer::Ok;
}

}  // namespace

void noteModemSilent() { silent = true; }

bool modemSilent() { return silent; }

bool modemStartPending() { return startPending; }

void pulseModemPowerKey() {
  if constexpr (kHasPowerKey) {
    sendUartString(UART0_BASE, "modem power key\n");
    SysCtlPeripheralEnable(kPowerKeyClock);
    GPIOPinTypeGPIOOutput(kPowerKeyPort, kPowerKeyPin);
    GPIOPinWrite(kPowerKeyPort, kPowerKeyPin, 0);
    waitMilliseconds(kPowerKeyHold);
    GPIOPinWrite(kPowerKeyPort, kPowerKeyPin, kPowerKeyPin);
  }
}

bool modemPowerKeyWired() { return kHasPowerKey; }

bool startModem() {
  beginModemScript();
  sendUartString(UART0_BASE, "modem start\n");
  bool answered = false;
  for (unsigned tries = 0; tries < kAttentionTries && !answered && !pressDeferred; ++tries) {
    char msj1[] = "AT\r\n";
    answered = send(msj1, kAnswerWait);
  }
  if (!answered) {
    sendUartString(UART0_BASE, pressDeferred ? "modem start given way to the button\n" : "modem down\n");
    silent = !pressDeferred;
    startPending = pressDeferred;
    endModemScript();
    return false;
  }
  silent = false;
  bool registered = false;
  for (unsigned polls = 0; polls < kRegistrationPolls && !registered && !pressDeferred; ++polls) {
    if (polls > 0) {
      waitMilliseconds(kPollPause);
    }
    char msj2[] = "AT+CREG?\r\n";
    registered = send(msj2, kAnswerWait) && modemRegistered();
  }
  if (pressDeferred) {
    // The call goes first; the start-up runs again after it (its lines
    // would not wait for their answers now).
    sendUartString(UART0_BASE, "modem start given way to the button\n");
    startPending = true;
    endModemScript();
    return false;
  }
  sendUartString(UART0_BASE, registered ? "modem registered\n" : "modem not registered\n");
  // Direct delivery of received texts, as the report's script selects it.
  char msj3[] = "AT+CMGF=1\r";
  char msj4[] = "AT+CNMI=1,2,0,0,0\r";
  (void)send(msj3, kAnswerWait);
  (void)send(msj4, kAnswerWait);
  // The start-up lines this start-up has seen are no restart.
  (void)modemRestarted();
  (void)modemPoweredDown();
  startPending = false;
  endModemScript();
  return true;
}
