// The SIM900 model's network side: calls to and from the caretaker's phone,
// texts, the bearer, HTTP requests, and the faults a test switches on.
#include <httplib.h>

#include <algorithm>
#include <cstdio>

#include "sim/peers/sim900_state.h"

namespace sim::peers {

namespace {

std::string framed(const std::string& text) { return "\r\n" + text + "\r\n"; }

std::string digits(const std::string& number) {
  std::string only;
  std::copy_if(number.begin(), number.end(), std::back_inserter(only), [](char c) { return c >= '0' && c <= '9'; });
  return only;
}

// A voice number: an optional leading '+', then digits, '*' and '#'.
bool isDialNumber(const std::string& number) {
  const size_t start = !number.empty() && number[0] == '+' ? 1 : 0;
  return number.size() > start && std::all_of(number.begin() + static_cast<long>(start), number.end(), [](char c) {
           return (c >= '0' && c <= '9') || c == '*' || c == '#';
         });
}

}  // namespace

bool Sim900::State::faulty(Fault fault, Time at) const {
  return std::any_of(faults.begin(), faults.end(),
                     [fault, at](const FaultSpan& span) { return span.fault == fault && at >= span.from && at < span.to; });
}

Time Sim900::State::network(Time wait, Time at) const { return faulty(Fault::SlowNetwork, at) ? wait * 5 : wait; }

std::string Sim900::State::stamp(Time at) const {
  const uint64_t clock = 10 * 3600 + at / seconds(1);
  char text[32];
  std::snprintf(text, sizeof text, "26/12/08,%02llu:%02llu:%02llu+12", static_cast<unsigned long long>(clock / 3600 % 24),
                static_cast<unsigned long long>(clock / 60 % 60), static_cast<unsigned long long>(clock % 60));
  return text;
}

void Sim900::State::dial(PeerLink& link, const std::string& dialString) {
  if (dialString.empty() || dialString.back() != ';' || !isDialNumber(dialString.substr(0, dialString.size() - 1)) ||
      call != Call::Idle) {
    finish(link, "", error(), timing.command);
    return;
  }
  callNumber = dialString.substr(0, dialString.size() - 1);
  callOutgoing = true;
  callStart = link.now();
  call = Call::Dialling;
  ++callGeneration;
  link.record("call-start out " + escapeBytes(callNumber));
  link.wakeAfter(network(timing.callSetUp, link.now()), tag(kCallSetUp, callGeneration));
}

void Sim900::State::endCall(PeerLink& link, const std::string& outcome, const std::string& code) {
  link.record("call-end " + outcome);
  call = Call::Idle;
  ++callGeneration;
  if (!code.empty()) {
    output(link, framed(code));
  }
}

void Sim900::State::textArrives(PeerLink& link, const CaretakerPhone::Text& text) {
  link.record("sms-received " + escapeBytes(phone.number) + " " + escapeBytes(text.body));
  if (newMessageMode == 2) {
    output(link, framed("+CMT: \"" + phone.number + "\",\"\",\"" + stamp(link.now()) + "\"") + text.body + "\r\n");
    return;
  }
  for (int index = 1; index <= 30; ++index) {
    if (store.count(index) == 0) {
      store[index] = Stored{phone.number, stamp(link.now()), text.body, false};
      if (newMessageMode == 1) {
        output(link, framed("+CMTI: \"SM\"," + std::to_string(index)));
      }
      return;
    }
  }
  link.record("sms-lost store-full");
}

HttpResponse Sim900::State::request(const HttpRequest& made) const {
  if (handler) {
    return handler(made);
  }
  if (serverPort == 0) {
    return {601, ""};
  }
  // The path of the firmware's URL, on the bench's server.
  std::string path = made.url;
  const size_t scheme = path.find("://");
  const size_t slash = path.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  path = slash == std::string::npos ? "/" : path.substr(slash);
  httplib::Client client(serverHost, serverPort);
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  client.set_write_timeout(5);
  const httplib::Result result = made.method == "POST"  ? client.Post(path, made.body, made.contentType.c_str())
                                 : made.method == "HEAD" ? client.Head(path)
                                                         : client.Get(path);
  if (!result) {
    return {601, ""};
  }
  return {result->status, result->body};
}

void Sim900::State::completeAction(PeerLink& link) {
  static const char* kMethods[] = {"GET", "POST", "HEAD"};
  const HttpRequest made{kMethods[actionMethod], url, contentType, actionMethod == 1 ? httpBody : ""};
  const Time now = link.now();
  const HttpResponse answer = !bearerOpen || faulty(Fault::NoNetwork, now) || faulty(Fault::ServerUnreachable, now)
                                  ? HttpResponse{601, ""}
                                  : request(made);
  link.record("http " + made.method + " " + escapeBytes(made.url) + " " + escapeBytes(made.contentType) + " " +
              escapeBytes(made.body) + " " + std::to_string(answer.status) + " " + escapeBytes(answer.body));
  response = answer;
  output(link, framed("+HTTPACTION:" + std::to_string(actionMethod) + "," + std::to_string(answer.status) + "," +
                      std::to_string(answer.body.size())));
}

void Sim900::State::powerDown(PeerLink& link) {
  link.record("power-off");
  if (call != Call::Idle) {
    endCall(link, "power lost", "");
  }
  powered = false;
  delayed.clear();
  mode = Mode::Command;
  line.clear();
  busy = false;
  waitingLines.clear();
  bearerOpen = false;
  httpStarted = false;
  actionPending = false;
  ++httpDataGeneration;
}

void Sim900::State::powerUp(PeerLink& link) {
  powered = true;
  echo = echoAtPowerUp;
  textMode = false;
  newMessageMode = 1;
  link.record("power-on");
  output(link, framed("Call Ready"), seconds(2));
}

void Sim900::State::wake(PeerLink& link, uint64_t wakeTag) {
  const auto event = static_cast<Event>(wakeTag >> 56);
  const uint64_t value = wakeTag & ((uint64_t{1} << 56) - 1);
  if (event == kFaultStarts || event == kFaultEnds) {
    const FaultSpan& span = faults[value];
    if (span.fault == Fault::PowerLoss) {
      event == kFaultStarts ? powerDown(link) : powerUp(link);
    } else if (span.fault == Fault::BearerDropped && event == kFaultStarts && bearerOpen && powered) {
      bearerOpen = false;
      link.record("bearer-dropped");
      output(link, framed("+SAPBR 1: DEACT"));
    }
    return;
  }
  if (!powered) {
    return;
  }
  const Time now = link.now();
  switch (event) {
    case kOutput: {
      const auto found = delayed.find(value);
      if (found != delayed.end()) {
        link.send(0, found->second);
        delayed.erase(found);
      }
      return;
    }
    case kSmsAccepted: {
      const auto found = delayed.find(value);
      if (found == delayed.end()) {
        return;
      }
      const std::string number = found->second.substr(0, found->second.find('\n'));
      const std::string text = found->second.substr(found->second.find('\n') + 1);
      delayed.erase(found);
      messageReference = (messageReference + 1) % 256;
      link.record("sms-sent " + escapeBytes(number) + " " + escapeBytes(text));
      finish(link, framed("+CMGS: " + std::to_string(messageReference)), "OK", 0);
      return;
    }
    case kCallSetUp:
      if (value != callGeneration || call != Call::Dialling) {
        return;
      }
      if (faulty(Fault::NoNetwork, now) || digits(callNumber) != digits(phone.number)) {
        endCall(link, "failed", "");
        finish(link, "", "NO CARRIER", 0);
        return;
      }
      if (phone.busy) {
        endCall(link, "busy", "");
        finish(link, "", "BUSY", 0);
        return;
      }
      call = Call::Alerting;
      finish(link, "", "OK", 0);
      if (phone.answerAfterRings) {
        link.wakeAfter(*phone.answerAfterRings * timing.ringInterval, tag(kFarEndAnswers, callGeneration));
      } else {
        link.wakeAfter(seconds(60), tag(kNoAnswer, callGeneration));
      }
      return;
    case kFarEndAnswers:
      if (value == callGeneration && call == Call::Alerting) {
        call = Call::Active;
        link.record("call-answer");
        if (phone.hangUpAfter) {
          link.wakeAfter(*phone.hangUpAfter, tag(kFarEndHangsUp, callGeneration));
        }
      }
      return;
    case kNoAnswer:
      if (value == callGeneration && call == Call::Alerting) {
        endCall(link, "no answer", "NO ANSWER");
      }
      return;
    case kFarEndHangsUp:
      if (value == callGeneration && call == Call::Active) {
        endCall(link, "talked", "NO CARRIER");
      }
      return;
    case kIncomingCall: {
      const CaretakerPhone::IncomingCall& incoming = phone.calls[value];
      if (call != Call::Idle || faulty(Fault::NoNetwork, now)) {
        link.record("call-start in " + escapeBytes(phone.number));
        link.record("call-end unreachable");
        return;
      }
      call = Call::Incoming;
      ++callGeneration;
      callNumber = phone.number;
      callOutgoing = false;
      callStart = now;
      callTalk = incoming.talk;
      link.record("call-start in " + escapeBytes(phone.number));
      link.wakeAfter(0, tag(kRing, callGeneration));
      link.wakeAfter(incoming.ringFor, tag(kCallerGivesUp, callGeneration));
      return;
    }
    case kRing:
      if (value == callGeneration && call == Call::Incoming) {
        output(link, framed("RING") +
                         (callerId ? framed("+CLIP: \"" + phone.number + "\",145,\"\",0,\"\",0") : std::string()));
        link.wakeAfter(timing.ringInterval, tag(kRing, callGeneration));
      }
      return;
    case kCallerGivesUp:
      if (value == callGeneration && call == Call::Incoming) {
        endCall(link, "missed", "NO CARRIER");
      }
      return;
    case kTextArrives:
      if (faulty(Fault::NoNetwork, now)) {
        link.wakeAfter(seconds(5), wakeTag);  // delivered once the network is back
        return;
      }
      textArrives(link, phone.texts[value]);
      return;
    case kBearerOpened: {
      const bool refused = faulty(Fault::NoNetwork, now);
      bearerOpen = !refused;
      finish(link, "", refused ? error() : "OK", 0);
      return;
    }
    case kActionDone:
      if (value == actionGeneration && actionPending && httpStarted) {
        actionPending = false;
        completeAction(link);
      }
      return;
    case kHttpDataTimeout:
      if (value == httpDataGeneration && mode == Mode::HttpData) {
        // The body is what arrived in time.
        mode = Mode::Command;
        httpDataLeft = 0;
        link.record("http-data " + escapeBytes(httpBody));
        finish(link, "", "OK", 0);
      }
      return;
    default:
      return;
  }
}

std::string escapeBytes(std::string_view bytes) {
  std::string text;
  for (char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    if (character == '\r') {
      text += "\\r";
    } else if (character == '\n') {
      text += "\\n";
    } else if (byte <= 0x20 || byte >= 0x7F || character == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      text += hex;
    } else {
      text += character;
    }
  }
  return text.empty() ? "\\e" : text;  // never empty: fields are split at blanks
}

std::string unescapeBytes(std::string_view text) {
  if (text == "\\e") {
    return {};
  }
  std::string bytes;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\\' || at + 1 >= text.size()) {
      bytes += text[at];
      continue;
    }
    const char kind = text[++at];
    if (kind == 'r') {
      bytes += '\r';
    } else if (kind == 'n') {
      bytes += '\n';
    } else if (kind == 'x' && at + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(std::string(text.substr(at + 1, 2)), nullptr, 16));
      at += 2;
    }
  }
  return bytes;
}

}  // namespace sim::peers
