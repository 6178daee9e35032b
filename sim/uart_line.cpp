// The peer's side of a UART line: scripted and modelled devices sending at
// their own rate, and hearing what the chip sends.
#include <algorithm>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

namespace {

enum LineEvent : uint32_t { kStartByte, kByteArrived, kScriptedSend, kDeviceStart, kDeviceWake, kOwnRateArrived, kBurst };

// What a receiver at bitTimeHeard makes of 8N1 frames sent back to back at
// bitTimeSent: it waits for a falling edge, samples each bit in its middle
// and flags a low stop bit. Times are from the burst's first start bit.
struct Heard {
  Time at;
  uint8_t byte;
  bool framingError;
};
std::vector<Heard> resampled(std::string_view bytes, Time bitTimeSent, Time bitTimeHeard) {
  const int64_t bits = static_cast<int64_t>(bytes.size()) * 10;
  const auto level = [&](int64_t bit) {
    if (bit < 0 || bit >= bits) {
      return 1;  // idle
    }
    const int64_t place = bit % 10;
    return place == 0 ? 0 : place == 9 ? 1 : (static_cast<uint8_t>(bytes[static_cast<size_t>(bit / 10)]) >> (place - 1)) & 1;
  };
  const auto levelAt = [&](Time at) { return level(static_cast<int64_t>(at / bitTimeSent)); };
  std::vector<Heard> heard;
  Time searchFrom = 0;
  for (;;) {
    int64_t edge = static_cast<int64_t>((searchFrom + bitTimeSent - 1) / bitTimeSent);
    while (edge < bits && !(level(edge) == 0 && level(edge - 1) == 1)) {
      ++edge;
    }
    if (edge >= bits) {
      return heard;
    }
    const Time start = static_cast<Time>(edge) * bitTimeSent;
    if (levelAt(start + bitTimeHeard / 2) != 0) {
      searchFrom = start + bitTimeHeard / 2;  // a glitch, no start bit
      continue;
    }
    uint8_t byte = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      byte = static_cast<uint8_t>(byte | (levelAt(start + (2 * bit + 3) * bitTimeHeard / 2) << bit));
    }
    const Time stop = start + 19 * bitTimeHeard / 2;
    heard.push_back({stop, byte, levelAt(stop) == 0});
    searchFrom = stop;
  }
}


class Link final : public PeerLink {
 public:
  Link(Board& board, UartLine& line) : board_(board), line_(line) {}
  Time now() const override { return board_.now(); }
  void send(Time delay, std::string_view bytes) override { line_.send(board_.now() + delay, bytes); }
  void sendAtRate(Time delay, std::string_view bytes, uint32_t rate) override {
    line_.sendAtRate(board_.now() + delay, bytes, rate);
  }
  void wakeAfter(Time delay, uint64_t tag) override { line_.wakeAt(board_.now() + delay, tag); }
  void record(std::string text) override { line_.record(std::move(text)); }
  void recordInput(std::string text) override { board_.inputRecord(std::move(text)); }
  uint32_t chipRate() const override { return line_.chipRate(); }
  void endRun() override { board_.endNow(); }
  void drive(std::vector<PinChange> changes) override { board_.drive(std::move(changes)); }

 private:
  Board& board_;
  UartLine& line_;
};

}  // namespace

UartLine::UartLine(Board& board, Uart& uart, const UartPeer& script)
    : board_(board), uart_(uart), script_(script), ruleActive_(script.rules.size(), true) {}

void UartLine::start() {
  sendsInOrder_.resize(script_.sends.size());
  for (unsigned index = 0; index < sendsInOrder_.size(); ++index) {
    sendsInOrder_[index] = index;
  }
  std::stable_sort(sendsInOrder_.begin(), sendsInOrder_.end(),
                   [&](unsigned a, unsigned b) { return script_.sends[a].at < script_.sends[b].at; });
  sendsFirstOrder_ = board_.reserveOrder(sendsInOrder_.size());
  scheduleSend(0);
  if (script_.model) {
    board_.schedule(0, this, kDeviceStart);
  }
}

void UartLine::scheduleSend(size_t position) {
  if (position < sendsInOrder_.size()) {
    const unsigned index = sendsInOrder_[position];
    board_.scheduleReserved(script_.sends[index].at, sendsFirstOrder_ + index, this, kScriptedSend, position);
  }
}

void UartLine::wakeAt(Time at, uint64_t tag) { board_.schedule(at, this, kDeviceWake, tag); }

uint32_t UartLine::chipRate() const {
  const Time bit = uart_.bitTimeConfigured();
  return bit == 0 ? 0 : static_cast<uint32_t>((kPicosecondsPerSecond + bit / 2) / bit);
}

void UartLine::record(std::string text) { board_.peerRecord(uart_.index(), std::move(text)); }

void UartLine::send(Time at, std::string_view bytes) {
  for (char byte : bytes) {
    outgoing_.push_back(Pending{at, static_cast<uint8_t>(byte), -1});
  }
  pump();
}

void UartLine::sendAtRate(Time at, std::string_view bytes, uint32_t rate) {
  bursts_.push_back({std::string(bytes), rate});
  outgoing_.push_back(Pending{at, 0, static_cast<int>(bursts_.size() - 1)});
  pump();
}

void UartLine::pump() {
  if (startScheduled_ || outgoing_.empty()) {
    return;
  }
  Time at = outgoing_.front().at;
  at = at > lineFree_ ? at : lineFree_;
  startScheduled_ = true;
  if (outgoing_.front().burst >= 0) {
    const auto index = static_cast<size_t>(outgoing_.front().burst);
    outgoing_.pop_front();
    lineFree_ = at + 10 * bitTime(bursts_[index].rate) * bursts_[index].bytes.size();
    board_.schedule(at, this, kBurst, index);
    return;
  }
  if (script_.rate != 0) {
    // The frame's length is the peer's own: the byte's arrival is known now.
    const uint8_t byte = outgoing_.front().byte;
    outgoing_.pop_front();
    lineFree_ = at + 10 * bitTime(script_.rate);
    board_.schedule(lineFree_, this, kOwnRateArrived, byte);
    return;
  }
  board_.schedule(at, this, kStartByte);
}

void UartLine::onEvent(uint32_t kind, uint64_t argument) {
  switch (kind) {
    case kScriptedSend:
      scheduleSend(argument + 1);
      send(board_.now(), script_.sends[sendsInOrder_[argument]].bytes);
      return;
    case kStartByte: {
      startScheduled_ = false;
      const uint8_t byte = outgoing_.front().byte;
      outgoing_.pop_front();
      const Time chipFrame = uart_.frameTime();
      const Time frame = script_.rate != 0 ? 10 * bitTime(script_.rate) : chipFrame;
      if (frame == 0) {
        // Nothing set up on the chip's side to hear it.
        board_.record(RecordKind::UartLost, static_cast<uint8_t>(uart_.index()), byte, kLostReceiverOff);
        pump();
        return;
      }
      // A rate more than 3 % off makes the receiver misread the stop bit.
      const bool mismatch = chipFrame == 0 || (frame > chipFrame ? frame - chipFrame : chipFrame - frame) * 100 > 3 * chipFrame;
      lineFree_ = board_.now() + frame;
      board_.schedule(lineFree_, this, kByteArrived, byte | (mismatch ? 0x100U : 0U));
      pump();
      return;
    }
    case kByteArrived:
      uart_.receive(static_cast<uint8_t>(argument & 0xFFU), (argument & 0x100U) != 0);
      return;
    case kOwnRateArrived: {
      startScheduled_ = false;
      const uint8_t byte = static_cast<uint8_t>(argument);
      const Time chipFrame = uart_.frameTime();
      const Time frame = 10 * bitTime(script_.rate);
      if (chipFrame == 0) {
        board_.record(RecordKind::UartLost, static_cast<uint8_t>(uart_.index()), byte, kLostReceiverOff);
      } else {
        // A rate more than 3 % off makes the receiver misread the stop bit.
        const bool mismatch = (frame > chipFrame ? frame - chipFrame : chipFrame - frame) * 100 > 3 * chipFrame;
        uart_.receive(byte, mismatch);
      }
      pump();
      return;
    }
    case kBurst: {
      startScheduled_ = false;
      const Burst& burst = bursts_[argument];
      const Time heardBit = uart_.bitTimeConfigured();
      if (uart_.frameTime() == 0) {
        for (char byte : burst.bytes) {
          board_.record(RecordKind::UartLost, static_cast<uint8_t>(uart_.index()), static_cast<uint8_t>(byte),
                        kLostReceiverOff);
        }
      } else {
        for (const Heard& heard : resampled(burst.bytes, bitTime(burst.rate), heardBit)) {
          board_.schedule(board_.now() + heard.at, this, kByteArrived, heard.byte | (heard.framingError ? 0x100U : 0U));
        }
      }
      pump();
      return;
    }
    case kDeviceStart: {
      Link link(board_, *this);
      script_.model->start(link);
      return;
    }
    case kDeviceWake: {
      Link link(board_, *this);
      script_.model->wake(link, argument);
      return;
    }
    default:
      return;
  }
}

void UartLine::pinChanged(Pin pin, bool high) {
  if (script_.model) {
    Link link(board_, *this);
    script_.model->pinChanged(link, pin, high);
  }
}

void UartLine::heard(uint8_t byte) {
  if (script_.handler) {
    Link link(board_, *this);
    script_.handler(link, byte);
  }
  if (script_.model) {
    Link link(board_, *this);
    script_.model->heard(link, byte);
  }
  if (script_.rules.empty()) {
    return;
  }
  heard_.push_back(static_cast<char>(byte));
  for (unsigned index = 0; index < script_.rules.size(); ++index) {
    const UartPeer::Rule& rule = script_.rules[index];
    if (!ruleActive_[index] || heard_.size() < rule.trigger.size() ||
        heard_.compare(heard_.size() - rule.trigger.size(), rule.trigger.size(), rule.trigger) != 0) {
      continue;
    }
    send(board_.now() + rule.delay, rule.response);
    if (rule.once) {
      ruleActive_[index] = false;
    }
    heard_.clear();
    return;
  }
  // What can no longer end a trigger need not be kept.
  if (heard_.size() > 4096) {
    heard_.erase(0, heard_.size() - 1024);
  }
}

}  // namespace sim
