// Small ARM programs, assembled from tests/emulator/images, run on the
// emulated board. Each ends with FAULTMASK set and an undefined
// instruction, whose report carries r0-r3.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "sim/sim.h"

namespace emulator_test {

struct Ending {
  std::string failure;
  std::array<uint32_t, 4> r{};
  sim::Outcome outcome;
};

inline Ending runProgram(const std::string& name, const sim::Bench& bench = sim::Bench{},
                         sim::Time end = sim::milliseconds(10)) {
  auto outcome = bench.runImage(std::string(EMULATOR_PROGRAMS_DIR) + "/" + name + ".elf", end);
  Ending ending{outcome.failure(), {}, outcome};
  const size_t at = ending.failure.find("; r0 0x");
  if (at != std::string::npos) {
    for (size_t index = 0; index < 4; ++index) {
      ending.r[index] = static_cast<uint32_t>(std::strtoul(ending.failure.c_str() + at + 7 + index * 14, nullptr, 16));
    }
  } else {
    ADD_FAILURE() << name << " did not reach its end: " << ending.failure;
  }
  return ending;
}

inline sim::Bench withFaultHandlers() {
  sim::Bench bench;
  bench.runFaultHandlers();
  return bench;
}

}  // namespace emulator_test
