// General-purpose timers, used full width (32 bits).
#pragma once

#include <cstdint>

// Configuration words: bits 31:24 GPTMCFG, bits 7:0 GPTMTAMR, bits 15:8 GPTMTBMR.
inline constexpr uint32_t TIMER_CFG_ONE_SHOT = 0x00000021;
inline constexpr uint32_t TIMER_CFG_PERIODIC = 0x00000022;

inline constexpr uint32_t TIMER_A = 0x000000FF;
inline constexpr uint32_t TIMER_B = 0x0000FF00;
inline constexpr uint32_t TIMER_BOTH = 0x0000FFFF;

inline constexpr uint32_t TIMER_TIMA_TIMEOUT = 0x00000001;
inline constexpr uint32_t TIMER_TIMB_TIMEOUT = 0x00000100;

void TimerConfigure(uint32_t base, uint32_t config);
void TimerLoadSet(uint32_t base, uint32_t timer, uint32_t value);
[[nodiscard]] uint32_t TimerLoadGet(uint32_t base, uint32_t timer);
void TimerEnable(uint32_t base, uint32_t timer);
void TimerDisable(uint32_t base, uint32_t timer);
[[nodiscard]] uint32_t TimerValueGet(uint32_t base, uint32_t timer);
void TimerIntRegister(uint32_t base, uint32_t timer, void (*handler)());
void TimerIntEnable(uint32_t base, uint32_t flags);
void TimerIntDisable(uint32_t base, uint32_t flags);
[[nodiscard]] uint32_t TimerIntStatus(uint32_t base, bool masked);
void TimerIntClear(uint32_t base, uint32_t flags);
