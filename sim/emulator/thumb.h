// What the emulated board needs to know of a Thumb-2 instruction without
// executing it: its length, its class for the cycle count, the registers it
// may write, and for the accesses the architecture wants aligned, its base.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sim::thumb {

enum class Kind : uint8_t {
  Other,           // one cycle
  LoadStore,       // a single load or store: 2, or 1 when pipelined behind another
  LoadStoreDual,   // LDRD, STRD: word aligned always
  LoadMultiple,    // LDM: word aligned always
  StoreMultiple,   // STM: word aligned always
  Push,            // PUSH, POP and VPUSH/VPOP work on SP, which is always aligned
  Pop,
  LoadExclusive,   // LDREX*: aligned to their size always
  StoreExclusive,  // STREX*
  ClearExclusive,
  Branch,          // B, BL, BX, BLX, CBZ, TBB...: 1, plus the refill when taken
  MultiplyAccumulate,
  Divide,
  Vfp,             // a coprocessor 10/11 data instruction
  VfpAccumulate,   // VMLA, VMLS, VNMLA, VNMLS, VFMA...
  VfpLong,         // VDIV, VSQRT
  VfpLoadStore,    // VLDR, VSTR
  VfpMultiple,     // VLDM, VSTM
  Barrier,         // ISB, DSB, DMB
  Wait,            // WFI, WFE
};

struct Instruction {
  uint8_t length = 2;  // bytes
  Kind kind = Kind::Other;
  uint8_t base = 0xFF;    // Rn of a memory access, 0xFF when none
  uint8_t size = 4;       // bytes an exclusive access moves
  uint8_t registers = 0;  // registers an LDM/STM/PUSH/POP/VLDM moves
  bool fp = false;        // uses the FPU: CPACR must allow it
  bool it = false;        // an IT instruction: the next ones are conditional
  bool loadsPc = false;   // POP or LDM with PC, LDR PC: a branch
  bool store = false;     // a single store: nothing pipelines behind it
  uint16_t writes = 0;    // core registers it may write (a superset)
};

Instruction decode(uint16_t first, uint16_t second);

// The bytes a load or store would reach with these register values (r15
// the instruction's address): the common addressing forms; none for the
// others and for instructions that do not access memory.
struct Access {
  uint32_t start;
  uint32_t length;
};
std::optional<Access> accessOf(uint16_t first, uint16_t second, const std::array<uint32_t, 16>& r);

// Whether a condition code holds for the flags NZCV (bits 31-28).
bool holds(unsigned condition, uint32_t flags);

// LDRD/STRD, LDM/STM and the exclusives, whose address the architecture
// wants aligned (Unicorn checks only the exclusives), on a base other than
// SP (always word aligned) or PC (a literal's offset is a multiple of four).
bool isAlignedAccess(const Instruction& in);

// Whether a halfword starts a 32-bit instruction.
constexpr bool isWide(uint16_t first) { return (first & 0xE000) == 0xE000 && (first & 0x1800) != 0; }

}  // namespace sim::thumb
