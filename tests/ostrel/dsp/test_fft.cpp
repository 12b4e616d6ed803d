// Real FFT against a naive double-precision DFT, inverse after forward, and
// the exact spectra of simple signals.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "fft.h"

namespace
{

std::vector<float> random_signal(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& s : v)
        s = u(rng);
    return v;
}

// Half-complex spectrum X_k / n of x, computed slowly in double.
std::vector<double> naive_half_complex(const std::vector<float>& x)
{
    const int n = (int)x.size();
    std::vector<double> hc(n, 0.0);
    for (int k = 0; k <= n / 2; ++k) {
        double re = 0.0, im = 0.0;
        for (int j = 0; j < n; ++j) {
            double phase = 2.0 * M_PI * (double)((long)j * k % n) / n;
            re += x[j] * std::cos(phase);
            im -= x[j] * std::sin(phase);
        }
        if (k == 0)
            hc[0] = re / n;
        else if (2 * k == n)
            hc[n - 1] = re / n;
        else {
            hc[2 * k - 1] = re / n;
            hc[2 * k] = im / n;
        }
    }
    return hc;
}

double snr_db(const std::vector<double>& ref, const std::vector<float>& got)
{
    double signal = 0.0, noise = 0.0;
    for (size_t i = 0; i < ref.size(); ++i) {
        signal += ref[i] * ref[i];
        noise += (got[i] - ref[i]) * (got[i] - ref[i]);
    }
    return 10.0 * std::log10(signal / (noise + 1e-300));
}

struct Table {
    FftTable t{};
    explicit Table(int n) { fft_table_init(&t, n); }
};

std::vector<int32_t> factors_of(const FftTable& t)
{
    return std::vector<int32_t>(t.factors + 2, t.factors + 2 + t.factors[1]);
}

} // namespace

TEST(Fft, FactorListsFollowTheTrialOrderWithTwoFirst)
{
    EXPECT_EQ(factors_of(Table(256).t), (std::vector<int32_t>{4, 4, 4, 4}));
    EXPECT_EQ(Table(256).t.factors[0], 256);
    EXPECT_EQ(factors_of(Table(32).t), (std::vector<int32_t>{2, 4, 4}));
    EXPECT_EQ(factors_of(Table(24).t), (std::vector<int32_t>{2, 4, 3}));
    EXPECT_EQ(factors_of(Table(6).t), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(factors_of(Table(210).t), (std::vector<int32_t>{2, 3, 5, 7}));
    EXPECT_EQ(factors_of(Table(1).t), (std::vector<int32_t>{}));
    EXPECT_EQ(sizeof(FftTable), 801u * 4u);
}

// Every pass kernel: radix 4 (256, 64), radix 2 (2, 8, 32, 128), backward
// radix 3 and forward general 3 (3, 6, 12, 24, 96, 192, 243), general 5, 7,
// 11 and larger primes (5, 10, 49, 77, 121, 210, 250, 253), and one general
// pass of radix 251, which is less accurate.
TEST(Fft, ForwardMatchesNaiveDftAndInverseRestores)
{
    const int lengths[] = {256, 64, 2,  8,  32, 128, 3,   6,   12,  24,  96,  192,
                           243, 5,  10, 25, 49, 77,  121, 210, 250, 253, 255, 251};
    for (int n : lengths) {
        SCOPED_TRACE(n);
        const double min_snr_db = n == 251 ? 70.0 : 110.0;
        Table table(n);
        std::vector<float> x = random_signal(n, n == 251 ? 7u : (unsigned)n);
        std::vector<float> spectrum(n), back(n);
        fft(&table.t, x.data(), spectrum.data());
        EXPECT_GT(snr_db(naive_half_complex(x), spectrum), min_snr_db);
        ifft(&table.t, spectrum.data(), back.data());
        EXPECT_GT(snr_db(std::vector<double>(x.begin(), x.end()), back), min_snr_db);
    }
}

TEST(Fft, SimpleSignalsHaveExactSpectra)
{
    const int n = 256;
    Table table(n);
    std::vector<float> x(n), X(n);
    auto expect_only = [&](int index, float value) {
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR(X[i], i == index ? value : 0.0f, 1e-6f) << "element " << i;
    };

    std::fill(x.begin(), x.end(), 3.25f);
    fft(&table.t, x.data(), X.data());
    expect_only(0, 3.25f);

    for (int j = 0; j < n; ++j)
        x[j] = (float)std::cos(2.0 * M_PI * j * 3 / n);
    fft(&table.t, x.data(), X.data());
    expect_only(5, 0.5f);

    for (int j = 0; j < n; ++j)
        x[j] = (float)std::sin(2.0 * M_PI * j * 3 / n);
    fft(&table.t, x.data(), X.data());
    expect_only(6, -0.5f);

    for (int j = 0; j < n; ++j)
        x[j] = (j % 2) ? -1.0f : 1.0f;
    fft(&table.t, x.data(), X.data());
    expect_only(255, 1.0f);

    // In place gives the same as out of place.
    std::vector<float> y = random_signal(n, 3), separate(n);
    fft(&table.t, y.data(), separate.data());
    fft(&table.t, y.data(), y.data());
    EXPECT_EQ(y, separate);
}

// Length 1 scales by one and copies; a length outside the table leaves an
// empty table that transforms nothing.
TEST(Fft, LengthOneCopiesAndLengthsOutsideTheTableAreRejected)
{
    Table table(1);
    float in = 2.5f, out = 0.0f;
    fft(&table.t, &in, &out);
    EXPECT_EQ(out, 2.5f);
    out = 0.0f;
    ifft(&table.t, &in, &out);
    EXPECT_EQ(out, 2.5f);

    Table too_long(512);
    EXPECT_EQ(too_long.t.n, 0);
    float data[4] = {1, 2, 3, 4};
    fft(&too_long.t, data, data); // no transform, nothing written
    EXPECT_EQ(data[3], 4.0f);
}
