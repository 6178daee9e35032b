// The emulated board's debug port: a debugger's halts, steps, breakpoints
// and monitor commands. A halt happens inside Unicorn's hook of the
// instruction about to run, so the core, the board and the world stand
// still, and resuming goes on exactly where the run was: a debugged run
// keeps its timeline.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "sim/board.h"
#include "sim/emulator/processor.h"

namespace sim {

namespace {

constexpr uint32_t kPollEvery = 0x3FFF;  // instructions between looks for a Ctrl-C
constexpr uint32_t kPollBlocks = 0xFFF;  // blocks between looks for a debugger

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

bool Processor::breakpoint(bool insert, uint32_t address, bool hardware) {
  address &= ~1U;  // a Thumb address may come with its bit 0 set
  const auto found = std::find_if(breakpoints_.begin(), breakpoints_.end(),
                                  [address](const Breakpoint& point) { return point.address == address; });
  if (insert && found == breakpoints_.end()) {
    breakpoints_.push_back(Breakpoint{address, hardware});
  } else if (!insert && found != breakpoints_.end()) {
    breakpoints_.erase(found);
  }
  return true;
}

// On the SRAM and the devices' registers: the flash and the ROM are never
// written, and a read watchpoint there would cost every literal load.
void Processor::detached() {
  breakpoints_.clear();
  watchpoints_.clear();
  pendingStop_.reset();
  haltNext_ = false;
  range_.reset();
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
