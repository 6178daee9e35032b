#include "sim/runner/tracker_firmware.h"

#include <string>

#include "boards/startup/vector_table.h"

namespace sim {

Outcome runTrackerFirmware(const Bench& world, const Scenario& scenario) {
  if (scenario.firmware == "host") {
    Bench bench = world;
    bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
    return bench.run(ResetISR, scenario.length);
  }
  return world.runImage(scenario.firmware == "arm" ? std::string(TRACKER_IMAGE) : scenario.firmware,
                        scenario.length);
}

}  // namespace sim
