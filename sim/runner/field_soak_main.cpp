// Runs the tracker's host build through hours of the field soak for a few
// seeds under each busy policy, prints what the wearer and the caretaker
// got, and writes it all to summary.json.
//
//   field_soak [--seeds N] [--hours H] [--busy queue|drop|error|all]
//              [--profile field|lenient] [--out FOLDER] [--outputs]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/runner/field_soak.h"
#include "sim/runner/tracker_firmware.h"

int main(int argc, char** argv) {
  using namespace sim;
  CLI::App app("The tracker against the field's modem and network, for hours, and what it delivered.");
  unsigned seeds = 3;
  double hours = 2;
  std::string busy = "all";
  std::string profile = "field";
  std::string out = "build/soak";
  app.add_option("--seeds", seeds, "how many seeds, from 1")->check(CLI::Range(1U, 1000U));
  app.add_option("--hours", hours, "virtual hours a run")->check(CLI::Range(0.05, 240.0));
  app.add_option("--busy", busy, "the modem's busy-line policy")->check(CLI::IsMember({"queue", "drop", "error", "all"}));
  app.add_option("--profile", profile, "the modem's profile")->check(CLI::IsMember({"field", "lenient"}));
  app.add_option("--out", out, "the folder for summary.json");
  bool outputs = false;
  app.add_flag("--outputs", outputs, "also each run's timeline, waveform, trace and report, in FOLDER/POLICY-SEED");
  CLI11_PARSE(app, argc, argv);

  const std::vector<std::pair<std::string, peers::BusyPolicy>> policies = {
      {"queue", peers::BusyPolicy::Queue}, {"drop", peers::BusyPolicy::Drop}, {"error", peers::BusyPolicy::Error}};
  nlohmann::json runs = nlohmann::json::array();
  std::filesystem::create_directories(out);
  std::printf("%-6s %4s  %-22s %-9s %-8s %-10s %-11s %-8s %s\n", "busy", "seed", "presses: dial/conn/SOS", "talk s",
              "incoming", "reports", "radius (1st)", "texts", "lost");
  bool allOk = true;
  for (const auto& [name, policy] : policies) {
    if (busy != "all" && busy != name) {
      continue;
    }
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
      SoakPlan plan;
      plan.seed = seed;
      plan.length = static_cast<Time>(hours * 3600e12);
      plan.busy = policy;
      plan.field = profile == "field";
      const Scenario scenario = soakScenario(plan);
      const ScenarioResult result =
          outputs ? runScenario(scenario, runTrackerFirmware, std::filesystem::path(out) / (name + "-" + std::to_string(seed)))
                  : playScenario(scenario, runTrackerFirmware, out);
      nlohmann::json summary = soakSummary(scenario, result);
      summary["seed"] = seed;
      summary["busy"] = name;
      summary["profile"] = profile;
      summary["hours"] = hours;
      const nlohmann::json& total = summary["totals"];
      double talk = 0;
      for (const auto& press : summary["presses"]) {
        talk += press["talk_seconds"].get<double>();
      }
      size_t lost = 0;
      for (const auto& [line, count] : summary["lost_bytes"].items()) {
        lost += count.get<size_t>();
      }
      char radius[32];
      std::snprintf(radius, sizeof radius, "%d/%d (%s)", total["radius_got"].get<int>(), total["radius_asked"].get<int>(),
                    total["first_radius_at"].is_null() ? "never"
                                                       : (std::to_string(total["first_radius_at"].get<int>()) + " s").c_str());
      std::printf("%-6s %4llu  %2d: %2d / %2d / %2d        %-9.0f %2d/%-5d %4d/%-5d %-12s %2d/%-5d %zu%s\n", name.c_str(),
                  static_cast<unsigned long long>(seed), total["presses"].get<int>(), total["dialled"].get<int>(),
                  total["connected"].get<int>(), total["sos_texts"].get<int>(), talk, total["incoming_answered"].get<int>(),
                  total["incoming_calls"].get<int>(), total["reports_delivered"].get<int>(),
                  total["reports_expected"].get<int>(), radius, total["caretaker_texts_seen"].get<int>(),
                  total["caretaker_texts"].get<int>(), lost, summary["ok"].get<bool>() ? "" : "  FAULT");
      allOk = allOk && summary["ok"].get<bool>();
      runs.push_back(std::move(summary));
    }
  }
  std::ofstream(std::filesystem::path(out) / "summary.json") << nlohmann::json{{"runs", runs}}.dump(1) << "\n";
  std::printf("written: %s/summary.json\n", out.c_str());
  return allOk ? 0 : 1;
}
