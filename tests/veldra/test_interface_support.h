// Shared by the library's tests: a working block with guard words on both
// sides, access to its records, and small signal helpers.
#ifndef VELDRA_TEST_INTERFACE_SUPPORT_H
#define VELDRA_TEST_INTERFACE_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "veldra.h"
#include "veldra_internal.h"

namespace veldra_test
{

constexpr uint32_t kGuardWords = 64;
constexpr uint32_t kGuardValue = 0xA5C3E10Fu;

// Handle plus a block of exactly the reported size between guard words.
struct Instance {
    VeldraHandle handle{};
    std::vector<uint32_t> storage;

    Instance(uint32_t format, uint32_t khz, uint8_t type, uint32_t second_output = 0,
             uint8_t out_channels = 2, uint8_t mic1 = 2, uint8_t mic2 = 2, uint8_t delay = 1)
    {
        handle.data_format = format;
        handle.sampling_frequency = khz;
        handle.mic1_channels = mic1;
        handle.mic2_channels = mic2;
        handle.out_channels = out_channels;
        handle.algorithm_type = type;
        handle.second_output = second_output;
        handle.delay_enable = delay;
        allocate();
    }

    void allocate()
    {
        Veldra_getMemorySize(&handle);
        storage.assign(2 * kGuardWords + handle.internal_memory_size / 4, kGuardValue);
        handle.internal_memory = storage.data() + kGuardWords;
    }

    // PCM input without the delay line: the caller delivers both delays.
    static Instance no_delay(uint8_t type, uint32_t second_output = 0, uint8_t out_channels = 2)
    {
        return Instance(1, 16, type, second_output, out_channels, 1, 1, 0);
    }

    uint32_t init() { return Veldra_Init(&handle); }

    // Init, which must succeed, then the first configuration's result.
    uint32_t start(uint16_t distance, uint32_t type, float gain = 1.0f, uint8_t volume = 0)
    {
        EXPECT_EQ(init(), 0u);
        return configure(distance, type, gain, volume);
    }

    uint32_t configure(uint16_t distance, uint32_t type, float gain = 1.0f, uint8_t volume = 0)
    {
        VeldraConfig cfg{};
        cfg.mic_distance = distance;
        cfg.algorithm_type = type;
        cfg.volume = volume;
        cfg.mic2_gain = gain;
        return Veldra_setConfig(&handle, &cfg);
    }

    VeldraConfig config()
    {
        VeldraConfig cfg{};
        Veldra_getConfig(&handle, &cfg);
        return cfg;
    }

    VeldraControl* ctrl() { return static_cast<VeldraControl*>(handle.internal_memory); }

    template <typename T> T* region(uint32_t offset) { return veldra_region<T>(ctrl(), offset); }
    const DelayRecord* delay(int beam) { return region<DelayRecord>(ctrl()->delay_at[beam]); }
    const EqualiserRecord* equaliser(int beam)
    {
        return region<EqualiserRecord>(ctrl()->equaliser_at[beam]);
    }

    bool guards_intact() const
    {
        const size_t words = storage.size();
        for (uint32_t i = 0; i < kGuardWords; ++i)
            if (storage[i] != kGuardValue || storage[words - 1 - i] != kGuardValue)
                return false;
        return true;
    }
};

// PCM input for the no-delay path: 16 samples then 16 delayed samples.
struct NoDelayFrame {
    int16_t mic1[32] = {};
    int16_t mic2[32] = {};
};

inline int16_t sine_sample(double amplitude, double hz, long n)
{
    return (int16_t)std::lround(amplitude * std::sin(2.0 * M_PI * hz * (double)n / 16000.0));
}

// Time-ordered PDM bytes, earliest bit in the most significant place: a
// second-order sigma-delta modulation of signal(bit index), |signal| < 1.
template <typename Signal> std::vector<uint8_t> sigma_delta(size_t bytes, Signal signal)
{
    std::vector<uint8_t> out(bytes);
    double i1 = 0.0, i2 = 0.0, fb = 0.0;
    for (size_t b = 0; b < bytes; ++b) {
        uint8_t v = 0;
        for (int k = 0; k < 8; ++k) {
            i1 += signal(double(b * 8 + k)) - fb;
            i2 += i1 - fb;
            const int bit = i2 >= 0.0 ? 1 : 0;
            fb = bit ? 1.0 : -1.0;
            v = uint8_t((v << 1) | bit);
        }
        out[b] = v;
    }
    return out;
}

} // namespace veldra_test

#endif
