// A GDB remote server for one target: the packets a debugger sends, turned
// into register, memory, breakpoint and run-control requests of the target,
// and the stop replies it waits for. The target runs in the caller's
// thread; while it is halted, halt() serves the debugger.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/gdb/remote_link.h"

namespace gdb {

enum class Watch : uint8_t { Write, Read, Access };

struct Stop {
  enum class Kind : uint8_t { Halted, Step, Breakpoint, HardwareBreakpoint, Watchpoint, Interrupted, Fault };
  Kind kind = Kind::Halted;
  uint32_t address = 0;  // a watchpoint's data address
  Watch watch = Watch::Write;
};

enum class Resume : uint8_t { Continue, Step, Range, Detach, Kill };

struct Action {
  Resume how = Resume::Continue;
  uint32_t from = 0, to = 0;  // a range step: on while the PC is in [from, to)
};

// The registers as the target description numbers them.
namespace regs {
inline constexpr unsigned kSp = 13, kPc = 15, kXpsr = 16, kD0 = 17, kFpscr = 33, kMsp = 34, kPsp = 35,
                          kPrimask = 36, kBasepri = 37, kFaultmask = 38, kControl = 39, kCount = 40;
constexpr unsigned bytes(unsigned number) { return number >= kD0 && number < kD0 + 16 ? 8 : 4; }
}  // namespace regs

class Target {
 public:
  virtual ~Target() = default;
  // A register's value, little-endian, of regs::bytes(number) bytes.
  virtual std::optional<std::string> readRegister(unsigned number) = 0;
  virtual bool writeRegister(unsigned number, std::string_view bytes) = 0;
  // Memory from address; shorter than asked where it stops being readable,
  // nothing when its first byte is not.
  virtual std::optional<std::string> readMemory(uint32_t address, uint32_t length) = 0;
  virtual bool writeMemory(uint32_t address, std::string_view bytes) = 0;
  virtual bool eraseFlash(uint32_t address, uint32_t length) = 0;
  virtual bool writeFlash(uint32_t address, std::string_view bytes) = 0;
  virtual void flashDone() = 0;
  virtual bool breakpoint(bool insert, uint32_t address, bool hardware) = 0;
  virtual bool watchpoint(bool insert, Watch type, uint32_t address, uint32_t length) = 0;
  // Breakpoints and watchpoints gone: the debugger left.
  virtual void detached() = 0;
  // The memory-map document: where flash (and its erase blocks), RAM and
  // ROM lie.
  virtual std::string memoryMap() = 0;
  // What a monitor command printed; nothing when there is no such command.
  virtual std::optional<std::string> monitor(const std::string& command) = 0;
};

class GdbServer {
 public:
  explicit GdbServer(Target& target) : target_(target) {}
  // Where it listens; the error's text when it cannot.
  [[nodiscard]] std::string listen(const std::string& host, uint16_t port) { return link_.listen(host, port); }
  [[nodiscard]] uint16_t port() const { return link_.port(); }
  [[nodiscard]] bool connected() const { return link_.connected(); }

  // The target stopped: serves the debugger (waiting for one to connect
  // when wait is set) until it resumes the target, detaches or kills it.
  Action halt(const Stop& stop, bool wait);
  // While the target runs: a debugger's Ctrl-C, or a new debugger (which
  // finds the target halted).
  [[nodiscard]] bool interrupted() { return link_.interrupted(); }
  // Text on the debugger's console.
  void print(const std::string& text);
  // The run ended: "W00" or "X0b" to a debugger waiting for the target.
  void ended(bool fault);

 private:
  // A packet's reply, or the action that ends the halt.
  std::optional<std::string> serve(const std::string& packet, std::optional<Action>& action);
  std::string stopReply() const;
  std::string readRegisters();
  std::string writeRegisters(std::string_view hex);
  std::string memory(std::string_view arguments);
  std::string writeMemory(std::string_view arguments, bool binary);
  std::string points(std::string_view packet);
  std::string flash(std::string_view packet);
  std::string monitor(std::string_view hex);
  std::optional<Action> resume(std::string_view packet);

  Target& target_;
  RemoteLink link_;
  Stop last_;
  bool replyOwed_ = false;  // the debugger resumed the target and waits for it to stop
  bool interruptPending_ = false;
};

}  // namespace gdb
