#include "sim/timeline.h"

#include <cinttypes>
#include <cstdio>

namespace sim {

std::string formatTime(Time time) {
  char text[40];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%012" PRIu64, time / kPicosecondsPerSecond,
                time % kPicosecondsPerSecond);
  return text;
}

std::string pinName(uint8_t unit) {
  const char name[] = {'P', static_cast<char>('A' + unit / 8), static_cast<char>('0' + unit % 8), 0};
  return name;
}

namespace {

std::string byteText(uint16_t value) {
  char text[24];
  if (value >= 0x20 && value < 0x7F && value != '\'') {
    std::snprintf(text, sizeof text, "%02X '%c'", value, value);
  } else {
    std::snprintf(text, sizeof text, "%02X", value);
  }
  return text;
}

}  // namespace

std::string Timeline::line(const Record& record) const {
  const std::string time = formatTime(record.time);
  const std::string uart = "UART" + std::to_string(record.unit);
  switch (record.kind) {
    case RecordKind::UartSent:
      return time + " " + uart + " sent " + byteText(record.value) +
             (record.detail == kSentPinNotRouted ? " pin-not-routed" : "");
    case RecordKind::UartReceived:
      return time + " " + uart + " received " + byteText(record.value) +
             (record.detail == kReceivedFramingError ? " framing-error" : "");
    case RecordKind::UartLost:
      return time + " " + uart + " lost " + byteText(record.value) +
             (record.detail == kLostFifoFull       ? " fifo-full"
              : record.detail == kLostReceiverOff ? " receiver-off"
                                                  : " pin-not-routed");
    case RecordKind::Pin:
      return time + " " + pinName(record.unit) + " " + std::to_string(record.value);
    case RecordKind::InterruptEnter:
      return time + " interrupt " + std::to_string(record.value) + " enter";
    case RecordKind::InterruptExit:
      return time + " interrupt " + std::to_string(record.value) + " exit";
    case RecordKind::Priority:
      return time + " interrupt " + std::to_string(record.value) + " priority " + std::to_string(record.detail);
    case RecordKind::Fault:
      return time + " fault " + texts.at(record.detail);
    case RecordKind::Note:
      return time + " note " + texts.at(record.detail);
    case RecordKind::Stack:
      return time + " stack deepest " + std::to_string(record.value) + " of " + std::to_string(record.detail) +
             " bytes";
    case RecordKind::Executed:
      return time + " executed " + texts.at(record.detail) + " halfwords of code";
    case RecordKind::Peer:
      return time + " " + uart + " peer " + texts.at(record.detail);
    case RecordKind::Ended:
      return time + " end";
  }
  return time;
}

std::string Timeline::text() const {
  std::string all;
  for (const Record& record : records) {
    all += line(record);
    all += '\n';
  }
  return all;
}

}  // namespace sim
