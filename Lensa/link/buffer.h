// The camera link's receive ring buffer.
#pragma once

#include <cstdint>

// Indices count bytes for ever (wrapping at 2^32); the storage position is
// the index modulo Buffer_Size, a power of two. Waiting bytes are
// Buffer_WriteIndex - Buffer_ReadIndex.
struct Buffer {
  uint8_t* Buffer;
  volatile uint32_t Buffer_WriteIndex;
  volatile uint32_t Buffer_ReadIndex;
  uint32_t Buffer_Size;
};

// Appends a byte; false, and the byte dropped, when the buffer is full:
// bytes not yet taken are never overwritten.
bool Buffer_Put(struct Buffer& buffer, uint8_t byte);
uint32_t Buffer_Count(const struct Buffer& buffer);
// Moves up to count of the oldest bytes into data; returns how many.
uint32_t Buffer_Take(struct Buffer& buffer, uint8_t* data, uint32_t count);
