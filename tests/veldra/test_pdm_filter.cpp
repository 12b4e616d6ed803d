// Decimation filter against a slow reference: the bit stream through a
// bit-by-bit third-order comb (the cubed D-tap box), then mid-level removal,
// the documented high-pass, the volume in double precision and saturation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pdm_filter.h"
#include "test_interface_support.h"

namespace
{

struct FactorInfo {
    uint16_t code;
    int factor;
};
const FactorInfo kFactors[] = {{5, 16}, {6, 24}, {7, 32}, {1, 48}, {2, 64}, {3, 80}, {4, 128}};

const PdmFilterKernel kSingleChannelKernel[8] = {nullptr,
                                                 D48_1CH_HTONS_VOL_HP,
                                                 D64_1CH_HTONS_VOL_HP,
                                                 D80_1CH_HTONS_VOL_HP,
                                                 D128_1CH_HTONS_VOL_HP,
                                                 D16_1CH_HTONS_VOL_HP,
                                                 D24_1CH_HTONS_VOL_HP,
                                                 D32_1CH_HTONS_VOL_HP};
const PdmFilterKernel kGenericKernel[8] = {nullptr,      D48_GENERIC, D64_GENERIC, D80_GENERIC,
                                           D128_GENERIC, D16_GENERIC, D24_GENERIC, D32_GENERIC};

// Time-ordered PDM bytes: a loud sine through a sigma-delta modulator, or
// plain random bits.
std::vector<uint8_t> makeStream(size_t bytes, bool random_bits, double amplitude)
{
    if (!random_bits)
        return veldra_test::sigma_delta(
            bytes, [&](double t) { return amplitude * std::sin(2.0 * M_PI * t / 1500.0); });
    std::vector<uint8_t> out(bytes);
    uint32_t seed = 12345u;
    for (uint8_t& v : out) {
        for (int k = 0; k < 8; ++k) {
            seed = seed * 1664525u + 1013904223u;
            v = uint8_t((v << 1) | ((seed >> 31) & 1));
        }
    }
    return out;
}

// Bit-by-bit reference of the whole chain for a continuous stream.
std::vector<int> referenceOutput(const std::vector<uint8_t>& stream, int factor, int gain_db,
                                 bool high_pass)
{
    const int taps = 3 * factor - 2;
    std::vector<int64_t> box(taps, 0);
    {
        std::vector<int64_t> one(factor, 1), two(2 * factor - 1, 0);
        for (int i = 0; i < factor; ++i)
            for (int j = 0; j < factor; ++j)
                two[i + j] += one[i] * one[j];
        for (int i = 0; i < 2 * factor - 1; ++i)
            for (int j = 0; j < factor; ++j)
                box[i + j] += two[i];
    }
    auto bit = [&](long t) -> int64_t {
        if (t < 0)
            return 0;
        return (stream[t / 8] >> (7 - t % 8)) & 1;
    };
    const long samples = long(stream.size() * 8 / factor);
    const double cube = double(factor) * factor * factor;
    const double n = 262144.0 / cube; // (64 / D)^3
    const double volume = std::pow(10.0, gain_db / 20.0);
    std::vector<int> out;
    int64_t y_prev = 0, x_prev = 0;
    for (long m = 0; m < samples; ++m) {
        const long last = long(factor) * (m + 1) - 2; // one bit before period end
        int64_t x = 0;
        for (int j = 0; j < taps; ++j)
            x += box[j] * bit(last - j);
        x -= int64_t(cube) / 2;
        int64_t y = x;
        if (high_pass) {
            const int64_t r = y_prev + x - x_prev;
            y = 2 * ((r * int64_t(0x73333332)) >> 32);
            y_prev = y;
            x_prev = x;
        }
        const double v = std::floor(volume * n * double(y) / 4.0 + 0.5);
        out.push_back(int(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return out;
}

// Places time-ordered bytes into a call's buffer at a stride, with the
// 16-bit word swap (a lone trailing byte stays in place).
void packCall(const uint8_t* time_ordered, size_t count, int stride, bool swap,
              std::vector<uint8_t>& buffer)
{
    buffer.assign(count * stride, 0xEE);
    for (size_t t = 0; t < count; ++t) {
        size_t at = t * stride;
        if (stride == 1 && swap)
            at = (t % 2 == 0) ? (t + 1 < count ? t + 1 : t) : t - 1;
        buffer[at] = time_ordered[t];
    }
}

PdmFilterRecord makeRecord(int stride, int swap)
{
    PdmFilterRecord rec;
    std::memset(&rec, 0x5A, sizeof rec);
    rec.bit_order = 0;
    rec.byte_swap = uint16_t(swap);
    rec.hp_coefficient = 0;
    rec.in_stride = uint16_t(stride);
    rec.out_stride = 1;
    return rec;
}

} // namespace

TEST(PdmFilter, LaneTableMatchesItsDefinition)
{
    const int K[24] = {0,  1,  3,  6,  10, 15, 21, 28, 36, 42, 46, 48,
                       48, 46, 42, 36, 28, 21, 15, 10, 6,  3,  1,  0};
    for (int v = 0; v < 256; ++v) {
        for (int lane = 0; lane < 3; ++lane) {
            int expected = 0;
            for (int k = 0; k < 8; ++k)
                expected += ((v >> k) & 1) * K[8 * lane + k];
            EXPECT_EQ(int((T_0_1_2[v] >> (10 * lane)) & 0x3FF), expected) << v << " " << lane;
        }
        EXPECT_EQ(T_0_1_2[v] >> 30, 0u);
    }
}

// Every factor, stride and byte swap, in calls of 16 samples (and an odd
// count per call to exercise a swapped buffer of odd length), against one
// continuous reference run.
TEST(PdmFilter, KernelsMatchBitByBitReferenceAcrossCalls)
{
    struct Layout {
        int stride, swap;
        uint16_t samples;
    };
    const Layout layouts[] = {{1, 0, 16}, {1, 1, 16}, {2, 0, 16}, {2, 1, 16},
                              {3, 0, 16}, {1, 1, 5},  {2, 1, 7}};
    const int calls = 12;
    for (const FactorInfo& f : kFactors) {
        for (const Layout& l : layouts) {
            for (int variant = 0; variant < 2; ++variant) {
                const bool random_bits = variant == 0;
                const int gain = random_bits ? 12 : 33; // the sine at 33 dB saturates
                const size_t per_call = size_t(l.samples) * f.factor / 8;
                const std::vector<uint8_t> stream = makeStream(per_call * calls, random_bits, 0.6);
                const std::vector<int> expected = referenceOutput(stream, f.factor, gain, true);

                PdmFilterRecord rec = makeRecord(l.stride, l.swap);
                ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
                PdmFilterConfig cfg = {f.code, l.samples, int16_t(gain)};
                ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
                const bool single = l.stride == 1 && l.swap == 1;
                EXPECT_EQ(PDM_Filter_selectedKernel(&rec),
                          single ? kSingleChannelKernel[f.code] : kGenericKernel[f.code]);

                std::vector<int16_t> got;
                std::vector<uint8_t> buffer;
                bool saturated = false;
                for (int c = 0; c < calls; ++c) {
                    packCall(&stream[c * per_call], per_call, l.stride, l.swap != 0, buffer);
                    std::vector<int16_t> out(l.samples + 1, 0x7777);
                    ASSERT_EQ(PDM_Filter(buffer.data(), out.data(), &rec), 0u);
                    EXPECT_EQ(out[l.samples], 0x7777) << "wrote past the call's samples";
                    got.insert(got.end(), out.begin(), out.begin() + l.samples);
                }
                ASSERT_EQ(got.size(), expected.size());
                int worst = 0;
                for (size_t i = 0; i < got.size(); ++i) {
                    worst = std::max(worst, std::abs(got[i] - expected[i]));
                    saturated |= got[i] == 32767 || got[i] == -32768;
                }
                EXPECT_LE(worst, 1)
                    << "factor " << f.factor << " stride " << l.stride << " swap " << l.swap
                    << " samples " << l.samples << (random_bits ? " random" : " sine");
                if (!random_bits && l.samples == 16) {
                    EXPECT_TRUE(saturated);
                }
            }
        }
    }
}

// Alternating bits carry exactly half the full level: once the comb is
// filled the comb output minus mid-level is 0, and with the high-pass the
// output settles at (nearly) 0. Constant streams give the documented step.
TEST(PdmFilter, AlternatingAndConstantStreams)
{
    for (const FactorInfo& f : kFactors) {
        const size_t per_call = size_t(16) * f.factor / 8;
        for (uint8_t pattern : {uint8_t(0x55), uint8_t(0xAA)}) {
            const std::vector<uint8_t> input(per_call, pattern);
            PdmFilterRecord rec = makeRecord(1, 0);
            ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
            rec.state.flags &= ~uint32_t(PDM_FILTER_FLAG_HIGH_PASS); // look at the comb
            PdmFilterConfig cfg = {f.code, 16, 51};
            ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
            int16_t out[16];
            for (int c = 0; c < 3; ++c)
                PDM_Filter(input.data(), out, &rec);
            for (int16_t s : out)
                EXPECT_EQ(s, 0) << f.factor;

            PdmFilterRecord hp = makeRecord(1, 1);
            ASSERT_EQ(PDM_Filter_Init(&hp), 0u);
            ASSERT_EQ(PDM_Filter_setConfig(&hp, &cfg), 0u);
            for (int c = 0; c < 200; ++c)
                PDM_Filter(input.data(), out, &hp);
            for (int16_t s : out)
                EXPECT_LE(std::abs(s), 1) << f.factor;
        }
        // All zeros: full negative level at once, then the high-pass decay by
        // 0.9 per sample (the integer high-pass rounds down by up to 2 units of
        // y per sample). All ones: the positive mirror once the comb is filled.
        const double gain = std::pow(10.0, -6.0 / 20.0);
        const double unit = 65536.0 / (double(f.factor) * f.factor * f.factor) * gain;
        for (uint8_t level : {uint8_t(0x00), uint8_t(0xFF)}) {
            std::vector<uint8_t> strided(per_call * 2, level);
            PdmFilterRecord rec = makeRecord(2, 1);
            ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
            PdmFilterConfig cfg = {f.code, 16, -6};
            ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
            int16_t out[16];
            PDM_Filter(strided.data(), out, &rec);
            if (level == 0) {
                double expected = -0.9 * 32768.0 * gain;
                for (int i = 0; i < 16; ++i) {
                    EXPECT_NEAR(out[i], expected, 3.0 + 20.0 * unit) << f.factor << " " << i;
                    expected *= 0.9;
                }
            } else {
                const int16_t peak = *std::max_element(out, out + 16);
                EXPECT_LE(peak, 0.9 * 32768.0 * gain + 3.0);
                EXPECT_GE(peak, 0.5 * 32768.0 * gain) << f.factor;
                EXPECT_GT(out[15], 0);
            }
        }
    }
}

TEST(PdmFilter, ConfigurationResultsAndGainClamping)
{
    PdmFilterRecord rec = makeRecord(1, 1);
    ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
    EXPECT_EQ(rec.state.flags, 0x10u | 0x20u | 0x40u | 0x80u);
    int16_t out[32];
    for (int16_t& s : out)
        s = 0x1234;
    std::vector<uint8_t> input(256, 0xFF);
    EXPECT_EQ(PDM_Filter(input.data(), out, &rec), 0x20u);
    EXPECT_EQ(out[0], 0x1234);

    PdmFilterConfig bad_code = {0, 16, 0};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &bad_code), 8u);
    PdmFilterConfig bad_code_high = {8, 16, 0};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &bad_code_high), 8u);
    PdmFilterConfig loud = {2, 16, 60};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &loud), 0x40u);
    EXPECT_EQ(loud.gain_db, 51);
    PdmFilterConfig quiet = {2, 16, -20};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &quiet), 0x40u);
    EXPECT_EQ(quiet.gain_db, -12);
    PdmFilterConfig both = {9, 16, 255};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &both), 0x48u);
    EXPECT_EQ(PDM_Filter(input.data(), out, &rec), 0x20u);
    EXPECT_EQ(out[0], 0x1234);

    PdmFilterConfig unity = {2, 16, 0};
    ASSERT_EQ(PDM_Filter_setConfig(&rec, &unity), 0u);
    EXPECT_EQ(rec.state.volume_multiplier, 1u << 22);
    ASSERT_EQ(PDM_Filter_setConfig(&rec, &loud), 0u); // 51 written back above
    EXPECT_NEAR(rec.state.volume_multiplier / double(1u << 22), 354.81, 0.01);

    // Same settings only refresh the samples per call and keep the history.
    ASSERT_EQ(PDM_Filter(input.data(), out, &rec), 0u);
    const int32_t history = rec.state.hp_prev_out;
    PdmFilterConfig longer = {2, 32, 51};
    ASSERT_EQ(PDM_Filter_setConfig(&rec, &longer), 0u);
    EXPECT_EQ(rec.state.samples_per_call, 32u);
    EXPECT_EQ(rec.state.hp_prev_out, history);

    // A refused switch to another factor must not leave the new kernel running
    // with the old factor's scale when the old settings are given again.
    PdmFilterConfig refused = {3, 16, 70};
    EXPECT_EQ(PDM_Filter_setConfig(&rec, &refused), 0x40u);
    PdmFilterConfig again = {2, 16, 51};
    ASSERT_EQ(PDM_Filter_setConfig(&rec, &again), 0u);
    EXPECT_EQ(PDM_Filter_selectedKernel(&rec), D64_1CH_HTONS_VOL_HP);
    EXPECT_EQ(rec.state.flags & 0xFu, 2u);

    // Init clears the history; a bad byte swap leaves the record unusable.
    ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
    EXPECT_EQ(rec.state.hp_prev_out, 0);
    EXPECT_EQ(rec.state.flags & 0x100u, 0u);
    PdmFilterRecord broken = makeRecord(2, 2);
    EXPECT_EQ(PDM_Filter_Init(&broken), 1u);
    EXPECT_EQ(broken.state.flags, 0x10u);
    EXPECT_NE(PDM_Filter_setConfig(&broken, &unity), 0u);
    out[0] = 0x1234;
    EXPECT_EQ(PDM_Filter(input.data(), out, &broken), 0x30u);
    EXPECT_EQ(out[0], 0x1234);
}

// The factor-16 kernel keeps the high-pass output at full width before the
// volume step: a value beyond 16 bits saturates rather than wrapping.
TEST(PdmFilter, Factor16LoudSampleSaturatesWithTheRightSign)
{
    for (int swap = 0; swap < 2; ++swap) {
        PdmFilterRecord rec = makeRecord(1, swap);
        ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
        PdmFilterConfig cfg = {5, 1, 0};
        ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
        const uint8_t half[2] = {0x55, 0x55};
        int16_t out = 0;
        for (int i = 0; i < 4; ++i)
            PDM_Filter(half, &out, &rec);
        rec.state.hp_prev_out = 40000; // y = 0.9 x 40000, beyond 16 bits
        PDM_Filter(half, &out, &rec);
        EXPECT_EQ(out, 32767);
        rec.state.hp_prev_out = -40000;
        PDM_Filter(half, &out, &rec);
        EXPECT_EQ(out, -32768);
    }
}

// Switching the factor of a running filter carries the old factor's history
// (comb sums, high-pass state) into the new kernel. The volume step must
// still give the saturated value of M x y x 2^s / 2^34 for the y it saw
// (the high-pass output, kept in hp_prev_out), never a wrapped product.
TEST(PdmFilter, VolumeStepStaysInRangeAcrossFactorSwitches)
{
    const int pre_shift[8] = {0, 11, 10, 9, 7, 16, 14, 13};
    auto expected = [&](const PdmFilterRecord& rec, int code) {
        const __int128 p = (__int128)rec.state.volume_multiplier * rec.state.hp_prev_out *
                           ((__int128)1 << pre_shift[code]);
        const __int128 v = (p + ((__int128)1 << 31)) >> 34;
        return int(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    };
    const std::vector<uint8_t> loud(128, 0xFF), quiet(128, 0x00);
    int checked = 0;
    for (int stride = 1; stride <= 2; ++stride) {
        for (const FactorInfo& from : kFactors) {
            for (const FactorInfo& to : kFactors) {
                PdmFilterRecord rec = makeRecord(stride, 1);
                ASSERT_EQ(PDM_Filter_Init(&rec), 0u);
                PdmFilterConfig cfg = {from.code, 1, 51};
                ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
                int16_t out = 0;
                // A full-scale step leaves the largest high-pass history behind.
                for (int i = 0; i < 8; ++i)
                    PDM_Filter(quiet.data(), &out, &rec);
                PDM_Filter(loud.data(), &out, &rec);
                PDM_Filter(loud.data(), &out, &rec);
                cfg = {to.code, 1, 51};
                ASSERT_EQ(PDM_Filter_setConfig(&rec, &cfg), 0u);
                for (int i = 0; i < 4; ++i) {
                    PDM_Filter(i % 2 ? quiet.data() : loud.data(), &out, &rec);
                    EXPECT_EQ(out, expected(rec, to.code))
                        << "factor " << from.factor << " -> " << to.factor << " sample " << i;
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 2 * 7 * 7 * 4);
}
