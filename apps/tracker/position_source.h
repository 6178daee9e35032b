// The position source: NMEA sentences of a GPS receiver on UART2, taken by
// its receive and receive time-out interrupts, turned into the tracker's
// position texts and coordinates.
#pragma once

#include <cstdint>

namespace entry {

// UART2's interrupts and handler, after setUpPositionLink; the geofence's
// centre when a home position is set at build time.
void gpsConfig();
void Int_Gps();
// Fixes taken since start: a change tells the foreground of a new one.
[[nodiscard]] uint32_t positionFixes();
// In the foreground: no fix for longer than the time-out clears
// gpsFlagControl; the position texts keep the last fix.
void positionWatch();

}  // namespace entry
