// Small vector routines used with the transforms (plain scalar loops).
#include "fft.h"

extern "C" {

void arm_mult_f32(const float *a, const float *b, float *out, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        out[i] = a[i] * b[i];
}

void arm_cmplx_mag_squared_f32(const float *in, float *out, uint32_t n)
{
    for (uint32_t k = 0; k < n; ++k) {
        float re = in[2 * k];
        float im = in[2 * k + 1];
        out[k] = re * re + im * im;
    }
}

void arm_dot_prod_f32(const float *a, const float *b, uint32_t n, float *result)
{
    float sum = 0.0f;
    for (uint32_t i = 0; i < n; ++i)
        sum += a[i] * b[i];
    *result = sum;
}

} // extern "C"
