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

}  // namespace sim
