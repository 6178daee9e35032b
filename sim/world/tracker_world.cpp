// The world a real tracker board is tested against, on serial ports: the
// SIM900 model with its network and the caretaker's phone, the report
// server, the GPS receiver walking the scenario's route, in real time.
//
//   tracker_world --scenario FILE --out FOLDER --modem PORT|pty [--gps PORT|pty] [--realtime FACTOR]
//
// The scenario's world sections are read ([wearer], [phone], [network],
// [modem], [server], [[expect]]); its firmware and button are the board's.
// The outputs are a run's: what crossed the wires. A port that closes ends
// the run there.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "sim/runner/scenario.h"
#include "sim/runner/outputs.h"
#include "sim/runner/scenario_run.h"
#include "sim/world/relay.h"

int main(int argc, char** argv) {
  CLI::App app(
      "The tracker's world for a real board, in real time, on serial ports: the SIM900 model with its network "
      "and the caretaker's phone (and the report server), and the GPS receiver. Wire the board's modem UART "
      "(UART4: PC4 RX, PC5 TX) to the --modem port and its GPS UART (UART2: PD6 RX, PD7 TX) to the --gps port, "
      "through 3.3 V adapters, ground to ground.");
  std::string scenarioFile;
  std::string out;
  std::string modem;
  std::string gps;
  double factor = 1;
  app.add_option("--scenario", scenarioFile, "the scenario whose world to run")->required()->check(CLI::ExistingFile);
  app.add_option("--out", out, "the folder for the run's outputs")->required();
  app.add_option("--modem", modem, "the modem's port: a serial port (/dev/ttyUSB0), pty (printed), or tcp:PORT")
      ->required();
  app.add_option("--gps", gps, "the GPS receiver's port, as --modem; without it the receiver is not on a wire");
  app.add_option("--realtime", factor, "times real time (above 1 only for a board that keeps up, such as the "
                                       "emulated one)")
      ->check(CLI::Range(0.01, 100.0))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  using namespace sim;
  Scenario scenario;
  try {
    scenario = readScenario(scenarioFile);
  } catch (const ScenarioError& error) {
    std::fprintf(stderr, "tracker_world: %s\n", error.what());
    return 2;
  }
  if (!scenario.presses.empty()) {
    std::fprintf(stderr, "tracker_world: the button is on the board; the scenario's presses are not made\n");
    scenario.presses.clear();
  }
  scenario.firmware = kRealBoard;
  scenario.realtime = factor;
  scenario.hostLines = {{world::kModemHostLine, modem}};
  if (!gps.empty()) {
    scenario.hostLines.emplace_back(world::kGpsHostLine, gps);
  }
  ScenarioResult result;
  try {
    result = runScenario(
        scenario, [](const Bench& bench, const Scenario& played) { return bench.run(world::relay, played.length); },
        out, false);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "tracker_world: %s\n", error.what());
    return 2;
  }
  std::fputs(result.summary.c_str(), stdout);
  return result.passed() ? 0 : 1;
}
