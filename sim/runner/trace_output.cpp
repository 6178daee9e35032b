// trace.json: each handler's runs on its own track, the main loop's modem
// scripts, and what the modem and the network did, as trace events. The
// handlers' runs, which are most of a long run's, are written as they end.
#include <algorithm>
#include <map>

#include "sim/runner/handlers.h"
#include "sim/runner/outputs.h"

namespace sim {

namespace {

double inMicroseconds(Time time) { return static_cast<double>(time) / 1e6; }

constexpr Time kByte = 1041667 * 1000ULL;  // 10 bits at 9600 baud
constexpr Time kFifoDrain = 17 * kByte;

// The modem scripts the main loop ran, as spans: bytes to the modem sent
// outside the handlers that run scripts of their own, a script ending at a
// 3 s silence. Those handlers are the ones that hold the processor longer
// than a FIFO takes to drain; their last bytes leave the FIFO after they
// return, and stay theirs.
nlohmann::json foregroundScripts(const Outcome& run, std::vector<std::pair<Time, Time>> scriptingHandlers) {
  constexpr unsigned kModem = 4;
  constexpr Time kSilence = seconds(3);
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
                       {"ts", inMicroseconds(start)},
                       {"dur", inMicroseconds(last - start)},
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

}  // namespace

TraceWriter::TraceWriter(std::ostream& out) : out_(out) { out_ << "{\"traceEvents\": [\n"; }

void TraceWriter::write(const nlohmann::json& event) {
  text_ += first_ ? "" : ",\n";
  text_ += event.dump();
  first_ = false;
  if (text_.size() >= (size_t{1} << 20)) {
    out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
  }
}

void TraceWriter::add(const Record& record) {
  if (record.kind == RecordKind::InterruptEnter) {
    entered_[record.value] = record.time;
  } else if (record.kind == RecordKind::InterruptExit && entered_.count(record.value) != 0) {
    const Time start = entered_[record.value];
    write({{"name", handlerName(record.value)},
           {"cat", "interrupt"},
           {"ph", "X"},
           {"ts", inMicroseconds(start)},
           {"dur", inMicroseconds(record.time - start)},
           {"pid", 1},
           {"tid", record.value}});
    if (record.time - start > kFifoDrain) {
      scriptingHandlers_.emplace_back(start, record.time + kFifoDrain);
    }
    entered_.erase(record.value);
  }
}

void TraceWriter::finish(const Scenario& scenario, const ScenarioResult& result) {
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  nlohmann::json events = nlohmann::json::array();
  for (auto& script : foregroundScripts(run, std::move(scriptingHandlers_))) {
    events.push_back(std::move(script));
  }
  // A moment's event on a track of a process.
  const auto instant = [&](const std::string& name, const char* category, Time at, int process, int track,
                           nlohmann::json args) {
    nlohmann::json event = {{"name", name}, {"cat", category}, {"ph", "i"},     {"s", "t"},
                            {"ts", inMicroseconds(at)}, {"pid", process}, {"tid", track}};
    if (!args.is_null()) {
      event["args"] = std::move(args);
    }
    events.push_back(std::move(event));
  };
  for (const auto& command : log.commands) {
    instant(shownBytes(command.line), "modem", command.at, 2, 1, {{"answer", shownBytes(command.answer)}});
  }
  for (const auto& text : log.sent) {
    instant((text.refused ? "SMS refused, to " : "SMS to ") + text.to, "sms", text.at, 2, 2,
            {{"text", shownBytes(text.text)}});
  }
  for (const auto& call : log.calls) {
    const Time end = call.end == kNever ? run.end() : call.end;
    events.push_back({{"name", std::string(call.outgoing ? "call to " : "call from ") + call.number},
                      {"cat", "call"},
                      {"ph", "X"},
                      {"ts", inMicroseconds(call.start)},
                      {"dur", inMicroseconds(end - call.start)},
                      {"pid", 2},
                      {"tid", 3},
                      {"args", {{"outcome", call.outcome}}}});
  }
  for (const auto& text : log.received) {
    instant("SMS from " + text.from, "sms", text.at, 2, 2, {{"text", shownBytes(text.text)}});
  }
  for (const auto& exchange : log.http) {
    instant(exchange.request.method + " " + exchange.request.url, "http", exchange.at, 2, 4,
            {{"status", exchange.response.status}});
  }
  // The world's side: the wearer's presses, the network's faults, the
  // receiver's time without a fix, and the LEDs the wearer sees.
  const auto span = [&](const std::string& name, const char* category, unsigned track, Time from, Time to) {
    events.push_back({{"name", name},
                      {"cat", category},
                      {"ph", "X"},
                      {"ts", inMicroseconds(from)},
                      {"dur", inMicroseconds(std::min(to, run.end()) - from)},
                      {"pid", 3},
                      {"tid", track}});
  };
  for (const Time at : scenario.presses) {
    instant("press", "button", at, 3, 1, nullptr);
  }
  for (const auto& fault : scenario.faults) {
    span(std::string(faultName(fault.kind)), "fault", 2, fault.from, fault.to == kNever ? run.end() : fault.to);
  }
  for (const auto& [from, to] : scenario.withoutFix) {
    span("no fix", "gps", 3, from, to);
  }
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::Pin && record.unit >= 8 * 5 + 1 && record.unit <= 8 * 5 + 3) {
      instant(pinName(record.unit) + (record.value != 0 ? " on" : " off"), "led", record.time, 3, 4, nullptr);
    }
  }
  nlohmann::json names = nlohmann::json::array();
  names.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 1}, {"args", {{"name", "processor"}}}});
  names.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 2}, {"args", {{"name", "modem and network"}}}});
  names.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 1}, {"tid", 0}, {"args", {{"name", "foreground"}}}});
  names.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 3}, {"args", {{"name", "wearer and world"}}}});
  for (const auto& [track, name] : std::vector<std::pair<int, const char*>>{
           {1, "button"}, {2, "network faults"}, {3, "GPS fix"}, {4, "LEDs (PF1 red, PF2 blue, PF3 green)"}}) {
    names.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 3}, {"tid", track}, {"args", {{"name", name}}}});
  }
  for (const HandlerName& handler : kTrackerHandlers) {
    names.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 1}, {"tid", handler.vector},
                     {"args", {{"name", handlerName(handler.vector)}}}});
  }
  for (auto& name : names) {
    events.push_back(name);
  }
  for (const auto& event : events) {
    write(event);
  }
  text_ += "\n], \"displayTimeUnit\": \"ms\"}\n";
  out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
  text_.clear();
}

}  // namespace sim
