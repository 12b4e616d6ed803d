// Real FFT: transform table, factorisation, twiddles, the forward and backward
// drivers over the pass kernels, and the scaled fft / unscaled ifft wrappers.
#include "fft.h"

#include <math.h>
#include <string.h>

#include "fft_passes.h"

namespace
{

// Appends the factors of n in trial order 4, 2, 3, 5, 7, 9, ...; a 2 found
// after other factors goes to the front so that it runs first backward.
int32_t factorise(int32_t n, int32_t *factors)
{
    static const int32_t first_trials[4] = {4, 2, 3, 5};
    int32_t remaining = n;
    int32_t count = 0;
    int32_t trial_index = 0;
    int32_t divisor = 0;
    while (remaining != 1) {
        divisor = trial_index < 4 ? first_trials[trial_index] : divisor + 2;
        ++trial_index;
        while (remaining % divisor == 0) {
            remaining /= divisor;
            factors[2 + count] = divisor;
            ++count;
            if (divisor == 2 && count != 1) {
                for (int32_t i = count - 1; i > 0; --i)
                    factors[2 + i] = factors[1 + i];
                factors[2] = 2;
            }
        }
    }
    factors[0] = n;
    factors[1] = count;
    return count;
}

// Moves the result of the passes back into data when it ended in work.
void finish_in_data(int32_t n, bool result_in_work, float *data, const float *work)
{
    if (result_in_work)
        memcpy(data, work, (size_t)n * sizeof(float));
}

} // namespace

extern "C" {

void drfti1(int32_t n, float *twiddles, int32_t *factors)
{
    int32_t count = factorise(n, factors);
    const float argh = FFT_TWO_PI / (float)n;
    int32_t is = 0;
    int32_t l1 = 1;
    for (int32_t f = 0; f < count - 1; ++f) {
        int32_t ip = factors[2 + f];
        int32_t l2 = l1 * ip;
        int32_t ido = n / l2;
        for (int32_t j = 1; j < ip; ++j) {
            float argld = (float)(j * l1) * argh;
            for (int32_t fi = 1; 2 * fi < ido; ++fi) {
                float arg = (float)fi * argld;
                twiddles[is + 2 * fi - 2] = (float)cos((double)arg);
                twiddles[is + 2 * fi - 1] = (float)sin((double)arg);
            }
            is += ido;
        }
        l1 = l2;
    }
}

void drftf1(int32_t n, float *data, float *work, const float *twiddles, const int32_t *factors)
{
    int32_t count = factors[1];
    bool in_data = true; // where the current input of the next pass lies
    int32_t l2 = n;
    int32_t iw = n;
    for (int32_t f = count - 1; f >= 0; --f) {
        int32_t ip = factors[2 + f];
        int32_t l1 = l2 / ip;
        int32_t ido = n / l2;
        int32_t idl1 = ido * l1;
        iw -= (ip - 1) * ido;
        const float *wa = twiddles + iw - 1;
        float *in = in_data ? data : work;
        float *out = in_data ? work : data;
        if (ip == 4) {
            dradf4(ido, l1, in, out, wa, wa + ido, wa + 2 * ido);
            in_data = !in_data;
        } else if (ip == 2) {
            dradf2(ido, l1, in, out, wa);
            in_data = !in_data;
        } else if (ido == 1) {
            // The general pass takes its input from its second buffer here.
            dradfg(ido, ip, l1, idl1, out, in, wa);
            in_data = !in_data;
        } else {
            dradfg(ido, ip, l1, idl1, in, out, wa);
        }
        l2 = l1;
    }
    finish_in_data(n, !in_data, data, work);
}

void drftb1(int32_t n, float *data, float *work, const float *twiddles, const int32_t *factors)
{
    int32_t count = factors[1];
    bool in_data = true;
    int32_t l1 = 1;
    int32_t iw = 1;
    for (int32_t f = 0; f < count; ++f) {
        int32_t ip = factors[2 + f];
        int32_t l2 = ip * l1;
        int32_t ido = n / l2;
        int32_t idl1 = ido * l1;
        const float *wa = twiddles + iw - 1;
        float *in = in_data ? data : work;
        float *out = in_data ? work : data;
        if (ip == 4) {
            dradb4(ido, l1, in, out, wa, wa + ido, wa + 2 * ido);
            in_data = !in_data;
        } else if (ip == 2) {
            dradb2(ido, l1, in, out, wa);
            in_data = !in_data;
        } else if (ip == 3) {
            dradb3(ido, l1, in, out, wa, wa + ido);
            in_data = !in_data;
        } else {
            dradbg(ido, ip, l1, idl1, in, out, wa);
            if (ido == 1)
                in_data = !in_data;
        }
        l1 = l2;
        iw += (ip - 1) * ido;
    }
    finish_in_data(n, !in_data, data, work);
}

void fft_table_init(FftTable *table, int32_t n)
{
    if (n < 1 || n > FFT_MAX_LENGTH) {
        table->n = 0; // rejected: fft and ifft leave their output alone
        return;
    }
    table->n = n;
    drfti1(n, fft_table_twiddles(table), table->factors);
}

float *fft_table_work(FftTable *table)
{
    return table->area;
}

float *fft_table_twiddles(FftTable *table)
{
    return table->area + table->n;
}

void fft(FftTable *table, const float *in, float *out)
{
    int32_t n = table->n;
    if (n < 1 || n > FFT_MAX_LENGTH)
        return;
    const float scale = (float)(1.0 / (double)n);
    for (int32_t i = 0; i < n; ++i)
        out[i] = scale * in[i];
    if (n == 1)
        return;
    drftf1(n, out, fft_table_work(table), fft_table_twiddles(table), table->factors);
}

void ifft(FftTable *table, const float *in, float *out)
{
    int32_t n = table->n;
    if (n < 1 || n > FFT_MAX_LENGTH)
        return;
    if (in != out)
        memcpy(out, in, (size_t)n * sizeof(float));
    if (n == 1)
        return;
    drftb1(n, out, fft_table_work(table), fft_table_twiddles(table), table->factors);
}

} // extern "C"
