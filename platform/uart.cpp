#include "platform/uart.h"

#include "platform/hw.h"
#include "platform/interrupt.h"
#include "platform/memmap.h"
#include "platform/registers.h"

namespace {

using namespace reg::uart;

uint32_t read(uint32_t base, uint32_t offset) { return hw::read32(base + offset); }
void write(uint32_t base, uint32_t offset, uint32_t value) { hw::write32(base + offset, value); }

uint32_t uartInterrupt(uint32_t base) {
  return platform::kUartInterrupts[((base - reg::uart::kUart0) / kSpacing) % kCount];
}

}  // namespace

void UARTConfigSetExpClk(uint32_t base, uint32_t clock, uint32_t baud, uint32_t config) {
  UARTDisable(base);
  uint32_t control = read(base, kCtl);
  // Beyond clock/16 the UART samples 8 times a bit instead of 16.
  if (static_cast<uint64_t>(baud) * 16 > clock) {
    write(base, kCtl, control | kCtlHighSpeed);
    baud /= 2;
  } else {
    write(base, kCtl, control & ~kCtlHighSpeed);
  }
  // Divisor in 64ths, rounded: clock / (16 * baud) * 64.
  const uint32_t divisor = static_cast<uint32_t>(((static_cast<uint64_t>(clock) * 8) / baud + 1) / 2);
  write(base, kIbrd, divisor / 64);
  write(base, kFbrd, divisor % 64);
  // The divisors take effect with this write.
  write(base, kLcrh, config);
  UARTEnable(base);
}

void UARTEnable(uint32_t base) {
  write(base, kLcrh, read(base, kLcrh) | kLcrhFifoEnable);
  write(base, kCtl, read(base, kCtl) | kCtlEnable | kCtlTxEnable | kCtlRxEnable);
}

void UARTDisable(uint32_t base) {
  // Let the character in progress and the FIFO go out first.
  while ((read(base, kFr) & kFrBusy) != 0) {
  }
  write(base, kLcrh, read(base, kLcrh) & ~kLcrhFifoEnable);
  write(base, kCtl, read(base, kCtl) & ~(kCtlEnable | kCtlTxEnable | kCtlRxEnable));
}

void UARTFIFOEnable(uint32_t base) { write(base, kLcrh, read(base, kLcrh) | kLcrhFifoEnable); }

void UARTFIFODisable(uint32_t base) { write(base, kLcrh, read(base, kLcrh) & ~kLcrhFifoEnable); }

void UARTFIFOLevelSet(uint32_t base, uint32_t txLevel, uint32_t rxLevel) {
  write(base, kIfls, txLevel | rxLevel);
}

bool UARTCharsAvail(uint32_t base) { return (read(base, kFr) & kFrRxEmpty) == 0; }

bool UARTSpaceAvail(uint32_t base) { return (read(base, kFr) & kFrTxFull) == 0; }

bool UARTBusy(uint32_t base) { return (read(base, kFr) & kFrBusy) != 0; }

int32_t UARTCharGet(uint32_t base) {
  while ((read(base, kFr) & kFrRxEmpty) != 0) {
  }
  return static_cast<int32_t>(read(base, kDr));
}

int32_t UARTCharGetNonBlocking(uint32_t base) {
  if ((read(base, kFr) & kFrRxEmpty) != 0) {
    return -1;
  }
  return static_cast<int32_t>(read(base, kDr));
}

void UARTCharPut(uint32_t base, unsigned char data) {
  while ((read(base, kFr) & kFrTxFull) != 0) {
  }
  write(base, kDr, data);
}

bool UARTCharPutNonBlocking(uint32_t base, unsigned char data) {
  if ((read(base, kFr) & kFrTxFull) != 0) {
    return false;
  }
  write(base, kDr, data);
  return true;
}

void UARTIntRegister(uint32_t base, void (*handler)()) {
  const uint32_t interrupt = uartInterrupt(base);
  IntRegister(interrupt, handler);
  IntEnable(interrupt);
}

void UARTIntEnable(uint32_t base, uint32_t flags) { write(base, kIm, read(base, kIm) | flags); }

void UARTIntDisable(uint32_t base, uint32_t flags) { write(base, kIm, read(base, kIm) & ~flags); }

uint32_t UARTIntStatus(uint32_t base, bool masked) { return read(base, masked ? kMis : kRis); }

void UARTIntClear(uint32_t base, uint32_t flags) { write(base, kIcr, flags); }
