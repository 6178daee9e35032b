// The camera link: UART5 on PE4 (receive) and PE5 (transmit), 8N1 at a
// build-time rate, received bytes kept in a ring buffer by the receive and
// receive time-out interrupts.
#pragma once

#include <cstdint>

// The largest read the camera driver can make in one piece: the reset
// text's 49 bytes, or an image chunk of up to 2043 bytes and its 5 closing
// bytes.
inline constexpr uint32_t kCameraReceiveBufferSize = 2048;

// Sets up UART5, its pins and its interrupt; before the first command. The
// application enables interrupts globally.
void UART5_Init();
// Sends the bytes in order, waiting for room; returns 1.
unsigned char UART5_WriteBytes(const uint8_t* data, uint32_t count);
// Bytes received and not yet taken.
uint32_t UART5_Available();
// Moves up to count of the oldest waiting bytes into data; returns how many.
uint32_t UART5_ReadBytes(uint8_t* data, uint32_t count);
// Bytes that arrived to a full buffer and were dropped, since start.
uint32_t UART5_DroppedBytes();
// The receive interrupt handler, registered by UART5_Init.
void UART5_IntHandler();
