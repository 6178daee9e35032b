// The emulated board's processor: Unicorn executes the instructions; the
// exception model of ARMv7-M (entry, return, priorities and masks, faults
// and their escalation, SVC, PendSV, SysTick, reset), the access checks
// Unicorn leaves out (CPACR, the alignment of LDRD/LDM/STM and exclusive
// accesses) and the cycle count are this class's. A debugger may halt it
// at any instruction through the GDB server.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulator/image.h"
#include "sim/emulator/thumb.h"
#include "sim/gdb/gdb_server.h"
#include "sim/interrupt_controller.h"

namespace sim {

class Board;

class Processor final : public gdb::Target {
 public:
  Processor(Board& board, Image image, std::optional<Image> rom, std::string elfPath);
  [[noreturn]] void run();

  static inline Processor* active = nullptr;

 private:
  // The debugger's view (debug_port.cpp).
  std::optional<std::string> readRegister(unsigned number) override;
  bool writeRegister(unsigned number, std::string_view bytes) override;
  std::optional<std::string> readMemory(uint32_t address, uint32_t length) override;
  bool writeMemory(uint32_t address, std::string_view bytes) override;
  bool eraseFlash(uint32_t address, uint32_t length) override;
  bool writeFlash(uint32_t address, std::string_view bytes) override;
  void flashDone() override {}
  bool breakpoint(bool insert, uint32_t address, bool hardware) override;
  bool watchpoint(bool insert, gdb::Watch type, uint32_t address, uint32_t length) override;
  void detached() override;
  std::string memoryMap() override;
  std::optional<std::string> monitor(const std::string& command) override;

  void startDebugServer();
  // Whether a debugger came or went: its hooks change at a block's start.
  bool debuggerChanged(uint32_t blockStart);
  void instruction(uint32_t address);
  void watched(bool write, uint32_t address, unsigned size);
  void halt(const gdb::Stop& stop, uint32_t address);
  // Registers of the board's devices as the code would read them now, read
  // in a copy of this process that is thrown away: no read has an effect.
  std::optional<std::string> peekDevices(uint32_t address, uint32_t length);
  bool writeDevices(uint32_t address, std::string_view bytes);
  std::string resetForDebugger();
  void reloadCode();
  static void onInstruction(uc_engine*, uint64_t address, uint32_t, void* self);
  static void onRamAccess(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self);

  // What the processor knows of a block of code, worked out once.
  struct BlockInfo {
    uint16_t cycles = 0;     // executing it with no wait states
    uint16_t size = 0;       // bytes, as Unicorn translated it
    uint8_t flashLoads = 0;  // literal loads, which wait at a fast clock
    bool known = false;
    bool endsInBranch = false;
    bool usesFpu = false;
    uint32_t firstFp = 0;  // address of its first FP instruction
    // Its accesses that must be aligned and whose base holds at the block's
    // start: a range of blockChecks_, which index checkedAccesses_.
    uint32_t alignedBegin = 0;
    uint32_t alignedEnd = 0;
  };
  struct AlignedAccess {
    uint32_t address;
    thumb::Instruction instruction;
    uint8_t condition = 0xE;  // in an IT block, the condition it runs under
  };
  [[nodiscard]] bool misaligned(const AlignedAccess& access, uint32_t& base);
  // A fault found before the instruction that takes it has run.
  struct PendingFault {
    uint32_t at = 0;
    unsigned vector = 0;
    uint32_t status = 0;
    std::string what;
  };

  uint32_t reg(int id);
  void setReg(int id, uint32_t value);
  uint32_t word(uint32_t address);
  [[nodiscard]] uint16_t code(uint32_t address) const;
  [[nodiscard]] thumb::Instruction instructionAt(uint32_t address) const;
  std::string where();
  void setUp();
  void addHooks();
  void paintStack();
  [[noreturn]] void fault(const std::string& what);

  // Execution.
  void block(uint32_t address, uint32_t size);
  const BlockInfo& blockInfo(uint32_t address, uint32_t size);
  BlockInfo analyse(uint32_t address, uint32_t size) const;
  void findChecks(uint32_t address, uint32_t size, BlockInfo& info);
  void scanCode(const Image& image);
  bool checkFpu(uint32_t address, const BlockInfo& info);
  void saveLazyState();
  bool checkAlignment(uint32_t address, const BlockInfo& info);
  void faultBefore(uint32_t blockStart, PendingFault pending);
  void delay(uint32_t address);
  void sleep(uint32_t address);
  void exclusive(uint32_t address);
  uint64_t loopState();
  void flushCycles();
  uint64_t waitStates(uint32_t from, uint32_t to) const;

  // Exceptions.
  Masks masks();
  [[nodiscard]] bool privileged();
  void deliverPending(uint32_t returnAddress);
  void enter(unsigned vector, uint32_t returnAddress);
  void exceptionReturn();
  void supervisorCall();
  // A synchronous fault: status bits for CFSR, the PC it is taken at.
  void takeFault(unsigned vector, uint32_t status, uint32_t returnAddress, const std::string& what);
  void resetCore();
  uint32_t faultingInstruction(uint32_t blockStart, uint32_t address);
  void afterStop(uc_err error);

  static void onBlock(uc_engine*, uint64_t address, uint32_t size, void* self);
  static void onDelay(uc_engine*, uint64_t address, uint32_t, void* self);
  static void onWfi(uc_engine*, uint64_t address, uint32_t, void* self);
  static void onExclusive(uc_engine*, uint64_t address, uint32_t, void* self);
  static void onAligned(uc_engine*, uint64_t address, uint32_t, void* self);
  static void onInterrupt(uc_engine*, uint32_t number, void* self);
  static bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self);
  static bool onProtected(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self);
  static uint64_t onRead(uc_engine*, uint64_t offset, unsigned size, void* base);
  static void onWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* base);

  Board& board_;
  Image image_;
  std::optional<Image> rom_;
  uc_engine* uc_ = nullptr;

  uint64_t cycles_ = 0;
  uint64_t nextEventCycles_ = 0;
  uint64_t halfwords_ = 0;
  uint32_t previousEnd_ = 0;  // where the block before ended
  bool previousBranched_ = false;

  std::vector<AlignedAccess> checkedAccesses_;  // by address
  std::vector<AlignedAccess> hookedAccesses_;   // their base may change within a block
  std::vector<uint32_t> blockChecks_;           // the checked accesses of each block
  std::vector<BlockInfo> flashBlocks_;          // by halfword address in flash
  std::vector<BlockInfo> romBlocks_;
  BlockInfo scratch_;

  // Unicorn's exclusive monitor survives exceptions; the architecture's
  // local monitor is cleared by entry and return.
  bool monitorOpen_ = false;
  std::optional<PendingFault> pending_;
  uint64_t stepsPlanned_ = 0;  // instructions to run up to a pending fault
  uint64_t stepping_ = 0;      // the same, while they run
  bool resetRequested_ = false;
  bool busError_ = false;
  // ASPEN clear: FPCA is software's alone, though Unicorn sets it on every
  // FP instruction.
  bool restoreFpca_ = false;
  uint32_t fpcaBefore_ = 0;
  uint32_t resume_ = 0;  // where Unicorn starts again
  std::string stopReason_;

  // Debugging.
  std::string elfPath_;
  std::unique_ptr<gdb::GdbServer> debug_;
  struct Breakpoint {
    uint32_t address;
    bool hardware;
  };
  struct Watchpoint {
    gdb::Watch type;
    uint32_t address;
    uint32_t length;
  };
  std::vector<Breakpoint> breakpoints_;
  std::vector<Watchpoint> watchpoints_;
  std::optional<gdb::Stop> pendingStop_;  // to report at the next instruction
  bool haltNext_ = false;                 // a single step
  std::optional<std::pair<uint32_t, uint32_t>> range_;
  // Unicorn restarted where the debugger left the core halted: its first
  // instruction there is not a new one.
  std::optional<uint32_t> ignoreAt_;
  bool restart_ = false;
  // Every instruction and SRAM access is hooked only while a debugger is
  // connected: the hooks cost several times the run.
  bool traced_ = false;
  bool retrace_ = false;
  std::vector<uc_hook> hooks_;
  uint32_t sincePoll_ = 0;
  bool flashWritten_ = false;
  bool reloadRequested_ = false;
  bool faulted_ = false;
  bool serving_ = false;  // the debugger is being served
};

}  // namespace sim
