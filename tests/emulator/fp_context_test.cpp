// The FP context across exceptions, and CPACR.
#include "tests/emulator/program.h"

namespace {

using namespace emulator_test;

TEST(FpContext, LazyStackingAndCpacrAtEveryInstruction) {
  // LSPEN at reset: the frame leaves room (FPCAR at its s0 word, 0x20 up),
  // LSPACT is set until the handler's first FP instruction stores the
  // state, and the return gives the thread its s0 (1.0f) back.
  const Ending lazy = runProgram("fp_lazy");
  EXPECT_EQ(lazy.r[0], 0x3F800000U) << lazy.failure;
  EXPECT_EQ(lazy.r[1] & 0xC0000001U, 0xC0000001U);
  EXPECT_EQ(lazy.r[2], 0x20U);
  EXPECT_EQ(lazy.r[3] & 1U, 0U);
  // CPACR back to no access after the FPU was used: the next FP
  // instruction faults.
  const Ending off = runProgram("fp_switched_off");
  EXPECT_NE(off.failure.find("floating-point instruction at"), std::string::npos) << off.failure;
  EXPECT_EQ(off.r[2], 1U);
}

}  // namespace
