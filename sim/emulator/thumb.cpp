#include "sim/emulator/thumb.h"

namespace sim::thumb {

namespace {

constexpr uint16_t kSp = 1U << 13;
constexpr uint16_t kPc = 1U << 15;

uint16_t reg(unsigned n) { return static_cast<uint16_t>(1U << (n & 0xFU)); }

uint8_t count(uint32_t bits) { return static_cast<uint8_t>(__builtin_popcount(bits)); }

Instruction narrow(uint16_t h) {
  Instruction in;
  const unsigned low = h & 7U;
  const unsigned high = (h >> 8) & 7U;
  switch (h >> 11) {
    case 0b00000: case 0b00001: case 0b00010: case 0b00011:
      in.writes = reg(low);
      return in;
    case 0b00100: case 0b00101: case 0b00110: case 0b00111:
      in.writes = reg(high);
      return in;
    case 0b01000:
      if ((h & 0x0400) == 0) {
        in.writes = reg(low);  // data processing
        return in;
      }
      // Special data, BX and BLX.
      if ((h & 0x0300) == 0x0300) {
        in.kind = Kind::Branch;
        in.writes = (h & 0x0080) != 0 ? reg(14) : 0;
        return in;
      }
      in.writes = reg(((h >> 4) & 8U) | low);
      if ((h & 0x0300) != 0x0100 && in.writes == kPc) {
        in.kind = Kind::Branch;
      }
      return in;
    case 0b01001:
      in.kind = Kind::LoadStore;
      in.base = 15;
      in.writes = reg(high);
      return in;
    case 0b01010: case 0b01011:
      in.kind = Kind::LoadStore;
      in.base = static_cast<uint8_t>((h >> 3) & 7U);
      in.writes = ((h >> 9) & 7U) >= 3 ? reg(low) : 0;
      in.store = ((h >> 9) & 7U) < 3;
      return in;
    case 0b01100: case 0b01101: case 0b01110: case 0b01111: case 0b10000: case 0b10001:
      in.kind = Kind::LoadStore;
      in.base = static_cast<uint8_t>((h >> 3) & 7U);
      in.writes = (h & 0x0800) != 0 ? reg(low) : 0;
      in.store = (h & 0x0800) == 0;
      return in;
    case 0b10010: case 0b10011:
      in.kind = Kind::LoadStore;
      in.base = 13;
      in.writes = (h & 0x0800) != 0 ? reg(high) : 0;
      in.store = (h & 0x0800) == 0;
      return in;
    case 0b10100: case 0b10101:
      in.writes = reg(high);
      return in;
    case 0b10110: case 0b10111:
      if ((h & 0x0F00) == 0x0000) {
        in.writes = kSp;  // ADD/SUB SP, #imm
      } else if ((h & 0x0500) == 0x0100) {
        in.kind = Kind::Branch;  // CBZ, CBNZ
      } else if ((h & 0x0E00) == 0x0400) {
        in.kind = Kind::Push;
        in.registers = static_cast<uint8_t>(count(h & 0xFFU) + ((h >> 8) & 1U));
        in.writes = kSp;
      } else if ((h & 0x0E00) == 0x0C00) {
        in.kind = Kind::Pop;
        in.registers = static_cast<uint8_t>(count(h & 0xFFU) + ((h >> 8) & 1U));
        in.loadsPc = (h & 0x0100) != 0;
        in.writes = static_cast<uint16_t>((h & 0xFFU) | kSp | (in.loadsPc ? kPc : 0U));
      } else if ((h & 0x0F00) == 0x0F00) {
        if ((h & 0x000F) != 0) {
          in.it = true;
        } else if ((h & 0x00E0) == 0x0020) {
          in.kind = Kind::Wait;  // WFE, WFI
        }
      } else if ((h & 0x0F00) == 0x0200 || (h & 0x0F00) == 0x0A00) {
        in.writes = reg(low);  // extends, REV
      }
      return in;
    case 0b11000:
      in.kind = Kind::StoreMultiple;
      in.base = static_cast<uint8_t>(high);
      in.registers = count(h & 0xFFU);
      in.writes = reg(high);
      return in;
    case 0b11001:
      in.kind = Kind::LoadMultiple;
      in.base = static_cast<uint8_t>(high);
      in.registers = count(h & 0xFFU);
      in.writes = static_cast<uint16_t>((h & 0xFFU) | reg(high));
      return in;
    case 0b11010: case 0b11011:
      // Conditional branch; UDF and SVC go elsewhere.
      in.kind = (h & 0x0E00) == 0x0E00 ? Kind::Other : Kind::Branch;
      return in;
    case 0b11100:
      in.kind = Kind::Branch;
      return in;
    default:
      return in;
  }
}

Instruction coprocessor(uint16_t h, uint16_t s) {
  Instruction in;
  in.length = 4;
  const unsigned coprocessor = (s >> 8) & 0xFU;
  if (coprocessor != 10 && coprocessor != 11) {
    return in;
  }
  in.fp = true;
  in.kind = Kind::Vfp;
  if ((h & 0x0E00) == 0x0C00) {
    // Extension register loads and stores, and the 64-bit moves.
    const bool p = (h & 0x0100) != 0, u = (h & 0x0080) != 0, w = (h & 0x0020) != 0, load = (h & 0x0010) != 0;
    const auto rn = static_cast<uint8_t>(h & 0xFU);
    if (!p && !u && !w) {
      in.writes = load ? static_cast<uint16_t>(reg(s >> 12) | reg(h)) : 0;
    } else if (p && !w) {
      in.kind = Kind::VfpLoadStore;
      in.base = rn;
    } else {
      in.kind = rn == 13 && w ? (load ? Kind::Pop : Kind::Push) : Kind::VfpMultiple;
      in.base = rn;
      in.registers = static_cast<uint8_t>(s & 0xFFU);  // words
      in.writes = w ? reg(rn) : 0;
    }
    return in;
  }
  if ((h & 0x0F00) == 0x0E00 && (s & 0x0010) != 0) {
    in.writes = (h & 0x0010) != 0 ? reg(s >> 12) : 0;  // VMOV to a core register, VMRS
    return in;
  }
  const bool divide = (h & 0x00B0) == 0x0080;
  const bool root = (h & 0x00BF) == 0x00B1 && (s & 0x00C0) == 0x00C0;
  const unsigned opc1 = h & 0x00B0;
  if ((h & 0x0F00) == 0x0E00 && (divide || root)) {
    in.kind = Kind::VfpLong;
  } else if ((h & 0x0F00) == 0x0E00 && (opc1 == 0x0000 || opc1 == 0x0010 || opc1 == 0x00A0 || opc1 == 0x0090)) {
    in.kind = Kind::VfpAccumulate;
  }
  return in;
}

Instruction wide(uint16_t h, uint16_t s) {
  if ((h & 0xEC00) == 0xEC00) {
    return coprocessor(h, s);
  }
  Instruction in;
  in.length = 4;
  const auto rn = static_cast<uint8_t>(h & 0xFU);
  const uint16_t rd = reg(s >> 8), rt = reg(s >> 12);
  switch (h >> 11) {
    case 0b11101:
      if ((h & 0x0600) == 0x0200) {
        in.writes = rd;  // data processing, shifted register
        return in;
      }
      if ((h & 0x0040) == 0) {
        // Load and store multiple.
        const bool load = (h & 0x0010) != 0, writeBack = (h & 0x0020) != 0;
        const bool before = (h & 0x0180) == 0x0100;
        in.registers = count(s);
        in.base = rn;
        in.loadsPc = load && (s & kPc) != 0;
        if (rn == 13 && writeBack && (load != before)) {
          in.kind = load ? Kind::Pop : Kind::Push;
        } else {
          in.kind = load ? Kind::LoadMultiple : Kind::StoreMultiple;
        }
        in.writes = static_cast<uint16_t>((load ? s : 0U) | (writeBack ? reg(rn) : 0U));
        return in;
      }
      {
        // Dual, exclusive, table branch.
        const unsigned op1 = (h >> 7) & 3U, op2 = (h >> 4) & 3U, op3 = (s >> 4) & 0xFU;
        in.base = rn;
        if (op1 == 0 && op2 == 0) {
          in.kind = Kind::StoreExclusive;
          in.writes = rd;
        } else if (op1 == 0 && op2 == 1) {
          in.kind = Kind::LoadExclusive;
          in.writes = rt;
        } else if (op1 == 1 && op2 == 0) {
          in.kind = Kind::StoreExclusive;
          in.size = op3 == 4 ? 1 : 2;
          in.writes = reg(s);
        } else if (op1 == 1 && op2 == 1) {
          if (op3 == 0 || op3 == 1) {
            in.kind = Kind::Branch;  // TBB, TBH
            in.base = 0xFF;
          } else {
            in.kind = Kind::LoadExclusive;
            in.size = op3 == 4 ? 1 : 2;
            in.writes = rt;
          }
        } else {
          const bool load = (op2 & 1U) != 0;
          in.kind = Kind::LoadStoreDual;
          in.writes = static_cast<uint16_t>((load ? rt | rd : 0U) | ((h & 0x0020) != 0 ? reg(rn) : 0U));
        }
      }
      return in;
    case 0b11110:
      if ((s & 0x8000) == 0) {
        in.writes = rd;  // data processing, immediate
        return in;
      }
      if ((s & 0x5000) != 0 || (h & 0x0380) != 0x0380) {
        in.kind = Kind::Branch;
        in.writes = (s & 0x4000) != 0 ? reg(14) : 0;
        return in;
      }
      if ((h & 0xFFF0) == 0xF3B0) {
        const unsigned op = (s >> 4) & 0xFU;
        in.kind = op == 2 ? Kind::ClearExclusive : op >= 4 && op <= 6 ? Kind::Barrier : Kind::Other;
      } else if ((h & 0xFFE0) == 0xF3E0) {
        in.writes = rd;  // MRS
      }
      return in;
    default:  // 0b11111
      if ((h & 0x0E00) == 0x0800) {
        // Single loads and stores; a load to PC is a branch.
        const bool load = (h & 0x0010) != 0;
        in.kind = Kind::LoadStore;
        in.base = rn;
        in.writes = static_cast<uint16_t>(load ? rt : 0U);
        in.store = !load;
        in.loadsPc = load && ((s >> 12) & 0xFU) == 15 && ((h >> 5) & 3U) == 2;  // not PLD
        if ((h & 0x0080) == 0 && (s & 0x0900) == 0x0900) {
          in.writes = static_cast<uint16_t>(in.writes | reg(rn));  // writeback
        }
        return in;
      }
      if ((h & 0x0F80) == 0x0B00) {
        in.kind = ((s >> 12) & 0xFU) != 15 ? Kind::MultiplyAccumulate : Kind::Other;
        in.writes = rd;
        return in;
      }
      if ((h & 0x0F80) == 0x0B80) {
        const unsigned op1 = (h >> 4) & 7U;
        in.kind = op1 == 1 || op1 == 3 ? Kind::Divide : Kind::Other;
        in.writes = static_cast<uint16_t>(rd | rt);
        return in;
      }
      in.writes = rd;
      return in;
  }
}

}  // namespace

Instruction decode(uint16_t first, uint16_t second) { return isWide(first) ? wide(first, second) : narrow(first); }

std::optional<Access> accessOf(uint16_t h, uint16_t s, const std::array<uint32_t, 16>& r) {
  const Instruction in = decode(h, s);
  const auto words = [](uint32_t count) { return count * 4; };
  if (!isWide(h)) {
    const uint32_t rn = r[(h >> 3) & 7U];
    switch (h >> 11) {
      case 0b01010: case 0b01011: {
        const unsigned op = (h >> 9) & 7U;
        const uint32_t size = op == 0 || op == 4 ? 4 : op == 1 || op == 5 || op == 7 ? 2 : 1;
        return Access{rn + r[(h >> 6) & 7U], size};
      }
      case 0b01100: case 0b01101: return Access{rn + ((h >> 6) & 0x1FU) * 4, 4};
      case 0b01110: case 0b01111: return Access{rn + ((h >> 6) & 0x1FU), 1};
      case 0b10000: case 0b10001: return Access{rn + ((h >> 6) & 0x1FU) * 2, 2};
      case 0b10010: case 0b10011: return Access{r[13] + (h & 0xFFU) * 4, 4};
      case 0b11000: case 0b11001: return Access{r[(h >> 8) & 7U], words(in.registers)};
      default: break;
    }
    if (in.kind == Kind::Push) {
      return Access{r[13] - words(in.registers), words(in.registers)};
    }
    if (in.kind == Kind::Pop) {
      return Access{r[13], words(in.registers)};
    }
    return std::nullopt;
  }
  const uint32_t rn = r[h & 0xFU];
  const bool up = (h & 0x0080) != 0;
  switch (in.kind) {
    case Kind::LoadStore: {
      const uint32_t size = 1U << ((h >> 5) & 3U);
      if ((h & 0x000F) == 0x000F) {
        return std::nullopt;  // literals lie in flash
      }
      if ((h & 0x0080) != 0) {
        return Access{rn + (s & 0xFFFU), size};  // imm12
      }
      if ((s & 0x0FC0) == 0) {
        return Access{rn + (r[s & 0xFU] << ((s >> 4) & 3U)), size};  // register
      }
      const bool index = (s & 0x0400) != 0, add = (s & 0x0200) != 0;
      return Access{index ? (add ? rn + (s & 0xFFU) : rn - (s & 0xFFU)) : rn, size};
    }
    case Kind::LoadStoreDual: {
      const bool index = (h & 0x0100) != 0;
      const uint32_t offset = (s & 0xFFU) * 4;
      return Access{index ? (up ? rn + offset : rn - offset) : rn, 8};
    }
    case Kind::LoadExclusive:
    case Kind::StoreExclusive: return Access{rn + ((h & 0x0040) != 0 && in.size == 4 ? (s & 0xFFU) * 4 : 0), in.size};
    case Kind::LoadMultiple:
    case Kind::StoreMultiple:
    case Kind::Push:
    case Kind::Pop:
    case Kind::VfpMultiple: {
      const bool before = in.fp ? (h & 0x0100) != 0 : (h & 0x0180) == 0x0100;
      const uint32_t length = words(in.registers);
      return Access{before ? rn - length : rn, length};
    }
    case Kind::VfpLoadStore: {
      const uint32_t offset = (s & 0xFFU) * 4;
      return Access{up ? rn + offset : rn - offset, (s & 0x0100) != 0 ? 8U : 4U};
    }
    default: return std::nullopt;
  }
}

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

bool isAlignedAccess(const Instruction& in) {
  const bool kind = in.kind == Kind::LoadStoreDual || in.kind == Kind::LoadMultiple || in.kind == Kind::StoreMultiple ||
                    in.kind == Kind::LoadExclusive || in.kind == Kind::StoreExclusive;
  return kind && in.base != 13 && in.base != 15;
}

}  // namespace sim::thumb
