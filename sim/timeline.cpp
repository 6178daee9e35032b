#include "sim/timeline.h"

#include <charconv>

namespace sim {

namespace {

void appendNumber(std::string& out, uint64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// Seconds with twelve decimals: the picoseconds exactly.
void appendTime(std::string& out, Time time) {
  appendNumber(out, time / kPicosecondsPerSecond);
  char fraction[12];
  uint64_t rest = time % kPicosecondsPerSecond;
  for (int index = 11; index >= 0; --index) {
    fraction[index] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  out += '.';
  out.append(fraction, sizeof fraction);
}

void appendByte(std::string& out, uint16_t value) {
  constexpr char kHex[] = "0123456789ABCDEF";
  if (value > 0xFF) {
    char digits[8];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, 16);
    for (char* digit = digits; digit != end; ++digit) {
      out += static_cast<char>(*digit >= 'a' ? *digit - 'a' + 'A' : *digit);
    }
  } else {
    out += kHex[value >> 4];
    out += kHex[value & 0xF];
  }
  if (value <= 0xFF) {
    out += " '";
    appendShownByte(out, static_cast<uint8_t>(value));
    out += '\'';
  }
}

}  // namespace

void appendShownByte(std::string& out, uint8_t byte) {
  constexpr char kHex[] = "0123456789abcdef";
  if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '\'') {
    out += static_cast<char>(byte);
  } else if (byte == '\r') {
    out += "\\r";
  } else if (byte == '\n') {
    out += "\\n";
  } else if (byte == '\t') {
    out += "\\t";
  } else {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
}

std::string formatTime(Time time) {
  std::string text;
  appendTime(text, time);
  return text;
}

std::string pinName(uint8_t unit) {
  const char name[] = {'P', static_cast<char>('A' + unit / 8), static_cast<char>('0' + unit % 8), 0};
  return name;
}

// Appended piece by piece: a long run's text is millions of lines.
void Timeline::appendLine(std::string& out, const Record& record) const {
  appendTime(out, record.time);
  const auto uart = [&] {
    out += " UART";
    appendNumber(out, record.unit);
  };
  const auto interrupt = [&](const char* what) {
    out += " interrupt ";
    appendNumber(out, record.value);
    out += what;
  };
  switch (record.kind) {
    case RecordKind::UartSent:
      uart();
      out += " sent ";
      appendByte(out, record.value);
      out += record.detail == kSentPinNotRouted ? " pin-not-routed" : "";
      return;
    case RecordKind::UartReceived:
      uart();
      out += " received ";
      appendByte(out, record.value);
      out += record.detail == kReceivedFramingError ? " framing-error" : "";
      return;
    case RecordKind::UartLost:
      uart();
      out += " lost ";
      appendByte(out, record.value);
      out += record.detail == kLostFifoFull       ? " fifo-full"
             : record.detail == kLostReceiverOff ? " receiver-off"
                                                 : " pin-not-routed";
      return;
    case RecordKind::Pin:
      out += ' ';
      out += pinName(record.unit);
      out += ' ';
      appendNumber(out, record.value);
      return;
    case RecordKind::InterruptEnter:
      interrupt(" enter");
      return;
    case RecordKind::InterruptExit:
      interrupt(" exit");
      return;
    case RecordKind::Priority:
      interrupt(" priority ");
      appendNumber(out, record.detail);
      return;
    case RecordKind::Fault:
      out += " fault ";
      out += texts.at(record.detail);
      return;
    case RecordKind::Note:
      out += " note ";
      out += texts.at(record.detail);
      return;
    case RecordKind::Stack:
      out += " stack deepest ";
      appendNumber(out, record.value);
      out += " of ";
      appendNumber(out, record.detail);
      out += " bytes";
      return;
    case RecordKind::Executed:
      out += " executed ";
      out += texts.at(record.detail);
      out += " halfwords of code";
      return;
    case RecordKind::Peer:
      uart();
      out += " peer ";
      out += texts.at(record.detail);
      return;
    case RecordKind::Input:
      out += " input ";
      out += texts.at(record.detail);
      return;
    case RecordKind::Ended:
      out += " end";
      return;
  }
}

std::string Timeline::line(const Record& record) const {
  std::string text;
  appendLine(text, record);
  return text;
}

std::string Timeline::text() const {
  std::string all;
  all.reserve(records.size() * 40);
  for (const Record& record : records) {
    appendLine(all, record);
    all += '\n';
  }
  return all;
}

}  // namespace sim
