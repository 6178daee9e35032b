#include <algorithm>
#include <string>
#include <vector>

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::uart;

constexpr unsigned kInterruptOf[] = {5, 6, 33, 59, 60, 61, 62, 63};  // device interrupts of UART0 to UART7
constexpr unsigned kFifoLevels[] = {2, 4, 8, 12, 14};                // 1/8 to 7/8 of 16

enum Event : uint32_t { kTransmitDone, kReceiveTimeout };

// Receive and transmit pins of each UART: port, receive pin, transmit pin,
// all with PCTL function 1.
struct Pins {
  unsigned port, receive, transmit;
};
constexpr Pins kPinsOf[] = {{0, 0, 1}, {1, 0, 1}, {3, 6, 7}, {2, 6, 7},
                            {2, 4, 5}, {4, 4, 5}, {3, 4, 5}, {4, 0, 1}};

}  // namespace

Uart::Uart(Board& board, unsigned index)
    : Device(board, "UART" + std::to_string(index), kUart0 + index * kSpacing),
      index_(index),
      ctl_(kResetCtl),
      ifls_(kResetIfls) {
  setClockGate(reg::sysctl::kUartClass, index);
}

unsigned Uart::bitsPerFrame() const {
  const unsigned data = 5 + ((lcrh_ & kLcrhWordLengthMask) >> kLcrhWordLengthShift);
  const unsigned parity = (lcrh_ & kLcrhParityEnable) != 0 ? 1 : 0;
  const unsigned stop = (lcrh_ & kLcrhTwoStopBits) != 0 ? 2 : 1;
  return 1 + data + parity + stop;
}

// One bit lasts divisor/64 times 16 (or 8 at high speed) system clocks.
Time Uart::bitTimeConfigured() const {
  if (divisor_ == 0 || board_.clockHz() == 0) {
    return 0;
  }
  const uint64_t samples = highSpeed_ ? 8 : 16;
  return static_cast<Time>((static_cast<unsigned __int128>(kPicosecondsPerSecond) * divisor_ * samples) /
                           (64ULL * board_.clockHz()));
}

Time Uart::frameTime() const { return bitTimeConfigured() * bitsPerFrame(); }

bool Uart::enabled(uint32_t direction) const {
  return (ctl_ & kCtlEnable) != 0 && (ctl_ & direction) != 0;
}

unsigned Uart::rxCapacity() const { return (lcrh_ & kLcrhFifoEnable) != 0 ? 16 : 1; }
unsigned Uart::txCapacity() const { return (lcrh_ & kLcrhFifoEnable) != 0 ? 16 : 1; }

unsigned Uart::rxTrigger() const {
  if ((lcrh_ & kLcrhFifoEnable) == 0) {
    return 1;
  }
  const unsigned level = (ifls_ >> 3) & 0x7U;
  return kFifoLevels[level < 5 ? level : 2];
}

unsigned Uart::txTrigger() const {
  if ((lcrh_ & kLcrhFifoEnable) == 0) {
    return 0;
  }
  const unsigned level = ifls_ & 0x7U;
  return 16 - kFifoLevels[level < 5 ? level : 2];
}

uint32_t Uart::flags() const {
  uint32_t value = 0;
  if (shifting_ || txCount_ != 0) {
    value |= kFrBusy;
  }
  if (rxCount_ == 0) {
    value |= kFrRxEmpty;
  }
  if (txCount_ >= txCapacity()) {
    value |= kFrTxFull;
  }
  if (rxCount_ >= rxCapacity()) {
    value |= kFrRxFull;
  }
  if (txCount_ == 0) {
    value |= kFrTxEmpty;
  }
  return value;
}

bool Uart::pinRouted(bool transmit) const {
  const Pins& pins = kPinsOf[index_];
  return board_.gpioRouted(pins.port, transmit ? pins.transmit : pins.receive, 1);
}

void Uart::updateLine() { board_.setLine(kInterruptOf[index_], (ris_ & im_) != 0); }

void Uart::startTransmit() {
  if (shifting_ || txCount_ == 0 || !enabled(kCtlTxEnable)) {
    return;
  }
  const Time frame = frameTime();
  if (frame == 0) {
    board_.fault(name() + ": transmitting with no baud rate set");
  }
  shiftByte_ = tx_[txHead_];
  txHead_ = (txHead_ + 1) % tx_.size();
  --txCount_;
  shifting_ = true;
  if (txCount_ <= txTrigger()) {
    ris_ |= kIntTx;
  }
  board_.schedule(board_.now() + frame, this, kTransmitDone, ++transmitGeneration_);
  updateLine();
}

void Uart::receive(uint8_t byte, bool framingError) {
  if (!pinRouted(false)) {
    board_.record(RecordKind::UartLost, static_cast<uint8_t>(index_), byte, kLostPinNotRouted);
    return;
  }
  if (!enabled(kCtlRxEnable)) {
    board_.record(RecordKind::UartLost, static_cast<uint8_t>(index_), byte, kLostReceiverOff);
    return;
  }
  if (rxCount_ >= rxCapacity()) {
    board_.record(RecordKind::UartLost, static_cast<uint8_t>(index_), byte, kLostFifoFull);
    rsr_ |= kRsrOverrun;
    ris_ |= kIntOverrun;
    updateLine();
    return;
  }
  board_.record(RecordKind::UartReceived, static_cast<uint8_t>(index_), byte,
                framingError ? kReceivedFramingError : 0);
  rx_[(rxHead_ + rxCount_) % rx_.size()] = static_cast<uint16_t>(byte | (framingError ? kDrFraming : 0));
  ++rxCount_;
  if (framingError) {
    ris_ |= kIntFraming;
  }
  if (rxCount_ >= rxTrigger()) {
    ris_ |= kIntRx;
  }
  // Thirty-two bit times of silence raise the time-out. One event waits at
  // a time; when it comes early, it moves on behind the last arrival.
  lastArrival_ = board_.now();
  if (!timeoutWaiting_) {
    timeoutWaiting_ = true;
    board_.schedule(lastArrival_ + 32 * bitTimeConfigured(), this, kReceiveTimeout);
  }
  updateLine();
}

void Uart::onEvent(uint32_t kind, uint64_t argument) {
  if (kind == kTransmitDone && argument == transmitGeneration_) {
    shifting_ = false;
    const bool routed = pinRouted(true);
    board_.record(RecordKind::UartSent, static_cast<uint8_t>(index_), shiftByte_,
                  routed ? 0 : kSentPinNotRouted);
    if (routed && line_ != nullptr) {
      line_->heard(shiftByte_);
    }
    startTransmit();
  } else if (kind == kReceiveTimeout) {
    timeoutWaiting_ = false;
    const Time due = lastArrival_ + 32 * bitTimeConfigured();
    if (board_.now() < due) {
      timeoutWaiting_ = true;
      board_.schedule(due, this, kReceiveTimeout);
    } else if (rxCount_ != 0) {
      ris_ |= kIntRxTimeout;
      updateLine();
    }
  }
}

uint32_t Uart::read(uint32_t offset) {
  switch (offset) {
    case kDr: {
      if (rxCount_ == 0) {
        return 0;
      }
      const uint16_t entry = rx_[rxHead_];
      rxHead_ = (rxHead_ + 1) % rx_.size();
      --rxCount_;
      if (rxCount_ < rxTrigger()) {
        ris_ &= ~kIntRx;
      }
      if (rxCount_ == 0) {
        ris_ &= ~kIntRxTimeout;
      }
      board_.markActivity();
      updateLine();
      return entry;
    }
    case kRsr: return rsr_;
    case kFr: return flags();
    case kIlpr: return ilpr_;
    case kIbrd: return ibrd_;
    case kFbrd: return fbrd_;
    case kLcrh: return lcrh_;
    case kCtl: return ctl_;
    case kIfls: return ifls_;
    case kIm: return im_;
    case kRis: return ris_;
    case kMis: return ris_ & im_;
    case kDmaCtl: return dmactl_;
    case kCc: return cc_;
    default: unknownRegister(offset, "read");
  }
}

void Uart::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kDr:
      if (txCount_ >= txCapacity()) {
        board_.note(name() + ": byte written to a full transmit FIFO was dropped");
        return;
      }
      tx_[(txHead_ + txCount_) % tx_.size()] = static_cast<uint8_t>(value);
      ++txCount_;
      if (txCount_ > txTrigger()) {
        ris_ &= ~kIntTx;
      }
      startTransmit();
      updateLine();
      return;
    case kRsr: rsr_ = 0; return;
    case kIlpr: ilpr_ = value & 0xFFU; return;
    case kIbrd: ibrd_ = value & 0xFFFFU; return;
    case kFbrd: fbrd_ = value & 0x3FU; return;
    case kLcrh:
      lcrh_ = value & 0xFFU;
      divisor_ = ibrd_ * 64 + fbrd_;
      highSpeed_ = (ctl_ & kCtlHighSpeed) != 0;
      return;
    case kCtl:
      ctl_ = value & 0xFFFFU;
      startTransmit();
      return;
    case kIfls: ifls_ = value & 0x3FU; return;
    case kIm: im_ = value & 0x7F0U; updateLine(); return;
    case kIcr: ris_ &= ~value; updateLine(); return;
    case kDmaCtl: dmactl_ = value; return;
    case kCc: cc_ = value; return;
    default: unknownRegister(offset, "write");
  }
}

// The peer's side of the line.

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
