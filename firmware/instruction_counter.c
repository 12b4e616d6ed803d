#include "instruction_counter.h"

#define TIMER0_CTRL (*(volatile uint32_t *)0x40000000u)
#define TIMER0_VALUE (*(volatile uint32_t *)0x40000004u)
#define TIMER0_RELOAD (*(volatile uint32_t *)0x40000008u)

/* Two instructions per pass (subs, bne): 2 x passes instructions. */
#define CALIBRATION_PASSES 4000000u

static uint32_t instructions_per_kilotick;

static void calibration_loop(uint32_t passes)
{
    __asm__ volatile("1: subs %0, %0, #1\n\t"
                     "bne 1b"
                     : "+r"(passes)
                     :
                     : "cc");
}

uint32_t instruction_counter_ticks(void)
{
    return ~TIMER0_VALUE;
}

uint32_t instruction_counter_start(void)
{
    TIMER0_CTRL = 0u;
    TIMER0_RELOAD = 0xFFFFFFFFu;
    TIMER0_VALUE = 0xFFFFFFFFu;
    TIMER0_CTRL = 1u;
    uint32_t start = instruction_counter_ticks();
    calibration_loop(CALIBRATION_PASSES);
    uint32_t ticks = instruction_counter_ticks() - start;
    if (ticks == 0u)
        ticks = 1u;
    instructions_per_kilotick =
        (uint32_t)((2ull * CALIBRATION_PASSES * 1000ull + ticks / 2u) / ticks);
    return instructions_per_kilotick;
}

uint64_t instruction_counter_elapsed(uint32_t start_ticks, uint32_t end_ticks)
{
    uint64_t ticks = (uint32_t)(end_ticks - start_ticks);
    return (ticks * instructions_per_kilotick + 500u) / 1000u;
}
