// The field soak, short: an hour of the wearer's life against the field
// modem for two seeds under each busy policy. Every emergency press made
// outside a call reaches the caretaker, by a call or by the SOS text; with
// the network up no report, radius or text is lost.
#include <gtest/gtest.h>

#include "sim/runner/field_soak.h"
#include "sim/runner/tracker_firmware.h"

namespace {

using namespace sim;

class FieldSoak : public testing::TestWithParam<peers::BusyPolicy> {};

TEST_P(FieldSoak, NoPressIsLost) {
  for (uint64_t seed = 1; seed <= 2; ++seed) {
    SoakPlan plan;
    plan.seed = seed;
    plan.length = seconds(3600);
    plan.busy = GetParam();
    const Scenario scenario = soakScenario(plan);
    const nlohmann::json summary =
        soakSummary(scenario, playScenario(scenario, runTrackerFirmware, testing::TempDir()));
    ASSERT_TRUE(summary["ok"].get<bool>()) << summary["failure"];
    const auto& totals = summary["totals"];
    EXPECT_GT(totals["presses"].get<int>(), 0) << seed;
    EXPECT_EQ(totals["lost"].get<int>(), 0) << seed << " " << summary["presses"].dump();
    // With the network up: every report window outside calls got its text,
    // every radius fetch its radius, every caretaker's text reached the chip.
    EXPECT_EQ(totals["reports_delivered"], totals["reports_expected"]) << seed;
    EXPECT_GT(totals["reports_expected"].get<int>(), 60) << seed;
    EXPECT_EQ(totals["radius_got"], totals["radius_asked"]) << seed;
    EXPECT_FALSE(totals["first_radius_at"].is_null()) << seed;
    EXPECT_EQ(totals["caretaker_texts_seen"], totals["caretaker_texts"]) << seed;
    EXPECT_GT(totals["caretaker_texts_seen"].get<int>(), 0) << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(Policies, FieldSoak,
                         testing::Values(peers::BusyPolicy::Queue, peers::BusyPolicy::Drop, peers::BusyPolicy::Error));

}  // namespace
