// The field soak: hours of the wearer's life against a modem and network as
// the field knows them, and what the wearer and the caretaker got from it.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

#include "sim/peers/sim900.h"
#include "sim/runner/scenario.h"
#include "sim/runner/scenario_run.h"

namespace sim {

struct SoakPlan {
  uint64_t seed = 1;
  Time length = seconds(7200);
  peers::BusyPolicy busy = peers::BusyPolicy::Drop;
  bool field = true;  // the field profile; false: the lenient modem
};

// The soak's world for a seed: the wearer walks out of the circle and back
// all along; emergency presses at random times; the caretaker and strangers
// call (the wearer presses to answer); the caretaker texts, radii among the
// texts; the network goes away for minutes; one brown-out.
[[nodiscard]] Scenario soakScenario(const SoakPlan& plan);

// Per press: dialled, connected, talk seconds, attempts, SOS text sent; per
// incoming call: answered; per report window: sent, delivered; per radius
// fetch: asked, got; per caretaker text: seen; bytes lost per line; and
// the totals of each, reports and fetches counted with the network up.
[[nodiscard]] nlohmann::json soakSummary(const Scenario& scenario, const ScenarioResult& result);

}  // namespace sim
