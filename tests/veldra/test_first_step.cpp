// First step: block timing, rings and play-out, second output channel,
// equaliser set-up, automatic gain, and the PDM input layouts.
#include "test_interface_support.h"

#include <cmath>
#include <vector>

#include "pdm_filter.h"

using veldra_test::Instance;
using veldra_test::NoDelayFrame;
using veldra_test::sine_sample;

namespace
{

TEST(VeldraFirstStep, BlockTimingAndSilenceBeforeConfiguration)
{
    Instance inst = Instance::no_delay(0, 1);
    ASSERT_EQ(inst.init(), 0u);
    NoDelayFrame in;
    for (int i = 0; i < 32; ++i)
        in.mic1[i] = in.mic2[i] = 1000;
    int16_t out[32];
    for (int call = 1; call <= 40; ++call) {
        if (call == 20) {
            ASSERT_EQ(inst.configure(30, 0), 0u); // timing runs on
        }
        for (int16_t& v : out)
            v = 0x1234;
        const uint32_t ready = Veldra_FirstStep(in.mic1, in.mic2, out, &inst.handle);
        EXPECT_EQ(ready, call % 8 == 0 ? 1u : 0u) << "call " << call;
        EXPECT_EQ(inst.ctrl()->write_index, (call * 16) % 256);
        EXPECT_EQ(inst.ctrl()->read_index, (128 + call * 16) % 256);
        if (call % 8 == 0) {
            EXPECT_EQ(inst.ctrl()->block_ready, (call / 8) % 2 == 1 ? 1u : 2u);
        }
        if (call < 20) {
            for (int i = 0; i < 32; ++i)
                ASSERT_EQ(out[i], 0) << "unconfigured call " << call;
        } else {
            for (int i = 0; i < 16; ++i)
                ASSERT_EQ(out[2 * i + 1], 1000) << "microphone 1 on channel 1";
        }
        if (ready) {
            EXPECT_EQ(Veldra_SecondStep(&inst.handle), 0u);
        }
    }
}

// The output plays the front beam (type 0) 256 samples after it was formed;
// channel 1 carries microphone 1 of the same call.
TEST(VeldraFirstStep, PlayOutDelayAndMicrophoneChannel)
{
    Instance inst = Instance::no_delay(0, 1);
    ASSERT_EQ(inst.start(100, 0), 0u);
    std::vector<int16_t> front, channel0;
    long n = 0;
    for (int call = 0; call < 80; ++call) {
        NoDelayFrame in;
        for (int i = 0; i < 16; ++i, ++n) {
            in.mic1[i] = sine_sample(8000, 440, n);
            in.mic2[16 + i] = sine_sample(3000, 1300, n);
        }
        int16_t out[32];
        if (Veldra_FirstStep(in.mic1, in.mic2, out, &inst.handle))
            Veldra_SecondStep(&inst.handle);
        for (int i = 0; i < 16; ++i) {
            front.push_back(inst.ctrl()->front[i]);
            channel0.push_back(out[2 * i]);
            ASSERT_EQ(out[2 * i + 1], in.mic1[i]);
        }
    }
    for (size_t i = 0; i < channel0.size(); ++i)
        ASSERT_EQ(channel0[i], i < 256 ? 0 : front[i - 256]) << "sample " << i;
}

TEST(VeldraFirstStep, SecondOutputChannelContents)
{
    NoDelayFrame in;
    for (int i = 0; i < 32; ++i) {
        in.mic1[i] = (int16_t)(500 * i);
        in.mic2[i] = (int16_t)(-300 * i);
    }
    // 0: channel 1 untouched.
    Instance none = Instance::no_delay(0, 0);
    none.start(30, 0);
    int16_t out[32];
    for (int16_t& v : out)
        v = 0x2222;
    Veldra_FirstStep(in.mic1, in.mic2, out, &none.handle);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(out[2 * i + 1], 0x2222);

    // 7 with type 0: the rear beam is formed and played on channel 1.
    Instance rear = Instance::no_delay(0, 7);
    rear.start(30, 0);
    Veldra_FirstStep(in.mic1, in.mic2, out, &rear.handle);
    bool any = false;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[2 * i + 1], rear.ctrl()->rear[i]);
        any = any || out[2 * i + 1] != 0;
    }
    EXPECT_TRUE(any);

    // One output channel: channel 1 is never written past the 16 samples.
    Instance mono = Instance::no_delay(0, 1, 1);
    mono.start(30, 0);
    int16_t narrow[17];
    narrow[16] = 0x3333;
    Veldra_FirstStep(in.mic1, in.mic2, narrow, &mono.handle);
    EXPECT_EQ(narrow[16], 0x3333);
}

TEST(VeldraFirstStep, RearPathOfPdmIsSetUpForTheSecondOutput)
{
    Instance inst(0, 1024, 0, 7);
    ASSERT_EQ(inst.start(150, 0), 0u);
    const PdmFilterRecord* b = inst.region<PdmFilterRecord>(inst.ctrl()->filter_at[FILTER_B]);
    const PdmFilterRecord* c = inst.region<PdmFilterRecord>(inst.ctrl()->filter_at[FILTER_C]);
    EXPECT_TRUE(b->state.flags & PDM_FILTER_FLAG_CONFIGURED);
    EXPECT_TRUE(c->state.flags & PDM_FILTER_FLAG_CONFIGURED);
    const DelayRecord* rear = inst.delay(BEAM_REAR);
    EXPECT_EQ(rear->delay, 45);
    const EqualiserRecord* eq = inst.equaliser(BEAM_REAR);
    EXPECT_EQ(eq->pole, 230);
}

TEST(VeldraFirstStep, DelaysAndPathsByDistanceAndClock)
{
    struct Case {
        uint32_t khz;
        uint16_t distance;
        uint8_t path;
        uint16_t delay;
        uint8_t op;
    };
    const Case cases[] = {
        {1024, 150, VELDRA_PATH_PDM_BIT_DELAY, 45, VELDRA_DELAY_BITS_WORD},
        {2048, 209, VELDRA_PATH_PDM_BIT_DELAY, 125, VELDRA_DELAY_BITS_BYTE},
        {256, 1, VELDRA_PATH_PDM_BIT_DELAY, 0, VELDRA_DELAY_BITS_WORD},
        {1024, 210, VELDRA_PATH_PDM_SAMPLE_DELAY, 1, VELDRA_DELAY_SAMPLE},
        {768, 212, VELDRA_PATH_PDM_SAMPLE_DELAY, 1, VELDRA_DELAY_SAMPLE},
    };
    for (const Case& c : cases) {
        Instance inst(0, c.khz, 2);
        ASSERT_EQ(inst.start(c.distance, 2), 0u);
        EXPECT_EQ(inst.ctrl()->path, c.path) << c.khz << " " << c.distance;
        for (int beam : {BEAM_FRONT, BEAM_REAR}) {
            const DelayRecord* rec = inst.delay(beam);
            EXPECT_EQ(rec->delay, c.delay) << c.khz << " " << c.distance << " beam " << beam;
            EXPECT_EQ(rec->op, c.op);
        }
    }
}

TEST(VeldraFirstStep, EqualiserCoefficientsPerDistance)
{
    struct Row {
        uint16_t distance, pole, integer;
        float factor;
    };
    const Row rows[] = {{1, 217, 614, 614.4f},   {32, 217, 614, 614.4f},   {33, 222, 478, 478.72f},
                        {45, 222, 478, 478.72f}, {46, 172, 449, 449.024f}, {62, 172, 449, 449.024f},
                        {63, 153, 332, 332.8f},  {80, 153, 332, 332.8f},   {81, 230, 268, 268.8f},
                        {155, 230, 268, 268.8f}, {156, 153, 307, 307.2f},  {212, 153, 307, 307.2f}};
    for (float gain : {1.0f, 1.5f}) {
        for (const Row& row : rows) {
            Instance inst = Instance::no_delay(2);
            inst.start(row.distance, 2, gain);
            const EqualiserRecord* f = inst.equaliser(BEAM_FRONT);
            const EqualiserRecord* r = inst.equaliser(BEAM_REAR);
            const uint16_t scaled = (uint16_t)(gain * row.factor);
            EXPECT_EQ(f->pole, row.pole) << row.distance;
            EXPECT_EQ(f->k_direct, row.integer) << row.distance;
            EXPECT_EQ(f->k_delayed, scaled) << row.distance << " gain " << gain;
            EXPECT_EQ(r->pole, row.pole);
            EXPECT_EQ(r->k_direct, scaled);
            EXPECT_EQ(r->k_delayed, row.integer);
        }
    }
}

// Identical inputs cancel; an absurd gain saturates without overflowing.
TEST(VeldraFirstStep, BeamArithmetic)
{
    Instance equal = Instance::no_delay(0);
    equal.start(32, 0, 1.0f);
    Instance huge = Instance::no_delay(0);
    huge.start(200, 0, 1e30f);
    EXPECT_EQ(huge.equaliser(BEAM_FRONT)->k_delayed, 65535);
    long n = 0;
    for (int call = 0; call < 50; ++call) {
        NoDelayFrame in;
        for (int i = 0; i < 16; ++i, ++n) {
            in.mic1[i] = sine_sample(30000, 300, n);
            in.mic2[16 + i] = in.mic1[i];
        }
        int16_t out[32];
        Veldra_FirstStep(in.mic1, in.mic2, out, &equal.handle);
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(equal.ctrl()->front[i], 0);
        for (int i = 0; i < 16; ++i)
            in.mic2[16 + i] = (int16_t)(i % 2 ? 32767 : -32768);
        Veldra_FirstStep(in.mic1, in.mic2, out, &huge.handle);
        for (int i = 0; i < 16; ++i)
            ASSERT_LE(std::abs(huge.ctrl()->front[i]), 32768);
    }
}

// Runs `updates` gain windows of 500 calls with microphone 1 at amplitude a1
// and the delayed microphone 2 at a2; returns the estimate after each.
std::vector<float> run_gain_windows(double a1, double a2, int updates, Instance& inst)
{
    std::vector<float> estimates;
    long n = 0;
    for (int u = 0; u < updates; ++u) {
        for (int call = 0; call < 500; ++call) {
            NoDelayFrame in;
            for (int i = 0; i < 16; ++i, ++n) {
                in.mic1[i] = sine_sample(a1, 500, n);
                in.mic2[16 + i] = sine_sample(a2, 500, n);
            }
            int16_t out[32];
            if (Veldra_FirstStep(in.mic1, in.mic2, out, &inst.handle))
                Veldra_SecondStep(&inst.handle);
        }
        estimates.push_back(inst.config().mic2_gain);
    }
    return estimates;
}

TEST(VeldraFirstStep, GainEstimateMovesTowardTheLevelRatio)
{
    Instance inst = Instance::no_delay(2);
    inst.start(30, 2, 0.0f);
    const std::vector<float> got = run_gain_windows(200.0, 100.0, 6, inst);
    double expected = 1.0;
    for (float g : got) {
        expected = 0.2 * 2.0 + 0.8 * expected;
        EXPECT_NEAR(g, expected, 2e-3);
    }
    const EqualiserRecord* f = inst.equaliser(BEAM_FRONT);
    const EqualiserRecord* r = inst.equaliser(BEAM_REAR);
    EXPECT_EQ(f->pole, 222); // gain-update table: up to 40
    EXPECT_EQ(f->k_direct, 478);
    EXPECT_EQ(f->k_delayed, (uint16_t)(got.back() * 478.72f));
    EXPECT_EQ(r->k_direct, (uint16_t)(got.back() * 478.72f));
}

TEST(VeldraFirstStep, GainEstimateSkipsSilentOrLoudWindows)
{
    Instance silent = Instance::no_delay(0);
    silent.start(30, 0, 0.0f);
    for (float g : run_gain_windows(200.0, 0.0, 3, silent))
        EXPECT_EQ(g, 1.0f);
    EXPECT_EQ(silent.equaliser(BEAM_FRONT)->k_delayed, 614);

    Instance loud = Instance::no_delay(0);
    loud.start(30, 0, 0.0f);
    for (float g : run_gain_windows(300.0, 100.0, 2, loud))
        EXPECT_EQ(g, 1.0f);
}

// Two tones through a sigma-delta modulator at the given clock.
std::vector<uint8_t> pdm_stream(size_t bytes, double hz, double khz)
{
    return veldra_test::sigma_delta(bytes, [&](double bit) {
        const double t = bit / (khz * 1000.0);
        return 0.4 * std::sin(2 * M_PI * hz * t) + 0.2 * std::sin(2 * M_PI * 3.1 * hz * t);
    });
}

// The same streams delivered interleaved (stride 2) or as two stride-1
// buffers of byte-swapped 16-bit words give the same beams: the delay line
// reads the bits in the order the filters do.
TEST(VeldraFirstStep, PdmLayoutsGiveTheSameBeams)
{
    for (uint32_t khz : {1024u, 2048u}) {
        const uint32_t bytes = khz / 8;
        const int calls = 60;
        const std::vector<uint8_t> m1 = pdm_stream(bytes * calls, 700, khz);
        const std::vector<uint8_t> m2 = pdm_stream(bytes * calls, 1100, khz);
        Instance wide(0, khz, 2, 7, 2, 2, 2);
        Instance narrow(0, khz, 2, 7, 2, 1, 1);
        for (Instance* inst : {&wide, &narrow}) {
            ASSERT_EQ(inst->init(), 0u);
            ASSERT_EQ(inst->configure(khz == 1024 ? 150 : 209, 2, 1.0f, 12), 0u);
        }
        for (int call = 0; call < calls; ++call) {
            std::vector<uint8_t> interleaved(2 * bytes), s1(bytes), s2(bytes);
            for (uint32_t j = 0; j < bytes; ++j) {
                interleaved[2 * j] = m1[call * bytes + j];
                interleaved[2 * j + 1] = m2[call * bytes + j];
                s1[j ^ 1u] = m1[call * bytes + j];
                s2[j ^ 1u] = m2[call * bytes + j];
            }
            int16_t out_wide[32], out_narrow[32];
            Veldra_FirstStep(interleaved.data(), interleaved.data() + 1, out_wide, &wide.handle);
            Veldra_FirstStep(s1.data(), s2.data(), out_narrow, &narrow.handle);
            for (int i = 0; i < 16; ++i) {
                ASSERT_EQ(wide.ctrl()->front[i], narrow.ctrl()->front[i])
                    << khz << " call " << call;
                ASSERT_EQ(wide.ctrl()->rear[i], narrow.ctrl()->rear[i]) << khz << " call " << call;
            }
        }
        EXPECT_NE(wide.ctrl()->front[3], 0);
    }
}

} // namespace
