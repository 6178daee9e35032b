// The tracker's report record, as it arrives in the body of POST /postData:
// 9-character latitude, ",", 9-character longitude, ",", 2-digit pulse, CR,
// LF. The firmware pads short texts with blanks, and sends blank positions
// before its first fix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace server {

inline constexpr size_t kRecordSize = 24;

struct Report {
  std::optional<double> latitude;   // none: the tracker had no fix yet
  std::optional<double> longitude;
  int pulse;
};

struct ParsedRecord {
  std::optional<Report> report;
  std::string reason;  // why it was refused, when it was
};

[[nodiscard]] ParsedRecord parseRecord(std::string_view body);

}  // namespace server
