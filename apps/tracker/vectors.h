// The tracker registers all its handlers at run time.
#pragma once

#include "boards/startup/vector_table.h"

namespace image {
// The tracker has initialised and zero-filled data.
inline constexpr bool kInitialisesData = true;
inline constexpr std::array<startup::Fill, 0> kVectorFills{};
}  // namespace image
