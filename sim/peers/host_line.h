// A UART line given to the host: a pseudo-terminal that screen, minicom or
// picocom open. What the host writes enters the chip's receiver at the
// line's rate (all at once from the host still arrives a character time
// apart); what the chip sends is written to the terminal as it leaves.
#pragma once

#include <memory>
#include <string>

#include "sim/bench.h"

namespace sim::peers {

class HostTerminal final : public UartDevice {
 public:
  // Opens the terminal; its path() is what a program opens.
  HostTerminal();
  ~HostTerminal() override;
  HostTerminal(const HostTerminal&) = delete;
  HostTerminal& operator=(const HostTerminal&) = delete;

  [[nodiscard]] bool opened() const { return master_ >= 0; }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] const std::string& error() const { return error_; }

  void start(PeerLink& link) override;
  void heard(PeerLink& link, uint8_t byte) override;
  void wake(PeerLink& link, uint64_t tag) override;

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open: the terminal stays up between programs
  std::string path_;
  std::string error_;
  size_t dropped_ = 0;  // the chip's bytes the host did not take
};

// Gives the bench's UART line to a new terminal, in place of whatever peer
// it had, at the rate the firmware sets; says on stderr where it is. Null
// (and the reason on stderr) when no terminal can be had.
std::shared_ptr<HostTerminal> giveLineToHost(Bench& bench, unsigned uart);

}  // namespace sim::peers
