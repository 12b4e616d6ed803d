/*
 * Instruction counting on the emulated Cortex-M7. QEMU run with
 * "-icount shift=0" advances its virtual clock by exactly 1 ns per executed
 * instruction; the board's first CMSDK timer counts that clock down at a
 * fixed rate. A calibration loop of known length gives instructions per tick,
 * so timer ticks turn into instruction counts (not cycles).
 */
#ifndef FIRMWARE_INSTRUCTION_COUNTER_H
#define FIRMWARE_INSTRUCTION_COUNTER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the free-running timer and measures instructions per tick;
 * returns the instructions of the calibration loop per 1000 ticks. */
uint32_t instruction_counter_start(void);

/* Current timer reading in ticks, increasing. */
uint32_t instruction_counter_ticks(void);

/* Instructions executed between two tick readings. */
uint64_t instruction_counter_elapsed(uint32_t start_ticks, uint32_t end_ticks);

#ifdef __cplusplus
}
#endif

#endif
