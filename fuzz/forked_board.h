// Fuzz inputs on the simulated board. Each board run has a process of its
// own, so the firmware's module-level state is fresh for every input; the
// coverage the run's process gathers is copied back for the fuzzer to see.
#pragma once

#include <functional>
#include <string>

#include "sim/sim.h"

namespace fuzz {

// Once, before the first run (LLVMFuzzerInitialize).
void shareCoverage();

// Runs the entry on the bench. A fault, a crash or a broken invariant in the
// run is a finding: it is printed and the fuzzer's process aborts.
sim::Outcome runOnBoard(const sim::Bench& bench, const std::function<void()>& entry, sim::Time end);

// In a run or out of it: an invariant does not hold.
[[noreturn]] void broken(const std::string& what);

}  // namespace fuzz
