// The tracker firmware a scenario names, run on a bench: the host build
// linked into this program ("host"), the target build's image ("arm"), or
// an image file.
#pragma once

#include <string>
#include <vector>

#include "sim/runner/scenario.h"
#include "sim/sim.h"

namespace sim {

// Where "arm" is looked for: beside the running program, then in the build
// tree the program was built in.
std::vector<std::string> armImagePlaces();
// The first of those that exists; empty if none.
std::string armImage();

[[nodiscard]] Outcome runTrackerFirmware(const Bench& world, const Scenario& scenario);

}  // namespace sim
