// A scenario: a run of the world and the firmware, written once in a TOML
// file. A bad file is refused whole with one error naming its line and field.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/peers/gps_receiver.h"
#include "sim/peers/sim900.h"
#include "sim/runner/expectation.h"
#include "sim/time.h"

namespace sim {

struct Scenario {
  std::string name;
  Time length = 0;
  // "host" (the firmware built for the host), "arm" (the target build's
  // image) or the path of an ELF image.
  std::string firmware = "host";
  // On the emulated board: faults taken by the image's handlers, as on the
  // chip, rather than ending the run where they happen.
  bool faultHandlers = false;
  double realtime = 0;
  // UARTs given to the host ("pty" or a serial port's path), their peers detached.
  std::vector<std::pair<unsigned, std::string>> hostLines;
  bool interactive = false;  // the runner's terminal drives the run (keys on stdin, status on stderr)  // virtual time kept to the wall clock, this many times as fast; 0: as fast as it runs
  // On the emulated board: a GDB server, halted at reset until a debugger
  // connects.
  std::optional<DebugServer> debugServer;

  // The wearer: where the GPS receiver puts them.
  std::vector<peers::Position> walk;
  double speed = 1.4;  // metres a second
  Time firstFix = 0;
  std::vector<std::pair<Time, Time>> withoutFix;
  double noise = 0;
  double heartRate = 72;
  std::vector<std::pair<Time, double>> heartRates;
  std::vector<Time> presses;

  // The modem: the field's (the default), or the lenient ideal one, with
  // its settings.
  peers::Sim900Settings modem = peers::Sim900Settings::field();
  peers::CaretakerPhone phone;
  struct Fault {
    peers::Sim900::Fault kind;
    Time from;
    Time to;
  };
  std::vector<Fault> faults;

  // "real": the report server, started on a free loopback port for the run;
  // "bench": a handler that answers the radius; "none": nothing answers.
  std::string server = "bench";
  int radius = 250;
  // The real server asks this key of the trackers (empty: none).
  std::string trackerKey;

  // What the run must show, checked after it.
  std::vector<Expectation> expectations;
};

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a scenario file; throws ScenarioError with "FILE:LINE: field: what".
// A network fault's kind by its name in a scenario file, and back.
inline constexpr std::pair<std::string_view, peers::Sim900::Fault> kFaultKinds[] = {
    {"no_network", peers::Sim900::Fault::NoNetwork},
    {"slow_network", peers::Sim900::Fault::SlowNetwork},
    {"server_unreachable", peers::Sim900::Fault::ServerUnreachable},
    {"bearer_dropped", peers::Sim900::Fault::BearerDropped},
    {"power_loss", peers::Sim900::Fault::PowerLoss},
    {"under_voltage", peers::Sim900::Fault::UnderVoltage},
    {"brown_out", peers::Sim900::Fault::BrownOut},
    {"texts_refused", peers::Sim900::Fault::TextsRefused},
};
std::string_view faultName(peers::Sim900::Fault kind);

// The file begins as an ELF file does.
bool isElfImage(const std::string& path);

Scenario readScenario(const std::string& path);
// The same from text, for tests; the name stands for the file in errors.
Scenario parseScenario(const std::string& text, const std::string& name);

}  // namespace sim
