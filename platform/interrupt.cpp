#include "platform/interrupt.h"

#include "platform/hw.h"
#include "platform/registers.h"

namespace {

using namespace reg::core;

// The processor needs the table aligned to the power of two above its size:
// 155 entries of 4 bytes, so 1024 bytes. Its own section lets the linker put
// it where that alignment wastes nothing. Filled whole by the first
// registration, so it needs no zeroing.
alignas(1024) __attribute__((section(".ramvectors"))) hw::Handler ramVectors[hw::kVectorCount];

bool isDevice(uint32_t interrupt) {
  return interrupt >= kFirstDeviceVector && interrupt < kFirstDeviceVector + kDeviceInterrupts;
}

uint32_t deviceWord(uint32_t base, uint32_t interrupt) {
  return base + ((interrupt - kFirstDeviceVector) / 32) * 4;
}

uint32_t deviceBit(uint32_t interrupt) { return 1U << ((interrupt - kFirstDeviceVector) % 32); }

uint32_t priorityByte(uint32_t interrupt) {
  return isDevice(interrupt) ? kInterruptPriority + (interrupt - kFirstDeviceVector)
                             : kSystemPriority + (interrupt - 4);
}

// Exceptions 4 to 6 are enabled in SYSHNDCTRL, bits 16 to 18.
uint32_t systemHandlerBit(uint32_t interrupt) { return 1U << (interrupt + 12); }

constexpr uint32_t kSystemTickInterruptEnable = 1U << 1;

}  // namespace

void IntRegister(uint32_t interrupt, void (*handler)()) {
  if (interrupt >= hw::kVectorCount) {
    return;
  }
  if (hw::vectorTable() != ramVectors) {
    const hw::Handler* current = hw::vectorTable();
    for (unsigned entry = 0; entry < hw::kVectorCount; ++entry) {
      ramVectors[entry] = current[entry];
    }
    hw::setVectorTable(ramVectors);
  }
  ramVectors[interrupt] = handler;
}

void IntEnable(uint32_t interrupt) {
  if (isDevice(interrupt)) {
    hw::write32(deviceWord(kInterruptSetEnable, interrupt), deviceBit(interrupt));
  } else if (interrupt >= 4 && interrupt <= 6) {
    hw::write32(kSystemHandlerControl,
                hw::read32(kSystemHandlerControl) | systemHandlerBit(interrupt));
  } else if (interrupt == 15) {
    hw::write32(kSystemTickControl, hw::read32(kSystemTickControl) | kSystemTickInterruptEnable);
  }
}

void IntDisable(uint32_t interrupt) {
  if (isDevice(interrupt)) {
    hw::write32(deviceWord(kInterruptClearEnable, interrupt), deviceBit(interrupt));
  } else if (interrupt >= 4 && interrupt <= 6) {
    hw::write32(kSystemHandlerControl,
                hw::read32(kSystemHandlerControl) & ~systemHandlerBit(interrupt));
  } else if (interrupt == 15) {
    hw::write32(kSystemTickControl, hw::read32(kSystemTickControl) & ~kSystemTickInterruptEnable);
  }
}

void IntPendSet(uint32_t interrupt) {
  if (isDevice(interrupt)) {
    hw::write32(deviceWord(kInterruptSetPending, interrupt), deviceBit(interrupt));
  }
}

bool IntMasterEnable() { return hw::enableInterrupts(); }

bool IntMasterDisable() { return hw::disableInterrupts(); }

void IntPrioritySet(uint32_t interrupt, uint8_t priority) {
  if (interrupt >= 4 && interrupt < hw::kVectorCount) {
    hw::write8(priorityByte(interrupt), priority);
  }
}

int32_t IntPriorityGet(uint32_t interrupt) {
  if (interrupt < 4 || interrupt >= hw::kVectorCount) {
    return -1;
  }
  return hw::read8(priorityByte(interrupt));
}
