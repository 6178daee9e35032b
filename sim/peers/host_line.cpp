#include "sim/peers/host_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim::peers {

namespace {

// The host is looked at this often, in virtual time: 1 ms is about ten
// characters at 115 200 baud, which the line then spaces out.
constexpr Time kPoll = milliseconds(1);

}  // namespace

HostTerminal::HostTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname(master_) == nullptr) {
    error_ = std::string("no pseudo-terminal: ") + std::strerror(errno);
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
    return;
  }
  path_ = ptsname(master_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  if (slave_ >= 0 && tcgetattr(slave_, &raw) == 0) {
    cfmakeraw(&raw);  // bytes as they are: no echo, no line editing, no CR/LF rewriting
    tcsetattr(slave_, TCSANOW, &raw);
  }
}

HostTerminal::~HostTerminal() {
  if (slave_ >= 0) {
    close(slave_);
  }
  if (master_ >= 0) {
    close(master_);
  }
}

void HostTerminal::start(PeerLink& link) {
  if (master_ >= 0) {
    link.wakeAfter(kPoll, 0);
  }
}

void HostTerminal::heard(PeerLink& link, uint8_t byte) {
  if (master_ < 0) {
    return;
  }
  const char character = static_cast<char>(byte);
  if (write(master_, &character, 1) != 1 && ++dropped_ == 1) {
    link.record("host-line-full: the host does not read; the chip's bytes are dropped");
  }
}

void HostTerminal::wake(PeerLink& link, uint64_t /*tag*/) {
  char bytes[256];
  const ssize_t count = read(master_, bytes, sizeof bytes);
  if (count > 0) {
    // Queued behind what is still going out: the line spaces them.
    link.send(0, std::string(bytes, static_cast<size_t>(count)));
  }
  link.wakeAfter(kPoll, 0);
}

std::shared_ptr<HostTerminal> giveLineToHost(Bench& bench, unsigned uart) {
  auto terminal = std::make_shared<HostTerminal>();
  if (!terminal->opened()) {
    std::fprintf(stderr, "UART%u: %s\n", uart, terminal->error().c_str());
    return nullptr;
  }
  bench.uart(uart) = UartPeer();
  bench.uart(uart).device(terminal);
  std::fprintf(stderr, "UART%u is on %s\n", uart, terminal->path().c_str());
  std::fflush(stderr);
  return terminal;
}

}  // namespace sim::peers
