/*
 * Pass kernels of the mixed-radix real FFT (internal to fft*.cpp).
 *
 * Forward passes read cc as (ido, l1, ip) and write ch as (ido, ip, l1);
 * backward passes read cc as (ido, ip, l1) and write ch as (ido, l1, ip),
 * column-major with the first index fastest. Twiddle pointers point at the
 * pass's part of the twiddle area: (cos, sin) pairs for i = 1 .. (ido-1)/2.
 */
#ifndef OSTREL_DSP_FFT_PASSES_H
#define OSTREL_DSP_FFT_PASSES_H

#include <stdint.h>

#define FFT_TWO_PI 6.2831855f
#define FFT_HALF_SQRT2 0.70710677f
#define FFT_SQRT2 1.4142135f
#define FFT_TAU_R (-0.5f)
#define FFT_TAU_I 0.8660254f

#ifdef __cplusplus
extern "C" {
#endif

void dradf4(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1, const float *wa2,
            const float *wa3);
void dradb4(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1, const float *wa2,
            const float *wa3);
void dradf2(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1);
void dradb2(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1);
void dradb3(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1,
            const float *wa2);

/* General odd radix ip. Forward: for ido > 1 the input and the result are in
 * cc (ch is scratch); for ido == 1 the input is in ch and the result in cc. */
void dradfg(int32_t ido, int32_t ip, int32_t l1, int32_t idl1, float *cc, float *ch,
            const float *wa);
/* Backward: the input is in cc; the result is in cc for ido > 1 and in ch for
 * ido == 1. */
void dradbg(int32_t ido, int32_t ip, int32_t l1, int32_t idl1, float *cc, float *ch,
            const float *wa);

#ifdef __cplusplus
}
#endif

#endif
