/*
 * PDM-to-PCM decimation filter.
 *
 * Turns the 1-bit PDM stream of one microphone into signed 16-bit PCM at
 * 16 kHz, one millisecond (16 samples) per call: a third-order comb (sinc
 * cubed) decimator evaluated a byte at a time through the lane table
 * T_0_1_2, then removal of the PDM mid-level, a first-order high-pass, a
 * volume multiplier and saturation to 16 bits. All filter state lives in the
 * caller's PdmFilterRecord and carries across calls.
 *
 *   rec.bit_order = 0; rec.byte_swap = 1; rec.in_stride = 2; rec.out_stride = 1;
 *   PDM_Filter_Init(&rec);
 *   PdmFilterConfig cfg = {PDM_FILTER_CODE_D64, 16, 0};
 *   PDM_Filter_setConfig(&rec, &cfg);
 *   every millisecond: PDM_Filter(pdm_bytes, pcm16, &rec);
 *
 * PDM bytes hold the most significant bit earliest. With byte_swap 1 and
 * input stride 1 the input is a series of 16-bit words whose higher-addressed
 * byte holds the earlier bits; with a larger stride the bytes at 0, stride,
 * 2 x stride, ... are read in address order. PDM_Filter_inputOffset gives
 * that time order, so that other readers of the same buffer (the bit delay
 * line) see the bits in the order the filters do.
 */
#ifndef VELDRA_PDM_FILTER_H
#define VELDRA_PDM_FILTER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Decimation codes (PdmFilterConfig.decimation_code) and their factors. */
#define PDM_FILTER_CODE_D48 1u  /*  768 kHz */
#define PDM_FILTER_CODE_D64 2u  /* 1024 kHz */
#define PDM_FILTER_CODE_D80 3u  /* 1280 kHz */
#define PDM_FILTER_CODE_D128 4u /* 2048 kHz */
#define PDM_FILTER_CODE_D16 5u  /*  256 kHz */
#define PDM_FILTER_CODE_D24 6u  /*  384 kHz */
#define PDM_FILTER_CODE_D32 7u  /*  512 kHz */

/* Flags (PdmFilterInternal.flags). */
#define PDM_FILTER_FLAG_CODE_MASK 0x00Fu /* decimation code */
#define PDM_FILTER_FLAG_HIGH_PASS 0x010u /* always set by Init */
#define PDM_FILTER_FLAG_BYTE_SWAP 0x020u
#define PDM_FILTER_FLAG_SINGLE_CHANNEL 0x040u /* input and output stride 1 */
#define PDM_FILTER_FLAG_INITIALISED 0x080u
#define PDM_FILTER_FLAG_CONFIGURED 0x100u /* the filter may run */

/* Results. */
#define PDM_FILTER_ERR_BYTE_SWAP 0x01u /* Init: byte_swap 2 or more */
#define PDM_FILTER_ERR_CODE 0x08u      /* setConfig: code outside 1..7 */
#define PDM_FILTER_ERR_NOT_INITIALISED                                                             \
    0x10u                                   /* setConfig/run on a record that                      \
                                               Init refused */
#define PDM_FILTER_ERR_NOT_CONFIGURED 0x20u /* run: not configured */
#define PDM_FILTER_ERR_GAIN                                                                        \
    0x40u /* setConfig: gain outside                                                               \
             -12..51 dB, clamped */

#define PDM_FILTER_GAIN_MIN_DB (-12)
#define PDM_FILTER_GAIN_MAX_DB 51

/* High-pass coefficient, Q31 (0.9), set by Init whatever the caller gave. */
#define PDM_FILTER_HP_COEFFICIENT 0x73333332u

/* Filter state, reset by PDM_Filter_Init, kept by PDM_Filter_setConfig. */
typedef struct {
    int32_t comb[5];     /* second comb stage: [0], [1] partial sums of
                            the next two output periods; rest spare */
    int32_t hp_prev_out; /* high-pass previous output */
    int32_t hp_prev_in;  /* high-pass previous input */
    int32_t spare;
    uint32_t lane_carry;       /* packed three-lane accumulator P */
    uint32_t hp_coefficient;   /* Q31 */
    uint16_t decimation_code;  /* code last stored by setConfig */
    uint16_t samples_per_call; /* output samples produced per call */
    uint16_t out_stride;       /* output stride copy, always 1 */
    uint16_t in_stride;        /* input stride copy, in bytes */
    int16_t volume_db;         /* gain in dB as last applied */
    uint16_t reserved;
    uint32_t volume_multiplier; /* round(10^(G/20) x n x 2^(32 - s)) */
    uint32_t flags;             /* PDM_FILTER_FLAG_* */
    uint32_t kernel;            /* selected kernel: index into the kernel table
                                   (an index rather than a pointer keeps the
                                   record 76 bytes on every target) */
} PdmFilterInternal;

/* One filter instance, 76 bytes; the caller sets the first four fields. */
typedef struct {
    uint16_t bit_order;      /* always 0 (most significant bit first) */
    uint16_t byte_swap;      /* 1 = 16-bit words, higher-addressed byte holds
                                the earlier bits; 0 = address order */
    uint32_t hp_coefficient; /* Q31; Init uses 0x73333332 regardless */
    uint16_t in_stride;      /* bytes between consecutive bytes of this
                                microphone (1 = contiguous) */
    uint16_t out_stride;     /* samples between output samples; always 1 */
    PdmFilterInternal state;
} PdmFilterRecord;

/* Run-time settings of one instance. */
typedef struct {
    uint16_t decimation_code;  /* PDM_FILTER_CODE_*, 1..7 */
    uint16_t samples_per_call; /* output samples per call (16) */
    int16_t gain_db;           /* -12..51; clamped value written back */
} PdmFilterConfig;

#ifdef __cplusplus
static_assert(sizeof(PdmFilterRecord) == 76, "PdmFilterRecord is 76 bytes");
static_assert(sizeof(PdmFilterConfig) == 6, "PdmFilterConfig is 6 bytes");
#endif

/* Third-order comb of factor 8 in three 10-bit lanes, one entry per byte
 * value (lane 0 bits 0-9, lane 1 bits 10-19, lane 2 bits 20-29). */
extern const uint32_t T_0_1_2[256];

/* A kernel: reads one call's input, writes samples_per_call samples. */
typedef uint32_t (*PdmFilterKernel)(const uint8_t *input, int16_t *output,
                                    PdmFilterInternal *state);

/* Resets the state, derives the flags. Returns 0, or PDM_FILTER_ERR_BYTE_SWAP
 * (the record then stays unusable). */
uint32_t PDM_Filter_Init(PdmFilterRecord *record);

/* Selects the kernel and the volume multiplier. Returns 0 (configured), or
 * PDM_FILTER_ERR_CODE and/or PDM_FILTER_ERR_GAIN (not configured; a bad gain
 * is replaced by the nearest limit in config), or
 * PDM_FILTER_ERR_NOT_INITIALISED. */
uint32_t PDM_Filter_setConfig(PdmFilterRecord *record, PdmFilterConfig *config);

/* Filters one call's input into samples_per_call samples; returns 0.
 * Unconfigured: writes nothing, returns 0x20 (initialised) or 0x30. */
uint32_t PDM_Filter(const void *input, int16_t *output, PdmFilterRecord *record);

/* The kernel selected for a configured record, else NULL. */
PdmFilterKernel PDM_Filter_selectedKernel(const PdmFilterRecord *record);

/* Decimation factor of a code (16..128), 0 for an invalid code. */
uint32_t PDM_Filter_factor(uint32_t decimation_code);

/* Address offset of the byte that is index-th in time order, for a buffer of
 * total_bytes bytes (of this microphone) read at the given stride with or
 * without byte swap. Byte swap applies to stride 1 only; a trailing lone
 * byte of an odd-length swapped buffer is read in place. */
static inline size_t PDM_Filter_inputOffset(size_t index, size_t total_bytes, uint32_t stride,
                                            uint32_t byte_swap)
{
    if (stride == 1u && byte_swap != 0u) {
        size_t swapped = index ^ (size_t)1;
        return swapped < total_bytes ? swapped : index;
    }
    return index * stride;
}

uint32_t D16_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D24_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D32_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D48_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D64_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D80_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D128_GENERIC(const uint8_t *input, int16_t *output, PdmFilterInternal *state);

/* Input stride 1, output stride 1, byte swap, high-pass on. */
uint32_t D16_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D24_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D32_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D48_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D64_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D80_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);
uint32_t D128_1CH_HTONS_VOL_HP(const uint8_t *input, int16_t *output, PdmFilterInternal *state);

#ifdef __cplusplus
}
#endif

#endif /* VELDRA_PDM_FILTER_H */
