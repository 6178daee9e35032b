// The camera link's one-shot time-out on TIMER0, counting processor clock
// cycles: 1000000000 is 20 s at 50 MHz, 62.5 s at 16 MHz, longer than the
// camera's slowest reply.
#pragma once

#include <cstdint>

void TIMER0_SetTimer(uint32_t cycles);
// Non-zero once the armed time has run out.
unsigned char TIMER0_CheckTimeout();
void TIMER0_DisableTimer();
