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
#include <nlohmann/json.hpp>
#include <sstream>

#include "server/access.h"
#include "server/page.h"
#include "server/report_server.h"
#include "server/store.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/peers/sim900.h"
#include "sim/runner/handlers.h"
#include "sim/runner/waveform.h"

namespace sim {

std::string shownBytes(const std::string& bytes) {
  std::string text;
  for (unsigned char byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", byte);
      text += hex;
    }
  }
  return text;
}

namespace {

// "1 call", "2 calls": every noun here takes an s.
std::string counted(size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

const char* const kAlert = "The target went beyond the limits.\r";
constexpr unsigned kProgressLine = 7;

double microseconds(Time time) { return static_cast<double>(time) / 1e6; }

// A bar on stderr, redrawn every virtual second from a line the firmware
// leaves unused, so the run itself is the same with it or without.
class ProgressBar final : public UartDevice {
 public:
  explicit ProgressBar(Time end) : end_(end) {}
  void start(PeerLink& link) override { wake(link, 0); }
  void heard(PeerLink& /*link*/, uint8_t /*byte*/) override {}
  void wake(PeerLink& link, uint64_t /*tag*/) override {
    constexpr int kWidth = 40;
    // The last second is drawn as done: the run ends before another wake.
    const Time now = link.now() + seconds(1) < end_ ? link.now() : end_;
    const int filled = end_ == 0 ? kWidth : static_cast<int>(now * kWidth / end_);
    std::fprintf(stderr, "\r[%s%s] %6.0f s done, %6.0f s left ", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), static_cast<double>(now) / 1e12,
                 static_cast<double>(end_ - now) / 1e12);
    if (now < end_) {
      link.wakeAfter(seconds(1), 0);
    } else {
      std::fprintf(stderr, "\n");
    }
  }

 private:
  Time end_;
};

// The report server of the run, on a free loopback port, in a process of
// its own: the board runs fork, and a forked process must not find a
// server's threads half-way in their locks.
class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& folder, int radius) {
    int channel[2];
    if (pipe(channel) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(channel[0]);
      server::Store store(folder);
      store.setRadius(radius);
      server::Access access(kSecret);
      server::ReportServer reports(store, access);
      const int port = reports.http().bind_to_any_port("127.0.0.1");
      if (write(channel[1], &port, sizeof port) != sizeof port) {
        _exit(1);
      }
      close(channel[1]);
      reports.http().listen_after_bind();
      _exit(0);
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

// The modem scripts the main loop ran, as spans: bytes to the modem sent
// outside the handlers that run scripts of their own, a script ending at a
// 3 s silence. Those handlers are the ones that hold the processor longer
// than a FIFO takes to drain; their last bytes leave the FIFO after they
// return, and stay theirs.
nlohmann::json foregroundScripts(const Outcome& run) {
  constexpr unsigned kModem = 4;
  constexpr Time kByte = 1041667 * 1000ULL;  // 10 bits at 9600 baud
  constexpr Time kFifoDrain = 17 * kByte;
  constexpr Time kSilence = seconds(3);
  std::vector<std::pair<Time, Time>> scriptingHandlers;
  std::map<unsigned, Time> entered;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptEnter) {
      entered[record.value] = record.time;
    } else if (record.kind == RecordKind::InterruptExit && entered.count(record.value) != 0) {
      if (record.time - entered[record.value] > kFifoDrain) {
        scriptingHandlers.emplace_back(entered[record.value], record.time + kFifoDrain);
      }
      entered.erase(record.value);
    }
  }
  std::sort(scriptingHandlers.begin(), scriptingHandlers.end());
  nlohmann::json spans = nlohmann::json::array();
  Time start = 0;
  Time last = 0;
  std::string text;
  const auto close = [&] {
    if (!text.empty()) {
      spans.push_back({{"name", shownBytes(text.substr(0, text.find('\r')))},
                       {"cat", "script"},
                       {"ph", "X"},
                       {"ts", microseconds(start)},
                       {"dur", microseconds(last - start)},
                       {"pid", 1},
                       {"tid", 0},
                       {"args", {{"bytes", shownBytes(text)}}}});
      text.clear();
    }
  };
  size_t handler = 0;
  for (const TimedByte& byte : run.sentBytes(kModem)) {
    while (handler < scriptingHandlers.size() && scriptingHandlers[handler].second < byte.time) {
      ++handler;
    }
    if (handler < scriptingHandlers.size() && scriptingHandlers[handler].first <= byte.time) {
      continue;
    }
    if (!text.empty() && byte.time - last > kSilence) {
      close();
    }
    if (text.empty()) {
      start = byte.time - kByte;
    }
    text.push_back(static_cast<char>(byte.byte));
    last = byte.time;
  }
  close();
  return spans;
}

nlohmann::json traceOf(const Outcome& run, const peers::ModemLog& log) {
  nlohmann::json events = nlohmann::json::array();
  std::map<unsigned, Time> entered;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptEnter) {
      entered[record.value] = record.time;
    } else if (record.kind == RecordKind::InterruptExit && entered.count(record.value) != 0) {
      const Time start = entered[record.value];
      events.push_back({{"name", handlerName(record.value)},
                        {"cat", "interrupt"},
                        {"ph", "X"},
                        {"ts", microseconds(start)},
                        {"dur", microseconds(record.time - start)},
                        {"pid", 1},
                        {"tid", record.value}});
      entered.erase(record.value);
    }
  }
  for (auto& script : foregroundScripts(run)) {
    events.push_back(std::move(script));
  }
  for (const auto& command : log.commands) {
    events.push_back({{"name", shownBytes(command.line)},
                      {"cat", "modem"},
                      {"ph", "i"},
                      {"s", "t"},
                      {"ts", microseconds(command.at)},
                      {"pid", 2},
                      {"tid", 1},
                      {"args", {{"answer", shownBytes(command.answer)}}}});
  }
  for (const auto& text : log.sent) {
    events.push_back({{"name", "SMS to " + text.to},
                      {"cat", "sms"},
                      {"ph", "i"},
                      {"s", "t"},
                      {"ts", microseconds(text.at)},
                      {"pid", 2},
                      {"tid", 2},
                      {"args", {{"text", shownBytes(text.text)}}}});
  }
  for (const auto& call : log.calls) {
    const Time end = call.end == kNever ? run.end() : call.end;
    events.push_back({{"name", std::string(call.outgoing ? "call to " : "call from ") + call.number},
                      {"cat", "call"},
                      {"ph", "X"},
                      {"ts", microseconds(call.start)},
                      {"dur", microseconds(end - call.start)},
                      {"pid", 2},
                      {"tid", 3},
                      {"args", {{"outcome", call.outcome}}}});
  }
  for (const auto& exchange : log.http) {
    events.push_back({{"name", exchange.request.method + " " + exchange.request.url},
                      {"cat", "http"},
                      {"ph", "i"},
                      {"s", "t"},
                      {"ts", microseconds(exchange.at)},
                      {"pid", 2},
                      {"tid", 4},
                      {"args", {{"status", exchange.response.status}}}});
  }
  nlohmann::json names = nlohmann::json::array();
  names.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 1}, {"args", {{"name", "processor"}}}});
  names.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 2}, {"args", {{"name", "modem and network"}}}});
  names.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 1}, {"tid", 0}, {"args", {{"name", "foreground"}}}});
  for (const HandlerName& handler : kTrackerHandlers) {
    names.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 1}, {"tid", handler.vector},
                     {"args", {{"name", handlerName(handler.vector)}}}});
  }
  for (auto& name : names) {
    events.push_back(name);
  }
  return {{"traceEvents", events}, {"displayTimeUnit", "ms"}};
}

const char* verdictWord(ExpectationResult::Verdict verdict) {
  using Verdict = ExpectationResult::Verdict;
  return verdict == Verdict::Passed ? "passed" : verdict == Verdict::Failed ? "FAILED" : "not measured";
}

std::string reportHtml(const Scenario& scenario, const ScenarioResult& result, const peers::GpsReceiver& gps) {
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  const std::vector<server::StoredReport>& stored = result.stored;
  using server::escapeHtml;
  std::ostringstream html;
  html << "<!doctype html><html><head><meta charset=\"utf-8\"><title>" << escapeHtml(scenario.name)
       << "</title><style>body{font-family:sans-serif;margin:1.5em}td,th{border:1px solid #bbb;padding:.2em .5em}"
          "table{border-collapse:collapse;margin-bottom:1em}tr.failed td{background:#fdd}</style></head><body>";
  html << "<h1>" << escapeHtml(scenario.name.empty() ? "Scenario" : scenario.name) << "</h1>";
  html << "<p id=\"outcome\">" << formatTime(run.end()) << " virtual seconds, "
       << (run.ok() ? "no fault" : escapeHtml(run.failure())) << ".</p>";
  if (!result.expectations.empty()) {
    html << "<h2>Expectations</h2><table id=\"expectations\"><tr><th>Verdict</th><th>Expected, and what was seen</th></tr>";
    for (const ExpectationResult& checked : result.expectations) {
      using Verdict = ExpectationResult::Verdict;
      html << "<tr class=\""
           << (checked.verdict == Verdict::Failed ? "failed" : checked.verdict == Verdict::Passed ? "passed" : "unmeasured")
           << "\"><td>" << verdictWord(checked.verdict) << "</td><td>" << escapeHtml(checked.line) << "</td></tr>";
    }
    html << "</table>";
  }
  // The track the GPS receiver reported, every 10 s, as the page draws it.
  std::vector<server::StoredReport> track;
  for (Time at = 0; at < scenario.length; at += seconds(10)) {
    if (const auto fix = gps.fixAt(at)) {
      server::StoredReport point{};
      point.latitude = fix->latitude;
      point.longitude = fix->longitude;
      track.push_back(point);
    }
  }
  html << "<h2>Track and geofence</h2>" << server::trackSvg(track, scenario.radius);
  html << "<h2>The caretaker's inbox</h2><table id=\"inbox\"><tr><th>At (s)</th><th>Text</th></tr>";
  size_t alerts = 0;
  for (const auto& text : log.inbox()) {
    alerts += text.text == kAlert;
    html << "<tr><td>" << formatTime(text.at) << "</td><td>" << escapeHtml(shownBytes(text.text)) << "</td></tr>";
  }
  html << "</table><p id=\"alerts\">" << counted(alerts, "alert") << " of leaving the circle.</p>";
  html << "<h2>Calls</h2><table id=\"calls\"><tr><th>At (s)</th><th>Direction</th><th>Outcome</th></tr>";
  for (const auto& call : log.calls) {
    html << "<tr><td>" << formatTime(call.start) << "</td><td>" << (call.outgoing ? "to " : "from ")
         << escapeHtml(call.number) << "</td><td>" << escapeHtml(call.outcome) << "</td></tr>";
  }
  html << "</table><h2>HTTP</h2><table id=\"http\"><tr><th>At (s)</th><th>Request</th><th>Status</th></tr>";
  for (const auto& exchange : log.http) {
    html << "<tr><td>" << formatTime(exchange.at) << "</td><td>" << escapeHtml(exchange.request.method + " " + exchange.request.url)
         << "</td><td>" << exchange.response.status << "</td></tr>";
  }
  html << "</table><h2>Reports the server stored</h2><table id=\"stored\"><tr><th>Latitude</th><th>Longitude</th><th>Pulse</th></tr>";
  for (const auto& report : stored) {
    html << "<tr><td>" << (report.latitude ? std::to_string(*report.latitude) : "") << "</td><td>"
         << (report.longitude ? std::to_string(*report.longitude) : "") << "</td><td>" << report.pulse << "</td></tr>";
  }
  // How long each handler held the processor at the longest, and the bytes
  // each line lost.
  std::map<unsigned, Time> entered;
  std::map<unsigned, Time> longest;
  std::map<unsigned, size_t> lost;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::InterruptEnter) {
      entered[record.value] = record.time;
    } else if (record.kind == RecordKind::InterruptExit) {
      longest[record.value] = std::max(longest[record.value], record.time - entered[record.value]);
    } else if (record.kind == RecordKind::UartLost) {
      ++lost[record.unit];
    }
  }
  html << "</table><h2>Handlers</h2><table id=\"handlers\"><tr><th>Handler</th><th>Longest hold (ms)</th></tr>";
  for (const auto& [vector, time] : longest) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(time) / 1e9);
    html << "<tr><td>" << escapeHtml(handlerName(vector)) << "</td><td>" << ms << "</td></tr>";
  }
  html << "</table><h2>Bytes lost</h2><table id=\"lost\"><tr><th>Line</th><th>Bytes</th></tr>";
  for (unsigned uart = 0; uart < 8; ++uart) {
    if (lost.count(uart) != 0) {
      html << "<tr><td>UART" << uart << "</td><td>" << lost[uart] << "</td></tr>";
    }
  }
  html << "</table></body></html>\n";
  return html.str();
}

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

ScenarioResult playScenario(const Scenario& scenario, const FirmwareRun& firmware, const std::filesystem::path& folder,
                            bool progress) {
  Bench bench;
  bench.runFaultHandlers(scenario.faultHandlers);
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
    server = std::make_unique<ServerProcess>(folder / "server-data", scenario.radius);
    modem.httpServer("127.0.0.1", server->port());
  } else if (scenario.server == "bench") {
    const int radius = scenario.radius;
    modem.http([radius](const peers::HttpRequest& request) {
      return peers::HttpResponse{200, request.method == "GET" ? "@" + std::to_string(radius) + "$" : "OK\n"};
    });
  }
  modem.attach(bench);
  if (progress) {
    bench.uart(kProgressLine).device(std::make_shared<ProgressBar>(scenario.length));
  }

  ScenarioResult result;
  result.outcome = firmware(bench, scenario);
  result.log = peers::ModemLog::from(result.outcome);
  if (server) {
    result.stored = server->reports();
  }
  return result;
}

ScenarioResult runScenario(const Scenario& scenario, const FirmwareRun& firmware, const std::filesystem::path& folder,
                           bool progress) {
  std::filesystem::create_directories(folder);
  ScenarioResult result = playScenario(scenario, firmware, folder, progress);
  result.expectations = checkExpectations(scenario, result);
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  const std::vector<server::StoredReport>& stored = result.stored;
  const peers::GpsReceiver gps = receiverOf(scenario);
  const bool server = scenario.server == "real";

  std::ofstream(folder / "timeline.txt") << run.text();
  {
    std::ofstream vcd(folder / "waveform.vcd");
    writeWaveform(vcd, run, {{{0, 115200}, {2, 9600}, {4, 9600}, {5, 19200}}, pressesOf(scenario)});
  }
  std::ofstream(folder / "trace.json") << traceOf(run, log).dump(1) << "\n";
  std::ofstream(folder / "report.html") << reportHtml(scenario, result, gps);

  size_t alerts = 0;
  for (const auto& text : log.inbox()) {
    alerts += text.text == kAlert;
  }
  std::ostringstream summary;
  summary << (scenario.name.empty() ? "scenario" : scenario.name) << ": " << std::lround(static_cast<double>(run.end()) / 1e12) << " virtual s, "
          << (run.ok() ? "no fault" : run.failure()) << "\n"
          << "  " << counted(log.inbox().size(), "text") << " to the caretaker (" << counted(alerts, "alert") << "), "
          << counted(log.calls.size(), "call") << ", " << counted(log.http.size(), "HTTP request")
          << (server ? ", " + counted(stored.size(), "report") + " stored" : std::string()) << "\n"
          << "  written: timeline.txt waveform.vcd trace.json report.html in " << folder.string() << "\n";
  for (const ExpectationResult& checked : result.expectations) {
    summary << "  " << verdictWord(checked.verdict) << "  " << checked.line << "\n";
  }
  result.summary = summary.str();
  return result;
}

}  // namespace sim
