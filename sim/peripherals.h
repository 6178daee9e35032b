// The TM4C123's peripherals the firmware uses: system control (clocks and
// gates), GPIO, UART, general-purpose timers and the ADC.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/device.h"

namespace sim {

class SystemControl final : public Device {
 public:
  explicit SystemControl(Board& board);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;
  // Whether a peripheral's clock runs, and whether it is ready for access.
  bool clocked(uint32_t classOffset, uint32_t bit) const;
  bool ready(uint32_t classOffset, uint32_t bit) const;
  // Core clock decoded from RCC and RCC2.
  uint32_t clockHz() const;

 private:
  void clockChanged();
  static constexpr unsigned kClasses = 32;
  uint32_t rcc_;
  uint32_t rcc2_;
  uint32_t ris_ = 0;
  uint32_t moscCtl_ = 0;
  bool pllLocked_ = false;
  uint64_t pllGeneration_ = 0;
  std::array<uint32_t, kClasses> gating_{};
  std::array<std::array<Time, 32>, kClasses> readyAt_{};
};

class Gpio final : public Device {
 public:
  Gpio(Board& board, unsigned port);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  // From outside the chip: drive a pin high or low, or leave it undriven.
  void drive(unsigned pin, PinState state);
  bool analogue(unsigned pin) const { return ((amsel_ >> pin) & 1U) != 0; }
  // What the world drives on each pin, and which outputs drive high or low.
  [[nodiscard]] std::array<PinState, 8> externalDrive() const;
  [[nodiscard]] uint8_t drivingHigh() const { return outputsShown_ & outputsDriving_; }
  [[nodiscard]] uint8_t drivingLow() const { return static_cast<uint8_t>(~outputsShown_ & outputsDriving_); }
  // Whether a pin is handed to the peripheral function with this PCTL code.
  bool routed(unsigned pin, unsigned function) const {
    return ((afsel_ & den_) >> pin & 1U) != 0 && ((pctl_ >> (4 * pin)) & 0xFU) == function;
  }

 private:
  uint8_t pinLevels() const;
  void update();
  void setLine();
  bool lockedBitsWritable(uint32_t offset) const;
  unsigned port_;
  uint32_t data_ = 0, dir_ = 0, is_ = 0, ibe_ = 0, iev_ = 0, im_ = 0, ris_ = 0;
  uint32_t afsel_ = 0, dr2r_ = 0xFF, dr4r_ = 0, dr8r_ = 0, odr_ = 0, pur_ = 0, pdr_ = 0;
  uint32_t slr_ = 0, den_ = 0, cr_ = 0xFF, amsel_ = 0, pctl_ = 0, adcctl_ = 0, dmactl_ = 0;
  bool locked_ = true;
  uint8_t driven_ = 0;
  uint8_t drivenHigh_ = 0;
  uint8_t levels_ = 0;
  uint8_t outputsShown_ = 0;
  uint8_t outputsSeen_ = 0xFF;
  uint8_t outputsDriving_ = 0;
};

class UartLine;

class Uart final : public Device {
 public:
  Uart(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;
  // A frame from the peer has just ended on the receive line.
  void receive(uint8_t byte, bool framingError);
  // Frame length at the configured rate; 0 while no rate is set.
  Time frameTime() const;
  // A bit's time at the configured rate.
  Time bitTimeConfigured() const;
  void attach(UartLine* line) { line_ = line; }
  unsigned index() const { return index_; }

 private:
  unsigned bitsPerFrame() const;
  bool pinRouted(bool transmit) const;
  unsigned rxCapacity() const;
  unsigned txCapacity() const;
  unsigned rxTrigger() const;
  unsigned txTrigger() const;
  bool enabled(uint32_t direction) const;
  void startTransmit();
  void updateLine();
  uint32_t flags() const;

  unsigned index_;
  uint32_t ibrd_ = 0, fbrd_ = 0, lcrh_ = 0, ctl_, ifls_, im_ = 0, ris_ = 0, rsr_ = 0;
  uint32_t ilpr_ = 0, dmactl_ = 0, cc_ = 0;
  uint32_t divisor_ = 0;  // latched by the LCRH write, in 64ths
  bool highSpeed_ = false;
  std::array<uint16_t, 16> rx_{};
  unsigned rxHead_ = 0, rxCount_ = 0;
  std::array<uint8_t, 16> tx_{};
  unsigned txHead_ = 0, txCount_ = 0;
  bool shifting_ = false;
  uint8_t shiftByte_ = 0;
  uint64_t transmitGeneration_ = 0;
  Time lastArrival_ = 0;
  bool timeoutWaiting_ = false;
  UartLine* line_ = nullptr;
};

class Timer final : public Device {
 public:
  Timer(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  uint32_t count() const;
  void start();
  void stop();
  void setLine();
  unsigned index_;
  uint32_t cfg_ = 0, tamr_ = 0, tbmr_ = 0, ctl_ = 0, imr_ = 0, ris_ = 0;
  uint32_t tailr_ = 0xFFFFFFFF, tbilr_ = 0xFFFFFFFF, tamatchr_ = 0xFFFFFFFF, tbmatchr_ = 0xFFFFFFFF;
  uint32_t tapr_ = 0, tbpr_ = 0;
  uint32_t value_ = 0xFFFFFFFF;  // count at anchor_, or the held count while stopped
  Time anchor_ = 0;
  Time cycle_ = 0;
  bool running_ = false;
  uint64_t generation_ = 0;
};

class Adc final : public Device {
 public:
  Adc(Board& board, unsigned index);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void onEvent(uint32_t kind, uint64_t argument) override;

 private:
  void trigger(unsigned sequencer);
  void setLines();
  uint16_t sample(unsigned channel) const;
  static constexpr std::array<unsigned, 4> kDepth = {8, 4, 4, 1};
  unsigned index_;
  uint32_t actss_ = 0, ris_ = 0, im_ = 0, emux_ = 0, sspri_ = 0x3210, sac_ = 0, ctl_ = 0, pc_ = 0x7;
  uint32_t ostat_ = 0, ustat_ = 0;
  std::array<uint32_t, 4> ssmux_{}, ssctl_{};
  std::array<std::deque<uint16_t>, 4> fifo_;
  std::array<bool, 4> busy_{};
};

}  // namespace sim
