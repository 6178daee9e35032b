// Voice calls and the emergency button.
#include "platform/driverlib.h"
#include "tracker/commands.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

void setCallState(int state) {
  callStatusFlag = state;
  traceValue("callStatusFlag : ", callStatusFlag);
}

volatile bool pendingEmergency = false;

constexpr uint32_t kAttentionWait = 1000;   // an AT's OK, at the most
constexpr uint32_t kRetryPause = 5000;      // between call attempts
constexpr uint32_t kTalkCheck = 1000;       // how often a call looks for a modem gone away

// One attempt: dial, ring for the ring time, talk until either end hangs
// up. With AT+COLP=1 the dial's OK comes when the far end answers; BUSY,
// NO ANSWER, NO CARRIER or ERROR before it fail the attempt.
bool callOnce() {
  if (!modemAnswersAttention()) {
    return false;
  }
  expectModemAnswer();
  sendUartString(UART4_BASE, "AT+COLP=1\r\n");
  (void)awaitModemAnswer(kAttentionWait);
  expectModemAnswer();
  auto msj2 = kDialCommand;
  sendUartString(UART4_BASE, msj2.data());
  setCallState(1);
  const ModemAnswer dialled = awaitAnswerSkippingStale(settings::kCallRingSeconds * 1000, ModemAnswer::Ok);
  if (dialled == ModemAnswer::None) {
    // Rang out: a character aborts the dial, the hang-up ends the call.
    sendUartString(UART0_BASE, "no answer\n");
    expectModemAnswer();
    sendUartString(UART4_BASE, "ATH\r\n");
    (void)awaitModemAnswer(kAttentionWait);
    return false;
  }
  if (dialled != ModemAnswer::Ok) {
    sendUartString(UART0_BASE, "call failed\n");
    return false;
  }
  sendUartString(UART0_BASE, "call answered\n");
  // Talking: never cut from here; the call ends with the far end's or the
  // network's NO CARRIER, or with the modem going down (which the entry
  // program then starts again).
  const uint32_t goneAway = modemGoneAwayCount();
  expectModemAnswer();
  for (;;) {
    const ModemAnswer ended = awaitModemAnswer(kTalkCheck);
    if (ended == ModemAnswer::NoCarrier || modemGoneAwayCount() != goneAway) {
      return true;
    }
    forgetModemAnswer();
  }
}

}  // namespace

void pressConfig() {
  GPIOPinTypeGPIOInput(GPIO_PORTF_BASE, GPIO_PIN_4);
  GPIOPadConfigSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_STRENGTH_12MA, GPIO_PIN_TYPE_STD_WPU);
  GPIOIntDisable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntRegister(GPIO_PORTF_BASE, Int_PressControl);
  GPIOIntTypeSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_FALLING_EDGE);
  IntPrioritySet(INT_GPIOF, 1);
  GPIOIntEnable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
}

void Int_PressControl() {
  const uint32_t status = GPIOIntStatus(GPIO_PORTF_BASE, false);
  if ((status & GPIO_PIN_4) == 0 && !pressDeferred) {
    return;
  }
  if (modemBusy()) {
    // A script of the entry program holds the modem: this press is served
    // when it ends.
    pressDeferred = true;
    GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
    return;
  }
  pressDeferred = false;
  // A RING may still wait in the receive FIFO below its trigger level: the
  // press answers the call it announces rather than dialling over it.
  pumpModemLink();
  if (callStatusFlag == 0) {
    sendUartString(UART0_BASE, "making call\n");
    makeCall();
  } else if (callStatusFlag == 1) {
    sendUartString(UART0_BASE, "answerCall\n");
    answerCall();
    if (callStatusFlag == 0) {
      // The caller had just given up: the press still reaches someone.
      sendUartString(UART0_BASE, "making call\n");
      makeCall();
    }
  }
  // Cleared only now: presses and bounces during the call raise nothing.
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
}

void makeCall() {
  beginModemScript();
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
  bool connected = false;
  for (unsigned attempt = 1; attempt <= settings::kCallAttempts && !connected; ++attempt) {
    if (attempt > 1) {
      waitMilliseconds(kRetryPause);
    }
    connected = callOnce();
  }
  char msj3[] = "ATH\r\n";
  expectModemAnswer();
  sendUartString(UART4_BASE, msj3);
  (void)awaitModemAnswer(kAttentionWait);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  setCallState(0);
  pendingEmergency = false;
  if (!connected) {
    // No attempt reached the caretaker: the press still does, by text; and
    // while neither gets through, the whole call is tried again later.
    sendUartString(UART0_BASE, "SOS text\n");
    // "SOS ", the report's position texts, as the alert text ends: CR.
    char sos[32] = "SOS ";
    size_t at = 4;
    for (const char* text : {static_cast<const char*>(latitudeResult), static_cast<const char*>(longitudeResult)}) {
      for (size_t index = 0; index < 9 && text[index] != '\0'; ++index) {
        sos[at++] = text[index];
      }
      sos[at++] = text == latitudeResult ? ',' : '\r';
    }
    sos[at] = '\0';
    if (!sendSmsAwaited(sos)) {
      sendUartString(UART0_BASE, "SOS pending\n");
      pendingEmergency = true;
    }
  }
  endModemScript();
}

bool emergencyPending() { return pendingEmergency; }

void answerCall() {
  beginModemScript();
  sendUartString(UART0_BASE, "answerCall\n");
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
  char msj1[] = "ATA\r\n";
  // A modem still sending the report's text would drop the ATA: it answers
  // AT first (the caller rings for a while yet).
  (void)modemAnswersAttention();
  expectModemAnswer();
  sendUartString(UART4_BASE, msj1);
  // The modem's OK is the answered call. NO CARRIER, ERROR or no answer at
  // all: there was no call to answer (the caller gave up, or the modem
  // restarted and took the call with it), and the module is idle again
  // rather than in a call that will never end.
  if (awaitModemAnswer(kAttentionWait) == ModemAnswer::Ok) {
    setCallState(2);
  } else {
    sendUartString(UART0_BASE, "no call to answer\n");
    GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
    setCallState(0);
  }
  endModemScript();
}

void hangsUpCall() {
  beginModemScript();
  char msj1[] = "ATH\r\n";
  sendUartString(UART4_BASE, msj1);
  setCallState(0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  endModemScript();
}
