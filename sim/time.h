// Virtual time: a 64-bit count of picoseconds.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

using Time = uint64_t;

constexpr Time picoseconds(uint64_t value) { return value; }
constexpr Time nanoseconds(uint64_t value) { return value * 1000ULL; }
constexpr Time microseconds(uint64_t value) { return value * 1000000ULL; }
constexpr Time milliseconds(uint64_t value) { return value * 1000000000ULL; }
constexpr Time seconds(uint64_t value) { return value * 1000000000000ULL; }

inline constexpr Time kPicosecondsPerSecond = seconds(1);
inline constexpr Time kNever = UINT64_MAX;

// Seconds with twelve decimals: "12.000104165000".
std::string formatTime(Time time);

// Length of a bit at the given rate, in picoseconds (rounded down).
constexpr Time bitTime(uint64_t baud) { return kPicosecondsPerSecond / baud; }

}  // namespace sim
