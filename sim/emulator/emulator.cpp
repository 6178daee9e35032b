#include "sim/emulator/emulator.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/registers.h"
#include "sim/board.h"
#include "sim/emulator/processor.h"

// Unicorn 2.0 looks for translated code to drop on every store to RAM; 2.1
// skips that for memory mapped without execute permission.
static_assert(UC_API_MAJOR > 2 || (UC_API_MAJOR == 2 && UC_API_MINOR >= 1), "the emulated board needs Unicorn 2.1");

namespace sim {

namespace {

constexpr uint16_t kWfi = 0xBF30;
constexpr uint32_t kStackPaint = 0x5A5AA5A5;

}  // namespace

Processor::Processor(Board& board, Image image, std::optional<Image> rom, std::string elfPath)
    : board_(board), image_(std::move(image)), rom_(std::move(rom)), elfPath_(std::move(elfPath)) {
  if (rom_) {
    // Fault messages name ROM operations too.
    image_.functions.insert(rom_->functions.begin(), rom_->functions.end());
  }
}

uint32_t Processor::reg(int id) {
  uint32_t value = 0;
  uc_reg_read(uc_, id, &value);
  return value;
}

void Processor::setReg(int id, uint32_t value) { uc_reg_write(uc_, id, &value); }

uint32_t Processor::word(uint32_t address) {
  uint32_t value = 0;
  if (uc_mem_read(uc_, address, &value, 4) != UC_ERR_OK) {
    fault("read of " + hex(address) + " failed");
  }
  return value;
}

// The PC and its function; in a register access the PC is the start of
// the block that made it.
std::string Processor::where() {
  const uint32_t pc = reg(UC_ARM_REG_PC);
  std::string text = " (PC " + hex(pc) + " in " + image_.symbolAt(pc);
  for (int index = 0; index < 4; ++index) {
    text += (index == 0 ? "; r" : " r") + std::to_string(index) + " " + hex(reg(UC_ARM_REG_R0 + index));
  }
  return text + ")";
}

void Processor::fault(const std::string& what) { board_.fault(what); }

// The halfword of code at an address, from our copy of the flash or ROM.
uint16_t Processor::code(uint32_t address) const {
  const Image* memory = address < kFlashSize ? &image_ : rom_ && address >= kRomBase ? &*rom_ : nullptr;
  uint16_t halfword = 0;
  if (memory != nullptr && address - memory->base + 2 <= memory->flash.size()) {
    std::memcpy(&halfword, memory->flash.data() + (address - memory->base), 2);
  }
  return halfword;
}

thumb::Instruction Processor::instructionAt(uint32_t address) const {
  return thumb::decode(code(address), code(address + 2));
}

void Processor::run() {
  // The library found at run time, not only the headers built against.
  unsigned major = 0, minor = 0;
  uc_version(&major, &minor);
  if (major < 2 || (major == 2 && minor < 1)) {
    board_.fault("emulated board: Unicorn " + std::to_string(major) + "." + std::to_string(minor) +
                 " was loaded; it needs 2.1 (scripts/deps.sh puts it in build/deps/unicorn)");
  }
  if (board_.debugServer()) {
    startDebugServer();
  }
  setUp();
  paintStack();
  resetCore();
  for (;;) {
    if (reloadRequested_) {
      reloadCode();
    }
    if (retrace_) {
      // Code translated before holds the old hooks' calls, or lacks the new.
      retrace_ = false;
      traced_ = !traced_;
      addHooks();
      uc_ctl_flush_tb(uc_);
    }
    // Unicorn decodes an even begin address as ARM code, which an M-profile
    // core has not: the INVSTATE fault the chip takes.
    stepping_ = stepsPlanned_;
    stepsPlanned_ = 0;
    if (stepping_ != 0) {
      // Unicorn's count applies only to code translated after it is set.
      uc_ctl_remove_cache(uc_, resume_ & ~1U, pending_->at + 4);
    }
    const uc_err error = uc_emu_start(uc_, resume_, 0xFFFFFFFF, 0, stepping_);
    afterStop(error);
  }
}

// The engine with the image in its flash, the board's registers and the
// hooks of the processor's own model; again after a debugger loaded
// another image.
void Processor::setUp() {
  if (uc_ != nullptr) {
    uc_close(uc_);
    checkedAccesses_.clear();
    hookedAccesses_.clear();
    blockChecks_.clear();
  }
  flashBlocks_.assign(kFlashSize / 2, BlockInfo{});
  if (rom_) {
    romBlocks_.assign(kRomSize / 2, BlockInfo{});
  }
  if (uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) != UC_ERR_OK ||
      uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4) != UC_ERR_OK) {
    board_.fault("emulated board: Unicorn has no Cortex-M4");
  }
  // The default 1 GB of translated code is cleared whenever a fault is run
  // up to instruction by instruction; 256 KB of flash needs far less.
  uc_ctl_set_tcg_buffer_size(uc_, 32U << 20);
  uc_mem_map(uc_, 0, kFlashSize, UC_PROT_READ | UC_PROT_EXEC);
  uc_mem_write(uc_, 0, image_.flash.data(), kFlashSize);
  uc_mem_map(uc_, kSramBase, kSramSize, UC_PROT_READ | UC_PROT_WRITE);
  if (rom_) {
    uc_mem_map(uc_, kRomBase, kRomSize, UC_PROT_READ | UC_PROT_EXEC);
    uc_mem_write(uc_, kRomBase, rom_->flash.data(), kRomSize);
  }
  uc_mmio_map(uc_, kPeripheralBase, kPeripheralSize, onRead, reinterpret_cast<void*>(uintptr_t{kPeripheralBase}),
              onWrite, reinterpret_cast<void*>(uintptr_t{kPeripheralBase}));
  uc_mmio_map(uc_, kSystemBase, kSystemSize, onRead, reinterpret_cast<void*>(uintptr_t{kSystemBase}), onWrite,
              reinterpret_cast<void*>(uintptr_t{kSystemBase}));
  board_.emulate();
  board_.faultContext([this] { return where(); });
  board_.onSystemReset([this] {
    resetRequested_ = true;
    uc_emu_stop(uc_);
  });
  if (board_.runsFaultHandlers()) {
    board_.onBusError([this](const std::string& what) {
      stopReason_ = what;
      busError_ = true;
      uc_emu_stop(uc_);
    });
  }

  scanCode(image_);
  if (rom_) {
    scanCode(*rom_);
  }
  const auto byAddress = [](const AlignedAccess& a, const AlignedAccess& b) { return a.address < b.address; };
  std::sort(checkedAccesses_.begin(), checkedAccesses_.end(), byAddress);
  std::sort(hookedAccesses_.begin(), hookedAccesses_.end(), byAddress);
  hooks_.clear();
  addHooks();
}

// Unicorn calls a hook's callbacks in the order they were added. A
// debugger's come first, so that a halt comes before anything the
// instruction does; they are there while one is connected.
void Processor::addHooks() {
  for (const uc_hook old : hooks_) {
    uc_hook_del(uc_, old);
  }
  hooks_.clear();
  const auto add = [this](int type, void* callback, uint64_t begin, uint64_t end) {
    uc_hook hook;
    uc_hook_add(uc_, &hook, type, callback, this, begin, end);
    hooks_.push_back(hook);
  };
  if (traced_) {
    add(UC_HOOK_CODE, reinterpret_cast<void*>(onInstruction), 1, 0);
    add(UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onRamAccess), kSramBase,
        kSramBase + kSramSize - 1);
  }
  add(UC_HOOK_BLOCK, reinterpret_cast<void*>(onBlock), 1, 0);
  add(UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), 1, 0);
  add(UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(onUnmapped), 1, 0);
  add(UC_HOOK_MEM_PROT, reinterpret_cast<void*>(onProtected), 1, 0);
  // The delay loop is skipped in virtual time: three cycles a pass.
  if (const uint32_t delay = image_.function("SysCtlDelay("); delay != 0) {
    add(UC_HOOK_CODE, reinterpret_cast<void*>(onDelay), delay, delay);
  }
  for (const AlignedAccess& access : hookedAccesses_) {
    add(UC_HOOK_CODE, reinterpret_cast<void*>(onAligned), access.address, access.address);
  }
  // Every WFI in the code waits for the next event; exclusive accesses
  // keep the architecture's local monitor. Each halfword is looked at: a
  // hook inside another instruction never fires.
  for (size_t range = 0; range < image_.codeStarts.size(); ++range) {
    for (uint32_t address = image_.codeStarts[range]; address + 2 <= image_.codeEnds[range]; address += 2) {
      const thumb::Kind kind = instructionAt(address).kind;
      if (code(address) == kWfi) {
        add(UC_HOOK_CODE, reinterpret_cast<void*>(onWfi), address, address);
      } else if (kind == thumb::Kind::LoadExclusive || kind == thumb::Kind::StoreExclusive ||
                 kind == thumb::Kind::ClearExclusive) {
        add(UC_HOOK_CODE, reinterpret_cast<void*>(onExclusive), address, address);
      }
    }
  }
}

// The stack, from the start of the SRAM up to its top at entry 0, is
// painted; the deepest it went is the lowest word no longer painted.
void Processor::paintStack() {
  const uint32_t stackTop = word(0);
  if (stackTop > kSramBase && stackTop <= kSramBase + kSramSize) {
    const std::vector<uint32_t> paint((stackTop - kSramBase) / 4, kStackPaint);
    uc_mem_write(uc_, kSramBase, paint.data(), paint.size() * 4);
  }
  board_.beforeFinish([this, stackTop] {
    uint32_t deepest = stackTop;
    for (uint32_t address = kSramBase; address < stackTop; address += 4) {
      uint32_t value = 0;
      uc_mem_read(uc_, address, &value, 4);
      if (value != kStackPaint) {
        deepest = address;
        break;
      }
    }
    const uint32_t used = stackTop - deepest;
    board_.record(RecordKind::Stack, 0, static_cast<uint16_t>(used), stackTop - kSramBase);
    board_.executedRecord(halfwords_);
    if (debug_) {
      debug_->ended(faulted_);
    }
  });
}

// A register state for the board's loop detection: a polling loop reads
// the same register with the same registers every pass.
uint64_t Processor::loopState() {
  constexpr int kRegisters[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3, UC_ARM_REG_R4,
                                UC_ARM_REG_R5, UC_ARM_REG_R6, UC_ARM_REG_R7,  UC_ARM_REG_R8, UC_ARM_REG_R9,
                                UC_ARM_REG_R10, UC_ARM_REG_R11, UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR};
  constexpr int kCount = sizeof kRegisters / sizeof kRegisters[0];
  std::array<uint32_t, kCount> values{};
  std::array<void*, kCount> pointers{};
  for (int index = 0; index < kCount; ++index) {
    pointers[index] = &values[index];
  }
  uc_reg_read_batch(uc_, const_cast<int*>(kRegisters), pointers.data(), kCount);
  uint64_t hash = 1469598103934665603ULL;
  for (const uint32_t value : values) {
    hash = (hash ^ value) * 1099511628211ULL;
  }
  return hash | 1;  // never 0, which stands for not known
}

void Processor::flushCycles() {
  if (cycles_ != 0) {
    board_.advanceCycles(cycles_);
    cycles_ = 0;
  }
  nextEventCycles_ = board_.cyclesToNextEvent();
}

void Processor::delay(uint32_t address) {
  flushCycles();
  const uint32_t passes = reg(UC_ARM_REG_R0);
  const uint64_t cycles = 3 * (passes != 0 ? uint64_t{passes} : (uint64_t{1} << 32));
  const Masks current = masks();
  const uint64_t spent = board_.advanceUnlessInterrupted(cycles, current);
  nextEventCycles_ = board_.cyclesToNextEvent();
  if (spent >= cycles) {
    setReg(UC_ARM_REG_R0, 0);
    setReg(UC_ARM_REG_PC, reg(UC_ARM_REG_LR) | 1U);
    previousBranched_ = false;
    return;
  }
  // An interrupt came: the rest of the wait runs after its handler.
  const uint64_t left = (cycles - spent + 2) / 3;
  setReg(UC_ARM_REG_R0, static_cast<uint32_t>(left > 0 ? left : 1));
  deliverPending(address);
}

void Processor::sleep(uint32_t address) {
  flushCycles();
  board_.sleepUntilInterrupt(masks());
  nextEventCycles_ = board_.cyclesToNextEvent();
  if (board_.preempting(masks()) >= 0) {
    deliverPending(address + 2);
  } else {
    setReg(UC_ARM_REG_PC, (address + 2) | 1U);
  }
  previousBranched_ = false;
}

void Processor::onBlock(uc_engine*, uint64_t address, uint32_t size, void* self) {
  static_cast<Processor*>(self)->block(static_cast<uint32_t>(address), size);
}

void Processor::onDelay(uc_engine*, uint64_t address, uint32_t, void* self) {
  static_cast<Processor*>(self)->delay(static_cast<uint32_t>(address));
}

void Processor::onWfi(uc_engine*, uint64_t address, uint32_t, void* self) {
  static_cast<Processor*>(self)->sleep(static_cast<uint32_t>(address));
}

void Processor::onExclusive(uc_engine*, uint64_t address, uint32_t, void* self) {
  static_cast<Processor*>(self)->exclusive(static_cast<uint32_t>(address));
}

void Processor::onInterrupt(uc_engine*, uint32_t number, void* self) {
  auto* processor = static_cast<Processor*>(self);
  constexpr uint32_t kSupervisorCall = 2, kPrefetchAbort = 3, kDataAbort = 4, kBreakpoint = 7, kExceptionExit = 8,
                     kUnaligned = 22;
  const uint32_t pc = processor->reg(UC_ARM_REG_PC);
  switch (number) {
    case kExceptionExit:
      processor->exceptionReturn();
      return;
    case kSupervisorCall:
      processor->supervisorCall();
      return;
    case kPrefetchAbort:
      // Unicorn knows the default memory map's execute-never regions.
      processor->flushCycles();
      processor->takeFault(kMemManage, fault_status::kInstructionAccessViolation, pc,
                           "execution at " + hex(pc) + " in an execute-never region");
      return;
    case kDataAbort:
    case kUnaligned:
      // Unicorn checks the alignment of exclusive accesses itself.
      processor->flushCycles();
      processor->takeFault(kUsageFault, fault_status::kUnaligned, pc, "an unaligned exclusive access at " + hex(pc));
      return;
    case kBreakpoint:
      processor->flushCycles();
      processor->takeFault(kDebugMonitor, 0, pc, "a breakpoint instruction at " + hex(pc) + " with no debugger");
      return;
    default:
      processor->fault("processor exception " + std::to_string(number) + " at " + hex(pc) +
                       ": the emulated board does not model it");
  }
}

bool Processor::onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
  auto* processor = static_cast<Processor*>(self);
  const bool stack = address < kSramBase && address >= kSramBase - 256;
  processor->stopReason_ = std::string(type == UC_MEM_FETCH_UNMAPPED ? "execution" : type == UC_MEM_WRITE_UNMAPPED ? "write" : "read") +
                           " at unmapped address " + hex(address) + (stack ? ": the stack grew below its start" : "");
  processor->board_.systemControlSpace().setBusFaultAddress(static_cast<uint32_t>(address));
  return false;
}

bool Processor::onProtected(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
  auto* processor = static_cast<Processor*>(self);
  processor->stopReason_ = std::string(type == UC_MEM_WRITE_PROT ? "write to flash" : "execution from SRAM") + " at " + hex(address);
  return false;
}

// A register access happens at its time: the code's cycles before it are
// counted first.
uint64_t Processor::onRead(uc_engine*, uint64_t offset, unsigned size, void* base) {
  Processor* processor = active;
  processor->flushCycles();
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) + offset);
  if (!processor->watchpoints_.empty()) {
    processor->watched(false, address, size);
  }
  const uint64_t state = board().watchingLoop() ? processor->loopState() : 0;
  const uint32_t value = board().read(address, size, state);
  processor->nextEventCycles_ = board().cyclesToNextEvent();
  return value;
}

void Processor::onWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* base) {
  Processor* processor = active;
  processor->flushCycles();
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) + offset);
  if (!processor->watchpoints_.empty()) {
    processor->watched(true, address, size);
  }
  board().write(address, static_cast<uint32_t>(value), size);
  processor->nextEventCycles_ = board().cyclesToNextEvent();
}

void emulateImage(Board& board, const std::string& elfPath, const std::string& romPath) {
  static Processor* processor = nullptr;  // lives until the run's process ends
  std::optional<Image> rom;
  if (!romPath.empty() && access(romPath.c_str(), R_OK) == 0) {
    rom = loadImage(board, romPath, kRomBase, kRomSize);
  }
  processor = new Processor(board, loadImage(board, elfPath, 0, kFlashSize), std::move(rom), elfPath);
  Processor::active = processor;
  processor->run();
}

}  // namespace sim
