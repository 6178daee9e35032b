// The periodic report, every 40 s outside calls.
#include <cstdio>

#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

// A position text as the report sees it: at most its array's 10
// characters, terminated even when the position source left none.
struct PositionText {
  char text[11];
};

PositionText boundedCopy(const char (&position)[10]) {
  PositionText copy{};
  for (size_t index = 0; index < sizeof position && position[index] != '\0'; ++index) {
    copy.text[index] = position[index];
  }
  return copy;
}

constexpr uint32_t kReportSeconds = 40;
bool deferredForText = false;
bool lastReportLate = false;

}  // namespace

int reportedPulse() {
  int pulseRes = 2 * pulse;
  if (pulseRes < 10) {
    pulseRes = 10;
  }
  if (pulseRes > 99) {
    pulseRes = 99;
  }
  return pulseRes;
}

void postToDataTimerConfig() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER1);
  TimerConfigure(TIMER1_BASE, TIMER_CFG_PERIODIC);
  TimerLoadSet(TIMER1_BASE, TIMER_A, SysCtlClockGet() * kReportSeconds);
  TimerIntRegister(TIMER1_BASE, TIMER_A, Int_PostDataTimer);
  TimerIntEnable(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
  IntPrioritySet(INT_TIMER1A, 3);
  TimerEnable(TIMER1_BASE, TIMER_A);
}

void Int_PostDataTimer() {
  if (modemBusy()) {
    // The entry program's script holds the modem: report when it ends.
    reportDeferred = true;
    TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
    return;
  }
  if (lastReportLate && modemTextOnItsWay() && !deferredForText) {
    // A late report ran just before this tick and its text is still with
    // the network: this one waits for its result, or for the next tick
    // should the result never come.
    deferredForText = true;
    reportDeferred = true;
    TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
    return;
  }
  // Late when the timer has run well into its next period: the report was
  // held back (by a script, a call or another handler), and the next tick
  // comes before its text is through.
  lastReportLate = TimerValueGet(TIMER1_BASE, TIMER_A) < SysCtlClockGet() * (kReportSeconds - 1);
  deferredForText = false;
  reportDeferred = false;

  traceValue("callStatFlag:", callStatusFlag);
  pausePositionLink();
  TimerDisable(TIMER0_BASE, TIMER_A);
  const uint8_t gpsStatus = gpsFlagControl;
  (void)gpsStatus;

  if (callStatusFlag == 0) {
    const int pulseRes = reportedPulse();
    char pulseText[3];
    std::snprintf(pulseText, sizeof pulseText, "%d", pulseRes);
    sendUartString(UART0_BASE, pulseText);
    sendUartString(UART0_BASE, "\n");

    const PositionText latitude = boundedCopy(latitudeResult);
    const PositionText longitude = boundedCopy(longitudeResult);
    postDataToInterface(latitude.text, longitude.text, pulseText);

    char valueText[12];
    std::snprintf(valueText, sizeof valueText, "%ld", static_cast<long>(pulseRes));
    sendUartString(UART0_BASE, "PostDataTimer:");
    sendUartString(UART0_BASE, latitude.text);
    sendUartString(UART0_BASE, ",");
    sendUartString(UART0_BASE, longitude.text);
    sendUartString(UART0_BASE, ",");
    sendUartString(UART0_BASE, valueText);
    sendUartString(UART0_BASE, "\n");
    pulse = 0;
  } else {
    sendUartString(UART0_BASE, "NO POST DATA TO SERVER \n");
  }

  TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
  TimerEnable(TIMER0_BASE, TIMER_A);
  resumePositionLink();
}
