#include "sim/board.h"

namespace sim {

void Board::record(RecordKind kind, uint8_t unit, uint16_t value, uint32_t detail) {
  timeline_.records.push_back(Record{now_, kind, unit, value, detail});
  if (timeline_.records.size() - unshipped_ >= kShippedBlock) {
    ship(false);
  }
}

void Board::note(std::string text) {
  timeline_.texts.push_back(std::move(text));
  record(RecordKind::Note, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::peerRecord(unsigned uart, std::string text) {
  timeline_.texts.push_back(std::move(text));
  record(RecordKind::Peer, static_cast<uint8_t>(uart), 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::inputRecord(std::string text) {
  timeline_.texts.push_back(std::move(text));
  record(RecordKind::Input, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::outputSeen(Pin pin, bool high) {
  for (auto& line : lines_) {
    for (const Pin& watched : line->watched()) {
      if (watched.unit() == pin.unit()) {
        line->pinChanged(pin, high);
      }
    }
  }
}

void Board::executedRecord(uint64_t halfwords) {
  timeline_.texts.push_back(std::to_string(halfwords));
  record(RecordKind::Executed, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
}

void Board::fault(const std::string& what) {
  auto where = std::move(faultContext_);
  faultContext_ = nullptr;
  timeline_.texts.push_back(where ? what + where() : what);
  record(RecordKind::Fault, 0, 0, static_cast<uint32_t>(timeline_.texts.size() - 1));
  if (auto faulted = std::move(onFault_)) {
    onFault_ = nullptr;
    faulted(timeline_.texts.back());
  }
  finish();
}

}  // namespace sim
