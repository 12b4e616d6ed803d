// Filter bank: partition of unity, monotonic band layout, energy kept by the
// band sums, constant bands interpolated back unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filterbank.h"

namespace
{

FilterBank make_bank()
{
    FilterBank bank;
    EXPECT_EQ(&bank, filterbank_new(&bank, 24, 16000.0f, 128, 1));
    return bank;
}

} // namespace

TEST(FilterBank, WeightsSumToOneAndBandsRiseWithFrequency)
{
    const FilterBank bank = make_bank();
    EXPECT_EQ(2152u, sizeof(FilterBank));
    EXPECT_EQ(sizeof(FilterBank), filterbank_memory_size());
    EXPECT_EQ(24, bank.nb_banks);
    EXPECT_EQ(128, bank.len);

    // Bin 0 lies on the first band; the top bin leans on the last two.
    EXPECT_EQ(0, bank.bank_left[0]);
    EXPECT_FLOAT_EQ(1.0f, bank.filter_left[0]);
    EXPECT_GE(bank.bank_left[127], 21);

    double previous_position = -1.0;
    for (int i = 0; i < 128; i++) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(1.0, bank.filter_left[i] + bank.filter_right[i], 1e-6);
        EXPECT_GE(bank.filter_left[i], 0.0f);
        EXPECT_GE(bank.filter_right[i], 0.0f);
        EXPECT_GE(bank.bank_left[i], 0);
        EXPECT_LE(bank.bank_left[i], 22);
        EXPECT_EQ(bank.bank_left[i] + 1, bank.bank_right[i]);
        // Position on the band axis grows strictly with the bin frequency.
        const double position = bank.bank_left[i] + bank.filter_right[i];
        EXPECT_GT(position, previous_position);
        previous_position = position;
    }
}

TEST(FilterBank, BandsConserveEnergyAndInterpolateBack)
{
    const FilterBank bank = make_bank();
    std::vector<float> bins(128), bands(24), back(128);
    double total_in = 0.0, total_out = 0.0;
    for (int i = 0; i < 128; i++) {
        bins[i] = static_cast<float>(1.0 + 1000.0 * std::fabs(std::sin(0.37 * i)));
        total_in += bins[i];
    }
    filterbank_compute_bank32(&bank, bins.data(), bands.data());
    for (float band : bands)
        total_out += band;
    EXPECT_NEAR(total_in, total_out, 1e-5 * total_in); // only redistributed

    // Constant bands interpolate to the same constant in every bin.
    std::vector<float> flat(24, 0.25f);
    filterbank_compute_psd16(&bank, flat.data(), back.data());
    for (int i = 0; i < 128; i++)
        EXPECT_NEAR(0.25f, back[i], 1e-6f);
}

TEST(FilterBank, RejectsUnusableArguments)
{
    FilterBank bank;
    EXPECT_EQ(nullptr, filterbank_new(nullptr, 24, 16000.0f, 128, 1));
    EXPECT_EQ(nullptr, filterbank_new(&bank, 25, 16000.0f, 128, 1));
    EXPECT_EQ(nullptr, filterbank_new(&bank, 1, 16000.0f, 128, 1));
    EXPECT_EQ(nullptr, filterbank_new(&bank, 24, 16000.0f, 129, 1));
    EXPECT_EQ(nullptr, filterbank_new(&bank, 24, 0.0f, 128, 1));
    EXPECT_EQ(nullptr, filterbank_new(&bank, 24, NAN, 128, 1));
}
