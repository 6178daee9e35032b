// A clock for the entry program's duties: TIMER3 counting freely at the
// processor clock, read often enough (at least once per 2^32 cycles, 85 s
// at 50 MHz) to extend it to 64 bits.
#pragma once

#include <cstdint>

namespace entry {

void clockConfig();
// Processor cycles since clockConfig.
[[nodiscard]] uint64_t clockCycles();
// Whole seconds since clockConfig.
[[nodiscard]] uint32_t clockSeconds();
// The cycles of that many seconds at the clock set before clockConfig.
[[nodiscard]] uint64_t clockCyclesIn(uint32_t seconds);

}  // namespace entry
