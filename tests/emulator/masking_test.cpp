// Which exception preempts: BASEPRI, BASEPRI_MAX, FAULTMASK and the
// priority grouping of AIRCR, on the emulated board's processor.
#include "tests/emulator/program.h"

namespace {

using namespace emulator_test;

TEST(Masking, BasepriAndFaultmaskHoldBackWhatTheyMask) {
  const Ending ending = runProgram("masking");
  EXPECT_EQ(ending.r[0], 0U) << ending.failure;  // 0x80 held back by BASEPRI 0x40
  EXPECT_EQ(ending.r[1], 1U);                    // 0x20 taken
  EXPECT_EQ(ending.r[2], 0x40U);                 // BASEPRI_MAX only raises the priority
  EXPECT_EQ(ending.r[3], 1U);                    // FAULTMASK holds back even 0x20
}

TEST(Masking, OnlyTheGroupPriorityPreempts) {
  // With 3 priority bits, PRIGROUP 5 splits them [7:6] group, [5] sub:
  // 0x20 is group 0 and preempts 0x40. PRIGROUP 6 ([7] group) puts both in
  // group 0, PRIGROUP 7 leaves no group bits: no preemption.
  const std::pair<const char*, uint32_t> cases[] = {
      {"grouping_prigroup_5", 1}, {"grouping_prigroup_6", 0}, {"grouping_prigroup_7", 0}};
  for (const auto& [program, preempted] : cases) {
    const Ending ending = runProgram(program);
    EXPECT_EQ(ending.r[0], preempted) << program << ": " << ending.failure;
    EXPECT_EQ(ending.r[1] >> 16, 0xFA05U) << program;  // VECTKEY reads as 0xFA05
  }
}

}  // namespace
