@ BASEPRI, BASEPRI_MAX and FAULTMASK against pending interrupts: irq0 at
@ priority 0x80, irq1 at 0x20, each counting its runs in r4 and r5.
@ Ends with r0 = irq0's runs and r1 = irq1's runs under BASEPRI 0x40,
@ r2 = BASEPRI after a BASEPRI_MAX write of 0x60, r3 = irq1's runs after a
@ request under FAULTMASK.
#include "common.inc"
        .thumb_func
reset:
        movs r4, #0
        movs r5, #0
        load32 r0, IPR0
        load32 r1, 0x00002080
        str r1, [r0]
        load32 r0, ISER0
        movs r1, #3
        str r1, [r0]
        movs r0, #0x40
        msr basepri, r0
        load32 r6, STIR
        movs r1, #0
        str r1, [r6]
        movs r1, #1
        str r1, [r6]
        b 1f
1:      mov r0, r4
        mov r1, r5
        movs r2, #0x60
        msr basepri_max, r2
        mrs r2, basepri
        cpsid f
        movs r3, #1
        str r3, [r6]
        b 2f
2:      mov r3, r5
        finish

        .thumb_func
irq0:
        adds r4, #1
        bx lr

        .thumb_func
irq1:
        adds r5, #1
        bx lr
