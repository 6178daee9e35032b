// The report's chart of the run: one row for each thing that happened over
// time, the wearer's and the world's above, the module's LEDs below.
#include <cmath>
#include <cstdio>

#include "server/page.h"
#include "sim/runner/outputs.h"

namespace sim {

namespace {

constexpr double kLeft = 150;   // the rows' names
constexpr double kWidth = 800;  // the run
constexpr double kRow = 20;

struct Mark {
  Time from;
  Time to;  // == from: a tick
  std::string colour;
  std::string title;
};

struct Row {
  std::string name;
  std::vector<Mark> marks;
};

// A round step for the axis: 1, 2 or 5 times a power of ten seconds, about
// eight steps across.
double axisStep(double seconds) {
  const double rough = seconds / 8;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  for (const double step : {1.0, 2.0, 5.0}) {
    if (step * power >= rough) {
      return step * power;
    }
  }
  return 10 * power;
}

std::string fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string clockTime(Time time) {
  const uint64_t ms = time / milliseconds(1);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
  return text;
}

std::string timeChart(const Scenario& scenario, const ScenarioResult& result) {
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  const Time end = std::max<Time>(run.end(), 1);
  std::vector<Row> rows;

  Row presses{"button", {}};
  for (const Time at : scenario.presses) {
    presses.marks.push_back({at, at, "#222", "press at " + clockTime(at)});
  }
  rows.push_back(std::move(presses));
  Row calls{"calls", {}};
  for (const auto& call : log.calls) {
    const Time to = call.end == kNever ? end : call.end;
    calls.marks.push_back({call.start, to, call.answered != kNever ? "#2e8b57" : "#d0451b",
                           std::string(call.outgoing ? "to " : "from ") + call.number + ", " + call.outcome + ", " +
                               clockTime(call.start) + " to " + clockTime(to)});
  }
  rows.push_back(std::move(calls));
  Row sent{"texts sent", {}};
  Row alerts{"alerts", {}};
  for (const auto& text : log.sent) {
    sent.marks.push_back({text.at, text.at, text.refused ? "#d0451b" : "#2e8b57",
                          clockTime(text.at) + " to " + text.to + (text.refused ? " refused: " : " delivered: ") +
                              shownBytes(text.text)});
    if (text.toCaretaker && !text.refused && text.text == kAlert) {
      alerts.marks.push_back({text.at, text.at, "#d0451b", "alert at " + clockTime(text.at)});
    }
  }
  rows.push_back(std::move(sent));
  rows.push_back(std::move(alerts));
  Row received{"texts received", {}};
  for (const auto& text : log.received) {
    received.marks.push_back({text.at, text.at, "#4a90d9", clockTime(text.at) + " from " + text.from + ": " +
                                                               shownBytes(text.text)});
  }
  rows.push_back(std::move(received));
  Row http{"HTTP", {}};
  for (const auto& exchange : log.http) {
    http.marks.push_back({exchange.at, exchange.at, exchange.response.status == 200 ? "#2e8b57" : "#d0451b",
                          clockTime(exchange.at) + " " + exchange.request.method + " " + exchange.request.url + ": " +
                              std::to_string(exchange.response.status)});
  }
  rows.push_back(std::move(http));
  Row faults{"network faults", {}};
  for (const auto& fault : scenario.faults) {
    const Time to = fault.to == kNever ? end : std::min(fault.to, end);
    faults.marks.push_back({fault.from, to, "#b8860b", std::string(faultName(fault.kind)) + " " +
                                                           clockTime(fault.from) + " to " + clockTime(to)});
  }
  rows.push_back(std::move(faults));
  Row fix{"no GPS fix", {}};
  if (!scenario.walk.empty() && scenario.firstFix > 0) {
    fix.marks.push_back({0, std::min(scenario.firstFix, end), "#999", "before the first fix"});
  }
  for (const auto& [from, to] : scenario.withoutFix) {
    fix.marks.push_back({from, std::min(to, end), "#999", "no fix " + clockTime(from) + " to " + clockTime(to)});
  }
  rows.push_back(std::move(fix));
  // The LEDs on PF1 (red), PF2 (blue), PF3 (green), each lit span.
  const std::pair<uint8_t, const char*> leds[] = {{41, "#d62828"}, {42, "#1d4ed8"}, {43, "#2e8b57"}};
  for (const auto& [unit, colour] : leds) {
    Row led{"LED " + pinName(unit), {}};
    Time lit = kNever;
    for (const Record& record : run.timeline().records) {
      if (record.kind != RecordKind::Pin || record.unit != unit) {
        continue;
      }
      if (record.value != 0 && lit == kNever) {
        lit = record.time;
      } else if (record.value == 0 && lit != kNever) {
        led.marks.push_back({lit, record.time, colour, "lit " + clockTime(lit) + " to " + clockTime(record.time)});
        lit = kNever;
      }
    }
    if (lit != kNever) {
      led.marks.push_back({lit, end, colour, "lit from " + clockTime(lit)});
    }
    rows.push_back(std::move(led));
  }

  const double height = kRow * static_cast<double>(rows.size()) + 30;
  const auto x = [&](Time at) { return kLeft + kWidth * static_cast<double>(at) / static_cast<double>(end); };
  std::string svg = "<svg id=\"timechart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fixed(kLeft + kWidth + 20) +
                    "\" height=\"" + fixed(height) + "\" font-size=\"12\" role=\"img\" aria-label=\"What happened when\">";
  for (size_t index = 0; index < rows.size(); ++index) {
    const double top = kRow * static_cast<double>(index);
    svg += "<g class=\"row\"><text x=\"0\" y=\"" + fixed(top + 14) + "\">" + server::escapeHtml(rows[index].name) +
           "</text><line x1=\"" + fixed(kLeft) + "\" x2=\"" + fixed(kLeft + kWidth) + "\" y1=\"" + fixed(top + 10) +
           "\" y2=\"" + fixed(top + 10) + "\" stroke=\"#eee\"/>";
    for (const Mark& mark : rows[index].marks) {
      const std::string title = "<title>" + server::escapeHtml(mark.title) + "</title>";
      if (mark.to == mark.from) {
        svg += "<rect x=\"" + fixed(x(mark.from) - 1) + "\" y=\"" + fixed(top + 3) + "\" width=\"2\" height=\"14\" fill=\"" +
               mark.colour + "\">" + title + "</rect>";
      } else {
        svg += "<rect x=\"" + fixed(x(mark.from)) + "\" y=\"" + fixed(top + 4) + "\" width=\"" +
               fixed(std::max(1.0, x(mark.to) - x(mark.from))) + "\" height=\"12\" fill=\"" + mark.colour + "\">" +
               title + "</rect>";
      }
    }
    svg += "</g>";
  }
  const double axis = kRow * static_cast<double>(rows.size()) + 5;
  const double step = axisStep(static_cast<double>(end) / 1e12);
  for (double at = 0; at * 1e12 <= static_cast<double>(end); at += step) {
    const double position = kLeft + kWidth * at * 1e12 / static_cast<double>(end);
    svg += "<line x1=\"" + fixed(position) + "\" x2=\"" + fixed(position) + "\" y1=\"0\" y2=\"" + fixed(axis) +
           "\" stroke=\"#ddd\"/><text x=\"" + fixed(position) + "\" y=\"" + fixed(axis + 15) +
           "\" text-anchor=\"middle\">" + clockTime(static_cast<Time>(at * 1e12)) + "</text>";
  }
  return svg + "</svg>";
}

}  // namespace sim
