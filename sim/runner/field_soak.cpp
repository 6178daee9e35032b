#include "sim/runner/field_soak.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <random>

namespace sim {

namespace {

constexpr Time kReportPeriod = seconds(40);
constexpr Time kRadiusAnswer = seconds(30);  // a fetch got its radius if it was set this soon
// A press's calls and SOS text: until the next press, 15 minutes at most
// (an emergency is called again through an outage).
constexpr Time kPressWindow = seconds(900);
// After the network's return or a reboot the modem registers again (up to
// 60 s) before it can send: the windows till then are the outage's.
constexpr Time kNetworkBack = seconds(90);
// A call's NO CARRIER reaches the chip a few ms after the network ends it:
// a tick in between still finds the call.
constexpr Time kCallEndSeen = seconds(1);
const char* const kStranger = "+14155550100";

// Whole seconds in [low, high], from the plan's own generator, so a seed
// gives one world on every platform.
Time between(std::mt19937_64& random, uint64_t low, uint64_t high) { return seconds(low + random() % (high - low + 1)); }

double inSeconds(Time time) { return static_cast<double>(time) / 1e12; }

// A command line as the modem reads it: blanks gone, letters in upper case.
std::string commandOf(const std::string& line) {
  std::string command;
  for (char character : line) {
    if (character != ' ') {
      command.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(character))));
    }
  }
  return command;
}

// A text holding the report record (9 + "," + 9 + "," + 2), whatever line
// breaks the modem kept around it.
bool isReport(const std::string& text) {
  const size_t start = text.find_first_not_of("\r\n");
  return start != std::string::npos && text.size() >= start + 22 && text[start + 9] == ',' && text[start + 19] == ',';
}

// A UART's bytes one way, with the time each finished.
struct Line : LineBytes {
  explicit Line(LineBytes line) : LineBytes(std::move(line)) {}
  // The first time text went out within [from, to), or kNever.
  Time find(const std::string& text, Time from, Time to) const {
    const size_t start = static_cast<size_t>(std::lower_bound(times.begin(), times.end(), from) - times.begin());
    const size_t at = bytes.find(text, start);
    return at == std::string::npos || times[at] >= to ? kNever : times[at + text.size() - 1];
  }
};

}  // namespace

Scenario soakScenario(const SoakPlan& plan) {
  std::mt19937_64 random(plan.seed);
  Scenario scenario;
  scenario.name = "field soak, seed " + std::to_string(plan.seed);
  scenario.length = plan.length;
  // 500 m north out of the 250 m circle and back, at a walker's pace.
  const peers::Position home{41.015137, 28.979530};
  const peers::Position away{41.019634, 28.979530};
  scenario.speed = 1.4;
  scenario.walk.push_back(home);
  for (Time walked = 0; walked < plan.length; walked += seconds(2 * 360)) {
    scenario.walk.push_back(away);
    scenario.walk.push_back(home);
  }
  scenario.firstFix = seconds(5);
  scenario.noise = 3;

  scenario.modem = plan.field ? peers::Sim900Settings::field(plan.seed) : peers::Sim900Settings::lenient();
  scenario.modem.busy = plan.busy;
  // The caretaker answers within the ring time: after 1 to 6 rings.
  scenario.phone.answerAfterRings = peers::CaretakerPhone::Rings(1, 6);
  scenario.phone.hangUpAfter = seconds(30);

  const uint64_t total = plan.length / seconds(1);
  for (Time at = between(random, 60, 600); at + seconds(120) < plan.length; at += between(random, 600, 1500)) {
    scenario.presses.push_back(at);
  }
  for (Time at = between(random, 300, 1200); at + seconds(120) < plan.length; at += between(random, 1200, 2400)) {
    scenario.phone.calls.push_back({at, seconds(30), seconds(20)});
    scenario.presses.push_back(at + between(random, 5, 15));  // the wearer answers
  }
  for (Time at = between(random, 600, 1800); at + seconds(120) < plan.length; at += between(random, 1800, 3600)) {
    scenario.phone.calls.push_back({at, seconds(20), seconds(10), kStranger});
  }
  static const char* const kTexts[] = {"@300$", "Call me when you can", "@250$", "Dinner at 7"};
  unsigned texts = 0;
  for (Time at = between(random, 120, 900); at + seconds(120) < plan.length; at += between(random, 900, 1800)) {
    scenario.phone.texts.push_back({at, kTexts[texts++ % 4]});
  }
  for (uint64_t hour = 0; hour * 3600 < total; ++hour) {
    const Time from = seconds(hour * 3600) + between(random, 300, 3000);
    if (from + seconds(300) < plan.length) {
      scenario.faults.push_back({peers::Sim900::Fault::NoNetwork, from, from + between(random, 60, 240)});
    }
  }
  scenario.faults.push_back({peers::Sim900::Fault::BrownOut, seconds(total * 3 / 10 + random() % (total * 4 / 10)), kNever});
  std::sort(scenario.presses.begin(), scenario.presses.end());
  scenario.server = "bench";
  scenario.radius = 250;
  return scenario;
}

nlohmann::json soakSummary(const Scenario& scenario, const ScenarioResult& result) {
  using nlohmann::json;
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  const Line console(run.sentLine(0));
  const Line fromModem(run.receivedLine(4));
  const Time end = run.end();
  const std::vector<peers::ModemLog::Sms> inbox = log.inbox();
  const auto during = [&](Time at, bool incomingOnly) {
    return std::any_of(log.calls.begin(), log.calls.end(), [&](const peers::ModemLog::Call& call) {
      return (!incomingOnly || !call.outgoing) && at >= call.start && at < (call.end == kNever ? end : call.end);
    });
  };

  // Presses: those that answer a ringing call, and the emergency ones.
  json presses = json::array();
  json totals = {{"presses", 0}, {"dialled", 0}, {"connected", 0}, {"sos_texts", 0}, {"lost", 0}};
  for (size_t index = 0; index < scenario.presses.size(); ++index) {
    const Time at = scenario.presses[index];
    const bool answering = during(at, true);
    if (answering) {
      continue;
    }
    // The press's calls: those after it until the first that connected,
    // within the window (a press in an outage is called again after it,
    // perhaps after a later press).
    const Time next = std::min(end, at + kPressWindow);
    unsigned attempts = 0;
    bool connected = false;
    double talk = 0;
    for (const auto& call : log.calls) {
      if (call.outgoing && call.start >= at && call.start < next && !connected) {
        ++attempts;
        if (call.answered != kNever && call.outcome != "voicemail") {
          connected = true;
          talk += inSeconds((call.end == kNever ? end : call.end) - call.answered);
        }
      }
    }
    const bool sosText = std::any_of(inbox.begin(), inbox.end(), [&](const peers::ModemLog::Sms& text) {
      return text.at >= at && text.at < next && text.text.find("SOS") != std::string::npos;
    });
    presses.push_back({{"at", inSeconds(at)},
                       {"during_call", during(at, false)},
                       {"dialled", attempts > 0},
                       {"connected", connected},
                       {"talk_seconds", talk},
                       {"attempts", attempts},
                       {"sos_text", sosText}});
    totals["presses"] = totals["presses"].get<int>() + 1;
    totals["dialled"] = totals["dialled"].get<int>() + (attempts > 0);
    totals["connected"] = totals["connected"].get<int>() + connected;
    totals["sos_texts"] = totals["sos_texts"].get<int>() + sosText;
    // A press during an answered call does nothing: the wearer is talking.
    const bool talking = during(at, false);
    totals["lost"] = totals["lost"].get<int>() + (!connected && !sosText && !talking);
  }

  json incoming = json::array();
  int answered = 0;
  for (const auto& call : log.calls) {
    if (!call.outgoing) {
      incoming.push_back({{"at", inSeconds(call.start)}, {"from", call.number}, {"answered", call.answered != kNever}});
      answered += call.answered != kNever;
    }
  }

  // The network is down in an outage, and after a brown-out, until the
  // modem has registered again.
  const auto networkDown = [&](Time from, Time to) {
    return std::any_of(scenario.faults.begin(), scenario.faults.end(), [&](const Scenario::Fault& fault) {
      const bool away = fault.kind == peers::Sim900::Fault::NoNetwork || fault.kind == peers::Sim900::Fault::BrownOut;
      const Time back = fault.kind == peers::Sim900::Fault::BrownOut ? fault.from : fault.to;
      return away && fault.from < to && (back == kNever ? end : back + kNetworkBack) > from;
    });
  };

  // Report windows of 40 s outside calls (ringing ones too: the report
  // waits for no call): a text of the record's shape to
  // the caretaker in each; those with the network up are the ones owed.
  json reports = json::array();
  int expected = 0;
  int delivered = 0;
  int inOutage = 0;
  for (Time from = kReportPeriod; from + kReportPeriod <= end; from += kReportPeriod) {
    const Time to = from + kReportPeriod;
    const bool inCall = std::any_of(log.calls.begin(), log.calls.end(), [&](const peers::ModemLog::Call& call) {
      return call.start < to && (call.end == kNever ? end : call.end + kCallEndSeen) > from;
    });
    if (inCall) {
      continue;
    }
    const bool sent = std::any_of(log.commands.begin(), log.commands.end(), [&](const peers::ModemLog::Command& command) {
      return command.at >= from && command.at < to && commandOf(command.line).rfind("AT+CMGS", 0) == 0;
    });
    const bool arrived = std::any_of(log.sent.begin(), log.sent.end(), [&](const peers::ModemLog::Sms& text) {
      return text.toCaretaker && !text.refused && text.at >= from && text.at < to && isReport(text.text);
    });
    const bool down = networkDown(from, to);
    reports.push_back({{"from", inSeconds(from)}, {"network_up", !down}, {"sent", sent}, {"delivered", arrived}});
    inOutage += down;
    expected += !down;
    delivered += !down && arrived;
  }

  json fetches = json::array();
  int asked = 0;
  int got = 0;
  Time firstRadius = kNever;
  for (const auto& command : log.commands) {
    if (commandOf(command.line) == "AT+HTTPACTION=0") {
      // Either trace of the radius taken: the pulse sensor's trace may land
      // in the middle of one.
      const Time set = std::min(console.find("Set Circle Size", command.at, command.at + kRadiusAnswer),
                                console.find("CIRCLESETSUCCES", command.at, command.at + kRadiusAnswer));
      const bool down = networkDown(command.at, command.at + kRadiusAnswer);
      // An emergency press cuts the request short: it is not owed.
      const bool gaveWay = console.find("given way to the button", command.at, command.at + kRadiusAnswer) != kNever;
      fetches.push_back(
          {{"at", inSeconds(command.at)}, {"network_up", !down}, {"gave_way", gaveWay}, {"got", set != kNever}});
      asked += !down && !gaveWay;
      got += !down && !gaveWay && set != kNever;
      firstRadius = std::min(firstRadius, set);
    }
  }

  // A caretaker's text is seen when the modem hands it to the chip.
  json texts = json::array();
  int seen = 0;
  for (const auto& text : log.received) {
    const Time header = fromModem.find("+CMT: ", text.at, end);
    const bool handed = header != kNever && fromModem.find("\r\n" + text.text + "\r\n", header, end) != kNever;
    texts.push_back({{"at", inSeconds(text.at)}, {"text", text.text}, {"seen", handed}});
    seen += handed;
  }

  json lost = json::object();
  for (unsigned uart = 0; uart < 8; ++uart) {
    const size_t count = run.lost(uart).size();
    if (count != 0) {
      lost["UART" + std::to_string(uart)] = count;
    }
  }

  totals["incoming_calls"] = incoming.size();
  totals["incoming_answered"] = answered;
  totals["reports_expected"] = expected;
  totals["reports_delivered"] = delivered;
  totals["reports_in_outages"] = inOutage;
  totals["radius_asked"] = asked;
  totals["radius_got"] = got;
  totals["first_radius_at"] = firstRadius == kNever ? json(nullptr) : json(inSeconds(firstRadius));
  totals["caretaker_texts"] = texts.size();
  totals["caretaker_texts_seen"] = seen;
  return {{"ok", run.ok()},         {"failure", run.failure()}, {"presses", presses},      {"incoming_calls", incoming},
          {"reports", reports},     {"radius_fetches", fetches}, {"caretaker_texts", texts}, {"lost_bytes", lost},
          {"totals", totals}};
}

}  // namespace sim
