// Faults of an image on the emulated board stop the run with the address and
// the PC: tiny flat images, their Thumb code written out by hand.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "sim/sim.h"
#include "tests/emulator/program.h"

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
  EXPECT_NE(failure.find("(PC 0x00000008"), std::string::npos) << failure;
}

TEST(EmulatedFaults, AnAccessOutsideMemory) {
  // ldr r1, [pc, #4]; ldr r0, [r1]; b .; nop; then the address.
  const FlatImage image(0x20000400, {0x4901, 0x6808, 0xE7FE, 0xBF00}, {0x60000000});
  const std::string failure = failureOf(image);
  EXPECT_NE(failure.find("read at unmapped address 0x60000000"), std::string::npos) << failure;
  EXPECT_NE(failure.find("(PC 0x0000000a"), std::string::npos) << failure;  // the load, not its block's start
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

// Each fault as the architecture takes it, with the status bits of its
// registers: CFSR's UNALIGNED is bit 24, NOCP 19, INVSTATE 17, IMPRECISERR
// 10; HFSR's FORCED bit 30.
TEST(ArchitectureFaults, UnalignedDoubleAndMultipleAccessesTakeTheUsageFault) {
  using emulator_test::runProgram;
  // The base unchanged since the block's start, changed within it, a
  // constant from the literal pool; an exclusive load.
  for (const char* program :
       {"faults_unaligned_ldrd", "faults_unaligned_ldm", "faults_unaligned_literal", "faults_unaligned_ldrex"}) {
    const auto stopped = runProgram(program);
    EXPECT_NE(stopped.failure.find("an unaligned access at"), std::string::npos) << program << stopped.failure;
    // Enabled in SHCSR, the UsageFault handler takes it, at the instruction.
    const auto handled = runProgram(program, emulator_test::withFaultHandlers());
    EXPECT_EQ(handled.r[0], 0U) << program;  // by the UsageFault handler, not escalated
    EXPECT_EQ(handled.r[1], 0x01000000U) << program;
    EXPECT_EQ(handled.r[2], handled.r[3]) << program << handled.outcome.text();
  }
  // One that its IT block's condition skips does not fault.
  EXPECT_EQ(runProgram("faults_it_skipped").r[0], 7U);
}

TEST(ArchitectureFaults, EscalatedToHardFaultWithTheirCause) {
  using emulator_test::runProgram;
  // An even vector: INVSTATE at the handler's address.
  const auto even = runProgram("faults_even_vector", emulator_test::withFaultHandlers());
  EXPECT_EQ(even.r[0], 0x40000000U) << even.failure;
  EXPECT_EQ(even.r[1], 0x00020000U);
  EXPECT_EQ(even.r[2], even.r[3]);
  EXPECT_EQ(even.r[3] & 1U, 0U);
  // The same for the reset entry: HardFault, UsageFault being disabled.
  const auto reset = runProgram("faults_even_reset", emulator_test::withFaultHandlers());
  EXPECT_EQ(reset.r[1], 0x00020000U) << reset.failure;
  EXPECT_EQ(reset.r[2], reset.r[3] & ~1U);
  // An FP instruction in unprivileged code with CPACR's CP10 at 01; the
  // same in privileged code before it ran.
  const auto nocp = runProgram("faults_nocp_unprivileged", emulator_test::withFaultHandlers());
  EXPECT_EQ(nocp.r[0], 0x40000000U) << nocp.failure;
  EXPECT_EQ(nocp.r[1], 0x00080000U);
  EXPECT_EQ(nocp.r[2], nocp.r[3]);
  // A load from nowhere: a precise BusFault, enabled, at the load, with
  // BFAR (0xE000ED38) and CFSR's PRECISERR (bit 9) and BFARVALID (bit 15).
  const auto bus = runProgram("faults_bus_fault", emulator_test::withFaultHandlers());
  EXPECT_EQ(bus.r[0], 0x60000004U) << bus.failure;
  EXPECT_EQ(bus.r[1], 0x00008200U);
  EXPECT_EQ(bus.r[2], bus.r[3]);
  // Execution in the peripheral region, execute-never: MemManage, enabled,
  // with IACCVIOL (CFSR bit 0) and the address it jumped to.
  const auto never = runProgram("faults_execute_never", emulator_test::withFaultHandlers());
  EXPECT_EQ(never.r[1], 0x00000001U) << never.failure;
  EXPECT_EQ(never.r[2], never.r[3]);
  // A fault in HardFault locks the processor up.
  const auto lockup = runProgram("faults_lockup_in_hard_fault", emulator_test::withFaultHandlers());
  EXPECT_NE(lockup.failure.find("lockup: an undefined instruction"), std::string::npos) << lockup.failure;
  const auto notes = lockup.outcome.notes();
  ASSERT_EQ(notes.size(), 1U);
  EXPECT_EQ(notes[0].second.rfind("HardFault (escalated from UsageFault): an undefined instruction", 0), 0U);
}

TEST(ArchitectureFaults, APeripheralRightAfterItsClockIsEnabled) {
  using emulator_test::runProgram;
  // The data sheet's three clocks between the gate's write and an access.
  const auto stopped = runProgram("faults_not_ready");
  EXPECT_NE(stopped.failure.find("GPIO port F is not ready yet"), std::string::npos) << stopped.failure;
  const auto handled = runProgram("faults_not_ready", emulator_test::withFaultHandlers());
  EXPECT_EQ(handled.r[1], 0x00000400U) << handled.failure;
  // Waiting for PRGPIO first is enough.
  const auto waited = runProgram("faults_ready");
  EXPECT_EQ(waited.r[0], 7U) << waited.failure;
}

}  // namespace
