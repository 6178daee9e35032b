#include "sim/peers/gps_receiver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace sim::peers {

namespace {

constexpr double kPi = 3.141592653589793;
// The tracker's sphere: 60 x 1.1515 statute miles of 1.609344 km a degree.
constexpr double kMetresPerDegree = 60 * 1.1515 * 1.609344 * 1000;
constexpr double kEarthRadius = kMetresPerDegree * 180 / kPi;
constexpr Time kBurstOffset = milliseconds(100);

double radians(double degrees) { return degrees * kPi / 180; }

// ddmm.mmmmm or dddmm.mmmmm and the hemisphere letter.
std::pair<std::string, std::string> coordinate(double degrees, bool latitude) {
  const long long hundredThousandthsOfMinute = std::llround(std::fabs(degrees) * 60 * 100000);
  const long long whole = hundredThousandthsOfMinute / 6000000;
  const long long minutes = hundredThousandthsOfMinute % 6000000;
  char text[64];
  std::snprintf(text, sizeof text, latitude ? "%02lld%02lld.%05lld" : "%03lld%02lld.%05lld", whole,
                minutes / 100000, minutes % 100000);
  const char* hemisphere = latitude ? (degrees < 0 ? "S" : "N") : (degrees < 0 ? "W" : "E");
  return {text, hemisphere};
}

std::string join(const std::vector<std::string>& fields) {
  std::string body;
  for (size_t index = 0; index < fields.size(); ++index) {
    body += index == 0 ? "" : ",";
    body += fields[index];
  }
  return body;
}

bool within(const std::vector<std::pair<Time, Time>>& spans, Time time) {
  return std::any_of(spans.begin(), spans.end(),
                     [time](const auto& span) { return time >= span.first && time < span.second; });
}

}  // namespace

std::string nmeaSentence(std::string_view body) {
  uint8_t checksum = 0;
  for (char character : body) {
    checksum = static_cast<uint8_t>(checksum ^ static_cast<uint8_t>(character));
  }
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
  return "$" + std::string(body) + tail;
}

double metresBetween(Position from, Position to) {
  const double halfLatitude = std::sin(radians(to.latitude - from.latitude) / 2);
  const double halfLongitude = std::sin(radians(to.longitude - from.longitude) / 2);
  const double a = halfLatitude * halfLatitude +
                   std::cos(radians(from.latitude)) * std::cos(radians(to.latitude)) * halfLongitude * halfLongitude;
  return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(a)));
}

GpsReceiver& GpsReceiver::walk(std::vector<Position> waypoints, double metresPerSecond) {
  waypoints_ = std::move(waypoints);
  speed_ = metresPerSecond;
  return *this;
}

GpsReceiver& GpsReceiver::fixes(std::vector<Position> list) {
  fixes_ = std::move(list);
  return *this;
}

GpsReceiver& GpsReceiver::firstFixAfter(Time time) {
  firstFix_ = time;
  return *this;
}

GpsReceiver& GpsReceiver::withoutFix(Time from, Time to) {
  outages_.emplace_back(from, to);
  return *this;
}

GpsReceiver& GpsReceiver::silent(Time from, Time to) {
  silences_.emplace_back(from, to);
  return *this;
}

GpsReceiver& GpsReceiver::noise(double metres, uint32_t seed) {
  noise_ = metres;
  seed_ = seed;
  return *this;
}

GpsReceiver& GpsReceiver::talker(std::string id) {
  talker_ = std::move(id);
  return *this;
}

GpsReceiver& GpsReceiver::raw(Time at, std::string bytes) {
  raw_.push_back({at, std::move(bytes)});
  return *this;
}

Position GpsReceiver::trackAt(Time time) const {
  if (waypoints_.empty()) {
    return {0.0, 0.0};
  }
  double left = speed_ * static_cast<double>(time) / static_cast<double>(seconds(1));
  for (size_t index = 0; index + 1 < waypoints_.size(); ++index) {
    const Position from = waypoints_[index];
    const Position to = waypoints_[index + 1];
    const double length = metresBetween(from, to);
    if (left < length && length > 0) {
      const double part = left / length;
      return {from.latitude + (to.latitude - from.latitude) * part,
              from.longitude + (to.longitude - from.longitude) * part};
    }
    left -= length;
  }
  return waypoints_.back();
}

bool GpsReceiver::silentAt(Time time) const { return within(silences_, time); }

std::optional<Position> GpsReceiver::fixAt(Time time) const {
  if (time < firstFix_ || within(outages_, time)) {
    return std::nullopt;
  }
  const uint64_t second = time / seconds(1);
  Position position = fixes_.empty() ? trackAt(second * seconds(1))
                                     : fixes_[std::min<size_t>(second, fixes_.size() - 1)];
  if (noise_ > 0) {
    std::mt19937 random(seed_ * 2654435761U ^ static_cast<uint32_t>(second));
    std::uniform_real_distribution<double> offset(-noise_, noise_);
    const double north = offset(random);
    const double east = offset(random);
    position.latitude += north / kMetresPerDegree;
    position.longitude += east / (kMetresPerDegree * std::cos(radians(position.latitude)));
  }
  return position;
}

std::string GpsReceiver::burst(uint64_t second) const {
  const uint64_t clock = 10 * 3600 + second;  // from 10:00:00 UTC
  char time[16];
  std::snprintf(time, sizeof time, "%02llu%02llu%02llu.00", static_cast<unsigned long long>(clock / 3600 % 24),
                static_cast<unsigned long long>(clock / 60 % 60), static_cast<unsigned long long>(clock % 60));
  const std::string date = "081226";
  const std::optional<Position> fix = fixAt(second * seconds(1));
  if (!fix) {
    return nmeaSentence(join({talker_ + "RMC", time, "V", "", "", "", "", "", "", date, "", "", "N"})) +
           nmeaSentence(join({talker_ + "GGA", time, "", "", "", "", "0", "00", "99.99", "", "", "", "", "", ""}));
  }
  const auto [latitude, north] = coordinate(fix->latitude, true);
  const auto [longitude, east] = coordinate(fix->longitude, false);
  char speed[16];
  std::snprintf(speed, sizeof speed, "%.1f", speed_ * 1.943844);
  return nmeaSentence(join({talker_ + "RMC", time, "A", latitude, north, longitude, east, speed, "0.0", date, "",
                            "", "A"})) +
         nmeaSentence(join({talker_ + "GGA", time, latitude, north, longitude, east, "1", "08", "0.9", "45.0", "M",
                            "36.0", "M", "", ""}));
}

void GpsReceiver::attach(Bench& bench, Time end, unsigned uart) const {
  UartPeer& line = bench.uart(uart).baud(9600);
  for (uint64_t second = 0; second * seconds(1) + kBurstOffset < end; ++second) {
    const Time at = second * seconds(1) + kBurstOffset;
    if (!silentAt(at)) {
      line.send(at, burst(second));
    }
  }
  for (const UartPeer::Send& send : raw_) {
    line.send(send.at, send.bytes);
  }
}

}  // namespace sim::peers
