// Wall time of the shipped afternoon walk, outputs written, on the host
// build and on the ARM image.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "boards/startup/vector_table.h"
#include "sim/runner/scenario.h"
#include "sim/runner/scenario_run.h"

namespace {

using namespace sim;

void AfternoonWalk(benchmark::State& state, bool emulated) {
  const Scenario scenario = readScenario(SCENARIOS_DIR "/afternoon-walk.toml");
  const FirmwareRun firmware = [emulated](const Bench& world, const Scenario& described) {
    if (emulated) {
      return world.runImage(TARGET_BUILD_DIR "/apps/tracker/tracker_firmware.elf", described.length);
    }
    Bench bench = world;
    bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
    return bench.run(ResetISR, described.length);
  };
  std::string pattern = (std::filesystem::temp_directory_path() / "walk-bench-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  for (auto _ : state) {
    const ScenarioResult result = runScenario(scenario, firmware, folder);
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

}  // namespace
