// Delay lines against a naive reference: the time-ordered bit stream shifted
// bit by bit, over several calls, for each input layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "delay.h"
#include "veldra_internal.h"

namespace
{

std::vector<int> random_bits(size_t count, uint32_t seed)
{
    std::vector<int> bits(count);
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bits[i] = (seed >> 29) & 1;
    }
    return bits;
}

// Bytes of one call, most significant bit earliest, laid out as a filter
// with this stride and byte swap reads them.
std::vector<uint8_t> lay_out(const std::vector<int>& bits, size_t first_byte, size_t bytes,
                             uint32_t stride, bool swap)
{
    std::vector<uint8_t> buffer(bytes * stride, 0xEE);
    for (size_t j = 0; j < bytes; ++j) {
        uint8_t v = 0;
        for (int k = 0; k < 8; ++k)
            v = (uint8_t)((v << 1) | bits[(first_byte + j) * 8 + k]);
        const size_t at = swap && stride == 1 ? (j ^ 1u) : j * stride;
        buffer[at] = v;
    }
    return buffer;
}

struct Layout {
    uint32_t stride;
    bool swap;
};

void check_bit_delay(uint32_t first, uint32_t last,
                     void (*run)(const uint8_t*, VeldraControl*, DelayRecord*))
{
    const Layout layouts[] = {{1, false}, {2, false}, {1, true}, {4, false}};
    const uint32_t bytes_per_call[] = {32, 48, 256};
    VeldraControl ctrl{};
    for (const Layout& layout : layouts) {
        for (uint32_t bytes : bytes_per_call) {
            const int calls = 4;
            const std::vector<int> bits =
                random_bits((size_t)calls * bytes * 8, bytes + layout.stride);
            for (uint32_t delay = first; delay <= last; ++delay) {
                DelayRecord rec;
                delay_setup_bits(&rec, (uint16_t)layout.stride, (uint16_t)bytes, (uint16_t)delay,
                                 layout.swap ? 1 : 0);
                for (int call = 0; call < calls; ++call) {
                    const std::vector<uint8_t> in =
                        lay_out(bits, (size_t)call * bytes, bytes, layout.stride, layout.swap);
                    run(in.data(), &ctrl, &rec);
                    for (uint32_t j = 0; j < bytes; ++j) {
                        uint8_t expected = 0;
                        for (int k = 0; k < 8; ++k) {
                            const long at = ((long)call * bytes + j) * 8 + k - (long)delay;
                            expected =
                                (uint8_t)((expected << 1) | (at >= 0 ? bits[(size_t)at] : 0));
                        }
                        ASSERT_EQ(ctrl.pdm_scratch[j], expected)
                            << "delay " << delay << " stride " << layout.stride << " swap "
                            << layout.swap << " bytes " << bytes << " call " << call << " byte "
                            << j;
                    }
                }
            }
        }
    }
}

TEST(VeldraDelay, WordDelayMatchesBitShiftUpTo63Bits)
{
    check_bit_delay(0, 63, Delay_2);
}

TEST(VeldraDelay, ByteDelayMatchesBitShiftUpTo127Bits)
{
    check_bit_delay(0, 127, Delay_3);
}

TEST(VeldraDelay, SampleDelayCarriesAcrossCalls)
{
    VeldraControl ctrl{};
    DelayRecord rec;
    delay_setup_sample(&rec);
    int16_t frame[16];
    for (int call = 0; call < 3; ++call) {
        for (int i = 0; i < 16; ++i)
            frame[i] = (int16_t)(call * 16 + i + 1);
        Delay_1(frame, &ctrl, &rec);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(frame[i], call * 16 + i) << call << " " << i;
    }
}

} // namespace
