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
#define VELDRA_TYPE_CARDIOID          0u /* front beam copied to the output */
#define VELDRA_TYPE_CARDIOID_DENOISE  1u /* front beam, then the denoiser */
#define VELDRA_TYPE_ADAPTIVE          2u /* front minus adapted rear beam */
#define VELDRA_TYPE_ADAPTIVE_DENOISE  3u /* adaptive stage, then denoiser */

/* Input formats (VeldraHandle.data_format). */
#define VELDRA_FORMAT_PDM 0u
#define VELDRA_FORMAT_PCM 1u

/* Content of output channel 1 (VeldraHandle.second_output). */
#define VELDRA_SECOND_OUTPUT_NONE 0u
#define VELDRA_SECOND_OUTPUT_MIC1 1u
#define VELDRA_SECOND_OUTPUT_REAR 7u

/* Error bits; several may be set at once. */
#define VELDRA_ERR_TYPE           0x01u  /* type above 3, or not held by the block */
#define VELDRA_ERR_CHANNELS       0x02u  /* a channel stride was 0 */
#define VELDRA_ERR_FORMAT         0x04u  /* data_format above 1 */
#define VELDRA_ERR_FREQUENCY      0x08u  /* sampling_frequency not supported */
#define VELDRA_ERR_GAIN           0x10u  /* mic2_gain negative or not a number */
#define VELDRA_ERR_DISTANCE       0x20u  /* mic_distance outside the mode's range */
#define VELDRA_ERR_SECOND_OUTPUT  0x40u  /* second_output not 0, 1 or 7 */
#define VELDRA_ERR_DELAY          0x80u  /* PDM input with delay_enable 0 */
#define VELDRA_ERR_NOT_READY      0x100u /* SecondStep with no block waiting */
#define VELDRA_ERR_MEMORY         0x200u /* Init: no block, or internal_memory_size
                                             below what algorithm_type needs;
                                             the block is left untouched */

/* Filled by the caller, passed to every entry point. */
typedef struct {
  uint32_t data_format;        /* 0 = PDM, 1 = PCM (16 kHz, signed 16-bit) */
  uint32_t sampling_frequency; /* kHz: PDM clock 256, 384, 512, 768, 1024,
                                  1280, 2048; or 16 for PCM */
  uint8_t mic1_channels;       /* input stride of microphone 1 (PDM: bytes,
                                  PCM: samples) */
  uint8_t mic2_channels;       /* input stride of microphone 2 */
  uint8_t out_channels;        /* output stride in samples */
  uint8_t algorithm_type;      /* largest chain the block must hold, 0..3 */
  uint32_t second_output;      /* output channel 1: 0 nothing, 1 microphone 1
                                  PCM, 7 rear beam */
  uint8_t delay_enable;        /* 0 = no delay line (PCM input only) */
  uint32_t internal_memory_size; /* written by Veldra_getMemorySize */
  void *internal_memory;       /* caller's block, 4-byte aligned, at least
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
uint32_t Veldra_FirstStep(const void *mic1, const void *mic2, int16_t *out,
                          VeldraHandle *handle);

/* Processes the completed block; returns 0, or VELDRA_ERR_NOT_READY. */
uint32_t Veldra_SecondStep(VeldraHandle *handle);

/* Copies the version text with its zero into buffer (at least 17 bytes);
 * returns its length. */
uint32_t Veldra_GetLibVersion(char *buffer);
uint32_t libBeamforming_GetLibVersion(char *buffer);

#ifdef __cplusplus
}
#endif

#endif /* VELDRA_H */
