// The SIM900 model's settings and its state during a run.
#pragma once

#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/peers/sim900.h"

namespace sim::peers {

struct Sim900::State {
  // Settings.
  Sim900Settings settings;
  CaretakerPhone phone;
  HttpHandler handler;
  std::string serverHost;
  int serverPort = 0;
  bool serverBenchClock = false;
  struct FaultSpan {
    Fault fault;
    Time from;
    Time to;
  };
  std::vector<FaultSpan> faults;
  bool echoAtPowerUp = true;
  std::mt19937_64 random;

  // Power and start-up. Events of an earlier power cycle find a newer
  // generation and do nothing.
  bool powered = true;
  // What another device of the bench asked while the run goes on.
  bool takesRequests = false;
  unsigned requestedCalls = 0;
  std::vector<std::string> requestedTexts;
  bool supplyLow = false;     // the module cannot power up
  bool booted = true;         // takes commands
  bool rateLocked = true;     // autobaud: the rate is known, the module may speak
  bool loseNextAt = false;    // autobaud: the AT that sets the rate is not answered
  bool skipLine = false;      // the rest of that line
  char previous = 0;
  bool servicesReady = true;  // Call Ready: SMS and calls usable
  Time registeredAt = 0;      // kNever while searching
  Time attachedAt = 0;
  uint64_t powerGeneration = 0;
  uint64_t keyGeneration = 0;

  // The command line.
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
  bool connectedLine = false;  // AT+COLP=1: a dial's OK waits for the far end's answer
  int errorMode = 0;          // AT+CMEE: 0 ERROR, 1 numeric, 2 verbose
  int registrationMode = 0;   // AT+CREG's <n>
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
  bool dialPending = false;    // ATD has not given its final result yet
  bool answerPending = false;  // nor has ATA
  bool voicemail = false;      // the far end that took the call is the voicemail

  struct Bearer {
    std::string apn;
    std::string user;
    std::string password;
  } bearer;
  bool bearerOpen = false;
  bool httpStarted = false;
  std::string url;
  std::string contentType;
  std::string userData;
  std::string httpBody;
  size_t httpDataLeft = 0;
  uint64_t httpDataGeneration = 0;
  uint64_t actionGeneration = 0;
  bool actionPending = false;
  int actionMethod = 0;
  std::optional<HttpResponse> response;

  std::string pendingCommand;  // the command line being run
  // A command line keeps the modem busy until its final result is out;
  // lines that come meanwhile are queued, dropped or refused.
  bool busy = false;
  std::deque<std::string> waitingLines;
  uint64_t outputs = 0;
  std::map<uint64_t, std::string> delayed;

  // Events, as wake tags: the kind in the top byte, the power generation
  // below it, then the value.
  enum Event : uint64_t {
    kOutput = 1,
    kFinished,
    kIncomingCall,
    kRing,
    kCallerGivesUp,
    kFarEndAnswers,
    kVoicemailAnswers,
    kFarEndHangsUp,
    kNoAnswer,
    kCallSetUp,
    kAnswered,
    kSmsAccepted,
    kTextArrives,
    kBearerOpened,
    kBearerClosed,
    kActionDone,
    kHttpDataTimeout,
    kFaultStarts,
    kFaultEnds,
    kBooted,
    kServicesReady,
    kRegistered,
    kKeyHeld,
    kUnderVoltageDown,
    kPowerUp,
    kRequests,
  };
  static constexpr unsigned kValueBits = 40;
  [[nodiscard]] uint64_t tag(Event event, uint64_t value) const {
    return (static_cast<uint64_t>(event) << 56) | ((powerGeneration & 0xFFFF) << kValueBits) |
           (value & ((uint64_t{1} << kValueBits) - 1));
  }

  void start(PeerLink& link);
  void heard(PeerLink& link, uint8_t byte);
  void wake(PeerLink& link, uint64_t tag);
  void pinChanged(PeerLink& link, Pin pin, bool high);

  // The command line.
  void heardCommand(PeerLink& link, char character, bool ignoredLineFeed);
  void endLine(PeerLink& link);
  void runLine(PeerLink& link, const std::string& raw);
  void runNextWaiting(PeerLink& link);
  void execute(PeerLink& link, const std::string& commands);
  // A command's final result (and what precedes it) after the modem's
  // delay: the command and its result go to the record now, the modem stays
  // busy until the result is out, then the next waiting line runs.
  void finish(PeerLink& link, const std::string& information, const std::string& result, Time delay);
  void complete(PeerLink& link, const std::string& text);
  void output(PeerLink& link, const std::string& text, Time delay = 0);
  // ERROR, or +CME ERROR and +CMS ERROR in the form AT+CMEE selects (strict).
  [[nodiscard]] std::string error() const { return "ERROR"; }
  [[nodiscard]] std::string cmeError(int code, const std::string& text) const;
  [[nodiscard]] std::string cmsError(int code, const std::string& text) const;

  // Basic and extended commands; false: ERROR, and the rest of the line is
  // not run. Commands that answer later set `deferred` and finish later.
  bool basic(PeerLink& link, char command, const std::string& argument, std::string& information, bool& deferred);
  bool extended(PeerLink& link, const std::string& name, const std::string& form,
                const std::vector<std::string>& arguments, std::string& information, bool& deferred);
  bool sms(PeerLink& link, const std::string& name, const std::string& form, const std::vector<std::string>& arguments,
           std::string& information, bool& deferred);
  bool gprs(PeerLink& link, const std::string& name, const std::string& form,
            const std::vector<std::string>& arguments, std::string& information, bool& deferred);
  bool http(PeerLink& link, const std::string& name, const std::string& form,
            const std::vector<std::string>& arguments, std::string& information, bool& deferred);

  // Time.
  [[nodiscard]] Time draw(const Span& span);
  [[nodiscard]] unsigned draw(const CaretakerPhone::Rings& rings);
  [[nodiscard]] Time network(const Span& wait, Time at);

  // The network.
  [[nodiscard]] bool faulty(Fault fault, Time at) const;
  [[nodiscard]] bool registered(Time at) const;
  [[nodiscard]] bool attached(Time at) const { return registered(at) && at >= attachedAt; }
  // The number as the network routes it: international with the plan, or
  // (lenient) its digits.
  [[nodiscard]] std::string routed(const std::string& number) const;
  [[nodiscard]] bool isCaretaker(const std::string& number) const;
  void dial(PeerLink& link, const std::string& number);
  void abortDial(PeerLink& link);
  void endCall(PeerLink& link, const std::string& outcome, const std::string& code);
  void ring(PeerLink& link, const CaretakerPhone::IncomingCall& incoming);
  void textArrives(PeerLink& link, const CaretakerPhone::Text& text);
  void takeRequests(PeerLink& link);
  void completeAction(PeerLink& link);
  HttpResponse request(const HttpRequest& request, Time at) const;
  void networkLost(PeerLink& link);
  void networkBack(PeerLink& link);
  void callEvent(PeerLink& link, Event event, uint64_t value);

  // Power.
  void powerOn(PeerLink& link);
  void bootDone(PeerLink& link);
  void powerOff(PeerLink& link, const std::string& lastLine);
  void resetVolatile();
  void powerEvent(PeerLink& link, Event event, uint64_t value);
  [[nodiscard]] std::string stamp(Time at) const;
};

}  // namespace sim::peers
