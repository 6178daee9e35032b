// summary.json, the machine-readable record of a run that the report is
// drawn from, and console.txt, what the firmware printed.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "sim/runner/field_soak.h"
#include "sim/runner/outputs.h"

namespace sim {

namespace {

double inSeconds(Time time) { return static_cast<double>(time) / 1e12; }

std::string sha256Of(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return {};
  }
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  char block[65536];
  while (file.read(block, sizeof block) || file.gcount() > 0) {
    EVP_DigestUpdate(context, block, static_cast<size_t>(file.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace

FirmwareRan firmwareRan(const Scenario& scenario) {
  if (scenario.firmware == "host") {
    return {"simulated", "the host build", "/proc/self/exe"};
  }
  if (scenario.firmware == kRealBoard) {
    return {"real", "the firmware", ""};
  }
  return {"emulated", "ARM image " + scenario.firmware, scenario.firmware};
}

std::vector<RadiusHeld> radiiHeld(const Outcome& run) {
  // Each "@N$" frame the modem handed the chip, with its time and whether
  // it came in a text (+CMT) or in the server's answer (+HTTPREAD).
  struct Frame {
    Time at;
    int metres;
    bool texted;
  };
  std::vector<Frame> frames;
  std::string recent;  // the last bytes, to tell the header
  std::string digits;
  bool inFrame = false;
  bool texted = false;
  for (const Record& record : run.timeline().records) {
    if (record.kind != RecordKind::UartReceived || record.unit != 4) {
      continue;
    }
    const char byte = static_cast<char>(record.value);
    recent = recent.substr(recent.size() > 16 ? recent.size() - 16 : 0) + byte;
    if (recent.size() >= 5 && recent.compare(recent.size() - 5, 5, "+CMT:") == 0) {
      texted = true;
    } else if (recent.size() >= 10 && recent.compare(recent.size() - 10, 10, "+HTTPREAD:") == 0) {
      texted = false;
    }
    if (byte == '@') {
      digits.clear();
      inFrame = true;
    } else if (inFrame && byte == '$') {
      inFrame = false;
      if (!digits.empty() && digits.size() <= 4) {
        frames.push_back({record.time, std::stoi(digits), texted});
      }
    } else if (inFrame && byte >= '0' && byte <= '9') {
      digits.push_back(byte);
    } else {
      inFrame = false;
    }
  }
  // The firmware says on the console when it took one: the frame it took is
  // the last to arrive before it said so.
  const LineBytes console = run.sentLine(0);
  std::vector<RadiusHeld> held;
  const std::string_view said = "CIRCLESETSUCCES";
  for (size_t at = console.bytes.find(said); at != std::string::npos; at = console.bytes.find(said, at + 1)) {
    const Time when = console.times[at + said.size() - 1];
    const auto taken = std::find_if(frames.rbegin(), frames.rend(), [&](const Frame& frame) { return frame.at <= when; });
    if (taken != frames.rend()) {
      held.push_back({when, taken->metres, taken->texted ? "texted" : "fetched"});
    }
  }
  return held;
}

std::string lineText(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    if (byte == '\n') {
      text += '\n';
    } else if (byte != '\r') {  // the firmware ends lines either way; a file ends them with LF
      appendShownByte(text, static_cast<uint8_t>(byte));
    }
  }
  return text;
}

std::string consoleText(const Outcome& run) { return lineText(run.sent(0)); }

nlohmann::json runSummary(const Scenario& scenario, const ScenarioResult& result) {
  using nlohmann::json;
  const Outcome& run = result.outcome;
  const peers::ModemLog& log = result.log;
  json summary = soakSummary(scenario, result);
  summary["scenario"] = scenario.name;
  summary["seconds"] = inSeconds(run.end());
  const FirmwareRan firmware = firmwareRan(scenario);
  summary["firmware"] = {{"board", firmware.board},
                         {"image", firmware.board == "simulated" ? "the host build, in the runner" : firmware.image},
                         {"sha256", sha256Of(firmware.image)}};
  json expectations = json::array();
  for (const ExpectationResult& checked : result.expectations) {
    expectations.push_back({{"verdict", verdictWord(checked.verdict)}, {"line", checked.line}});
  }
  summary["expectations"] = expectations;
  summary["passed"] = result.passed();

  // Every text the module sent, delivered or refused by the network, and
  // every text it was sent.
  json sent = json::array();
  json alerts = json::array();
  for (const auto& text : log.sent) {
    sent.push_back({{"at", inSeconds(text.at)}, {"to", text.to}, {"text", text.text}, {"delivered", !text.refused}});
    if (text.toCaretaker && !text.refused && text.text == kAlert) {
      alerts.push_back(inSeconds(text.at));
    }
  }
  summary["texts_sent"] = sent;
  summary["alerts"] = alerts;
  json calls = json::array();
  for (const auto& call : log.calls) {
    calls.push_back({{"start", inSeconds(call.start)},
                     {"answered", call.answered == kNever ? json(nullptr) : json(inSeconds(call.answered))},
                     {"end", call.end == kNever ? json(nullptr) : json(inSeconds(call.end))},
                     {"direction", call.outgoing ? "out" : "in"},
                     {"number", call.number},
                     {"outcome", call.outcome}});
  }
  summary["calls"] = calls;
  json http = json::array();
  for (const auto& exchange : log.http) {
    http.push_back({{"at", inSeconds(exchange.at)},
                    {"method", exchange.request.method},
                    {"url", exchange.request.url},
                    {"status", exchange.response.status}});
  }
  summary["http"] = http;
  json stored = json::array();
  for (const auto& report : result.stored) {
    stored.push_back({{"received", static_cast<double>(report.receivedMs) / 1e3},
                      {"latitude", report.latitude ? json(*report.latitude) : json(nullptr)},
                      {"longitude", report.longitude ? json(*report.longitude) : json(nullptr)},
                      {"pulse", report.pulse}});
  }
  summary["stored_reports"] = stored;
  json radii = json::array();
  for (const RadiusHeld& radius : radiiHeld(run)) {
    radii.push_back({{"at", inSeconds(radius.at)}, {"metres", radius.metres}, {"how", radius.how}});
  }
  summary["radius_changes"] = radii;
  const auto stack = run.stack();
  summary["stack"] = stack ? json{{"deepest", stack->first}, {"of", stack->second}} : json(nullptr);
  return summary;
}

}  // namespace sim
