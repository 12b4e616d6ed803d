/*
 * Minimal start-up for the Cortex-M7 test image: vector table, copy of the
 * initialised data, zeroed bss, FPU access, static constructors, main, and a
 * fault handler that reports through semihosting instead of hanging.
 */
#include <stdint.h>
#include <string.h>

#include "semihosting.h"

extern uint32_t __data_load[], __data_start[], __data_end[];
extern uint32_t __bss_start[], __bss_end[];
extern uint32_t __stack_top[];
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);

int main(void);

#define SCB_CPACR (*(volatile uint32_t *)0xE000ED88u)
#define SCB_CFSR (*(volatile uint32_t *)0xE000ED28u)

void Reset_Handler(void) __attribute__((noreturn));
void Fault_Handler(void) __attribute__((noreturn));

void Reset_Handler(void)
{
    /* Full access to coprocessors 10 and 11 (the FPU) before any float code. */
    SCB_CPACR |= (0xFu << 20);
    __asm__ volatile("dsb\n\tisb" ::: "memory");

    memcpy(__data_start, __data_load, (size_t)((char *)__data_end - (char *)__data_start));
    memset(__bss_start, 0, (size_t)((char *)__bss_end - (char *)__bss_start));

    for (void (**init)(void) = __init_array_start; init < __init_array_end; ++init)
        (*init)();

    semihost_exit(main());
}

void Fault_Handler(void)
{
    semihost_print("FAULT: CFSR=");
    semihost_print_u32(SCB_CFSR);
    semihost_print("\n");
    semihost_exit(1);
}

/* Initial stack pointer, reset, then NMI, hard, memory, bus and usage
 * faults; the remaining system vectors are not used by the test image. */
__attribute__((section(".vectors"), used)) static void *const vector_table[16] = {
    __stack_top,
    (void *)Reset_Handler,
    (void *)Fault_Handler,
    (void *)Fault_Handler,
    (void *)Fault_Handler,
    (void *)Fault_Handler,
    (void *)Fault_Handler,
    0,
    0,
    0,
    0,
    (void *)Fault_Handler,
    0,
    0,
    (void *)Fault_Handler,
    (void *)Fault_Handler,
};
