// Runs the tracker firmware image on the simulated board and prints what a
// bench would see: the console, the modem line, or the whole timeline.
//
//   tracker_run [--seconds N] [--press S]... [--ring S]... [--radius M]
//               [--server HOST:PORT] [--image ELF] [--vcd FILE] [--timeline]
//   tracker_run --scenario FILE --out FOLDER [--image ELF]
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
// --image ELF: the target build's ARM image on the emulated board, instead of
//             the host build of the same firmware.
// --vcd FILE: the LEDs, the button and the UART lines at bit level as a
//             waveform (Value Change Dump).
// --scenario FILE --out FOLDER: the run a scenario file describes; the
//             folder gets timeline.txt, waveform.vcd, trace.json and
//             report.html, the terminal a summary; --image runs that
//             ARM image whatever firmware the scenario names.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <fstream>
#include <string>

#include "boards/startup/vector_table.h"
#include "platform/hw.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/peers/sim900.h"
#include "sim/runner/scenario_run.h"
#include "sim/runner/tracker_firmware.h"
#include "sim/runner/waveform.h"
#include "sim/sim.h"

namespace {

void printLine(const char* title, const std::string& bytes) {
  std::printf("== %s ==\n", title);
  for (unsigned char byte : bytes) {
    if (byte == '\n' || (byte >= 0x20 && byte < 0x7F)) {
      std::putchar(byte);
    } else if (byte != '\r') {
      std::printf("<%02X>", byte);
    }
  }
  std::printf("\n");
}

int runScenarioFile(const std::string& file, const std::string& folder, const std::string& image) {
  using namespace sim;
  Scenario scenario;
  try {
    scenario = readScenario(file);
  } catch (const ScenarioError& error) {
    std::fprintf(stderr, "tracker_run: %s\n", error.what());
    return 2;
  }
  if (!image.empty()) {
    scenario.firmware = image;
  }
  const ScenarioResult result = runScenario(scenario, runTrackerFirmware, folder, isatty(STDERR_FILENO) != 0);
  std::fputs(result.summary.c_str(), stdout);
  return result.outcome.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  if (argc > 1 && (std::string(argv[1]) == "--scenario" || std::string(argv[1]) == "--out")) {
    std::map<std::string, std::string> options;
    for (int index = 1; index + 1 < argc; index += 2) {
      options[argv[index]] = argv[index + 1];
    }
    if (argc % 2 == 0 || options.count("--scenario") == 0 || options.count("--out") == 0 ||
        options.size() != 2 + options.count("--image")) {
      std::fprintf(stderr, "usage: tracker_run --scenario FILE --out FOLDER [--image ELF]\n");
      return 2;
    }
    return runScenarioFile(options["--scenario"], options["--out"], options["--image"]);
  }
  Time end = seconds(45);
  bool timeline = false;
  Bench bench;
  bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
  peers::PulseSensor(72).noise(40, 1).attach(bench);
  std::string radius = "250";
  std::string server;
  std::string image;
  std::string vcd;
  peers::CaretakerPhone phone;
  for (int index = 1; index < argc; ++index) {
    const std::string option = argv[index];
    const bool hasValue = index + 1 < argc;
    if (option == "--seconds" && hasValue) {
      end = seconds(std::strtoull(argv[++index], nullptr, 10));
    } else if (option == "--press" && hasValue) {
      bench.press(PF4, seconds(std::strtoull(argv[++index], nullptr, 10)), milliseconds(300), 3);
    } else if (option == "--ring" && hasValue) {
      phone.calls.push_back({seconds(std::strtoull(argv[++index], nullptr, 10)), seconds(20), seconds(15)});
    } else if (option == "--radius" && hasValue) {
      radius = argv[++index];
    } else if (option == "--server" && hasValue) {
      server = argv[++index];
    } else if (option == "--image" && hasValue) {
      image = argv[++index];
    } else if (option == "--vcd" && hasValue) {
      vcd = argv[++index];
    } else if (option == "--timeline") {
      timeline = true;
    } else {
      std::fprintf(stderr,
                   "usage: tracker_run [--seconds N] [--press S]... [--ring S]... [--radius M] "
                   "[--server HOST:PORT] [--image ELF] [--vcd FILE] [--timeline]\n"
                   "       tracker_run --scenario FILE --out FOLDER [--image ELF]\n");
      return 2;
    }
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
      return peers::HttpResponse{200, request.method == "GET" ? "@" + radius + "$" : "OK\n"};
    });
  }
  modem.attach(bench);
  const Outcome run = image.empty() ? bench.run(ResetISR, end) : bench.runImage(image, end);
  if (!vcd.empty()) {
    std::ofstream file(vcd);
    // The console, the GPS receiver, the modem and the camera link.
    writeWaveform(file, run, {{{0, 115200}, {2, 9600}, {4, 9600}, {5, 19200}}, bench.pinChanges()});
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
