// The [[expect]] tables of a scenario file: read with the rest of it, and
// checked against what the run showed.
#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>

#include "sim/runner/handlers.h"
#include "sim/runner/outputs.h"
#include "sim/runner/scenario_reader.h"

namespace sim {

namespace {

std::string seconds3(Time time) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(time / milliseconds(1)) / 1e3);
  return text;
}

// The words of a count: "", ", exactly 2", ", at least 3", ", 1 to 4".
std::string countWords(const Expectation& expect, unsigned defaultAtLeast) {
  if (expect.atLeast == expect.atMost) {
    return ", exactly " + std::to_string(expect.atLeast);
  }
  if (expect.atMost == UINT_MAX) {
    return expect.atLeast == defaultAtLeast ? "" : ", at least " + std::to_string(expect.atLeast);
  }
  return expect.atLeast == 0 ? ", at most " + std::to_string(expect.atMost)
                             : ", " + std::to_string(expect.atLeast) + " to " + std::to_string(expect.atMost);
}

bool inside(const Expectation& expect, Time at) {
  return !expect.within || (at >= expect.within->first && at <= expect.within->second);
}

// The path of a URL: "http://host:5000/postData?x=1" -> "/postData".
std::string pathOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (start == std::string::npos) {
    return "/";
  }
  return url.substr(start, url.find('?', start) - start);
}

}  // namespace

void Reader::readExpectations(const toml::node& node, Scenario& scenario) const {
  const toml::array* tables = node.as_array();
  if (tables == nullptr || !tables->is_array_of_tables()) {
    fail(&node, "expect", "expectations are [[expect]] tables");
  }
  for (const toml::node& entry : *tables) {
    const toml::table& table = *entry.as_table();
    Expectation expect;
    expect.line = static_cast<unsigned>(entry.source().begin.line);
    const toml::node* kindNode = table.get("kind");
    if (kindNode == nullptr) {
      fail(&entry, "expect.kind", "each expectation needs its kind");
    }
    const std::string kind = text(*kindNode, "expect.kind");
    using Kind = Expectation::Kind;
    const std::map<std::string, std::pair<Kind, std::vector<const char*>>> kinds = {
        {"text", {Kind::Text, {"to", "matches", "within", "count", "at_least", "at_most"}}},
        {"call", {Kind::Call, {"direction", "answered", "talk_at_least", "within", "count", "at_least", "at_most"}}},
        {"http", {Kind::Http, {"path", "method", "status", "within", "count", "at_least", "at_most"}}},
        {"stored_reports", {Kind::StoredReports, {"near", "count", "at_least", "at_most"}}},
        {"alerts", {Kind::Alerts, {"within", "count", "at_least", "at_most"}}},
        {"console", {Kind::Console, {"matches", "within", "count", "at_least", "at_most"}}},
        {"no_fault", {Kind::NoFault, {}}},
        {"stack", {Kind::Stack, {"below"}}},
        {"lost_bytes", {Kind::LostBytes, {"line", "within", "at_most"}}},
        {"hold", {Kind::Hold, {"handler", "at_most_ms"}}}};
    const auto found = kinds.find(kind);
    if (found == kinds.end()) {
      fail(kindNode, "expect.kind",
           "one of text, call, http, stored_reports, alerts, console, no_fault, stack, lost_bytes, hold");
    }
    expect.kind = found->second.first;
    std::vector<const char*> keys{"kind"};
    keys.insert(keys.end(), found->second.second.begin(), found->second.second.end());
    for (const auto& field : table) {
      const std::string_view key = field.first.str();
      if (std::find_if(keys.begin(), keys.end(), [&](const char* name) { return key == name; }) == keys.end()) {
        fail(&field.second, "expect." + std::string(key), "no such field for an expectation of kind " + kind);
      }
    }
    const auto required = [&](const char* key) -> const toml::node& {
      const toml::node* value = table.get(key);
      if (value == nullptr) {
        fail(&entry, std::string("expect.") + key, "an expectation of kind " + kind + " needs it");
      }
      return *value;
    };

    if (const toml::node* count = table.get("count")) {
      if (table.contains("at_least") || table.contains("at_most")) {
        fail(count, "expect.count", "count is exact: at_least and at_most go without it");
      }
      expect.atLeast = expect.atMost = whole(*count, "expect.count", 0, 1e6);
    }
    if (const toml::node* low = table.get("at_least")) {
      expect.atLeast = whole(*low, "expect.at_least", 0, 1e6);
    }
    if (const toml::node* high = table.get("at_most")) {
      expect.atMost = whole(*high, "expect.at_most", 0, 1e6);
      if (!table.contains("at_least")) {
        expect.atLeast = 0;
      }
      if (expect.atMost < expect.atLeast) {
        fail(high, "expect.at_most", "at_most is below at_least");
      }
    }
    if (const toml::node* within = table.get("within")) {
      const toml::array& pair = array(*within, "expect.within");
      if (pair.size() != 2) {
        fail(within, "expect.within", "a span is [from, to] in seconds");
      }
      expect.within = span(pair[0], &pair[1], "expect.within");
    }
    const std::string when =
        expect.within ? " from " + seconds3(expect.within->first) + " to " + seconds3(expect.within->second) : "";
    const auto pattern = [&](const char* key) {
      const toml::node& value = required(key);
      expect.pattern = text(value, std::string("expect.") + key);
      try {
        std::regex check(expect.pattern);
      } catch (const std::regex_error& error) {
        fail(&value, std::string("expect.") + key, std::string("not a regular expression: ") + error.what());
      }
    };

    switch (expect.kind) {
      case Kind::Text: {
        const std::string to = text(required("to"), "expect.to");
        if (to != "caretaker" && to != "module") {
          fail(table.get("to"), "expect.to", "one of caretaker, module");
        }
        expect.toCaretaker = to == "caretaker";
        pattern("matches");
        expect.what = "a text to the " + to + " matching /" + expect.pattern + "/" + when + countWords(expect, 1);
        break;
      }
      case Kind::Call: {
        std::string words = "a call";
        if (const toml::node* direction = table.get("direction")) {
          const std::string way = text(*direction, "expect.direction");
          if (way != "out" && way != "in") {
            fail(direction, "expect.direction", "one of out (from the module), in (to it)");
          }
          expect.outgoing = way == "out";
          words += way == "out" ? " from the module" : " to the module";
        }
        if (const toml::node* answered = table.get("answered")) {
          expect.answered = flag(*answered, "expect.answered");
          words += *expect.answered ? ", answered" : ", not answered";
        }
        if (const toml::node* talk = table.get("talk_at_least")) {
          expect.talkAtLeast = seconds(*talk, "expect.talk_at_least");
          words += ", talked " + seconds3(expect.talkAtLeast) + " or more";
        }
        expect.what = words + (when.empty() ? "" : ", placed" + when) + countWords(expect, 1);
        break;
      }
      case Kind::Http: {
        expect.path = text(required("path"), "expect.path");
        if (expect.path.empty() || expect.path[0] != '/') {
          fail(table.get("path"), "expect.path", "a URL's path, from its \"/\"");
        }
        std::string words = "a request for " + expect.path;
        if (const toml::node* method = table.get("method")) {
          expect.method = text(*method, "expect.method");
          words = "a " + expect.method + " of " + expect.path;
        }
        if (const toml::node* status = table.get("status")) {
          expect.status = static_cast<int>(whole(*status, "expect.status", 100, 999));
          words += " answered " + std::to_string(*expect.status);
        }
        expect.what = words + when + countWords(expect, 1);
        break;
      }
      case Kind::StoredReports: {
        if (scenario.server != "real") {
          fail(&entry, "expect.kind", "stored_reports needs the real report server: [server] kind = \"real\"");
        }
        std::string words = "reports stored by the server";
        if (const toml::node* near = table.get("near")) {
          const toml::array& point = array(*near, "expect.near");
          if (point.size() != 3) {
            fail(near, "expect.near", "near is [latitude, longitude, metres]");
          }
          expect.near = {number(point[0], "expect.near latitude", -90, 90),
                         number(point[1], "expect.near longitude", -180, 180),
                         number(point[2], "expect.near metres", 0, 1e7)};
          char place[96];
          std::snprintf(place, sizeof place, " within %g m of %.6f, %.6f", (*expect.near)[2], (*expect.near)[0],
                        (*expect.near)[1]);
          words += place;
        }
        expect.what = words + (expect.atLeast == 1 && expect.atMost == UINT_MAX ? ", at least 1" : countWords(expect, 1));
        break;
      }
      case Kind::Alerts:
        expect.what = "alerts of leaving the circle" + when +
                      (expect.atLeast == 1 && expect.atMost == UINT_MAX ? ", at least 1" : countWords(expect, 1));
        break;
      case Kind::Console:
        pattern("matches");
        expect.what = "a console line matching /" + expect.pattern + "/" + when + countWords(expect, 1);
        break;
      case Kind::NoFault:
        expect.what = "no fault";
        break;
      case Kind::Stack:
        expect.below = whole(required("below"), "expect.below", 1, 1 << 20);
        expect.what = "the deepest stack below " + std::to_string(expect.below) + " bytes";
        break;
      case Kind::LostBytes: {
        const std::string line = text(required("line"), "expect.line");
        if (line.size() != 5 || line.compare(0, 4, "UART") != 0 || line[4] < '0' || line[4] > '7') {
          fail(table.get("line"), "expect.line", "a UART of the chip, UART0 to UART7");
        }
        expect.uart = static_cast<unsigned>(line[4] - '0');
        expect.atLeast = 0;
        expect.atMost = whole(required("at_most"), "expect.at_most", 0, 1e9);
        expect.what = "at most " + std::to_string(expect.atMost) + " bytes lost on " + line + when;
        break;
      }
      case Kind::Hold: {
        const toml::node& handler = required("handler");
        const std::optional<unsigned> vector = handlerVector(text(handler, "expect.handler"));
        if (!vector) {
          std::string names;
          for (const HandlerName& known : kTrackerHandlers) {
            names += std::string(names.empty() ? "" : ", ") + known.function + " (" + known.peripheral + ")";
          }
          fail(&handler, "expect.handler", "one of the tracker's handlers, by function or peripheral: " + names);
        }
        expect.vector = *vector;
        const double ms = number(required("at_most_ms"), "expect.at_most_ms", 0, 1e6);
        expect.holdAtMost = static_cast<Time>(ms * 1e9);
        char words[128];
        std::snprintf(words, sizeof words, "%s holds the processor at most %g ms", handlerName(*vector).c_str(), ms);
        expect.what = words;
        break;
      }
    }
    scenario.expectations.push_back(std::move(expect));
  }
}

std::vector<ExpectationResult> checkExpectations(const Scenario& scenario, const ScenarioResult& result) {
  using Kind = Expectation::Kind;
  using Verdict = ExpectationResult::Verdict;
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  std::vector<ExpectationResult> results;
  for (const Expectation& expect : scenario.expectations) {
    size_t seen = 0;
    // What there was of the kind, to show beside a count that failed.
    std::vector<std::string> there;
    std::string measured;
    std::optional<bool> passed;
    const auto textsTo = [&](const std::vector<peers::ModemLog::Sms>& texts) {
      const std::regex pattern(expect.pattern);
      for (const auto& text : texts) {
        if (inside(expect, text.at)) {
          const bool matches = std::regex_search(text.text, pattern);
          seen += matches;
          there.push_back(seconds3(text.at) + " \"" + shownBytes(text.text) + "\"");
        }
      }
    };
    switch (expect.kind) {
      case Kind::Text:
        textsTo(expect.toCaretaker ? log.inbox() : log.received);
        break;
      case Kind::Call:
        for (const auto& call : log.calls) {
          if (!inside(expect, call.start)) {
            continue;
          }
          const bool answered = call.answered != kNever;
          const Time talk = answered ? (call.end == kNever ? run.end() : call.end) - call.answered : 0;
          seen += (!expect.outgoing || *expect.outgoing == call.outgoing) &&
                  (!expect.answered || *expect.answered == answered) && talk >= expect.talkAtLeast;
          there.push_back(seconds3(call.start) + (call.outgoing ? " to " : " from ") + call.number + ", " +
                          call.outcome + (answered ? " for " + seconds3(talk) : ""));
        }
        break;
      case Kind::Http:
        for (const auto& exchange : log.http) {
          if (!inside(expect, exchange.at)) {
            continue;
          }
          seen += pathOf(exchange.request.url) == expect.path &&
                  (expect.method.empty() || exchange.request.method == expect.method) &&
                  (!expect.status || *expect.status == exchange.response.status);
          there.push_back(seconds3(exchange.at) + " " + exchange.request.method + " " +
                          pathOf(exchange.request.url) + " " + std::to_string(exchange.response.status));
        }
        break;
      case Kind::StoredReports:
        for (const auto& report : result.stored) {
          const bool placed = report.latitude && report.longitude;
          seen += !expect.near ||
                  (placed && peers::metresBetween({*report.latitude, *report.longitude},
                                                  {(*expect.near)[0], (*expect.near)[1]}) <= (*expect.near)[2]);
          char place[64];
          std::snprintf(place, sizeof place, "%.6f, %.6f", placed ? *report.latitude : 0.0,
                        placed ? *report.longitude : 0.0);
          there.push_back(placed ? place : "no position");
        }
        break;
      case Kind::Alerts:
        for (const auto& text : log.inbox()) {
          if (text.text == kAlert && inside(expect, text.at)) {
            ++seen;
            there.push_back(seconds3(text.at));
          }
        }
        break;
      case Kind::Console: {
        const std::regex pattern(expect.pattern);
        const std::string console =
            expect.within ? run.sentBetween(0, expect.within->first, expect.within->second + 1) : run.sent(0);
        size_t start = 0;
        while (start < console.size()) {
          const size_t end = std::min(console.find('\n', start), console.size());
          std::string line = console.substr(start, end - start);
          line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
          seen += std::regex_search(line, pattern);
          if (!line.empty()) {
            there.push_back("\"" + shownBytes(line) + "\"");
          }
          start = end + 1;
        }
        break;
      }
      case Kind::LostBytes:
        for (const TimedByte& byte : run.lost(expect.uart)) {
          seen += inside(expect, byte.time);
        }
        break;
      case Kind::NoFault:
        passed = run.ok();
        measured = run.ok() ? "none" : "\"" + shownBytes(run.failure().substr(0, run.failure().find('\n'))) + "\"";
        break;
      case Kind::Stack:
        if (const auto stack = run.stack()) {
          passed = stack->first < expect.below;
          measured = std::to_string(stack->first) + " of " + std::to_string(stack->second) + " bytes";
        }
        break;
      case Kind::Hold: {
        const std::map<unsigned, HandlerHold>& holds = result.holds.byVector;
        const auto found = holds.find(expect.vector);
        const HandlerHold hold = found == holds.end() ? HandlerHold{} : found->second;
        passed = hold.longest <= expect.holdAtMost;
        char words[64];
        std::snprintf(words, sizeof words, "%.3f ms at the longest of %zu entries",
                      static_cast<double>(hold.longest) / 1e9, hold.entries);
        measured = words;
        break;
      }
    }
    ExpectationResult checked{Verdict::Passed, "line " + std::to_string(expect.line) + ": " + expect.what + ": "};
    if (!measured.empty() || passed) {
      checked.verdict = passed && *passed ? Verdict::Passed : Verdict::Failed;
      checked.line += measured;
    } else if (expect.kind == Kind::Stack) {
      checked.verdict = Verdict::NotMeasured;
      checked.line += "not measured on the simulated board (the emulated board measures it)";
    } else {
      checked.verdict = seen >= expect.atLeast && seen <= expect.atMost ? Verdict::Passed : Verdict::Failed;
      checked.line += std::to_string(seen) + " seen";
      if (checked.verdict == Verdict::Failed && !there.empty()) {
        constexpr size_t kShown = 4;
        checked.line += "; there were";
        for (size_t i = 0; i < std::min(there.size(), kShown); ++i) {
          checked.line += (i == 0 ? " " : "; ") + there[i];
        }
        if (there.size() > kShown) {
          checked.line += "; and " + std::to_string(there.size() - kShown) + " more";
        }
      }
    }
    results.push_back(std::move(checked));
  }
  return results;
}

}  // namespace sim
