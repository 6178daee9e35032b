// A SIM900 GSM/GPRS modem on a UART line, and the network behind it: the
// caretaker's phone and an HTTP endpoint. It answers the AT dialogue as the
// modem does (echo, result codes, timing of its own at its own 9600 baud),
// places and takes voice calls, sends and stores SMS in text mode, and runs
// HTTP requests over a GPRS bearer. Everything it sees is recorded in the
// run's timeline, where ModemLog reads it back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/bench.h"

namespace sim::peers {

// A delay the field gives as a range: each wait is drawn from [low, high]
// with the run's seed. A test pins either end by giving low == high.
struct Span {
  Time low = 0;
  Time high = 0;
  constexpr Span() = default;
  constexpr Span(Time both) : low(both), high(both) {}  // NOLINT: a single time is a span
  constexpr Span(Time from, Time to) : low(from), high(to) {}
};

// Timings of the modem's answers and of the network behind it.
struct Sim900Timing {
  Span command = milliseconds(20);        // a plain command's final result
  Span callSetUp = seconds(3);            // ATD until the far end rings (and OK)
  Span ringInterval = seconds(3);         // RING to RING, and the far end's rings
  Span smsNetwork = seconds(3);           // Ctrl-Z until +CMGS
  Span bearerOpen = seconds(2);           // AT+SAPBR=1,1 until OK
  Span bearerClose = milliseconds(20);    // AT+SAPBR=0,1 until OK
  Span httpAction = milliseconds(1500);   // AT+HTTPACTION until +HTTPACTION
  Span smsDelivery = seconds(2);          // a text from the phone until it reaches the modem
  Span noAnswer = seconds(60);            // an unanswered call until NO ANSWER
  Span powerUp = 0;                       // a self-powering shield: supply until power-on
  Span boot = 0;                          // power-on until the module takes commands
  Span services = 0;                      // boot until Call Ready: SMS and calls usable
  Span registration = 0;                  // boot, or the network's return, until registered
  Span attach = 0;                        // registered until GPRS attached
  // Under a slow network: 0, every network wait times 5; otherwise each is
  // drawn from its span's high end up to ten times it, at most this.
  Time slowNetworkMost = 0;
};

// What the modem does with a command line that arrives while it is still
// executing one.
enum class BusyPolicy : uint8_t { Queue, Drop, Error };
// How the modem comes up: Ready, awake and registered at once (the ideal
// modem); Autobaud, the factory setting (silent until "AT" or "At" at the
// line's rate); Fixed, a set rate (RDY, +CFUN: 1, +CPIN: READY, Call Ready).
enum class BootMode : uint8_t { Ready, Autobaud, Fixed };
// The LF after the CR of AT+CMGS or AT+HTTPDATA, when it reaches the modem
// before its prompt: ignored, or the first byte of the text or body.
enum class PromptLineFeed : uint8_t { Ignored, Body };

// The operator the SIM belongs to.
struct Operator {
  std::string apn = "www";
  std::string user;
  std::string password;
  std::string countryCode = "90";      // national numbers are of this country
  std::vector<std::string> hostNames;  // names its DNS resolves; others give 603
};

struct Sim900Settings {
  Sim900Timing timing;
  BusyPolicy busy = BusyPolicy::Queue;
  BootMode boot = BootMode::Ready;
  // The power key: a chip pin wired to PWRKEY (a low of 1 s or more turns
  // the module on or off). Self-powered, the shield turns the module on by
  // itself at power-up and when the supply returns.
  std::optional<Pin> powerKey;
  bool selfPowered = true;
  // Autobaud: the chance that the first AT after a boot only sets the rate.
  double firstAtLost = 0;
  PromptLineFeed promptLineFeed = PromptLineFeed::Ignored;
  // The field's details no setting above names: the LF after a command's
  // CR is not echoed; numbers go by their plan ("+" international, else
  // national); +CME/+CMS ERROR in the form AT+CMEE selects; a character aborts a
  // dial or answer in progress; the network's loss ends a call; HTTPREAD
  // after a failed action and a data call fail; a power loss ends in a boot.
  bool strict = false;
  Operator network;
  uint64_t seed = 1;

  // Today's ideal modem, and the modem as the field knows it.
  static Sim900Settings lenient();
  static Sim900Settings field(uint64_t seed = 1);
};

// An HTTP request as the modem makes it, and the answer.
struct HttpRequest {
  std::string method;  // GET, POST, HEAD
  std::string url;     // as set with AT+HTTPPARA="URL"
  std::string contentType;
  std::string body;
  std::string userData;  // AT+HTTPPARA="USERDATA": header lines the modem adds
};
struct HttpResponse {
  int status = 0;  // 601 when the server cannot be reached
  std::string body;
};
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// The caretaker's phone: how it takes the module's calls, and what it does
// by itself.
struct CaretakerPhone {
  std::string number = "+905551234567";
  // A count of rings, drawn from [low, high] with the run's seed.
  struct Rings {
    unsigned low;
    unsigned high;
    Rings(unsigned both) : low(both), high(both) {}  // NOLINT: a single count is a range
    Rings(unsigned from, unsigned to) : low(from), high(to) {}
  };
  // A call from the module: answered after this many rings (one a ring
  // interval), or never (nullopt: NO ANSWER after the network's wait, or the
  // voicemail), or busy.
  std::optional<Rings> answerAfterRings = 2U;
  bool busy = false;
  // The voicemail takes a call still unanswered after this long ringing,
  // and hangs up after its recording time.
  std::optional<Span> voicemailAfter;
  Time voicemailRecording = seconds(60);
  // Once answered, the caretaker hangs up after this long (nullopt: the
  // module hangs up).
  std::optional<Time> hangUpAfter;

  struct IncomingCall {
    Time at;
    Time ringFor;               // the caretaker gives up after this long unanswered
    std::optional<Time> talk;   // once answered, hangs up after this long
    std::string number = {};    // the caller; empty: the caretaker
  };
  std::vector<IncomingCall> calls;  // calls to the module, the caretaker's and others
  struct Text {
    Time at;
    std::string body;
  };
  std::vector<Text> texts;  // texts to the module
};

class Sim900 final : public UartDevice {
 public:
  enum class Fault {
    NoNetwork,
    SlowNetwork,
    ServerUnreachable,
    BearerDropped,
    PowerLoss,
    UnderVoltage,  // the supply sags: the module warns, powers down, stays off
    BrownOut,      // a silent reboot at the fault's start
    TextsRefused,  // the network rejects the module's texts
  };

  Sim900();  // the field profile, seed 1
  explicit Sim900(const Sim900Settings& settings);
  Sim900& settings(const Sim900Settings& settings);
  [[nodiscard]] const Sim900Settings& settings() const;
  Sim900& timing(const Sim900Timing& timing);
  Sim900& phone(const CaretakerPhone& phone);
  // Requests go to a handler in the test process...
  Sim900& http(HttpHandler handler);
  // ...or to a real HTTP server on the loopback (host and port; the URL's
  // own host is the firmware's setting and stands for it).
  // benchClock: each request tells the server the run's virtual time (a
  // bench's own report server, which stores it as the report's time).
  Sim900& httpServer(std::string host, int port, bool benchClock = false);
  // A fault in [from, to): no network (calls and SMS fail, the bearer is
  // refused), a slow network (every network wait times 5), the server
  // unreachable (601), the bearer dropped at from (+SAPBR 1: DEACT), power
  // lost (silence, and the modem's state forgotten), the supply sagging
  // (the manual's power-down lines), a brown-out, texts refused.
  Sim900& fault(Fault fault, Time from, Time to = kNever);
  // Echo at power-up; on by default, as the modem has it.
  Sim900& echo(bool on);

  // Puts the model on the bench's line (UART4 by default), at 9600 baud;
  // the model that runs there.
  std::shared_ptr<Sim900> attach(Bench& bench, unsigned uart = 4) const;

  // While a run goes on, from another device of its bench: the caretaker
  // calls the module now (ringing until answered, 60 s at most), or texts it.
  // A model that takes these looks for them every 20 ms of the run.
  Sim900& takesRequests();
  void callFromCaretaker() const;
  void textFromCaretaker(std::string body) const;
  // "off", "idle", "dialling", "ringing out", "ringing in" or "talking".
  [[nodiscard]] std::string callState() const;

  void start(PeerLink& link) override;
  void heard(PeerLink& link, uint8_t byte) override;
  void wake(PeerLink& link, uint64_t tag) override;
  void pinChanged(PeerLink& link, Pin pin, bool high) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// What the modem recorded in a run, read back from its timeline.
struct ModemLog {
  struct Command {
    Time at;
    std::string line;    // as received, without its CR
    std::string answer;  // the final result: OK, ERROR, > , DOWNLOAD, ...; a busy line: "dropped" or ERROR
  };
  struct Sms {
    Time at;
    std::string from;
    std::string to;
    std::string text;  // the bytes of the text
    bool toCaretaker = true;  // the network delivered it to the caretaker's phone
    bool refused = false;     // the network refused it (+CMS ERROR): it reached no one
  };
  struct Call {
    Time start;
    Time answered = kNever;
    Time end = kNever;
    bool outgoing;  // from the module
    std::string number;
    std::string outcome;  // talked, busy, no answer, missed, failed
  };
  struct Http {
    Time at;
    HttpRequest request;
    HttpResponse response;
  };

  std::vector<Command> commands;
  std::vector<Sms> sent;      // by the module, delivered or refused
  std::vector<Sms> received;  // by the module, from the phone
  std::vector<Call> calls;
  std::vector<Http> http;

  static ModemLog from(const Outcome& run, unsigned uart = 4);
  // Texts that reached the caretaker's phone.
  [[nodiscard]] std::vector<Sms> inbox() const;
};

// Escapes control bytes as \r, \n, \xhh, for the timeline; and back.
std::string escapeBytes(std::string_view bytes);
std::string unescapeBytes(std::string_view text);

}  // namespace sim::peers
