// The tracker firmware a scenario names, run on a bench: the host build
// linked into this program ("host"), the target build's image ("arm"), or
// an image file.
#pragma once

#include "sim/runner/scenario.h"
#include "sim/sim.h"

namespace sim {

[[nodiscard]] Outcome runTrackerFirmware(const Bench& world, const Scenario& scenario);

}  // namespace sim
