#include "sim/emulator/emulator.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unicorn/unicorn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <array>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "sim/board.h"

// Unicorn 2.0 looks for translated code to drop on every store to RAM; 2.1
// skips that for memory mapped without execute permission.
static_assert(UC_API_MAJOR > 2 || (UC_API_MAJOR == 2 && UC_API_MINOR >= 1), "the emulated board needs Unicorn 2.1");

namespace sim {

namespace {

constexpr uint32_t kFlashSize = 256 * 1024;
constexpr uint32_t kSramBase = 0x20000000;
constexpr uint32_t kSramSize = 32 * 1024;
constexpr uint32_t kPeripheralBase = 0x40000000;
constexpr uint32_t kPeripheralSize = 0x100000;
constexpr uint32_t kSystemBase = 0xE000E000;
constexpr uint32_t kSystemSize = 0x1000;
constexpr uint32_t kExceptionExit = 8;  // Unicorn's interrupt number for an EXC_RETURN branch
constexpr uint32_t kFpca = 1U << 2;
constexpr uint16_t kWfi = 0xBF30;
constexpr uint16_t kBranchToSelf = 0xE7FE;
constexpr uint32_t kStackPaint = 0x5A5AA5A5;
constexpr unsigned kBasicFrameWords = 8;
constexpr unsigned kFrameWords = 26;  // with s0-s15, FPSCR and the reserved word

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
  return text;
}

std::string demangled(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string text = status == 0 && readable != nullptr ? readable : name;
  std::free(readable);
  return text;
}

constexpr uint32_t kRomBase = 0x01000000;
constexpr uint32_t kRomSize = 64 * 1024;

// An image as its memory holds it (the flash, or the ROM), and its
// function symbols.
struct Image {
  uint32_t base = 0;
  std::vector<uint8_t> flash;
  std::map<uint32_t, std::pair<uint32_t, std::string>> functions;  // start -> size, name
  std::vector<uint32_t> codeStarts;                                // executable ranges in flash
  std::vector<uint32_t> codeEnds;
  uint32_t stackBottom = kSramBase;
  uint32_t stackTop = kSramBase;

  [[nodiscard]] std::string symbolAt(uint32_t address) const {
    auto found = functions.upper_bound(address);
    if (found == functions.begin()) {
      return "?";
    }
    --found;
    return address < found->first + std::max<uint32_t>(found->second.first, 2) ? found->second.second : "?";
  }
  [[nodiscard]] uint32_t function(const std::string& prefix) const {
    for (const auto& [start, entry] : functions) {
      if (entry.second.rfind(prefix, 0) == 0) {
        return start;
      }
    }
    return 0;
  }
};

[[noreturn]] void cannot(Board& board, const std::string& what) { board.fault("emulated board: " + what); }

Image loadImage(Board& board, const std::string& path, uint32_t base, uint32_t size) {
  Image image;
  image.base = base;
  image.flash.assign(size, 0xFF);
  // A flat binary, as the flash programmer takes it: no symbols.
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bin") == 0) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      cannot(board, "cannot open " + path);
    }
    const size_t read = std::fread(image.flash.data(), 1, size, file);
    std::fclose(file);
    image.codeStarts.push_back(base);
    image.codeEnds.push_back(base + static_cast<uint32_t>(read));
    return image;
  }
  elf_version(EV_CURRENT);
  const int file = open(path.c_str(), O_RDONLY);
  if (file < 0) {
    cannot(board, "cannot open " + path);
  }
  Elf* elf = elf_begin(file, ELF_C_READ, nullptr);
  GElf_Ehdr header;
  if (elf == nullptr || gelf_getehdr(elf, &header) == nullptr || header.e_machine != EM_ARM) {
    cannot(board, path + " is no ARM ELF image");
  }
  // What a programmer writes to flash: each loadable segment at its load
  // address.
  size_t segments = 0;
  elf_getphdrnum(elf, &segments);
  for (size_t index = 0; index < segments; ++index) {
    GElf_Phdr segment;
    gelf_getphdr(elf, static_cast<int>(index), &segment);
    if (segment.p_type != PT_LOAD || segment.p_filesz == 0) {
      continue;
    }
    if (segment.p_paddr < base || segment.p_paddr + segment.p_filesz > base + size) {
      cannot(board, "a segment of " + path + " lies outside its memory");
    }
    size_t fileSize = 0;
    const char* bytes = elf_rawfile(elf, &fileSize);
    std::memcpy(image.flash.data() + (segment.p_paddr - base), bytes + segment.p_offset, segment.p_filesz);
  }
  for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr; section = elf_nextscn(elf, section)) {
    GElf_Shdr info;
    gelf_getshdr(section, &info);
    if ((info.sh_flags & SHF_EXECINSTR) != 0 && info.sh_addr >= base && info.sh_addr < base + size) {
      image.codeStarts.push_back(static_cast<uint32_t>(info.sh_addr));
      image.codeEnds.push_back(static_cast<uint32_t>(info.sh_addr + info.sh_size));
    }
    if (info.sh_type != SHT_SYMTAB) {
      continue;
    }
    Elf_Data* data = elf_getdata(section, nullptr);
    const size_t count = info.sh_entsize != 0 ? info.sh_size / info.sh_entsize : 0;
    for (size_t index = 0; index < count; ++index) {
      GElf_Sym symbol;
      gelf_getsym(data, static_cast<int>(index), &symbol);
      const char* name = elf_strptr(elf, info.sh_link, symbol.st_name);
      if (name == nullptr) {
        continue;
      }
      if (GELF_ST_TYPE(symbol.st_info) == STT_FUNC) {
        image.functions[static_cast<uint32_t>(symbol.st_value & ~1ULL)] = {static_cast<uint32_t>(symbol.st_size),
                                                                           demangled(name)};
      } else if (std::strcmp(name, "__STACK_END") == 0) {
        image.stackTop = static_cast<uint32_t>(symbol.st_value);
      }
    }
  }
  elf_end(elf);
  close(file);
  return image;
}

class Emulator {
 public:
  Emulator(Board& board, Image image, std::optional<Image> rom)
      : board_(board), image_(std::move(image)), rom_(std::move(rom)) {
    if (rom_) {
      // Fault messages name ROM operations too.
      image_.functions.insert(rom_->functions.begin(), rom_->functions.end());
    }
  }

  [[noreturn]] void run();

 private:
  uint32_t reg(int id) {
    uint32_t value = 0;
    uc_reg_read(uc_, id, &value);
    return value;
  }
  void setReg(int id, uint32_t value) { uc_reg_write(uc_, id, &value); }
  uint32_t word(uint32_t address) {
    uint32_t value = 0;
    if (uc_mem_read(uc_, address, &value, 4) != UC_ERR_OK) {
      fault("read of " + hex(address) + " failed");
    }
    return value;
  }
  // The PC and its function; in a register access the PC is the start of
  // the block that made it.
  std::string where() {
    const uint32_t pc = reg(UC_ARM_REG_PC);
    return " (PC " + hex(pc) + " in " + image_.symbolAt(pc) + ")";
  }
  [[noreturn]] void fault(const std::string& what) { board_.fault(what); }

  void deliver(unsigned deviceInterrupt, uint32_t returnAddress);
  void exceptionReturn();
  void block(uint32_t address, uint32_t size);
  void delay(uint32_t address);
  void sleep(uint32_t address);
  bool usesFpu(uint32_t address, uint32_t size);
  [[nodiscard]] uint16_t code(uint32_t address) const;
  int takeable();

  static void onBlock(uc_engine*, uint64_t address, uint32_t size, void* self) {
    static_cast<Emulator*>(self)->block(static_cast<uint32_t>(address), size);
  }
  static void onDelay(uc_engine*, uint64_t address, uint32_t, void* self) {
    static_cast<Emulator*>(self)->delay(static_cast<uint32_t>(address));
  }
  static void onWfi(uc_engine*, uint64_t address, uint32_t, void* self) {
    static_cast<Emulator*>(self)->sleep(static_cast<uint32_t>(address));
  }
  static void onInterrupt(uc_engine*, uint32_t number, void* self) {
    auto* emulator = static_cast<Emulator*>(self);
    if (number == kExceptionExit) {
      emulator->exceptionReturn();
      return;
    }
    emulator->fault("processor exception " + std::to_string(number) +
                    " (undefined instruction, SVC, breakpoint or fault): the chip would take a fault here");
  }
  static bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
    auto* emulator = static_cast<Emulator*>(self);
    const bool stack = address < kSramBase && address >= kSramBase - 256;
    emulator->fault(std::string(type == UC_MEM_FETCH_UNMAPPED ? "execution" : type == UC_MEM_WRITE_UNMAPPED ? "write" : "read") +
                    " at unmapped address " + hex(address) + (stack ? ": the stack grew below its start" : ""));
  }
  static bool onProtected(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
    static_cast<Emulator*>(self)->fault(std::string(type == UC_MEM_WRITE_PROT ? "write to flash" : "execution from SRAM") +
                                        " at " + hex(address));
  }
  // A register access happens at its time: the code's cycles before it are
  // counted first.
  static uint64_t onRead(uc_engine*, uint64_t offset, unsigned size, void* base) {
    active->flushCycles();
    const uint32_t value = board().read(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) + offset), size);
    active->nextEventCycles_ = board().cyclesToNextEvent();
    return value;
  }
  static void onWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* base) {
    active->flushCycles();
    board().write(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) + offset), static_cast<uint32_t>(value),
                  size);
    active->nextEventCycles_ = board().cyclesToNextEvent();
  }

  // The code's cycles go to the board in one piece whenever time matters:
  // at an event, a register access, a wait, an exception.
  void flushCycles() {
    if (cycles_ != 0) {
      board_.advanceCycles(cycles_);
      cycles_ = 0;
    }
    nextEventCycles_ = board_.cyclesToNextEvent();
  }

 public:
  static inline Emulator* active = nullptr;

 private:
  uint64_t cycles_ = 0;
  uint64_t nextEventCycles_ = 0;

  Board& board_;
  Image image_;
  std::optional<Image> rom_;
  uc_engine* uc_ = nullptr;
  uint64_t halfwords_ = 0;
  bool fpuChecked_ = false;
  std::unordered_map<uint32_t, bool> fpuBlocks_;
};

void Emulator::run() {
  // The library found at run time, not only the headers built against.
  unsigned major = 0, minor = 0;
  uc_version(&major, &minor);
  if (major < 2 || (major == 2 && minor < 1)) {
    board_.fault("emulated board: Unicorn " + std::to_string(major) + "." + std::to_string(minor) +
                 " was loaded; it needs 2.1 (scripts/deps.sh puts it in build/deps/unicorn)");
  }
  if (uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) != UC_ERR_OK ||
      uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4) != UC_ERR_OK) {
    board_.fault("emulated board: Unicorn has no Cortex-M4");
  }
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

  uc_hook hook;
  uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(onBlock), this, 1, 0);
  uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), this, 1, 0);
  uc_hook_add(uc_, &hook, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(onUnmapped), this, 1, 0);
  uc_hook_add(uc_, &hook, UC_HOOK_MEM_PROT, reinterpret_cast<void*>(onProtected), this, 1, 0);
  // The delay loop is skipped in virtual time: three cycles a pass.
  if (const uint32_t delay = image_.function("SysCtlDelay("); delay != 0) {
    uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onDelay), this, delay, delay);
  }
  // Every WFI in the code waits for the next event.
  for (size_t range = 0; range < image_.codeStarts.size(); ++range) {
    for (uint32_t address = image_.codeStarts[range]; address + 2 <= image_.codeEnds[range]; address += 2) {
      uint16_t halfword = 0;
      std::memcpy(&halfword, image_.flash.data() + address, 2);
      if (halfword == kWfi) {
        uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onWfi), this, address, address);
      }
    }
  }

  // The stack, from the start of the SRAM up to its top at entry 0, is
  // painted; the deepest it went is the lowest word no longer painted.
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
  });
  // Reset: the stack pointer from entry 0, the reset handler from entry 1.
  setReg(UC_ARM_REG_SP, stackTop);
  // The begin address keeps its Thumb bit: without it Unicorn decodes
  // the first instruction as ARM and stops.
  const uint32_t reset = word(4);
  const uc_err error = uc_emu_start(uc_, reset | 1U, 0xFFFFFFFF, 0, 0);
  fault(std::string("the emulator stopped: ") + uc_strerror(error));
}

// The halfword of code at an address, from our copy of the flash or ROM.
uint16_t Emulator::code(uint32_t address) const {
  const Image* memory = address < kFlashSize ? &image_ : rom_ && address >= kRomBase ? &*rom_ : nullptr;
  uint16_t halfword = 0;
  if (memory != nullptr && address - memory->base + 2 <= memory->flash.size()) {
    std::memcpy(&halfword, memory->flash.data() + (address - memory->base), 2);
  }
  return halfword;
}

// The interrupt to take now: PRIMASK is read only when one is pending.
int Emulator::takeable() {
  if (board_.takeableInterrupt(false) < 0) {
    return -1;
  }
  return board_.takeableInterrupt((reg(UC_ARM_REG_PRIMASK) & 1U) != 0);
}

void Emulator::block(uint32_t address, uint32_t size) {
  // A branch to itself: only an interrupt can leave it.
  if (size == 2 && code(address) == kBranchToSelf) {
    const int interrupt = takeable();
    if (interrupt >= 0) {
      deliver(static_cast<unsigned>(interrupt), address);
    } else {
      flushCycles();
      board_.idleToNextEvent();
      nextEventCycles_ = board_.cyclesToNextEvent();
    }
    return;
  }
  if (!fpuChecked_) {
    if ((board_.coprocessorAccess() & (0xFU << 20)) == (0xFU << 20)) {
      fpuChecked_ = true;
    } else if (usesFpu(address, size)) {
      fault("a floating-point instruction at " + hex(address) + " before CPACR gave access to the FPU");
    }
  }
  const int interrupt = takeable();
  if (interrupt >= 0) {
    deliver(static_cast<unsigned>(interrupt), address);
    return;
  }
  // One cycle a halfword of code, as a first model of the core's timing.
  halfwords_ += size / 2;
  cycles_ += size / 2;
  if (cycles_ >= nextEventCycles_) {
    flushCycles();
  }
}

// A coprocessor 10/11 instruction (VFP) among the block's 32-bit
// instructions; decided once per block.
bool Emulator::usesFpu(uint32_t address, uint32_t size) {
  const auto known = fpuBlocks_.find(address);
  if (known != fpuBlocks_.end()) {
    return known->second;
  }
  bool found = false;
  for (uint32_t at = address; at + 2 <= address + size;) {
    uint16_t first = 0;
    uc_mem_read(uc_, at, &first, 2);
    if ((first & 0xE000) == 0xE000 && (first & 0x1800) != 0) {
      uint16_t second = 0;
      uc_mem_read(uc_, at + 2, &second, 2);
      const unsigned coprocessor = (second >> 8) & 0xF;
      found = found || ((first & 0xEC00) == 0xEC00 && (coprocessor == 10 || coprocessor == 11));
      at += 4;
    } else {
      at += 2;
    }
  }
  fpuBlocks_[address] = found;
  return found;
}

// The registers an exception frame holds, each with its word of the frame:
// r0-r3, r12, lr (then the return address and xPSR), and with the FP state
// s0-s15 and FPSCR. The count of them.
unsigned framedRegisters(bool floating, std::array<int, kFrameWords>& registers, std::array<void*, kFrameWords>& values,
                         std::array<uint32_t, kFrameWords>& frame) {
  constexpr int kCore[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_R12, UC_ARM_REG_LR};
  unsigned count = 0;
  for (unsigned index = 0; index < 6; ++index, ++count) {
    registers[count] = kCore[index];
    values[count] = &frame[index];
  }
  if (floating) {
    for (unsigned index = 0; index < 16; ++index, ++count) {
      registers[count] = UC_ARM_REG_S0 + static_cast<int>(index);
      values[count] = &frame[8 + index];
    }
    registers[count] = UC_ARM_REG_FPSCR;
    values[count++] = &frame[24];
  }
  return count;
}

void Emulator::deliver(unsigned deviceInterrupt, uint32_t returnAddress) {
  flushCycles();
  const unsigned vector = deviceInterrupt + 16;
  const uint32_t handler = word(board_.vtor() + 4 * vector);
  if (handler == 0) {
    fault("interrupt " + std::to_string(vector) + " taken with no handler in its vector table entry");
  }
  // The frame's registers in one batch and the frame in one write: each
  // call into the emulator costs more than the work it does.
  std::array<uint32_t, kFrameWords> frame{};
  std::array<int, kFrameWords> registers{};
  std::array<void*, kFrameWords> values{};
  const int control = 0, xpsrAt = 1, spAt = 2;
  uint32_t state[3] = {};
  const int stateRegisters[3] = {UC_ARM_REG_CONTROL, UC_ARM_REG_XPSR, UC_ARM_REG_SP};
  void* stateValues[3] = {&state[0], &state[1], &state[2]};
  uc_reg_read_batch(uc_, const_cast<int*>(stateRegisters), stateValues, 3);
  const bool floating = (state[control] & kFpca) != 0;
  const uint32_t xpsr = state[xpsrAt];
  const uint32_t sp = state[spAt];
  const bool realign = (sp & 4U) != 0;
  const unsigned words = floating ? kFrameWords : kBasicFrameWords;
  const uint32_t base = sp - (realign ? 4 : 0) - words * 4;
  const unsigned saved = framedRegisters(floating, registers, values, frame);
  uc_reg_read_batch(uc_, registers.data(), values.data(), static_cast<int>(saved));
  frame[6] = returnAddress & ~1U;
  frame[7] = (xpsr & ~(1U << 9)) | (realign ? 1U << 9 : 0U) | (1U << 24);
  if (uc_mem_write(uc_, base, frame.data(), words * 4) != UC_ERR_OK) {
    fault("stack frame at " + hex(base) + " lies outside the SRAM: the stack overflowed");
  }
  setReg(UC_ARM_REG_SP, base);
  const bool fromThread = (xpsr & 0x1FFU) == 0;
  setReg(UC_ARM_REG_LR, 0xFFFFFFE1U | (floating ? 0U : 0x10U) | (fromThread ? 0x8U : 0U));
  setReg(UC_ARM_REG_CONTROL, state[control] & ~kFpca);
  setReg(UC_ARM_REG_XPSR, (xpsr & 0xF8000000U) | (1U << 24) | vector);
  setReg(UC_ARM_REG_APSR_NZCV, reg(UC_ARM_REG_APSR_NZCV));
  setReg(UC_ARM_REG_PC, handler | 1U);
  board_.exceptionEntered(deviceInterrupt);
  nextEventCycles_ = board_.cyclesToNextEvent();
}

void Emulator::exceptionReturn() {
  flushCycles();
  const uint32_t excReturn = reg(UC_ARM_REG_PC) | 1U;
  const bool floating = (excReturn & 0x10U) == 0;
  const uint32_t sp = reg(UC_ARM_REG_SP);
  const unsigned words = floating ? kFrameWords : kBasicFrameWords;
  std::array<uint32_t, kFrameWords> frame{};
  std::array<int, kFrameWords> registers{};
  std::array<void*, kFrameWords> values{};
  if (uc_mem_read(uc_, sp, frame.data(), words * 4) != UC_ERR_OK) {
    fault("read of " + hex(sp) + " failed");
  }
  const unsigned restored = framedRegisters(floating, registers, values, frame);
  uc_reg_write_batch(uc_, registers.data(), values.data(), static_cast<int>(restored));
  const uint32_t returnAddress = frame[6];
  const uint32_t xpsr = frame[7];
  const uint32_t frameBytes = words * 4;
  setReg(UC_ARM_REG_SP, sp + frameBytes + ((xpsr & (1U << 9)) != 0 ? 4 : 0));
  const uint32_t control = reg(UC_ARM_REG_CONTROL);
  setReg(UC_ARM_REG_CONTROL, floating ? control | kFpca : control & ~kFpca);
  setReg(UC_ARM_REG_XPSR, xpsr & ~(1U << 9));
  setReg(UC_ARM_REG_APSR_NZCV, xpsr & 0xF0000000U);
  setReg(UC_ARM_REG_PC, returnAddress | 1U);
  board_.exceptionReturned();
  nextEventCycles_ = board_.cyclesToNextEvent();
}

void Emulator::delay(uint32_t address) {
  flushCycles();
  const uint32_t passes = reg(UC_ARM_REG_R0);
  const uint64_t cycles = 3 * (passes != 0 ? uint64_t{passes} : (uint64_t{1} << 32));
  const bool primask = (reg(UC_ARM_REG_PRIMASK) & 1U) != 0;
  const uint64_t spent = board_.advanceUnlessInterrupted(cycles, primask);
  nextEventCycles_ = board_.cyclesToNextEvent();
  if (spent >= cycles) {
    setReg(UC_ARM_REG_R0, 0);
    setReg(UC_ARM_REG_PC, reg(UC_ARM_REG_LR) | 1U);
    return;
  }
  // An interrupt came: the rest of the wait runs after its handler.
  const uint64_t left = (cycles - spent + 2) / 3;
  setReg(UC_ARM_REG_R0, static_cast<uint32_t>(left > 0 ? left : 1));
  deliver(static_cast<unsigned>(board_.takeableInterrupt(primask)), address);
}

void Emulator::sleep(uint32_t address) {
  flushCycles();
  board_.sleepUntilInterrupt();
  nextEventCycles_ = board_.cyclesToNextEvent();
  const int interrupt = takeable();
  if (interrupt >= 0) {
    deliver(static_cast<unsigned>(interrupt), address + 2);
  } else {
    setReg(UC_ARM_REG_PC, (address + 2) | 1U);
  }
}

}  // namespace

void emulateImage(Board& board, const std::string& elfPath, const std::string& romPath) {
  static Emulator* emulator = nullptr;  // lives until the run's process ends
  std::optional<Image> rom;
  if (!romPath.empty() && access(romPath.c_str(), R_OK) == 0) {
    rom = loadImage(board, romPath, kRomBase, kRomSize);
  }
  emulator = new Emulator(board, loadImage(board, elfPath, 0, kFlashSize), std::move(rom));
  Emulator::active = emulator;
  emulator->run();
}

}  // namespace sim
