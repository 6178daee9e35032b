// Real time: the board's virtual time kept to the wall clock, a factor
// faster or slower, by waiting whenever the run gets ahead of it.
#pragma once

#include <chrono>
#include <optional>

#include "sim/device.h"
#include "sim/time.h"

namespace sim {

class Board;

class Pacer final : public EventTarget {
 public:
  Pacer(Board& board, double factor) : board_(board), factor_(factor) {}
  void start();
  void onEvent(uint32_t kind, uint64_t argument) override;
  [[nodiscard]] bool outsideChip() const override { return true; }

 private:
  Board& board_;
  double factor_;  // virtual seconds a wall second
  std::optional<std::chrono::steady_clock::time_point> started_;  // virtual 0 on the wall clock
  std::chrono::steady_clock::time_point lastWarning_;
};

}  // namespace sim
