#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::core;

constexpr uint32_t kBlock = 0xE000E000;
constexpr uint32_t kCpuIdValue = 0x410FC241;  // Cortex-M4 r0p1
constexpr uint32_t kVectorKey = 0x05FA0000;

uint32_t offsetOf(uint32_t address) { return address - kBlock; }

// Which of the five words of an enable, pending or active bank an offset is.
bool inBank(uint32_t offset, uint32_t bank, unsigned& word) {
  const uint32_t first = offsetOf(bank);
  if (offset < first || offset >= first + 5 * 4) {
    return false;
  }
  word = (offset - first) / 4;
  return true;
}

}  // namespace

Core::Core(Board& board) : Device(board, "NVIC and system control block", kBlock) {}

uint32_t Core::read(uint32_t offset) {
  unsigned word = 0;
  const auto bank = [&](auto test) {
    uint32_t value = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
      const unsigned n = word * 32 + bit;
      if (n < kDeviceInterrupts && test(n)) {
        value |= 1U << bit;
      }
    }
    return value;
  };
  if (inBank(offset, kInterruptSetEnable, word) || inBank(offset, kInterruptClearEnable, word)) {
    return bank([this](unsigned n) { return board_.enabled(n); });
  }
  if (inBank(offset, kInterruptSetPending, word) || inBank(offset, kInterruptClearPending, word)) {
    return bank([this](unsigned n) { return board_.pending(n); });
  }
  if (inBank(offset, kInterruptActive, word)) {
    return bank([this](unsigned n) { return board_.active(n); });
  }
  const uint32_t priorities = offsetOf(kInterruptPriority);
  if (offset >= priorities && offset < priorities + kDeviceInterrupts) {
    uint32_t value = 0;
    for (unsigned byte = 0; byte < 4; ++byte) {
      const unsigned n = offset - priorities + byte;
      value |= (n < kDeviceInterrupts ? board_.priority(n) : 0U) << (8 * byte);
    }
    return value;
  }
  const uint32_t system = offsetOf(kSystemPriority);
  if (offset >= system && offset < system + systemPriority_.size()) {
    uint32_t value = 0;
    for (unsigned byte = 0; byte < 4; ++byte) {
      value |= static_cast<uint32_t>(systemPriority_[offset - system + byte]) << (8 * byte);
    }
    return value;
  }
  switch (offset + kBlock) {
    case kSystemTickControl: return systemTick_;
    case kCpuId: return kCpuIdValue;
    case kInterruptControl: return board_.activeVector();
    case kVectorTableOffset: return board_.emulated() ? board_.vtor() : board_.vectorTableRegister();
    case kApplicationInterrupt: return applicationInterrupt_;
    case kSystemHandlerControl: return systemHandlerControl_;
    case kCoprocessorAccess: return cpacr_;
    case kFpContextControl: return fpccr_;
    default: unknownRegister(offset, "read");
  }
}

void Core::write(uint32_t offset, uint32_t value) {
  unsigned word = 0;
  const auto each = [&](auto apply) {
    for (unsigned bit = 0; bit < 32; ++bit) {
      const unsigned n = word * 32 + bit;
      if (((value >> bit) & 1U) != 0 && n < kDeviceInterrupts) {
        apply(n);
      }
    }
  };
  if (inBank(offset, kInterruptSetEnable, word)) {
    each([this](unsigned n) { board_.setEnabled(n, true); });
    return;
  }
  if (inBank(offset, kInterruptClearEnable, word)) {
    each([this](unsigned n) { board_.setEnabled(n, false); });
    return;
  }
  if (inBank(offset, kInterruptSetPending, word)) {
    each([this](unsigned n) { board_.setPending(n, true); });
    return;
  }
  if (inBank(offset, kInterruptClearPending, word)) {
    each([this](unsigned n) { board_.setPending(n, false); });
    return;
  }
  const uint32_t priorities = offsetOf(kInterruptPriority);
  if (offset >= priorities && offset < priorities + kDeviceInterrupts) {
    for (unsigned byte = 0; byte < 4; ++byte) {
      writeNarrow(offset + byte, (value >> (8 * byte)) & 0xFFU, 1);
    }
    return;
  }
  const uint32_t system = offsetOf(kSystemPriority);
  if (offset >= system && offset < system + systemPriority_.size()) {
    for (unsigned byte = 0; byte < 4; ++byte) {
      writeNarrow(offset + byte, (value >> (8 * byte)) & 0xFFU, 1);
    }
    return;
  }
  switch (offset + kBlock) {
    case kSystemTickControl: systemTick_ = value; return;
    case kVectorTableOffset:
      if (board_.emulated()) {
        board_.setVtor(value);
        return;
      }
      board_.fault("VTOR written directly: on the simulated board the table is set through the seam");
    case kApplicationInterrupt:
      if ((value & 0xFFFF0000U) == kVectorKey) {
        applicationInterrupt_ = 0xFA050000U | (value & 0x0700U);
      }
      return;
    case kSystemHandlerControl: systemHandlerControl_ = value; return;
    case kCoprocessorAccess: cpacr_ = value & kFullFpuAccess; return;
    case kSoftwareTrigger:
      if ((value & 0xFFU) < kDeviceInterrupts) {
        board_.setPending(value & 0xFFU, true);
      }
      return;
    case kFpContextControl: fpccr_ = value & 0xC0000000U; return;
    default: unknownRegister(offset, "write");
  }
}

uint32_t Core::readNarrow(uint32_t offset, unsigned size) {
  const uint32_t word = read(offset & ~3U);
  return (word >> ((offset & 3U) * 8)) & (size == 1 ? 0xFFU : 0xFFFFU);
}

void Core::writeNarrow(uint32_t offset, uint32_t value, unsigned size) {
  const uint32_t priorities = offsetOf(kInterruptPriority);
  const uint32_t system = offsetOf(kSystemPriority);
  if (size == 1 && offset >= priorities && offset < priorities + kDeviceInterrupts) {
    board_.setPriority(offset - priorities, static_cast<uint8_t>(value));
    return;
  }
  if (size == 1 && offset >= system && offset < system + systemPriority_.size()) {
    systemPriority_[offset - system] = static_cast<uint8_t>(value & 0xE0U);
    return;
  }
  Device::writeNarrow(offset, value, size);
}

}  // namespace sim
