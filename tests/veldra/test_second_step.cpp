// Second step: block hand-over between the rings, the copy of type 0, the
// adaptive stage and the denoiser on the shared DSP core.
#include "test_interface_support.h"

#include <cmath>
#include <cstdint>
#include <vector>

using veldra_test::Instance;
using veldra_test::NoDelayFrame;
using veldra_test::sine_sample;

namespace
{

struct Noise {
    uint32_t seed;
    int16_t next(int amplitude)
    {
        seed = seed * 1664525u + 1013904223u;
        return (int16_t)((int32_t)(seed >> 16) % (2 * amplitude + 1) - amplitude);
    }
};

// Runs calls of the no-delay path; `fill` writes one frame of input.
// Returns the front beam and the output channel 0, sample by sample.
template <typename Fill>
void run(Instance& inst, int calls, Fill fill, std::vector<int16_t>& front,
         std::vector<int16_t>& out0)
{
    for (int call = 0; call < calls; ++call) {
        NoDelayFrame in;
        fill(call, in);
        int16_t out[32];
        if (Veldra_FirstStep(in.mic1, in.mic2, out, &inst.handle)) {
            EXPECT_EQ(Veldra_SecondStep(&inst.handle), 0u);
        }
        for (int i = 0; i < 16; ++i) {
            front.push_back(inst.ctrl()->front[i]);
            out0.push_back(out[2 * i]);
        }
    }
}

double energy(const std::vector<int16_t>& v, size_t from, size_t to)
{
    double e = 0;
    for (size_t i = from; i < to; ++i)
        e += (double)v[i] * v[i];
    return e;
}

TEST(VeldraSecondStep, NoBlockReadyChangesNothing)
{
    Instance inst = Instance::no_delay(0);
    inst.start(30, 0);
    int16_t* ring = inst.region<int16_t>(inst.ctrl()->out_ring_at);
    for (int i = 0; i < 256; ++i)
        ring[i] = (int16_t)(i * 3 - 100);
    EXPECT_EQ(Veldra_SecondStep(&inst.handle), VELDRA_ERR_NOT_READY);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(ring[i], i * 3 - 100);

    // A ready block is taken once.
    NoDelayFrame in;
    int16_t out[32];
    for (int call = 0; call < 8; ++call)
        Veldra_FirstStep(in.mic1, in.mic2, out, &inst.handle);
    EXPECT_EQ(Veldra_SecondStep(&inst.handle), 0u);
    EXPECT_EQ(Veldra_SecondStep(&inst.handle), VELDRA_ERR_NOT_READY);
}

// Type 0 copies each completed half of the front ring into the other half
// of the output ring; switching the denoiser off (Init type 1) does the same.
TEST(VeldraSecondStep, CardioidCopiesTheFrontBeam)
{
    for (uint32_t first_type : {0u, 1u}) {
        Instance inst = Instance::no_delay((uint8_t)first_type);
        ASSERT_EQ(inst.start(30, first_type), 0u);
        long n = 0;
        auto fill = [&n](int, NoDelayFrame& in) {
            for (int i = 0; i < 16; ++i, ++n)
                in.mic1[i] = sine_sample(5000, 900, n);
        };
        std::vector<int16_t> front, out0;
        run(inst, 40, fill, front, out0);
        ASSERT_EQ(inst.configure(30, 0), 0u);
        front.clear();
        out0.clear();
        run(inst, 64, fill, front, out0);
        for (size_t i = 256; i < out0.size(); ++i)
            ASSERT_EQ(out0[i], front[i - 256]) << "type " << first_type << " sample " << i;
    }
}

// With a silent rear beam the adaptive stage has nothing to remove: the
// output is the front beam through pre- and de-emphasis.
TEST(VeldraSecondStep, AdaptiveWithSilentRearPassesTheFrontBeam)
{
    Instance inst = Instance::no_delay(2);
    ASSERT_EQ(inst.start(30, 2), 0u);
    Noise noise{7};
    long n = 0;
    std::vector<int16_t> front, out0;
    run(
        inst, 400,
        [&](int, NoDelayFrame& in) {
            for (int i = 0; i < 16; ++i, ++n)
                in.mic1[i] = (int16_t)(sine_sample(1500, 700, n) + noise.next(300));
        },
        front, out0);
    for (size_t i = 256; i < out0.size(); ++i)
        ASSERT_NEAR(out0[i], front[i - 256], 1) << "sample " << i;
}

// Noise that reaches the front beam and the rear beam alike is removed by
// the adaptive stage; the denoiser lowers stationary noise on its own.
TEST(VeldraSecondStep, StagesReduceNoise)
{
    for (uint8_t type : {1, 2, 3}) {
        Instance inst = Instance::no_delay(type);
        ASSERT_EQ(inst.start(30, type), 0u);
        Noise noise{11};
        std::vector<int16_t> front, out0;
        const int calls = 4000;
        run(
            inst, calls,
            [&](int, NoDelayFrame& in) {
                for (int i = 0; i < 16; ++i) {
                    const int16_t v = noise.next(2000);
                    in.mic1[i] = v;                 // front beam input
                    in.mic2[i] = type == 1 ? 0 : v; // rear beam input
                }
            },
            front, out0);
        const size_t tail = out0.size() - 16000;
        const double in_db = 10 * std::log10(energy(front, tail - 256, out0.size() - 256));
        const double out_db = 10 * std::log10(energy(out0, tail, out0.size()) + 1.0);
        EXPECT_GT(in_db - out_db, 6.0) << "type " << int(type);
        EXPECT_TRUE(inst.guards_intact());
    }
}

} // namespace
