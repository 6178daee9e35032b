#include "platform/adc.h"

#include "platform/hw.h"
#include "platform/registers.h"

namespace {

using namespace reg::adc;

constexpr unsigned kMaximumSamples = 8;

uint32_t read(uint32_t base, uint32_t offset) { return hw::read32(base + offset); }
void write(uint32_t base, uint32_t offset, uint32_t value) { hw::write32(base + offset, value); }

uint32_t sequencerRegister(uint32_t sequencer, uint32_t offset) {
  return kSequencer0 + kSequencerSpacing * (sequencer & 3U) + offset;
}

void setField(uint32_t base, uint32_t offset, uint32_t shift, uint32_t mask, uint32_t value) {
  write(base, offset, (read(base, offset) & ~(mask << shift)) | ((value & mask) << shift));
}

}  // namespace

void ADCSequenceConfigure(uint32_t base, uint32_t sequencer, uint32_t trigger, uint32_t priority) {
  const uint32_t shift = (sequencer & 3U) * 4;
  setField(base, kEmux, shift, 0xFU, trigger);
  setField(base, kSspri, shift, 0x3U, priority);
}

void ADCSequenceStepConfigure(uint32_t base, uint32_t sequencer, uint32_t step, uint32_t config) {
  const uint32_t shift = (step & 7U) * 4;
  setField(base, sequencerRegister(sequencer, kSsMux), shift, 0xFU, config);
  setField(base, sequencerRegister(sequencer, kSsCtl), shift, 0xFU, config >> 4);
}

void ADCSequenceEnable(uint32_t base, uint32_t sequencer) {
  write(base, kActss, read(base, kActss) | (1U << (sequencer & 3U)));
}

void ADCSequenceDisable(uint32_t base, uint32_t sequencer) {
  write(base, kActss, read(base, kActss) & ~(1U << (sequencer & 3U)));
}

void ADCProcessorTrigger(uint32_t base, uint32_t sequencer) {
  write(base, kPssi, 1U << (sequencer & 3U));
}

uint32_t ADCIntStatus(uint32_t base, uint32_t sequencer, bool masked) {
  return read(base, masked ? kIsc : kRis) & (1U << (sequencer & 3U));
}

void ADCIntClear(uint32_t base, uint32_t sequencer) { write(base, kIsc, 1U << (sequencer & 3U)); }

int32_t ADCSequenceDataGet(uint32_t base, uint32_t sequencer, uint32_t* buffer) {
  int32_t count = 0;
  while ((read(base, sequencerRegister(sequencer, kSsFifoStatus)) & kFifoEmpty) == 0 &&
         count < static_cast<int32_t>(kMaximumSamples)) {
    *buffer++ = read(base, sequencerRegister(sequencer, kSsFifo));
    ++count;
  }
  return count;
}
