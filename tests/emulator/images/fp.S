@ The FP context: lazy stacking (FPCCR.LSPEN, at reset) and CPACR at every
@ FP instruction, one case per define.
#include "common.inc"
        .thumb_func
reset:
        load32 r0, CPACR
        mov r1, #0x00F00000
        str r1, [r0]
#if defined(LAZY)
@ Ends with r0 = s0 after the return, r1 = FPCCR in the handler before its
@ first FP instruction, r2 = FPCAR less the handler's SP, r3 = FPCCR after
@ that instruction.
        mov r0, #0x3F800000          @ 1.0
        vmov s0, r0
        load32 r0, ISER0
        movs r1, #1
        str r1, [r0]
        load32 r0, STIR
        movs r1, #0
        str r1, [r0]
        b 1f
1:      vmov r0, s0
        mov r1, r4
        mov r2, r5
        mov r3, r6
#elif defined(SWITCHED_OFF)
        vmov s0, r0
        movs r1, #0
        str r1, [r0]                 @ CPACR back to no access
        b 1f
1:      movs r2, #1
switched_off:
        vmov s1, r0
#endif
        finish

        .thumb_func
irq0:
        load32 r0, FPCCR
        ldr r4, [r0]
        load32 r1, FPCAR
        ldr r5, [r1]
        mov r1, sp
        subs r5, r5, r1
        b 2f                         @ the state is stored at the start of the block with the FP instruction
2:      mov r1, #0x40000000          @ 2.0
        vmov s0, r1
        ldr r6, [r0]
        bx lr
