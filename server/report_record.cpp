#include "server/report_record.h"

#include <charconv>

namespace server {

namespace {

// A signed decimal number, then blanks to the field's width; or all blanks.
// Returns false for anything else.
bool parseCoordinate(std::string_view field, double limit, std::optional<double>& value) {
  const size_t end = field.find_last_not_of(' ');
  if (end == std::string_view::npos) {
    value.reset();
    return true;
  }
  const std::string_view number = field.substr(0, end + 1);
  size_t at = number[0] == '-' ? 1 : 0;
  size_t digits = 0;
  bool point = false;
  for (; at < number.size(); ++at) {
    if (number[at] >= '0' && number[at] <= '9') {
      ++digits;
    } else if (number[at] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0) {
    return false;
  }
  double parsed = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), parsed);
  if (result.ec != std::errc{} || result.ptr != number.data() + number.size() || parsed < -limit ||
      parsed > limit) {
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace

ParsedRecord parseRecord(std::string_view body) {
  if (body.size() != kRecordSize) {
    return {std::nullopt, "a report is 24 bytes, this body is " + std::to_string(body.size())};
  }
  if (body[9] != ',' || body[19] != ',' || body.substr(22) != "\r\n") {
    return {std::nullopt, "expected latitude,longitude,pulse and CR LF"};
  }
  Report report{};
  if (!parseCoordinate(body.substr(0, 9), 90, report.latitude)) {
    return {std::nullopt, "latitude is no number from -90 to 90"};
  }
  if (!parseCoordinate(body.substr(10, 9), 180, report.longitude)) {
    return {std::nullopt, "longitude is no number from -180 to 180"};
  }
  if (report.latitude.has_value() != report.longitude.has_value()) {
    return {std::nullopt, "latitude and longitude come together"};
  }
  const char tens = body[20];
  const char units = body[21];
  const bool digit = units >= '0' && units <= '9';
  if (tens >= '0' && tens <= '9' && digit) {
    report.pulse = (tens - '0') * 10 + (units - '0');
  } else if (tens >= '0' && tens <= '9' && units == ' ') {
    report.pulse = tens - '0';
  } else {
    return {std::nullopt, "pulse is no number of two digits"};
  }
  return {report, ""};
}

}  // namespace server
