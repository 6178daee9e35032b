@ A handler preempted by a higher priority one, and the return rules:
@ r0 = LR in the inner handler, r1 = the inner handler's IPSR, r2 = 1 once
@ the outer handler went on after it. With BAD_RETURN the inner handler
@ returns with 0xFFFFFFF9 (to thread mode, though the outer is active): an
@ INVPC UsageFault.
#include "common.inc"
        .thumb_func
reset:
        load32 r0, IPR0
        load32 r1, 0x00002080        @ irq0 at 0x80, irq1 at 0x20
        str r1, [r0]
        load32 r0, ISER0
        movs r1, #3
        str r1, [r0]
        load32 r0, STIR
        movs r1, #0
        str r1, [r0]
        b 1f
1:      mov r0, r4
        mov r1, r5
        mov r2, r6
        finish

        .thumb_func
irq0:
        load32 r0, STIR
        movs r1, #1
        str r1, [r0]
        b 2f
2:      movs r6, #1
        bx lr

        .thumb_func
irq1:
        mov r4, lr
        mrs r5, ipsr
#ifdef BAD_RETURN
        load32 lr, 0xFFFFFFF9
#endif
        bx lr
