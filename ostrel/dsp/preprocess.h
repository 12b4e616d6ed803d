/*
 * Noise suppressor with residual-echo suppression and automatic gain control
 * ("preprocessor"). Works in place on frames of 128 16-bit samples at 16 kHz:
 * 256-point windowed transform with 50 % overlap, minimum-statistics noise
 * estimate, spectral gains with speech-presence probability computed on 24
 * perceptual bands and interpolated to the 128 linear bins, overlap-add.
 *
 * The state lives in caller-owned memory cleared to zero. The caller sets
 * `bank` (built by filterbank_new for 24 bands, 128 bins) and `fft_table`
 * (built for n = 256), before or after Preprocess_init, which leaves those
 * two fields alone.
 *
 * Reuse: gain control (`agc_enabled`, request 2) and the voice-activity
 * decision (`vad_enabled`, request 4) are off after Preprocess_init; with the
 * decision off Preprocess always reports speech (1). The residual-echo source
 * is any EchoState (request 24), whose Echo_get_residual already scales the
 * estimate by its leak.
 */
#ifndef OSTREL_DSP_PREPROCESS_H
#define OSTREL_DSP_PREPROCESS_H

#include <stddef.h>
#include <stdint.h>

#include "echo.h"
#include "fft.h"
#include "filterbank.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PREPROCESS_FRAME 128                                       /* F: samples per frame */
#define PREPROCESS_WINDOW 256                                      /* transform size, 2F */
#define PREPROCESS_BINS 128                                        /* P: linear bins */
#define PREPROCESS_BANDS 24                                        /* B: perceptual bands */
#define PREPROCESS_BINS_BANDS (PREPROCESS_BINS + PREPROCESS_BANDS) /* bins 0..P-1, then bands */

/* Arrays of PREPROCESS_BINS_BANDS entries hold bins at 0..127, bands at 128..151. */
typedef struct PreprocessState {
    int32_t frame_size;     /* F, 128 */
    int32_t ps_size;        /* P, 128 */
    int32_t sampling_rate;  /* 16000 */
    int32_t nbands;         /* B, 24 */
    const FilterBank *bank; /* set by the caller */
    FftTable *fft_table;    /* set by the caller, n = 256 */
    EchoState *echo_state;  /* residual-echo source, or NULL */

    int32_t denoise_enabled;            /* stored and reported only */
    int32_t vad_enabled;                /* 1: Preprocess returns the speech decision */
    int32_t dereverb_enabled;           /* stored and reported only */
    float reverb_decay;                 /* unused */
    float reverb_level;                 /* unused */
    float speech_prob_start;            /* decision threshold to enter speech */
    float speech_prob_continue;         /* decision threshold to stay in speech */
    int32_t noise_attenuation_db;       /* floor for noise, dB (negative) */
    int32_t echo_attenuation_db;        /* floor for residual echo, dB */
    int32_t echo_attenuation_active_db; /* the same while speech is present */
    float speech_prob;                  /* p_frame of the last frame */
    int32_t voice_active;               /* last speech decision (0/1) */

    float frame[PREPROCESS_WINDOW];          /* windowed time buffer: previous and current frame */
    float T[PREPROCESS_WINDOW];              /* half-complex spectrum of the frame */
    float Pw[PREPROCESS_BINS_BANDS];         /* power per bin, then per band */
    float g_f[PREPROCESS_BINS_BANDS];        /* final gain per bin, then per band */
    float g_min[PREPROCESS_BANDS];           /* gain floor per band */
    float window[PREPROCESS_WINDOW];         /* analysis and synthesis window */
    float noise[PREPROCESS_BINS_BANDS];      /* noise power estimate */
    float Pc[PREPROCESS_BANDS];              /* previous clean-speech power per band */
    float g_e[PREPROCESS_BANDS];             /* estimator gain per band */
    float xi[PREPROCESS_BANDS];              /* a-priori SNR per band */
    float eta[PREPROCESS_BANDS];             /* a-posteriori SNR per band */
    float S[PREPROCESS_BINS];                /* smoothed power */
    float S_min[PREPROCESS_BINS];            /* its running minimum */
    float S_cand[PREPROCESS_BINS];           /* candidate minimum of the current window */
    int32_t speech_likely[PREPROCESS_BINS];  /* 1: power above 2.5x its minimum; noise estimate only
                                                falls there */
    float zeta[PREPROCESS_BANDS];            /* smoothed a-priori SNR per band */
    float echo_noise[PREPROCESS_BINS_BANDS]; /* residual-echo power, bins then bands */
    float residual_echo[PREPROCESS_BINS_BANDS]; /* raw estimate, ECHO_BINS used */
    float analysis_mem[PREPROCESS_FRAME];       /* previous input frame */
    float synthesis_mem[PREPROCESS_FRAME];      /* second half of the previous output frame */

    int32_t agc_enabled;                    /* gain control on */
    float agc_level;                        /* target level, 1..32768 once set */
    float loudness_accum;                   /* loudness normaliser */
    float loudness_weight[PREPROCESS_BINS]; /* perceptual weight per bin */
    float loudness;                         /* long-term loudness */
    float agc_gain;                         /* current gain (linear) */
    float max_gain;                         /* maximum gain (linear) */
    float max_increase_step;                /* per-frame factor, 12 dB/s */
    float max_decrease_step;                /* per-frame factor, -40 dB/s */
    float prev_loudness;
    float init_max;                 /* start-up ceiling of the gain */
    int32_t nb_adapt;               /* frames seen, at most 20000 */
    int32_t min_count;              /* frames since the last minimum restart */
    const float *external_residual; /* when set, replaces the linked canceller's
                                       residual estimate: ECHO_BINS powers */
} PreprocessState;

/* Control requests of Preprocess_setup. The value pointed to is an int32_t
 * unless noted; a dB value v is held as the factor exp(0.11513 v). */
enum PreprocessRequest {
    PREPROCESS_SET_DENOISE = 0,
    PREPROCESS_GET_DENOISE = 1,
    PREPROCESS_SET_AGC = 2,
    PREPROCESS_GET_AGC = 3,
    PREPROCESS_SET_VAD = 4,
    PREPROCESS_GET_VAD = 5,
    PREPROCESS_SET_AGC_LEVEL = 6, /* float, clamped to 1..32768 */
    PREPROCESS_GET_AGC_LEVEL = 7, /* float */
    PREPROCESS_SET_DEREVERB = 8,
    PREPROCESS_GET_DEREVERB = 9,
    /* 10..13 accepted without effect */
    PREPROCESS_SET_PROB_START = 14, /* percent */
    PREPROCESS_GET_PROB_START = 15,
    PREPROCESS_SET_PROB_CONTINUE = 16, /* percent */
    PREPROCESS_GET_PROB_CONTINUE = 17,
    PREPROCESS_SET_NOISE_SUPPRESS = 18, /* dB, stored as -|v| */
    PREPROCESS_GET_NOISE_SUPPRESS = 19,
    PREPROCESS_SET_ECHO_SUPPRESS = 20,
    PREPROCESS_GET_ECHO_SUPPRESS = 21,
    PREPROCESS_SET_ECHO_SUPPRESS_ACTIVE = 22,
    PREPROCESS_GET_ECHO_SUPPRESS_ACTIVE = 23,
    PREPROCESS_SET_ECHO_STATE = 24,    /* the pointer is the EchoState itself (NULL unlinks) */
    PREPROCESS_GET_ECHO_STATE = 25,    /* writes an EchoState* through the pointer */
    PREPROCESS_SET_AGC_INCREMENT = 26, /* dB per second */
    PREPROCESS_GET_AGC_INCREMENT = 27,
    PREPROCESS_SET_AGC_DECREMENT = 28,
    PREPROCESS_GET_AGC_DECREMENT = 29,
    PREPROCESS_SET_AGC_MAX_GAIN = 30, /* dB */
    PREPROCESS_GET_AGC_MAX_GAIN = 31,
    PREPROCESS_GET_AGC_LOUDNESS = 33,
    PREPROCESS_GET_AGC_GAIN = 35, /* dB */
    PREPROCESS_GET_PSD_SIZE = 37,
    PREPROCESS_GET_PSD = 39, /* int32_t[128] */
    PREPROCESS_GET_NOISE_PSD_SIZE = 41,
    PREPROCESS_GET_NOISE_PSD = 43,  /* int32_t[128] */
    PREPROCESS_GET_PROB = 45,       /* percent */
    PREPROCESS_SET_AGC_TARGET = 46, /* int32_t, clamped to 1..32768 */
    PREPROCESS_GET_AGC_TARGET = 47
};

/* Bytes of one PreprocessState. */
size_t Preprocess_memory_size(void);

/* Sets every default into a cleared state. Returns 0, or -1 (state left
 * untouched) for a null state, a frame size other than 128 or a sampling
 * rate that is not positive. */
int32_t Preprocess_init(PreprocessState *st, int32_t frame_size, int32_t sampling_rate);

/* Processes 128 samples in place. Returns 1 (speech) unless the
 * voice-activity decision is on, then 0 or 1; returns 0 without touching the
 * samples for a null argument or a state without its filter bank or
 * transform table. */
int32_t Preprocess(PreprocessState *st, int16_t *samples);

/* Analysis: windowed transform of the previous and new frame, powers per
 * bin and per band. */
void Preprocess_analize(PreprocessState *st, const int16_t *samples);

/* Minimum tracking of the smoothed power; sets speech_likely per bin. */
void update_noise_prob(PreprocessState *st);

/* Gain control on the spectrum T (256 values) for frame probability p_frame. */
void simple_agc(PreprocessState *st, float *T, float p_frame);

/* Control request; returns 0, or -1 for an unrecognised request or a null
 * pointer where a value is read or written. */
int32_t Preprocess_setup(PreprocessState *st, int32_t request, void *ptr);

#ifdef __cplusplus
}
#endif

#endif
