// The ROM API table: the chip's ROM copy of the driver operations, reached by
// group and index. On the simulated board the table holds this layer's own
// operations in the same layout.
#pragma once

#include <cstdint>

#include "platform/hw.h"

namespace rom {

inline constexpr unsigned kUartGroup = 1;
inline constexpr unsigned kGpioGroup = 4;
inline constexpr unsigned kSysCtlGroup = 13;
inline constexpr unsigned kInterruptGroup = 14;
inline constexpr unsigned kFpuGroup = 26;

// The operation at an index of a group table, as a function pointer of type
// Function.
template <typename Function>
[[nodiscard]] inline Function function(unsigned group, unsigned index) {
  const auto* groupTable = reinterpret_cast<const uintptr_t*>(hw::romApiTable()[group]);
  return reinterpret_cast<Function>(groupTable[index]);
}

}  // namespace rom

inline void ROM_FPUEnable() { rom::function<void (*)()>(rom::kFpuGroup, 0)(); }
inline void ROM_FPULazyStackingEnable() { rom::function<void (*)()>(rom::kFpuGroup, 4)(); }

inline void ROM_SysCtlPeripheralEnable(uint32_t peripheral) {
  rom::function<void (*)(uint32_t)>(rom::kSysCtlGroup, 6)(peripheral);
}
inline void ROM_SysCtlClockSet(uint32_t config) {
  rom::function<void (*)(uint32_t)>(rom::kSysCtlGroup, 23)(config);
}
inline uint32_t ROM_SysCtlClockGet() {
  return rom::function<uint32_t (*)()>(rom::kSysCtlGroup, 24)();
}

inline void ROM_GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins) {
  rom::function<void (*)(uint32_t, uint8_t)>(rom::kGpioGroup, 15)(port, pins);
}
inline void ROM_GPIOPinTypeUART(uint32_t port, uint8_t pins) {
  rom::function<void (*)(uint32_t, uint8_t)>(rom::kGpioGroup, 21)(port, pins);
}

inline void ROM_IntEnable(uint32_t interrupt) {
  rom::function<void (*)(uint32_t)>(rom::kInterruptGroup, 0)(interrupt);
}
inline bool ROM_IntMasterEnable() {
  return rom::function<bool (*)()>(rom::kInterruptGroup, 1)();
}

inline void ROM_UARTConfigSetExpClk(uint32_t base, uint32_t clock, uint32_t baud,
                                    uint32_t config) {
  rom::function<void (*)(uint32_t, uint32_t, uint32_t, uint32_t)>(rom::kUartGroup, 5)(
      base, clock, baud, config);
}
inline bool ROM_UARTCharsAvail(uint32_t base) {
  return rom::function<bool (*)(uint32_t)>(rom::kUartGroup, 11)(base);
}
inline int32_t ROM_UARTCharGetNonBlocking(uint32_t base) {
  return rom::function<int32_t (*)(uint32_t)>(rom::kUartGroup, 13)(base);
}
inline bool ROM_UARTCharPutNonBlocking(uint32_t base, unsigned char data) {
  return rom::function<bool (*)(uint32_t, unsigned char)>(rom::kUartGroup, 15)(base, data);
}
inline void ROM_UARTIntEnable(uint32_t base, uint32_t flags) {
  rom::function<void (*)(uint32_t, uint32_t)>(rom::kUartGroup, 17)(base, flags);
}
inline uint32_t ROM_UARTIntStatus(uint32_t base, bool masked) {
  return rom::function<uint32_t (*)(uint32_t, bool)>(rom::kUartGroup, 19)(base, masked);
}
inline void ROM_UARTIntClear(uint32_t base, uint32_t flags) {
  rom::function<void (*)(uint32_t, uint32_t)>(rom::kUartGroup, 20)(base, flags);
}
