// System control: clock, peripheral clock gating, busy waits.
#pragma once

#include <cstdint>

// Clock configuration words for SysCtlClockSet: fields laid out as in RCC,
// bit 31 selecting the RCC2 divisors.
inline constexpr uint32_t SYSCTL_SYSDIV_1 = 0x07800000;
inline constexpr uint32_t SYSCTL_SYSDIV_2 = 0x00C00000;
inline constexpr uint32_t SYSCTL_SYSDIV_3 = 0x01400000;
inline constexpr uint32_t SYSCTL_SYSDIV_4 = 0x01C00000;
inline constexpr uint32_t SYSCTL_SYSDIV_5 = 0x02400000;
inline constexpr uint32_t SYSCTL_SYSDIV_8 = 0x03C00000;
inline constexpr uint32_t SYSCTL_SYSDIV_10 = 0x04C00000;
inline constexpr uint32_t SYSCTL_SYSDIV_16 = 0x07C00000;
inline constexpr uint32_t SYSCTL_SYSDIV_2_5 = 0xC1000000;  // 80 MHz from the 400 MHz PLL
inline constexpr uint32_t SYSCTL_USE_PLL = 0x00000000;
inline constexpr uint32_t SYSCTL_USE_OSC = 0x00003800;
inline constexpr uint32_t SYSCTL_OSC_MAIN = 0x00000000;
inline constexpr uint32_t SYSCTL_OSC_INT = 0x00000010;
inline constexpr uint32_t SYSCTL_OSC_INT4 = 0x00000020;
inline constexpr uint32_t SYSCTL_OSC_INT30 = 0x00000030;
inline constexpr uint32_t SYSCTL_XTAL_8MHZ = 0x00000380;
inline constexpr uint32_t SYSCTL_XTAL_10MHZ = 0x00000400;
inline constexpr uint32_t SYSCTL_XTAL_12MHZ = 0x00000440;
inline constexpr uint32_t SYSCTL_XTAL_16MHZ = 0x00000540;
inline constexpr uint32_t SYSCTL_XTAL_25MHZ = 0x00000680;
inline constexpr uint32_t SYSCTL_MAIN_OSC_DIS = 0x00000001;
inline constexpr uint32_t SYSCTL_INT_OSC_DIS = 0x00000002;

// Peripheral codes: 0xF000, the class word index (offset from 0x600) in bits
// 15:8, the bit in bits 7:0.
inline constexpr uint32_t SYSCTL_PERIPH_TIMER0 = 0xF0000400;
inline constexpr uint32_t SYSCTL_PERIPH_TIMER1 = 0xF0000401;
inline constexpr uint32_t SYSCTL_PERIPH_TIMER2 = 0xF0000402;
inline constexpr uint32_t SYSCTL_PERIPH_TIMER3 = 0xF0000403;
inline constexpr uint32_t SYSCTL_PERIPH_TIMER4 = 0xF0000404;
inline constexpr uint32_t SYSCTL_PERIPH_TIMER5 = 0xF0000405;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOA = 0xF0000800;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOB = 0xF0000801;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOC = 0xF0000802;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOD = 0xF0000803;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOE = 0xF0000804;
inline constexpr uint32_t SYSCTL_PERIPH_GPIOF = 0xF0000805;
inline constexpr uint32_t SYSCTL_PERIPH_UART0 = 0xF0001800;
inline constexpr uint32_t SYSCTL_PERIPH_UART1 = 0xF0001801;
inline constexpr uint32_t SYSCTL_PERIPH_UART2 = 0xF0001802;
inline constexpr uint32_t SYSCTL_PERIPH_UART3 = 0xF0001803;
inline constexpr uint32_t SYSCTL_PERIPH_UART4 = 0xF0001804;
inline constexpr uint32_t SYSCTL_PERIPH_UART5 = 0xF0001805;
inline constexpr uint32_t SYSCTL_PERIPH_UART6 = 0xF0001806;
inline constexpr uint32_t SYSCTL_PERIPH_UART7 = 0xF0001807;
inline constexpr uint32_t SYSCTL_PERIPH_ADC0 = 0xF0003800;
inline constexpr uint32_t SYSCTL_PERIPH_ADC1 = 0xF0003801;

void SysCtlClockSet(uint32_t config);
[[nodiscard]] uint32_t SysCtlClockGet();
// Busy-waits count passes of three cycles.
void SysCtlDelay(uint32_t count);
void SysCtlPeripheralEnable(uint32_t peripheral);
void SysCtlPeripheralDisable(uint32_t peripheral);
[[nodiscard]] bool SysCtlPeripheralReady(uint32_t peripheral);
