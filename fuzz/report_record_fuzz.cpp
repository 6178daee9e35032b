// The report server's record parser. A body is taken exactly when it has
// the record's shape: 9-character latitude, ',', 9-character longitude, ',',
// a pulse of two digits (or one and a blank), CR LF; each position a signed
// decimal within its range and blanks after it, or blank both. A taken
// record carries the values written in it.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "fuzz/forked_board.h"
#include "server/report_record.h"

namespace {

const std::regex kCoordinate("(-?([0-9]+\\.?[0-9]*|\\.[0-9]+)) *");

// The field's value, or NAN when blank; false when it is neither.
bool fieldValue(const std::string& field, double limit, double& value) {
  if (field.find_first_not_of(' ') == std::string::npos) {
    value = NAN;
    return true;
  }
  std::smatch number;
  if (!std::regex_match(field, number, kCoordinate)) {
    return false;
  }
  value = std::strtod(number[1].str().c_str(), nullptr);
  return value >= -limit && value <= limit;
}

bool same(const std::optional<double>& parsed, double expected) {
  return std::isnan(expected) ? !parsed.has_value() : parsed.has_value() && *parsed == expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const server::ParsedRecord parsed = server::parseRecord(body);

  double latitude = 0;
  double longitude = 0;
  int pulse = -1;
  bool shaped = body.size() == 24 && body[9] == ',' && body[19] == ',' && body.substr(22) == "\r\n" &&
                fieldValue(body.substr(0, 9), 90, latitude) && fieldValue(body.substr(10, 9), 180, longitude) &&
                std::isnan(latitude) == std::isnan(longitude);
  if (shaped) {
    const std::string digits = body.substr(20, 2);
    if (std::isdigit(static_cast<unsigned char>(digits[0])) && std::isdigit(static_cast<unsigned char>(digits[1]))) {
      pulse = std::stoi(digits);
    } else if (std::isdigit(static_cast<unsigned char>(digits[0])) && digits[1] == ' ') {
      pulse = digits[0] - '0';
    } else {
      shaped = false;
    }
  }

  if (parsed.report.has_value() != shaped) {
    fuzz::broken(std::string(shaped ? "a well-formed record refused: " : "a malformed record taken: ") + body);
  }
  if (!parsed.report) {
    if (parsed.reason.empty()) {
      fuzz::broken("a record refused without a reason");
    }
    return 0;
  }
  if (!same(parsed.report->latitude, latitude) || !same(parsed.report->longitude, longitude) ||
      parsed.report->pulse != pulse) {
    fuzz::broken("a record taken with other values than its own: " + body);
  }
  return 0;
}
