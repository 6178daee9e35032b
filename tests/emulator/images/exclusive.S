@ The local monitor: r0 = STREX's status with nothing between LDREX and
@ STREX, r1 = its status with an exception between, r2 = FAULTMASK after
@ a return from a handler that set it, r3 = FAULTMASK in that handler.
#include "common.inc"
        .thumb_func
reset:
        load32 r3, 0x20000100
        ldrex r1, [r3]
        strex r0, r1, [r3]
        ldrex r2, [r3]
        load32 r2, ISER0
        movs r4, #1
        str r4, [r2]
        load32 r2, STIR
        movs r4, #0
        str r4, [r2]
        b 1f
1:      strex r1, r2, [r3]
        mrs r2, faultmask
        mov r3, r5
        finish

        .thumb_func
irq0:
        cpsid f
        mrs r5, faultmask
        bx lr
