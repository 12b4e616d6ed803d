// Radix-4 passes of the real FFT, the only ones that run for n = 256.
#include "fft_passes.h"

namespace
{

// Forward: cc is (ido, l1, 4), ch is (ido, 4, l1).
struct Forward4 {
    int32_t ido, l1;
    const float *cc;
    float *ch;
    float in(int32_t i, int32_t k, int32_t j) const
    {
        return cc[i + ido * (k + l1 * j)];
    }
    float &out(int32_t i, int32_t j, int32_t k) const
    {
        return ch[i + ido * (j + 4 * k)];
    }
};

// Backward: cc is (ido, 4, l1), ch is (ido, l1, 4).
struct Backward4 {
    int32_t ido, l1;
    const float *cc;
    float *ch;
    float in(int32_t i, int32_t j, int32_t k) const
    {
        return cc[i + ido * (j + 4 * k)];
    }
    float &out(int32_t i, int32_t k, int32_t j) const
    {
        return ch[i + ido * (k + l1 * j)];
    }
};

void forward4_twiddled(const Forward4 &p, const float *wa1, const float *wa2, const float *wa3)
{
    for (int32_t k = 0; k < p.l1; ++k) {
        for (int32_t i = 2; i < p.ido; i += 2) {
            int32_t ic = p.ido - i;
            // Multiply inputs 1..3 by the conjugate twiddles.
            float cr2 = wa1[i - 2] * p.in(i - 1, k, 1) + wa1[i - 1] * p.in(i, k, 1);
            float ci2 = wa1[i - 2] * p.in(i, k, 1) - wa1[i - 1] * p.in(i - 1, k, 1);
            float cr3 = wa2[i - 2] * p.in(i - 1, k, 2) + wa2[i - 1] * p.in(i, k, 2);
            float ci3 = wa2[i - 2] * p.in(i, k, 2) - wa2[i - 1] * p.in(i - 1, k, 2);
            float cr4 = wa3[i - 2] * p.in(i - 1, k, 3) + wa3[i - 1] * p.in(i, k, 3);
            float ci4 = wa3[i - 2] * p.in(i, k, 3) - wa3[i - 1] * p.in(i - 1, k, 3);
            float tr1 = cr2 + cr4;
            float tr4 = cr4 - cr2;
            float ti1 = ci2 + ci4;
            float ti4 = ci2 - ci4;
            float ti2 = p.in(i, k, 0) + ci3;
            float ti3 = p.in(i, k, 0) - ci3;
            float tr2 = p.in(i - 1, k, 0) + cr3;
            float tr3 = p.in(i - 1, k, 0) - cr3;
            p.out(i - 1, 0, k) = tr1 + tr2;
            p.out(ic - 1, 3, k) = tr2 - tr1;
            p.out(i, 0, k) = ti1 + ti2;
            p.out(ic, 3, k) = ti1 - ti2;
            p.out(i - 1, 2, k) = ti4 + tr3;
            p.out(ic - 1, 1, k) = tr3 - ti4;
            p.out(i, 2, k) = tr4 + ti3;
            p.out(ic, 1, k) = tr4 - ti3;
        }
    }
}

void backward4_twiddled(const Backward4 &p, const float *wa1, const float *wa2, const float *wa3)
{
    for (int32_t k = 0; k < p.l1; ++k) {
        for (int32_t i = 2; i < p.ido; i += 2) {
            int32_t ic = p.ido - i;
            float ti1 = p.in(i, 0, k) + p.in(ic, 3, k);
            float ti2 = p.in(i, 0, k) - p.in(ic, 3, k);
            float ti3 = p.in(i, 2, k) - p.in(ic, 1, k);
            float tr4 = p.in(i, 2, k) + p.in(ic, 1, k);
            float tr1 = p.in(i - 1, 0, k) - p.in(ic - 1, 3, k);
            float tr2 = p.in(i - 1, 0, k) + p.in(ic - 1, 3, k);
            float ti4 = p.in(i - 1, 2, k) - p.in(ic - 1, 1, k);
            float tr3 = p.in(i - 1, 2, k) + p.in(ic - 1, 1, k);
            p.out(i - 1, k, 0) = tr2 + tr3;
            float cr3 = tr2 - tr3;
            p.out(i, k, 0) = ti2 + ti3;
            float ci3 = ti2 - ti3;
            float cr2 = tr1 - tr4;
            float cr4 = tr1 + tr4;
            float ci2 = ti1 + ti4;
            float ci4 = ti1 - ti4;
            // Multiply outputs 1..3 by the twiddles.
            p.out(i - 1, k, 1) = wa1[i - 2] * cr2 - wa1[i - 1] * ci2;
            p.out(i, k, 1) = wa1[i - 2] * ci2 + wa1[i - 1] * cr2;
            p.out(i - 1, k, 2) = wa2[i - 2] * cr3 - wa2[i - 1] * ci3;
            p.out(i, k, 2) = wa2[i - 2] * ci3 + wa2[i - 1] * cr3;
            p.out(i - 1, k, 3) = wa3[i - 2] * cr4 - wa3[i - 1] * ci4;
            p.out(i, k, 3) = wa3[i - 2] * ci4 + wa3[i - 1] * cr4;
        }
    }
}

} // namespace

void dradf4(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1, const float *wa2,
            const float *wa3)
{
    const Forward4 p = {ido, l1, cc, ch};
    const int32_t last = ido - 1;
    for (int32_t k = 0; k < l1; ++k) {
        float tr1 = p.in(0, k, 1) + p.in(0, k, 3);
        float tr2 = p.in(0, k, 0) + p.in(0, k, 2);
        p.out(0, 0, k) = tr1 + tr2;
        p.out(last, 3, k) = tr2 - tr1;
        p.out(last, 1, k) = p.in(0, k, 0) - p.in(0, k, 2);
        p.out(0, 2, k) = p.in(0, k, 3) - p.in(0, k, 1);
    }
    if (ido < 2)
        return;
    if (ido > 2)
        forward4_twiddled(p, wa1, wa2, wa3);
    if (ido % 2 == 1)
        return;
    // Even ido: the middle element of each group (twiddle exp(-i pi j / 4)).
    for (int32_t k = 0; k < l1; ++k) {
        float ti1 = -FFT_HALF_SQRT2 * (p.in(last, k, 1) + p.in(last, k, 3));
        float tr1 = FFT_HALF_SQRT2 * (p.in(last, k, 1) - p.in(last, k, 3));
        p.out(last, 0, k) = tr1 + p.in(last, k, 0);
        p.out(last, 2, k) = p.in(last, k, 0) - tr1;
        p.out(0, 1, k) = ti1 - p.in(last, k, 2);
        p.out(0, 3, k) = ti1 + p.in(last, k, 2);
    }
}

void dradb4(int32_t ido, int32_t l1, const float *cc, float *ch, const float *wa1, const float *wa2,
            const float *wa3)
{
    const Backward4 p = {ido, l1, cc, ch};
    const int32_t last = ido - 1;
    for (int32_t k = 0; k < l1; ++k) {
        float tr1 = p.in(0, 0, k) - p.in(last, 3, k);
        float tr2 = p.in(0, 0, k) + p.in(last, 3, k);
        float tr3 = p.in(last, 1, k) + p.in(last, 1, k);
        float tr4 = p.in(0, 2, k) + p.in(0, 2, k);
        p.out(0, k, 0) = tr2 + tr3;
        p.out(0, k, 1) = tr1 - tr4;
        p.out(0, k, 2) = tr2 - tr3;
        p.out(0, k, 3) = tr1 + tr4;
    }
    if (ido < 2)
        return;
    if (ido > 2)
        backward4_twiddled(p, wa1, wa2, wa3);
    if (ido % 2 == 1)
        return;
    for (int32_t k = 0; k < l1; ++k) {
        float ti1 = p.in(0, 1, k) + p.in(0, 3, k);
        float ti2 = p.in(0, 3, k) - p.in(0, 1, k);
        float tr1 = p.in(last, 0, k) - p.in(last, 2, k);
        float tr2 = p.in(last, 0, k) + p.in(last, 2, k);
        p.out(last, k, 0) = tr2 + tr2;
        p.out(last, k, 1) = FFT_SQRT2 * (tr1 - ti1);
        p.out(last, k, 2) = ti2 + ti2;
        p.out(last, k, 3) = -FFT_SQRT2 * (tr1 + ti1);
    }
}
