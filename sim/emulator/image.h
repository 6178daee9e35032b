// An image as a programmer writes it to memory: the loadable sections of an
// ELF file (or a flat binary) and the function symbols that name addresses
// in the emulated board's reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Board;

inline constexpr uint32_t kFlashSize = 256 * 1024;
inline constexpr uint32_t kSramBase = 0x20000000;
inline constexpr uint32_t kSramSize = 32 * 1024;
inline constexpr uint32_t kRomBase = 0x01000000;
inline constexpr uint32_t kRomSize = 64 * 1024;
// The windows the board's device models answer: the peripherals and the
// system control space.
inline constexpr uint32_t kPeripheralBase = 0x40000000;
inline constexpr uint32_t kPeripheralSize = 0x100000;
inline constexpr uint32_t kSystemBase = 0xE000E000;
inline constexpr uint32_t kSystemSize = 0x1000;

// An image as its memory holds it (the flash, or the ROM), and its
// function symbols.
struct Image {
  uint32_t base = 0;
  std::vector<uint8_t> flash;
  std::map<uint32_t, std::pair<uint32_t, std::string>> functions;  // start -> size, name
  std::vector<uint32_t> codeStarts;                                // executable ranges in flash
  std::vector<uint32_t> codeEnds;
  // The ELF's mapping symbols: where Thumb code ($t) and data ($d), such as
  // literal pools, begin. Empty for a flat binary.
  std::map<uint32_t, bool> codeMapping;  // address -> code from here
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

// The image in a file, placed in the memory at base of size bytes; a
// failure ends the run.
Image loadImage(Board& board, const std::string& path, uint32_t base, uint32_t size);

// "0x0000012c".
std::string hex(uint64_t value);

}  // namespace sim
