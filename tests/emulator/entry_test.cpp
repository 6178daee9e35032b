// Exception entry and return as ARMv7-M defines them: the frame on the
// stack in use, EXC_RETURN, the return's checks, the local monitor.
#include "tests/emulator/program.h"

namespace {

using namespace emulator_test;

TEST(ExceptionEntry, FromThreadModeOnTheProcessStack) {
  // FP state live (FPCCR.ASPEN at reset): EXC_RETURN 0xFFFFFFED, a 26-word
  // frame on the PSP; the handler runs on the MSP with CONTROL 0; the
  // return gives back SPSEL and FPCA (CONTROL 6).
  const Ending fp = runProgram("entry");
  EXPECT_EQ(fp.r[0], 0xFFFFFFEDU) << fp.failure;
  EXPECT_EQ(fp.r[1], 0U);
  EXPECT_EQ(fp.r[2], 0x20004000U - 26 * 4);
  EXPECT_EQ(fp.r[3], 6U);
  // ASPEN clear: the FP instruction leaves FPCA clear, so the frame is
  // basic and EXC_RETURN 0xFFFFFFFD.
  const Ending basic = runProgram("entry_aspen_off");
  EXPECT_EQ(basic.r[0], 0xFFFFFFFDU) << basic.failure;
  EXPECT_EQ(basic.r[2], 0x20004000U - 8 * 4);
  EXPECT_EQ(basic.r[3], 2U);
}

TEST(ExceptionEntry, NestedAndItsReturnRules) {
  // The inner handler (priority 0x20 over 0x80) sees EXC_RETURN 0xFFFFFFF1
  // and IPSR 17; the outer goes on after it.
  const Ending nested = runProgram("nested");
  EXPECT_EQ(nested.r[0], 0xFFFFFFF1U) << nested.failure;
  EXPECT_EQ(nested.r[1], 17U);
  EXPECT_EQ(nested.r[2], 1U);
  // Returning to thread mode with the outer handler still active is an
  // INVPC UsageFault; with no UsageFault handler enabled it escalates.
  const Ending bad = runProgram("nested_bad_return");
  EXPECT_NE(bad.failure.find("INVPC"), std::string::npos) << bad.failure;
  const Ending handled = runProgram("nested_bad_return", withFaultHandlers());
  EXPECT_NE(handled.failure.find("lockup"), std::string::npos) << handled.failure;
  bool escalated = false;
  for (const auto& [time, text] : handled.outcome.notes()) {
    escalated = escalated || text.rfind("HardFault (escalated from UsageFault): exception return with EXC_RETURN 0xfffffff9", 0) == 0;
  }
  EXPECT_TRUE(escalated) << handled.outcome.text();
}

TEST(ExceptionEntry, ClearsTheMonitorAndReturnClearsFaultmask) {
  const Ending ending = runProgram("exclusive");
  EXPECT_EQ(ending.r[0], 0U) << ending.failure;  // LDREX, STREX: stored
  EXPECT_EQ(ending.r[1], 1U);                    // an exception between: not stored
  EXPECT_EQ(ending.r[3], 1U);                    // CPSID F set FAULTMASK in the handler
  EXPECT_EQ(ending.r[2], 0U);                    // and the return cleared it
}

}  // namespace
