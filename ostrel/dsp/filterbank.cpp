// Filter bank of the noise suppressor: linear bins to perceptual bands.
#include "filterbank.h"

#include <math.h>
#include <string.h>

namespace
{

// Perceptual frequency scale (Bark-like), evaluated in double.
double bark(double f)
{
    return 13.1 * atan(0.00074 * f) + 2.24 * atan(1.85e-8 * f * f) + 0.0001 * f;
}

} // namespace

extern "C" size_t filterbank_memory_size(void)
{
    return sizeof(FilterBank);
}

extern "C" FilterBank *filterbank_new(void *memory, int32_t bands, float sampling_rate,
                                      int32_t bins, int32_t type)
{
    (void)type;
    if (memory == NULL || bands < 2 || bands > FILTERBANK_MAX_BANDS || bins < 1 ||
        bins > FILTERBANK_MAX_BINS || !(sampling_rate > 0.0f))
        return NULL;

    FilterBank *bank = static_cast<FilterBank *>(memory);
    memset(bank, 0, sizeof(*bank));
    bank->nb_banks = bands;
    bank->len = bins;

    const double rate = sampling_rate;
    const double top = bark(rate / 2.0);
    const double step = top / (bands - 1);
    for (int32_t i = 0; i < bins; i++) {
        const double f = i * rate / (2.0 * bins);
        const double v = bark(f);
        if (v > top)
            break; // bins above the top band keep zero weights
        int32_t k = static_cast<int32_t>(floor(v / step));
        double phi;
        if (k > bands - 2) {
            k = bands - 2;
            phi = 1.0;
        } else {
            phi = (v - k * step) / step;
        }
        bank->bank_left[i] = k;
        bank->bank_right[i] = k + 1;
        bank->filter_left[i] = static_cast<float>(1.0 - phi);
        bank->filter_right[i] = static_cast<float>(phi);
    }
    return bank;
}

extern "C" void filterbank_compute_bank32(const FilterBank *bank, const float *bins_in,
                                          float *bands_out)
{
    for (int32_t b = 0; b < bank->nb_banks; b++)
        bands_out[b] = 0.0f;
    for (int32_t i = 0; i < bank->len; i++) {
        bands_out[bank->bank_left[i]] += bank->filter_left[i] * bins_in[i];
        bands_out[bank->bank_right[i]] += bank->filter_right[i] * bins_in[i];
    }
}

extern "C" void filterbank_compute_psd16(const FilterBank *bank, const float *bands_in,
                                         float *bins_out)
{
    for (int32_t i = 0; i < bank->len; i++)
        bins_out[i] = bands_in[bank->bank_left[i]] * bank->filter_left[i] +
                      bands_in[bank->bank_right[i]] * bank->filter_right[i];
}
