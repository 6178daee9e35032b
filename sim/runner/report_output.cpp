// report.html: the run on one page, for people.
#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "server/page.h"
#include "sim/runner/handlers.h"
#include "sim/runner/outputs.h"

namespace sim {

namespace {

// Long runs of lines alike but for their digits (the pulse sensor's
// readings, a poll repeated) shown as their first two and a count.
std::string foldedConsole(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (end > start) {
      lines.push_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  const auto shape = [](std::string line) {
    std::replace_if(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; }, '#');
    return line;
  };
  constexpr size_t kKept = 2;
  constexpr size_t kFoldFrom = 5;
  std::string folded;
  for (size_t index = 0; index < lines.size();) {
    size_t run = 1;
    while (index + run < lines.size() && shape(lines[index + run]) == shape(lines[index])) {
      ++run;
    }
    const size_t shown = run >= kFoldFrom ? kKept : run;
    for (size_t line = 0; line < shown; ++line) {
      folded += lines[index + line] + "\n";
    }
    if (shown < run) {
      folded += "  ... " + std::to_string(run - shown) + " more like these\n";
    }
    index += run;
  }
  return folded;
}

}  // namespace

const char* verdictWord(ExpectationResult::Verdict verdict) {
  using Verdict = ExpectationResult::Verdict;
  return verdict == Verdict::Passed ? "passed" : verdict == Verdict::Failed ? "FAILED" : "not measured";
}

void HandlerHolds::add(const Record& record) {
  if (record.kind == RecordKind::InterruptEnter) {
    entered[record.value] = record.time;
  } else if (record.kind == RecordKind::InterruptExit) {
    HandlerHold& hold = byVector[record.value];
    hold.longest = std::max(hold.longest, record.time - entered[record.value]);
    ++hold.entries;
  }
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
  const FirmwareRan ran = firmwareRan(scenario);
  html << "<p id=\"outcome\">" << clockTime(run.end()) << " of virtual time, "
       << (run.ok() ? "no fault" : escapeHtml(run.failure())) << ".</p>";
  html << "<p id=\"firmware\">Firmware: " << escapeHtml(ran.what) << " on the " << ran.board << " board.</p>";
  html << "<h2>What happened when</h2>" << timeChart(scenario, result);
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
  // A circle for each radius the firmware took; the scenario's until it
  // took one.
  const std::vector<RadiusHeld> held = radiiHeld(run);
  std::vector<int> radii;
  std::string radiusWords;
  for (const RadiusHeld& radius : held) {
    radii.push_back(radius.metres);
    radiusWords += (radiusWords.empty() ? "" : ", then ") + std::to_string(radius.metres) + " m (" + radius.how +
                   " at " + clockTime(radius.at) + ")";
  }
  if (radii.empty()) {
    radii.push_back(scenario.radius);
    radiusWords = "none taken by the firmware; the circle drawn is the server's " + std::to_string(scenario.radius) + " m";
  }
  html << "<h2>Track and geofence</h2>" << server::trackSvg(track, radii) << "<p id=\"radii\">Radii: "
       << escapeHtml(radiusWords) << ". The circle is drawn around the first position of the track.</p>";
  html << "<h2>Texts the module sent</h2><table id=\"inbox\"><tr><th>At</th><th>Text</th><th>To</th><th>Network</th></tr>";
  size_t alerts = 0;
  for (const auto& text : log.sent) {
    alerts += text.toCaretaker && !text.refused && text.text == kAlert;
    html << "<tr" << (text.refused ? " class=\"failed\"" : "") << "><td>" << clockTime(text.at) << "</td><td>"
         << escapeHtml(shownBytes(text.text)) << "</td><td>" << escapeHtml(text.to) << "</td><td>"
         << (text.refused ? "refused" : "delivered") << "</td></tr>";
  }
  html << "</table><p id=\"alerts\">" << counted(alerts, "alert") << " of leaving the circle.</p>";
  html << "<h2>Texts to the module</h2><table id=\"to-module\"><tr><th>At</th><th>From</th><th>Text</th></tr>";
  for (const auto& text : log.received) {
    html << "<tr><td>" << clockTime(text.at) << "</td><td>" << escapeHtml(text.from) << "</td><td>"
         << escapeHtml(shownBytes(text.text)) << "</td></tr>";
  }
  html << "</table>";
  html << "<h2>Calls</h2><table id=\"calls\"><tr><th>At</th><th>Direction</th><th>Outcome</th></tr>";
  for (const auto& call : log.calls) {
    html << "<tr><td>" << clockTime(call.start) << "</td><td>" << (call.outgoing ? "to " : "from ")
         << escapeHtml(call.number) << "</td><td>" << escapeHtml(call.outcome) << "</td></tr>";
  }
  html << "</table><h2>HTTP</h2><table id=\"http\"><tr><th>At</th><th>Request</th><th>Status</th></tr>";
  for (const auto& exchange : log.http) {
    html << "<tr><td>" << clockTime(exchange.at) << "</td><td>" << escapeHtml(exchange.request.method + " " + exchange.request.url)
         << "</td><td>" << exchange.response.status << "</td></tr>";
  }
  html << "</table><h2>Reports the server stored</h2><table id=\"stored\"><tr><th>Received</th><th>Latitude</th><th>Longitude</th><th>Pulse</th></tr>";
  for (const auto& report : stored) {
    html << "<tr><td>" << clockTime(report.receivedMs * milliseconds(1)) << "</td><td>"
         << (report.latitude ? std::to_string(*report.latitude) : "") << "</td><td>"
         << (report.longitude ? std::to_string(*report.longitude) : "") << "</td><td>" << report.pulse << "</td></tr>";
  }
  // The bytes each line lost.
  std::map<unsigned, size_t> lost;
  for (const Record& record : run.timeline().records) {
    if (record.kind == RecordKind::UartLost) {
      ++lost[record.unit];
    }
  }
  html << "</table><h2>Handlers</h2><table id=\"handlers\"><tr><th>Handler</th><th>Longest hold (ms)</th></tr>";
  for (const auto& [vector, hold] : result.holds.byVector) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(hold.longest) / 1e9);
    html << "<tr><td>" << escapeHtml(handlerName(vector)) << "</td><td>" << ms << "</td></tr>";
  }
  html << "</table><h2>Bytes lost</h2><table id=\"lost\"><tr><th>Line</th><th>Bytes</th></tr>";
  for (unsigned uart = 0; uart < 8; ++uart) {
    if (lost.count(uart) != 0) {
      html << "<tr><td>UART" << uart << "</td><td>" << lost[uart] << "</td></tr>";
    }
  }
  html << "</table><h2>Console</h2><pre id=\"console\">" << escapeHtml(foldedConsole(consoleText(run)))
       << "</pre></body></html>\n";
  return html.str();
}

}  // namespace sim
