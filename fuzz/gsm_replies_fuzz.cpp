// The SMS driver's reply handling, against a modem whose replies are the
// input. Input: one byte choosing the exchange (attention and echo off, a
// text sent, a text received), then the replies, split at 0xFF. The first
// reply of a receive comes unasked (the new-message indication); every
// other one answers the next command line (CR) or message (Ctrl-Z).
//
// Whatever the replies, the driver may report success only where the
// dialogue allows it, and may hand over only a text and a sender that the
// modem really sent, whole.
#include <cstdint>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "GSM/GSM.h"
#include "GSM/UART.h"
#include "fuzz/forked_board.h"
#include "platform/driverlib.h"

namespace {

constexpr uint8_t kSplit = 0xFF;
constexpr unsigned kModem = 4;
constexpr char kNumber[] = "+905551234567";
constexpr char kText[] = "Konum 41.015137,28.979530";

enum class Exchange { Init, Send, Receive };

struct Script {
  std::vector<std::string> replies;
  size_t next = 0;
  std::string heard;  // everything the driver sent
};

void check(bool holds, const std::string& what) {
  if (!holds) {
    fuzz::broken(what);
  }
}

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What each command line got back: the reply answering it.
std::string replyTo(const Script& script, size_t command) {
  return command < script.replies.size() ? script.replies[command] : "";
}

void judgeInit(const Script& script, const std::string& sent, bool succeeded) {
  // Up to three attempts at each command; a reply holding OK ends them.
  size_t reply = 0;
  std::string expected;
  for (const char* command : {"AT\n \r", "ATE0\n \r"}) {
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
      expected += command;
      ok = holds(replyTo(script, reply++), "OK");
    }
    if (std::strcmp(command, "ATE0\n \r") == 0) {
      check(succeeded == ok, "init reports what the last echo-off reply did not say");
    }
  }
  // Later replies may arrive while the driver still waits; the commands
  // must be exactly these whatever came.
  check(sent == expected || expected.rfind(sent, 0) == 0, "init sent other commands: " + sent);
}

void judgeSend(const Script& script, const std::string& sent, bool succeeded) {
  const std::string expected = std::string("AT+CMGF=1\n \rAT+CMGS=\"") + kNumber + "\"\n \r" + kText + "\x1A";
  check(sent == expected, "the message was not sent as written: " + sent);
  // The third reply answers the message; a later one may confirm it too.
  std::string after;
  for (size_t reply = 2; reply < script.replies.size(); ++reply) {
    after += script.replies[reply];
  }
  check(!succeeded || holds(after, "OK"), "a message reported sent without an OK after it");
}

void judgeReceive(const Script& script, const std::string& sent, bool succeeded, const std::string& text,
                  const std::string& sender) {
  std::string modem;
  for (const std::string& reply : script.replies) {
    modem += reply;
  }
  static const std::regex kRead("^AT\\+CMGF=1;\\+CPMS=\"([A-Z]{2})\";\\+CMGR=([0-9]{1,5})\n\r");
  std::smatch read;
  const bool readSent = std::regex_search(sent, read, kRead);
  check(readSent || sent.empty(), "the driver sent something other than a read: " + sent);
  if (!readSent) {
    check(!succeeded, "a message received without being read");
    return;
  }
  // The driver's lines end at LF; CRs are dropped wherever they stand.
  std::vector<std::string> lines(1);
  for (char character : modem) {
    if (character == '\n') {
      lines.emplace_back();
    } else if (character != '\r') {
      lines.back().push_back(character);
    }
  }
  // The read names a storage and index the modem announced in a whole line.
  const std::regex announced("^\\+CMTI: *\"" + read[1].str() + "\"," + read[2].str() + " *$");
  bool wasAnnounced = false;
  for (size_t line = 0; line + 1 < lines.size() && !wasAnnounced; ++line) {
    wasAnnounced = std::regex_search(lines[line], announced);
  }
  check(wasAnnounced, "a read of a message never announced: " + sent);
  const std::string remove = "AT+CMGD=" + read[2].str() + "\n\r";
  const std::string afterRead = sent.substr(read.length());
  check(afterRead.empty() || afterRead == remove, "after the read the driver sent: " + afterRead);
  if (afterRead.empty()) {
    check(!succeeded, "a message received and not deleted");
    return;
  }
  // Deleted: a header with this originator came, the text as the line
  // after it, and an OK after that.
  static const std::regex kHeader("^\\+CMGR:[^\"]*\"[^\"]*\",\"\\+?([^\"]*)\"");
  bool found = false;
  for (size_t line = 0; line + 1 < lines.size() && !found; ++line) {
    std::smatch header;
    if (!std::regex_search(lines[line], header, kHeader) || header[1].str() != sender ||
        lines[line + 1] != text) {
      continue;
    }
    for (size_t after = line + 2; after < lines.size() && !found; ++after) {
      found = lines[after].rfind("OK", 0) == 0;
    }
  }
  check(found, "a message deleted that is not the modem's: \"" + text + "\" from \"" + sender + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::shareCoverage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const auto exchange = static_cast<Exchange>(data[0] % 3);
  auto script = std::make_shared<Script>();
  script->replies.emplace_back();
  for (size_t at = 1; at < size; ++at) {
    if (data[at] == kSplit) {
      script->replies.emplace_back();
    } else {
      script->replies.back().push_back(static_cast<char>(data[at]));
    }
  }

  sim::Bench bench;
  if (exchange == Exchange::Receive) {
    bench.uart(kModem).send(sim::milliseconds(50), script->replies[0]);
    script->next = 1;
  }
  bench.uart(kModem).onByte([script](sim::PeerLink& link, uint8_t byte) {
    script->heard.push_back(static_cast<char>(byte));
    if ((byte == '\r' || byte == 0x1A) && script->next < script->replies.size()) {
      link.send(sim::milliseconds(20), script->replies[script->next++]);
    }
  });
  const sim::Outcome run = fuzz::runOnBoard(
      bench,
      [exchange] {
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        UART_Init();
        // The caller's buffers, exactly as large as the driver may use.
        auto* text = new unsigned char[kSmsTextSize]();
        auto* sender = new unsigned char[kSenderSize]();
        unsigned char number[sizeof kNumber];
        unsigned char message[sizeof kText];
        std::memcpy(number, kNumber, sizeof number);
        std::memcpy(message, kText, sizeof message);
        switch (exchange) {
          case Exchange::Init:
            GSM_Init();
            break;
          case Exchange::Send:
            SMSSend(number, message);
            break;
          case Exchange::Receive:
            SMSReceive(text, sender);
            break;
        }
        sim::note(std::to_string(GSM_Succeeded()));
        sim::note(std::string(reinterpret_cast<const char*>(text), strnlen(reinterpret_cast<char*>(text), kSmsTextSize)));
        sim::note(std::string(reinterpret_cast<const char*>(sender), strnlen(reinterpret_cast<char*>(sender), kSenderSize)));
        delete[] text;
        delete[] sender;
      },
      sim::seconds(300));

  const auto notes = run.notes();
  const std::string sent = run.sent(kModem);
  if (notes.size() != 3) {
    // Still waiting for an indication at the end: nothing may have been sent.
    check(exchange == Exchange::Receive && sent.empty(), "the exchange did not end: " + sent);
    return 0;
  }
  const bool succeeded = notes[0].second == "1";
  check(notes[0].second == "0" || succeeded, "GSM_Succeeded is neither 0 nor 1");
  check(notes[1].second.size() < kSmsTextSize && notes[2].second.size() < kSenderSize,
        "a text or sender without its terminator");
  // Zero bytes are line noise the driver drops.
  Script judged = *script;
  for (std::string& reply : judged.replies) {
    std::erase(reply, '\0');
  }
  switch (exchange) {
    case Exchange::Init:
      judgeInit(judged, sent, succeeded);
      break;
    case Exchange::Send:
      judgeSend(judged, sent, succeeded);
      break;
    case Exchange::Receive:
      judgeReceive(judged, sent, succeeded, notes[1].second, notes[2].second);
      break;
  }
  return 0;
}
