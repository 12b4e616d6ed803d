/*
 * veldra: two-microphone beamforming for a microcontroller.
 *
 * Turns the PDM bit streams (or 16 kHz PCM) of two digital microphones into
 * one directional 16 kHz, 16-bit signal, optionally refined by an adaptive
 * stage and a denoiser. The caller owns all memory and scheduling:
 *
 *   Veldra_getMemorySize(&h);            h.algorithm_type set first
 *   h.internal_memory = <block of h.internal_memory_size bytes, 4-aligned>;
 *   Veldra_Init(&h);
 *   Veldra_setConfig(&h, &cfg);
 *   every millisecond:  if (Veldra_FirstStep(m1, m2, out, &h)) signal worker;
 *   in the worker:      Veldra_SecondStep(&h);
 *
 * Every entry point returns an unsigned 32-bit result: a mask of
 * VELDRA_ERR_* bits for Init and setConfig (a bad value is replaced by its
 * default and reported), 1/0 for FirstStep (block complete or not).
 */
#ifndef VELDRA_H
#define VELDRA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Algorithm types: the largest chain the block must hold (handle) and the
 * chain to run (configuration). */
#define VELDRA_TYPE_CARDIOID 0u         /* front beam copied to the output */
#define VELDRA_TYPE_CARDIOID_DENOISE 1u /* front beam, then the denoiser */
#define VELDRA_TYPE_ADAPTIVE 2u         /* front minus adapted rear beam */
#define VELDRA_TYPE_ADAPTIVE_DENOISE 3u /* adaptive stage, then denoiser */

/* Input formats (VeldraHandle.data_format). */
#define VELDRA_FORMAT_PDM 0u
#define VELDRA_FORMAT_PCM 1u

/* Content of output channel 1 (VeldraHandle.second_output). */
#define VELDRA_SECOND_OUTPUT_NONE 0u
#define VELDRA_SECOND_OUTPUT_MIC1 1u
#define VELDRA_SECOND_OUTPUT_REAR 7u

/* Error bits; several may be set at once. */
#define VELDRA_ERR_TYPE 0x01u          /* type above 3, or not held by the block */
#define VELDRA_ERR_CHANNELS 0x02u      /* a channel stride was 0 */
#define VELDRA_ERR_FORMAT 0x04u        /* data_format above 1 */
#define VELDRA_ERR_FREQUENCY 0x08u     /* sampling_frequency not supported */
#define VELDRA_ERR_GAIN 0x10u          /* mic2_gain negative or not a number */
#define VELDRA_ERR_DISTANCE 0x20u      /* mic_distance outside the mode's range */
#define VELDRA_ERR_SECOND_OUTPUT 0x40u /* second_output not 0, 1 or 7 */
#define VELDRA_ERR_DELAY 0x80u         /* PDM input with delay_enable 0 */
#define VELDRA_ERR_NOT_READY 0x100u    /* SecondStep with no block waiting */
#define VELDRA_ERR_MEMORY                                                                          \
    0x200u /* Init: no block, or internal_memory_size                                              \
               below what algorithm_type needs;                                                    \
               the block is left untouched */

/* Filled by the caller, passed to every entry point. */
typedef struct {
    uint32_t data_format;          /* 0 = PDM, 1 = PCM (16 kHz, signed 16-bit) */
    uint32_t sampling_frequency;   /* kHz: PDM clock 256, 384, 512, 768, 1024,
                                      1280, 2048; or 16 for PCM */
    uint8_t mic1_channels;         /* input stride of microphone 1 (PDM: bytes,
                                      PCM: samples) */
    uint8_t mic2_channels;         /* input stride of microphone 2 */
    uint8_t out_channels;          /* output stride in samples */
    uint8_t algorithm_type;        /* largest chain the block must hold, 0..3 */
    uint32_t second_output;        /* output channel 1: 0 nothing, 1 microphone 1
                                      PCM, 7 rear beam */
    uint8_t delay_enable;          /* 0 = no delay line (PCM input only) */
    uint32_t internal_memory_size; /* written by Veldra_getMemorySize */
    void *internal_memory;         /* caller's block, 4-byte aligned, at least
                                      internal_memory_size bytes */
} VeldraHandle;

/* Run-time settings. */
typedef struct {
    uint16_t mic_distance;   /* microphone spacing in 0.1 mm, 1..212 */
    uint32_t algorithm_type; /* 0..3; 0, the Init type, or any when Init had 3 */
    uint8_t volume;          /* decimation gain in dB, 0..51 */
    float mic2_gain;         /* linear gain of microphone 2; 0 = automatic */
} VeldraConfig;

/* Writes the block size needed for handle->algorithm_type into
 * internal_memory_size; returns 0. */
uint32_t Veldra_getMemorySize(VeldraHandle *handle);

/* Zeroes and carves the block, validates the handle; returns error bits.
 * Refuses (VELDRA_ERR_MEMORY alone, block untouched) a missing block or one
 * smaller than Veldra_getMemorySize reports for algorithm_type. */
uint32_t Veldra_Init(VeldraHandle *handle);

/* Applies a configuration; returns error bits. */
uint32_t Veldra_setConfig(VeldraHandle *handle, const VeldraConfig *config);

/* Reports the current configuration (mic2_gain: the estimate when
 * automatic); returns 0. */
uint32_t Veldra_getConfig(VeldraHandle *handle, VeldraConfig *config);
uint32_t libBeamforming_getConfig(VeldraHandle *handle, VeldraConfig *config);

/* One millisecond: mic1/mic2 hold sampling_frequency / 8 PDM bytes (or 16
 * PCM samples) at their strides; out receives 16 frames of out_channels
 * samples. Returns 1 when a block of 128 samples is complete. */
uint32_t Veldra_FirstStep(const void *mic1, const void *mic2, int16_t *out, VeldraHandle *handle);

/* Processes the completed block; returns 0, or VELDRA_ERR_NOT_READY. */
uint32_t Veldra_SecondStep(VeldraHandle *handle);

/* Copies the version text with its zero into buffer (at least 17 bytes);
 * returns its length. */
uint32_t Veldra_GetLibVersion(char *buffer);
uint32_t libBeamforming_GetLibVersion(char *buffer);

/*
 * Field mode (opt-in): stages for real microphones and real talkers. The
 * entry points above keep their behaviour unless a block is started with
 * Veldra_InitField:
 *
 *   VeldraFieldOptions o; Veldra_getFieldDefaults(&o);   switch stages
 *   Veldra_getFieldMemorySize(&h);       h.algorithm_type set first
 *   h.internal_memory = <block of h.internal_memory_size bytes, 4-aligned>;
 *   Veldra_InitField(&h, &o);            instead of Veldra_Init
 *   Veldra_setConfig, Veldra_FirstStep, Veldra_SecondStep as before.
 *
 * In field mode the first step decimates both microphones; the second step
 * forms the beams per frequency (256-point transform, 128-sample hop), so
 * channel 0 plays out VELDRA_FIELD_EXTRA_DELAY samples later than in the
 * default mode (384 samples after the input instead of 256). The adaptive
 * types 2 and 3 use the protected null instead of the adaptive filter; the
 * denoiser of types 1 and 3 runs on the field output.
 */
#define VELDRA_ERR_FIELD                                                                           \
    0x1000u /* field options out of range (replaced by                                             \
               defaults) or block smaller than                                                     \
               Veldra_getFieldMemorySize gave (field                                               \
               mode off) */
#define VELDRA_FIELD_EXTRA_DELAY 128u

typedef struct {
    uint8_t decimation;        /* 1: sixth-order comb and compensating FIR,
                                  flat 100 Hz - 7 kHz, no DC offset; 0: the
                                  standard decimation filter. Default 1 */
    uint8_t protected_null;    /* 1 (types 2, 3): adaptive null that is steered
                                  anywhere behind the array but never costs a
                                  source within the front +-60 degrees more than
                                  1 dB (30 degrees) to 2 dB (60 degrees); 0: the
                                  fixed front beam. Default 1 */
    uint8_t postfilter;        /* 1: per-frequency gain from the rear beam,
                                  suppressing talkers and noise behind the array.
                                  Default 1 */
    uint8_t calibration;       /* 1: second-microphone gain estimated both ways
                                  (0.5..2) when mic2_gain is 0, on-axis response
                                  flat, blended toward microphone 1 at low
                                  frequencies; 0: the standard equaliser and
                                  the configured gain (1.0 when automatic).
                                  Default 1 */
    float postfilter_floor_db; /* lowest post-filter gain, -40..0 dB; default -30
                                  (10 dB deeper where the output leans on
                                  microphone 1) */
} VeldraFieldOptions;

/* Writes the defaults (every stage on) into options; returns 0. */
uint32_t Veldra_getFieldDefaults(VeldraFieldOptions *options);

/* Writes the block size for handle->algorithm_type in field mode (the
 * default size plus the field region) into internal_memory_size;
 * returns 0. */
uint32_t Veldra_getFieldMemorySize(VeldraHandle *handle);

/* Veldra_Init, then starts field mode with the options; returns the error
 * bits of Veldra_Init plus VELDRA_ERR_FIELD (see there). */
uint32_t Veldra_InitField(VeldraHandle *handle, const VeldraFieldOptions *options);

/* Switches field stages at run time (a block started with Veldra_InitField
 * only); applied at once when configured. Returns 0 or VELDRA_ERR_FIELD. */
uint32_t Veldra_setFieldOptions(VeldraHandle *handle, const VeldraFieldOptions *options);

#ifdef __cplusplus
}
#endif

#endif /* VELDRA_H */
