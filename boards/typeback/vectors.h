// typeback handles UART0 (device interrupt 5) itself.
#pragma once

#include "boards/startup/vector_table.h"

void UARTIntHandler();

namespace image {
inline constexpr bool kInitialisesData = false;
inline constexpr std::array<startup::Fill, 1> kVectorFills{{{21, UARTIntHandler}}};
}  // namespace image
