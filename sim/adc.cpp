#include <string>

#include "platform/registers.h"
#include "sim/board.h"

namespace sim {

namespace {

using namespace reg::adc;

// One sample per microsecond: the converter's full rate.
constexpr Time kConversionTime = microseconds(1);
constexpr unsigned kFirstInterrupt[] = {14, 48};  // sequencer 0 of ADC0 and ADC1
// AIN0 to AIN3 sit on PE3 to PE0.
constexpr unsigned kAnaloguePinOfChannel[] = {3, 2, 1, 0};

enum Event : uint32_t { kConversionDone };

}  // namespace

Adc::Adc(Board& board, unsigned index)
    : Device(board, "ADC" + std::to_string(index), index == 0 ? kAdc0 : kAdc1), index_(index) {
  setClockGate(reg::sysctl::kAdcClass, index);
}

uint16_t Adc::sample(unsigned channel) const {
  if (channel < 4 && !board_.gpio(4).analogue(kAnaloguePinOfChannel[channel])) {
    // The pin is not in analogue mode: nothing reaches the converter.
    return 0;
  }
  return board_.analogue(channel, board_.now());
}

void Adc::trigger(unsigned sequencer) {
  if ((actss_ & (1U << sequencer)) == 0 || busy_[sequencer]) {
    return;
  }
  if (((emux_ >> (sequencer * 4)) & 0xFU) != kTriggerProcessor) {
    return;
  }
  // Steps run until the one marked END; each takes one conversion time.
  unsigned steps = 1;
  while (steps < kDepth[sequencer] && ((ssctl_[sequencer] >> ((steps - 1) * 4)) & kStepEnd) == 0) {
    ++steps;
  }
  busy_[sequencer] = true;
  for (unsigned step = 0; step < steps; ++step) {
    board_.schedule(board_.now() + (step + 1) * kConversionTime, this, kConversionDone,
                    (sequencer << 8) | step | (step + 1 == steps ? 0x10000U : 0U));
  }
}

void Adc::onEvent(uint32_t kind, uint64_t argument) {
  if (kind != kConversionDone) {
    return;
  }
  const unsigned sequencer = (argument >> 8) & 0x3U;
  const unsigned step = argument & 0xFFU;
  const unsigned channel = (ssmux_[sequencer] >> (step * 4)) & 0xFU;
  const unsigned control = (ssctl_[sequencer] >> (step * 4)) & 0xFU;
  if (fifo_[sequencer].size() < kDepth[sequencer]) {
    fifo_[sequencer].push_back(sample(channel));
  } else {
    ostat_ |= 1U << sequencer;
  }
  if ((control & kStepInterrupt) != 0) {
    ris_ |= 1U << sequencer;
  }
  if ((argument & 0x10000U) != 0) {
    busy_[sequencer] = false;
  }
  setLines();
}

void Adc::setLines() {
  for (unsigned sequencer = 0; sequencer < 4; ++sequencer) {
    board_.setLine(kFirstInterrupt[index_] + sequencer, ((ris_ & im_) >> sequencer) & 1U);
  }
}

uint32_t Adc::read(uint32_t offset) {
  if (offset >= kSequencer0 && offset < kSequencer0 + 4 * kSequencerSpacing) {
    const unsigned sequencer = (offset - kSequencer0) / kSequencerSpacing;
    switch ((offset - kSequencer0) % kSequencerSpacing) {
      case kSsMux: return ssmux_[sequencer];
      case kSsCtl: return ssctl_[sequencer];
      case kSsFifo: {
        if (fifo_[sequencer].empty()) {
          ustat_ |= 1U << sequencer;
          return 0;
        }
        const uint16_t value = fifo_[sequencer].front();
        fifo_[sequencer].pop_front();
        board_.markActivity();
        return value;
      }
      case kSsFifoStatus: {
        const size_t count = fifo_[sequencer].size();
        return (count == 0 ? kFifoEmpty : 0U) | (count == kDepth[sequencer] ? kFifoFull : 0U);
      }
      default: break;
    }
  }
  switch (offset) {
    case kActss: return actss_;
    case kRis: return ris_;
    case kIm: return im_;
    case kIsc: return ris_ & im_;
    case kOstat: return ostat_;
    case kEmux: return emux_;
    case kUstat: return ustat_;
    case kSspri: return sspri_;
    case kSac: return sac_;
    case kCtl: return ctl_;
    case kPc: return pc_;
    default: unknownRegister(offset, "read");
  }
}

void Adc::write(uint32_t offset, uint32_t value) {
  if (offset >= kSequencer0 && offset < kSequencer0 + 4 * kSequencerSpacing) {
    const unsigned sequencer = (offset - kSequencer0) / kSequencerSpacing;
    switch ((offset - kSequencer0) % kSequencerSpacing) {
      case kSsMux: ssmux_[sequencer] = value; return;
      case kSsCtl: ssctl_[sequencer] = value; return;
      default: unknownRegister(offset, "write");
    }
  }
  switch (offset) {
    case kActss: actss_ = value & 0xFU; return;
    case kIm: im_ = value & 0xFU; setLines(); return;
    case kIsc: ris_ &= ~(value & 0xFU); setLines(); return;
    case kOstat: ostat_ &= ~value; return;
    case kEmux: emux_ = value; return;
    case kUstat: ustat_ &= ~value; return;
    case kSspri: sspri_ = value & 0x3333U; return;
    case kPssi:
      for (unsigned sequencer = 0; sequencer < 4; ++sequencer) {
        if (((value >> sequencer) & 1U) != 0) {
          trigger(sequencer);
        }
      }
      return;
    case kSac: sac_ = value & 0x7U; return;
    case kCtl: ctl_ = value; return;
    case kPc: pc_ = value & 0xFU; return;
    default: unknownRegister(offset, "write");
  }
}

}  // namespace sim
