#include <string>

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::gpio;

constexpr unsigned kInterruptOf[] = {0, 1, 2, 3, 4, 30};  // device interrupts of ports A to F
constexpr char kLetters[] = "ABCDEF";

}  // namespace

Gpio::Gpio(Board& board, unsigned port)
    : Device(board, std::string("GPIO port ") + kLetters[port], kPorts[port]), port_(port) {
  setClockGate(reg::sysctl::kGpioClass, port);
  // Pins with a commit lock: PC3:0 (JTAG), PD7, PF0.
  if (port == 2) {
    cr_ = 0xF0;
    afsel_ = den_ = pur_ = 0x0F;
    pctl_ = 0x00001111;
  } else if (port == 3) {
    cr_ = 0x7F;
  } else if (port == 5) {
    cr_ = 0xFE;
  }
}

// The level on each pin as the input buffer sees it.
uint8_t Gpio::pinLevels() const {
  const uint8_t outputs = static_cast<uint8_t>(dir_ & ~afsel_);
  uint8_t pulled = static_cast<uint8_t>(pur_ & ~pdr_);
  uint8_t level = static_cast<uint8_t>((drivenHigh_ & driven_) | (pulled & ~driven_));
  level = static_cast<uint8_t>((level & ~outputs) | (data_ & outputs));
  return static_cast<uint8_t>(level & den_);
}

void Gpio::update() {
  const uint8_t levels = pinLevels();
  const uint8_t changed = levels ^ levels_;
  levels_ = levels;
  for (unsigned pin = 0; pin < 8; ++pin) {
    const uint8_t mask = static_cast<uint8_t>(1U << pin);
    if ((changed & mask) == 0 || (is_ & mask) != 0) {
      continue;
    }
    const bool high = (levels & mask) != 0;
    if ((ibe_ & mask) != 0 || (((iev_ & mask) != 0) == high)) {
      ris_ |= mask;
    }
  }
  // Level-sensitive pins follow the level.
  ris_ = (ris_ & ~is_) | (is_ & ~(levels ^ iev_) & 0xFFU);

  // Record what the output pins drive.
  const uint8_t driving = static_cast<uint8_t>(dir_ & ~afsel_ & den_);
  const uint8_t shown = static_cast<uint8_t>(data_ & driving);
  const uint8_t report = static_cast<uint8_t>((driving & ~outputsDriving_) | ((shown ^ outputsShown_) & driving));
  for (unsigned pin = 0; pin < 8; ++pin) {
    if ((report >> pin) & 1U) {
      board_.record(RecordKind::Pin, static_cast<uint8_t>(port_ * 8 + pin), (shown >> pin) & 1U);
    }
  }
  // What a device wired to a pin sees: undriven reads high (its pull-up).
  const auto seen = static_cast<uint8_t>(shown | static_cast<uint8_t>(~driving));
  const auto seenChanged = static_cast<uint8_t>(seen ^ outputsSeen_);
  outputsDriving_ = driving;
  outputsShown_ = shown;
  outputsSeen_ = seen;
  for (unsigned pin = 0; pin < 8; ++pin) {
    if ((seenChanged >> pin) & 1U) {
      board_.outputSeen(Pin{static_cast<uint8_t>(port_), static_cast<uint8_t>(pin)}, ((seen >> pin) & 1U) != 0);
    }
  }
  setLine();
}

void Gpio::setLine() { board_.setLine(kInterruptOf[port_], (ris_ & im_) != 0); }

std::array<PinState, 8> Gpio::externalDrive() const {
  std::array<PinState, 8> states{};
  for (unsigned pin = 0; pin < 8; ++pin) {
    states[pin] = ((driven_ >> pin) & 1U) == 0 ? PinState::Undriven
                  : ((drivenHigh_ >> pin) & 1U) != 0 ? PinState::High : PinState::Low;
  }
  return states;
}

void Gpio::drive(unsigned pin, PinState state) {
  const uint8_t mask = static_cast<uint8_t>(1U << pin);
  if (state == PinState::Undriven) {
    driven_ &= static_cast<uint8_t>(~mask);
  } else {
    driven_ |= mask;
    drivenHigh_ = static_cast<uint8_t>(state == PinState::High ? (drivenHigh_ | mask) : (drivenHigh_ & ~mask));
  }
  update();
}

uint32_t Gpio::read(uint32_t offset) {
  if (offset <= kDataEnd) {
    const uint32_t mask = (offset >> 2) & 0xFFU;
    const uint32_t outputs = dir_ & ~afsel_;
    return ((data_ & outputs) | (levels_ & ~outputs)) & mask;
  }
  switch (offset) {
    case kDir: return dir_;
    case kIs: return is_;
    case kIbe: return ibe_;
    case kIev: return iev_;
    case kIm: return im_;
    case kRis: return ris_;
    case kMis: return ris_ & im_;
    case kAfsel: return afsel_;
    case kDr2r: return dr2r_;
    case kDr4r: return dr4r_;
    case kDr8r: return dr8r_;
    case kOdr: return odr_;
    case kPur: return pur_;
    case kPdr: return pdr_;
    case kSlr: return slr_;
    case kDen: return den_;
    case kLock: return locked_ ? 1U : 0U;
    case kCr: return cr_;
    case kAmsel: return amsel_;
    case kPctl: return pctl_;
    case kAdcCtl: return adcctl_;
    case kDmaCtl: return dmactl_;
    default: unknownRegister(offset, "read");
  }
}

void Gpio::write(uint32_t offset, uint32_t value) {
  if (offset <= kDataEnd) {
    const uint32_t mask = (offset >> 2) & 0xFFU;
    data_ = (data_ & ~mask) | (value & mask);
    update();
    return;
  }
  // Bits of locked pins keep their value in the commit-protected registers.
  const auto committed = [this](uint32_t old, uint32_t value) { return (old & ~cr_) | (value & cr_ & 0xFFU); };
  value &= (offset == kPctl || offset == kLock) ? 0xFFFFFFFFU : 0xFFU;
  switch (offset) {
    case kDir: dir_ = value; break;
    case kIs: is_ = value; break;
    case kIbe: ibe_ = value; break;
    case kIev: iev_ = value; break;
    case kIm: im_ = value; break;
    case kIcr: ris_ &= ~(value & ~is_); break;
    case kAfsel: afsel_ = committed(afsel_, value); break;
    case kDr2r: dr2r_ = value; dr4r_ &= ~value; dr8r_ &= ~value; break;
    case kDr4r: dr4r_ = value; dr2r_ &= ~value; dr8r_ &= ~value; break;
    case kDr8r: dr8r_ = value; dr2r_ &= ~value; dr4r_ &= ~value; break;
    case kOdr: odr_ = value; break;
    case kPur: pur_ = committed(pur_, value); pdr_ &= ~(value & cr_); break;
    case kPdr: pdr_ = committed(pdr_, value); pur_ &= ~(value & cr_); break;
    case kSlr: slr_ = value; break;
    case kDen: den_ = committed(den_, value); break;
    case kLock: locked_ = value != kUnlockKey; break;
    case kCr:
      if (!locked_) {
        cr_ = value;
      }
      break;
    case kAmsel: amsel_ = value; break;
    case kPctl: pctl_ = value; break;
    case kAdcCtl: adcctl_ = value; break;
    case kDmaCtl: dmactl_ = value; break;
    default: unknownRegister(offset, "write");
  }
  update();
}

void PinDriver::start() {
  for (const PinChange& change : changes_) {
    board_.schedule(change.at, this, change.pin.unit(), static_cast<uint64_t>(change.state));
  }
}

void PinDriver::onEvent(uint32_t unit, uint64_t state) {
  board_.gpio(unit / 8).drive(unit % 8, static_cast<PinState>(state));
}

}  // namespace sim
