// What the emulated board's processor does at each block of code: its
// cycles by instruction class with the flash's wait states, and the checks
// Unicorn leaves out, CPACR and the alignment of LDRD/STRD, LDM/STM and
// exclusive accesses, with the local monitor.
#include <algorithm>
#include <array>
#include <optional>

#include "platform/registers.h"
#include "sim/board.h"
#include "sim/emulator/processor.h"

namespace sim {

namespace {

constexpr uint16_t kBranchToSelf = 0xE7FE;
constexpr uint32_t kFpca = 1U << 2;
constexpr uint32_t kLazyActive = 1U << 0;  // FPCCR.LSPACT
// Above this clock the flash runs at half speed behind its prefetch buffer.
constexpr uint32_t kFlashFullSpeedHz = 40000000;

// Cycles of each class of instruction on a Cortex-M4 with no wait states;
// a taken branch adds the pipeline refill, one cycle here.
constexpr uint64_t kRefill = 1;
constexpr uint64_t kDivideCycles = 7;  // 2 to 12 by the operands: the middle

uint64_t cyclesOf(const thumb::Instruction& in, bool pipelined) {
  using thumb::Kind;
  switch (in.kind) {
    case Kind::LoadStore: return (pipelined ? 1 : 2) + (in.loadsPc ? kRefill : 0);
    case Kind::LoadStoreDual: return 3;
    case Kind::LoadMultiple:
    case Kind::StoreMultiple:
    case Kind::Push:
    case Kind::Pop:
    case Kind::VfpMultiple: return 1 + in.registers + (in.loadsPc ? kRefill : 0);
    case Kind::LoadExclusive:
    case Kind::StoreExclusive:
    case Kind::MultiplyAccumulate:
    case Kind::VfpLoadStore:
    case Kind::Barrier: return 2;
    case Kind::Divide: return kDivideCycles;
    case Kind::VfpAccumulate: return 3;
    case Kind::VfpLong: return 14;
    default: return 1;
  }
}

std::string unalignedText(uint32_t at, uint32_t base) {
  return "an unaligned access at " + hex(at) + " to " + hex(base) +
         " (LDRD, STRD, LDM, STM and exclusive accesses must be aligned)";
}

}  // namespace

// The halfword-indexed knowledge of the block at an address.
const Processor::BlockInfo& Processor::blockInfo(uint32_t address, uint32_t size) {
  BlockInfo* slot = nullptr;
  if (address < kFlashSize) {
    slot = &flashBlocks_[address / 2];
  } else if (rom_ && address >= kRomBase && address - kRomBase < kRomSize) {
    slot = &romBlocks_[(address - kRomBase) / 2];
  } else {
    scratch_ = analyse(address, size);  // neither flash nor ROM: no checks there
    return scratch_;
  }
  if (!slot->known || slot->size != size) {
    *slot = analyse(address, size);
    findChecks(address, size, *slot);
  }
  return *slot;
}

Processor::BlockInfo Processor::analyse(uint32_t address, uint32_t size) const {
  BlockInfo info;
  info.known = true;
  info.size = static_cast<uint16_t>(size);
  uint64_t cycles = 0;
  bool previousLoad = false;
  for (uint32_t at = address; at < address + size;) {
    const thumb::Instruction in = instructionAt(at);
    // A load or store right behind a load pipelines; nothing behind a store.
    const bool single = in.kind == thumb::Kind::LoadStore && !in.loadsPc;
    cycles += cyclesOf(in, single && previousLoad);
    previousLoad = single && !in.store;
    if (in.kind == thumb::Kind::LoadStore && in.base == 15) {
      ++info.flashLoads;
    }
    if (in.fp && !info.usesFpu) {
      info.usesFpu = true;
      info.firstFp = at;
    }
    info.endsInBranch = in.kind == thumb::Kind::Branch || in.loadsPc;
    at += in.length;
  }
  info.cycles = static_cast<uint16_t>(std::min<uint64_t>(cycles, 0xFFFF));
  info.alignedBegin = info.alignedEnd = static_cast<uint32_t>(blockChecks_.size());
  return info;
}

// The checked accesses of a block, found on its own instruction boundaries:
// a stray match inside another instruction is never taken for one.
void Processor::findChecks(uint32_t address, uint32_t size, BlockInfo& info) {
  info.alignedBegin = static_cast<uint32_t>(blockChecks_.size());
  const auto byAddress = [](const AlignedAccess& access, uint32_t value) { return access.address < value; };
  auto next = std::lower_bound(checkedAccesses_.begin(), checkedAccesses_.end(), address, byAddress);
  for (uint32_t at = address; at < address + size && next != checkedAccesses_.end(); at += instructionAt(at).length) {
    while (next != checkedAccesses_.end() && next->address < at) {
      ++next;
    }
    if (next != checkedAccesses_.end() && next->address == at) {
      blockChecks_.push_back(static_cast<uint32_t>(next - checkedAccesses_.begin()));
    }
  }
  info.alignedEnd = static_cast<uint32_t>(blockChecks_.size());
}

// The flash's wait state for a taken branch at a fast clock: none when the
// target is still in the prefetch buffer (the branch's own word pair or
// the one before it: a short loop).
uint64_t Processor::waitStates(uint32_t from, uint32_t to) const {
  if (board_.clockHz() <= kFlashFullSpeedHz || to >= kFlashSize) {
    return 0;
  }
  const uint32_t pair = from / 8, target = to / 8;
  return target == pair || target + 1 == pair ? 0 : 1;
}

void Processor::block(uint32_t address, uint32_t size) {
  const BlockInfo& info = blockInfo(address, size);
  // The refill of the branch that ended the block before, if it was taken.
  uint64_t extra = 0;
  if (previousBranched_ && address != previousEnd_) {
    extra = kRefill + waitStates(previousEnd_ - 2, address);
  }
  if (stepping_ != 0) {
    // On the way to a fault found at the block's start: only time counts.
    cycles_ += info.cycles + extra;
    return;
  }
  if (debug_ && debuggerChanged(address)) {
    return;  // the block starts again with the debugger's hooks
  }
  // A branch to itself: only an interrupt can leave it.
  if (size == 2 && code(address) == kBranchToSelf) {
    if (board_.interrupts().requested() && board_.preempting(masks()) >= 0) {
      deliverPending(address);
    } else {
      flushCycles();
      board_.idleToNextEvent();
      nextEventCycles_ = board_.cyclesToNextEvent();
    }
    previousBranched_ = false;
    return;
  }
  if (restoreFpca_) {
    restoreFpca_ = false;
    setReg(UC_ARM_REG_CONTROL, (reg(UC_ARM_REG_CONTROL) & 7U & ~kFpca) | fpcaBefore_);
  }
  if (info.usesFpu && !checkFpu(address, info)) {
    return;
  }
  if (info.alignedBegin != info.alignedEnd && !checkAlignment(address, info)) {
    return;
  }
  if (board_.interrupts().requested() && board_.preempting(masks()) >= 0) {
    deliverPending(address);
    return;
  }
  halfwords_ += size / 2;
  cycles_ += info.cycles + extra + (board_.clockHz() > kFlashFullSpeedHz ? info.flashLoads : 0U);
  previousEnd_ = address + size;
  previousBranched_ = info.endsInBranch;
  if (cycles_ >= nextEventCycles_) {
    flushCycles();
  }
}

// CPACR at every block that uses the FPU: CP10 full access, or privileged
// access for privileged code; otherwise the first FP instruction takes a
// NOCP UsageFault.
bool Processor::checkFpu(uint32_t address, const BlockInfo& info) {
  SystemControlSpace& scs = board_.systemControlSpace();
  const uint32_t access = (scs.coprocessorAccess() >> 20) & 3U;
  if (access == 3 || (access == 1 && privileged())) {
    if ((scs.fpContextControl() & kLazyActive) != 0) {
      saveLazyState();
    }
    if ((scs.fpContextControl() & reg::core::kFpAutomaticStateSave) == 0) {
      fpcaBefore_ = reg(UC_ARM_REG_CONTROL) & kFpca;
      restoreFpca_ = true;
    }
    return true;
  }
  // The block's own instructions before it may still open the access.
  faultBefore(address, PendingFault{info.firstFp, kUsageFault, fault_status::kNoCoprocessor,
                                    "a floating-point instruction at " + hex(info.firstFp) +
                                        (access == 1 ? " in unprivileged code, which CPACR gives no access to the FPU"
                                                     : " before CPACR gave access to the FPU")});
  return false;
}

// The first FP instruction of a handler whose frame left room for the FP
// state: it goes to the room now (FPCAR), and LSPACT clears.
void Processor::saveLazyState() {
  SystemControlSpace& scs = board_.systemControlSpace();
  std::array<uint32_t, 17> state{};
  std::array<int, 17> registers{};
  std::array<void*, 17> values{};
  for (unsigned index = 0; index < 17; ++index) {
    registers[index] = index < 16 ? UC_ARM_REG_S0 + static_cast<int>(index) : UC_ARM_REG_FPSCR;
    values[index] = &state[index];
  }
  uc_reg_read_batch(uc_, registers.data(), values.data(), 17);
  if (uc_mem_write(uc_, scs.fpContextAddress(), state.data(), state.size() * 4) != UC_ERR_OK) {
    fault("lazy FP state at " + hex(scs.fpContextAddress()) + " lies outside the SRAM");
  }
  scs.setFpContextControl(scs.fpContextControl() & ~kLazyActive);
}

// Only the base decides for LDM/STM; for LDRD/STRD the offset is a
// multiple of four, for exclusives of their size.
bool Processor::misaligned(const AlignedAccess& access, uint32_t& base) {
  const thumb::Instruction& in = access.instruction;
  base = reg(UC_ARM_REG_R0 + in.base);
  const bool exclusive = in.kind == thumb::Kind::LoadExclusive || in.kind == thumb::Kind::StoreExclusive;
  return (base & ((exclusive ? in.size : 4U) - 1U)) != 0 &&
         (access.condition == 0xE || thumb::holds(access.condition, reg(UC_ARM_REG_APSR_NZCV)));
}

bool Processor::checkAlignment(uint32_t address, const BlockInfo& info) {
  for (uint32_t index = info.alignedBegin; index < info.alignedEnd; ++index) {
    const AlignedAccess& access = checkedAccesses_[blockChecks_[index]];
    uint32_t base = 0;
    if (misaligned(access, base)) {
      faultBefore(address, PendingFault{access.address, kUsageFault, fault_status::kUnaligned,
                                        unalignedText(access.address, base)});
      return false;
    }
  }
  return true;
}

// A fault the block's start showed coming: the instructions before it run,
// counted one by one, and the fault is taken at its own instruction.
void Processor::faultBefore(uint32_t blockStart, PendingFault pending) {
  uint64_t before = 0;
  for (uint32_t at = blockStart; at < pending.at; at += instructionAt(at).length) {
    ++before;
  }
  if (before == 0) {
    flushCycles();
    takeFault(pending.vector, pending.status, pending.at, pending.what);
    return;
  }
  pending_ = std::move(pending);
  stepsPlanned_ = before;
  resume_ = blockStart | 1U;
  setReg(UC_ARM_REG_PC, blockStart | 1U);
  uc_emu_stop(uc_);
}

// LDREX opens the local monitor, CLREX and STREX close it; a STREX with the
// monitor closed (an exception came in between) fails as on the chip.
void Processor::exclusive(uint32_t address) {
  const thumb::Instruction in = instructionAt(address);
  if (in.kind == thumb::Kind::LoadExclusive) {
    monitorOpen_ = true;
    return;
  }
  if (in.kind == thumb::Kind::StoreExclusive && !monitorOpen_) {
    const unsigned status = (in.size == 4 ? (code(address + 2) >> 8) : code(address + 2)) & 0xFU;
    setReg(UC_ARM_REG_R0 + static_cast<int>(status), 1);
    setReg(UC_ARM_REG_PC, (address + 4) | 1U);
  }
  monitorOpen_ = false;
}

// An access whose base an earlier instruction of its block may change: its
// own hook sees the base as the instruction does.
void Processor::onAligned(uc_engine*, uint64_t address, uint32_t, void* self) {
  auto* processor = static_cast<Processor*>(self);
  const uint32_t at = static_cast<uint32_t>(address);
  const auto found = std::lower_bound(processor->hookedAccesses_.begin(), processor->hookedAccesses_.end(), at,
                                      [](const AlignedAccess& access, uint32_t value) { return access.address < value; });
  if (found == processor->hookedAccesses_.end() || found->address != at || processor->stepping_ != 0) {
    return;
  }
  uint32_t base = 0;
  if (processor->misaligned(*found, base)) {
    processor->flushCycles();
    processor->takeFault(kUsageFault, fault_status::kUnaligned, at, unalignedText(at, base));
  }
}

}  // namespace sim
