// The SIM900 model's command parser: whatever a firmware sends it, the
// model answers each command with one of the modem's final results, and
// comes back to answer a plain AT once the line has been quiet. Input: the
// bytes the firmware sends at 9600 baud; 0xFF is two seconds of quiet. An
// input that starts with 0xFE talks to the field profile's modem (its seed
// the next byte) instead of the lenient one.
#include <algorithm>
#include <cstdint>
#include <queue>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/forked_board.h"
#include "sim/peers/sim900.h"

namespace {

using sim::Time;

constexpr uint8_t kQuiet = 0xFF;
constexpr uint8_t kField = 0xFE;
constexpr Time kCharacter = sim::microseconds(1042);

// The model's line, with its own clock: wake-ups run when their time comes;
// what the model sends is judged from its records, not its bytes.
class Line final : public sim::PeerLink {
 public:
  explicit Line(sim::peers::Sim900& modem) : modem_(modem) {}

  [[nodiscard]] Time now() const override { return now_; }
  void send(Time, std::string_view) override {}
  void wakeAfter(Time delay, uint64_t tag) override { wakes_.emplace(now_ + delay, ++order_, tag); }
  void record(std::string text) override { records_.push_back(std::move(text)); }

  // Runs the wake-ups due up to time, then moves the clock there.
  void runUntil(Time time) {
    while (!wakes_.empty() && std::get<0>(wakes_.top()) <= time) {
      const auto [at, order, tag] = wakes_.top();
      wakes_.pop();
      now_ = at;
      modem_.wake(*this, tag);
    }
    now_ = time;
  }
  // Runs wake-ups until none is left or the limit comes.
  void runQuiet(Time limit) {
    while (!wakes_.empty() && std::get<0>(wakes_.top()) <= limit) {
      runUntil(std::get<0>(wakes_.top()));
    }
  }
  void hear(uint8_t byte) { modem_.heard(*this, byte); }

  const std::vector<std::string>& records() const { return records_; }

 private:
  using Wake = std::tuple<Time, uint64_t, uint64_t>;
  sim::peers::Sim900& modem_;
  Time now_ = 0;
  uint64_t order_ = 0;
  std::priority_queue<Wake, std::vector<Wake>, std::greater<>> wakes_;
  std::vector<std::string> records_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool field = size > 0 && data[0] == kField;
  sim::peers::Sim900 modem(field ? sim::peers::Sim900Settings::field(size > 1 ? data[1] : 0)
                                 : sim::peers::Sim900Settings::lenient());
  if (field) {
    data += size > 1 ? 2 : 1;
    size -= size > 1 ? 2 : 1;
  }
  modem.http([](const sim::peers::HttpRequest&) { return sim::peers::HttpResponse{200, "@250$"}; });
  Line line(modem);
  modem.start(line);

  Time at = sim::milliseconds(100);
  for (size_t index = 0; index < size; ++index) {
    if (data[index] == kQuiet) {
      at += sim::seconds(2);
      continue;
    }
    line.runUntil(at);
    line.hear(data[index]);
    at += kCharacter;
  }

  // Each command ends with one of the modem's final results, as its manual
  // lists them (an error in words after AT+CMEE=2). The record is
  // "command <line> <result>", each escaped.
  // AT+CPOWD=1 ends with the module's last line instead; a busy line is
  // recorded apart.
  static const std::regex kFinal(
      "OK|ERROR|> |DOWNLOAD|CONNECT|NO CARRIER|BUSY|NO ANSWER|NO DIALTONE|\\+CM[ES] ERROR: ([0-9]+|[A-Za-z][ -~]*)|NORMAL POWER DOWN|-");
  for (const std::string& record : line.records()) {
    if (record.rfind("command ", 0) == 0 &&
        !std::regex_match(sim::peers::unescapeBytes(record.substr(record.rfind(' ') + 1)), kFinal)) {
      fuzz::broken("a command answered with no final result: " + record);
    }
  }

  // Quiet: whatever was under way ends (a day at most), an SMS text being
  // typed is cancelled, and a plain AT is answered OK. Lines heard while the
  // modem was busy wait their turn, and one of them may open another text,
  // so the probe goes on while any line of the input may still be waiting.
  // A module switched off by AT+CPOWD stays off: nothing to probe. The
  // field's first AT after a boot may only set the rate: two rounds at least.
  // The power-down may still be under way when the input ends.
  const auto switchedOff = [&line] {
    return std::find(line.records().begin(), line.records().end(), "power-off") != line.records().end();
  };
  bool answered = false;
  for (size_t round = 0; round <= size + 1 && !answered; ++round) {
    line.runQuiet(line.now() + sim::seconds(86400));
    if (switchedOff()) {
      return 0;
    }
    const size_t before = line.records().size();
    // ESC ends an SMS text; in command mode it and the CR are an empty line.
    line.hear(0x1B);
    line.hear('\r');
    line.runUntil(line.now() + sim::seconds(1));
    for (char character : std::string("AT\r")) {
      line.hear(static_cast<uint8_t>(character));
      line.runUntil(line.now() + kCharacter);
    }
    line.runUntil(line.now() + sim::seconds(10));
    for (size_t index = before; index < line.records().size(); ++index) {
      answered = answered || line.records()[index] == "command AT OK";
    }
  }
  if (!answered) {
    std::string last;
    for (size_t index = line.records().size() > 30 ? line.records().size() - 30 : 0; index < line.records().size(); ++index) {
      last += "\n  " + line.records()[index];
    }
    fuzz::broken("the model did not answer AT after a quiet line; its last records:" + last);
  }
  return 0;
}
