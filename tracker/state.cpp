#include "tracker/state.h"

#include <cstdio>

#include "platform/interrupt.h"
#include "platform/memmap.h"
#include "platform/sysctl.h"
#include "platform/uart.h"
#include "tracker/tracker.h"

char latitudeResult[10];
char longitudeResult[10];

namespace tracker {

char recieveMessage[kMessageSize];
int sim900Index = 0;
volatile int callStatusFlag = 0;
volatile uint8_t pulse = 20;
volatile int circleSize = 0;
double beforeLat = 0.0;
double beforeLong = 0.0;
double currentLat = 0.0;
double currentLong = 0.0;
uint32_t AdcValues[1];
volatile int readFlag = 0;
volatile char circleFlag = 'n';
volatile uint8_t gpsFlagControl = 0;
volatile int cameraIndex = 0;

namespace {
volatile int modemScripts = 0;
}  // namespace

volatile bool reportDeferred = false;
volatile bool pressDeferred = false;

void beginModemScript() { modemScripts = modemScripts + 1; }

void endModemScript() {
  // No handler may slip in between the count reaching 0 and the requests.
  const bool wasDisabled = IntMasterDisable();
  modemScripts = modemScripts - 1;
  if (modemScripts == 0) {
    if (reportDeferred) {
      IntPendSet(INT_TIMER1A);
    }
    if (pressDeferred) {
      IntPendSet(INT_GPIOF);
    }
  }
  if (!wasDisabled) {
    IntMasterEnable();
  }
}

bool modemBusy() { return modemScripts > 0; }

namespace {
volatile uint32_t positionPauses = 0;
}  // namespace

void pausePositionLink() {
  positionPauses = positionPauses + 1;
  UARTDisable(UART2_BASE);
}

void resumePositionLink() { UARTEnable(UART2_BASE); }

void traceValue(const char* label, int value) {
  char text[12];
  std::snprintf(text, sizeof text, "%d", value);
  sendUartString(UART0_BASE, label);
  sendUartString(UART0_BASE, text);
  sendUartString(UART0_BASE, "\n");
}

void waitMilliseconds(uint32_t ms) {
  const uint32_t passes = ms * (SysCtlClockGet() / 3000);
  // The delay loop runs 2^32 passes for a count of 0: no wait is no loop.
  if (passes != 0) {
    SysCtlDelay(passes);
  }
}

}  // namespace tracker

uint32_t positionLinkPauses() { return tracker::positionPauses; }
