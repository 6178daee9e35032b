// The world's side of the chip's pins: a UART's peer, scripted pin changes.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench.h"
#include "sim/device.h"

namespace sim {

class Uart;

// The peer side of a UART: scripted bytes out, received bytes in.
class UartLine final : public EventTarget {
 public:
  UartLine(Board& board, Uart& uart, const UartPeer& script);
  void start();
  void onEvent(uint32_t kind, uint64_t argument) override;
  [[nodiscard]] bool outsideChip() const override { return true; }
  // The chip's byte has reached the peer.
  void heard(uint8_t byte);
  void send(Time at, std::string_view bytes);
  void sendAtRate(Time at, std::string_view bytes, uint32_t rate);
  void wakeAt(Time at, uint64_t tag);
  void record(std::string text);
  [[nodiscard]] uint32_t chipRate() const;
  void pinChanged(Pin pin, bool high);
  [[nodiscard]] const std::vector<Pin>& watched() const { return script_.watched; }

 private:
  void pump();
  Board& board_;
  Uart& uart_;
  UartPeer script_;
  std::vector<bool> ruleActive_;
  std::string heard_;
  struct Pending {
    Time at;
    uint8_t byte;
    int burst;  // a burst at its own rate, or -1
  };
  std::deque<Pending> outgoing_;
  struct Burst {
    std::string bytes;
    uint32_t rate;
  };
  std::deque<Burst> bursts_;
  // The scripted sends in time order, each scheduled when the one before
  // it is taken: a day's GPS script would otherwise fill the event queue.
  std::vector<unsigned> sendsInOrder_;
  uint64_t sendsFirstOrder_ = 0;
  void scheduleSend(size_t position);
  bool startScheduled_ = false;
  Time lineFree_ = 0;
};

class PinDriver final : public EventTarget {
 public:
  PinDriver(Board& board, std::vector<PinChange> changes) : board_(board), changes_(std::move(changes)) {}
  void start();
  void onEvent(uint32_t kind, uint64_t argument) override;
  [[nodiscard]] bool outsideChip() const override { return true; }

 private:
  Board& board_;
  std::vector<PinChange> changes_;
};

}  // namespace sim
