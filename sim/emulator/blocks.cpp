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

// Whether a condition code holds for the flags NZCV (bits 31-28).
bool holds(unsigned condition, uint32_t flags) {
  const bool n = (flags >> 31) & 1U, z = (flags >> 30) & 1U, c = (flags >> 29) & 1U, v = (flags >> 28) & 1U;
  bool result = true;
  switch (condition >> 1) {
    case 0: result = z; break;
    case 1: result = c; break;
    case 2: result = n; break;
    case 3: result = v; break;
    case 4: result = c && !z; break;
    case 5: result = n == v; break;
    case 6: result = !z && n == v; break;
    default: return true;
  }
  return (condition & 1U) != 0 ? !result : result;
}

std::string unalignedText(uint32_t at, uint32_t base) {
  return "an unaligned access at " + hex(at) + " to " + hex(base) +
         " (LDRD, STRD, LDM, STM and exclusive accesses must be aligned)";
}

bool isAlignedAccess(const thumb::Instruction& in) {
  using thumb::Kind;
  const bool kind = in.kind == Kind::LoadStoreDual || in.kind == Kind::LoadMultiple || in.kind == Kind::StoreMultiple ||
                    in.kind == Kind::LoadExclusive || in.kind == Kind::StoreExclusive;
  // SP is always word aligned; a literal's offset is a multiple of four.
  return kind && in.base != 13 && in.base != 15;
}

}  // namespace

// The accesses the architecture wants aligned but Unicorn does not check.
// One whose base no earlier instruction of its straight run can change is
// checked at the start of any block that holds it; one whose base's low
// bits are known here (a literal, an address from ADR or SP) is decided
// here; the others get a hook.
void Processor::scanCode(const Image& image) {
  for (size_t range = 0; range < image.codeStarts.size(); ++range) {
    uint16_t written = 0;
    uint16_t known = 0;  // registers whose low bits this run fixed: a literal, an ADR
    std::array<uint32_t, 16> values{};
    unsigned conditional = 0;  // instructions an IT makes conditional
    unsigned firstCondition = 0, itMask = 0, position = 0;
    bool data = false;
    for (uint32_t address = image.codeStarts[range]; address + 2 <= image.codeEnds[range];) {
      // A literal pool read as code would put the instructions after it
      // out of step: the mapping symbols say where code starts again.
      if (const auto mark = image.codeMapping.find(address); mark != image.codeMapping.end()) {
        data = !mark->second;
        written = known = 0;
        conditional = 0;
      }
      if (data) {
        address += 2;
        continue;
      }
      const thumb::Instruction in = instructionAt(address);
      if (isAlignedAccess(in)) {
        const bool exclusive = in.kind == thumb::Kind::LoadExclusive || in.kind == thumb::Kind::StoreExclusive;
        const uint32_t mask = (exclusive ? in.size : 4U) - 1U;
        const bool constant = conditional == 0 && ((known >> in.base) & 1U) != 0;
        if (constant && (values[in.base] & mask) == 0) {
          // always aligned
        } else if (!constant && conditional == 0 && ((written >> in.base) & 1U) == 0) {
          checkedAccesses_.push_back(AlignedAccess{address, in});
        } else {
          // In an IT block: the first runs under firstcond, each after it
          // under firstcond or its inverse as its mask bit says.
          uint8_t condition = 0xE;
          if (conditional > 0) {
            const bool then = position == 0 || ((itMask >> (4 - position)) & 1U) == (firstCondition & 1U);
            condition = static_cast<uint8_t>(then ? firstCondition : firstCondition ^ 1U);
          }
          hookedAccesses_.push_back(AlignedAccess{address, in, condition});
        }
      }
      written = static_cast<uint16_t>(written | in.writes);
      known = static_cast<uint16_t>(known & ~in.writes);
      // LDR Rt, [PC, #imm]: the word at Align(PC, 4) + imm, PC being the
      // instruction's address + 4.
      const uint16_t first = code(address), second = code(address + 2);
      std::optional<int> literal;
      unsigned target = 0;
      if ((first & 0xF800) == 0x4800) {
        literal = static_cast<int>((first & 0xFFU) * 4);
        target = (first >> 8) & 7U;
      } else if ((first & 0xFF7F) == 0xF85F && ((second >> 12) & 0xFU) < 13) {
        literal = static_cast<int>(second & 0xFFFU) * ((first & 0x0080) != 0 ? 1 : -1);
        target = (second >> 12) & 0xFU;
      }
      if (literal && conditional == 0) {
        const uint32_t at = static_cast<uint32_t>(static_cast<int64_t>((address + 4) & ~3U) + *literal);
        values[target] = uint32_t{code(at)} | (uint32_t{code(at + 2)} << 16);
        known = static_cast<uint16_t>(known | (1U << target));
      }
      // ADR and ADD Rd, SP, #imm: addresses whose alignment is known, as
      // the PC is taken word aligned and SP is always.
      std::optional<uint32_t> offset;
      if ((first & 0xF000) == 0xA000) {
        offset = 0;  // ADR or ADD from SP: imm8 words
        target = (first >> 8) & 7U;
      } else if ((first & 0xFBFF) == 0xF20F || (first & 0xFBFF) == 0xF2AF) {
        const uint32_t imm = ((first & 0x0400U) << 1) | ((second & 0x7000U) >> 4) | (second & 0xFFU);
        offset = (first & 0x00A0) != 0 ? 0U - imm : imm;  // ADR.W, its SUB form
        target = (second >> 8) & 0xFU;
      }
      if (offset && conditional == 0 && target < 13) {
        values[target] = *offset;
        known = static_cast<uint16_t>(known | (1U << target));
      }
      if (conditional > 0) {
        --conditional;
        ++position;
      }
      if (in.it) {
        itMask = first & 0xFU;
        firstCondition = (first >> 4) & 0xFU;
        conditional = 4 - static_cast<unsigned>(__builtin_ctz(itMask));
        position = 0;
      }
      address += in.length;
      if (in.kind == thumb::Kind::Branch || in.loadsPc || in.kind == thumb::Kind::Wait) {
        written = known = 0;
      }
    }
  }
}

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
         (access.condition == 0xE || holds(access.condition, reg(UC_ARM_REG_APSR_NZCV)));
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
