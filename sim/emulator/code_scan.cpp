// The image's code read once before it runs: which of its accesses that
// the architecture wants aligned can be checked at a block's start, which
// are decided already, and which need a hook of their own.
#include <array>
#include <optional>

#include "sim/emulator/processor.h"

namespace sim {

using thumb::isAlignedAccess;

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

}  // namespace sim
