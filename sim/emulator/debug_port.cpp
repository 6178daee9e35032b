// The emulated board's debug port: what the GDB server asks of the
// processor. A halt happens inside Unicorn's hook of the instruction about
// to run, so the core, the board and the world stand still, and resuming
// goes on exactly where the run was: a debugged run keeps its timeline.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>

#include "sim/board.h"
#include "sim/emulator/processor.h"

namespace sim {

namespace {

constexpr uint32_t kPeripheralBase = 0x40000000;
constexpr uint32_t kPeripheralSize = 0x100000;
constexpr uint32_t kSystemBase = 0xE000E000;
constexpr uint32_t kSystemSize = 0x1000;
constexpr uint32_t kFlashBlock = 1024;  // the flash's erase block
constexpr uint32_t kLargestRead = 0x4000;
constexpr uint32_t kPollEvery = 0x3FFF;  // instructions between looks for a Ctrl-C
constexpr uint32_t kPollBlocks = 0xFFF;  // blocks between looks for a debugger

bool inside(uint32_t address, uint32_t length, uint32_t base, uint32_t size) {
  return address >= base && address - base < size && length <= size - (address - base);
}

bool deviceSpace(uint32_t address, uint32_t length) {
  return inside(address, length, kPeripheralBase, kPeripheralSize) || inside(address, length, kSystemBase, kSystemSize);
}

// The Unicorn register of each number the target description gives.
int unicornRegister(unsigned number) {
  if (number < 13) {
    return UC_ARM_REG_R0 + static_cast<int>(number);
  }
  if (number >= gdb::regs::kD0 && number < gdb::regs::kD0 + 16) {
    return UC_ARM_REG_D0 + static_cast<int>(number - gdb::regs::kD0);
  }
  switch (number) {
    case gdb::regs::kSp: return UC_ARM_REG_SP;
    case 14: return UC_ARM_REG_LR;
    case gdb::regs::kPc: return UC_ARM_REG_PC;
    case gdb::regs::kXpsr: return UC_ARM_REG_XPSR;
    case gdb::regs::kFpscr: return UC_ARM_REG_FPSCR;
    case gdb::regs::kMsp: return UC_ARM_REG_MSP;
    case gdb::regs::kPsp: return UC_ARM_REG_PSP;
    case gdb::regs::kPrimask: return UC_ARM_REG_PRIMASK;
    case gdb::regs::kBasepri: return UC_ARM_REG_BASEPRI;
    case gdb::regs::kFaultmask: return UC_ARM_REG_FAULTMASK;
    case gdb::regs::kControl: return UC_ARM_REG_CONTROL;
    default: return UC_ARM_REG_INVALID;
  }
}

// Runs work in a copy of this process and hands back what it wrote to the
// pipe it is given, and whether it ended well; the copy is thrown away, and
// with it whatever the work changed.
std::pair<std::string, bool> inCopy(const std::function<void(int)>& work) {
  int channel[2];
  if (pipe(channel) != 0) {
    return {{}, false};
  }
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return {{}, false};
  }
  if (child == 0) {
    close(channel[0]);
    work(channel[1]);
    _exit(0);
  }
  close(channel[1]);
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(channel[0], buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;
    }
    bytes.append(buffer, static_cast<size_t>(count));
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return {bytes, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

}  // namespace

void Processor::startDebugServer() {
  const DebugServer& options = *board_.debugServer();
  debug_ = std::make_unique<gdb::GdbServer>(*this);
  if (const std::string error = debug_->listen(options.host, options.port); !error.empty()) {
    fault("gdb server: cannot listen on " + error);
  }
  std::fprintf(stderr, "gdb server: listening on %s:%u%s\n", options.host.c_str(), debug_->port(),
               options.wait ? ", halted before the first instruction until a debugger connects" : "");
  std::fflush(stderr);
  if (options.wait) {
    pendingStop_ = gdb::Stop{};
    traced_ = true;
  }
  board_.onFault([this](const std::string& what) {
    faulted_ = true;
    if (!serving_ && debug_->connected()) {
      // The debugger sees where the fault left the core; the run ends with
      // it whatever the debugger does next.
      debug_->print(what + "\n");
      serving_ = true;
      debug_->halt(gdb::Stop{gdb::Stop::Kind::Fault}, false);
    }
  });
}

// At a block's start, before anything of it is counted: a debugger that
// connects finds the board halted at the block's first instruction.
bool Processor::debuggerChanged(uint32_t blockStart) {
  if (!traced_ && (++sincePoll_ & kPollBlocks) == 0 && debug_->interrupted()) {
    pendingStop_ = gdb::Stop{gdb::Stop::Kind::Interrupted};
  }
  // The hooks are wanted while a debugger is connected or awaited.
  if (traced_ == (debug_->connected() || pendingStop_.has_value())) {
    return false;
  }
  // Unicorn may run a block it was asked to stop at from its hook; a PC
  // written there never is, as at an exception's entry.
  retrace_ = true;
  setReg(UC_ARM_REG_PC, blockStart | 1U);
  uc_emu_stop(uc_);
  return true;
}

void Processor::onInstruction(uc_engine*, uint64_t address, uint32_t, void* self) {
  static_cast<Processor*>(self)->instruction(static_cast<uint32_t>(address));
}

void Processor::onRamAccess(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self) {
  auto* processor = static_cast<Processor*>(self);
  if (!processor->watchpoints_.empty()) {
    processor->watched(type == UC_MEM_WRITE, static_cast<uint32_t>(address), static_cast<unsigned>(size));
  }
}

void Processor::instruction(uint32_t address) {
  if (ignoreAt_) {
    const uint32_t at = *ignoreAt_ & ~1U;
    ignoreAt_.reset();
    if (at == address) {
      return;
    }
  }
  if (pendingStop_) {
    halt(*pendingStop_, address);
    return;
  }
  if (haltNext_ || (range_ && (address < range_->first || address >= range_->second))) {
    halt(gdb::Stop{gdb::Stop::Kind::Step}, address);
    return;
  }
  for (const Breakpoint& point : breakpoints_) {
    if (point.address == address) {
      halt(gdb::Stop{point.hardware ? gdb::Stop::Kind::HardwareBreakpoint : gdb::Stop::Kind::Breakpoint}, address);
      return;
    }
  }
  if ((++sincePoll_ & kPollEvery) == 0 && debug_->interrupted()) {
    halt(gdb::Stop{gdb::Stop::Kind::Interrupted}, address);
  }
}

// An access the code makes: a watchpoint's stop comes before the next
// instruction, as the chip's data watchpoints stop after the access.
void Processor::watched(bool write, uint32_t address, unsigned size) {
  for (const Watchpoint& point : watchpoints_) {
    const bool kind = point.type == gdb::Watch::Access || (point.type == gdb::Watch::Write) == write;
    if (kind && address < point.address + point.length && point.address < address + size) {
      pendingStop_ = gdb::Stop{gdb::Stop::Kind::Watchpoint, std::max(address, point.address), point.type};
      return;
    }
  }
}

void Processor::halt(const gdb::Stop& stop, uint32_t address) {
  const bool first = stop.kind == gdb::Stop::Kind::Halted;
  pendingStop_.reset();
  haltNext_ = false;
  range_.reset();
  serving_ = true;
  const gdb::Action action = debug_->halt(stop, first && board_.debugServer()->wait);
  serving_ = false;
  switch (action.how) {
    case gdb::Resume::Step: haltNext_ = true; break;
    case gdb::Resume::Range: range_ = std::pair{action.from, action.to}; break;
    case gdb::Resume::Kill: board_.endNow();
    default: break;
  }
  // The debugger moved the PC, reset the core or loaded code: Unicorn
  // starts again where the core now stands.
  const uint32_t pc = reg(UC_ARM_REG_PC);
  if (restart_ || flashWritten_ || pc != address) {
    restart_ = false;
    reloadRequested_ = reloadRequested_ || flashWritten_;
    flashWritten_ = false;
    ignoreAt_ = pc;
    uc_emu_stop(uc_);
  }
}

std::optional<std::string> Processor::readRegister(unsigned number) {
  const int id = unicornRegister(number);
  if (id == UC_ARM_REG_INVALID) {
    return std::nullopt;
  }
  uint64_t value = 0;
  uc_reg_read(uc_, id, &value);
  return std::string(reinterpret_cast<const char*>(&value), gdb::regs::bytes(number));
}

bool Processor::writeRegister(unsigned number, std::string_view bytes) {
  const int id = unicornRegister(number);
  if (id == UC_ARM_REG_INVALID || bytes.size() != gdb::regs::bytes(number)) {
    return false;
  }
  uint64_t value = 0;
  std::memcpy(&value, bytes.data(), bytes.size());
  uint64_t now = 0;
  uc_reg_read(uc_, id, &now);
  // Unicorn stops at any write of the PC, even of the value it has.
  if (value != now) {
    uc_reg_write(uc_, id, &value);
  }
  return true;
}

std::optional<std::string> Processor::readMemory(uint32_t address, uint32_t length) {
  length = std::min(length, kLargestRead);
  if (deviceSpace(address, 1)) {
    const uint32_t end = address < kSystemBase ? kPeripheralBase + kPeripheralSize : kSystemBase + kSystemSize;
    return peekDevices(address, std::min(length, end - address));
  }
  const std::pair<uint32_t, uint32_t> regions[] = {
      {0, kFlashSize}, {kSramBase, kSramSize}, {kRomBase, rom_ ? kRomSize : 0}};
  for (const auto& [base, size] : regions) {
    if (inside(address, 1, base, size)) {
      std::string bytes(std::min(length, base + size - address), '\0');
      if (uc_mem_read(uc_, address, bytes.data(), bytes.size()) != UC_ERR_OK) {
        return std::nullopt;
      }
      return bytes;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Processor::peekDevices(uint32_t address, uint32_t length) {
  const uint32_t first = address & ~3U;
  const uint32_t words = (address + length - first + 3) / 4;
  const std::string bytes = inCopy([this, first, words](int out) {
    board_.onFault([](const std::string&) { _exit(0); });
    board_.onBusError([](const std::string&) { _exit(0); });
    for (uint32_t index = 0; index < words; ++index) {
      const uint32_t value = board_.debugRead(first + 4 * index);
      if (::write(out, &value, 4) != 4) {
        return;
      }
    }
  }).first;
  const uint32_t skip = address - first;
  if (bytes.size() <= skip) {
    return std::nullopt;
  }
  return bytes.substr(skip, length);
}

bool Processor::writeMemory(uint32_t address, std::string_view bytes) {
  const auto length = static_cast<uint32_t>(bytes.size());
  if (inside(address, length, kSramBase, kSramSize)) {
    return uc_mem_write(uc_, address, bytes.data(), bytes.size()) == UC_ERR_OK;
  }
  // Flash takes the debugger's writes as a flash programmer's (load); the
  // bus cannot write it.
  return deviceSpace(address, length) && writeDevices(address, bytes);
}

// One access of a register, as the code would make it; refused when it
// would end the run (no such register, its block's clock off), which a
// copy of the board tries first.
bool Processor::writeDevices(uint32_t address, std::string_view bytes) {
  const auto size = static_cast<unsigned>(bytes.size());
  if ((size != 1 && size != 2 && size != 4) || (address & (size - 1)) != 0) {
    return false;
  }
  uint32_t value = 0;
  std::memcpy(&value, bytes.data(), size);
  const bool ended = inCopy([this, address, value, size](int) {
                       board_.onFault([](const std::string&) { _exit(1); });
                       board_.onBusError([](const std::string&) { _exit(1); });
                       board_.write(address, value, size);
                     }).second;
  if (ended) {
    board_.write(address, value, size);
  }
  return ended;
}

bool Processor::eraseFlash(uint32_t address, uint32_t length) {
  if (address % kFlashBlock != 0 || !inside(address, length, 0, kFlashSize)) {
    return false;
  }
  const uint32_t end = std::min(kFlashSize, (address + length + kFlashBlock - 1) / kFlashBlock * kFlashBlock);
  std::fill(image_.flash.begin() + address, image_.flash.begin() + end, 0xFF);
  uc_mem_write(uc_, address, image_.flash.data() + address, end - address);
  flashWritten_ = true;
  return true;
}

bool Processor::writeFlash(uint32_t address, std::string_view bytes) {
  if (!inside(address, static_cast<uint32_t>(bytes.size()), 0, kFlashSize)) {
    return false;
  }
  std::memcpy(image_.flash.data() + address, bytes.data(), bytes.size());
  uc_mem_write(uc_, address, bytes.data(), bytes.size());
  flashWritten_ = true;
  return true;
}

bool Processor::breakpoint(bool insert, uint32_t address, bool hardware) {
  const auto found = std::find_if(breakpoints_.begin(), breakpoints_.end(),
                                  [address](const Breakpoint& point) { return point.address == address; });
  if (insert && found == breakpoints_.end()) {
    breakpoints_.push_back(Breakpoint{address & ~1U, hardware});
  } else if (!insert && found != breakpoints_.end()) {
    breakpoints_.erase(found);
  }
  return true;
}

// On the SRAM and the devices' registers: the flash and the ROM are never
// written, and a read watchpoint there would cost every literal load.
bool Processor::watchpoint(bool insert, gdb::Watch type, uint32_t address, uint32_t length) {
  if (length == 0 || (!inside(address, length, kSramBase, kSramSize) && !deviceSpace(address, length))) {
    return false;
  }
  const auto same = [&](const Watchpoint& point) {
    return point.type == type && point.address == address && point.length == length;
  };
  const auto found = std::find_if(watchpoints_.begin(), watchpoints_.end(), same);
  if (insert && found == watchpoints_.end()) {
    watchpoints_.push_back(Watchpoint{type, address, length});
  } else if (!insert && found != watchpoints_.end()) {
    watchpoints_.erase(found);
  }
  return true;
}

void Processor::detached() {
  breakpoints_.clear();
  watchpoints_.clear();
  pendingStop_.reset();
  haltNext_ = false;
  range_.reset();
}

std::string Processor::memoryMap() {
  char xml[1024];
  std::snprintf(xml, sizeof xml,
                "<?xml version=\"1.0\"?>\n<!DOCTYPE memory-map PUBLIC \"+//IDN gnu.org//DTD GDB Memory Map V1.0//EN\" "
                "\"http://sourceware.org/gdb/gdb-memory-map.dtd\">\n<memory-map>\n"
                "<memory type=\"flash\" start=\"0x0\" length=\"0x%x\"><property name=\"blocksize\">0x%x</property>"
                "</memory>\n%s<memory type=\"ram\" start=\"0x%x\" length=\"0x%x\"/>\n"
                "<memory type=\"ram\" start=\"0x%x\" length=\"0x%x\"/>\n<memory type=\"ram\" start=\"0x%x\" "
                "length=\"0x%x\"/>\n</memory-map>\n",
                kFlashSize, kFlashBlock, rom_ ? "<memory type=\"rom\" start=\"0x1000000\" length=\"0x10000\"/>\n" : "",
                kSramBase, kSramSize, kPeripheralBase, kPeripheralSize, kSystemBase, kSystemSize);
  return xml;
}

std::optional<std::string> Processor::monitor(const std::string& command) {
  const size_t space = command.find(' ');
  const std::string word = command.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : command.substr(space + 1);
  if (word == "help") {
    return "monitor time          the virtual time\n"
           "monitor reset         reset the chip (the world goes on) and halt at the reset vector\n"
           "monitor press         press the button, as a scenario's press\n"
           "monitor timeline [N]  the last N records of the timeline (10)\n"
           "monitor help          this list\n";
  }
  if (word == "time") {
    return "virtual time " + formatTime(board_.now() + cycles_ * board_.cycleTime()) + " s\n";
  }
  if (word == "reset") {
    return resetForDebugger();
  }
  if (word == "press") {
    std::vector<PinChange> changes = board_.debugServer()->press;
    if (changes.empty()) {
      return std::string("this run has no button\n");
    }
    for (PinChange& change : changes) {
      change.at += board_.now();
    }
    board_.drive(std::move(changes));
    return "the button pressed at " + formatTime(board_.now()) + " s\n";
  }
  if (word == "timeline") {
    const unsigned long wanted = rest.empty() ? 10 : std::strtoul(rest.c_str(), nullptr, 10);
    const Timeline& timeline = board_.timeline();
    const size_t count = std::min<size_t>(wanted, timeline.records.size());
    std::string lines;
    for (size_t index = timeline.records.size() - count; index < timeline.records.size(); ++index) {
      timeline.appendLine(lines, timeline.records[index]);
      lines += '\n';
    }
    return lines;
  }
  return std::nullopt;
}

std::string Processor::resetForDebugger() {
  if (faulted_) {
    return "the run ended with a fault; it cannot be reset\n";
  }
  flushCycles();
  board_.resetChip();
  resetCore();
  setReg(UC_ARM_REG_PC, resume_);
  pendingStop_.reset();
  haltNext_ = false;
  range_.reset();
  restart_ = true;
  // A loaded image's symbols are known once it runs.
  return "reset: halted at " + hex(resume_ & ~1U) + (flashWritten_ ? "" : " in " + image_.symbolAt(resume_ & ~1U)) + "\n";
}

// After a debugger's load: the image in the flash, read again; its ELF
// file's symbols when it is what the file holds, else it is all code.
void Processor::reloadCode() {
  reloadRequested_ = false;
  std::vector<std::pair<unsigned, std::string>> registers;
  for (unsigned number = 0; number < gdb::regs::kCount; ++number) {
    registers.emplace_back(number, *readRegister(number));
  }
  std::string ram(kSramSize, '\0');
  uc_mem_read(uc_, kSramBase, ram.data(), ram.size());

  Image next;
  if (access(elfPath_.c_str(), R_OK) == 0) {
    next = loadImage(board_, elfPath_, 0, kFlashSize);
  }
  if (next.flash != image_.flash) {
    next = Image{};
    next.flash = image_.flash;
    const auto last = std::find_if(next.flash.rbegin(), next.flash.rend(), [](uint8_t byte) { return byte != 0xFF; });
    next.codeStarts.push_back(0);
    next.codeEnds.push_back(static_cast<uint32_t>(next.flash.rend() - last + 1) & ~1U);
  }
  if (rom_) {
    next.functions.insert(rom_->functions.begin(), rom_->functions.end());
  }
  image_ = std::move(next);
  setUp();
  uc_mem_write(uc_, kSramBase, ram.data(), ram.size());
  // The mode and stacks first, then the rest: Unicorn banks SP by them.
  for (const unsigned number : {gdb::regs::kXpsr, gdb::regs::kControl, gdb::regs::kMsp, gdb::regs::kPsp}) {
    writeRegister(number, registers[number].second);
  }
  for (const auto& [number, value] : registers) {
    writeRegister(number, value);
  }
  resume_ = reg(UC_ARM_REG_PC) | 1U;
}

}  // namespace sim
