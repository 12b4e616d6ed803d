// Radix-2 passes of the real FFT (lengths with a single factor 2).
#include "fft_passes.h"

void dradf2(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1)
{
    // cc is (ido, l1, 2), ch is (ido, 2, l1).
    auto in = [&](int32_t i, int32_t k, int32_t j) { return cc[i + ido * (k + l1 * j)]; };
    auto out = [&](int32_t i, int32_t j, int32_t k) -> float & {
        return ch[i + ido * (j + 2 * k)];
    };
    const int32_t last = ido - 1;
    for (int32_t k = 0; k < l1; ++k) {
        out(0, 0, k) = in(0, k, 0) + in(0, k, 1);
        out(last, 1, k) = in(0, k, 0) - in(0, k, 1);
    }
    if (ido < 2)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        for (int32_t i = 2; i < ido; i += 2) {
            int32_t ic = ido - i;
            float tr2 = wa1[i - 2] * in(i - 1, k, 1) + wa1[i - 1] * in(i, k, 1);
            float ti2 = wa1[i - 2] * in(i, k, 1) - wa1[i - 1] * in(i - 1, k, 1);
            out(i, 0, k) = in(i, k, 0) + ti2;
            out(ic, 1, k) = ti2 - in(i, k, 0);
            out(i - 1, 0, k) = in(i - 1, k, 0) + tr2;
            out(ic - 1, 1, k) = in(i - 1, k, 0) - tr2;
        }
    }
    if (ido % 2 == 1)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        out(0, 1, k) = -in(last, k, 1);
        out(last, 0, k) = in(last, k, 0);
    }
}

void dradb2(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1)
{
    // cc is (ido, 2, l1), ch is (ido, l1, 2).
    auto in = [&](int32_t i, int32_t j, int32_t k) { return cc[i + ido * (j + 2 * k)]; };
    auto out = [&](int32_t i, int32_t k, int32_t j) -> float & {
        return ch[i + ido * (k + l1 * j)];
    };
    const int32_t last = ido - 1;
    for (int32_t k = 0; k < l1; ++k) {
        out(0, k, 0) = in(0, 0, k) + in(last, 1, k);
        out(0, k, 1) = in(0, 0, k) - in(last, 1, k);
    }
    if (ido < 2)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        for (int32_t i = 2; i < ido; i += 2) {
            int32_t ic = ido - i;
            out(i - 1, k, 0) = in(i - 1, 0, k) + in(ic - 1, 1, k);
            float tr2 = in(i - 1, 0, k) - in(ic - 1, 1, k);
            out(i, k, 0) = in(i, 0, k) - in(ic, 1, k);
            float ti2 = in(i, 0, k) + in(ic, 1, k);
            out(i - 1, k, 1) = wa1[i - 2] * tr2 - wa1[i - 1] * ti2;
            out(i, k, 1) = wa1[i - 2] * ti2 + wa1[i - 1] * tr2;
        }
    }
    if (ido % 2 == 1)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        out(last, k, 0) = in(last, 0, k) + in(last, 0, k);
        out(last, k, 1) = -(in(0, 1, k) + in(0, 1, k));
    }
}
