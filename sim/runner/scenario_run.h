// Runs a scenario and writes what it shows: the timeline, the waveform, a
// trace of what ran when, and a one-page report.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "server/store.h"
#include "sim/bench.h"
#include "sim/peers/sim900.h"
#include "sim/runner/scenario.h"

namespace sim {

// Runs the firmware the scenario names on a bench (the host build, or an
// ARM image file).
using FirmwareRun = std::function<Outcome(const Bench& bench, const Scenario& scenario)>;

struct HandlerHold {
  Time longest = 0;
  size_t entries = 0;
};

// How long each handler, by its vector, held the processor at the longest,
// and how many of its runs ended within the run, tallied record by record.
struct HandlerHolds {
  std::map<unsigned, HandlerHold> byVector;
  std::map<unsigned, Time> entered;
  void add(const Record& record);
};

struct ScenarioResult {
  Outcome outcome{{}, ""};
  peers::ModemLog log;                         // what the modem saw and did
  std::vector<server::StoredReport> stored;    // by the real report server
  std::vector<ExpectationResult> expectations;  // one for each of the scenario's, in its order
  std::string summary;                         // a few lines for the terminal
  HandlerHolds holds;                          // of the whole run, whatever the outcome kept

  [[nodiscard]] bool passed() const;  // no fault, and no expectation failed
};

// Control bytes shown as <hh>, blanks kept: bytes for people to read.
std::string shownBytes(const std::string& bytes);

// A press of the wearer's button at a time: 300 ms with a few bounces.
inline std::vector<PinChange> buttonPress(Time at) { return pressChanges(PF4, at, milliseconds(300), 3); }

// Runs the scenario's world around the firmware and reads back what the
// modem saw; the folder holds the real report server's data, if any. With
// a sink, the outcome keeps what it says (handler holds are tallied anyway).
ScenarioResult playScenario(const Scenario& scenario, const FirmwareRun& firmware,
                            const std::filesystem::path& folder, bool progress = false, RecordSink sink = {});

// The records that the outputs written after the run read from its
// outcome: all but the bytes of lines other than the console's and the
// modem's, and the handlers' entries and exits, which are most of a long run.
bool keptForTheReport(const Record& record);

// The scenario's expectations against what its run showed.
std::vector<ExpectationResult> checkExpectations(const Scenario& scenario, const ScenarioResult& result);

// The files a run can write, in the order they are written.
inline constexpr const char* kOutputFiles[] = {"summary.json", "console.txt", "report.html",
                                               "trace.json",   "timeline.txt", "waveform.vcd"};

// "report.html,summary.json" as the names it lists; an error's words if one
// is not an output's.
std::string chooseOutputs(const std::string& list, std::vector<std::string>& chosen);

struct OutputChoice {
  std::vector<std::string> files;  // of kOutputFiles; none: all of them
  uint32_t vcdStepNanoseconds = 1;  // one of kWaveformSteps
};

// Plays the scenario and writes the outputs chosen into the folder, made
// if missing: the timeline, the trace and the waveform as the run goes, so
// that its outcome keeps only what the others need. With progress, a bar
// on stderr shows the virtual time done and left while the run goes on,
// then the file being finished.
ScenarioResult runScenario(const Scenario& scenario, const FirmwareRun& firmware, const std::filesystem::path& folder,
                           bool progress = false, const OutputChoice& outputs = {});

}  // namespace sim
