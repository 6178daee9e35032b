// A GPS receiver on a UART line: NMEA 0183 RMC and GGA sentences once a
// second at 9600 baud, along a walked track or a list of fixes, with a time
// to first fix, periods without a fix and optional noise. Tests can add
// bytes of their own (corrupt or cut sentences).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench.h"

namespace sim::peers {

struct Position {
  double latitude;   // decimal degrees, south negative
  double longitude;  // decimal degrees, west negative
};

// "$" + body + "*" + checksum + CR LF.
std::string nmeaSentence(std::string_view body);

class GpsReceiver {
 public:
  // Walks the waypoints in order at a steady speed from the start of the
  // run, and stays at the last.
  GpsReceiver& walk(std::vector<Position> waypoints, double metresPerSecond);
  // One fix a second, in order; the last is held.
  GpsReceiver& fixes(std::vector<Position> list);
  // Sentences without a fix (status V, quality 0) until then.
  GpsReceiver& firstFixAfter(Time time);
  // No fix in [from, to): the sentences go on, void.
  GpsReceiver& withoutFix(Time from, Time to);
  // Nothing at all on the line in [from, to).
  GpsReceiver& silent(Time from, Time to);
  // Each fix off by up to this many metres north and east, the same for the
  // same seed.
  GpsReceiver& noise(double metres, uint32_t seed);
  // The talker of every sentence: GP, GN, GL...
  GpsReceiver& talker(std::string id);
  // Bytes of the test's own at a time, besides the sentences.
  GpsReceiver& raw(Time at, std::string bytes);

  // Where the receiver reports the wearer at a time; none without a fix.
  [[nodiscard]] std::optional<Position> fixAt(Time time) const;
  // The burst of one second: RMC then GGA.
  [[nodiscard]] std::string burst(uint64_t second) const;
  // Schedules every burst (at 100 ms past each second) and the raw bytes on
  // the bench's UART line, up to the end of the run.
  void attach(Bench& bench, Time end, unsigned uart = 2) const;

 private:
  [[nodiscard]] Position trackAt(Time time) const;
  [[nodiscard]] bool silentAt(Time time) const;

  std::vector<Position> waypoints_;
  double speed_ = 0.0;
  std::vector<Position> fixes_;
  Time firstFix_ = 0;
  std::vector<std::pair<Time, Time>> outages_;
  std::vector<std::pair<Time, Time>> silences_;
  double noise_ = 0.0;
  uint32_t seed_ = 0;
  std::string talker_ = "GP";
  std::vector<UartPeer::Send> raw_;
};

// Great-circle distance in metres on the sphere the tracker uses for its
// geofence (radius 6370.69 km).
double metresBetween(Position from, Position to);

}  // namespace sim::peers
