// Serial helpers of the SMS driver, over the UART and timer chosen at build
// time (default UART4, where the board's modem sits, and TIMER2).
#pragma once

#include <cstdint>

// A character wait ends after this long without a character. Longer than
// any pause inside one modem reply, including the modem's time to read a
// stored message before it answers.
inline constexpr uint32_t kCharacterTimeoutMs = 500;

// Sets up the UART at 9600 baud 8N1 with its pins, and the timer; before
// any other call.
void UART_Init();
// The text's characters, without its zero, in order.
void UART_SendStr(const unsigned char* text);
void UART_SendChar(unsigned char character);
// The next character from the modem, or 0 when none came within the time-out
// (a zero byte on the line is dropped).
void UART_RecCharwTimeOut(unsigned char* character);
// Drops what the modem sent and nobody read, so that a late answer is not
// taken for the reply to the next command.
void UART_Discard();
