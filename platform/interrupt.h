// Interrupt controller and processor interrupt masking.
#pragma once

#include <cstdint>

void IntRegister(uint32_t interrupt, void (*handler)());
void IntEnable(uint32_t interrupt);
void IntDisable(uint32_t interrupt);
// Makes a device interrupt pending, as if its source had raised it.
void IntPendSet(uint32_t interrupt);
// Both return whether interrupts were disabled before the call.
bool IntMasterEnable();
bool IntMasterDisable();
// Writes the whole priority byte; the chip keeps only its top three bits.
void IntPrioritySet(uint32_t interrupt, uint8_t priority);
[[nodiscard]] int32_t IntPriorityGet(uint32_t interrupt);
