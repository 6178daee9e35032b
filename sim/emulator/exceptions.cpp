// The ARMv7-M exception model of the emulated board's processor: entry with
// its frame on the stack in use, EXC_RETURN and its checks, SVC, faults with
// their escalation, and reset.
#include <array>

#include "platform/registers.h"
#include "sim/board.h"
#include "sim/emulator/processor.h"

namespace sim {

namespace {

constexpr uint32_t kFpca = 1U << 2;
constexpr uint32_t kSpsel = 1U << 1;
constexpr uint32_t kThumb = 1U << 24;
constexpr uint32_t kRealigned = 1U << 9;
constexpr uint32_t kLazyActive = 1U << 0;  // FPCCR.LSPACT
constexpr unsigned kBasicFrameWords = 8;
constexpr unsigned kFrameWords = 26;  // with s0-s15, FPSCR and the reserved word

const char* nameOf(unsigned vector) {
  switch (vector) {
    case kHardFault: return "HardFault";
    case kMemManage: return "MemManage";
    case kBusFault: return "BusFault";
    case kUsageFault: return "UsageFault";
    case kSvCall: return "SVCall";
    case kDebugMonitor: return "DebugMonitor";
    default: return "exception";
  }
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

}  // namespace

Masks Processor::masks() {
  uint32_t values[3] = {};
  const int registers[3] = {UC_ARM_REG_PRIMASK, UC_ARM_REG_FAULTMASK, UC_ARM_REG_BASEPRI};
  void* pointers[3] = {&values[0], &values[1], &values[2]};
  uc_reg_read_batch(uc_, const_cast<int*>(registers), pointers, 3);
  return Masks{(values[0] & 1U) != 0, (values[1] & 1U) != 0, static_cast<uint8_t>(values[2])};
}

bool Processor::privileged() { return board_.interrupts().current() != 0 || (reg(UC_ARM_REG_CONTROL) & 1U) == 0; }

void Processor::deliverPending(uint32_t returnAddress) {
  flushCycles();
  const int vector = board_.preempting(masks());
  if (vector >= 0) {
    enter(static_cast<unsigned>(vector), returnAddress);
  }
}

void Processor::enter(unsigned vector, uint32_t returnAddress) {
  const uint32_t handler = word(board_.vtor() + 4 * vector);
  if (handler == 0 && !board_.runsFaultHandlers()) {
    fault(std::string(vector >= kFirstDeviceVector ? "interrupt " : "exception ") + std::to_string(vector) +
          " taken with no handler in its vector table entry");
  }
  // The frame's registers in one batch and the frame in one write: each
  // call into the emulator costs more than the work it does.
  uint32_t state[3] = {};
  const int stateRegisters[3] = {UC_ARM_REG_CONTROL, UC_ARM_REG_XPSR, UC_ARM_REG_SP};
  void* stateValues[3] = {&state[0], &state[1], &state[2]};
  uc_reg_read_batch(uc_, const_cast<int*>(stateRegisters), stateValues, 3);
  const uint32_t control = state[0] & 7U;
  const uint32_t xpsr = state[1];
  const uint32_t sp = state[2];  // the stack in use: PSP in thread mode with SPSEL
  const bool fromThread = (xpsr & 0x1FFU) == 0;
  const bool processStack = fromThread && (control & kSpsel) != 0;
  const bool floating = (control & kFpca) != 0;
  SystemControlSpace& scs = board_.systemControlSpace();
  const bool lazy = floating && (scs.fpContextControl() & reg::core::kFpLazyStateSave) != 0;
  const bool realign = (sp & 4U) != 0;
  const unsigned words = floating ? kFrameWords : kBasicFrameWords;
  const uint32_t base = sp - (realign ? 4 : 0) - words * 4;

  std::array<uint32_t, kFrameWords> frame{};
  std::array<int, kFrameWords> registers{};
  std::array<void*, kFrameWords> values{};
  // Lazy stacking reserves the FP words and leaves them to the first FP
  // instruction of the handler.
  const unsigned saved = framedRegisters(floating && !lazy, registers, values, frame);
  uc_reg_read_batch(uc_, registers.data(), values.data(), static_cast<int>(saved));
  frame[6] = returnAddress & ~1U;
  frame[7] = (xpsr & ~kRealigned) | (realign ? kRealigned : 0U);
  const unsigned written = lazy ? kBasicFrameWords : words;
  if (uc_mem_write(uc_, base, frame.data(), written * 4) != UC_ERR_OK ||
      (lazy && uc_mem_write(uc_, base + words * 4 - 4, &frame[25], 4) != UC_ERR_OK)) {
    fault("stack frame at " + hex(base) + " lies outside the SRAM: the stack overflowed");
  }
  if (lazy) {
    scs.setFpContextControl(scs.fpContextControl() | kLazyActive);
    scs.setFpContextAddress(base + 0x20);
  }
  setReg(UC_ARM_REG_SP, base);
  // Handler mode runs on the main stack: leave the process stack while
  // still in thread mode, where Unicorn swaps the two.
  setReg(UC_ARM_REG_CONTROL, control & ~(kFpca | kSpsel));
  setReg(UC_ARM_REG_LR, 0xFFFFFFE1U | (floating ? 0U : 0x10U) | (fromThread ? 0x8U : 0U) | (processStack ? 0x4U : 0U));
  setReg(UC_ARM_REG_XPSR, (xpsr & 0xF8000000U) | kThumb | vector);
  setReg(UC_ARM_REG_APSR_NZCV, reg(UC_ARM_REG_APSR_NZCV));
  // The T bit comes from the vector: an even entry faults at its first
  // instruction (INVSTATE).
  setReg(UC_ARM_REG_PC, handler);
  resume_ = handler;
  monitorOpen_ = false;
  previousBranched_ = false;
  board_.exceptionEntered(vector);
  nextEventCycles_ = board_.cyclesToNextEvent();
}

void Processor::exceptionReturn() {
  flushCycles();
  const uint32_t excReturn = reg(UC_ARM_REG_PC) | 1U;
  InterruptController& nvic = board_.interrupts();
  const unsigned returning = nvic.current();
  const unsigned mode = excReturn & 0xFU;
  const bool toThread = mode == 0x9 || mode == 0xD;
  // The checks of the architecture's ExceptionReturn(): a valid EXC_RETURN,
  // to thread mode only from the last active exception, to handler mode
  // only from a nested one.
  const bool valid = (excReturn & 0xFFFFFFE0U) == 0xFFFFFFE0U && (mode == 0x1 || toThread) && returning != 0 &&
                     nvic.active(returning) && (toThread ? nvic.activeCount() == 1 : nvic.activeCount() > 1);
  if (!valid) {
    takeFault(kUsageFault, fault_status::kInvalidPc, excReturn,
              "exception return with EXC_RETURN " + hex(excReturn) + " from exception " + std::to_string(returning) +
                  " with " + std::to_string(nvic.activeCount()) + " active (INVPC)");
    return;
  }
  const bool floating = (excReturn & 0x10U) == 0;
  const bool processStack = mode == 0xD;
  const uint32_t sp = reg(processStack ? UC_ARM_REG_PSP : UC_ARM_REG_MSP);
  const unsigned words = floating ? kFrameWords : kBasicFrameWords;
  std::array<uint32_t, kFrameWords> frame{};
  std::array<int, kFrameWords> registers{};
  std::array<void*, kFrameWords> values{};
  if (uc_mem_read(uc_, sp, frame.data(), words * 4) != UC_ERR_OK) {
    fault("exception return: its frame at " + hex(sp) + " lies outside the SRAM");
  }
  SystemControlSpace& scs = board_.systemControlSpace();
  // Lazy state still pending: the FP registers never left.
  const bool lazyPending = floating && (scs.fpContextControl() & kLazyActive) != 0;
  if (lazyPending) {
    scs.setFpContextControl(scs.fpContextControl() & ~kLazyActive);
  }
  const unsigned restored = framedRegisters(floating && !lazyPending, registers, values, frame);
  uc_reg_write_batch(uc_, registers.data(), values.data(), static_cast<int>(restored));
  const uint32_t returnAddress = frame[6];
  const uint32_t xpsr = frame[7];
  const uint32_t after = sp + words * 4 + ((xpsr & kRealigned) != 0 ? 4 : 0);
  board_.exceptionReturned(returning);
  if (returning != kNmi) {
    setReg(UC_ARM_REG_FAULTMASK, 0);
  }
  setReg(processStack ? UC_ARM_REG_PSP : UC_ARM_REG_MSP, after);
  // Into the mode first, then the stack: Unicorn swaps SP only in thread
  // mode.
  setReg(UC_ARM_REG_XPSR, xpsr & ~kRealigned);
  const uint32_t control = reg(UC_ARM_REG_CONTROL) & 7U;
  setReg(UC_ARM_REG_CONTROL, (floating ? control | kFpca : control & ~kFpca) | (processStack ? kSpsel : 0U));
  setReg(UC_ARM_REG_APSR_NZCV, xpsr & 0xF0000000U);
  const uint32_t target = (returnAddress & ~1U) | ((xpsr & kThumb) != 0 ? 1U : 0U);
  setReg(UC_ARM_REG_PC, target);
  resume_ = target;
  monitorOpen_ = false;
  previousBranched_ = false;
  nextEventCycles_ = board_.cyclesToNextEvent();
}

void Processor::supervisorCall() {
  flushCycles();
  const uint32_t next = reg(UC_ARM_REG_PC);
  if (board_.interrupts().faultTarget(kSvCall, masks()) != kSvCall) {
    takeFault(kSvCall, 0, next, "SVC at " + hex(next - 2) + " where its priority could not preempt");
    return;
  }
  enter(kSvCall, next);
}

void Processor::takeFault(unsigned vector, uint32_t status, uint32_t returnAddress, const std::string& what) {
  if (!board_.runsFaultHandlers()) {
    fault(what);
  }
  InterruptController& nvic = board_.interrupts();
  const unsigned target = vector == kSvCall ? nvic.faultTarget(kHardFault, masks()) : nvic.faultTarget(vector, masks());
  if (target == 0) {
    fault("lockup: " + what + ", where not even HardFault could be taken");
  }
  SystemControlSpace& scs = board_.systemControlSpace();
  scs.addFaultStatus(status);
  if (target == kHardFault && vector != kHardFault) {
    scs.addHardFaultStatus(vector == kDebugMonitor ? 1U << 31 : fault_status::kForced);
  }
  board_.note(std::string(nameOf(target)) + (target != vector ? std::string(" (escalated from ") + nameOf(vector) + ")" : "") +
              ": " + what);
  enter(target, returnAddress);
}

void Processor::resetCore() {
  monitorOpen_ = false;
  previousBranched_ = false;
  stepping_ = stepsPlanned_ = 0;
  pending_.reset();
  const uint32_t stack = word(0);
  const uint32_t reset = word(4);
  setReg(UC_ARM_REG_XPSR, (reset & 1U) != 0 ? kThumb : 0U);
  setReg(UC_ARM_REG_CONTROL, 0);
  setReg(UC_ARM_REG_PRIMASK, 0);
  setReg(UC_ARM_REG_FAULTMASK, 0);
  setReg(UC_ARM_REG_BASEPRI, 0);
  setReg(UC_ARM_REG_MSP, stack);
  setReg(UC_ARM_REG_PSP, 0);
  setReg(UC_ARM_REG_LR, 0xFFFFFFFF);
  setReg(UC_ARM_REG_FPSCR, 0);
  resume_ = reset;
}

// Unicorn returned: a reset, a fault found ahead, or an error of the
// instruction it stopped at.
void Processor::afterStop(uc_err error) {
  if (stepsPlanned_ != 0) {
    return;  // stopped to run up to a fault found ahead
  }
  const uint32_t pc = reg(UC_ARM_REG_PC);
  const bool thumb = (reg(UC_ARM_REG_XPSR) & kThumb) != 0;
  if (retrace_) {
    resume_ = pc | (thumb ? 1U : 0U);  // at a block's start, nothing of it counted yet
    return;
  }
  if (resetRequested_) {
    resetRequested_ = false;
    flushCycles();
    board_.resetChip();
    resetCore();
    return;
  }
  if (stepping_ != 0) {
    stepping_ = 0;
    const PendingFault pendingFault = *pending_;
    pending_.reset();
    if (error == UC_ERR_OK && pc == pendingFault.at) {
      flushCycles();
      const uint32_t access = (board_.systemControlSpace().coprocessorAccess() >> 20) & 3U;
      const bool nowAllowed = pendingFault.status == fault_status::kNoCoprocessor && (access == 3 || (access == 1 && privileged()));
      if (nowAllowed) {
        resume_ = pc | 1U;
        return;
      }
      takeFault(pendingFault.vector, pendingFault.status, pendingFault.at, pendingFault.what);
      return;
    }
  }
  flushCycles();
  if (busError_) {
    busError_ = false;
    // A peripheral's error comes back with the write buffered or the block
    // gone on: imprecise.
    takeFault(kBusFault, fault_status::kImpreciseBusError, pc | (thumb ? 1U : 0U), stopReason_);
    return;
  }
  switch (error) {
    case UC_ERR_OK:
      resume_ = pc | (thumb ? 1U : 0U);
      return;
    case UC_ERR_INSN_INVALID:
      if (!thumb) {
        takeFault(kUsageFault, fault_status::kInvalidState, pc,
                  "execution at " + hex(pc) + " with the T bit clear (an even vector or branch target: INVSTATE)");
      } else {
        takeFault(kUsageFault, fault_status::kUndefinedInstruction, pc, "an undefined instruction at " + hex(pc));
      }
      return;
    case UC_ERR_FETCH_UNMAPPED: {
      // The default memory map's execute-never regions: the peripherals and
      // the system space; elsewhere nothing answers the fetch.
      const bool executeNever = (pc >= 0x40000000U && pc < 0x60000000U) || pc >= 0xE0000000U;
      takeFault(executeNever ? kMemManage : kBusFault,
                executeNever ? fault_status::kInstructionAccessViolation : fault_status::kInstructionBusError, pc,
                stopReason_);
      return;
    }
    case UC_ERR_FETCH_PROT:
      // The chip runs code from SRAM; here it is mapped without execute
      // permission, for speed.
      fault(stopReason_ + ": the emulated board does not run code from SRAM");
    case UC_ERR_READ_UNMAPPED:
    case UC_ERR_WRITE_UNMAPPED:
    case UC_ERR_WRITE_PROT: {
      // Unicorn gives the block's start, not the instruction's: that is the
      // one whose access, with the registers as the fault left them, reaches
      // the address.
      const uint32_t at = faultingInstruction(pc, board_.systemControlSpace().busFaultAddress());
      setReg(UC_ARM_REG_PC, at | 1U);
      takeFault(kBusFault, fault_status::kPreciseBusError | fault_status::kBusFaultAddressValid, at | 1U, stopReason_);
      return;
    }
    default:
      fault(std::string("the emulator stopped: ") + uc_strerror(error));
  }
}

// The instruction of a block that made a data access to address: the first
// whose access covers it; the block's start if none does.
uint32_t Processor::faultingInstruction(uint32_t blockStart, uint32_t address) {
  std::array<uint32_t, 16> registers{};
  std::array<int, 16> ids{};
  std::array<void*, 16> values{};
  for (unsigned index = 0; index < 16; ++index) {
    ids[index] = UC_ARM_REG_R0 + static_cast<int>(index);
    values[index] = &registers[index];
  }
  uc_reg_read_batch(uc_, ids.data(), values.data(), 16);
  uint32_t at = blockStart;
  for (unsigned count = 0; count < 64; ++count) {
    const uint16_t first = code(at), second = code(at + 2);
    registers[15] = at;
    const auto access = thumb::accessOf(first, second, registers);
    if (access && address - access->start < access->length) {
      return at;
    }
    const thumb::Instruction in = thumb::decode(first, second);
    if (in.kind == thumb::Kind::Branch || in.loadsPc) {
      break;
    }
    at += in.length;
  }
  return blockStart;
}

}  // namespace sim
