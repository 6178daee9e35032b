// The bench's world for a real board: its peers on their lines of a
// simulated chip whose program passes every byte on to a host line, where
// the real board's UART is wired. The modem on UART4 relays to UART1, the
// GPS receiver on UART2 to UART6, both at 9600 baud 8N1.
#pragma once

namespace world {

inline constexpr unsigned kModemHostLine = 1;
inline constexpr unsigned kGpsHostLine = 6;

// The program the chip runs: never returns.
void relay();

}  // namespace world
