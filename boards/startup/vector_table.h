// The processor's vector table: entry 0 the initial stack pointer, then the
// exception and device-interrupt handlers, 155 entries in all. Every image
// builds its table from this one definition, naming only the entries it
// fills itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace startup {

using Handler = void (*)();

// One word of the table: a handler, or the stack value in entry 0.
union Vector {
  Handler handler;
  const void* stack;
};
static_assert(sizeof(Vector) == sizeof(void*), "one table entry is one pointer");

inline constexpr size_t kEntries = 155;

// An entry that an image fills with its own handler.
struct Fill {
  unsigned entry;
  Handler handler;
};

// Entries the chip reserves: 0 in the table.
constexpr bool reserved(unsigned entry) {
  return (entry >= 7 && entry <= 10) || entry == 13 || entry == 57 || entry == 58 || entry == 68 ||
         entry == 69 || (entry >= 80 && entry <= 83) || (entry >= 88 && entry <= 107) || entry == 123 ||
         entry == 124 || entry == 130 || entry == 131;
}

template <size_t Fills>
constexpr std::array<Vector, kEntries> vectorTable(const void* stackTop, Handler reset, Handler nmi,
                                                   Handler fault, Handler fallback,
                                                   const std::array<Fill, Fills>& fills) {
  std::array<Vector, kEntries> table{};
  table[0].stack = stackTop;
  table[1].handler = reset;
  table[2].handler = nmi;
  table[3].handler = fault;
  for (unsigned entry = 4; entry < kEntries; ++entry) {
    table[entry].handler = reserved(entry) ? nullptr : fallback;
  }
  for (const Fill& fill : fills) {
    table[fill.entry].handler = fill.handler;
  }
  return table;
}

}  // namespace startup

// Reset entry, and the image's table, as the startup module defines them.
extern "C" void ResetISR();
extern "C" const std::array<startup::Vector, startup::kEntries> g_pfnVectors;
