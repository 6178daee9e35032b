#include "sim/runner/tracker_firmware.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "boards/startup/vector_table.h"

namespace sim {

std::vector<std::string> armImagePlaces() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path folder = error ? std::filesystem::current_path() : self.parent_path();
  // Beside the program, as copied together; or in the build tree, where each
  // preset has its folder under build/ and the target build is tm4c123.
  return {(folder / "tracker_firmware.elf").string(),
          (folder.parent_path().parent_path() / "tm4c123" / "apps" / "tracker" / "tracker_firmware.elf").string()};
}

std::string armImage() {
  for (const std::string& place : armImagePlaces()) {
    std::error_code error;
    if (std::filesystem::is_regular_file(place, error)) {
      return std::filesystem::weakly_canonical(place, error).string();
    }
  }
  return {};
}

Outcome runTrackerFirmware(const Bench& world, const Scenario& scenario) {
  if (scenario.firmware == "host") {
    Bench bench = world;
    bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
    return bench.run(ResetISR, scenario.length);
  }
  const std::string image = scenario.firmware == "arm" ? armImage() : scenario.firmware;
  if (image.empty()) {
    return Outcome({}, "no ARM image of the tracker beside this program: " + armImagePlaces()[0] + " or " +
                           armImagePlaces()[1] + " (cmake --build --preset tm4c123 builds it)");
  }
  return world.runImage(image, scenario.length);
}

}  // namespace sim
