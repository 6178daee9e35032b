#include "apps/tracker/nmea.h"

#include "numtext/numtext.h"

namespace position {

namespace {

constexpr int64_t kUnitsPerDegree = 10000000;  // 1e-7 degree
constexpr size_t kMinuteDecimals = 7;

int hexValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'A' && digit <= 'F') {
    return digit - 'A' + 10;
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  return -1;
}

// A part of text that the caller knows lies within it, without the bounds
// check that would pull the exception machinery into the image.
std::string_view slice(std::string_view text, size_t start, size_t length = std::string_view::npos) {
  const size_t rest = text.size() - start;
  return {text.data() + start, length < rest ? length : rest};
}

bool isDigit(char character) { return character >= '0' && character <= '9'; }

bool isUpper(char character) { return character >= 'A' && character <= 'Z'; }

// The comma-separated fields of a sentence body, split once; field 0 is the
// address. A body with more fields than a sentence of ours has keeps the
// count but not the extra fields.
class Fields {
 public:
  explicit Fields(std::string_view body) {
    size_t start = 0;
    for (size_t at = 0; at <= body.size(); ++at) {
      if (at == body.size() || body[at] == ',') {
        if (count_ < kKept) {
          fields_[count_] = slice(body, start, at - start);
        }
        ++count_;
        start = at + 1;
      }
    }
  }

  [[nodiscard]] size_t count() const { return count_; }

  [[nodiscard]] std::string_view operator[](size_t index) const {
    return index < count_ && index < kKept ? fields_[index] : std::string_view{};
  }

 private:
  static constexpr size_t kKept = 16;
  std::string_view fields_[kKept];
  size_t count_ = 0;
};

// ddmm.mmmm (latitude, 2 degree digits) or dddmm.mmmm (longitude, 3), with
// 0 to 7 minute decimals, and its hemisphere letter.
bool parseCoordinate(std::string_view text, std::string_view hemisphere, bool latitude, int32_t& result) {
  const size_t degreeDigits = latitude ? 2 : 3;
  if (text.size() < degreeDigits + 2 || hemisphere.size() != 1) {
    return false;
  }
  int64_t degrees = 0;
  int64_t minutes = 0;  // in 1e-7 minute
  for (size_t index = 0; index < degreeDigits + 2; ++index) {
    if (!isDigit(text[index])) {
      return false;
    }
    if (index < degreeDigits) {
      degrees = degrees * 10 + (text[index] - '0');
    } else {
      minutes = minutes * 10 + (text[index] - '0');
    }
  }
  std::string_view decimals = slice(text, degreeDigits + 2);
  if (!decimals.empty()) {
    if (decimals[0] != '.' || decimals.size() < 2 || decimals.size() > kMinuteDecimals + 1) {
      return false;
    }
    decimals.remove_prefix(1);
  }
  size_t place = 0;
  for (; place < decimals.size(); ++place) {
    if (!isDigit(decimals[place])) {
      return false;
    }
    minutes = minutes * 10 + (decimals[place] - '0');
  }
  for (; place < kMinuteDecimals; ++place) {
    minutes *= 10;
  }
  const int64_t limit = latitude ? 90 : 180;
  if (minutes >= 60 * kUnitsPerDegree) {
    return false;
  }
  // A minute is 1/60 degree: round to the nearest 1e-7 degree.
  const int64_t value = degrees * kUnitsPerDegree + (minutes + 30) / 60;
  if (value > limit * kUnitsPerDegree) {
    return false;
  }
  const char letter = hemisphere[0];
  if (letter == (latitude ? 'S' : 'W')) {
    result = static_cast<int32_t>(-value);
  } else if (letter == (latitude ? 'N' : 'E')) {
    result = static_cast<int32_t>(value);
  } else {
    return false;
  }
  return true;
}

bool parsePosition(const Fields& fields, size_t first, Fix& fix) {
  return parseCoordinate(fields[first], fields[first + 1], true, fix.latitude) &&
         parseCoordinate(fields[first + 2], fields[first + 3], false, fix.longitude);
}

// RMC: time, status, latitude, N/S, longitude, E/W, speed, course, date,
// variation, E/W, and from NMEA 2.3 on a mode letter.
Sentence parseRmc(const Fields& fields) {
  const size_t count = fields.count();
  if (count < 12 || count > 13) {
    return {SentenceKind::Invalid, {}};
  }
  const std::string_view status = fields[2];
  const std::string_view mode = count == 13 ? fields[12] : std::string_view{};
  if (status == "V" || mode == "N") {
    return {SentenceKind::NoFix, {}};
  }
  Fix fix{};
  if (status != "A" || !parsePosition(fields, 3, fix)) {
    return {SentenceKind::Invalid, {}};
  }
  return {SentenceKind::Fix, fix};
}

// GGA: time, latitude, N/S, longitude, E/W, quality, satellites, HDOP,
// altitude, M, geoid separation, M, age, station.
Sentence parseGga(const Fields& fields) {
  if (fields.count() != 15) {
    return {SentenceKind::Invalid, {}};
  }
  const std::string_view quality = fields[6];
  if (quality.size() != 1 || !isDigit(quality[0])) {
    return {SentenceKind::Invalid, {}};
  }
  if (quality[0] == '0') {
    return {SentenceKind::NoFix, {}};
  }
  Fix fix{};
  if (!parsePosition(fields, 2, fix)) {
    return {SentenceKind::Invalid, {}};
  }
  return {SentenceKind::Fix, fix};
}

}  // namespace

Sentence parseSentence(std::string_view sentence) {
  // '$', the body, '*' and two hex digits; printable characters only.
  if (sentence.size() < 4 || sentence.size() > kLongestSentence - 2 || sentence[0] != '$' ||
      sentence[sentence.size() - 3] != '*') {
    return {SentenceKind::Invalid, {}};
  }
  const std::string_view body = slice(sentence, 1, sentence.size() - 4);
  uint8_t checksum = 0;
  for (char character : body) {
    if (character < ' ' || character > '~' || character == '$' || character == '*') {
      return {SentenceKind::Invalid, {}};
    }
    checksum = static_cast<uint8_t>(checksum ^ static_cast<uint8_t>(character));
  }
  const int high = hexValue(sentence[sentence.size() - 2]);
  const int low = hexValue(sentence[sentence.size() - 1]);
  if (high < 0 || low < 0 || checksum != high * 16 + low) {
    return {SentenceKind::Invalid, {}};
  }
  const Fields fields(body);
  const std::string_view address = fields[0];
  if (address.size() != 5 || !isUpper(address[0]) || !isUpper(address[1])) {
    return {SentenceKind::Other, {}};
  }
  const std::string_view type = slice(address, 2);
  if (type == "RMC") {
    return parseRmc(fields);
  }
  if (type == "GGA") {
    return parseGga(fields);
  }
  return {SentenceKind::Other, {}};
}

PositionText formatDegrees(int32_t degrees) {
  const bool negative = degrees < 0;
  const int64_t magnitude = negative ? -static_cast<int64_t>(degrees) : degrees;
  // Nine characters: the sign, the whole degrees, the point and as many
  // decimals as are left; rounding up may take one more whole digit.
  int64_t whole = magnitude / kUnitsPerDegree;
  int64_t fraction = 0;
  int decimals = 0;
  for (;;) {
    const int wholeDigits = whole >= 100 ? 3 : whole >= 10 ? 2 : 1;
    decimals = 9 - (negative ? 1 : 0) - wholeDigits - 1;
    int64_t scale = 1;
    for (int place = decimals; place < 7; ++place) {
      scale *= 10;
    }
    const int64_t rounded = (magnitude + scale / 2) / scale;
    int64_t unit = 1;
    for (int place = 0; place < decimals; ++place) {
      unit *= 10;
    }
    if (rounded / unit == whole) {
      fraction = rounded % unit;
      break;
    }
    whole = rounded / unit;
  }
  PositionText position{};
  int at = 0;
  if (negative) {
    position.text[at++] = '-';
  }
  at += intToStr(static_cast<int>(whole), position.text + at, 1);
  position.text[at++] = '.';
  intToStr(static_cast<int>(fraction), position.text + at, decimals);
  return position;
}

}  // namespace position
