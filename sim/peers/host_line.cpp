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

// The termios speed nearest the chip's rate (its divisors give 115 207 for
// 115 200, say).
speed_t nearestSpeed(uint32_t rate) {
  static const std::pair<uint32_t, speed_t> speeds[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
      {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
      {921600, B921600}, {1000000, B1000000}};
  auto best = speeds[0];
  for (const auto& speed : speeds) {
    if ((speed.first > rate ? speed.first - rate : rate - speed.first) <
        (best.first > rate ? best.first - rate : rate - best.first)) {
      best = speed;
    }
  }
  return best.second;
}

}  // namespace

HostLine::HostLine() {
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

HostLine::HostLine(const std::string& port) : path_(port), port_(true) {
  master_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios raw{};
  if (master_ < 0 || tcgetattr(master_, &raw) != 0) {
    error_ = port + ": " + std::strerror(errno);
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
    return;
  }
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  tcsetattr(master_, TCSANOW, &raw);
}

HostLine::~HostLine() {
  if (slave_ >= 0) {
    close(slave_);
  }
  if (master_ >= 0) {
    close(master_);
  }
}

void HostLine::start(PeerLink& link) {
  if (master_ >= 0) {
    link.wakeAfter(kPoll, 0);
  }
}

void HostLine::heard(PeerLink& link, uint8_t byte) {
  if (master_ < 0) {
    return;
  }
  const char character = static_cast<char>(byte);
  if (write(master_, &character, 1) != 1 && ++dropped_ == 1) {
    link.record("host-line-full: the host does not read; the chip's bytes are dropped");
  }
}

void HostLine::wake(PeerLink& link, uint64_t /*tag*/) {
  if (port_ && link.chipRate() != 0 && link.chipRate() != speed_) {
    speed_ = link.chipRate();
    termios settings{};
    if (tcgetattr(master_, &settings) == 0) {
      cfsetispeed(&settings, nearestSpeed(speed_));
      cfsetospeed(&settings, nearestSpeed(speed_));
      tcsetattr(master_, TCSANOW, &settings);
    }
    link.record("host-line-speed " + std::to_string(speed_));
  }
  char bytes[256];
  const ssize_t count = read(master_, bytes, sizeof bytes);
  if (count > 0) {
    // Queued behind what is still going out: the line spaces them.
    link.send(0, std::string(bytes, static_cast<size_t>(count)));
  }
  link.wakeAfter(kPoll, 0);
}

std::shared_ptr<HostLine> giveLineToHost(Bench& bench, unsigned uart, const std::string& port) {
  auto terminal = port == "pty" ? std::make_shared<HostLine>() : std::make_shared<HostLine>(port);
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
