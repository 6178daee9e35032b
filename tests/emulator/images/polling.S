@ The idle jump: a loop that reads one register and sees the same value
@ waits for an event, unless its registers change (it counts). COUNTS
@ ends with r2 = 1 after 1000 reads of CPUID; WAITS never ends.
#include "common.inc"
        .thumb_func
reset:
        load32 r0, 0xE000ED00        @ CPUID
#if defined(COUNTS)
        movw r4, #1000
1:      ldr r1, [r0]
        subs r4, #1
        bne 1b
        movs r2, #1
        finish
#else
1:      ldr r1, [r0]
        cmp r1, #0
        bne 1b
        finish
#endif
