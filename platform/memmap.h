// Block base addresses and interrupt numbers under the driver library's names.
// Interrupt numbers are vector-table entry numbers (device interrupt + 16).
#pragma once

#include <cstdint>

#include "platform/registers.h"

inline constexpr uint32_t GPIO_PORTA_BASE = reg::gpio::kPortA;
inline constexpr uint32_t GPIO_PORTB_BASE = reg::gpio::kPortB;
inline constexpr uint32_t GPIO_PORTC_BASE = reg::gpio::kPortC;
inline constexpr uint32_t GPIO_PORTD_BASE = reg::gpio::kPortD;
inline constexpr uint32_t GPIO_PORTE_BASE = reg::gpio::kPortE;
inline constexpr uint32_t GPIO_PORTF_BASE = reg::gpio::kPortF;

inline constexpr uint32_t UART0_BASE = 0x4000C000;
inline constexpr uint32_t UART1_BASE = 0x4000D000;
inline constexpr uint32_t UART2_BASE = 0x4000E000;
inline constexpr uint32_t UART3_BASE = 0x4000F000;
inline constexpr uint32_t UART4_BASE = 0x40010000;
inline constexpr uint32_t UART5_BASE = 0x40011000;
inline constexpr uint32_t UART6_BASE = 0x40012000;
inline constexpr uint32_t UART7_BASE = 0x40013000;

inline constexpr uint32_t TIMER0_BASE = 0x40030000;
inline constexpr uint32_t TIMER1_BASE = 0x40031000;
inline constexpr uint32_t TIMER2_BASE = 0x40032000;
inline constexpr uint32_t TIMER3_BASE = 0x40033000;
inline constexpr uint32_t TIMER4_BASE = 0x40034000;
inline constexpr uint32_t TIMER5_BASE = 0x40035000;

inline constexpr uint32_t ADC0_BASE = reg::adc::kAdc0;
inline constexpr uint32_t ADC1_BASE = reg::adc::kAdc1;
inline constexpr uint32_t SYSCTL_BASE = reg::sysctl::kBase;

// Processor exceptions.
inline constexpr uint32_t FAULT_NMI = 2;
inline constexpr uint32_t FAULT_HARD = 3;
inline constexpr uint32_t FAULT_MPU = 4;
inline constexpr uint32_t FAULT_BUS = 5;
inline constexpr uint32_t FAULT_USAGE = 6;
inline constexpr uint32_t FAULT_SVCALL = 11;
inline constexpr uint32_t FAULT_DEBUG = 12;
inline constexpr uint32_t FAULT_PENDSV = 14;
inline constexpr uint32_t FAULT_SYSTICK = 15;

// Device interrupts.
inline constexpr uint32_t INT_GPIOA = 16;
inline constexpr uint32_t INT_GPIOB = 17;
inline constexpr uint32_t INT_GPIOC = 18;
inline constexpr uint32_t INT_GPIOD = 19;
inline constexpr uint32_t INT_GPIOE = 20;
inline constexpr uint32_t INT_UART0 = 21;
inline constexpr uint32_t INT_UART1 = 22;
inline constexpr uint32_t INT_ADC0SS0 = 30;
inline constexpr uint32_t INT_ADC0SS1 = 31;
inline constexpr uint32_t INT_ADC0SS2 = 32;
inline constexpr uint32_t INT_ADC0SS3 = 33;
inline constexpr uint32_t INT_TIMER0A = 35;
inline constexpr uint32_t INT_TIMER0B = 36;
inline constexpr uint32_t INT_TIMER1A = 37;
inline constexpr uint32_t INT_TIMER1B = 38;
inline constexpr uint32_t INT_TIMER2A = 39;
inline constexpr uint32_t INT_TIMER2B = 40;
inline constexpr uint32_t INT_SYSCTL = 44;
inline constexpr uint32_t INT_GPIOF = 46;
inline constexpr uint32_t INT_UART2 = 49;
inline constexpr uint32_t INT_TIMER3A = 51;
inline constexpr uint32_t INT_TIMER3B = 52;
inline constexpr uint32_t INT_UART3 = 75;
inline constexpr uint32_t INT_UART4 = 76;
inline constexpr uint32_t INT_UART5 = 77;
inline constexpr uint32_t INT_UART6 = 78;
inline constexpr uint32_t INT_UART7 = 79;
inline constexpr uint32_t INT_TIMER4A = 86;
inline constexpr uint32_t INT_TIMER4B = 87;
inline constexpr uint32_t INT_TIMER5A = 108;
inline constexpr uint32_t INT_TIMER5B = 109;

namespace platform {

inline constexpr uint32_t kUartBases[] = {UART0_BASE, UART1_BASE, UART2_BASE, UART3_BASE,
                                          UART4_BASE, UART5_BASE, UART6_BASE, UART7_BASE};
inline constexpr uint32_t kUartInterrupts[] = {INT_UART0, INT_UART1, INT_UART2, INT_UART3,
                                               INT_UART4, INT_UART5, INT_UART6, INT_UART7};
inline constexpr uint32_t kGpioInterrupts[] = {INT_GPIOA, INT_GPIOB, INT_GPIOC,
                                               INT_GPIOD, INT_GPIOE, INT_GPIOF};
inline constexpr uint32_t kTimerAInterrupts[] = {INT_TIMER0A, INT_TIMER1A, INT_TIMER2A,
                                                 INT_TIMER3A, INT_TIMER4A, INT_TIMER5A};
inline constexpr uint32_t kTimerBInterrupts[] = {INT_TIMER0B, INT_TIMER1B, INT_TIMER2B,
                                                 INT_TIMER3B, INT_TIMER4B, INT_TIMER5B};

static_assert(UART4_BASE == reg::uart::kUart0 + 4 * reg::uart::kSpacing);
static_assert(TIMER5_BASE == reg::timer::kTimer0 + 5 * reg::timer::kSpacing);

}  // namespace platform
