// What the SIM900 model recorded in a run's timeline, read back.
#include <algorithm>
#include <iterator>
#include <sstream>

#include "sim/peers/sim900.h"

namespace sim::peers {

namespace {

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> fields;
  std::istringstream stream(text);
  for (std::string field; stream >> field;) {
    fields.push_back(field);
  }
  return fields;
}

ModemLog::Call* open(ModemLog& log) {
  for (auto call = log.calls.rbegin(); call != log.calls.rend(); ++call) {
    if (call->end == kNever) {
      return &*call;
    }
  }
  return nullptr;
}

}  // namespace

std::vector<ModemLog::Sms> ModemLog::inbox() const {
  std::vector<Sms> inbox;
  std::copy_if(sent.begin(), sent.end(), std::back_inserter(inbox), [](const Sms& text) { return text.toCaretaker && !text.refused; });
  return inbox;
}

ModemLog ModemLog::from(const Outcome& run, unsigned uart) {
  ModemLog log;
  for (const auto& [time, text] : run.peerRecords(uart)) {
    const std::vector<std::string> fields = words(text);
    if (fields.empty()) {
      continue;
    }
    const std::string& kind = fields[0];
    if ((kind == "command" || kind == "command-busy") && fields.size() == 3) {
      log.commands.push_back({time, unescapeBytes(fields[1]), unescapeBytes(fields[2])});
    } else if (kind == "sms-sent" && (fields.size() == 3 || fields.size() == 4)) {
      log.sent.push_back(
          {time, "", unescapeBytes(fields[1]), unescapeBytes(fields[2]), fields.size() == 3 || fields[3] == "caretaker"});
    } else if (kind == "sms-failed" && fields.size() == 3) {
      log.sent.push_back({time, "", unescapeBytes(fields[1]), unescapeBytes(fields[2]), false, true});
    } else if (kind == "sms-received" && fields.size() == 3) {
      log.received.push_back({time, unescapeBytes(fields[1]), "", unescapeBytes(fields[2])});
    } else if (kind == "call-start" && fields.size() == 3) {
      Call call;
      call.start = time;
      call.outgoing = fields[1] == "out";
      call.number = unescapeBytes(fields[2]);
      log.calls.push_back(call);
    } else if ((kind == "call-answer" || kind == "call-end") && open(log) != nullptr) {
      // The call still open: one that rang while another was up has ended.
      Call& call = *open(log);
      if (kind == "call-answer") {
        call.answered = time;
      } else if (fields.size() >= 2) {
        call.end = time;
        call.outcome = text.substr(kind.size() + 1);
      }
    } else if (kind == "http" && fields.size() == 7) {
      log.http.push_back({time,
                          {fields[1], unescapeBytes(fields[2]), unescapeBytes(fields[3]), unescapeBytes(fields[4]), ""},
                          {std::stoi(fields[5]), unescapeBytes(fields[6])}});
    }
  }
  return log;
}

}  // namespace sim::peers
