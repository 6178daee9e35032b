#include "sim/gdb/remote_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace gdb {

namespace {

constexpr int kAcknowledgementWaitMs = 5000;
constexpr int kResends = 10;

unsigned checksum(std::string_view payload) {
  unsigned sum = 0;
  for (const unsigned char byte : payload) {
    sum += byte;
  }
  return sum & 0xFFU;
}

int hexDigit(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  if (digit >= 'A' && digit <= 'F') {
    return digit - 'A' + 10;
  }
  return -1;
}

}  // namespace

std::string toHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xFU]);
  }
  return text;
}

std::optional<std::string> fromHex(std::string_view text) {
  if (text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (size_t at = 0; at < text.size(); at += 2) {
    const int high = hexDigit(text[at]), low = hexDigit(text[at + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::string unescape(std::string_view bytes) {
  std::string plain;
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] == '}' && at + 1 < bytes.size()) {
      plain.push_back(static_cast<char>(bytes[++at] ^ 0x20));
    } else {
      plain.push_back(bytes[at]);
    }
  }
  return plain;
}

RemoteLink::~RemoteLink() {
  disconnect();
  if (listener_ >= 0) {
    close(listener_);
  }
}

std::string RemoteLink::listen(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    return host + ": " + gai_strerror(error);
  }
  std::string failure = "no address for " + host;
  for (addrinfo* address = found; address != nullptr && listener_ < 0; address = address->ai_next) {
    const int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (socket < 0) {
      continue;
    }
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(socket, address->ai_addr, address->ai_addrlen) != 0 || ::listen(socket, 1) != 0) {
      failure = host + ":" + service + ": " + std::strerror(errno);
      close(socket);
      continue;
    }
    listener_ = socket;
  }
  freeaddrinfo(found);
  if (listener_ < 0) {
    return failure;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return {};
}

bool RemoteLink::accept(bool wait) {
  if (connected()) {
    return true;
  }
  pollfd waiting{listener_, POLLIN, 0};
  while (poll(&waiting, 1, wait ? -1 : 0) < 0 && errno == EINTR) {
  }
  if ((waiting.revents & POLLIN) == 0) {
    return false;
  }
  client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client_ < 0) {
    return false;
  }
  const int on = 1;
  setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  acknowledging_ = true;
  interruptSeen_ = false;
  inPacket_ = false;
  trailer_ = 0;
  input_.clear();
  return true;
}

void RemoteLink::disconnect() {
  if (client_ >= 0) {
    close(client_);
    client_ = -1;
  }
  input_.clear();
}

void RemoteLink::refuseOthers() {
  pollfd waiting{listener_, POLLIN, 0};
  if (poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0) {
    const int other = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (other >= 0) {
      close(other);
    }
  }
}

bool RemoteLink::fill(int timeout) {
  if (!connected()) {
    return false;
  }
  // Another debugger knocking meanwhile is sent away.
  pollfd waiting[2] = {{client_, POLLIN, 0}, {listener_, POLLIN, 0}};
  int ready = 0;
  while ((ready = poll(waiting, 2, timeout)) < 0 && errno == EINTR) {
  }
  if (waiting[1].revents != 0) {
    refuseOthers();
  }
  if (ready <= 0 || waiting[0].revents == 0) {
    return true;  // nothing yet: still there
  }
  char buffer[4096];
  const ssize_t count = ::recv(client_, buffer, sizeof buffer, 0);
  if (count <= 0) {
    disconnect();
    return false;
  }
  // 0x03 interrupts only between packets: inside one it is data.
  for (ssize_t index = 0; index < count; ++index) {
    const char byte = buffer[index];
    if (trailer_ > 0) {
      --trailer_;
    } else if (inPacket_) {
      if (byte == '#') {
        inPacket_ = false;
        trailer_ = 2;
      }
    } else if (byte == '$') {
      inPacket_ = true;
    } else if (byte == '\x03') {
      interruptSeen_ = true;
      continue;
    }
    input_.push_back(byte);
  }
  return true;
}

void RemoteLink::writeAll(std::string_view bytes) {
  while (!bytes.empty() && connected()) {
    const ssize_t written = ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      disconnect();
      return;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

std::optional<std::string> RemoteLink::receive() {
  for (;;) {
    if (interruptSeen_) {
      interruptSeen_ = false;
      return std::string("\x03");
    }
    // Acknowledgements of what was sent before and noise are dropped.
    const size_t start = input_.find('$');
    if (start == std::string::npos) {
      input_.clear();
    } else {
      input_.erase(0, start);
      const size_t end = input_.find('#');
      if (end != std::string::npos && end + 2 < input_.size()) {
        const std::string payload = input_.substr(1, end - 1);
        const auto sent = fromHex(std::string_view(input_).substr(end + 1, 2));
        input_.erase(0, end + 3);
        const bool intact = sent && static_cast<unsigned char>((*sent)[0]) == checksum(payload);
        if (acknowledging_) {
          writeAll(intact ? "+" : "-");
        }
        if (intact) {
          return unescape(payload);
        }
        continue;
      }
    }
    if (!fill(-1) || !connected()) {
      return std::nullopt;
    }
  }
}

void RemoteLink::send(std::string_view payload) {
  char trailer[4];
  std::snprintf(trailer, sizeof trailer, "#%02x", checksum(payload));
  const std::string packet = "$" + std::string(payload) + trailer;
  for (int attempt = 0; attempt < kResends && connected(); ++attempt) {
    writeAll(packet);
    if (!acknowledging_) {
      return;
    }
    // The answer is the first '+' or '-' ahead of any packet.
    for (;;) {
      const size_t mark = input_.find_first_of("+-$");
      if (mark != std::string::npos && input_[mark] != '$') {
        const bool resend = input_[mark] == '-';
        input_.erase(0, mark + 1);
        if (!resend) {
          return;
        }
        break;
      }
      if (mark != std::string::npos) {
        return;  // a packet instead of an answer
      }
      const size_t before = input_.size();
      if (!fill(kAcknowledgementWaitMs)) {
        return;  // the debugger went away
      }
      if (input_.size() == before) {
        break;  // no answer in time: again
      }
    }
  }
}

bool RemoteLink::interrupted() {
  if (!connected()) {
    return accept(false);
  }
  fill(0);
  if (!connected()) {
    return false;
  }
  if (interruptSeen_) {
    interruptSeen_ = false;
    return true;
  }
  return false;
}

}  // namespace gdb
