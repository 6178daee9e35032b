// The SIM900 model's command line: echo, parsing (CR ends a line, blanks and
// case as V.250 has them), and the commands it knows.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sim/peers/sim900_state.h"

namespace sim::peers {

namespace {

constexpr size_t kLongestLine = 556;
constexpr int kStoreSize = 30;
constexpr char kEscape = 0x1B;
constexpr char kCtrlZ = 0x1A;

std::string framed(const std::string& text) { return "\r\n" + text + "\r\n"; }

// A command's arguments: split at commas outside quotes, the quotes taken off.
std::vector<std::string> splitArguments(const std::string& text) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false;
  for (char character : text) {
    if (character == '"') {
      quoted = !quoted;
    } else if (character == ',' && !quoted) {
      arguments.push_back(current);
      current.clear();
    } else {
      current += character;
    }
  }
  arguments.push_back(current);
  return arguments;
}

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char character) { return std::isdigit(static_cast<unsigned char>(character)); });
}

}  // namespace

void Sim900::State::start(PeerLink& link) {
  echo = echoAtPowerUp;
  for (size_t index = 0; index < phone.calls.size(); ++index) {
    link.wakeAfter(phone.calls[index].at, tag(kIncomingCall, index));
  }
  for (size_t index = 0; index < phone.texts.size(); ++index) {
    link.wakeAfter(phone.texts[index].at + timing.smsDelivery, tag(kTextArrives, index));
  }
  for (size_t index = 0; index < faults.size(); ++index) {
    link.wakeAfter(faults[index].from, tag(kFaultStarts, index));
    if (faults[index].to != kNever) {
      link.wakeAfter(faults[index].to, tag(kFaultEnds, index));
    }
  }
}

void Sim900::State::output(PeerLink& link, const std::string& text, Time delay) {
  if (!powered) {
    return;
  }
  if (delay == 0) {
    link.send(0, text);
    return;
  }
  delayed[++outputs] = text;
  link.wakeAfter(delay, tag(kOutput, outputs));
}

void Sim900::State::finish(PeerLink& link, const std::string& information, const std::string& result, Time delay) {
  link.record("command " + escapeBytes(pendingCommand) + " " + escapeBytes(result));
  output(link, information + framed(result), delay);
  busy = false;
  ++finished;
  if (!waitingLines.empty()) {
    const std::string next = waitingLines.front();
    waitingLines.pop_front();
    runLine(link, next);
  }
}

void Sim900::State::heard(PeerLink& link, uint8_t byte) {
  if (!powered) {
    return;
  }
  const char character = static_cast<char>(byte);
  // The tracker ends its lines with CR LF: the LF is ignored.
  const bool ignoredLineFeed = afterCr && character == '\n';
  afterCr = false;
  switch (mode) {
    case Mode::Command:
      if (echo) {
        link.send(0, std::string(1, character));
      }
      if (ignoredLineFeed) {
        return;
      }
      if (character == '\r') {
        afterCr = true;
        endLine(link);
      } else if (character == '\b') {
        if (!line.empty()) {
          line.pop_back();
        }
      } else if (line.size() < kLongestLine) {
        line += character;
      }
      return;
    case Mode::SmsText:
      if (ignoredLineFeed) {
        return;
      }
      if (echo) {
        link.send(0, std::string(1, character));
      }
      if (character == kEscape) {
        mode = Mode::Command;
        link.record("sms-cancelled " + escapeBytes(smsNumber));
        finish(link, "", "OK", timing.command);
      } else if (character == kCtrlZ) {
        mode = Mode::Command;
        if (faulty(Fault::NoNetwork, link.now())) {
          link.record("sms-failed " + escapeBytes(smsNumber) + " " + escapeBytes(smsText));
          finish(link, "", "+CMS ERROR: 331", network(timing.smsNetwork, link.now()));
        } else {
          delayed[++outputs] = smsNumber + '\n' + smsText;
          link.wakeAfter(network(timing.smsNetwork, link.now()), tag(kSmsAccepted, outputs));
        }
      } else {
        smsText += character;
      }
      return;
    case Mode::HttpData:
      if (ignoredLineFeed) {
        return;
      }
      httpBody += character;
      if (--httpDataLeft == 0) {
        mode = Mode::Command;
        ++httpDataGeneration;
        link.record("http-data " + escapeBytes(httpBody));
        finish(link, "", "OK", timing.command);
      }
      return;
  }
}

void Sim900::State::endLine(PeerLink& link) {
  const std::string raw = line;
  line.clear();
  if (busy) {
    waitingLines.push_back(raw);
    return;
  }
  runLine(link, raw);
}

void Sim900::State::runLine(PeerLink& link, const std::string& raw) {
  // Blanks and control characters outside quotes go, letters outside
  // quotes are taken in upper case.
  std::string cleaned;
  bool quoted = false;
  for (char character : raw) {
    if (character == '"') {
      quoted = !quoted;
      cleaned += character;
    } else if (static_cast<unsigned char>(character) < 0x20 || (!quoted && character == ' ')) {
      continue;
    } else {
      cleaned += quoted ? character : static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    }
  }
  const size_t attention = cleaned.find("AT");
  if (attention == std::string::npos) {
    // No command, no answer; the next waiting line, if any.
    if (!waitingLines.empty()) {
      const std::string next = waitingLines.front();
      waitingLines.pop_front();
      runLine(link, next);
    }
    return;
  }
  pendingCommand = raw;
  execute(link, cleaned.substr(attention + 2));
}

void Sim900::State::execute(PeerLink& link, const std::string& commands) {
  std::string information;
  size_t at = 0;
  const uint64_t finishedBefore = finished;
  while (at < commands.size()) {
    bool deferred = false;
    bool ok = false;
    const char first = commands[at];
    if (first == '+') {
      size_t end = at + 1;
      while (end < commands.size() && std::isalnum(static_cast<unsigned char>(commands[end]))) {
        ++end;
      }
      const std::string name = commands.substr(at, end - at);
      std::string form;
      if (commands.compare(end, 2, "=?") == 0) {
        form = "=?";
        end += 2;
      } else if (end < commands.size() && commands[end] == '?') {
        form = "?";
        end += 1;
      } else if (end < commands.size() && commands[end] == '=') {
        form = "=";
        end += 1;
      }
      // The arguments run to the next ';' outside quotes.
      size_t stop = end;
      for (bool quoted = false; stop < commands.size() && (quoted || commands[stop] != ';'); ++stop) {
        quoted = commands[stop] == '"' ? !quoted : quoted;
      }
      const std::vector<std::string> arguments =
          form == "=" ? splitArguments(commands.substr(end, stop - end)) : std::vector<std::string>{};
      ok = extended(link, name, form, arguments, information, deferred);
      at = stop + 1;
    } else if (first == 'D') {
      ok = basic(link, 'D', commands.substr(at + 1), information, deferred);
      at = commands.size();
    } else if (std::isalpha(static_cast<unsigned char>(first))) {
      size_t end = at + 1;
      while (end < commands.size() && std::isdigit(static_cast<unsigned char>(commands[end]))) {
        ++end;
      }
      ok = basic(link, first, commands.substr(at + 1, end - at - 1), information, deferred);
      at = end;
      if (at < commands.size() && commands[at] == ';') {
        ++at;
      }
    }
    if (!ok) {
      finish(link, information, error(), timing.command);
      return;
    }
    if (deferred) {
      // Unless it has already answered, the modem is busy until it does.
      busy = finished == finishedBefore;
      return;
    }
  }
  finish(link, information, "OK", timing.command);
}

bool Sim900::State::basic(PeerLink& link, char command, const std::string& argument, std::string& information,
                          bool& deferred) {
  switch (command) {
    case 'E':
      if (!argument.empty() && argument != "0" && argument != "1") {
        return false;
      }
      echo = argument == "1";
      return true;
    case 'V':
    case 'Q':
    case 'Z':
      if (command == 'Z') {
        echo = echoAtPowerUp;
      }
      return true;
    case 'I':
      information += framed("SIM900 R11.0");
      return true;
    case 'H':
      if (call != Call::Idle) {
        endCall(link, call == Call::Active ? "talked" : call == Call::Incoming ? "rejected" : "abandoned", "");
      }
      return true;
    case 'A':
      if (call != Call::Incoming) {
        deferred = true;
        finish(link, "", "NO CARRIER", timing.command);
        return true;
      }
      call = Call::Active;
      ++callGeneration;
      link.record("call-answer");
      if (callTalk) {
        link.wakeAfter(*callTalk, tag(kFarEndHangsUp, callGeneration));
      }
      return true;
    case 'D':
      deferred = true;
      dial(link, argument);
      return true;
    default:
      return false;
  }
}

bool Sim900::State::extended(PeerLink& link, const std::string& name, const std::string& form,
                             const std::vector<std::string>& arguments, std::string& information, bool& deferred) {
  if (name.rfind("+CM", 0) == 0 || name == "+CPMS" || name == "+CNMI") {
    return sms(link, name, form, arguments, information, deferred);
  }
  if (name == "+SAPBR" || name.rfind("+HTTP", 0) == 0) {
    return gprs(link, name, form, arguments, information, deferred);
  }
  const bool registered = !faulty(Fault::NoNetwork, link.now());
  if (name == "+CSQ") {
    information += framed(registered ? "+CSQ: 20,0" : "+CSQ: 99,99");
    return form.empty();
  }
  if (name == "+CREG" && form == "?") {
    information += framed(registered ? "+CREG: 0,1" : "+CREG: 0,2");
    return true;
  }
  if (name == "+CLIP" && form == "=" && (arguments[0] == "0" || arguments[0] == "1")) {
    callerId = arguments[0] == "1";
    return true;
  }
  return false;
}

bool Sim900::State::sms(PeerLink& link, const std::string& name, const std::string& form,
                        const std::vector<std::string>& arguments, std::string& information, bool& deferred) {
  auto used = [this] { return std::to_string(store.size()); };
  if (name == "+CMGF") {
    if (form == "?") {
      information += framed(std::string("+CMGF: ") + (textMode ? "1" : "0"));
      return true;
    }
    if (form != "=" || (arguments[0] != "0" && arguments[0] != "1")) {
      return false;
    }
    textMode = arguments[0] == "1";
    return true;
  }
  if (name == "+CMEE") {
    verboseErrors = form == "=" && arguments[0] != "0";
    return form == "=";
  }
  if (name == "+CNMI") {
    if (form != "=" || arguments.size() < 2 || !isNumber(arguments[1])) {
      return false;
    }
    newMessageMode = std::stoi(arguments[1]);
    return true;
  }
  if (name == "+CPMS") {
    if (form == "?") {
      information += framed("+CPMS: \"SM\"," + used() + ",30,\"SM\"," + used() + ",30,\"SM\"," + used() + ",30");
      return true;
    }
    if (form != "=" || arguments[0] != "SM") {
      return false;
    }
    information += framed("+CPMS: " + used() + ",30," + used() + ",30," + used() + ",30");
    return true;
  }
  if (name == "+CMGS") {
    if (form != "=" || !textMode || arguments[0].empty()) {
      return false;
    }
    smsNumber = arguments[0];
    smsText.clear();
    mode = Mode::SmsText;
    deferred = true;
    output(link, "\r\n> ", timing.command);
    return true;
  }
  if ((name == "+CMGR" || name == "+CMGD") && form == "=" && isNumber(arguments[0])) {
    const int index = std::stoi(arguments[0]);
    if (index < 1 || index > kStoreSize) {
      deferred = true;
      finish(link, information, "+CMS ERROR: 321", timing.command);
      return true;
    }
    const auto found = store.find(index);
    if (name == "+CMGD") {
      store.erase(index);
      return true;
    }
    if (found != store.end()) {
      // The header, then the text on the lines after it.
      information += framed("+CMGR: \"" + std::string(found->second.read ? "REC READ" : "REC UNREAD") + "\",\"" +
                            found->second.from + "\",\"\",\"" + found->second.stamp + "\"") +
                     found->second.text + "\r\n";
      found->second.read = true;
    }
    return true;
  }
  return false;
}

bool Sim900::State::gprs(PeerLink& link, const std::string& name, const std::string& form,
                         const std::vector<std::string>& arguments, std::string& information, bool& deferred) {
  if (name == "+SAPBR") {
    if (form != "=" || arguments.size() < 2 || arguments[1] != "1") {
      return false;
    }
    const std::string& command = arguments[0];
    if (command == "3") {
      return arguments.size() == 4;
    }
    if (command == "2") {
      information += framed(bearerOpen ? "+SAPBR: 1,1,\"10.145.23.7\"" : "+SAPBR: 1,3,\"0.0.0.0\"");
      return true;
    }
    if (command == "0") {
      const bool wasOpen = bearerOpen;
      bearerOpen = false;
      return wasOpen;
    }
    if (command == "1") {
      if (bearerOpen) {
        return false;
      }
      deferred = true;
      link.wakeAfter(network(timing.bearerOpen, link.now()), tag(kBearerOpened, callGeneration));
      return true;
    }
    return false;
  }
  if (name == "+HTTPINIT") {
    if (httpStarted) {
      return false;
    }
    httpStarted = true;
    url.clear();
    contentType = "text/plain";
    response.reset();
    return true;
  }
  if (name == "+HTTPTERM") {
    if (!httpStarted) {
      return false;
    }
    if (actionPending) {
      link.record("http-abandoned " + escapeBytes(url));
    }
    httpStarted = false;
    actionPending = false;
    return true;
  }
  if (!httpStarted) {
    return false;
  }
  if (name == "+HTTPPARA") {
    if (form != "=" || arguments.size() != 2) {
      return false;
    }
    if (arguments[0] == "URL") {
      url = arguments[1];
    } else if (arguments[0] == "CONTENT") {
      contentType = arguments[1];
    }
    return true;
  }
  if (name == "+HTTPDATA") {
    // The manual's limits: 1 to 319488 bytes, 1000 to 120000 ms to send them.
    if (form != "=" || arguments.size() != 2 || !isNumber(arguments[0]) || !isNumber(arguments[1]) ||
        std::stoi(arguments[0]) < 1 || std::stoi(arguments[0]) > 319488 || std::stoi(arguments[1]) < 1000 ||
        std::stoi(arguments[1]) > 120000) {
      return false;
    }
    httpBody.clear();
    httpDataLeft = static_cast<size_t>(std::stoi(arguments[0]));
    mode = Mode::HttpData;
    deferred = true;
    output(link, framed("DOWNLOAD"), timing.command);
    link.wakeAfter(milliseconds(static_cast<uint64_t>(std::stoi(arguments[1]))), tag(kHttpDataTimeout, ++httpDataGeneration));
    return true;
  }
  if (name == "+HTTPACTION") {
    if (form != "=" || arguments[0].size() != 1 || arguments[0][0] < '0' || arguments[0][0] > '2') {
      return false;
    }
    actionMethod = arguments[0][0] - '0';
    actionPending = true;
    response.reset();
    link.wakeAfter(network(timing.httpAction, link.now()), tag(kActionDone, ++actionGeneration));
    return true;
  }
  if (name == "+HTTPREAD") {
    if (!response) {
      return false;
    }
    information += framed("+HTTPREAD:" + std::to_string(response->body.size())) + response->body;
    return true;
  }
  return false;
}

}  // namespace sim::peers
