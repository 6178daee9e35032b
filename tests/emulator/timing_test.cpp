// The cycle model, against the Cortex-M4 technical reference manual's
// cycle counts and the TM4C123 data sheet's flash: no wait states up to
// 40 MHz; above, a prefetch buffer that keeps linear code and short loops
// at full speed, "other branches incur a single wait state".
#include "tests/emulator/program.h"

namespace {

using namespace emulator_test;

TEST(Timing, InstructionClassesAndTheFlashWaitState) {
  for (const bool fast : {false, true}) {
    const Ending ending = runProgram(fast ? "timing_fast" : "timing", sim::Bench{}, sim::milliseconds(2));
    // SUBS 1 and a taken BNE 1 + P: the delay loop's three cycles a pass,
    // at both clocks (a 4-byte loop stays in the buffer); 1 for the MOVS,
    // and the last BNE, not taken, is 1.
    EXPECT_EQ(ending.r[0], 1U + 100 * 3 - 1) << fast << ending.failure;
    // Eight NOPs more a pass, and at 50 MHz each branch back leaves the
    // buffer: a wait state.
    EXPECT_EQ(ending.r[1], 1U + 100 * 11 - 1 + (fast ? 99 : 0)) << fast;
    // LDRD 1 + N, PUSH and POP 1 + N.
    EXPECT_EQ(ending.r[2], 3U + 5 + 5) << fast;
    // VDIV.F32 and VSQRT.F32: 14 each.
    EXPECT_EQ(ending.r[3], 14U + 14) << fast;
  }
}

TEST(Timing, TheIdleJumpSkipsAWaitingLoopButNotOneThatCounts) {
  // 1000 passes of LDR (2 cycles and the bus access), SUBS, BNE: about half
  // a millisecond at 16 MHz, as on the chip, not a jump to the run's end.
  const Ending counted = runProgram("polling_counts", sim::Bench{}, sim::seconds(10));
  EXPECT_EQ(counted.r[2], 1U) << counted.failure;
  EXPECT_LT(counted.outcome.end(), sim::milliseconds(1));
  EXPECT_GT(counted.outcome.end(), sim::microseconds(300));
  // A loop that can only see something new after an event goes to it; with
  // none, to the end of the run, having run a few passes only.
  const auto waiting = sim::Bench{}.runImage(std::string(EMULATOR_PROGRAMS_DIR) + "/polling_waits.elf", sim::seconds(10));
  EXPECT_TRUE(waiting.ok()) << waiting.failure();
  EXPECT_EQ(waiting.end(), sim::seconds(10));
  EXPECT_LT(waiting.executedHalfwords(), 200U);
}

}  // namespace
