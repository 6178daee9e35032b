// A test image that enables an interrupt and fills no entry for it.
#pragma once

#include "boards/startup/vector_table.h"

namespace image {
// Its static constructor computes in floating point.
inline constexpr bool kInitialisesData = true;
inline constexpr std::array<startup::Fill, 0> kVectorFills{};
}  // namespace image
