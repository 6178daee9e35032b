#include "sim/runner/scenario.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>

#include "sim/runner/scenario_reader.h"

namespace sim {

void Reader::readModem(const toml::table& section, Scenario& scenario) const {
  only(section, "modem", {"profile", "seed", "busy", "boot", "registration", "http_answer", "apn", "power_key"});
  peers::Sim900Settings& modem = scenario.modem;
  if (const toml::node* profile = section.get("profile")) {
    const std::string name = text(*profile, "modem.profile");
    if (name == "lenient") {
      modem = peers::Sim900Settings::lenient();
      scenario.phone = peers::CaretakerPhone{};
    } else if (name != "field") {
      fail(profile, "modem.profile", "one of field, lenient");
    }
  }
  if (const toml::node* seed = section.get("seed")) {
    modem.seed = static_cast<uint64_t>(number(*seed, "modem.seed", 0, 4294967295.0));
    if (*seed->value<double>() != static_cast<double>(modem.seed)) {
      fail(seed, "modem.seed", "a whole number is needed");
    }
  }
  if (const toml::node* busy = section.get("busy")) {
    const std::string name = text(*busy, "modem.busy");
    using peers::BusyPolicy;
    if (name != "queue" && name != "drop" && name != "error") {
      fail(busy, "modem.busy", "one of queue, drop, error");
    }
    modem.busy = name == "queue" ? BusyPolicy::Queue : name == "drop" ? BusyPolicy::Drop : BusyPolicy::Error;
  }
  if (const toml::node* boot = section.get("boot")) {
    const std::string name = text(*boot, "modem.boot");
    if (name != "autobaud" && name != "fixed") {
      fail(boot, "modem.boot", "one of autobaud, fixed");
    }
    modem.boot = name == "autobaud" ? peers::BootMode::Autobaud : peers::BootMode::Fixed;
  }
  if (const toml::node* registration = section.get("registration")) {
    modem.timing.registration = spanOfSeconds(*registration, "modem.registration");
  }
  if (const toml::node* answer = section.get("http_answer")) {
    modem.timing.httpAction = spanOfSeconds(*answer, "modem.http_answer");
  }
  if (const toml::node* apn = section.get("apn")) {
    modem.network.apn = text(*apn, "modem.apn");
  }
  if (const toml::node* key = section.get("power_key")) {
    // The shield's power key on PC6; without it the shield powers itself up.
    if (flag(*key, "modem.power_key")) {
      modem.powerKey = PC6;
      modem.selfPowered = false;
    }
  }
}

Scenario Reader::read() const {
  Scenario scenario;
  only(root_, "scenario", {"run", "wearer", "heart", "button", "modem", "phone", "network", "server", "expect"});
  const toml::node* run = root_.get("run");
  if (run == nullptr) {
    fail(nullptr, "run", "the [run] table with its seconds is needed");
  }
  const toml::table& runTable = table(*run, "run");
  only(runTable, "run", {"name", "seconds", "firmware", "fault_handlers", "gdb"});
  if (const toml::node* name = runTable.get("name")) {
    scenario.name = text(*name, "run.name");
  }
  const toml::node* length = runTable.get("seconds");
  if (length == nullptr) {
    fail(run, "run.seconds", "the run's length is needed");
  }
  scenario.length = seconds(*length, "run.seconds");
  if (scenario.length == 0) {
    fail(length, "run.seconds", "a run lasts more than 0 s");
  }
  length_ = scenario.length;
  if (const toml::node* firmware = runTable.get("firmware")) {
    scenario.firmware = text(*firmware, "run.firmware");
    if (scenario.firmware != "host" && scenario.firmware != "arm") {
      // An image's path is read from the scenario's folder.
      std::filesystem::path image(scenario.firmware);
      if (image.is_relative()) {
        image = std::filesystem::path(name_).parent_path() / image;
      }
      if (!isElfImage(image.string())) {
        fail(firmware, "run.firmware", "\"host\", \"arm\" or the path of an ELF image, from the scenario's folder: " +
                                           shownBytes(image.string()) + " is no ELF image");
      }
      scenario.firmware = image.string();
    }
  }
  if (const toml::node* handlers = runTable.get("fault_handlers")) {
    scenario.faultHandlers = flag(*handlers, "run.fault_handlers");
  }
  if (const toml::node* port = runTable.get("gdb")) {
    if (scenario.firmware == "host") {
      fail(port, "run.gdb", "a debugger needs the emulated board: firmware = \"arm\" or an ELF image");
    }
    scenario.debugServer = DebugServer{};
    scenario.debugServer->port = static_cast<uint16_t>(whole(*port, "run.gdb", 1, 65535));
  }

  if (const toml::node* wearer = root_.get("wearer")) {
    const toml::table& section = table(*wearer, "wearer");
    only(section, "wearer", {"walk", "speed", "first_fix", "without_fix", "noise"});
    if (const toml::node* walk = section.get("walk")) {
      for (const toml::node& point : array(*walk, "wearer.walk")) {
        scenario.walk.push_back(position(point, "wearer.walk"));
      }
    }
    if (const toml::node* speed = section.get("speed")) {
      scenario.speed = number(*speed, "wearer.speed", 0, 100);
      if (scenario.walk.size() < 2) {
        fail(speed, "wearer.speed", "a walk of two points or more is needed to walk at a speed");
      }
    }
    if (const toml::node* fix = section.get("first_fix")) {
      scenario.firstFix = during(*fix, "wearer.first_fix");
    }
    if (const toml::node* spans = section.get("without_fix")) {
      for (const toml::node& entry : array(*spans, "wearer.without_fix")) {
        const toml::array& pair = array(entry, "wearer.without_fix");
        if (pair.size() != 2) {
          fail(&entry, "wearer.without_fix", "a span is [from, to] in seconds");
        }
        scenario.withoutFix.push_back(span(pair[0], &pair[1], "wearer.without_fix"));
      }
    }
    if (const toml::node* noise = section.get("noise")) {
      scenario.noise = number(*noise, "wearer.noise", 0, 1000);
    }
  }

  if (const toml::node* heart = root_.get("heart")) {
    const toml::table& section = table(*heart, "heart");
    only(section, "heart", {"rate", "changes"});
    if (const toml::node* rate = section.get("rate")) {
      scenario.heartRate = number(*rate, "heart.rate", 0, 300);
    }
    if (const toml::node* changes = section.get("changes")) {
      for (const toml::node& change : array(*changes, "heart.changes")) {
        const toml::array& pair = array(change, "heart.changes");
        if (pair.size() != 2) {
          fail(&change, "heart.changes", "a change is [at seconds, beats a minute]");
        }
        scenario.heartRates.emplace_back(during(pair[0], "heart.changes"), number(pair[1], "heart.changes", 0, 300));
      }
    }
  }

  if (const toml::node* button = root_.get("button")) {
    const toml::table& section = table(*button, "button");
    only(section, "button", {"presses"});
    if (const toml::node* presses = section.get("presses")) {
      for (const toml::node& at : array(*presses, "button.presses")) {
        scenario.presses.push_back(during(at, "button.presses"));
      }
    }
  }

  // The field's modem and caretaker unless the scenario asks for the
  // lenient ones: the caretaker answers after 1 to 6 rings, or the
  // voicemail does after 20 to 30 s.
  scenario.modem = peers::Sim900Settings::field();
  scenario.phone.answerAfterRings = peers::CaretakerPhone::Rings(1, 6);
  scenario.phone.voicemailAfter = peers::Span(sim::seconds(20), sim::seconds(30));
  if (const toml::node* modem = root_.get("modem")) {
    readModem(table(*modem, "modem"), scenario);
  }

  if (const toml::node* phone = root_.get("phone")) {
    const toml::table& section = table(*phone, "phone");
    only(section, "phone", {"answer", "hang_up_after", "calls", "texts", "rings_before_answer", "voicemail_after", "callers"});
    if (const toml::node* answer = section.get("answer")) {
      if (answer->is_string()) {
        const std::string how = text(*answer, "phone.answer");
        if (how == "never") {
          scenario.phone.answerAfterRings.reset();
        } else if (how == "busy") {
          scenario.phone.busy = true;
        } else {
          fail(answer, "phone.answer", "a number of rings, \"never\" or \"busy\" is needed");
        }
      } else {
        scenario.phone.answerAfterRings = whole(*answer, "phone.answer", 0, 20);
      }
    }
    if (const toml::node* after = section.get("hang_up_after")) {
      scenario.phone.hangUpAfter = seconds(*after, "phone.hang_up_after");
    }
    if (const toml::node* rings = section.get("rings_before_answer")) {
      const auto [low, high] = range(*rings, "phone.rings_before_answer", 0, 20);
      if (low != std::floor(low) || high != std::floor(high)) {
        fail(rings, "phone.rings_before_answer", "whole numbers of rings are needed");
      }
      scenario.phone.answerAfterRings = peers::CaretakerPhone::Rings(static_cast<unsigned>(low), static_cast<unsigned>(high));
    }
    if (const toml::node* voicemail = section.get("voicemail_after")) {
      scenario.phone.voicemailAfter = peers::Span(seconds(*voicemail, "phone.voicemail_after"));
    }
    if (const toml::node* callers = section.get("callers")) {
      for (const toml::node& caller : array(*callers, "phone.callers")) {
        const toml::table& entry = table(caller, "phone.callers");
        only(entry, "phone.callers", {"at", "number", "ring_for", "talk"});
        const toml::node* at = entry.get("at");
        const toml::node* number = entry.get("number");
        if (at == nullptr || number == nullptr) {
          fail(&caller, "phone.callers", "a caller needs its time (at) and its number");
        }
        peers::CaretakerPhone::IncomingCall incoming{during(*at, "phone.callers.at"), sim::seconds(30), std::nullopt,
                                                     dialNumber(*number, "phone.callers.number")};
        if (const toml::node* ring = entry.get("ring_for")) {
          incoming.ringFor = seconds(*ring, "phone.callers.ring_for");
        }
        if (const toml::node* talk = entry.get("talk")) {
          incoming.talk = seconds(*talk, "phone.callers.talk");
        }
        scenario.phone.calls.push_back(incoming);
      }
    }
    if (const toml::node* calls = section.get("calls")) {
      for (const toml::node& call : array(*calls, "phone.calls")) {
        const toml::table& entry = table(call, "phone.calls");
        only(entry, "phone.calls", {"at", "ring_for", "talk"});
        const toml::node* at = entry.get("at");
        if (at == nullptr) {
          fail(&call, "phone.calls.at", "a call needs its time");
        }
        peers::CaretakerPhone::IncomingCall incoming{during(*at, "phone.calls.at"), sim::seconds(30), std::nullopt};
        if (const toml::node* ring = entry.get("ring_for")) {
          incoming.ringFor = seconds(*ring, "phone.calls.ring_for");
        }
        if (const toml::node* talk = entry.get("talk")) {
          incoming.talk = seconds(*talk, "phone.calls.talk");
        }
        scenario.phone.calls.push_back(incoming);
      }
    }
    if (const toml::node* texts = section.get("texts")) {
      for (const toml::node& message : array(*texts, "phone.texts")) {
        const toml::table& entry = table(message, "phone.texts");
        only(entry, "phone.texts", {"at", "text"});
        const toml::node* at = entry.get("at");
        const toml::node* body = entry.get("text");
        if (at == nullptr || body == nullptr) {
          fail(&message, "phone.texts", "a text needs its time (at) and its text");
        }
        const std::string words = text(*body, "phone.texts.text");
        if (words.size() > 160) {
          fail(body, "phone.texts.text", "a text holds at most 160 characters");
        }
        scenario.phone.texts.push_back({during(*at, "phone.texts.at"), words});
      }
    }
  }

  if (const toml::node* network = root_.get("network")) {
    const toml::table& section = table(*network, "network");
    only(section, "network", {"faults"});
    if (const toml::node* faults = section.get("faults")) {
      for (const toml::node& fault : array(*faults, "network.faults")) {
        const toml::table& entry = table(fault, "network.faults");
        only(entry, "network.faults", {"kind", "from", "to"});
        const toml::node* kind = entry.get("kind");
        const toml::node* from = entry.get("from");
        if (kind == nullptr || from == nullptr) {
          fail(&fault, "network.faults", "a fault needs its kind and its start (from)");
        }
        const std::string name = text(*kind, "network.faults.kind");
        const auto* parsed = std::find_if(std::begin(kFaultKinds), std::end(kFaultKinds),
                                          [&](const auto& known) { return known.first == name; });
        if (parsed == std::end(kFaultKinds)) {
          std::string names;
          for (const auto& known : kFaultKinds) {
            names += (names.empty() ? "" : ", ") + std::string(known.first);
          }
          fail(kind, "network.faults.kind", "one of " + names);
        }
        const auto [start, end] = span(*from, entry.get("to"), "network.faults");
        scenario.faults.push_back({parsed->second, start, end});
      }
    }
  }

  if (const toml::node* server = root_.get("server")) {
    const toml::table& section = table(*server, "server");
    only(section, "server", {"kind", "radius", "tracker_key"});
    if (const toml::node* kind = section.get("kind")) {
      scenario.server = text(*kind, "server.kind");
      if (scenario.server != "real" && scenario.server != "bench" && scenario.server != "none") {
        fail(kind, "server.kind", "one of real, bench, none");
      }
    }
    if (const toml::node* radius = section.get("radius")) {
      scenario.radius = static_cast<int>(whole(*radius, "server.radius", 1, 9999));
    }
    if (const toml::node* key = section.get("tracker_key")) {
      scenario.trackerKey = text(*key, "server.tracker_key");
      if (scenario.server != "real") {
        fail(key, "server.tracker_key", "a key is asked by the real server: kind = \"real\"");
      }
    }
  }
  if (const toml::node* expect = root_.get("expect")) {
    readExpectations(*expect, scenario);
  }
  return scenario;
}

Scenario parseScenario(const std::string& text, const std::string& name) {
  toml::table root;
  try {
    root = toml::parse(text, name);
  } catch (const toml::parse_error& error) {
    // The parser quotes what it saw, control bytes included.
    throw ScenarioError(name + ":" + std::to_string(error.source().begin.line) + ": " +
                        shownBytes(std::string(error.description())));
  }
  return Reader(root, name).read();
}

std::string_view faultName(peers::Sim900::Fault kind) {
  for (const auto& [name, known] : kFaultKinds) {
    if (known == kind) {
      return name;
    }
  }
  return "fault";
}

bool isElfImage(const std::string& path) {
  char magic[4] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(magic, 4) && std::string(magic, 4) == "\x7F" "ELF";
}

Scenario readScenario(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    throw ScenarioError(path + ": cannot be read");
  }
  std::stringstream text;
  text << file.rdbuf();
  return parseScenario(text.str(), path);
}

}  // namespace sim
