// Wall time of the shipped afternoon walk, outputs written, on the host
// build and on the ARM image; and a day of it, with the runner's peak
// resident memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "sim/runner/scenario.h"
#include "sim/runner/scenario_run.h"
#include "sim/runner/tracker_firmware.h"

namespace {

using namespace sim;

void AfternoonWalk(benchmark::State& state, bool emulated) {
  Scenario scenario = readScenario(SCENARIOS_DIR "/afternoon-walk.toml");
  scenario.firmware = emulated ? "arm" : "host";
  std::string pattern = (std::filesystem::temp_directory_path() / "walk-bench-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  for (auto _ : state) {
    const ScenarioResult result = runScenario(scenario, runTrackerFirmware, folder);
    if (!result.outcome.ok() || result.log.inbox().empty()) {
      state.SkipWithError(result.outcome.ok() ? "no text reached the caretaker" : result.outcome.failure().c_str());
    }
  }
  state.counters["virtual_s"] = static_cast<double>(scenario.length) / 1e12;
  std::filesystem::remove_all(folder);
}
void AfternoonWalkHostBuild(benchmark::State& state) { AfternoonWalk(state, false); }
void AfternoonWalkArmImage(benchmark::State& state) { AfternoonWalk(state, true); }
BENCHMARK(AfternoonWalkHostBuild)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AfternoonWalkArmImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// 24 virtual hours of the walk, the compact outputs written (no timeline,
// trace or waveform). The goal is a peak under 300 MB in each process.
void DayOfTheWalk(benchmark::State& state) {
  Scenario scenario = readScenario(SCENARIOS_DIR "/afternoon-walk.toml");
  scenario.length = seconds(24 * 3600);
  scenario.expectations.clear();
  std::string pattern = (std::filesystem::temp_directory_path() / "day-bench-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  for (auto _ : state) {
    const ScenarioResult result =
        runScenario(scenario, runTrackerFirmware, folder, false, {{"summary.json", "console.txt", "report.html"}});
    if (!result.outcome.ok()) {
      state.SkipWithError(result.outcome.failure().c_str());
    }
  }
  // The runner's and the largest of its run's processes (the board, the
  // report server).
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  getrusage(RUSAGE_CHILDREN, &usage);
  state.counters["board_peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  std::filesystem::remove_all(folder);
}
BENCHMARK(DayOfTheWalk)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
