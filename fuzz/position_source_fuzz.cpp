// The position source, fed a GPS receiver's byte stream on UART2 at 9600
// baud through its own interrupt handler. Input: the bytes; 0xFF is a pause
// of the line (the receive time-out ends a batch there).
//
// An input that starts with '!' has the checksum of every sentence made
// right first (the '!' dropped), so the fuzzer reaches the fields behind it.
//
// Every millisecond of the run the position texts must hold what they held
// before, or a well-formed 9-character pair of one RMC or GGA sentence of
// the input whose checksum is right, rounded to the decimals shown.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/tracker/clock.h"
#include "apps/tracker/entry.h"
#include "apps/tracker/position_source.h"
#include "fuzz/forked_board.h"
#include "platform/driverlib.h"
#include "tracker/tracker.h"

namespace {

constexpr uint8_t kPause = 0xFF;
constexpr uint8_t kRepairChecksums = '!';
constexpr unsigned kGpsUart = 2;
// A character at 9600 baud, 8N1, a little slow.
constexpr sim::Time kCharacter = sim::microseconds(1050);

// The XOR of a sentence's characters between '$' and '*'.
uint8_t checksumOf(std::string_view body) {
  uint8_t sum = 0;
  for (char character : body) {
    sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(character));
  }
  return sum;
}

// Writes the right checksum after every '*' of a sentence from its '$'.
void repairChecksums(std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t start = bytes.find('$'); start != std::string::npos; start = bytes.find('$', start + 1)) {
    const size_t star = bytes.find('*', start);
    if (star == std::string::npos || star + 2 >= bytes.size()) {
      return;
    }
    const uint8_t sum = checksumOf(std::string_view(bytes).substr(start + 1, star - start - 1));
    bytes[star + 1] = kDigits[sum >> 4];
    bytes[star + 2] = kDigits[sum & 15];
  }
}

struct Degrees {
  double latitude;
  double longitude;
};

std::vector<std::string_view> fields(std::string_view body) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    const size_t comma = body.find(',', at);
    parts.push_back(body.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
    if (comma == std::string_view::npos) {
      return parts;
    }
    at = comma + 1;
  }
}

// ddmm.mmmm or dddmm.mmmm and a hemisphere, as decimal degrees.
std::optional<double> coordinate(std::string_view value, std::string_view hemisphere, size_t degreeDigits) {
  if (value.size() <= degreeDigits || hemisphere.size() != 1) {
    return std::nullopt;
  }
  const std::string text(value);
  char* end = nullptr;
  const double degrees = std::strtod(text.substr(0, degreeDigits).c_str(), nullptr);
  const double minutes = std::strtod(text.c_str() + degreeDigits, &end);
  if (end == text.c_str() + degreeDigits) {
    return std::nullopt;
  }
  const double sign = hemisphere == "S" || hemisphere == "W" ? -1 : 1;
  return sign * (degrees + minutes / 60);
}

// Every place an RMC or GGA sentence with a right checksum names, whatever
// else it holds: the source may take no more than these.
std::vector<Degrees> placesNamed(const std::string& stream) {
  std::vector<Degrees> places;
  for (size_t start = stream.find('$'); start != std::string::npos; start = stream.find('$', start + 1)) {
    const size_t star = stream.find('*', start);
    if (star == std::string::npos || star + 3 > stream.size()) {
      break;
    }
    const std::string_view body(stream.data() + start + 1, star - start - 1);
    const uint8_t sum = checksumOf(body);
    char given[3] = {stream[star + 1], stream[star + 2], 0};
    char* end = nullptr;
    if (std::strtoul(given, &end, 16) != sum || end != given + 2 || body.size() < 6) {
      continue;
    }
    const std::vector<std::string_view> parts = fields(body);
    const std::string_view type = parts[0].substr(parts[0].size() >= 3 ? parts[0].size() - 3 : 0);
    const size_t first = type == "RMC" ? 3 : type == "GGA" ? 2 : 0;
    if (first == 0 || parts.size() < first + 4) {
      continue;
    }
    const auto latitude = coordinate(parts[first], parts[first + 1], 2);
    const auto longitude = coordinate(parts[first + 2], parts[first + 3], 3);
    if (latitude && longitude) {
      places.push_back(Degrees{*latitude, *longitude});
    }
  }
  return places;
}

// A position text: 9 characters, an optional '-', digits, one '.', digits.
std::optional<std::pair<double, double>> valueAndHalfStep(const char* text) {
  if (std::strlen(text) != 9) {
    return std::nullopt;
  }
  const std::string_view view(text, 9);
  const size_t point = view.find('.');
  const size_t digitsFrom = view[0] == '-' ? 1 : 0;
  if (point == std::string_view::npos || point == digitsFrom || point == 8) {
    return std::nullopt;
  }
  for (size_t at = digitsFrom; at < 9; ++at) {
    if (at != point && (view[at] < '0' || view[at] > '9')) {
      return std::nullopt;
    }
  }
  return std::pair{std::strtod(text, nullptr), 0.5 * std::pow(10.0, -static_cast<double>(8 - point))};
}

bool shows(const Degrees& place, const char* latitude, const char* longitude) {
  const auto shownLatitude = valueAndHalfStep(latitude);
  const auto shownLongitude = valueAndHalfStep(longitude);
  // Rounding happens in units of 1e-7 degree.
  constexpr double kSlack = 2e-7;
  return shownLatitude && shownLongitude &&
         std::fabs(shownLatitude->first - place.latitude) <= shownLatitude->second + kSlack &&
         std::fabs(shownLongitude->first - place.longitude) <= shownLongitude->second + kSlack;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::shareCoverage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  if (!input.empty() && static_cast<uint8_t>(input[0]) == kRepairChecksums) {
    input.erase(0, 1);
    repairChecksums(input);
  }
  sim::Bench bench;
  bench.uart(kGpsUart).baud(9600);
  std::string stream;
  std::string chunk;
  sim::Time at = sim::milliseconds(10);
  auto sendChunk = [&] {
    if (!chunk.empty()) {
      bench.uart(kGpsUart).send(at, chunk);
      at += static_cast<sim::Time>(chunk.size()) * kCharacter;
      chunk.clear();
    }
  };
  for (char byte : input) {
    if (static_cast<uint8_t>(byte) == kPause) {
      sendChunk();
      at += sim::milliseconds(20);
    } else {
      chunk.push_back(byte);
      stream.push_back(byte);
    }
  }
  sendChunk();
  const std::vector<Degrees> places = placesNamed(stream);
  const sim::Time end = at + sim::milliseconds(50);

  (void)fuzz::runOnBoard(
      bench,
      [&places, end] {
        setPins();
        entry::clockConfig();
        entry::setUpPositionLink();
        entry::gpsConfig();
        IntMasterEnable();
        char latitude[sizeof latitudeResult] = {};
        char longitude[sizeof longitudeResult] = {};
        for (sim::Time now = sim::milliseconds(1); now < end; now += sim::milliseconds(1)) {
          sim::runUntil(now);
          const bool wasDisabled = IntMasterDisable();
          const bool same = std::memcmp(latitude, latitudeResult, sizeof latitude) == 0 &&
                            std::memcmp(longitude, longitudeResult, sizeof longitude) == 0;
          std::memcpy(latitude, latitudeResult, sizeof latitude);
          std::memcpy(longitude, longitudeResult, sizeof longitude);
          if (!wasDisabled) {
            IntMasterEnable();
          }
          if (same) {
            continue;
          }
          if (latitude[9] != '\0' || longitude[9] != '\0') {
            fuzz::broken("a position text without its terminator");
          }
          bool named = false;
          for (const Degrees& place : places) {
            named = named || shows(place, latitude, longitude);
          }
          if (!named) {
            fuzz::broken(std::string("the position texts ") + latitude + " " + longitude +
                         " are no place a checksummed sentence named");
          }
        }
      },
      end + sim::milliseconds(10));
  return 0;
}
