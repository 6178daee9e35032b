// SysTick, SVCall, PendSV and the system reset request on the emulated
// board's processor, with the architecture's register values.
#include "tests/emulator/program.h"

namespace {

using namespace emulator_test;

TEST(SystemExceptions, SysTickCountsReloadPlusOneClocksAndSetsCountflag) {
  const Ending ending = runProgram("system_systick");
  EXPECT_EQ(ending.r[0], 0x00010007U) << ending.failure;  // COUNTFLAG (bit 16) with the control bits
  EXPECT_EQ(ending.r[1], 0x00000007U);                    // reading CSR cleared it
  EXPECT_EQ(ending.r[2], 3U);
  EXPECT_LE(ending.r[3], 999U);
  // Exception 15 every RELOAD + 1 = 1000 clocks of 62.5 ns at reset's 16 MHz.
  const auto ticks = ending.outcome.interrupts(15);
  ASSERT_EQ(ticks.size(), 3U);
  EXPECT_EQ(ticks[1] - ticks[0], sim::nanoseconds(62500));
  EXPECT_EQ(ticks[2] - ticks[1], sim::nanoseconds(62500));
}

TEST(SystemExceptions, SvcReturnsAfterItselfOrEscalatesWhenMasked) {
  const Ending call = runProgram("system_svc");
  EXPECT_EQ(call.r[0], 5U) << call.failure;  // the immediate of SVC #5, as its handler reads it
  EXPECT_EQ(call.r[1], call.r[3]);
  EXPECT_EQ(call.outcome.interrupts(11).size(), 1U);
  // SVCall at 0x80 under BASEPRI 0x40 cannot be taken: HardFault, FORCED.
  const Ending masked = runProgram("system_svc_masked", withFaultHandlers());
  EXPECT_EQ(masked.r[0], 0x40000000U) << masked.failure;
  EXPECT_EQ(masked.r[1], 0xFFU);
  EXPECT_TRUE(masked.outcome.interrupts(11).empty());
}

TEST(SystemExceptions, PendSvRequestedByAHandlerRunsAfterIt) {
  const Ending ending = runProgram("system_pendsv");
  EXPECT_NE(ending.r[0] & (1U << 28), 0U) << ending.failure;  // ICSR shows PENDSVSET
  EXPECT_EQ(ending.r[0] & 0x1FFU, 16U);                        // VECTACTIVE: irq0
  EXPECT_EQ(ending.r[1], 1U);
  const auto irq = ending.outcome.interrupts(16);
  const auto pendSv = ending.outcome.interrupts(14);
  ASSERT_EQ(irq.size(), 1U);
  ASSERT_EQ(pendSv.size(), 1U);
  EXPECT_GT(pendSv[0], irq[0]);
}

TEST(SystemExceptions, SysResetReqRestartsFromTheVectorTableKeepingTheRam) {
  const Ending ending = runProgram("system_reset");
  EXPECT_EQ(ending.r[0], 3U) << ending.failure;  // three starts: the keyless write did nothing
  EXPECT_EQ(ending.r[1], 0x20008000U);           // each from vector table entry 0
  unsigned resets = 0;
  for (const auto& [time, text] : ending.outcome.notes()) {
    resets += text == "system reset" ? 1U : 0U;
  }
  EXPECT_EQ(resets, 2U);
}

}  // namespace
