@ Cycles by instruction class, counted by SysTick on the processor clock:
@ each measurement is a block of its own between two reads of CVR, less
@ the same with nothing between. At 16 MHz, or with FAST at 50 MHz from
@ the PLL (the flash then behind its prefetch buffer). Ends with r0 = a
@ 100-pass SUBS/BNE loop, r1 = a 100-pass loop of 20 bytes, r2 = LDRD,
@ PUSH {r4-r7} and POP {r4-r7}, r3 = VDIV.F32 and VSQRT.F32.
#include "common.inc"
        .macro start
        ldr r1, [r0]
        b 8f
8:
        .endm
        .macro stop result, baseline=r6
        b 9f
9:      ldr r2, [r0]
        b 7f                         @ the same block after every measurement
7:      subs \result, r1, r2
        subs \result, \result, \baseline
        .endm
        .thumb_func
reset:
        load32 r0, CPACR
        mov r1, #0x00F00000
        str r1, [r0]
#if defined(FAST)
        load32 r0, 0x400FE060        @ RCC
        load32 r1, (3 << 23) | (1 << 22) | (0x15 << 6) | (1 << 11)  @ SYSDIV /4, USESYSDIV, 16 MHz crystal, BYPASS
        str r1, [r0]
        load32 r2, 0x400FE050        @ RIS
1:      ldr r3, [r2]
        tst r3, #0x40                @ PLLLRIS
        beq 1b
        bic r1, r1, #(1 << 11)
        str r1, [r0]                 @ 200 MHz PLL / 4
#endif
        load32 r0, SYST_RVR
        load32 r1, 0x00FFFFFF
        str r1, [r0]
        load32 r0, SYST_CSR
        movs r1, #5                  @ ENABLE, CLKSOURCE: the processor clock
        str r1, [r0]
        load32 r0, SYST_CVR
        movs r5, #0
        start
        stop r6, r5                  @ the cost of measuring
        start
        movs r4, #100
3:      subs r4, #1
        bne 3b
        stop r7
        start
        movs r4, #100
4:      subs r4, #1
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        bne 4b
        stop r8
        load32 r3, 0x20000100
        start
        ldrd r4, r5, [r3]
        push {r4-r7}
        pop {r4-r7}
        stop r9
        vmov s1, r1
        start
        vdiv.f32 s0, s1, s1
        vsqrt.f32 s2, s1
        stop r10
        mov r0, r7
        mov r1, r8
        mov r2, r9
        mov r3, r10
        finish
