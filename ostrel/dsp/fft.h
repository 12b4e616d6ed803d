/*
 * Mixed-radix real FFT shared by both microcontroller libraries, and three
 * small vector routines.
 *
 * Transform table: one flat record of 801 32-bit words (3204 bytes), owned by
 * the caller, built once for a length n of 1..256:
 *   word 0            n
 *   words 1 .. n      work area, n floats (ping-pong buffer of the passes)
 *   words n+1 .. 3n   twiddle area, 2n floats (fewer than n are filled)
 *   words 769 .. 800  factor list: [0] = n, [1] = factor count, [2..] factors
 *
 * Half-complex spectrum of length n (n even): element 0 = Re X0, elements
 * 2k-1 and 2k = Re Xk and Im Xk for k = 1..n/2-1, element n-1 = Re X(n/2),
 * with Xk = sum_j x_j exp(-2 pi i j k / n).
 *
 * A table may be used by one transform at a time (its work area is scratch).
 */
#ifndef OSTREL_DSP_FFT_H
#define OSTREL_DSP_FFT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FFT_MAX_LENGTH 256
#define FFT_TABLE_WORDS 801
#define FFT_FACTOR_WORD 769 /* 1 + 3 * FFT_MAX_LENGTH, whatever n is */
#define FFT_FACTOR_COUNT 32

typedef struct FftTable {
    int32_t n; /* word 0: transform length */
    float area[3 *
               FFT_MAX_LENGTH]; /* words 1..768: work area (n floats), then twiddles (2n floats) */
    int32_t factors[FFT_FACTOR_COUNT]; /* words 769..800: n, factor count, factors */
} FftTable;

/* Stores n (1..256) into word 0 and builds factor list and twiddles. */
void fft_table_init(FftTable *table, int32_t n);

/* Work area and twiddle area of a built table (they depend on n). */
float *fft_table_work(FftTable *table);
float *fft_table_twiddles(FftTable *table);

/* Factorises n into factors[] and fills the twiddle table. */
void drfti1(int32_t n, float *twiddles, int32_t *factors);

/* Forward transform of data[0..n-1] in place, unscaled, half-complex result.
 * work holds n floats. */
void drftf1(int32_t n, float *data, float *work, const float *twiddles, const int32_t *factors);

/* Backward transform of a half-complex data[0..n-1] in place, unscaled:
 * drftb1 after drftf1 multiplies by n. work holds n floats. */
void drftb1(int32_t n, float *data, float *work, const float *twiddles, const int32_t *factors);

/* out = drftf1(in / n); in and out may be the same array of n floats. */
void fft(FftTable *table, const float *in, float *out);

/* out = drftb1(in), unscaled, so ifft(fft(x)) = x; in may equal out. */
void ifft(FftTable *table, const float *in, float *out);

/* out[i] = a[i] * b[i] for i < n; out may equal a or b. */
void arm_mult_f32(const float *a, const float *b, float *out, uint32_t n);

/* out[k] = in[2k]^2 + in[2k+1]^2 for k < n (n complex values). */
void arm_cmplx_mag_squared_f32(const float *in, float *out, uint32_t n);

/* *result = sum of a[i] * b[i], summed in index order. */
void arm_dot_prod_f32(const float *a, const float *b, uint32_t n, float *result);

#ifdef __cplusplus
}
#endif

#endif
