// Runs the image linked into this test binary on the simulated board: from
// reset, through its own vector table.
#pragma once

#include <string>

#include "boards/startup/vector_table.h"
#include "platform/hw.h"
#include "sim/sim.h"

namespace boards_test {

inline sim::Bench imageBench() {
  sim::Bench bench;
  bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
  return bench;
}

inline sim::Outcome runImage(const sim::Bench& bench, sim::Time end) { return bench.run(ResetISR, end); }

// The same image of the target build, on the emulated board.
inline sim::Outcome runArmImage(const sim::Bench& bench, const std::string& relativePath, sim::Time end) {
  return bench.runImage(std::string(TARGET_BUILD_DIR) + "/" + relativePath, end);
}

}  // namespace boards_test
