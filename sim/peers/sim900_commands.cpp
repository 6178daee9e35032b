// The SIM900 model's command line: echo, parsing (CR ends a line, blanks and
// case as V.250 has them), busy lines, and the commands it knows.
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

// Commands that need the SIM's SMS and call services (Call Ready).
bool needsServices(const std::string& name) {
  return name.rfind("+CM", 0) == 0 || name == "+CPMS" || name == "+CNMI" || name == "+CSCA";
}

}  // namespace

std::string Sim900::State::cmeError(int code, const std::string& text) const {
  if (!settings.strict || errorMode == 0) {
    return error();
  }
  return "+CME ERROR: " + (errorMode == 1 ? std::to_string(code) : text);
}

// AT+CMEE=0 turns +CME ERROR into ERROR only: a SIM900A with no AT+CMEE
// still answered "+CMS ERROR: 302", as the SMS standard has it.
std::string Sim900::State::cmsError(int code, const std::string& text) const {
  return "+CMS ERROR: " + (settings.strict && errorMode == 2 ? text : std::to_string(code));
}

void Sim900::State::output(PeerLink& link, const std::string& text, Time delay) {
  if (!powered || !rateLocked) {
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
  dialPending = false;
  answerPending = false;
  if (delay == 0) {
    complete(link, information + framed(result));
    return;
  }
  busy = true;
  delayed[++outputs] = information + framed(result);
  link.wakeAfter(delay, tag(kFinished, outputs));
}

void Sim900::State::complete(PeerLink& link, const std::string& text) {
  output(link, text);
  busy = false;
  runNextWaiting(link);
}

void Sim900::State::runNextWaiting(PeerLink& link) {
  while (!busy && !waitingLines.empty() && mode == Mode::Command) {
    const std::string next = waitingLines.front();
    waitingLines.pop_front();
    runLine(link, next);
  }
}

void Sim900::State::heard(PeerLink& link, uint8_t byte) {
  if (!powered || !booted) {
    return;
  }
  const char character = static_cast<char>(byte);
  if (!rateLocked) {
    // Autobaud: only "AT" or "At" sets the rate; nothing is echoed before.
    if (previous == 'A' && (character == 'T' || character == 't')) {
      rateLocked = true;
      if (loseNextAt) {
        loseNextAt = false;
        skipLine = true;
      } else {
        heardCommand(link, 'A', false);
        heardCommand(link, character, false);
      }
    }
    previous = character;
    return;
  }
  if (skipLine) {
    skipLine = character != '\r';
    afterCr = character == '\r';
    return;
  }
  // The tracker ends its lines with CR LF: the LF is ignored.
  const bool ignoredLineFeed = afterCr && character == '\n';
  afterCr = false;
  switch (mode) {
    case Mode::Command:
      heardCommand(link, character, ignoredLineFeed);
      return;
    case Mode::SmsText:
      if (ignoredLineFeed && settings.promptLineFeed == PromptLineFeed::Ignored) {
        return;
      }
      if (echo) {
        link.send(0, std::string(1, character));
      }
      if (character == kEscape) {
        mode = Mode::Command;
        link.record("sms-cancelled " + escapeBytes(smsNumber));
        finish(link, "", "OK", draw(settings.timing.command));
      } else if (character == kCtrlZ) {
        mode = Mode::Command;
        const Time now = link.now();
        const bool noService = settings.strict ? !registered(now) : faulty(Fault::NoNetwork, now);
        if (noService || faulty(Fault::TextsRefused, now)) {
          link.record("sms-failed " + escapeBytes(smsNumber) + " " + escapeBytes(smsText));
          finish(link, "",
                 noService ? cmsError(331, "no network service") : cmsError(21, "short message transfer rejected"),
                 network(settings.timing.smsNetwork, now));
        } else {
          busy = true;
          delayed[++outputs] = smsNumber + '\n' + smsText;
          link.wakeAfter(network(settings.timing.smsNetwork, now), tag(kSmsAccepted, outputs));
        }
      } else {
        smsText += character;
      }
      return;
    case Mode::HttpData:
      if (ignoredLineFeed && settings.promptLineFeed == PromptLineFeed::Ignored) {
        return;
      }
      httpBody += character;
      if (--httpDataLeft == 0) {
        mode = Mode::Command;
        ++httpDataGeneration;
        link.record("http-data " + escapeBytes(httpBody));
        finish(link, "", "OK", draw(settings.timing.command));
      }
      return;
  }
}

void Sim900::State::heardCommand(PeerLink& link, char character, bool ignoredLineFeed) {
  // A dial or an answer in progress is aborted by any character but the LF
  // that ends its own line (the manual's ATD note).
  if (!ignoredLineFeed && (dialPending || answerPending)) {
    abortDial(link);
    return;
  }
  if (echo && !(ignoredLineFeed && settings.strict)) {
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
}

void Sim900::State::endLine(PeerLink& link) {
  const std::string raw = line;
  line.clear();
  if (!busy) {
    runLine(link, raw);
    return;
  }
  switch (settings.busy) {
    case BusyPolicy::Queue:
      waitingLines.push_back(raw);
      return;
    case BusyPolicy::Drop:
      link.record("command-busy " + escapeBytes(raw) + " dropped");
      return;
    case BusyPolicy::Error:
      link.record("command-busy " + escapeBytes(raw) + " ERROR");
      output(link, framed(error()));
      return;
  }
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
    return;  // no command, no answer
  }
  pendingCommand = raw;
  busy = true;
  execute(link, cleaned.substr(attention + 2));
}

void Sim900::State::execute(PeerLink& link, const std::string& commands) {
  std::string information;
  size_t at = 0;
  const Time commandTime = draw(settings.timing.command);
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
      if (needsServices(name) && !servicesReady) {
        finish(link, information, cmeError(14, "SIM busy"), commandTime);
        return;
      }
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
      finish(link, information, error(), commandTime);
      return;
    }
    if (deferred) {
      return;  // it answers later, or has already
    }
  }
  finish(link, information, "OK", commandTime);
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
      deferred = true;
      if (call != Call::Incoming) {
        finish(link, "", "NO CARRIER", draw(settings.timing.command));
        return true;
      }
      if (settings.strict) {
        // Answered when its OK goes out; a character before that aborts it.
        answerPending = true;
        link.wakeAfter(draw(settings.timing.command), tag(kAnswered, callGeneration));
        return true;
      }
      call = Call::Active;
      ++callGeneration;
      link.record("call-answer");
      if (callTalk) {
        link.wakeAfter(*callTalk, tag(kFarEndHangsUp, callGeneration));
      }
      finish(link, "", "OK", draw(settings.timing.command));
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
    if (name == "+CMEE") {
      if (form == "?") {
        information += framed("+CMEE: " + std::to_string(errorMode));
        return true;
      }
      if (form != "=" || (arguments[0] != "0" && arguments[0] != "1" && arguments[0] != "2")) {
        return false;
      }
      errorMode = arguments[0][0] - '0';
      return true;
    }
    return sms(link, name, form, arguments, information, deferred);
  }
  if (name == "+SAPBR" || name == "+CGATT") {
    return gprs(link, name, form, arguments, information, deferred);
  }
  if (name.rfind("+HTTP", 0) == 0) {
    return http(link, name, form, arguments, information, deferred);
  }
  const Time now = link.now();
  const bool strict = settings.strict;
  if (name == "+CSQ") {
    information += framed(registered(now) ? "+CSQ: 20,0" : strict ? "+CSQ: 0,0" : "+CSQ: 99,99");
    return form.empty();
  }
  if (name == "+CREG") {
    if (form == "?") {
      const char* status = registered(now) ? "1" : powered && booted ? "2" : "0";
      information += framed("+CREG: " + std::to_string(registrationMode) + "," + status);
      return true;
    }
    if (form == "=" && (arguments[0] == "0" || arguments[0] == "1")) {
      registrationMode = arguments[0][0] - '0';
      return true;
    }
    return false;
  }
  if (name == "+CPIN" && form == "?") {
    information += framed("+CPIN: READY");
    return true;
  }
  if (name == "+CLIP" && form == "=" && (arguments[0] == "0" || arguments[0] == "1")) {
    callerId = arguments[0] == "1";
    return true;
  }
  if (name == "+COLP" && form == "=" && (arguments[0] == "0" || arguments[0] == "1")) {
    connectedLine = arguments[0] == "1";
    return true;
  }
  if (name == "+CPOWD" && form == "=" && (arguments[0] == "0" || arguments[0] == "1")) {
    // No final result: the module goes down.
    deferred = true;
    link.record("command " + escapeBytes(pendingCommand) + " " + escapeBytes(arguments[0] == "1" ? "NORMAL POWER DOWN" : "-"));
    powerOff(link, arguments[0] == "1" ? "NORMAL POWER DOWN" : "");
    return true;
  }
  return false;
}

bool Sim900::State::sms(PeerLink& link, const std::string& name, const std::string& form,
                        const std::vector<std::string>& arguments, std::string& information, bool& deferred) {
  auto used = [this] { return std::to_string(store.size()); };
  const Time commandTime = draw(settings.timing.command);
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
    if (form != "=" || arguments[0].empty()) {
      return false;
    }
    if (!textMode) {
      // Session 34: a SIM900A not in text mode.
      if (!settings.strict) {
        return false;
      }
      deferred = true;
      finish(link, information, cmsError(302, "operation not allowed"), commandTime);
      return true;
    }
    smsNumber = arguments[0];
    smsText.clear();
    mode = Mode::SmsText;
    deferred = true;
    output(link, "\r\n> ", commandTime);
    return true;
  }
  if ((name == "+CMGR" || name == "+CMGD") && form == "=" && isNumber(arguments[0])) {
    const int index = std::stoi(arguments[0]);
    if (index < 1 || index > kStoreSize) {
      deferred = true;
      finish(link, information, cmsError(321, "invalid memory index"), commandTime);
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
  const Time now = link.now();
  if (name == "+CGATT") {
    if (form != "?") {
      return false;
    }
    information += framed(std::string("+CGATT: ") + (attached(now) ? "1" : "0"));
    return true;
  }
  if (form != "=" || arguments.size() < 2 || arguments[1] != "1") {
    return false;
  }
  const std::string& command = arguments[0];
  if (command == "3") {
    if (arguments.size() != 4) {
      return false;
    }
    if (arguments[2] == "APN") {
      bearer.apn = arguments[3];
    } else if (arguments[2] == "USER") {
      bearer.user = arguments[3];
    } else if (arguments[2] == "PWD") {
      bearer.password = arguments[3];
    }
    return true;
  }
  if (command == "2") {
    information += framed(bearerOpen ? "+SAPBR: 1,1,\"10.145.23.7\"" : "+SAPBR: 1,3,\"0.0.0.0\"");
    return true;
  }
  if (command == "0") {
    if (!bearerOpen) {
      return false;
    }
    bearerOpen = false;
    deferred = true;
    link.wakeAfter(draw(settings.timing.bearerClose), tag(kBearerClosed, 0));
    return true;
  }
  if (command == "1") {
    if (bearerOpen) {
      deferred = true;
      finish(link, information, cmeError(3, "operation not allowed"), draw(settings.timing.command));
      return true;
    }
    deferred = true;
    link.wakeAfter(network(settings.timing.bearerOpen, now), tag(kBearerOpened, 0));
    return true;
  }
  return false;
}

bool Sim900::State::http(PeerLink& link, const std::string& name, const std::string& form,
                         const std::vector<std::string>& arguments, std::string& information, bool& deferred) {
  const auto notAllowed = [&] {
    deferred = true;
    finish(link, information, cmeError(3, "operation not allowed"), draw(settings.timing.command));
    return true;
  };
  if (name == "+HTTPINIT") {
    if (httpStarted) {
      return notAllowed();
    }
    httpStarted = true;
    url.clear();
    contentType = "text/plain";
    userData.clear();
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
    static const char* const kKnown[] = {"CID",   "URL",      "UA",    "PROIP",   "PROPORT",
                                         "REDIR", "BREAK",    "BREAKEND", "TIMEOUT", "CONTENT", "USERDATA"};
    if (form != "=" || arguments.size() != 2 ||
        std::none_of(std::begin(kKnown), std::end(kKnown), [&](const char* known) { return arguments[0] == known; })) {
      return false;
    }
    if (arguments[0] == "URL") {
      url = arguments[1];
    } else if (arguments[0] == "CONTENT") {
      contentType = arguments[1];
    } else if (arguments[0] == "USERDATA") {
      userData = arguments[1];
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
    output(link, framed("DOWNLOAD"), draw(settings.timing.command));
    link.wakeAfter(milliseconds(static_cast<uint64_t>(std::stoi(arguments[1]))), tag(kHttpDataTimeout, ++httpDataGeneration));
    return true;
  }
  if (name == "+HTTPACTION") {
    if (form != "=" || arguments[0].size() != 1 || arguments[0][0] < '0' || arguments[0][0] > '2') {
      return false;
    }
    const int method = arguments[0][0] - '0';
    if (settings.strict && actionPending) {
      // One request at a time: the stack is busy.
      output(link, framed("+HTTPACTION:" + std::to_string(method) + ",604,0"),
             settings.timing.command.high + milliseconds(1));
      return true;
    }
    actionMethod = method;
    actionPending = true;
    response.reset();
    link.wakeAfter(network(settings.timing.httpAction, link.now()), tag(kActionDone, ++actionGeneration));
    return true;
  }
  if (name == "+HTTPREAD") {
    if (!response || (settings.strict && response->status >= 600)) {
      return false;
    }
    information += framed("+HTTPREAD:" + std::to_string(response->body.size())) + response->body;
    return true;
  }
  return false;
}

}  // namespace sim::peers
