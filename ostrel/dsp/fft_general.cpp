// General odd-radix passes of the real FFT (factors 3 forward, 5, 7, ...).
// The p-point real transform is evaluated directly by the cosine/sine sums
// of the symmetric and antisymmetric input pairs (j, p - j).
#include <math.h>

#include "fft_passes.h"

namespace
{

// Views of the two buffers of one general pass.
struct GeneralPass {
    int32_t ido, ip, l1, idl1;
    float *cc;
    float *ch;
    // cc as the packed side (ido, ip, l1).
    float &packed(int32_t i, int32_t j, int32_t k) const
    {
        return cc[i + ido * (j + ip * k)];
    }
    // cc and ch as the split side (ido, l1, ip).
    float &c1(int32_t i, int32_t k, int32_t j) const
    {
        return cc[i + ido * (k + l1 * j)];
    }
    float &h1(int32_t i, int32_t k, int32_t j) const
    {
        return ch[i + ido * (k + l1 * j)];
    }
    // The same as rows of idl1 values.
    float &c2(int32_t ik, int32_t j) const
    {
        return cc[ik + idl1 * j];
    }
    float &h2(int32_t ik, int32_t j) const
    {
        return ch[ik + idl1 * j];
    }
};

// Real p-point sums over rows: to[l] = from[0] + sum_j cos(2 pi l j / p) from[j],
// to[p - l] = sum_j sin(2 pi l j / p) from[p - j], j and l over 1..(p-1)/2.
template <typename From, typename To> void rotate_sums(const GeneralPass &p, From from, To to)
{
    const float arg = FFT_TWO_PI / (float)p.ip;
    const float dcp = cosf(arg);
    const float dsp = sinf(arg);
    const int32_t half = (p.ip + 1) / 2;
    float ar1 = 1.0f;
    float ai1 = 0.0f;
    for (int32_t l = 1; l < half; ++l) {
        const int32_t lc = p.ip - l;
        float ar1h = dcp * ar1 - dsp * ai1;
        ai1 = dcp * ai1 + dsp * ar1;
        ar1 = ar1h;
        for (int32_t ik = 0; ik < p.idl1; ++ik) {
            to(ik, l) = from(ik, 0) + ar1 * from(ik, 1);
            to(ik, lc) = ai1 * from(ik, p.ip - 1);
        }
        float ar2 = ar1;
        float ai2 = ai1;
        for (int32_t j = 2; j < half; ++j) {
            const int32_t jc = p.ip - j;
            float ar2h = ar1 * ar2 - ai1 * ai2;
            ai2 = ar1 * ai2 + ai1 * ar2;
            ar2 = ar2h;
            for (int32_t ik = 0; ik < p.idl1; ++ik) {
                to(ik, l) += ar2 * from(ik, j);
                to(ik, lc) += ai2 * from(ik, jc);
            }
        }
    }
    for (int32_t j = 1; j < half; ++j)
        for (int32_t ik = 0; ik < p.idl1; ++ik)
            from(ik, 0) += from(ik, j);
}

// Forward, ido > 1: twiddle the inputs into ch, then form the sums and
// differences of the pairs (j, p - j) back in cc.
void forward_twiddle_pairs(const GeneralPass &p, const float *wa)
{
    const int32_t half = (p.ip + 1) / 2;
    for (int32_t ik = 0; ik < p.idl1; ++ik)
        p.h2(ik, 0) = p.c2(ik, 0);
    for (int32_t j = 1; j < p.ip; ++j) {
        const int32_t is = (j - 1) * p.ido;
        for (int32_t k = 0; k < p.l1; ++k) {
            p.h1(0, k, j) = p.c1(0, k, j);
            for (int32_t i = 2; i < p.ido; i += 2) {
                const float wr = wa[is + i - 2], wi = wa[is + i - 1];
                p.h1(i - 1, k, j) = wr * p.c1(i - 1, k, j) + wi * p.c1(i, k, j);
                p.h1(i, k, j) = wr * p.c1(i, k, j) - wi * p.c1(i - 1, k, j);
            }
        }
    }
    for (int32_t j = 1; j < half; ++j) {
        const int32_t jc = p.ip - j;
        for (int32_t k = 0; k < p.l1; ++k) {
            for (int32_t i = 2; i < p.ido; i += 2) {
                p.c1(i - 1, k, j) = p.h1(i - 1, k, j) + p.h1(i - 1, k, jc);
                p.c1(i - 1, k, jc) = p.h1(i, k, j) - p.h1(i, k, jc);
                p.c1(i, k, j) = p.h1(i, k, j) + p.h1(i, k, jc);
                p.c1(i, k, jc) = p.h1(i - 1, k, jc) - p.h1(i - 1, k, j);
            }
        }
    }
}

// Forward: packs the rotated sums of ch into the half-complex groups of cc.
void forward_pack(const GeneralPass &p)
{
    const int32_t half = (p.ip + 1) / 2;
    for (int32_t k = 0; k < p.l1; ++k)
        for (int32_t i = 0; i < p.ido; ++i)
            p.packed(i, 0, k) = p.h1(i, k, 0);
    for (int32_t j = 1; j < half; ++j) {
        const int32_t jc = p.ip - j;
        for (int32_t k = 0; k < p.l1; ++k) {
            p.packed(p.ido - 1, 2 * j - 1, k) = p.h1(0, k, j);
            p.packed(0, 2 * j, k) = p.h1(0, k, jc);
            for (int32_t i = 2; i < p.ido; i += 2) {
                const int32_t ic = p.ido - i;
                p.packed(i - 1, 2 * j, k) = p.h1(i - 1, k, j) + p.h1(i - 1, k, jc);
                p.packed(ic - 1, 2 * j - 1, k) = p.h1(i - 1, k, j) - p.h1(i - 1, k, jc);
                p.packed(i, 2 * j, k) = p.h1(i, k, j) + p.h1(i, k, jc);
                p.packed(ic, 2 * j - 1, k) = p.h1(i, k, jc) - p.h1(i, k, j);
            }
        }
    }
}

// Backward: unpacks the half-complex groups of cc into pair sums in ch.
void backward_unpack(const GeneralPass &p)
{
    const int32_t half = (p.ip + 1) / 2;
    for (int32_t k = 0; k < p.l1; ++k)
        for (int32_t i = 0; i < p.ido; ++i)
            p.h1(i, k, 0) = p.packed(i, 0, k);
    for (int32_t j = 1; j < half; ++j) {
        const int32_t jc = p.ip - j;
        for (int32_t k = 0; k < p.l1; ++k) {
            p.h1(0, k, j) = p.packed(p.ido - 1, 2 * j - 1, k) + p.packed(p.ido - 1, 2 * j - 1, k);
            p.h1(0, k, jc) = p.packed(0, 2 * j, k) + p.packed(0, 2 * j, k);
            for (int32_t i = 2; i < p.ido; i += 2) {
                const int32_t ic = p.ido - i;
                p.h1(i - 1, k, j) = p.packed(i - 1, 2 * j, k) + p.packed(ic - 1, 2 * j - 1, k);
                p.h1(i - 1, k, jc) = p.packed(i - 1, 2 * j, k) - p.packed(ic - 1, 2 * j - 1, k);
                p.h1(i, k, j) = p.packed(i, 2 * j, k) - p.packed(ic, 2 * j - 1, k);
                p.h1(i, k, jc) = p.packed(i, 2 * j, k) + p.packed(ic, 2 * j - 1, k);
            }
        }
    }
}

// Backward: recombines the pair sums of cc into outputs j and p - j in ch,
// then (ido > 1) twiddles them back into cc.
void backward_split_twiddle(const GeneralPass &p, const float *wa)
{
    const int32_t half = (p.ip + 1) / 2;
    for (int32_t j = 1; j < half; ++j) {
        const int32_t jc = p.ip - j;
        for (int32_t k = 0; k < p.l1; ++k) {
            p.h1(0, k, j) = p.c1(0, k, j) - p.c1(0, k, jc);
            p.h1(0, k, jc) = p.c1(0, k, j) + p.c1(0, k, jc);
            for (int32_t i = 2; i < p.ido; i += 2) {
                p.h1(i - 1, k, j) = p.c1(i - 1, k, j) - p.c1(i, k, jc);
                p.h1(i - 1, k, jc) = p.c1(i - 1, k, j) + p.c1(i, k, jc);
                p.h1(i, k, j) = p.c1(i, k, j) + p.c1(i - 1, k, jc);
                p.h1(i, k, jc) = p.c1(i, k, j) - p.c1(i - 1, k, jc);
            }
        }
    }
    if (p.ido == 1)
        return;
    for (int32_t ik = 0; ik < p.idl1; ++ik)
        p.c2(ik, 0) = p.h2(ik, 0);
    for (int32_t j = 1; j < p.ip; ++j) {
        const int32_t is = (j - 1) * p.ido;
        for (int32_t k = 0; k < p.l1; ++k) {
            p.c1(0, k, j) = p.h1(0, k, j);
            for (int32_t i = 2; i < p.ido; i += 2) {
                const float wr = wa[is + i - 2], wi = wa[is + i - 1];
                p.c1(i - 1, k, j) = wr * p.h1(i - 1, k, j) - wi * p.h1(i, k, j);
                p.c1(i, k, j) = wr * p.h1(i, k, j) + wi * p.h1(i - 1, k, j);
            }
        }
    }
}

} // namespace

void dradfg(int32_t ido, int32_t ip, int32_t l1, int32_t idl1, float *cc, float *ch,
            const float *wa)
{
    const GeneralPass p = {ido, ip, l1, idl1, cc, ch};
    const int32_t half = (ip + 1) / 2;
    if (ido > 1) {
        forward_twiddle_pairs(p, wa);
    } else {
        for (int32_t ik = 0; ik < idl1; ++ik)
            p.c2(ik, 0) = p.h2(ik, 0);
    }
    for (int32_t j = 1; j < half; ++j) {
        const int32_t jc = ip - j;
        for (int32_t k = 0; k < l1; ++k) {
            p.c1(0, k, j) = p.h1(0, k, j) + p.h1(0, k, jc);
            p.c1(0, k, jc) = p.h1(0, k, jc) - p.h1(0, k, j);
        }
    }
    rotate_sums(
        p, [&](int32_t ik, int32_t j) -> float & { return p.c2(ik, j); },
        [&](int32_t ik, int32_t j) -> float & { return p.h2(ik, j); });
    // rotate_sums accumulated the plain sum into c2 row 0; the packed output
    // reads row 0 from ch.
    for (int32_t ik = 0; ik < idl1; ++ik)
        p.h2(ik, 0) = p.c2(ik, 0);
    forward_pack(p);
}

void dradbg(int32_t ido, int32_t ip, int32_t l1, int32_t idl1, float *cc, float *ch,
            const float *wa)
{
    const GeneralPass p = {ido, ip, l1, idl1, cc, ch};
    backward_unpack(p);
    rotate_sums(
        p, [&](int32_t ik, int32_t j) -> float & { return p.h2(ik, j); },
        [&](int32_t ik, int32_t j) -> float & { return p.c2(ik, j); });
    backward_split_twiddle(p, wa);
}
