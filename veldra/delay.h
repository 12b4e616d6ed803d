// Delay lines of the first step: one PCM sample, or a number of bits of a
// PDM stream (the acoustic travel time across the microphone spacing).
#ifndef VELDRA_DELAY_H
#define VELDRA_DELAY_H

#include <stdint.h>

#include "veldra_internal.h"

// Sets up a bit delay of `bits` on PDM input read at `stride` bytes,
// `bytes_per_call` bytes a call, and picks Delay_2 or Delay_3. `byte_swap`
// is that of the decimation filter reading the same microphone: the delay
// reads the bytes in the filter's time order (with stride 1 and byte swap,
// each 16-bit word's higher-addressed byte first).
void delay_setup_bits(DelayRecord *rec, uint16_t stride, uint16_t bytes_per_call, uint16_t bits,
                      uint16_t byte_swap);

// Sets up the one-sample delay Delay_1 on 16-sample arrays of stride 1.
void delay_setup_sample(DelayRecord *rec);

// Runs the record's bit delay (Delay_2 or Delay_3), which writes the delayed
// bytes contiguously, in time order, into ctrl->pdm_scratch.
void delay_bits(const void *input, VeldraControl *ctrl, DelayRecord *rec);

// Delay_1: in place on 16 samples at rec->stride; position 0 receives the
// last sample of the previous call.
void Delay_1(int16_t *samples, VeldraControl *ctrl, DelayRecord *rec);

// Delay_2: bit delay under 64 bits, 8-byte groups through a 64-bit carry.
void Delay_2(const uint8_t *input, VeldraControl *ctrl, DelayRecord *rec);

// Delay_3: bit delay of any size up to 127 bits, byte by byte with the
// last whole_bytes + 1 input bytes kept between calls.
void Delay_3(const uint8_t *input, VeldraControl *ctrl, DelayRecord *rec);

#endif
