// The GDB remote serial protocol's transport: one TCP listener, one debugger
// at a time, packets framed as $payload#checksum with acknowledgements (a
// bad checksum is answered "-" for a retransmit), and the 0x03 byte that
// interrupts a running target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gdb {

class RemoteLink {
 public:
  RemoteLink() = default;
  RemoteLink(const RemoteLink&) = delete;
  RemoteLink& operator=(const RemoteLink&) = delete;
  ~RemoteLink();

  // Listens on host:port (port 0: one the system picks); the error's text
  // when it cannot.
  [[nodiscard]] std::string listen(const std::string& host, uint16_t port);
  [[nodiscard]] uint16_t port() const { return port_; }

  // A debugger's connection: waits for one when wait is set. A second
  // debugger while one is connected is closed at once.
  bool accept(bool wait);
  [[nodiscard]] bool connected() const { return client_ >= 0; }
  void disconnect();

  // The next packet's payload, "\x03" for an interrupt; nothing when the
  // debugger went away.
  std::optional<std::string> receive();
  // Sends a packet; with acknowledgements on, resends it on "-".
  void send(std::string_view payload);
  // While the target runs: whether the debugger asked it to stop (or went
  // away), without waiting. Refuses any other debugger meanwhile.
  bool interrupted();
  void acknowledge(bool on) { acknowledging_ = on; }

 private:
  // Bytes from the debugger, waiting up to timeout milliseconds (-1: for
  // ever); false when it went away.
  bool fill(int timeout);
  void refuseOthers();
  void writeAll(std::string_view bytes);

  int listener_ = -1;
  int client_ = -1;
  uint16_t port_ = 0;
  bool acknowledging_ = true;
  bool interruptSeen_ = false;
  bool inPacket_ = false;  // between '$' and '#'
  int trailer_ = 0;        // checksum digits still to come
  std::string input_;
};

// Hex of bytes and back, as the protocol carries memory and registers.
std::string toHex(std::string_view bytes);
std::optional<std::string> fromHex(std::string_view text);
// A binary payload ("X", "vFlashWrite") with its escapes undone.
std::string unescape(std::string_view bytes);

}  // namespace gdb
