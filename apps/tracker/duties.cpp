#include "apps/tracker/duties.h"

#include <cstdio>
#include <cstring>

#include "apps/tracker/clock.h"
#include "apps/tracker/position_source.h"
#include "entry/settings.h"
#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

namespace entry {

namespace {

constexpr uint32_t kRadiusInterval = settings::kRadiusIntervalMinutes * 60;
constexpr uint32_t kPostInterval = settings::kPostIntervalMinutes * 60;

uint32_t fixesChecked = 0;
bool outside = false;
bool alertDue = false;
uint32_t nextRadiusFetch = 0;
uint32_t nextPost = kPostInterval;
uint32_t nextModemStart = 0;
uint32_t nextEmergency = 0;
uint32_t nextAlert = 0;
uint32_t ringsSeen = 0;
uint32_t lastRing = 0;

// A call rings every 3 to 5 s; ringing that stopped without its end (the
// caller's NO CARRIER lost, the modem restarted and took the call with it)
// would hold back every report and press for good.
void forgetStaleRinging(uint32_t now) {
  if (tracker::callStatusFlag != 1 || tracker::modemBusy()) {
    ringsSeen = modemRings();
    lastRing = now;
    return;
  }
  if (modemRings() != ringsSeen) {
    ringsSeen = modemRings();
    lastRing = now;
  } else if (now - lastRing > kRingingGoneSeconds) {
    sendUartString(UART0_BASE, "ringing ended\n");
    tracker::callStatusFlag = 0;
  }
}

// A modem that restarted, powered down or went silent, or whose start-up
// gave way to the button, is started again
// before the next script: powered up first by its key, where one is wired,
// when it is down. A silent one is tried at most every 2 minutes.
bool restartModem(uint32_t now) {
  const bool down = modemPoweredDown();
  const bool restarted = modemRestarted();
  const bool silent = modemSilent();
  // (An unfinished start-up waits for the call it gave way to.)
  const bool unfinished = modemStartPending() && tracker::callStatusFlag == 0;
  if (!down && !restarted && !unfinished && !(silent && now >= nextModemStart)) {
    return false;
  }
  sendUartString(UART0_BASE, down        ? "modem powered down\n"
                             : restarted ? "modem restarted\n"
                             : unfinished ? "modem start again\n"
                                          : "modem silent\n");
  if (tracker::callStatusFlag != 0) {
    // A modem that restarted or went down holds no call any more.
    tracker::callStatusFlag = 0;
    GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
    sendUartString(UART0_BASE, "call ended with the modem\n");
  }
  if ((down || silent) && modemPowerKeyWired()) {
    pulseModemPowerKey();
  }
  if (!startModem()) {
    nextModemStart = clockSeconds() + kModemRetrySeconds;
  }
  return true;
}

// On each new fix once a radius is known: an alert on every change from
// inside to outside, none while the wearer stays out.
void checkGeofence() {
  const uint32_t fixes = positionFixes();
  if (fixes == fixesChecked || tracker::circleFlag != 'y') {
    return;
  }
  fixesChecked = fixes;
  const bool nowOutside = controlDistanceRange() != 0;
  if (nowOutside && !outside) {
    alertDue = true;
  }
  outside = nowOutside;
}

// The report as the periodic SMS makes it, without resetting its count.
void postReport() {
  char pulseText[3];
  std::snprintf(pulseText, sizeof pulseText, "%d", reportedPulse());
  char latitude[sizeof latitudeResult];
  char longitude[sizeof longitudeResult];
  // A fix may land between the two copies otherwise.
  const bool wasDisabled = IntMasterDisable();
  std::memcpy(latitude, latitudeResult, sizeof latitude);
  std::memcpy(longitude, longitudeResult, sizeof longitude);
  if (!wasDisabled) {
    IntMasterEnable();
  }
  latitude[sizeof latitude - 1] = '\0';
  longitude[sizeof longitude - 1] = '\0';
  postDataToServer(latitude, longitude, pulseText);
}

}  // namespace

void runDuties() {
  positionWatch();
  checkGeofence();
  // The end of a line (a text's radius, a RING) may wait in the receive
  // FIFO below its trigger level until more comes: take it now.
  if (!tracker::modemBusy()) {
    pumpModemLink();
  }
  forgetStaleRinging(clockSeconds());
  const uint32_t now = clockSeconds();
  if (!tracker::modemBusy() && restartModem(now)) {
    return;
  }
  if (tracker::callStatusFlag != 0) {
    return;
  }
  if (emergencyPending() && now >= nextEmergency) {
    nextEmergency = now + kEmergencyRetrySeconds;
    sendUartString(UART0_BASE, "SOS again\n");
    makeCall();
    return;
  }
  if (alertDue && now >= nextAlert) {
    // An alert the network refused is texted again: the caretaker must
    // learn that the wearer left the circle.
    alertDue = !sendSms();
    nextAlert = clockSeconds() + kAlertRetrySeconds;
  } else if (kRadiusInterval != 0 && now >= nextRadiusFetch) {
    getCircleSizeFromServer();
    nextRadiusFetch = clockSeconds() + (tracker::circleFlag == 'y' ? kRadiusInterval : kRadiusRetrySeconds);
  } else if (kPostInterval != 0 && now >= nextPost) {
    nextPost = now + kPostInterval;
    postReport();
  }
}

}  // namespace entry
