// The entry program's foreground duties, run between waits for interrupts:
// the geofence on every new fix, the radius fetch and the HTTP report at
// their intervals. No script starts while a call is in progress.
#pragma once

namespace entry {

// A radius is asked for again this often while none has been received (the
// network may not be ready at start, or a press cut the request short).
inline constexpr unsigned kRadiusRetrySeconds = 120;
// A modem that does not answer is tried again this often.
inline constexpr unsigned kModemRetrySeconds = 120;
// An emergency that reached no one is called again this often.
inline constexpr unsigned kEmergencyRetrySeconds = 30;
// A geofence alert the network refused is texted again this often.
inline constexpr unsigned kAlertRetrySeconds = 30;
// Ringing with no RING for this long has ended.
inline constexpr unsigned kRingingGoneSeconds = 20;

// Does what is due, at most one modem script per call.
void runDuties();

}  // namespace entry
