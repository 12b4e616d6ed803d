// Placeholder bodies; the transform follows.
#include "fft.h"

extern "C" {
void fft_table_init(FftTable *t, int32_t n) { t->n = n; }
float *fft_table_work(FftTable *t) { return t->area; }
float *fft_table_twiddles(FftTable *t) { return t->area + t->n; }
void drfti1(int32_t, float *, int32_t *) {}
void drftf1(int32_t, float *, float *, const float *, const int32_t *) {}
void drftb1(int32_t, float *, float *, const float *, const int32_t *) {}
void fft(FftTable *, const float *, float *) {}
void ifft(FftTable *, const float *, float *) {}
void arm_mult_f32(const float *, const float *, float *, uint32_t) {}
void arm_cmplx_mag_squared_f32(const float *, float *, uint32_t) {}
void arm_dot_prod_f32(const float *, const float *, uint32_t, float *) {}
}
