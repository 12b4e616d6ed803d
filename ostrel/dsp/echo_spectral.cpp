// Per-bin products and power sums on half-complex spectra of length n:
// bin 0 and bin n/2 are real, the bins between are (re, im) pairs.
#include "echo.h"

extern "C" {

void power_spectrum_accum(const float *X, float *ps, int32_t n)
{
    ps[0] += X[0] * X[0];
    for (int32_t k = 1; k < n / 2; ++k)
        ps[k] += X[2 * k - 1] * X[2 * k - 1] + X[2 * k] * X[2 * k];
    ps[n / 2] += X[n - 1] * X[n - 1];
}

void spectral_mul_accum(const float *X, const float *Y, float *acc, int32_t n, int32_t M)
{
    for (int32_t i = 0; i < n; ++i)
        acc[i] = 0.0f;
    for (int32_t b = 0; b < M; ++b, X += n, Y += n) {
        acc[0] += X[0] * Y[0];
        for (int32_t i = 1; i < n - 1; i += 2) {
            acc[i] += X[i] * Y[i] - X[i + 1] * Y[i + 1];
            acc[i + 1] += X[i + 1] * Y[i] + X[i] * Y[i + 1];
        }
        acc[n - 1] += X[n - 1] * Y[n - 1];
    }
}

void weighted_spectral_mul_conj(const float *w, float p, const float *X, const float *Y,
                                float *prod, int32_t n)
{
    prod[0] = p * w[0] * X[0] * Y[0];
    for (int32_t i = 1, k = 1; i < n - 1; i += 2, ++k) {
        float weight = p * w[k];
        prod[i] = weight * (X[i] * Y[i] + X[i + 1] * Y[i + 1]);
        prod[i + 1] = weight * (X[i] * Y[i + 1] - X[i + 1] * Y[i]);
    }
    prod[n - 1] = p * w[n / 2] * X[n - 1] * Y[n - 1];
}

} // extern "C"
