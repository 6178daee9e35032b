// The SIM900 model's network side: registration, calls to and from the
// phones, texts, the bearer, HTTP requests, and the waits the network takes.
#include <httplib.h>

#include <algorithm>
#include <cstdio>

#include "server/bench_clock.h"
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

// The host of a URL, and whether it is a dotted IPv4 address (no DNS).
std::string hostOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = url.find_first_of(":/", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
bool isAddress(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

}  // namespace

Time Sim900::State::draw(const Span& span) {
  if (span.high <= span.low) {
    return span.low;
  }
  // Whole microseconds: the draw does not depend on the library's
  // distributions, so every platform gets the same timeline.
  const uint64_t steps = (span.high - span.low) / microseconds(1) + 1;
  return span.low + (random() % steps) * microseconds(1);
}

unsigned Sim900::State::draw(const CaretakerPhone::Rings& rings) {
  return rings.high <= rings.low ? rings.low : rings.low + static_cast<unsigned>(random() % (rings.high - rings.low + 1));
}

Time Sim900::State::network(const Span& wait, Time at) {
  if (!faulty(Fault::SlowNetwork, at)) {
    return draw(wait);
  }
  if (settings.timing.slowNetworkMost == 0) {
    return draw(wait) * 5;
  }
  return draw(Span{wait.high, std::max(wait.high, std::min(10 * wait.high, settings.timing.slowNetworkMost))});
}

bool Sim900::State::faulty(Fault fault, Time at) const {
  return std::any_of(faults.begin(), faults.end(),
                     [fault, at](const FaultSpan& span) { return span.fault == fault && at >= span.from && at < span.to; });
}

bool Sim900::State::registered(Time at) const {
  return powered && booted && registeredAt != kNever && at >= registeredAt && !faulty(Fault::NoNetwork, at);
}

std::string Sim900::State::routed(const std::string& number) const {
  if (!settings.strict) {
    return digits(number);
  }
  if (!number.empty() && number[0] == '+') {
    return number;
  }
  if (number.rfind("00", 0) == 0) {
    return "+" + number.substr(2);
  }
  // A national number: the trunk prefix 0, if any, gives way to the
  // operator's country code.
  return "+" + settings.network.countryCode + (number.rfind('0', 0) == 0 ? number.substr(1) : number);
}

bool Sim900::State::isCaretaker(const std::string& number) const { return routed(number) == routed(phone.number); }

std::string Sim900::State::stamp(Time at) const {
  const uint64_t clock = 10 * 3600 + at / seconds(1);
  char text[32];
  std::snprintf(text, sizeof text, "26/12/08,%02llu:%02llu:%02llu+12", static_cast<unsigned long long>(clock / 3600 % 24),
                static_cast<unsigned long long>(clock / 60 % 60), static_cast<unsigned long long>(clock % 60));
  return text;
}

void Sim900::State::dial(PeerLink& link, const std::string& dialString) {
  const Time commandTime = draw(settings.timing.command);
  const bool voice = !dialString.empty() && dialString.back() == ';';
  const std::string number = voice ? dialString.substr(0, dialString.size() - 1) : dialString;
  if (!isDialNumber(number) || call != Call::Idle || !servicesReady) {
    finish(link, "", error(), commandTime);
    return;
  }
  if (!voice || (settings.strict && !registered(link.now()))) {
    // Without the ';' it is a data call, which the module does not make;
    // without a network, no call at all.
    finish(link, "", settings.strict ? "NO CARRIER" : error(), commandTime);
    return;
  }
  callNumber = number;
  callOutgoing = true;
  callStart = link.now();
  call = Call::Dialling;
  voicemail = false;
  ++callGeneration;
  dialPending = true;
  link.record("call-start out " + escapeBytes(callNumber));
  link.wakeAfter(network(settings.timing.callSetUp, link.now()), tag(kCallSetUp, callGeneration));
}

void Sim900::State::abortDial(PeerLink& link) {
  if (dialPending) {
    endCall(link, "aborted", "");
  } else {
    link.record("call-answer-aborted");
  }
  finish(link, "", "NO CARRIER", 0);
}

void Sim900::State::endCall(PeerLink& link, const std::string& outcome, const std::string& code) {
  link.record("call-end " + (voicemail && outcome == "talked" ? std::string("voicemail") : outcome));
  call = Call::Idle;
  voicemail = false;
  ++callGeneration;
  if (!code.empty()) {
    output(link, framed(code));
  }
}

void Sim900::State::ring(PeerLink& link, const CaretakerPhone::IncomingCall& incoming) {
  const Time now = link.now();
  const std::string caller = incoming.number.empty() ? phone.number : incoming.number;
  const bool reachable = settings.strict ? registered(now) : powered && !faulty(Fault::NoNetwork, now);
  link.record("call-start in " + escapeBytes(caller));
  if (call != Call::Idle || !reachable) {
    link.record("call-end unreachable");
    return;
  }
  call = Call::Incoming;
  ++callGeneration;
  callNumber = caller;
  callOutgoing = false;
  callStart = now;
  callTalk = incoming.talk;
  link.wakeAfter(0, tag(kRing, callGeneration));
  link.wakeAfter(incoming.ringFor, tag(kCallerGivesUp, callGeneration));
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

void Sim900::State::takeRequests(PeerLink& link) {
  for (; requestedCalls > 0; --requestedCalls) {
    phone.calls.push_back({link.now(), seconds(60), std::nullopt});
    ring(link, phone.calls.back());
  }
  for (std::string& body : requestedTexts) {
    phone.texts.push_back({link.now(), std::move(body)});
    link.wakeAfter(draw(settings.timing.smsDelivery), tag(kTextArrives, phone.texts.size() - 1));
  }
  requestedTexts.clear();
  link.wakeAfter(milliseconds(20), tag(kRequests, 0));
}

HttpResponse Sim900::State::request(const HttpRequest& made, Time at) const {
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
  httplib::Headers headers;
  if (serverBenchClock) {
    headers.emplace(server::kBenchTimeHeader, std::to_string(at / milliseconds(1)));
  }
  // "Name: value" header lines, apart at CR LF or at a written "\r\n".
  std::string lines = made.userData;
  for (size_t escaped; (escaped = lines.find("\\r\\n")) != std::string::npos;) {
    lines.replace(escaped, 4, "\n");
  }
  for (size_t from = 0; from < lines.size();) {
    const size_t end = std::min(lines.find('\n', from), lines.size());
    std::string line = lines.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) {
      const size_t value = line.find_first_not_of(' ', colon + 1);
      headers.emplace(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
    }
  }
  const httplib::Result result = made.method == "POST"  ? client.Post(path, headers, made.body, made.contentType.c_str())
                                 : made.method == "HEAD" ? client.Head(path, headers)
                                                         : client.Get(path, headers);
  if (!result) {
    return {601, ""};
  }
  return {result->status, result->body};
}

void Sim900::State::completeAction(PeerLink& link) {
  static const char* kMethods[] = {"GET", "POST", "HEAD"};
  const HttpRequest made{kMethods[actionMethod], url, contentType, actionMethod == 1 ? httpBody : "", userData};
  const Time now = link.now();
  const bool carried = bearerOpen && (settings.strict ? attached(now) : !faulty(Fault::NoNetwork, now)) &&
                       !faulty(Fault::ServerUnreachable, now);
  const std::string host = hostOf(url);
  const bool resolved = !settings.strict || isAddress(host) ||
                        std::find(settings.network.hostNames.begin(), settings.network.hostNames.end(), host) !=
                            settings.network.hostNames.end();
  const HttpResponse answer = !carried ? HttpResponse{601, ""} : !resolved ? HttpResponse{603, ""} : request(made, now);
  link.record("http " + made.method + " " + escapeBytes(made.url) + " " + escapeBytes(made.contentType) + " " +
              escapeBytes(made.body) + " " + std::to_string(answer.status) + " " + escapeBytes(answer.body));
  response = answer;
  output(link, framed("+HTTPACTION:" + std::to_string(actionMethod) + "," + std::to_string(answer.status) + "," +
                      std::to_string(answer.body.size())));
}

void Sim900::State::networkLost(PeerLink& link) {
  registeredAt = kNever;
  if (!powered || !booted) {
    return;
  }
  link.record("network-lost");
  if (registrationMode == 1) {
    output(link, framed("+CREG: 2"));
  }
  if (dialPending) {
    endCall(link, "failed", "");
    finish(link, "", "NO CARRIER", 0);
  } else if (call != Call::Idle) {
    endCall(link, call == Call::Active ? "network lost" : "missed", "NO CARRIER");
  }
  if (bearerOpen) {
    bearerOpen = false;
    link.record("bearer-dropped");
    output(link, framed("+SAPBR 1: DEACT"));
  }
}

void Sim900::State::networkBack(PeerLink& link) {
  if (!powered || !booted || faulty(Fault::NoNetwork, link.now())) {
    return;
  }
  const Time searching = draw(settings.timing.registration);
  registeredAt = link.now() + searching;
  attachedAt = registeredAt + draw(settings.timing.attach);
  link.wakeAfter(searching, tag(kRegistered, 0));
}

void Sim900::State::callEvent(PeerLink& link, Event event, uint64_t value) {
  const Time now = link.now();
  switch (event) {
    case kSmsAccepted: {
      const auto found = delayed.find(value);
      if (found == delayed.end()) {
        return;
      }
      const std::string number = found->second.substr(0, found->second.find('\n'));
      const std::string text = found->second.substr(found->second.find('\n') + 1);
      delayed.erase(found);
      messageReference = (messageReference + 1) % 256;
      link.record("sms-sent " + escapeBytes(number) + " " + escapeBytes(text) + " " +
                  (isCaretaker(number) ? "caretaker" : "other"));
      finish(link, framed("+CMGS: " + std::to_string(messageReference)), "OK", 0);
      return;
    }
    case kCallSetUp: {
      if (value != callGeneration || call != Call::Dialling) {
        return;
      }
      const bool reachable = settings.strict ? registered(now) : !faulty(Fault::NoNetwork, now);
      if (!reachable || !isCaretaker(callNumber)) {
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
      if (!connectedLine) {
        finish(link, "", "OK", 0);
      }
      // The first of the far end's answer, its voicemail and the network's
      // no-answer time ends the ringing.
      const Time ringGap = draw(settings.timing.ringInterval);
      const Time answerAt = phone.answerAfterRings ? draw(*phone.answerAfterRings) * ringGap : kNever;
      const Time voicemailAt = phone.voicemailAfter ? draw(*phone.voicemailAfter) : kNever;
      const Time noAnswerAt = draw(settings.timing.noAnswer);
      if (answerAt <= voicemailAt && answerAt <= noAnswerAt) {
        link.wakeAfter(answerAt, tag(kFarEndAnswers, callGeneration));
      } else if (voicemailAt <= noAnswerAt) {
        link.wakeAfter(voicemailAt, tag(kVoicemailAnswers, callGeneration));
      } else {
        link.wakeAfter(noAnswerAt, tag(kNoAnswer, callGeneration));
      }
      return;
    }
    case kFarEndAnswers:
    case kVoicemailAnswers:
      if (value == callGeneration && call == Call::Alerting) {
        call = Call::Active;
        voicemail = event == kVoicemailAnswers;
        link.record(voicemail ? "call-answer voicemail" : "call-answer");
        if (dialPending) {
          // AT+COLP=1: the connected line, then the dial's OK.
          const bool international = !callNumber.empty() && callNumber[0] == '+';
          finish(link, framed("+COLP: \"" + callNumber + "\"," + (international ? "145" : "129") + ",\"\",0,\"\""), "OK",
                 0);
        }
        if (voicemail) {
          link.wakeAfter(phone.voicemailRecording, tag(kFarEndHangsUp, callGeneration));
        } else if (phone.hangUpAfter) {
          link.wakeAfter(*phone.hangUpAfter, tag(kFarEndHangsUp, callGeneration));
        }
      }
      return;
    case kAnswered:
      if (value == callGeneration && call == Call::Incoming && answerPending) {
        call = Call::Active;
        ++callGeneration;
        link.record("call-answer");
        if (callTalk) {
          link.wakeAfter(*callTalk, tag(kFarEndHangsUp, callGeneration));
        }
        finish(link, "", "OK", 0);
      }
      return;
    case kNoAnswer:
      if (value == callGeneration && call == Call::Alerting) {
        if (dialPending) {
          endCall(link, "no answer", "");
          finish(link, "", "NO ANSWER", 0);
        } else {
          endCall(link, "no answer", "NO ANSWER");
        }
      }
      return;
    case kFarEndHangsUp:
      if (value == callGeneration && call == Call::Active) {
        endCall(link, "talked", "NO CARRIER");
      }
      return;
    case kIncomingCall:
      ring(link, phone.calls[value]);
      return;
    case kRing:
      if (value == callGeneration && call == Call::Incoming) {
        const bool international = !callNumber.empty() && callNumber[0] == '+';
        output(link, framed("RING") + (callerId ? framed("+CLIP: \"" + callNumber + "\"," +
                                                         (international ? "145" : "129") + ",\"\",0,\"\",0")
                                                : std::string()));
        link.wakeAfter(draw(settings.timing.ringInterval), tag(kRing, callGeneration));
      }
      return;
    case kCallerGivesUp:
      if (value == callGeneration && call == Call::Incoming) {
        endCall(link, "missed", "NO CARRIER");
      }
      return;
    case kTextArrives:
      if (settings.strict ? !registered(now) : !powered || faulty(Fault::NoNetwork, now)) {
        link.wakeAfter(seconds(5), tag(kTextArrives, value));  // delivered once the network is back
        return;
      }
      textArrives(link, phone.texts[value]);
      return;
    case kBearerOpened: {
      const Operator& operatorSide = settings.network;
      const bool refused = settings.strict ? !attached(now) || bearer.apn != operatorSide.apn ||
                                                 (!operatorSide.user.empty() && bearer.user != operatorSide.user) ||
                                                 (!operatorSide.password.empty() && bearer.password != operatorSide.password)
                                           : faulty(Fault::NoNetwork, now);
      bearerOpen = !refused;
      finish(link, "", refused ? error() : "OK", 0);
      return;
    }
    case kBearerClosed:
      finish(link, "", "OK", 0);
      return;
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
