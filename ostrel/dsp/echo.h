/*
 * Frequency-domain adaptive echo canceller with a background filter that
 * adapts every frame and a foreground filter that produces the output.
 *
 * The state lives in caller-owned, zeroed memory. Four arrays depend on the
 * filter length and are held by reference; the caller carves them (at least
 * Echo_variable_bytes() bytes in all) and sets X, W, foreground, lambda and
 * the transform table before calling Echo_init.
 *
 * Frame size F = 128, transform size N = 2F = 256 (the table must be built
 * for n = 256), M = (L + F - 1) / F filter blocks for a tail of L samples.
 */
#ifndef OSTREL_DSP_ECHO_H
#define OSTREL_DSP_ECHO_H

#include <stddef.h>
#include <stdint.h>

#include "fft.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ECHO_FRAME 128
#define ECHO_WINDOW 256
#define ECHO_BINS (ECHO_FRAME + 1)

/* The constants in which the libraries that share the canceller differ.
 * Read-only library data; each library holds its own instance. */
typedef struct EchoTuning {
    float var1_smooth;              /* smoothing of the first error-difference variance */
    float var2_smooth;              /* smoothing of the second variance */
    float var1_update;              /* foreground takes over when A1|A1| exceeds this times V1 */
    float var2_update;              /* the same for A2 and V2 */
    float var_backtrack;            /* background falls back to the foreground above this */
    float min_leak;                 /* lower bound of the leak estimate */
    int32_t dc_notch;               /* 1: DC notch on the microphone before pre-emphasis */
    int32_t divergence_upper_bound; /* 1: energies of 2.56e11 or more count as divergence */
} EchoTuning;

/* Echo-cancellation library: 0.36, 0.2, 0.5, 0.25, 0.2, leak >= 0.005,
 * DC notch and upper divergence bound on. */
extern const EchoTuning ECHO_TUNING_OSTREL;
/* Beamforming library's adaptive stage: 0.36, 0.7225, 0.5, 0.25, 4.0,
 * leak >= 0.005, no DC notch, no upper divergence bound. */
extern const EchoTuning ECHO_TUNING_VELDRA;

typedef struct EchoState {
    int32_t frame_size;  /* F, 128 */
    int32_t window_size; /* N = 2F */
    int32_t blocks;      /* M = (L + F - 1) / F, at least 1 */
    int32_t frame_count; /* frames since the last reset */
    int32_t adapted;     /* 1 once the filter has converged enough */
    int32_t saturated;   /* frames whose background update is skipped after clipping */
    int32_t divergence_count;
    int16_t microphones;   /* 1 */
    int16_t loudspeakers;  /* 1 */
    int32_t sampling_rate; /* 8000 after Echo_init; see Echo_set_sampling_rate */
    float a;               /* spectral smoothing factor, F / rate */
    float b0;              /* 2F / rate */
    float b_max;           /* 0.5 F / rate */
    float adaptation_sum;  /* adaptation rates used before convergence */
    float leak;            /* estimated echo leakage 0..1, 32767 as saturation marker */
    float A1, A2, V1, V2;  /* means and variances of the foreground/background difference */
    float C_ey, C_yy;      /* smoothed cross- and auto-correlation of the leak estimate */
    float dm, dx, de;      /* pre-emphasis memories (mic, far end) and de-emphasis memory */
    float preemphasis;     /* 0.9 */
    float notch_radius;
    float notch_mem[2]; /* DC-notch state z1, z2 */

    float e[ECHO_WINDOW]; /* error and foreground output */
    float x[ECHO_WINDOW]; /* far end: previous and current frame */
    float m[ECHO_FRAME];  /* conditioned microphone frame */
    float y[ECHO_WINDOW]; /* background output */
    float h[ECHO_WINDOW]; /* echo history for Echo_get_residual */
    float Y[ECHO_WINDOW]; /* spectrum of the filter output */
    float E[ECHO_WINDOW]; /* spectrum of the error */
    float G[ECHO_WINDOW]; /* weight gradient */
    float P[ECHO_BINS];   /* smoothed far-end power per bin */
    float mu[ECHO_BINS];  /* adaptation step per bin */
    union {               /* the constraint's work array is free once PE is needed */
        float scratch[ECHO_WINDOW];
        float PE[ECHO_BINS]; /* error power spectrum */
    };
    float PY[ECHO_BINS];       /* filter-output power spectrum */
    float PX[ECHO_BINS];       /* far-end power spectrum */
    float AE[ECHO_BINS];       /* smoothed PE */
    float AY[ECHO_BINS];       /* smoothed PY */
    float window[ECHO_WINDOW]; /* analysis window of Echo_get_residual */

    float *X;                 /* far-end spectra, (M+1)*N floats, newest block first */
    float *W;                 /* background filter, M*N floats */
    float *foreground;        /* foreground filter, M*N floats */
    float *lambda;            /* per-block step factors, M floats */
    FftTable *table;          /* n = 256 transform table */
    const EchoTuning *tuning; /* set to ECHO_TUNING_OSTREL by Echo_init */
} EchoState;

/* Bytes of the four variable arrays (X, W, foreground, lambda) for a tail of
 * filter_length samples: ((M+1) + M + M) * 2F + M floats. */
uint32_t Echo_variable_bytes(int32_t frame_size, int32_t filter_length);

/* Initialises a zeroed state whose X, W, foreground, lambda and table are
 * set: rate 8000, DC-notch radius 0.9, tuning of the echo-cancellation
 * library. */
void Echo_init(EchoState *st, int32_t frame_size, int32_t filter_length, int32_t microphones,
               int32_t loudspeakers);

/* Sets the sampling rate with the spectral smoothing, the adaptation bounds
 * and the DC-notch radius that follow from it. */
void Echo_set_sampling_rate(EchoState *st, int32_t rate);

/* Selects the library constants (a null pointer keeps the current ones). */
void Echo_set_tuning(EchoState *st, const EchoTuning *tuning);

/* Returns the adaptive part to its start values (after divergence). */
void Echo_state_reset(EchoState *st);

/* One frame: F microphone and F far-end samples in, F samples out. */
void Echo_cancellation(EchoState *st, const int16_t *mic, const int16_t *ref, int16_t *out);

/* Residual-echo power estimate for bins 0..F into residual[F+1]. */
void Echo_get_residual(EchoState *st, float *residual);

/* ps[k] += |X_k|^2 over the n/2 + 1 bins of a half-complex spectrum. */
void power_spectrum_accum(const float *X, float *ps, int32_t n);

/* acc = sum over M blocks of X_b * Y_b (complex per bin); X, Y advance by n. */
void spectral_mul_accum(const float *X, const float *Y, float *acc, int32_t n, int32_t M);

/* prod = p * w[k] * conj(X_k) * Y_k per bin k. */
void weighted_spectral_mul_conj(const float *w, float p, const float *X, const float *Y,
                                float *prod, int32_t n);

#ifdef __cplusplus
}
#endif

#endif
