// The files a scenario's run writes, each drawn from the run's result.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

#include "sim/peers/gps_receiver.h"
#include "sim/runner/scenario_run.h"

namespace sim {

inline const char* const kAlert = "The target went beyond the limits.\r";

// "1 call", "2 calls": every noun here takes an s.
inline std::string counted(size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

const char* verdictWord(ExpectationResult::Verdict verdict);

// trace.json: what ran when, for Perfetto. The handlers' runs are
// written as the records come, the rest once the run is over.
class TraceWriter {
 public:
  explicit TraceWriter(std::ostream& out);
  void add(const Record& record);
  void finish(const Scenario& scenario, const ScenarioResult& result);

 private:
  void write(const nlohmann::json& event);
  std::ostream& out_;
  std::string text_;
  bool first_ = true;
  std::map<unsigned, Time> entered_;
  std::vector<std::pair<Time, Time>> scriptingHandlers_;  // handlers that held the processor past a FIFO's drain
};

// Which firmware ran: "simulated" (the host build inside the runner) or
// "emulated" (an ARM image), and the file that holds it.
// The firmware of a world run (tracker_world): a real board's, on the wires.
inline constexpr const char* kRealBoard = "real board";

struct FirmwareRan {
  std::string board;
  std::string what;
  std::string image;
};
FirmwareRan firmwareRan(const Scenario& scenario);

// A radius the firmware took, from the server or from a text.
struct RadiusHeld {
  Time at;
  int metres;
  std::string how;  // "fetched" or "texted"
};
std::vector<RadiusHeld> radiiHeld(const Outcome& run);

// summary.json: the record of the run, for programs.
nlohmann::json runSummary(const Scenario& scenario, const ScenarioResult& result);

// console.txt: what the firmware printed on UART0, lines ended by LF.
// A line's bytes as a text file: CR dropped, LF kept, other bytes shown.
std::string lineText(std::string_view bytes);
std::string consoleText(const Outcome& run);

// "1:53.405": minutes, seconds and milliseconds.
std::string clockTime(Time time);

// The report's chart of what happened when, as SVG.
std::string timeChart(const Scenario& scenario, const ScenarioResult& result);

// report.html: one page for people.
std::string reportHtml(const Scenario& scenario, const ScenarioResult& result, const peers::GpsReceiver& gps);

}  // namespace sim
