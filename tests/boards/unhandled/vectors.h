// A test image that enables an interrupt and fills no entry for it.
#pragma once

#include "boards/startup/vector_table.h"

namespace image {
inline constexpr bool kInitialisesData = false;
inline constexpr std::array<startup::Fill, 0> kVectorFills{};
}  // namespace image
