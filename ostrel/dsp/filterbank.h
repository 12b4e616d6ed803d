/* Filter bank of the noise suppressor: maps 128 linear frequency bins onto
 * 24 overlapping bands on a perceptual (Bark-like) scale and back again.
 * Every bin feeds two neighbouring bands with weights that sum to 1. */
#ifndef OSTREL_DSP_FILTERBANK_H
#define OSTREL_DSP_FILTERBANK_H

#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FILTERBANK_MAX_BINS 128
#define FILTERBANK_MAX_BANDS 24

/* 2152 bytes; lives in caller-owned memory, built by filterbank_new. */
typedef struct FilterBank {
    int32_t bank_left[FILTERBANK_MAX_BINS];  /* lower band of each bin */
    int32_t bank_right[FILTERBANK_MAX_BINS]; /* upper band, bank_left + 1 */
    float filter_left[FILTERBANK_MAX_BINS];  /* weight towards bank_left */
    float filter_right[FILTERBANK_MAX_BINS]; /* weight towards bank_right */
    float band_table[FILTERBANK_MAX_BANDS];  /* reserved per-band table */
    int32_t nb_banks;                        /* band count */
    int32_t len;                             /* bin count */
} FilterBank;

/* Bytes filterbank_new needs at `memory` (4-byte aligned). */
size_t filterbank_memory_size(void);

/* Builds the bank in `memory` for `bands` bands (2..24) over `bins` linear
 * bins (1..128) covering 0..sampling_rate/2. `type` is accepted and ignored.
 * Returns the bank, or NULL for a null memory pointer, counts out of range
 * or a sampling rate that is not positive. */
FilterBank *filterbank_new(void *memory, int32_t bands, float sampling_rate, int32_t bins,
                           int32_t type);

/* bands_out[0..nb_banks-1] = weighted sums of bins_in[0..len-1]. */
void filterbank_compute_bank32(const FilterBank *bank, const float *bins_in, float *bands_out);

/* bins_out[0..len-1] = interpolation of bands_in[0..nb_banks-1]. */
void filterbank_compute_psd16(const FilterBank *bank, const float *bands_in, float *bins_out);

#ifdef __cplusplus
}
#endif

#endif
