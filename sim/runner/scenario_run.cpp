#include "sim/runner/scenario_run.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <sstream>

#include <httplib.h>

#include "server/access.h"
#include "server/http_daemon.h"
#include "server/page.h"
#include "server/report_server.h"
#include "server/store.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/host_line.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/peers/sim900.h"
#include "sim/runner/keyboard.h"
#include "sim/runner/outputs.h"
#include "sim/runner/waveform.h"

namespace sim {

std::string shownBytes(const std::string& bytes) {
  std::string text;
  for (unsigned char byte : bytes) {
    appendShownByte(text, byte);
  }
  return text;
}

namespace {

constexpr unsigned kWorldLine = 7;
// The keyboard's line when the host has the console's: one the firmware leaves unused.
constexpr unsigned kKeyboardSpareLine = 6;

// What the scenario does to the board, as timeline lines at their times:
// presses, faults, the fix lost and back, the heart's changes, the phone's
// calls and texts. On a line the firmware leaves unused, so the run itself
// is the same with it or without; with progress it also draws a bar on
// stderr, every virtual second.
class WorldInputs final : public UartDevice {
 public:
  WorldInputs(const Scenario& scenario, bool progress) : end_(scenario.length), progress_(progress) {
    const auto add = [&](Time at, std::string text) {
      if (at < end_) {
        inputs_.emplace_back(at, std::move(text));
      }
    };
    for (const Time at : scenario.presses) {
      add(at, "button pressed");
      add(at + milliseconds(300), "button released");
    }
    for (const auto& fault : scenario.faults) {
      add(fault.from, "network fault " + std::string(faultName(fault.kind)) + " begins");
      if (fault.to != kNever) {
        add(fault.to, "network fault " + std::string(faultName(fault.kind)) + " ends");
      }
    }
    if (!scenario.walk.empty()) {
      add(scenario.firstFix, "GPS first fix");
    }
    for (const auto& [from, to] : scenario.withoutFix) {
      add(from, "GPS fix lost");
      add(to, "GPS fix back");
    }
    for (const auto& [at, rate] : scenario.heartRates) {
      char text[48];
      std::snprintf(text, sizeof text, "heart rate %g beats a minute", rate);
      add(at, text);
    }
    for (const auto& call : scenario.phone.calls) {
      add(call.at, (call.number.empty() ? std::string("the caretaker") : call.number) + " calls");
    }
    for (const auto& text : scenario.phone.texts) {
      add(text.at, "the caretaker texts \"" + shownBytes(text.body) + "\"");
    }
    std::stable_sort(inputs_.begin(), inputs_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  void start(PeerLink& link) override {
    if (!inputs_.empty()) {
      link.wakeAfter(inputs_.front().first, kInput);
    }
    if (progress_) {
      wake(link, kProgress);
    }
  }
  void heard(PeerLink& /*link*/, uint8_t /*byte*/) override {}
  void wake(PeerLink& link, uint64_t tag) override {
    if (tag == kInput) {
      while (next_ < inputs_.size() && inputs_[next_].first <= link.now()) {
        link.recordInput(inputs_[next_++].second);
      }
      if (next_ < inputs_.size()) {
        link.wakeAfter(inputs_[next_].first - link.now(), kInput);
      }
      return;
    }
    constexpr int kWidth = 40;
    // The last second is drawn as done: the run ends before another wake.
    const Time now = link.now() + seconds(1) < end_ ? link.now() : end_;
    const int filled = end_ == 0 ? kWidth : static_cast<int>(now * kWidth / end_);
    std::fprintf(stderr, "\r[%s%s] %6.0f s done, %6.0f s left ", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), static_cast<double>(now) / 1e12,
                 static_cast<double>(end_ - now) / 1e12);
    if (now < end_) {
      link.wakeAfter(seconds(1), kProgress);
    } else {
      std::fprintf(stderr, "\n");
    }
  }

 private:
  static constexpr uint64_t kInput = 1;
  static constexpr uint64_t kProgress = 2;
  Time end_;
  bool progress_;
  std::vector<std::pair<Time, std::string>> inputs_;
  size_t next_ = 0;
};

// The report server of the run, on a free loopback port, in a process of
// its own: the board runs fork, and a forked process must not find a
// server's threads half-way in their locks.
class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& folder, int radius, const std::string& trackerKey) {
    int channel[2];
    if (pipe(channel) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(channel[0]);
      server::Store store(folder);
      store.setRadius(radius);
      store.setBenchClock();
      server::Access access(kSecret);
      server::ReportServer reports(store, access);
      if (!trackerKey.empty()) {
        reports.requireTrackerKey(trackerKey);
      }
      server::HttpDaemon daemon([&reports](const server::HttpRequest& request) { return reports.answer(request); });
      std::string error;
      const int port = daemon.listen("127.0.0.1", 0, error).value_or(0);
      if (write(channel[1], &port, sizeof port) != sizeof port || port == 0) {
        _exit(1);
      }
      close(channel[1]);
      // Until the run kills it.
      for (;;) {
        pause();
      }
    }
    close(channel[1]);
    if (pid_ < 0 || read(channel[0], &port_, sizeof port_) != sizeof port_) {
      port_ = 0;
    }
    close(channel[0]);
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }

  // The reports it stored, through its JSON.
  std::vector<server::StoredReport> reports() const {
    std::vector<server::StoredReport> stored;
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10);
    const auto answer = client.Get("/api/reports?limit=10000", {{"Authorization", std::string("Bearer ") + kSecret}});
    if (!answer || answer->status != 200) {
      return stored;
    }
    const nlohmann::json body = nlohmann::json::parse(answer->body);
    for (const auto& entry : body["reports"]) {
      server::StoredReport report{};
      report.id = entry["id"].get<int64_t>();
      report.receivedMs = entry["received"].get<int64_t>();
      report.pulse = entry["pulse"].get<int>();
      if (!entry["latitude"].is_null()) {
        report.latitude = entry["latitude"].get<double>();
        report.longitude = entry["longitude"].get<double>();
      }
      stored.push_back(report);
    }
    return stored;
  }

 private:
  static constexpr const char* kSecret = "the scenario's own";
  pid_t pid_ = -1;
  int port_ = 0;
};

// The wearer's GPS receiver.
peers::GpsReceiver receiverOf(const Scenario& scenario) {
  peers::GpsReceiver gps;
  if (!scenario.walk.empty()) {
    gps.walk(scenario.walk, scenario.speed).firstFixAfter(scenario.firstFix);
    for (const auto& [from, to] : scenario.withoutFix) {
      gps.withoutFix(from, to);
    }
    if (scenario.noise > 0) {
      gps.noise(scenario.noise, 1);
    }
  }
  return gps;
}

// The button's pin changes, as the waveform draws them.
std::vector<PinChange> pressesOf(const Scenario& scenario) {
  std::vector<PinChange> changes;
  for (Time at : scenario.presses) {
    const std::vector<PinChange> press = buttonPress(at);
    changes.insert(changes.end(), press.begin(), press.end());
  }
  return changes;
}

}  // namespace

bool ScenarioResult::passed() const {
  return outcome.ok() && std::none_of(expectations.begin(), expectations.end(), [](const ExpectationResult& checked) {
           return checked.verdict == ExpectationResult::Verdict::Failed;
         });
}

bool keptForTheReport(const Record& record) {
  switch (record.kind) {
    case RecordKind::UartSent:
    case RecordKind::UartReceived:
      return record.unit == 0 || record.unit == 4;
    case RecordKind::InterruptEnter:
    case RecordKind::InterruptExit:
      return false;
    default:
      return true;
  }
}

ScenarioResult playScenario(const Scenario& scenario, const FirmwareRun& firmware, const std::filesystem::path& folder,
                            bool progress, RecordSink sink) {
  HandlerHolds holds;
  Bench bench;
  bench.stream([&holds, sink = std::move(sink)](const Record& record, const Timeline& sofar) {
    holds.add(record);
    return !sink || sink(record, sofar);
  });
  bench.runFaultHandlers(scenario.faultHandlers);
  bench.realtime(scenario.realtime);
  const peers::GpsReceiver gps = receiverOf(scenario);
  if (!scenario.walk.empty()) {
    gps.attach(bench, scenario.length);
  }
  peers::PulseSensor heart(scenario.heartRate);
  for (const auto& [at, rate] : scenario.heartRates) {
    heart.rate(at, rate);
  }
  heart.noise(30, 1).attach(bench);
  for (const PinChange& change : pressesOf(scenario)) {
    bench.drive(change.pin, change.at, change.state);
  }
  if (scenario.debugServer) {
    DebugServer server = *scenario.debugServer;
    server.press = buttonPress(0);
    bench.debugServer(server);
  }
  peers::Sim900 modem(scenario.modem);
  modem.phone(scenario.phone);
  for (const auto& fault : scenario.faults) {
    modem.fault(fault.kind, fault.from, fault.to);
  }
  std::unique_ptr<ServerProcess> server;
  if (scenario.server == "real") {
    // Each run starts with an empty store, not the last run's reports.
    std::filesystem::remove_all(folder / "server-data");
    server = std::make_unique<ServerProcess>(folder / "server-data", scenario.radius, scenario.trackerKey);
    modem.httpServer("127.0.0.1", server->port(), true);
  } else if (scenario.server == "bench") {
    const int radius = scenario.radius;
    modem.http([radius](const peers::HttpRequest& request) {
      return peers::HttpResponse{200, request.method == "GET" ? "@" + std::to_string(radius) + "$" : "OK\n"};
    });
  }
  if (scenario.interactive) {
    modem.takesRequests();
  }
  const std::shared_ptr<peers::Sim900> running = modem.attach(bench);
  bench.uart(kWorldLine).device(std::make_shared<WorldInputs>(scenario, progress));
  if (scenario.interactive) {
    // On the console's line, unless the host has it.
    const bool console = std::none_of(scenario.hostLines.begin(), scenario.hostLines.end(),
                                      [](const auto& line) { return line.first == 0; });
    UartPeer& line = bench.uart(console ? 0 : kKeyboardSpareLine)
                         .device(std::make_shared<Keyboard>(STDIN_FILENO, STDERR_FILENO, running, console));
    for (const Pin led : {PF1, PF2, PF3}) {
      line.watch(led);
    }
  }
  for (const auto& [uart, port] : scenario.hostLines) {
    if (!peers::giveLineToHost(bench, uart, port)) {
      throw std::runtime_error("no terminal for UART" + std::to_string(uart));
    }
  }

  ScenarioResult result;
  result.outcome = firmware(bench, scenario);
  result.holds = std::move(holds);
  result.log = peers::ModemLog::from(result.outcome);
  if (server) {
    result.stored = server->reports();
  }
  return result;
}

std::string chooseOutputs(const std::string& list, std::vector<std::string>& chosen) {
  chosen.clear();
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    const std::string name = list.substr(start, end - start);
    if (std::find(std::begin(kOutputFiles), std::end(kOutputFiles), name) == std::end(kOutputFiles)) {
      std::string names;
      for (const char* known : kOutputFiles) {
        names += std::string(names.empty() ? "" : ", ") + known;
      }
      return "\"" + shownBytes(name) + "\" is none of " + names;
    }
    if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) {
      chosen.push_back(name);
    }
    start = end + 1;
  }
  return {};
}

ScenarioResult runScenario(const Scenario& scenario, const FirmwareRun& firmware, const std::filesystem::path& folder,
                           bool progress, const OutputChoice& outputs) {
  std::filesystem::create_directories(folder);
  const auto chosen = [&outputs](std::string_view name) {
    return outputs.files.empty() || std::find(outputs.files.begin(), outputs.files.end(), name) != outputs.files.end();
  };
  const FirmwareRan ran = firmwareRan(scenario);

  // The outputs of every record, written as the run goes.
  std::map<std::string_view, std::ofstream> files;
  for (const char* name : {"timeline.txt", "trace.json", "waveform.vcd"}) {
    if (chosen(name)) {
      files[name].open(folder / name);
    }
  }
  std::string timelineText;
  const auto spillTimeline = [&] {
    files["timeline.txt"].write(timelineText.data(), static_cast<std::streamsize>(timelineText.size()));
    timelineText.clear();
  };
  std::optional<TraceWriter> trace;
  if (chosen("trace.json")) {
    trace.emplace(files["trace.json"]);
  }
  std::optional<WaveformWriter> waveform;
  if (chosen("waveform.vcd")) {
    waveform.emplace(files["waveform.vcd"], WaveformLines{{{0, 115200}, {2, 9600}, {4, 9600}, {5, 19200}},
                                                          pressesOf(scenario),
                                                          "tracker run of " + ran.what + " on the " + ran.board + " board",
                                                          outputs.vcdStepNanoseconds});
  }
  const bool timeline = chosen("timeline.txt");
  const auto sink = [&](const Record& record, const Timeline& sofar) {
    if (timeline) {
      sofar.appendLine(timelineText, record);
      timelineText += '\n';
      if (timelineText.size() >= (size_t{1} << 20)) {
        spillTimeline();
      }
    }
    if (trace) {
      trace->add(record);
    }
    if (waveform) {
      waveform->add(record);
    }
    return keptForTheReport(record);
  };
  ScenarioResult result = playScenario(scenario, firmware, folder, progress, sink);
  result.expectations = checkExpectations(scenario, result);
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  const std::vector<server::StoredReport>& stored = result.stored;
  const bool server = scenario.server == "real";

  std::string written;
  for (const char* name : kOutputFiles) {
    if (!chosen(name)) {
      continue;
    }
    if (progress) {
      std::fprintf(stderr, "\rwriting %-14s", name);
    }
    std::ofstream& file = files[name];
    if (!file.is_open()) {
      file.open(folder / name);
    }
    const std::string_view output(name);
    if (output == "timeline.txt") {
      spillTimeline();
    } else if (output == "waveform.vcd") {
      waveform->finish(run.end());
    } else if (output == "trace.json") {
      trace->finish(scenario, result);
    } else if (output == "report.html") {
      file << reportHtml(scenario, result, receiverOf(scenario));
    } else if (output == "summary.json") {
      file << runSummary(scenario, result).dump(1) << "\n";
    } else if (output == "console.txt") {
      file << consoleText(run);
    }
    file.close();
    written += std::string(written.empty() ? "" : " ") + name;
  }

  if (progress) {
    std::fprintf(stderr, "\r%-24s\r", "");
  }
  size_t alerts = 0;
  for (const auto& text : log.inbox()) {
    alerts += text.text == kAlert;
  }
  std::ostringstream summary;
  summary << (scenario.name.empty() ? "scenario" : scenario.name) << ": "
          << std::lround(static_cast<double>(run.end()) / 1e12) << " virtual s of " << ran.what << " on the "
          << ran.board << " board, "
          << (run.ok() ? "no fault" : run.failure()) << "\n"
          << "  " << counted(log.inbox().size(), "text") << " to the caretaker (" << counted(alerts, "alert") << "), "
          << counted(log.calls.size(), "call") << ", " << counted(log.http.size(), "HTTP request")
          << (server ? ", " + counted(stored.size(), "report") + " stored" : std::string()) << "\n"
          << "  written: " << (written.empty() ? "nothing" : written) << " in " << folder.string() << "\n";
  for (const ExpectationResult& checked : result.expectations) {
    summary << "  " << verdictWord(checked.verdict) << "  " << checked.line << "\n";
  }
  result.summary = summary.str();
  return result;
}

}  // namespace sim
