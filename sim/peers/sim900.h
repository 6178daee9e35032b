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

// Timings of the modem's answers; defaults from the modem's manual and field
// logs.
struct Sim900Timing {
  Time command = milliseconds(20);        // a plain command's final result
  Time callSetUp = seconds(3);            // ATD until the far end rings
  Time ringInterval = seconds(3);         // RING to RING of an incoming call
  Time smsNetwork = seconds(3);           // Ctrl-Z until +CMGS
  Time bearerOpen = seconds(2);           // AT+SAPBR=1,1 until OK
  Time httpAction = milliseconds(1500);   // AT+HTTPACTION until +HTTPACTION
  Time smsDelivery = seconds(2);          // a text from the phone until it reaches the modem
};

// An HTTP request as the modem makes it, and the answer.
struct HttpRequest {
  std::string method;  // GET, POST, HEAD
  std::string url;     // as set with AT+HTTPPARA="URL"
  std::string contentType;
  std::string body;
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
  // A call from the module: answered after this many rings (3 s each), or
  // never (nullopt: NO ANSWER after the modem's wait), or busy.
  std::optional<unsigned> answerAfterRings = 2;
  bool busy = false;
  // Once answered, the caretaker hangs up after this long (nullopt: the
  // module hangs up).
  std::optional<Time> hangUpAfter;

  struct IncomingCall {
    Time at;
    Time ringFor;               // the caretaker gives up after this long unanswered
    std::optional<Time> talk;   // once answered, hangs up after this long
  };
  std::vector<IncomingCall> calls;  // calls to the module
  struct Text {
    Time at;
    std::string body;
  };
  std::vector<Text> texts;  // texts to the module
};

class Sim900 final : public UartDevice {
 public:
  enum class Fault { NoNetwork, SlowNetwork, ServerUnreachable, BearerDropped, PowerLoss };

  Sim900();
  Sim900& timing(const Sim900Timing& timing);
  Sim900& phone(const CaretakerPhone& phone);
  // Requests go to a handler in the test process...
  Sim900& http(HttpHandler handler);
  // ...or to a real HTTP server on the loopback (host and port; the URL's
  // own host is the firmware's setting and stands for it).
  Sim900& httpServer(std::string host, int port);
  // A fault in [from, to): no network (calls and SMS fail, the bearer is
  // refused), a slow network (every network wait times 5), the server
  // unreachable (601), the bearer dropped at from (+SAPBR 1: DEACT), power
  // lost (silence, and the modem's state forgotten).
  Sim900& fault(Fault fault, Time from, Time to = kNever);
  // Echo at power-up; on by default, as the modem has it.
  Sim900& echo(bool on);

  // Puts the model on the bench's line (UART4 by default), at 9600 baud.
  void attach(Bench& bench, unsigned uart = 4) const;

  void start(PeerLink& link) override;
  void heard(PeerLink& link, uint8_t byte) override;
  void wake(PeerLink& link, uint64_t tag) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// What the modem recorded in a run, read back from its timeline.
struct ModemLog {
  struct Command {
    Time at;
    std::string line;    // as received, without its CR
    std::string answer;  // the final result: OK, ERROR, > , DOWNLOAD, ...
  };
  struct Sms {
    Time at;
    std::string from;
    std::string to;
    std::string text;  // the bytes of the text
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
  std::vector<Sms> sent;      // by the module, as the caretaker's inbox has them
  std::vector<Sms> received;  // by the module, from the phone
  std::vector<Call> calls;
  std::vector<Http> http;

  static ModemLog from(const Outcome& run, unsigned uart = 4);
  // Texts that reached the caretaker's phone.
  [[nodiscard]] std::vector<Sms> inbox() const { return sent; }
};

// Escapes control bytes as \r, \n, \xhh, for the timeline; and back.
std::string escapeBytes(std::string_view bytes);
std::string unescapeBytes(std::string_view text);

}  // namespace sim::peers
