#include "sim/peers/host_line.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

HostLine::HostLine(uint16_t tcpPort) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  const int reuse = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(tcpPort);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 1) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error_ = "TCP port " + std::to_string(tcpPort) + ": " + std::strerror(errno);
    if (listener_ >= 0) {
      close(listener_);
      listener_ = -1;
    }
    return;
  }
  path_ = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

HostLine::~HostLine() {
  if (slave_ >= 0) {
    close(slave_);
  }
  if (listener_ >= 0) {
    close(listener_);
  }
  if (master_ >= 0) {
    close(master_);
  }
}

void HostLine::start(PeerLink& link) {
  if (opened()) {
    link.wakeAfter(kPoll, 0);
  }
}

void HostLine::heard(PeerLink& link, uint8_t byte) {
  if (master_ < 0) {
    return;
  }
  const char character = static_cast<char>(byte);
  const ssize_t written = listener_ >= 0 ? send(master_, &character, 1, MSG_NOSIGNAL) : write(master_, &character, 1);
  if (written != 1 && ++dropped_ == 1) {
    link.record("host-line-full: the host does not read; the chip's bytes are dropped");
  }
}

void HostLine::wake(PeerLink& link, uint64_t /*tag*/) {
  const uint32_t wanted = heldRate_ != 0 ? heldRate_ : link.chipRate();
  if (port_ && wanted != 0 && wanted != speed_) {
    speed_ = wanted;
    termios settings{};
    if (tcgetattr(master_, &settings) == 0) {
      cfsetispeed(&settings, nearestSpeed(speed_));
      cfsetospeed(&settings, nearestSpeed(speed_));
      tcsetattr(master_, TCSANOW, &settings);
    }
    link.record("host-line-speed " + std::to_string(speed_));
  }
  if (listener_ >= 0 && master_ < 0) {
    master_ = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    if (master_ >= 0) {
      link.record("host-line-client");
    }
  }
  if (master_ >= 0) {
    char bytes[256];
    const ssize_t count = read(master_, bytes, sizeof bytes);
    if (count > 0) {
      // Queued behind what is still going out: the line spaces them.
      link.send(0, std::string(bytes, static_cast<size_t>(count)));
    } else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // The client left, or the port went away (an adapter unplugged).
      link.record(listener_ >= 0 ? "host-line-client-left" : "host-line-closed");
      if (listener_ < 0) {
        std::fprintf(stderr, "%s closed: the run ends here, at %.3f virtual s\n", path_.c_str(),
                     static_cast<double>(link.now()) / 1e12);
        link.endRun();
        return;
      }
      close(master_);
      master_ = -1;
    }
  }
  link.wakeAfter(kPoll, 0);
}

std::shared_ptr<HostLine> giveLineToHost(Bench& bench, unsigned uart, const std::string& given) {
  const size_t at = given.find('@');
  const std::string port = given.substr(0, at);
  const uint32_t rate = at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(given.substr(at + 1)));
  std::shared_ptr<HostLine> terminal;
  if (port == "pty") {
    terminal = std::make_shared<HostLine>();
  } else if (port.rfind("tcp:", 0) == 0) {
    terminal = std::make_shared<HostLine>(static_cast<uint16_t>(std::stoul(port.substr(4))));
  } else {
    terminal = std::make_shared<HostLine>(port);
  }
  if (!terminal->opened()) {
    std::fprintf(stderr, "UART%u: %s\n", uart, terminal->error().c_str());
    return nullptr;
  }
  bench.uart(uart) = UartPeer();
  terminal->holdRate(rate);
  bench.uart(uart).baud(rate).device(terminal);
  std::fprintf(stderr, "UART%u is on %s\n", uart, terminal->path().c_str());
  std::fflush(stderr);
  return terminal;
}

}  // namespace sim::peers
