@ Faults taken as the architecture takes them. One case per define; each
@ fault handler ends with r0 = HFSR, r1 = CFSR, r2 = the stacked PC and
@ r3 = where the fault was expected.
#include "common.inc"
        .weak fault_at
reset_address:
        .thumb_func
reset:
#if defined(UNALIGNED_LDRD) || defined(UNALIGNED_LDM) || defined(UNALIGNED_LITERAL) || defined(IT_SKIPPED) || \
    defined(UNALIGNED_LDREX)
        load32 r0, SHCSR
        mov r1, #(1 << 18)           @ USGFAULTENA
        str r1, [r0]
        load32 r3, 0x20000100
        movs r0, #0
#endif
#if defined(UNALIGNED_LDRD)
        adds r3, #2
        b 1f
1:      movs r0, #1                  @ runs before the fault: not at the block's start
fault_at:
        ldrd r0, r1, [r3]
#elif defined(UNALIGNED_LITERAL)
        ldr r3, =0x20000102          @ the base from the literal pool
fault_at:
        strd r0, r1, [r3]
        b 1f
        .ltorg
1:
#elif defined(UNALIGNED_LDREX)
        adds r3, #2
fault_at:
        ldrex r0, [r3]
#elif defined(IT_SKIPPED)
        adds r3, #2
        cmp r0, r0
        it ne
        ldrdne r0, r1, [r3]          @ not run: no fault
        movs r0, #7
#elif defined(UNALIGNED_LDM)
        adds r3, #2                  @ the base changes within the block
fault_at:
        ldm r3, {r0, r1}
#elif defined(EVEN_VECTOR)
        load32 r0, ISER0
        movs r1, #1
        str r1, [r0]
        load32 r0, STIR
        movs r1, #0
        str r1, [r0]
        b .
#elif defined(NOCP_UNPRIVILEGED)
        load32 r0, CPACR
        mov r1, #0x00500000          @ CP10 and CP11: privileged access only
        str r1, [r0]
        vmov s0, r0                  @ privileged: allowed
        movs r0, #1
        msr control, r0              @ unprivileged from here
        isb
        b 1f
1:
fault_at:
        vmov s1, r0
#elif defined(NOT_READY)
        load32 r0, 0x400FE608        @ RCGCGPIO
        movs r1, #0x20               @ port F
        str r1, [r0]
fault_at:
        load32 r2, 0x400253FC        @ GPIODATA, all pins
        ldr r2, [r2]
#elif defined(READY)
        load32 r0, 0x400FE608
        movs r1, #0x20
        str r1, [r0]
        load32 r0, 0x400FEA08        @ PRGPIO
1:      ldr r1, [r0]
        tst r1, #0x20
        beq 1b
        load32 r2, 0x400253FC
        ldr r2, [r2]
        movs r0, #7
#elif defined(BUS_FAULT)
        load32 r0, SHCSR
        mov r1, #(1 << 17)           @ BUSFAULTENA
        str r1, [r0]
        load32 r1, 0x60000000        @ nothing there
        movs r0, #1
fault_at:
        ldr r2, [r1, #4]
        movs r0, #2
#elif defined(EXECUTE_NEVER)
        load32 r0, SHCSR
        mov r1, #(1 << 16)           @ MEMFAULTENA
        str r1, [r0]
        load32 r0, 0x40000001        @ the peripheral region is execute-never
        bx r0
#elif defined(LOCKUP_IN_HARD_FAULT)
        udf #2                       @ to HardFault, which faults again
#endif
        finish

#if defined(EVEN_VECTOR)
irq0:                                @ no .thumb_func: the entry's bit 0 is clear
        nop
#endif

        .thumb_func
hard_fault:
#if defined(LOCKUP_IN_HARD_FAULT)
        udf #1
#endif
        ldr r2, [sp, #24]
        load32 r0, HFSR
        ldr r0, [r0]
        load32 r1, CFSR
        ldr r1, [r1]
#if defined(EVEN_VECTOR)
        load32 r3, irq0
#elif defined(EVEN_RESET)
        load32 r3, reset
#else
        load32 r3, fault_at
#endif
        finish

        .thumb_func
usage_fault:
        ldr r2, [sp, #24]
        movs r0, #0
        load32 r1, CFSR
        ldr r1, [r1]
        load32 r3, fault_at
        finish

        .thumb_func
mem_manage:
        ldr r2, [sp, #24]
        movs r0, #0
        load32 r1, CFSR
        ldr r1, [r1]
        load32 r3, 0x40000000
        finish

        .thumb_func
bus_fault:
        ldr r2, [sp, #24]
        load32 r0, 0xE000ED38        @ BFAR
        ldr r0, [r0]
        load32 r1, CFSR
        ldr r1, [r1]
        load32 r3, fault_at
        finish
