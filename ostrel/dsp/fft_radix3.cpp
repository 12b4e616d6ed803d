// Backward radix-3 pass of the real FFT. A factor 3 always has an odd ido
// (only odd factors follow it), so there is no middle element to handle.
#include "fft_passes.h"

void dradb3(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1, const float *wa2)
{
    // cc is (ido, 3, l1), ch is (ido, l1, 3).
    auto in = [&](int32_t i, int32_t j, int32_t k) { return cc[i + ido * (j + 3 * k)]; };
    auto out = [&](int32_t i, int32_t k, int32_t j) -> float & {
        return ch[i + ido * (k + l1 * j)];
    };
    const int32_t last = ido - 1;
    for (int32_t k = 0; k < l1; ++k) {
        float tr2 = in(last, 1, k) + in(last, 1, k);
        float cr2 = in(0, 0, k) + FFT_TAU_R * tr2;
        out(0, k, 0) = in(0, 0, k) + tr2;
        float ci3 = FFT_TAU_I * (in(0, 2, k) + in(0, 2, k));
        out(0, k, 1) = cr2 - ci3;
        out(0, k, 2) = cr2 + ci3;
    }
    if (ido == 1)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        for (int32_t i = 2; i < ido; i += 2) {
            int32_t ic = ido - i;
            float tr2 = in(i - 1, 2, k) + in(ic - 1, 1, k);
            float cr2 = in(i - 1, 0, k) + FFT_TAU_R * tr2;
            out(i - 1, k, 0) = in(i - 1, 0, k) + tr2;
            float ti2 = in(i, 2, k) - in(ic, 1, k);
            float ci2 = in(i, 0, k) + FFT_TAU_R * ti2;
            out(i, k, 0) = in(i, 0, k) + ti2;
            float cr3 = FFT_TAU_I * (in(i - 1, 2, k) - in(ic - 1, 1, k));
            float ci3 = FFT_TAU_I * (in(i, 2, k) + in(ic, 1, k));
            float dr2 = cr2 - ci3;
            float dr3 = cr2 + ci3;
            float di2 = ci2 + cr3;
            float di3 = ci2 - cr3;
            out(i - 1, k, 1) = wa1[i - 2] * dr2 - wa1[i - 1] * di2;
            out(i, k, 1) = wa1[i - 2] * di2 + wa1[i - 1] * dr2;
            out(i - 1, k, 2) = wa2[i - 2] * dr3 - wa2[i - 1] * di3;
            out(i, k, 2) = wa2[i - 2] * di3 + wa2[i - 1] * dr3;
        }
    }
}
