// UART.
#pragma once

#include <cstdint>

inline constexpr uint32_t UART_CONFIG_WLEN_8 = 0x60;
inline constexpr uint32_t UART_CONFIG_WLEN_7 = 0x40;
inline constexpr uint32_t UART_CONFIG_WLEN_6 = 0x20;
inline constexpr uint32_t UART_CONFIG_WLEN_5 = 0x00;
inline constexpr uint32_t UART_CONFIG_STOP_ONE = 0x00;
inline constexpr uint32_t UART_CONFIG_STOP_TWO = 0x08;
inline constexpr uint32_t UART_CONFIG_PAR_NONE = 0x00;
inline constexpr uint32_t UART_CONFIG_PAR_EVEN = 0x06;
inline constexpr uint32_t UART_CONFIG_PAR_ODD = 0x02;

inline constexpr uint32_t UART_INT_RX = 0x010;
inline constexpr uint32_t UART_INT_TX = 0x020;
inline constexpr uint32_t UART_INT_RT = 0x040;
inline constexpr uint32_t UART_INT_FE = 0x080;
inline constexpr uint32_t UART_INT_PE = 0x100;
inline constexpr uint32_t UART_INT_BE = 0x200;
inline constexpr uint32_t UART_INT_OE = 0x400;

// Receive and transmit FIFO levels for UARTFIFOLevelSet (eighths).
inline constexpr uint32_t UART_FIFO_TX1_8 = 0x00;
inline constexpr uint32_t UART_FIFO_TX4_8 = 0x02;
inline constexpr uint32_t UART_FIFO_RX1_8 = 0x00;
inline constexpr uint32_t UART_FIFO_RX2_8 = 0x08;
inline constexpr uint32_t UART_FIFO_RX4_8 = 0x10;
inline constexpr uint32_t UART_FIFO_RX6_8 = 0x18;
inline constexpr uint32_t UART_FIFO_RX7_8 = 0x20;

// Disables the UART, sets baud rate and frame, enables it with its FIFOs.
void UARTConfigSetExpClk(uint32_t base, uint32_t clock, uint32_t baud, uint32_t config);
void UARTEnable(uint32_t base);
void UARTDisable(uint32_t base);
void UARTFIFOEnable(uint32_t base);
void UARTFIFODisable(uint32_t base);
void UARTFIFOLevelSet(uint32_t base, uint32_t txLevel, uint32_t rxLevel);
[[nodiscard]] bool UARTCharsAvail(uint32_t base);
[[nodiscard]] bool UARTSpaceAvail(uint32_t base);
[[nodiscard]] bool UARTBusy(uint32_t base);
// Blocks until a character arrives.
[[nodiscard]] int32_t UARTCharGet(uint32_t base);
// -1 when no character waits.
[[nodiscard]] int32_t UARTCharGetNonBlocking(uint32_t base);
// Blocks until the transmit FIFO has room.
void UARTCharPut(uint32_t base, unsigned char data);
// false, and the character dropped, when the transmit FIFO is full.
bool UARTCharPutNonBlocking(uint32_t base, unsigned char data);
void UARTIntRegister(uint32_t base, void (*handler)());
void UARTIntEnable(uint32_t base, uint32_t flags);
void UARTIntDisable(uint32_t base, uint32_t flags);
[[nodiscard]] uint32_t UARTIntStatus(uint32_t base, bool masked);
void UARTIntClear(uint32_t base, uint32_t flags);
