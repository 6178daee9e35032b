// A register block on the bus, and anything that takes events from the
// board's clock.
#pragma once

#include <cstdint>
#include <string>

#include "sim/time.h"

namespace sim {

class Board;

// An address as the board's reports show it: "0x4000C000".
std::string registerAddress(uint32_t value);

class EventTarget {
 public:
  virtual ~EventTarget() = default;
  virtual void onEvent(uint32_t kind, uint64_t argument) = 0;
  // The world around the chip keeps its events across a reset of the chip.
  [[nodiscard]] virtual bool outsideChip() const { return false; }
};

// A register block on the bus.
class Device : public EventTarget {
 public:
  Device(Board& board, std::string name, uint32_t base) : board_(board), name_(std::move(name)), base_(base) {}
  virtual uint32_t read(uint32_t offset) = 0;
  virtual void write(uint32_t offset, uint32_t value) = 0;
  // Byte and halfword accesses; most blocks take words only.
  virtual uint32_t readNarrow(uint32_t offset, unsigned size);
  virtual void writeNarrow(uint32_t offset, uint32_t value, unsigned size);
  void onEvent(uint32_t, uint64_t) override {}

  const std::string& name() const { return name_; }
  uint32_t base() const { return base_; }
  // Run-mode clock gate: class word offset and bit; none for always-on blocks.
  void setClockGate(uint32_t classOffset, uint32_t bit) {
    gated_ = true;
    gateClass_ = classOffset;
    gateBit_ = bit;
  }
  bool gated() const { return gated_; }
  uint32_t gateClass() const { return gateClass_; }
  uint32_t gateBit() const { return gateBit_; }

 protected:
  [[noreturn]] void unknownRegister(uint32_t offset, const char* access);
  Board& board_;

 private:
  std::string name_;
  uint32_t base_;
  bool gated_ = false;
  uint32_t gateClass_ = 0;
  uint32_t gateBit_ = 0;
};

}  // namespace sim
