@ The processor's system exceptions and reset, one case per define.
#include "common.inc"
        .equ COUNTER, 0x20000000
        .thumb_func
reset:
#if defined(SYSTICK)
@ 1000 processor clocks a period; ends with r0, r1 = CSR read twice (the
@ first with COUNTFLAG), r2 = the ticks taken, r3 = CVR.
        movs r4, #0
        load32 r0, SYST_RVR
        movw r1, #999
        str r1, [r0]
        load32 r0, SYST_CVR
        str r1, [r0]                 @ any write clears it
        load32 r0, SYST_CSR
        movs r1, #7                  @ ENABLE, TICKINT, CLKSOURCE: the processor clock
        str r1, [r0]
1:      wfi
        cmp r4, #3
        blt 1b
        cpsid i
        ldr r2, [r0]
        ldr r1, [r0]
        mov r0, r2
        mov r2, r4
        load32 r3, SYST_CVR
        ldr r3, [r3]
#elif defined(SVC) || defined(SVC_MASKED)
@ Ends with r0 = the SVC's number as its handler finds it, r1 = its return
@ address, r3 = the instruction after the SVC.
#if defined(SVC_MASKED)
        load32 r0, SHPR2
        mov r1, #0x80000000          @ SVCall at 0x80
        str r1, [r0]
        movs r0, #0x40
        msr basepri, r0
#endif
        svc #5
after_svc:
        mov r0, r4
        mov r1, r5
        load32 r3, after_svc
#elif defined(PENDSV)
@ irq0 (priority 0) pends PendSV (priority 0xE0), which runs after it.
@ Ends with r0 = ICSR in irq0 after the request, r1 = PendSV's runs.
        movs r5, #0
        load32 r0, SHPR3
        mov r1, #0x00E00000
        str r1, [r0]
        load32 r0, ISER0
        movs r1, #1
        str r1, [r0]
        load32 r0, STIR
        movs r1, #0
        str r1, [r0]
        b 1f
1:      mov r0, r4
        mov r1, r5
#elif defined(RESET)
@ A count of starts kept in RAM across resets: AIRCR without its key does
@ nothing, with it SYSRESETREQ starts again from the vector table. Ends at
@ the third start with r0 = 3, r1 = the SP it started with.
        mov r1, sp
        load32 r2, COUNTER
        ldr r0, [r2]
        lsrs r3, r0, #16
        movw r4, #0xC0DE
        cmp r3, r4
        beq 1f
        lsls r0, r4, #16             @ the first start: RAM holds the stack paint
1:      adds r0, #1
        str r0, [r2]
        uxth r0, r0
        cmp r0, #3
        bge 2f
        load32 r3, 0x20001000
        mov sp, r3                   @ a reset must not keep this
        load32 r2, AIRCR
        movs r3, #4
        str r3, [r2]                 @ no VECTKEY: ignored
        load32 r3, 0x05FA0004
        str r3, [r2]
        dsb
        b .
2:
#endif
        finish

        .thumb_func
sys_tick:
        adds r4, #1
        bx lr

        .thumb_func
svc:
        ldr r5, [sp, #24]            @ the return address
        ldrh r4, [r5, #-2]           @ the SVC instruction
        uxtb r4, r4
        bx lr

        .thumb_func
irq0:
        load32 r0, ICSR
        mov r1, #(1 << 28)           @ PENDSVSET
        str r1, [r0]
        ldr r4, [r0]
        bx lr

        .thumb_func
pend_sv:
        adds r5, #1
        bx lr

        .thumb_func
hard_fault:
        load32 r0, HFSR
        ldr r0, [r0]
        movs r1, #0xFF
        finish
