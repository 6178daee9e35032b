// What a scenario file expects of its run, from its [[expect]] tables:
// checked after the run, each reported on a line of its own.
#pragma once

#include <array>
#include <climits>
#include <optional>
#include <string>
#include <utility>

#include "sim/time.h"

namespace sim {

struct Expectation {
  enum class Kind { Text, Call, Http, StoredReports, Alerts, NoFault, Stack, LostBytes, Hold, Console };
  Kind kind = Kind::NoFault;
  unsigned line = 0;  // in the scenario file
  std::string what;   // the expectation in words

  // The kinds that count what they see: at least one unless the file says.
  unsigned atLeast = 1;
  unsigned atMost = UINT_MAX;
  std::optional<std::pair<Time, Time>> within;

  std::string pattern;            // text, console: an ECMAScript regular expression, searched for
  bool toCaretaker = true;        // text: to the caretaker's phone, or to the module
  std::optional<bool> outgoing;   // call: from the module
  std::optional<bool> answered;   // call
  Time talkAtLeast = 0;           // call
  std::string path;               // http: the URL's path
  std::string method;             // http: any when empty
  std::optional<int> status;      // http
  std::optional<std::array<double, 3>> near;  // stored_reports: latitude, longitude, metres
  uint32_t below = 0;             // stack: bytes
  unsigned uart = 0;              // lost_bytes
  unsigned vector = 0;            // hold: the handler's exception number
  Time holdAtMost = 0;            // hold
};

struct ExpectationResult {
  enum class Verdict { Passed, Failed, NotMeasured };
  Verdict verdict;
  std::string line;  // "line 31: a text to the caretaker matching /x/: 2 seen"
};

}  // namespace sim
