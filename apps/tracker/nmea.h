// NMEA 0183 sentences of a GPS receiver: the checksum, and position fixes
// from RMC and GGA sentences of any talker; and the position texts of the
// report.
#pragma once

#include <cstdint>
#include <string_view>

namespace position {

// At most 82 characters from '$' to the line feed, both included.
inline constexpr size_t kLongestSentence = 82;

// Decimal degrees in units of 1e-7 degree, south and west negative.
struct Fix {
  int32_t latitude;
  int32_t longitude;
};

enum class SentenceKind : uint8_t {
  Fix,      // a valid RMC (status A) or GGA (quality 1 or more)
  NoFix,    // a well-formed RMC or GGA without a fix
  Other,    // a well-formed sentence of another type
  Invalid,  // bad frame, checksum, field or range
};

struct Sentence {
  SentenceKind kind;
  Fix fix;
};

// A sentence from its '$' up to, not including, the CR LF that ends it.
[[nodiscard]] Sentence parseSentence(std::string_view sentence);

// A position text: exactly 9 characters and a terminator, signed decimal
// degrees with as many decimals as fit (41.015137, -33.86882, 151.20929,
// -122.4194).
struct PositionText {
  char text[10];
};
[[nodiscard]] PositionText formatDegrees(int32_t degrees);

}  // namespace position
