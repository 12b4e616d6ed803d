// Field decimator against a slow double-precision model of the same chain
// (sixth-order comb of factor 8 on bits valued -1 / +1, binomial halvings,
// the FIR with the stored coefficients, DC blocker, volume): the integer
// implementation rounds only at the halvings and the FIR output, 9 bits
// below the output LSB, so it stays within 1 LSB of the model. Checked for
// a plan of each shape (no halving with a factor of 3, one halving with 5,
// two halvings), for interleaved bytes and for byte-swapped 16-bit words,
// and at a volume that needs saturation. The first 3 ms fade in.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "field_decimator.h"
#include "test_interface_support.h"

namespace
{

std::vector<double> modelOutput(const std::vector<int>& bits, uint32_t khz, uint32_t volume_db)
{
    const FieldDecimatorPlan& plan = kFieldDecimatorPlans[field_decimator_plan(khz)];
    std::vector<double> box(8, 1.0), kernel = box;
    for (int i = 0; i < 5; ++i) {
        std::vector<double> k(kernel.size() + 7, 0.0);
        for (size_t a = 0; a < kernel.size(); ++a)
            for (size_t b = 0; b < 8; ++b)
                k[a + b] += kernel[a];
        kernel = k;
    }
    // Comb at the byte ends; the decimator starts from five bytes of
    // alternating bits (the mid-level), the later stages from zeros.
    std::vector<int> padded;
    for (int i = 0; i < 40; ++i)
        padded.push_back(i % 2 ? 1 : -1);
    padded.insert(padded.end(), bits.begin(), bits.end());
    std::vector<double> x;
    for (size_t end = 47; end < padded.size(); end += 8) {
        double acc = 0.0;
        for (size_t i = 0; i < kernel.size(); ++i)
            acc += kernel[i] * padded[end - i];
        x.push_back(acc);
    }
    const double binomial[7] = {1, 6, 15, 20, 15, 6, 1};
    for (uint32_t s = 0; s < plan.halvings; ++s) {
        std::vector<double> y;
        for (size_t n = 1; n < x.size(); n += 2) {
            double acc = 0.0;
            for (size_t k = 0; k < 7 && k <= n; ++k)
                acc += binomial[k] * x[n - k];
            y.push_back(acc / 8.0);
        }
        x = y;
    }
    std::vector<double> taps(plan.taps);
    for (uint32_t n = 0; n < plan.taps; ++n)
        taps[n] = plan.half_taps[n <= plan.taps / 2 ? n : plan.taps - 1 - n];
    std::vector<double> out;
    double dc_in = 0.0, dc_out = 0.0;
    const double volume = std::pow(10.0, volume_db / 20.0);
    for (size_t end = plan.factor - 1; end < x.size(); end += plan.factor) {
        double acc = 0.0;
        for (size_t n = 0; n < plan.taps && n <= end; ++n)
            acc += taps[n] * x[end - n];
        const double r = acc / double(1 << 24);
        dc_out = r - dc_in + (1.0 - 1.0 / 256.0) * dc_out;
        dc_in = r;
        out.push_back(std::max(-32768.0, std::min(32767.0, dc_out * volume / 512.0)));
    }
    return out;
}

void checkAgainstModel(uint32_t khz, bool swapped_words, uint32_t volume_db, double level)
{
    const size_t per_ms = khz / 8, calls = 40;
    const std::vector<uint8_t> time_order = veldra_test::sigma_delta(per_ms * calls, [&](double n) {
        const double t = n / (khz * 1000.0);
        return level *
               (0.7 * std::sin(2 * M_PI * 437.0 * t) + 0.3 * std::sin(2 * M_PI * 5100.0 * t));
    });
    std::vector<int> bits;
    for (uint8_t b : time_order)
        for (int k = 7; k >= 0; --k)
            bits.push_back((b >> k) & 1 ? 1 : -1);
    const std::vector<double> expected = modelOutput(bits, khz, volume_db);

    // Interleaved with another microphone (stride 2), or 16-bit words whose
    // higher-addressed byte is the earlier one (stride 1, byte swap).
    std::vector<uint8_t> buffer(swapped_words ? time_order.size() : 2 * time_order.size(), 0xFF);
    for (size_t i = 0; i < time_order.size(); ++i)
        buffer[swapped_words ? (i ^ 1u) : 2 * i] = time_order[i];
    auto dec = std::make_unique<FieldDecimator>();
    ASSERT_EQ(field_decimator_init(dec.get(), khz, swapped_words ? 1 : 2, 1, volume_db), 0u);
    const size_t stride_bytes = swapped_words ? per_ms : 2 * per_ms;
    double worst = 0.0;
    for (size_t c = 0; c < calls; ++c) {
        int16_t out[16];
        field_decimate(&buffer[c * stride_bytes], out, dec.get());
        if (c == 0) {
            EXPECT_EQ(out[0], 0); // the output fades in
        }
        for (size_t i = 0; i < 16; ++i)
            if (c * 16 + i >= FIELD_START_RAMP)
                worst = std::max(worst, std::fabs(out[i] - expected[c * 16 + i]));
    }
    EXPECT_LE(worst, 1.0) << khz << " kHz";
}

TEST(FieldDecimator, MatchesTheDoublePrecisionModel)
{
    checkAgainstModel(384, false, 0, 0.5);
    checkAgainstModel(1280, true, 6, 0.5);
    checkAgainstModel(2048, true, 0, 0.5);
    checkAgainstModel(1024, false, 20, 0.5); // saturates
}

TEST(FieldDecimator, UnknownClockGivesSilence)
{
    auto dec = std::make_unique<FieldDecimator>();
    EXPECT_EQ(field_decimator_init(dec.get(), 16, 1, 1, 0), 1u);
    const std::vector<uint8_t> ones(256, 0xFF);
    int16_t out[16];
    std::fill(out, out + 16, int16_t(7));
    field_decimate(ones.data(), out, dec.get());
    for (int16_t v : out)
        EXPECT_EQ(v, 0);
}

} // namespace
