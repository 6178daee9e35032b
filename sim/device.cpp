#include "sim/device.h"

#include <cinttypes>
#include <cstdio>

#include "sim/board.h"

namespace sim {

std::string registerAddress(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

uint32_t Device::readNarrow(uint32_t offset, unsigned size) {
  const uint32_t word = read(offset & ~3U);
  const uint32_t shift = (offset & 3U) * 8;
  return (word >> shift) & (size == 1 ? 0xFFU : 0xFFFFU);
}

void Device::writeNarrow(uint32_t offset, uint32_t, unsigned size) {
  board_.fault(name_ + ": " + std::to_string(size * 8) + "-bit write at " + registerAddress(base_ + offset) +
               " (this block takes word writes)");
}

void Device::unknownRegister(uint32_t offset, const char* access) {
  board_.fault(std::string(access) + " at " + registerAddress(base_ + offset) + ": no " + name_ +
               " register there");
}

}  // namespace sim
