// Faults of an image on the emulated board stop the run with the address and
// the PC: tiny flat images, their Thumb code written out by hand.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "sim/sim.h"

namespace {

using namespace sim;

// A flat image: the vector table's stack and reset entries, then code from
// 0x08, then the words given.
class FlatImage {
 public:
  FlatImage(uint32_t stack, std::vector<uint16_t> code, std::vector<uint32_t> literals = {}) {
    std::string pattern = (std::filesystem::temp_directory_path() / "image-XXXXXX").string();
    path_ = std::string(mkdtemp(pattern.data())) + "/image.bin";
    std::vector<uint8_t> bytes;
    auto word = [&bytes](uint32_t value) {
      for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
      }
    };
    word(stack);
    word(0x09);  // reset at 0x08, Thumb
    for (uint16_t halfword : code) {
      bytes.push_back(static_cast<uint8_t>(halfword));
      bytes.push_back(static_cast<uint8_t>(halfword >> 8));
    }
    for (uint32_t literal : literals) {
      word(literal);
    }
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  ~FlatImage() { std::filesystem::remove_all(std::filesystem::path(path_).parent_path()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string failureOf(const FlatImage& image) {
  const auto run = Bench{}.runImage(image.path(), milliseconds(10));
  EXPECT_FALSE(run.ok());
  return run.failure();
}

TEST(EmulatedFaults, AStackThatGrowsBelowItsStart) {
  // push {r0} with the stack at the very start of the SRAM.
  const FlatImage image(0x20000000, {0xB401, 0xE7FE});
  const std::string failure = failureOf(image);
  EXPECT_NE(failure.find("0x1ffffffc"), std::string::npos) << failure;
  EXPECT_NE(failure.find("the stack grew below its start"), std::string::npos) << failure;
  EXPECT_NE(failure.find("PC 0x0000000"), std::string::npos) << failure;
}

TEST(EmulatedFaults, AnAccessOutsideMemory) {
  // ldr r1, [pc, #4]; ldr r0, [r1]; b .; nop; then the address.
  const FlatImage image(0x20000400, {0x4901, 0x6808, 0xE7FE, 0xBF00}, {0x60000000});
  const std::string failure = failureOf(image);
  EXPECT_NE(failure.find("read at unmapped address 0x60000000"), std::string::npos) << failure;
}

TEST(EmulatedFaults, AFloatingPointInstructionBeforeTheFpuIsEnabled) {
  // vmov s0, r0 straight after reset: the chip takes a usage fault.
  const FlatImage image(0x20000400, {0xEE00, 0x0A10, 0xE7FE});
  const std::string failure = failureOf(image);
  EXPECT_NE(failure.find("floating-point instruction at 0x00000008 before CPACR"), std::string::npos) << failure;
}

TEST(EmulatedFaults, APeripheralWhoseClockIsOff) {
  // ldr r1, [pc, #4]; str r0, [r1]; b .; nop; UART0's data register.
  const FlatImage image(0x20000400, {0x4901, 0x6008, 0xE7FE, 0xBF00}, {0x4000C000});
  const std::string failure = failureOf(image);
  EXPECT_NE(failure.find("write at 0x4000C000: UART0 has its clock off"), std::string::npos) << failure;
  EXPECT_NE(failure.find("(PC 0x0000000"), std::string::npos) << failure;
}

}  // namespace
