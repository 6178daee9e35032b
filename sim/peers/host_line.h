// A UART line given to the host: a pseudo-terminal that screen, minicom or
// picocom open, or a serial port of the host (a USB adapter and the device
// behind it), or a TCP socket on the loopback. What the host writes enters the chip's receiver at the
// line's rate (all at once from the host still arrives a character time
// apart); what the chip sends is written out as it leaves.
#pragma once

#include <memory>
#include <string>

#include "sim/bench.h"

namespace sim::peers {

class HostLine final : public UartDevice {
 public:
  // Opens a new pseudo-terminal; its path() is what a program opens.
  HostLine();
  // Opens the serial port at path, raw, 8N1; its speed follows the rate
  // the firmware sets on the UART, changed when the firmware changes it.
  // A port that goes away (an adapter unplugged) ends the run.
  explicit HostLine(const std::string& port);
  // Listens on the loopback's TCP port (0: one the system picks); one
  // client at a time, the next taken when it leaves.
  explicit HostLine(uint16_t tcpPort);
  ~HostLine() override;
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  // The host's side stays at this rate, not the firmware's (0: follows it).
  void holdRate(uint32_t rate) { heldRate_ = rate; }

  [[nodiscard]] bool opened() const { return master_ >= 0 || listener_ >= 0; }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] const std::string& error() const { return error_; }

  void start(PeerLink& link) override;
  void heard(PeerLink& link, uint8_t byte) override;
  void wake(PeerLink& link, uint64_t tag) override;

 private:
  int master_ = -1;    // the terminal, the port or the TCP client
  int listener_ = -1;  // the TCP socket clients connect to
  int slave_ = -1;  // kept open: the terminal stays up between programs
  std::string path_;
  std::string error_;
  size_t dropped_ = 0;  // the chip's bytes the host did not take
  bool port_ = false;   // a serial port, whose speed is set
  uint32_t speed_ = 0;  // the rate it was last set to
  uint32_t heldRate_ = 0;
};

// Gives the bench's UART line to a new terminal, in place of whatever peer
// it had, at the rate the firmware sets; says on stderr where it is. Null
// (and the reason on stderr) when no terminal can be had.
// port: a serial port's path, "pty" for a new pseudo-terminal, or
// "tcp:PORT" for a socket on the loopback; with "@RATE" after it the host's
// side keeps that bit rate whatever the firmware sets (a device at the
// wrong rate: the chip hears garbage and framing errors, as it would).
std::shared_ptr<HostLine> giveLineToHost(Bench& bench, unsigned uart, const std::string& port = "pty");

}  // namespace sim::peers
