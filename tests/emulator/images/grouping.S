@ Priority grouping: a handler at 0x40 requests one at 0x20 under AIRCR's
@ PRIGROUP. Ends with r0 = 1 if the request preempted the running
@ handler, r1 = AIRCR as read back.
#include "common.inc"
        .thumb_func
reset:
        load32 r0, AIRCR
        load32 r1, (0x05FA0000 | (PRIGROUP << 8))
        str r1, [r0]
        load32 r0, IPR0
        load32 r1, 0x00002040
        str r1, [r0]
        load32 r0, ISER0
        movs r1, #3
        str r1, [r0]
        movs r4, #0
        load32 r6, STIR
        movs r1, #0
        str r1, [r6]
        b 1f
1:      mov r0, r5
        load32 r1, AIRCR
        ldr r1, [r1]
        finish

        .thumb_func
irq0:
        movs r1, #1
        str r1, [r6]
        b 2f
2:      mov r5, r4
        bx lr

        .thumb_func
irq1:
        movs r4, #1
        bx lr
