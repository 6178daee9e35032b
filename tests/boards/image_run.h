// Runs the image linked into this test binary on the simulated board: from
// reset, through its own vector table.
#pragma once

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

}  // namespace boards_test
