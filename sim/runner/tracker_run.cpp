// Runs the tracker firmware image on the simulated board and prints what a
// bench would see: the console, the modem line, or the whole timeline.
//
//   tracker_run [--seconds N] [--press S]... [--ring S]... [--radius M] [--timeline]
//
// The wearer walks north from 41.015137, 28.979530 at 5 m/s for 500 m and
// back, twice, with a GPS receiver on UART2 (first fix after 5 s, a few
// metres of noise); the pulse sensor shows 72 beats a minute; the modem
// answers the radius request.
// --press S:  the emergency button pressed at S seconds, for 300 ms.
// --ring S:   the modem reports an incoming call at S seconds.
// --radius M: the radius the server answers, in metres (default 250).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "boards/startup/vector_table.h"
#include "platform/hw.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
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

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  Time end = seconds(45);
  bool timeline = false;
  Bench bench;
  bench.vectorTable(reinterpret_cast<const hw::Handler*>(g_pfnVectors.data()));
  peers::PulseSensor(72).noise(40, 1).attach(bench);
  std::string radius = "250";
  for (int index = 1; index < argc; ++index) {
    const std::string option = argv[index];
    const bool hasValue = index + 1 < argc;
    if (option == "--seconds" && hasValue) {
      end = seconds(std::strtoull(argv[++index], nullptr, 10));
    } else if (option == "--press" && hasValue) {
      bench.press(PF4, seconds(std::strtoull(argv[++index], nullptr, 10)), milliseconds(300), 3);
    } else if (option == "--ring" && hasValue) {
      bench.uart(4).send(seconds(std::strtoull(argv[++index], nullptr, 10)), "\r\nRING\r\n");
    } else if (option == "--radius" && hasValue) {
      radius = argv[++index];
    } else if (option == "--timeline") {
      timeline = true;
    } else {
      std::fprintf(stderr,
                   "usage: tracker_run [--seconds N] [--press S]... [--ring S]... [--radius M] [--timeline]\n");
      return 2;
    }
  }
  const peers::Position home{41.015137, 28.979530};
  const peers::Position away{home.latitude + 500 / (60 * 1.1515 * 1.609344 * 1000), home.longitude};
  peers::GpsReceiver gps;
  gps.walk({home, away, home, away, home}, 5).firstFixAfter(seconds(5)).noise(3, 1);
  gps.attach(bench, end);
  bench.uart(4).reply("AT+HTTPREAD\r\n",
                      "\r\n+HTTPREAD:" + std::to_string(radius.size() + 2) + "\r\n@" + radius + "$\r\nOK\r\n",
                      milliseconds(200));
  const Outcome run = bench.run(ResetISR, end);
  if (timeline) {
    std::fputs(run.text().c_str(), stdout);
  } else {
    printLine("console (UART0)", run.sent(0));
    printLine("modem line (UART4)", run.sent(4));
    std::printf("== ended at %s s ==\n", formatTime(run.end()).c_str());
  }
  if (!run.ok()) {
    std::fprintf(stderr, "%s\n", run.failure().c_str());
    return 1;
  }
  return 0;
}
