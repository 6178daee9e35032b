#include "apps/tracker/position_source.h"

#include <cstring>
#include <string_view>

#include "apps/tracker/clock.h"
#include "apps/tracker/nmea.h"
#include "entry/settings.h"
#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

namespace entry {

namespace {

// The receive-status bits a data read carries: overrun, break, parity,
// framing. Any of them spoils the sentence it falls in.
constexpr uint32_t kReceiveErrors = 0xF00;
constexpr double kUnitsPerDegree = 10000000.0;

// The sentence being assembled, from its '$'.
char sentence[position::kLongestSentence];
size_t length = 0;
bool collecting = false;
bool damaged = false;
uint32_t pausesSeen = 0;

volatile uint32_t fixes = 0;
position::Fix lastFix{};
bool referenceSet = false;
uint64_t lastFixAt = 0;

void takeFix(const position::Fix& fix) {
  const uint64_t now = clockCycles();
  // The same place again (a receiver sends RMC and GGA of each second) is
  // no new fix: it only keeps the fix alive, and the geofence is not asked
  // again for it.
  if (fixes != 0 && fix.latitude == lastFix.latitude && fix.longitude == lastFix.longitude) {
    const bool wasDisabled = IntMasterDisable();
    tracker::gpsFlagControl = 1;
    lastFixAt = now;
    if (!wasDisabled) {
      IntMasterEnable();
    }
    return;
  }
  const position::PositionText latitude = position::formatDegrees(fix.latitude);
  const position::PositionText longitude = position::formatDegrees(fix.longitude);
  const double latitudeDegrees = fix.latitude / kUnitsPerDegree;
  const double longitudeDegrees = fix.longitude / kUnitsPerDegree;
  // Both texts and the coordinates change together: no handler and no
  // foreground copy sees half of an old and half of a new position.
  const bool wasDisabled = IntMasterDisable();
  std::memcpy(latitudeResult, latitude.text, sizeof latitudeResult);
  std::memcpy(longitudeResult, longitude.text, sizeof longitudeResult);
  setCurrentPosition(latitudeDegrees, longitudeDegrees);
  if (!referenceSet) {
    setReferencePosition(latitudeDegrees, longitudeDegrees);
    referenceSet = true;
  }
  tracker::gpsFlagControl = 1;
  lastFixAt = now;
  lastFix = fix;
  fixes = fixes + 1;
  if (!wasDisabled) {
    IntMasterEnable();
  }
}

// A whole line: '$' ... CR LF.
void finishSentence() {
  if (damaged || length < 2 || sentence[length - 2] != '\r') {
    return;
  }
  const position::Sentence parsed = position::parseSentence(std::string_view(sentence, length - 2));
  if (parsed.kind == position::SentenceKind::Fix) {
    takeFix(parsed.fix);
  }
}

void take(char character, bool batchDamaged) {
  if (character == '$') {
    collecting = true;
    length = 0;
    damaged = batchDamaged;
  }
  if (!collecting) {
    return;
  }
  if (length == sizeof sentence) {
    // Longer than a sentence can be: dropped whole.
    collecting = false;
    return;
  }
  sentence[length++] = character;
  if (character == '\n') {
    collecting = false;
    finishSentence();
  }
}

}  // namespace

void gpsConfig() {
  if constexpr (settings::kHasHome) {
    setReferencePosition(settings::kHomeLatitude.value / kUnitsPerDegree,
                         settings::kHomeLongitude.value / kUnitsPerDegree);
    referenceSet = true;
  }
  pausesSeen = positionLinkPauses();
  UARTIntEnable(UART2_BASE, UART_INT_RX | UART_INT_RT);
  UARTIntRegister(UART2_BASE, Int_Gps);
  UARTEnable(UART2_BASE);
}

void Int_Gps() {
  UARTIntClear(UART2_BASE, UART_INT_RX | UART_INT_RT);
  // UART2 was switched off since the last run: bytes were lost somewhere
  // before or among those waiting now, so every sentence with a byte in
  // this batch is dropped.
  const uint32_t pauses = positionLinkPauses();
  bool batchDamaged = pauses != pausesSeen;
  pausesSeen = pauses;
  if (batchDamaged) {
    damaged = true;
  }
  while (UARTCharsAvail(UART2_BASE)) {
    const uint32_t word = static_cast<uint32_t>(UARTCharGetNonBlocking(UART2_BASE));
    if ((word & kReceiveErrors) != 0) {
      batchDamaged = true;
      damaged = true;
    }
    take(static_cast<char>(word & 0xFF), batchDamaged);
  }
}

uint32_t positionFixes() { return fixes; }

void positionWatch() {
  const bool wasDisabled = IntMasterDisable();
  const uint64_t now = clockCycles();
  const uint64_t timeout = clockCyclesIn(settings::kFixTimeoutSeconds);
  if (tracker::gpsFlagControl != 0 && now - lastFixAt > timeout) {
    tracker::gpsFlagControl = 0;
  }
  if (!wasDisabled) {
    IntMasterEnable();
  }
}

}  // namespace entry
