// The SIM900 model's settings and its state during a run.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/peers/sim900.h"

namespace sim::peers {

struct Sim900::State {
  // Settings.
  Sim900Timing timing;
  CaretakerPhone phone;
  HttpHandler handler;
  std::string serverHost;
  int serverPort = 0;
  struct FaultSpan {
    Fault fault;
    Time from;
    Time to;
  };
  std::vector<FaultSpan> faults;
  bool echoAtPowerUp = true;

  // The run.
  enum class Mode { Command, SmsText, HttpData };
  enum class Call { Idle, Dialling, Alerting, Incoming, Active };
  struct Stored {
    std::string from;
    std::string stamp;
    std::string text;
    bool read = false;
  };

  bool echo = true;
  Mode mode = Mode::Command;
  std::string line;
  bool afterCr = false;  // the last byte ended a command line: an LF next is ignored
  bool textMode = false;
  int newMessageMode = 1;  // AT+CNMI's <mt>: 1 stored and announced, 2 straight to the line
  bool callerId = false;
  bool verboseErrors = false;
  std::string smsNumber;
  std::string smsText;
  int messageReference = 0;
  std::map<int, Stored> store;

  Call call = Call::Idle;
  uint64_t callGeneration = 0;  // events of an ended call find a newer one
  Time callStart = 0;
  std::string callNumber;
  bool callOutgoing = false;
  std::optional<Time> callTalk;

  bool bearerOpen = false;
  bool httpStarted = false;
  std::string url;
  std::string contentType;
  std::string httpBody;
  size_t httpDataLeft = 0;
  uint64_t httpDataGeneration = 0;
  uint64_t actionGeneration = 0;
  bool actionPending = false;
  int actionMethod = 0;
  std::optional<HttpResponse> response;

  bool powered = true;
  std::string pendingCommand;  // the command line being run
  // A command that answers later (a dial, the bearer, a text, HTTP data)
  // keeps the modem busy: lines that come meanwhile wait their turn.
  bool busy = false;
  std::deque<std::string> waitingLines;
  uint64_t finished = 0;  // final results given
  uint64_t outputs = 0;
  std::map<uint64_t, std::string> delayed;

  // Events, as wake tags: the kind in the top byte.
  enum Event : uint64_t {
    kOutput = 1,
    kIncomingCall,
    kRing,
    kCallerGivesUp,
    kFarEndAnswers,
    kFarEndHangsUp,
    kNoAnswer,
    kCallSetUp,
    kSmsAccepted,
    kTextArrives,
    kBearerOpened,
    kActionDone,
    kHttpDataTimeout,
    kFaultStarts,
    kFaultEnds,
  };
  static uint64_t tag(Event event, uint64_t value) { return (static_cast<uint64_t>(event) << 56) | value; }

  void start(PeerLink& link);
  void heard(PeerLink& link, uint8_t byte);
  void wake(PeerLink& link, uint64_t tag);

  // The command line.
  void endLine(PeerLink& link);
  void runLine(PeerLink& link, const std::string& raw);
  void execute(PeerLink& link, const std::string& commands);
  // A command's final result (and what precedes it) after the modem's delay;
  // the command and its result go to the record, and the next waiting line
  // runs.
  void finish(PeerLink& link, const std::string& information, const std::string& result, Time delay);
  void output(PeerLink& link, const std::string& text, Time delay = 0);
  [[nodiscard]] std::string error() const { return "ERROR"; }

  // Basic and extended commands; false: ERROR, and the rest of the line is
  // not run. Commands that answer later set `deferred`.
  bool basic(PeerLink& link, char command, const std::string& argument, std::string& information, bool& deferred);
  bool extended(PeerLink& link, const std::string& name, const std::string& form,
                const std::vector<std::string>& arguments, std::string& information, bool& deferred);
  bool sms(PeerLink& link, const std::string& name, const std::string& form, const std::vector<std::string>& arguments,
           std::string& information, bool& deferred);
  bool gprs(PeerLink& link, const std::string& name, const std::string& form,
            const std::vector<std::string>& arguments, std::string& information, bool& deferred);

  // The network.
  [[nodiscard]] bool faulty(Fault fault, Time at) const;
  [[nodiscard]] Time network(Time wait, Time at) const;
  void dial(PeerLink& link, const std::string& number);
  void endCall(PeerLink& link, const std::string& outcome, const std::string& code);
  void textArrives(PeerLink& link, const CaretakerPhone::Text& text);
  void completeAction(PeerLink& link);
  HttpResponse request(const HttpRequest& request) const;
  void powerDown(PeerLink& link);
  void powerUp(PeerLink& link);
  [[nodiscard]] std::string stamp(Time at) const;
};

}  // namespace sim::peers
