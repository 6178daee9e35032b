// The scenario file parser. A file is either taken, with every value in
// the range its field allows, or refused with one ScenarioError, one
// printable line that names the file and a line of it: "FILE:LINE: field:
// what", or "FILE:LINE: what" when the text is no TOML.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <regex>
#include <string>

#include "fuzz/forked_board.h"
#include "sim/runner/scenario.h"

namespace {

constexpr char kName[] = "walk.toml";
// The longest time a field takes: 1e7 s.
constexpr sim::Time kLongest = 10000000ULL * 1000000000000ULL;

void check(bool holds, const std::string& what, const std::string& text) {
  if (!holds) {
    fuzz::broken(what + "\n--- file:\n" + text);
  }
}

bool within(double value, double low, double high) { return std::isfinite(value) && value >= low && value <= high; }

void checkTaken(const sim::Scenario& scenario, const std::string& text) {
  check(scenario.length > 0 && scenario.length <= kLongest, "a run's length out of range", text);
  check(scenario.firstFix <= kLongest, "the first fix out of range", text);
  check(within(scenario.speed, 0, 100), "a speed out of range: " + std::to_string(scenario.speed), text);
  check(within(scenario.noise, 0, 1000), "a noise out of range: " + std::to_string(scenario.noise), text);
  check(within(scenario.heartRate, 0, 300), "a heart rate out of range: " + std::to_string(scenario.heartRate), text);
  for (const auto& place : scenario.walk) {
    check(within(place.latitude, -90, 90) && within(place.longitude, -180, 180), "a position out of range", text);
  }
  for (const auto& [at, rate] : scenario.heartRates) {
    check(at <= kLongest && within(rate, 0, 300), "a heart rate change out of range", text);
  }
  for (const auto& [from, to] : scenario.withoutFix) {
    check(from <= kLongest && to <= kLongest, "a span without fix out of range", text);
  }
  for (sim::Time press : scenario.presses) {
    check(press <= kLongest, "a press out of range", text);
  }
  check(!scenario.phone.answerAfterRings ||
            (scenario.phone.answerAfterRings->low <= scenario.phone.answerAfterRings->high &&
             scenario.phone.answerAfterRings->high <= 20),
        "rings out of range", text);
  for (const sim::peers::Span& span : {scenario.modem.timing.registration, scenario.modem.timing.httpAction}) {
    check(span.low <= span.high && span.high <= sim::seconds(86400), "a modem range out of order or range", text);
  }
  check(!scenario.phone.voicemailAfter || scenario.phone.voicemailAfter->high <= kLongest, "a voicemail out of range",
        text);
  static const std::regex kNumber("\\+?[0-9]{1,20}");
  for (const auto& call : scenario.phone.calls) {
    check(call.number.empty() || std::regex_match(call.number, kNumber), "a caller's number not a number", text);
  }
  for (const auto& message : scenario.phone.texts) {
    check(message.body.size() <= 160, "a text longer than 160 characters", text);
  }
  check(scenario.server == "real" || scenario.server == "bench" || scenario.server == "none",
        "a server of no known kind: " + scenario.server, text);
  check(scenario.radius >= 1 && scenario.radius <= 9999, "a radius out of range", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    checkTaken(sim::parseScenario(text, kName), text);
  } catch (const sim::ScenarioError& error) {
    // One printable line naming a line of the file (and the field, unless
    // the file is no TOML at all). The whole [run] table missing has no line
    // to name.
    static const std::regex kError("walk\\.toml:([0-9]+): [\\x20-\\x7E]+");
    const std::string message = error.what();
    std::smatch parts;
    check(std::regex_match(message, parts, kError), "an error not in the file:line: form: " + message, text);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    const size_t line = std::stoul(parts[1].str());
    check(line <= lines, "an error on a line the file does not have: " + message, text);
    check(line >= 1 || message.rfind("walk.toml:0: run: ", 0) == 0, "an error on line 0: " + message, text);
  }
  return 0;
}
