@ Exception entry from thread mode on the process stack with the FP state
@ live (or, with ASPEN_OFF, FPCCR.ASPEN clear), and the return. Ends with
@ r0 = LR in the handler, r1 = CONTROL in the handler, r2 = PSP in the
@ handler, r3 = CONTROL after the return.
#include "common.inc"
        .thumb_func
reset:
        load32 r0, CPACR
        mov r1, #0x00F00000
        str r1, [r0]
#ifdef ASPEN_OFF
        load32 r0, FPCCR
        movs r1, #0
        str r1, [r0]
#endif
        load32 r0, 0x20004000
        msr psp, r0
        movs r0, #2
        msr control, r0
        isb
        vmov s0, r0
        load32 r0, ISER0
        movs r1, #1
        str r1, [r0]
        load32 r0, STIR
        movs r1, #0
        str r1, [r0]
        b 1f
1:      mrs r3, control
        mov r0, r4
        mov r1, r5
        mov r2, r6
        finish

        .thumb_func
irq0:
        mov r4, lr
        mrs r5, control
        mrs r6, psp
        bx lr
