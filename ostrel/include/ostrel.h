/*
 * ostrel: acoustic echo cancellation for a microcontroller.
 *
 * Removes the loudspeaker (reference) signal from one microphone signal,
 * 16 kHz signed 16-bit PCM, and optionally denoises, levels and strips
 * residual echo from the result. The caller owns all memory and scheduling:
 *
 *   h.tail_length, h.preprocess_enable and the strides set first;
 *   Ostrel_getMemorySize(&h);
 *   h.internal_memory = <block of h.internal_memory_size bytes, 4-aligned>;
 *   Ostrel_Init(&h);
 *   Ostrel_setConfig(&h, &cfg);                      optional
 *   every millisecond:  if (Ostrel_Data_Input(mic, ref, out, &h)) signal worker;
 *   in the worker:      Ostrel_Process(&h);          within 8 ms
 *
 * Each Ostrel_Data_Input call exchanges 16 samples; the output is the
 * processed microphone signal delayed by 256 samples (the first 256 output
 * samples after Ostrel_Init are zeros).
 *
 * Every entry point but Ostrel_GetLibVersion returns an unsigned 32-bit
 * status (OSTREL_OK or one of OSTREL_ERR_*), Ostrel_Data_Input the
 * frame-ready indication (1: call Ostrel_Process).
 */
#ifndef OSTREL_H
#define OSTREL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status values. */
#define OSTREL_OK 0u
#define OSTREL_ERR_MEMORY                                                                          \
    1u                          /* Ostrel_Init: no block, or a block                               \
                                   smaller than the handle needs */
#define OSTREL_ERR_AGC_LEVEL 2u /* agc_target_level 32768 or more */
#define OSTREL_ERR_ATTENUATION                                                                     \
    4u                                 /* a suppression level above 0 dB:                          \
                                          that level is not applied */
#define OSTREL_ERR_NO_PREPROCESSOR 16u /* no preprocessor was reserved */

#define OSTREL_SAMPLES_PER_INPUT 16u    /* samples per Ostrel_Data_Input */
#define OSTREL_FRAME_SIZE 128u          /* samples per Ostrel_Process */
#define OSTREL_DELAY_SAMPLES 256u       /* input-to-output delay */
#define OSTREL_DEFAULT_TAIL_LENGTH 512u /* tail_length 0 means this */
#define OSTREL_VERSION_BUFFER_SIZE 17u  /* version text and terminator */

/* Filled by the caller, passed to every entry point. */
typedef struct {
    uint16_t tail_length;          /* echo tail in samples; 0 means 512 */
    uint32_t preprocess_enable;    /* nonzero: reserve the noise suppressor
                                      and gain control as well */
    uint16_t mic_stride;           /* samples between successive microphone
                                      samples in the input buffer; 0 means 1 */
    uint16_t ref_stride;           /* the same for the reference buffer */
    uint16_t out_stride;           /* the same for the output buffer */
    uint32_t internal_memory_size; /* written by Ostrel_getMemorySize */
    void *internal_memory;         /* caller's block, internal_memory_size
                                      bytes, 4-byte aligned */
} OstrelHandle;

/* Run-time configuration of the preprocessor stage. */
typedef struct {
    uint32_t denoise_enable;            /* bit 0: preprocessor stage on */
    uint32_t agc_target_level;          /* 0: gain control off; 1..32767: on with
                                           this target; 32768+: rejected (status 2) */
    uint32_t residual_echo_enable;      /* 1: suppress residual echo */
    int32_t noise_attenuation_db;       /* maximum noise attenuation, dB, at most
                                           0 (above: OSTREL_ERR_ATTENUATION);
                                           default -15 */
    int32_t echo_attenuation_db;        /* maximum residual-echo attenuation, dB,
                                           at most 0; default -40 */
    int32_t echo_attenuation_active_db; /* the same while near-end speech is
                                       present, at most 0; default -15 */
} OstrelConfig;

/* Writes the block size that `handle` needs to internal_memory_size. */
uint32_t Ostrel_getMemorySize(OstrelHandle *handle);
/* Clears the block and sets up every state record inside it. Refuses
 * (OSTREL_ERR_MEMORY, block untouched) a null block or an
 * internal_memory_size below what the handle's current settings need. */
uint32_t Ostrel_Init(OstrelHandle *handle);
/* Applies `config`. OSTREL_ERR_AGC_LEVEL and OSTREL_ERR_ATTENUATION (which
 * may combine) leave the rest applied; a refused level keeps its previous
 * value. */
uint32_t Ostrel_setConfig(OstrelHandle *handle, const OstrelConfig *config);
/* Reads denoise_enable and agc_target_level back; other fields untouched. */
uint32_t Ostrel_getConfig(OstrelHandle *handle, OstrelConfig *config);
/* Takes 16 microphone and reference samples and plays out 16 output
 * samples; returns 1 when a frame is ready for Ostrel_Process. */
uint32_t Ostrel_Data_Input(const int16_t *mic, const int16_t *ref, int16_t *out,
                           OstrelHandle *handle);
/* Processes the ready frame, if any. */
uint32_t Ostrel_Process(OstrelHandle *handle);
/* Copies the version text with its terminator into `buffer` (at least
 * OSTREL_VERSION_BUFFER_SIZE bytes); returns its length. */
uint32_t Ostrel_GetLibVersion(char *buffer);

/* Field mode: an opt-in extension for real rooms, asked for with
 * Ostrel_Field_Init instead of Ostrel_Init. It keeps the handle, the sample
 * exchange and the timing contract (Ostrel_Data_Input every millisecond,
 * Ostrel_Process within 8 ms) and adds four stages, each on or off on its own:
 *   alignment   estimates the bulk delay of the echo (0..OSTREL_FIELD_MAX_DELAY_MS)
 *               from band-energy correlation and feeds the canceller a reference
 *               delayed to match; tracks clock drift up to +-500 ppm (drift_enable)
 *               with a cubic fractional-delay resampler steered by the position of
 *               the adaptive filter's main peak; re-estimates when the delay jumps;
 *   nonlinear   a memoryless soft-saturation model of the loudspeaker,
 *               x / sqrt(1 + u (x/32768)^2), with u estimated online by a
 *               normalised gradient through the adapted linear filter;
 *   residual    residual-echo estimate from the far-end power history (late
 *               reverberation), the echo estimate (misadjustment, nonlinear residue)
 *               and the part of the output coherent with the reference; replaces
 *               the canceller's own estimate in the preprocessor's suppressor
 *               (needs preprocess_enable, and links the suppressor);
 *   recovery    detects an echo-path change (output loud and coherent with the
 *               reference) and raises the canceller's step until it has adapted;
 *               near-end speech is not coherent with the reference, so double talk
 *               does not trigger it.
 * Ostrel_setConfig works as in the default mode; residual_echo_enable = 1 links
 * the suppressor to the field estimate while the residual stage is on. */
#define OSTREL_ERR_FIELD_OPTIONS 128u  /* a field option is out of range */
#define OSTREL_FIELD_MAX_DELAY_MS 300u /* largest bulk delay searched */

typedef struct {
    uint32_t align_enable;        /* 1: bulk-delay estimation; default 1 */
    uint32_t drift_enable;        /* 1: clock-drift tracking (needs
                                     align_enable); default 1 */
    uint32_t nonlinear_enable;    /* 1: loudspeaker saturation model; default 1 */
    uint32_t residual_enable;     /* 1: field residual-echo estimate; default 1
                                     (needs preprocess_enable) */
    int32_t residual_strength_db; /* over-estimation of the residual echo in
                                     dB, -10..20, not applied while near-end
                                     speech is detected; default 6 */
    uint32_t recovery_enable;     /* 1: fast recovery after a path change;
                                     default 1 */
} OstrelFieldOptions;

/* Writes the defaults into `options`. */
uint32_t Ostrel_Field_defaults(OstrelFieldOptions *options);
/* Writes the block size of field mode to internal_memory_size: the default
 * mode's size for the same handle plus the field state. */
uint32_t Ostrel_Field_getMemorySize(OstrelHandle *handle, const OstrelFieldOptions *options);
/* Ostrel_Init followed by the field stages. OSTREL_ERR_FIELD_OPTIONS for a
 * value out of range, OSTREL_ERR_NO_PREPROCESSOR for the residual stage
 * without preprocess_enable, OSTREL_ERR_MEMORY as Ostrel_Init; the block is
 * left untouched on every error. */
uint32_t Ostrel_Field_Init(OstrelHandle *handle, const OstrelFieldOptions *options);

/* Second exported names of the same functions. */
uint32_t libEchoCancel_getMemorySize(OstrelHandle *handle);
uint32_t libEchoCancel_Init(OstrelHandle *handle);
uint32_t libEchoCancel_setConfig(OstrelHandle *handle, const OstrelConfig *config);
uint32_t libEchoCancel_getConfig(OstrelHandle *handle, OstrelConfig *config);
uint32_t libEchoCancel_Data_Input(const int16_t *mic, const int16_t *ref, int16_t *out,
                                  OstrelHandle *handle);
uint32_t libEchoCancel_Process(OstrelHandle *handle);

#ifdef __cplusplus
}
#endif

#endif
