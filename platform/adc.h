// Analogue-to-digital converter, sample sequencers.
#pragma once

#include <cstdint>

inline constexpr uint32_t ADC_TRIGGER_PROCESSOR = 0x0;
inline constexpr uint32_t ADC_TRIGGER_ALWAYS = 0xF;

// Step configuration: channel in bits 3:0, then the step control nibble.
inline constexpr uint32_t ADC_CTL_CH0 = 0x00;
inline constexpr uint32_t ADC_CTL_CH1 = 0x01;
inline constexpr uint32_t ADC_CTL_CH2 = 0x02;
inline constexpr uint32_t ADC_CTL_CH3 = 0x03;
inline constexpr uint32_t ADC_CTL_D = 0x10;
inline constexpr uint32_t ADC_CTL_END = 0x20;
inline constexpr uint32_t ADC_CTL_IE = 0x40;
inline constexpr uint32_t ADC_CTL_TS = 0x80;

void ADCSequenceConfigure(uint32_t base, uint32_t sequencer, uint32_t trigger, uint32_t priority);
void ADCSequenceStepConfigure(uint32_t base, uint32_t sequencer, uint32_t step, uint32_t config);
void ADCSequenceEnable(uint32_t base, uint32_t sequencer);
void ADCSequenceDisable(uint32_t base, uint32_t sequencer);
void ADCProcessorTrigger(uint32_t base, uint32_t sequencer);
// Raw status with masked false: non-zero once the sequence is done.
[[nodiscard]] uint32_t ADCIntStatus(uint32_t base, uint32_t sequencer, bool masked);
void ADCIntClear(uint32_t base, uint32_t sequencer);
// Copies the sequencer's samples into buffer; returns how many.
int32_t ADCSequenceDataGet(uint32_t base, uint32_t sequencer, uint32_t* buffer);
