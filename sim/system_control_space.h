// The processor's own registers at 0xE000E000, as both boards share them:
// SysTick, the NVIC, the system control block (ICSR, VTOR, AIRCR, CCR, the
// system handler priorities and control, the fault status and address
// registers) and the FPU's CPACR, FPCCR and FPCAR. Always clocked.
#pragma once

#include <array>
#include <cstdint>

#include "sim/device.h"

namespace sim {

// The 24-bit down counter of exception 15.
class SystemTick final : public EventTarget {
 public:
  explicit SystemTick(Board& board) : board_(board) {}
  [[nodiscard]] uint32_t control();  // reading clears COUNTFLAG
  [[nodiscard]] uint32_t reload() const { return reload_; }
  [[nodiscard]] uint32_t current() const;
  void setControl(uint32_t value);
  void setReload(uint32_t value) { reload_ = value & 0xFFFFFFU; }
  void clearCurrent();
  // The processor clock changed: the count goes on at the new rate.
  void clockChanged();
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  [[nodiscard]] Time tick() const;
  [[nodiscard]] bool counting() const { return (control_ & 1U) != 0; }
  void start(uint32_t from, Time at);
  Board& board_;
  uint32_t control_ = 0;  // ENABLE, TICKINT, CLKSOURCE as written
  bool countFlag_ = false;
  uint32_t reload_ = 0;
  uint32_t value_ = 0;  // the count at anchor_, or held while stopped
  Time anchor_ = 0;
  Time tick_ = 0;
  uint64_t generation_ = 0;
};

// Fault status bits (CFSR and HFSR) as the architecture numbers them.
namespace fault_status {
inline constexpr uint32_t kInstructionAccessViolation = 1U << 0;
inline constexpr uint32_t kInstructionBusError = 1U << 8;
inline constexpr uint32_t kPreciseBusError = 1U << 9;
inline constexpr uint32_t kImpreciseBusError = 1U << 10;
inline constexpr uint32_t kBusFaultAddressValid = 1U << 15;
inline constexpr uint32_t kUndefinedInstruction = 1U << 16;
inline constexpr uint32_t kInvalidState = 1U << 17;
inline constexpr uint32_t kInvalidPc = 1U << 18;
inline constexpr uint32_t kNoCoprocessor = 1U << 19;
inline constexpr uint32_t kUnaligned = 1U << 24;
inline constexpr uint32_t kDivideByZero = 1U << 25;
inline constexpr uint32_t kVectorTableRead = 1U << 1;  // HFSR
inline constexpr uint32_t kForced = 1U << 30;          // HFSR
}  // namespace fault_status

class SystemControlSpace final : public Device {
 public:
  explicit SystemControlSpace(Board& board);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t readNarrow(uint32_t offset, unsigned size) override;
  void writeNarrow(uint32_t offset, uint32_t value, unsigned size) override;
  void onEvent(uint32_t kind, uint64_t argument) override { tick_.onEvent(kind, argument); }

  [[nodiscard]] uint32_t coprocessorAccess() const { return cpacr_; }
  [[nodiscard]] uint32_t fpContextControl() const { return fpccr_; }
  void setFpContextControl(uint32_t value) { fpccr_ = value; }
  void setFpContextAddress(uint32_t address) { fpcar_ = address & ~7U; }
  [[nodiscard]] uint32_t fpContextAddress() const { return fpcar_; }
  void addFaultStatus(uint32_t cfsr) { cfsr_ |= cfsr; }
  void addHardFaultStatus(uint32_t hfsr) { hfsr_ |= hfsr; }
  void setBusFaultAddress(uint32_t address) { bfar_ = address; }
  [[nodiscard]] uint32_t busFaultAddress() const { return bfar_; }
  void clockChanged() { tick_.clockChanged(); }
  // Everything back to its value at reset, as a system reset leaves it.
  void reset();

 private:
  uint32_t systemHandlerControl() const;
  uint32_t interruptControl() const;
  SystemTick tick_;
  uint32_t cpacr_ = 0;
  uint32_t fpccr_ = 0xC0000000;  // ASPEN and LSPEN
  uint32_t fpcar_ = 0;
  uint32_t faultEnables_ = 0;  // SHCSR's MEMFAULTENA, BUSFAULTENA, USGFAULTENA
  uint32_t cfsr_ = 0, hfsr_ = 0, mmfar_ = 0, bfar_ = 0;
  uint32_t ccr_ = 0x200;  // STKALIGN
  uint32_t scr_ = 0;
  std::array<uint8_t, 12> systemPriority_{};
};

}  // namespace sim
