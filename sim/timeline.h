// What a run records: every byte on each UART line, every output pin change,
// every interrupt taken, every fault, with its virtual time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/time.h"

namespace sim {

enum class RecordKind : uint8_t {
  UartSent,      // the chip sent value on UART unit (time: end of its stop bit); detail 1: its pin was not routed
  UartReceived,  // value reached the receive FIFO of UART unit
  UartLost,      // value reached UART unit and found no room, the receiver off, or its pin not routed
  Pin,           // output pin unit (port * 8 + pin) now drives value
  InterruptEnter,
  InterruptExit,  // value is the vector number
  Priority,       // the priority byte of vector value was written with detail (the top 3 bits count)
  Fault,          // detail indexes the texts
  Note,           // detail indexes the texts
  Peer,           // the device on UART unit recorded the text detail indexes
  Stack,          // an emulated image's deepest stack: value bytes of a stack of detail bytes
  Executed,       // an emulated image's halfwords of code executed, the text detail indexes
  Ended,          // the run reached its end time
  Input,          // the world acted on the board (a press, a fault, a fix lost): the text detail indexes
};

struct Record {
  Time time;
  RecordKind kind;
  uint8_t unit;
  uint16_t value;
  uint32_t detail;
};

inline constexpr uint32_t kLostFifoFull = 0;
inline constexpr uint32_t kLostReceiverOff = 1;
inline constexpr uint32_t kLostPinNotRouted = 2;
inline constexpr uint32_t kReceivedFramingError = 1;
inline constexpr uint32_t kSentPinNotRouted = 1;

// Records a run's process hands over at a time, while the run goes on.
inline constexpr size_t kShippedBlock = 65536;

struct Timeline {
  // In blocks: a day's run is tens of millions, which a vector would copy
  // and hold twice over as it grows.
  std::deque<Record> records;
  std::vector<std::string> texts;

  // One line per record, as the command-line runner prints it.
  [[nodiscard]] std::string text() const;
  [[nodiscard]] std::string line(const Record& record) const;
  void appendLine(std::string& out, const Record& record) const;
};

// Port letter and pin of a Pin record's unit: "PF2".
std::string pinName(uint8_t unit);
// A byte as text, shown one way wherever the bench shows bytes (the peers'
// records too): itself when printable, else \r, \n, \t or \xhh, and a
// backslash or a quote as \x5c and \x27.
void appendShownByte(std::string& out, uint8_t byte);

}  // namespace sim
