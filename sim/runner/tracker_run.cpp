// Runs the tracker firmware image on the simulated board and prints what a
// bench would see: the console, the modem line, or the whole timeline.
//
//   tracker_run [--seconds N] [--press S]... [--ring S]... [--radius M]
//               [--server HOST:PORT] [--firmware host|arm|ELF | --image ELF]
//               [--fault-handlers] [--gdb [HOST:]PORT [--gdb-no-wait]] [--vcd FILE] [--timeline] [--realtime [FACTOR]] [--uart N=pty|/dev/PORT|tcp:PORT]...
//   tracker_run --scenario FILE --out FOLDER [--outputs FILE,...] [--vcd-step NS] [--firmware host|arm|ELF] [--fault-handlers]
//               [--gdb [HOST:]PORT] [--interactive]
//   tracker_run --help
//
// Status 0: the run ended well; 1: a fault or a scenario's expectation not
// met; 2: a wrong option or scenario
// (nothing run, nothing written).
//
// The wearer walks north from 41.015137, 28.979530 at 5 m/s for 500 m and
// back, twice, with a GPS receiver on UART2 (first fix after 5 s, a few
// metres of noise); the pulse sensor shows 72 beats a minute; a SIM900 on
// UART4 with the caretaker's phone behind it (it answers after two rings).
// --press S:  the emergency button pressed at S seconds, for 300 ms.
// --ring S:   the caretaker calls the module at S seconds, for 20 s of
//             ringing and 15 s of talk once answered.
// --radius M: the radius the bench's server answers, in metres (default 250).
// --server HOST:PORT: the modem's HTTP requests go to a real report server.
// --firmware arm: the target build's ARM image on the emulated board, instead
//             of the host build of the same firmware; found beside this
//             program or in its build tree. --image ELF: another image.
// --fault-handlers: on the emulated board a fault is taken by the image's
//             handler (escalated as the architecture says) and noted,
//             instead of ending the run where it happened.
// --gdb [HOST:]PORT: a GDB remote server on the emulated board; the world
//             stands still while the image is halted.
// --vcd FILE: the LEDs, the button and the UART lines at bit level as a
//             waveform (Value Change Dump).
// --scenario FILE --out FOLDER: the run a scenario file describes; the
//             folder gets summary.json, console.txt, report.html,
//             trace.json, timeline.txt and waveform.vcd (--outputs: those
//             listed), the terminal a summary and the verdict of each of
//             the file's expectations; --firmware runs that firmware
//             whatever the file names.
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "boards/startup/vector_table.h"
#include "platform/hw.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/peers/sim900.h"
#include "sim/runner/outputs.h"
#include "sim/runner/scenario_run.h"
#include "sim/peers/host_line.h"
#include "sim/runner/keyboard.h"
#include "sim/runner/tracker_firmware.h"
#include "sim/runner/waveform.h"
#include "sim/sim.h"

namespace {

void printLine(const char* title, const std::string& bytes) {
  std::printf("== %s ==\n%s\n", title, sim::lineText(bytes).c_str());
}

int runScenarioFile(const std::string& file, const std::string& folder, const std::string& firmware, bool faultHandlers,
                    const std::optional<sim::DebugServer>& debugServer, const sim::OutputChoice& outputs,
                    double realtime, const std::vector<std::pair<unsigned, std::string>>& hostLines,
                    bool interactive) {
  using namespace sim;
  Scenario scenario;
  try {
    scenario = readScenario(file);
  } catch (const ScenarioError& error) {
    std::fprintf(stderr, "tracker_run: %s\n", error.what());
    return 2;
  }
  if (!firmware.empty()) {
    scenario.firmware = firmware;
  }
  if (scenario.firmware == "arm") {
    scenario.firmware = armImage();  // the outputs name the image that ran
    if (scenario.firmware.empty()) {
      std::fprintf(stderr, "tracker_run: firmware \"arm\": no image at %s or %s; cmake --build --preset tm4c123 builds it\n",
                   armImagePlaces()[0].c_str(), armImagePlaces()[1].c_str());
      return 2;
    }
  }
  scenario.faultHandlers = scenario.faultHandlers || faultHandlers;
  scenario.realtime = realtime;
  scenario.hostLines = hostLines;
  scenario.interactive = interactive;
  if (interactive && scenario.realtime == 0) {
    scenario.realtime = 1;
  }
  if (debugServer) {
    scenario.debugServer = debugServer;
  }
  if (scenario.debugServer && scenario.firmware == "host") {
    std::fprintf(stderr, "tracker_run: a debugger needs the emulated board: --image, or firmware = \"arm\"\n");
    return 2;
  }
  // The keyboard puts the terminal in raw mode in the run's own process.
  termios terminal{};
  const bool restore = interactive && tcgetattr(STDIN_FILENO, &terminal) == 0;
  ScenarioResult result;
  try {
    result = runScenario(scenario, runTrackerFirmware, folder, isatty(STDERR_FILENO) != 0 && !interactive, outputs);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "tracker_run: %s\n", error.what());
    return 2;
  }
  if (restore) {
    tcsetattr(STDIN_FILENO, TCSANOW, &terminal);
    std::fputs("\n", stderr);
  }
  std::fputs(result.summary.c_str(), stdout);
  return result.passed() ? 0 : 1;
}

// HOST:PORT, the port a number from 1 to 65535.
std::string hostAndPort(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return "HOST:PORT is needed";
  }
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoul(port) == 0 || std::stoul(port) > 65535) {
    return "the port must be a number from 1 to 65535";
  }
  return {};
}

// host, arm, or the path of an ELF file.
std::string firmwareName(const std::string& text) {
  if (text == "host" || text == "arm") {
    return {};
  }
  if (!sim::isElfImage(text)) {
    return "host, arm, or the path of an ELF image: " + text + " is no ELF image";
  }
  return {};
}

// [HOST:]PORT of the GDB server; port 0 lets the system pick one.
std::string debugAddress(const std::string& text) {
  const size_t colon = text.rfind(':');
  const std::string port = text.substr(colon == std::string::npos ? 0 : colon + 1);
  if (port == "0") {
    return colon == 0 ? "HOST:PORT or PORT is needed" : "";
  }
  return hostAndPort(colon == std::string::npos ? "127.0.0.1:" + text : text);
}

sim::DebugServer debugServerAt(const std::string& text, bool wait) {
  sim::DebugServer server;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    server.host = text.substr(0, colon);
  }
  server.port = static_cast<uint16_t>(std::stoul(text.substr(colon == std::string::npos ? 0 : colon + 1)));
  server.wait = wait;
  server.press = sim::buttonPress(0);
  return server;
}

// A file the run may write: not a folder, in a folder that exists.
std::string writableFile(const std::string& path) {
  const std::filesystem::path file(path);
  if (std::filesystem::is_directory(file)) {
    return "a file is needed, not a folder: " + path;
  }
  const std::filesystem::path parent = file.parent_path().empty() ? "." : file.parent_path();
  return std::filesystem::is_directory(parent) ? std::string() : "no such folder: " + parent.string();
}

// The output folder: a folder or nothing yet, in a folder that exists.
std::string outputFolder(const std::string& path) {
  const std::filesystem::path folder(path);
  if (std::filesystem::exists(folder) && !std::filesystem::is_directory(folder)) {
    return "a folder is needed, and this is a file: " + path;
  }
  const std::filesystem::path parent = folder.parent_path().empty() ? "." : folder.parent_path();
  return std::filesystem::is_directory(parent) ? std::string() : "no such folder: " + parent.string();
}

std::string outsideTheRun(double at, double length) {
  char text[96];
  std::snprintf(text, sizeof text, "%g s is not inside the run of %g s", at, length);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  CLI::App app("Runs the tracker firmware on the simulated board (or its ARM image on the emulated board) in a\n"
               "world of a GPS receiver, a pulse sensor and a SIM900 with the caretaker's phone, and prints\n"
               "what a bench would see; or runs a scenario file.",
               "tracker_run");
  double length = 45;
  std::vector<double> presses;
  std::vector<double> rings;
  int radius = 250;
  std::string server;
  std::string image;
  std::string vcd;
  bool timeline = false;
  std::string scenarioFile;
  std::string out;
  auto* lengthOption = app.add_option("--seconds", length, "virtual seconds to run")
                           ->check(CLI::Range(0.001, 1e6))
                           ->capture_default_str();
  auto* pressOption = app.add_option("--press", presses, "the emergency button pressed at S seconds, for 300 ms (repeatable)")
                          ->check(CLI::NonNegativeNumber)
                          ->allow_extra_args(false);
  auto* ringOption = app.add_option("--ring", rings,
                                    "the caretaker calls at S seconds: 20 s of ringing, 15 s of talk (repeatable)")
                         ->check(CLI::NonNegativeNumber)
                         ->allow_extra_args(false);
  auto* radiusOption = app.add_option("--radius", radius, "the radius in metres the bench's server answers")
                           ->check(CLI::Range(1, 9999))
                           ->capture_default_str();
  auto* serverOption = app.add_option("--server", server, "HOST:PORT of a real report server for the modem's HTTP")
                           ->check(CLI::Validator(hostAndPort, "HOST:PORT"));
  auto* imageOption =
      app.add_option("--image", image, "run this ARM image (ELF) on the emulated board instead of the host build")
          ->check(CLI::ExistingFile);
  std::string firmware;
  app.add_option("--firmware", firmware,
                 "host (the host build in this program), arm (the target build's image, found beside this program "
                 "or in its build tree) or an ELF file; with --scenario it overrides the file's firmware")
      ->check(CLI::Validator(firmwareName, "host|arm|ELF"))
      ->excludes(imageOption);
  std::string realtime;
  auto* realtimeOption =
      app.add_option("--realtime", realtime,
                     "[FACTOR] keep virtual time to the wall clock, FACTOR times as fast (default 1; a number above "
                     "0 up to 1000); a run that falls more than 10 ms behind says so on stderr. Without it a run "
                     "goes as fast as the host can")
          ->expected(0, 1)
          ->check(CLI::Validator(
              [](std::string& text) {
                return text.empty() || (std::strtod(text.c_str(), nullptr) > 0 && std::strtod(text.c_str(), nullptr) <= 1000)
                           ? std::string()
                           : "a factor above 0, up to 1000";
              },
              "FACTOR"));
  std::vector<std::string> lineOwners;
  app.add_option("--uart", lineOwners,
                 "N=pty: UART N (0 to 7) on a pseudo-terminal of the host, its path printed at the start, for "
                 "screen, minicom or picocom; N=/dev/ttyUSB0: on that serial port (raw, 8N1, at the rate the "
                 "firmware sets); N=tcp:PORT: on a socket on the loopback (0: a port the system picks, printed). The bench's peer on that line (the modem on 4, the GPS on 2) is detached. Bytes "
                 "from the host reach the chip at the line's rate; N=pty@9600 keeps the host's side at 9600 baud whatever the "
                 "firmware sets (a device at the wrong rate). Best with --realtime")
      ->check(CLI::Validator(
          [](std::string& text) {
            const auto isPort = [](const std::string& digits) {
              return !digits.empty() && digits.size() <= 5 &&
                     digits.find_first_not_of("0123456789") == std::string::npos && std::stoul(digits) <= 65535;
            };
            const size_t at = text.find('@');
            const std::string line = text.substr(0, at);
            const std::string rate = at == std::string::npos ? "1200" : text.substr(at + 1);
            const bool rated = !rate.empty() && rate.size() <= 7 &&
                               rate.find_first_not_of("0123456789") == std::string::npos &&
                               std::stoul(rate) >= 300 && std::stoul(rate) <= 3000000;
            return line.size() >= 3 && line[0] >= '0' && line[0] <= '7' && line[1] == '=' && rated &&
                           (line.substr(2) == "pty" || line[2] == '/' ||
                            (line.compare(2, 4, "tcp:") == 0 && isPort(line.substr(6))))
                       ? std::string()
                       : "N=pty, N=/dev/PORT or N=tcp:PORT, N a UART from 0 to 7, and @RATE (300 to 3000000 "
                         "baud) to hold the host's side at a rate";
          },
          "N=pty"));
  bool interactive = false;
  auto* interactiveOption = app.add_flag(
      "--interactive", interactive,
      std::string("with --scenario: drive the run from this terminal, in real time (--realtime's factor, 1 by "
                  "default): ") + kKeyboardKeys + ". A status line shows the virtual time, the call, the LEDs "
                  "(red, blue, green) and the console's last line");
  bool faultHandlers = false;
  app.add_flag("--fault-handlers", faultHandlers,
               "on the emulated board, let the image's fault handlers take faults as the chip does (each noted in "
               "the timeline) instead of ending the run at the first fault");
  std::string gdb;
  bool gdbNoWait = false;
  auto* gdbOption =
      app.add_option("--gdb", gdb,
                     "[HOST:]PORT: a GDB server for gdb-multiarch on the emulated board, on the loopback unless a "
                     "host is given (port 0: one the system picks, printed); the board halts before its first "
                     "instruction until a debugger connects")
          ->check(CLI::Validator(debugAddress, "[HOST:]PORT"));
  app.add_flag("--gdb-no-wait", gdbNoWait,
               "with --gdb: run from reset at once; a debugger may connect at any time (Ctrl-C halts the board)")
      ->needs(gdbOption);
  auto* vcdOption = app.add_option("--vcd", vcd, "write the LEDs, the button and the UART lines as a waveform (VCD)")
                        ->check(CLI::Validator(writableFile, "FILE"));
  auto* timelineOption = app.add_flag("--timeline", timeline, "print the whole timeline instead of the summary");
  auto* scenarioOption =
      app.add_option("--scenario", scenarioFile, "run this scenario file (with --out)")->check(CLI::ExistingFile);
  auto* outOption = app.add_option("--out", out, "the folder for a scenario's outputs")
                        ->check(CLI::Validator(outputFolder, "FOLDER"));
  OutputChoice outputs;
  std::string outputNames;
  for (const char* name : kOutputFiles) {
    outputNames += std::string(outputNames.empty() ? "" : ",") + name;
  }
  auto* outputsOption =
      app.add_option("--outputs", outputNames,
                     "with --scenario: the files to write, separated by commas (the VCD is the largest: leave it "
                     "out of a long run)")
          ->check(CLI::Validator([&outputs](std::string& list) { return chooseOutputs(list, outputs.files); }, "FILE,..."))
          ->capture_default_str();
  outputsOption->needs(scenarioOption);
  app.add_option("--vcd-step", outputs.vcdStepNanoseconds,
                 "the waveform's time step in ns: 1, 10, 100, 1000 (still resolves 115200 baud) or 10000 (the "
                 "9600-baud lines and the pins only); coarser is quicker for a viewer to read")
      ->check(CLI::IsMember(std::vector<uint32_t>(std::begin(kWaveformSteps), std::end(kWaveformSteps))))
      ->capture_default_str();
  scenarioOption->needs(outOption);
  interactiveOption->needs(scenarioOption);
  outOption->needs(scenarioOption);
  for (auto* direct : {lengthOption, pressOption, ringOption, radiusOption, serverOption, vcdOption, timelineOption}) {
    scenarioOption->excludes(direct);
  }
  try {
    app.parse(argc, argv);
    for (const auto& [name, times] : {std::pair{"--press", &presses}, std::pair{"--ring", &rings}}) {
      for (const double at : *times) {
        if (at >= length) {
          throw CLI::ValidationError(name, outsideTheRun(at, length));
        }
      }
    }
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "tracker_run: %s\n", error.what());
    std::fprintf(stderr, "Run with --help for the options.\n");
    return 2;
  }
  if (interactive && isatty(STDIN_FILENO) == 0) {
    std::fprintf(stderr, "tracker_run: --interactive takes its keys from a terminal; stdin is none\n");
    return 2;
  }
  std::vector<std::pair<unsigned, std::string>> hostLines;
  for (const std::string& owner : lineOwners) {
    hostLines.emplace_back(static_cast<unsigned>(owner[0] - '0'), owner.substr(2));
  }
  const double realtimeFactor =
      realtimeOption->count() == 0 ? 0 : realtime.empty() ? 1 : std::strtod(realtime.c_str(), nullptr);
  std::optional<DebugServer> debugServer;
  if (!gdb.empty()) {
    debugServer = debugServerAt(gdb, !gdbNoWait);
  }
  if (!image.empty()) {
    firmware = image;
  }
  if (!scenarioFile.empty()) {
    return runScenarioFile(scenarioFile, out, firmware, faultHandlers, debugServer, outputs, realtimeFactor, hostLines,
                           interactive);
  }
  if (firmware == "arm") {
    image = armImage();
    if (image.empty()) {
      std::fprintf(stderr, "tracker_run: --firmware arm: no image at %s or %s; cmake --build --preset tm4c123 builds it\n",
                   armImagePlaces()[0].c_str(), armImagePlaces()[1].c_str());
      return 2;
    }
  } else if (firmware != "host") {
    image = firmware;
  }
  if (debugServer && image.empty()) {
    std::fprintf(stderr, "tracker_run: --gdb needs the emulated board: --image ELF\n");
    return 2;
  }
  const auto toTime = [](double at) { return static_cast<Time>(std::llround(at * 1e6)) * microseconds(1); };
  const Time end = toTime(length);
  Bench bench;
  bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
  bench.runFaultHandlers(faultHandlers);
  bench.realtime(realtimeFactor);
  if (debugServer) {
    bench.debugServer(*debugServer);
  }
  peers::PulseSensor(72).noise(40, 1).attach(bench);
  peers::CaretakerPhone phone;
  for (const double at : presses) {
    for (const PinChange& change : buttonPress(toTime(at))) {
      bench.drive(change.pin, change.at, change.state);
    }
  }
  for (const double at : rings) {
    phone.calls.push_back({toTime(at), seconds(20), seconds(15)});
  }
  const peers::Position home{41.015137, 28.979530};
  const peers::Position away{home.latitude + 500 / (60 * 1.1515 * 1.609344 * 1000), home.longitude};
  peers::GpsReceiver gps;
  gps.walk({home, away, home, away, home}, 5).firstFixAfter(seconds(5)).noise(3, 1);
  gps.attach(bench, end);
  peers::Sim900 modem;
  modem.phone(phone);
  const size_t colon = server.rfind(':');
  if (colon != std::string::npos) {
    modem.httpServer(server.substr(0, colon), std::atoi(server.c_str() + colon + 1));
  } else {
    modem.http([radius](const peers::HttpRequest& request) {
      return peers::HttpResponse{200, request.method == "GET" ? "@" + std::to_string(radius) + "$" : "OK\n"};
    });
  }
  modem.attach(bench);
  std::vector<std::shared_ptr<peers::HostLine>> terminals;
  for (const auto& [uart, port] : hostLines) {
    terminals.push_back(peers::giveLineToHost(bench, uart, port));
    if (!terminals.back()) {
      return 2;
    }
  }
  const Outcome run = image.empty() ? bench.run(ResetISR, end) : bench.runImage(image, end);
  if (!vcd.empty()) {
    std::ofstream file(vcd);
    // The console, the GPS receiver, the modem and the camera link.
    writeWaveform(file, run,
                  {{{0, 115200}, {2, 9600}, {4, 9600}, {5, 19200}},
                   bench.pinChanges(),
                   image.empty() ? "tracker run of the host build on the simulated board"
                                 : "tracker run of ARM image " + image + " on the emulated board",
                   outputs.vcdStepNanoseconds});
  }
  if (timeline) {
    std::fputs(run.text().c_str(), stdout);
  } else {
    printLine("console (UART0)", run.sent(0));
    printLine("modem line (UART4)", run.sent(4));
    const peers::ModemLog log = peers::ModemLog::from(run);
    std::printf("== the caretaker's inbox ==\n");
    for (const auto& text : log.inbox()) {
      std::printf("%s  %s\n", formatTime(text.at).c_str(), sim::shownBytes(text.text).c_str());
    }
    std::printf("== calls ==\n");
    for (const auto& call : log.calls) {
      std::printf("%s  %s %s, %s\n", formatTime(call.start).c_str(), call.outgoing ? "to" : "from",
                  call.number.c_str(), call.outcome.c_str());
    }
    std::printf("== HTTP ==\n");
    for (const auto& exchange : log.http) {
      std::printf("%s  %s %s -> %d %s\n", formatTime(exchange.at).c_str(), exchange.request.method.c_str(),
                  exchange.request.url.c_str(), exchange.response.status,
                  sim::shownBytes(exchange.response.body).c_str());
    }
    if (const auto stack = run.stack()) {
      std::printf("== stack: %u of %u bytes at the deepest ==\n", stack->first, stack->second);
    }
    std::printf("== ended at %s s ==\n", formatTime(run.end()).c_str());
  }
  if (!run.ok()) {
    std::fprintf(stderr, "%s\n", run.failure().c_str());
    return 1;
  }
  return 0;
}
