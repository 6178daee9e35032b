// Driver of the serial JPEG camera: command frames, fixed-length replies,
// reset, frame-buffer control, and image and data reads, over the camera
// link module. The driver lends its reply buffers (the last reply, the reset
// text) until the next command. Each command first drops bytes left over
// from earlier replies; a reply counts only when it carries the reply sign,
// the serial number, the command and a zero status.
#pragma once

#include <cstddef>
#include <cstdint>

// Resets the camera; the 49 bytes it sends after its reply, or NULL.
uint8_t* Lensa_Reset(uint8_t SerialNumber);
// 1 when the camera accepted the frame-buffer control, else 0.
uint8_t Lensa_FBuffCtrl(uint8_t SerialNumber, uint8_t controlFlag);
// The frame buffer's length, or 0 (no answer, or an empty buffer).
uint32_t Lensa_GetFBuffLen(uint8_t SerialNumber, uint8_t fBuffType);
// DataLenght image bytes and the 5 closing bytes into data (DataLenght + 5
// bytes); 1 when all arrived. A DataLenght whose read cannot fit the
// link's receive buffer is refused at once: nothing is sent, 0.
uint8_t Lensa_ReadFBuff(uint8_t SerialNumber, uint8_t fBufType, uint8_t ControlMode, uint16_t StartingAddress,
                        uint16_t DataLenght, uint16_t Delay, uint8_t* data);
// DataNumToRead bytes of an internal device into data; 1 when all
// arrived. A DeviceType outside 1 to 6 sends nothing and gives 0.
uint8_t Lensa_ReadData(uint8_t SerialNumber, uint8_t DeviceType, uint8_t DataNumToRead, uint32_t ConfigInfo,
                       uint8_t* data);
// The bits of an object, most significant byte first, then a line end.
void printBits(size_t size, const void* ptr);
