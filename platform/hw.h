// The hardware seam: the only place where the chip and the simulated board
// differ. Everything above it reaches the hardware through these calls.
#pragma once

#include <cstdint>

namespace hw {

using Handler = void (*)();

// Entries of the processor's vector table on this chip: 16 system entries and
// 139 device interrupts.
inline constexpr unsigned kVectorCount = 155;

inline constexpr uint32_t kVectorTableOffsetRegister = 0xE000ED08;
inline constexpr uint32_t kRomApiTable = 0x01000010;

#if defined(__arm__)

[[nodiscard]] inline uint32_t read32(uint32_t address) {
  return *reinterpret_cast<volatile uint32_t*>(address);
}
[[nodiscard]] inline uint16_t read16(uint32_t address) {
  return *reinterpret_cast<volatile uint16_t*>(address);
}
[[nodiscard]] inline uint8_t read8(uint32_t address) {
  return *reinterpret_cast<volatile uint8_t*>(address);
}
inline void write32(uint32_t address, uint32_t value) {
  *reinterpret_cast<volatile uint32_t*>(address) = value;
}
inline void write16(uint32_t address, uint16_t value) {
  *reinterpret_cast<volatile uint16_t*>(address) = value;
}
inline void write8(uint32_t address, uint8_t value) {
  *reinterpret_cast<volatile uint8_t*>(address) = value;
}

// Three cycles a pass; a count of 0 wraps and runs 2^32 passes, as the loop
// does on the chip.
inline void delayLoop(uint32_t passes) {
  asm volatile(
      "1: subs %0, #1\n"
      "   bne 1b\n"
      : "+r"(passes)
      :
      : "cc");
}

inline void waitForInterrupt() { asm volatile("wfi"); }

// Both return whether interrupts were disabled before the call.
inline bool enableInterrupts() {
  uint32_t primask;
  asm volatile("mrs %0, primask\n cpsie i" : "=r"(primask) : : "memory");
  return (primask & 1U) != 0;
}
inline bool disableInterrupts() {
  uint32_t primask;
  asm volatile("mrs %0, primask\n cpsid i" : "=r"(primask) : : "memory");
  return (primask & 1U) != 0;
}

[[nodiscard]] inline const Handler* vectorTable() {
  return reinterpret_cast<const Handler*>(read32(kVectorTableOffsetRegister));
}
inline void setVectorTable(Handler* table) {
  write32(kVectorTableOffsetRegister, reinterpret_cast<uint32_t>(table));
}

[[nodiscard]] inline const uintptr_t* romApiTable() {
  return reinterpret_cast<const uintptr_t*>(kRomApiTable);
}

// Barrier after a change to the processor's own configuration (CPACR).
inline void synchronise() { asm volatile("dsb\n isb" : : : "memory"); }

// An endless empty loop.
[[noreturn]] inline void spinForever() {
  for (;;) {
    asm volatile("");
  }
}

// Cycles that code spends without touching the hardware; only the
// simulated board needs telling.
inline void accountCycles(uint32_t) {}

// The C run-time's start, first thing after reset: the stack pointer from
// the linker's __STACK_END; then, for an image that has any, initialised
// data copied from flash, zero-filled data cleared, static constructors run.
extern "C" {
extern uint32_t __STACK_END;
extern uint32_t __data_load;
extern uint32_t __data_start;
extern uint32_t __data_end;
extern uint32_t __bss_start;
extern uint32_t __bss_end;
extern void (*__init_array_start[])();
extern void (*__init_array_end[])();
}
inline void resetStackPointer() { asm volatile("msr msp, %0" : : "r"(&__STACK_END) : "memory"); }
inline void initialiseData() {
  const uint32_t* from = &__data_load;
  for (uint32_t* to = &__data_start; to < &__data_end;) {
    *to++ = *from++;
  }
  for (uint32_t* to = &__bss_start; to < &__bss_end;) {
    *to++ = 0;
  }
  for (void (**constructor)() = __init_array_start; constructor < __init_array_end; ++constructor) {
    (*constructor)();
  }
}

#else  // the simulated board implements these

[[nodiscard]] uint32_t read32(uint32_t address);
[[nodiscard]] uint16_t read16(uint32_t address);
[[nodiscard]] uint8_t read8(uint32_t address);
void write32(uint32_t address, uint32_t value);
void write16(uint32_t address, uint16_t value);
void write8(uint32_t address, uint8_t value);
void delayLoop(uint32_t passes);
void waitForInterrupt();
bool enableInterrupts();
bool disableInterrupts();
[[nodiscard]] const Handler* vectorTable();
void setVectorTable(Handler* table);
[[nodiscard]] const uintptr_t* romApiTable();
void synchronise();
[[noreturn]] void spinForever();
void accountCycles(uint32_t cycles);
void resetStackPointer();
void initialiseData();

#endif

}  // namespace hw
