#include "platform/gpio.h"

#include <iterator>

#include "platform/hw.h"
#include "platform/interrupt.h"
#include "platform/memmap.h"
#include "platform/registers.h"

namespace {

using namespace reg::gpio;

uint32_t read(uint32_t port, uint32_t offset) { return hw::read32(port + offset); }
void write(uint32_t port, uint32_t offset, uint32_t value) { hw::write32(port + offset, value); }

void setBits(uint32_t port, uint32_t offset, uint8_t pins, bool on) {
  const uint32_t value = read(port, offset);
  write(port, offset, on ? (value | pins) : (value & ~static_cast<uint32_t>(pins)));
}

uint32_t portInterrupt(uint32_t port) {
  for (unsigned index = 0; index < std::size(kPorts); ++index) {
    if (kPorts[index] == port) {
      return platform::kGpioInterrupts[index];
    }
  }
  return 0;
}

}  // namespace

void GPIODirModeSet(uint32_t port, uint8_t pins, uint32_t mode) {
  setBits(port, kDir, pins, (mode & GPIO_DIR_MODE_OUT) != 0);
  setBits(port, kAfsel, pins, (mode & GPIO_DIR_MODE_HW) != 0);
}

void GPIOPadConfigSet(uint32_t port, uint8_t pins, uint32_t strength, uint32_t padType) {
  setBits(port, kDr2r, pins, (strength & 0x1) != 0);
  setBits(port, kDr4r, pins, (strength & 0x2) != 0);
  setBits(port, kDr8r, pins, (strength & 0x4) != 0);
  setBits(port, kSlr, pins, (strength & 0x8) != 0);
  setBits(port, kOdr, pins, (padType & 0x1) != 0);
  setBits(port, kPur, pins, (padType & 0x2) != 0);
  setBits(port, kPdr, pins, (padType & 0x4) != 0);
  setBits(port, kDen, pins, (padType & 0x8) != 0);
  setBits(port, kAmsel, pins, padType == GPIO_PIN_TYPE_ANALOG);
}

void GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins) {
  GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
  GPIODirModeSet(port, pins, GPIO_DIR_MODE_OUT);
}

void GPIOPinTypeGPIOInput(uint32_t port, uint8_t pins) {
  GPIODirModeSet(port, pins, GPIO_DIR_MODE_IN);
  GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
}

void GPIOPinTypeUART(uint32_t port, uint8_t pins) {
  GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
  GPIODirModeSet(port, pins, GPIO_DIR_MODE_HW);
}

void GPIOPinTypeADC(uint32_t port, uint8_t pins) {
  GPIODirModeSet(port, pins, GPIO_DIR_MODE_IN);
  GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_ANALOG);
}

void GPIOPinConfigure(uint32_t pinConfig) {
  const uint32_t portIndex = (pinConfig >> 16) & 0xFFU;
  if (portIndex >= std::size(kPorts)) {
    return;
  }
  const uint32_t port = kPorts[portIndex];
  const uint32_t shift = (pinConfig >> 8) & 0x1FU;
  const uint32_t control = read(port, kPctl) & ~(0xFU << shift);
  write(port, kPctl, control | ((pinConfig & 0xFU) << shift));
}

void GPIOPinWrite(uint32_t port, uint8_t pins, uint8_t value) {
  // Address bits 9:2 select which pins the write reaches.
  write(port, kData + (static_cast<uint32_t>(pins) << 2), value);
}

int32_t GPIOPinRead(uint32_t port, uint8_t pins) {
  return static_cast<int32_t>(read(port, kData + (static_cast<uint32_t>(pins) << 2)));
}

void GPIOUnlockPin(uint32_t port, uint8_t pins) {
  write(port, kLock, kUnlockKey);
  setBits(port, kCr, pins, true);
  write(port, kLock, 0);
}

void GPIOIntRegister(uint32_t port, void (*handler)()) {
  const uint32_t interrupt = portInterrupt(port);
  IntRegister(interrupt, handler);
  IntEnable(interrupt);
}

void GPIOIntTypeSet(uint32_t port, uint8_t pins, uint32_t type) {
  setBits(port, kIbe, pins, (type & GPIO_BOTH_EDGES) != 0);
  setBits(port, kIs, pins, (type & GPIO_LOW_LEVEL) != 0);
  setBits(port, kIev, pins, (type & GPIO_RISING_EDGE) != 0);
}

void GPIOIntEnable(uint32_t port, uint32_t flags) {
  write(port, kIm, read(port, kIm) | (flags & 0xFFU));
}

void GPIOIntDisable(uint32_t port, uint32_t flags) {
  write(port, kIm, read(port, kIm) & ~(flags & 0xFFU));
}

uint32_t GPIOIntStatus(uint32_t port, bool masked) { return read(port, masked ? kMis : kRis); }

void GPIOIntClear(uint32_t port, uint32_t flags) { write(port, kIcr, flags & 0xFFU); }
