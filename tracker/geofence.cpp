// The geofence: great-circle distance from the reference position.
#include <cmath>

#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

double deg2rad(double deg) { return (deg * kPi) / 180; }

double rad2deg(double rad) { return (rad * 180) / kPi; }

double distance(double lat1, double lon1, double lat2, double lon2, char unit) {
  if ((lat1 == lat2) && (lon1 == lon2)) {
    return 0.0;
  }
  const double theta = lon1 - lon2;
  double dist = std::sin(deg2rad(lat1)) * std::sin(deg2rad(lat2)) +
                std::cos(deg2rad(lat1)) * std::cos(deg2rad(lat2)) * std::cos(deg2rad(theta));
  if (dist >= 1.0 || dist <= -1.0) {
    // Close positions round the sum up to 1 or past it, and antipodal ones
    // down to -1 or past it, where acos gives 0 or no number: the haversine
    // form keeps their true distance.
    const double halfLat = std::sin(deg2rad(lat2 - lat1) / 2);
    const double halfLon = std::sin(deg2rad(theta) / 2);
    const double a = halfLat * halfLat + std::cos(deg2rad(lat1)) * std::cos(deg2rad(lat2)) * halfLon * halfLon;
    dist = 2 * std::asin(std::sqrt(a));
  } else {
    dist = std::acos(dist);
  }
  dist = rad2deg(dist);
  dist = dist * 60 * 1.1515;
  if (unit == 'K') {
    dist = dist * 1.609344;
  } else if (unit == 'N') {
    dist = dist * 0.8684;
  }
  return dist;
}

int controlDistanceRange() {
  const double dist = distance(beforeLat, beforeLong, currentLat, currentLong, 'K') * 1000.0;
  const double radius = static_cast<double>(circleSize);
  return dist > radius ? 1 : 0;
}

void setReferencePosition(double latitude, double longitude) {
  beforeLat = latitude;
  beforeLong = longitude;
}

void setCurrentPosition(double latitude, double longitude) {
  currentLat = latitude;
  currentLong = longitude;
}
