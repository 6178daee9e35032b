#include "buffer.h"

bool Buffer_Put(struct Buffer& buffer, uint8_t byte) {
  const uint32_t write = buffer.Buffer_WriteIndex;
  if (write - buffer.Buffer_ReadIndex >= buffer.Buffer_Size) {
    return false;
  }
  buffer.Buffer[write & (buffer.Buffer_Size - 1)] = byte;
  // The byte is in place before the reader can count it.
  buffer.Buffer_WriteIndex = write + 1;
  return true;
}

uint32_t Buffer_Count(const struct Buffer& buffer) {
  return buffer.Buffer_WriteIndex - buffer.Buffer_ReadIndex;
}

uint32_t Buffer_Take(struct Buffer& buffer, uint8_t* data, uint32_t count) {
  const uint32_t waiting = Buffer_Count(buffer);
  const uint32_t moved = count < waiting ? count : waiting;
  uint32_t read = buffer.Buffer_ReadIndex;
  for (uint32_t index = 0; index < moved; ++index) {
    data[index] = buffer.Buffer[read++ & (buffer.Buffer_Size - 1)];
  }
  buffer.Buffer_ReadIndex = read;
  return moved;
}
