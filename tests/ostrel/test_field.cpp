// Field mode: statuses and memory, the plumbing (all stages off is the
// default mode bit for bit), and that each stage does its job on a scene made
// for it: bulk delay, clock drift, loudspeaker saturation, path change
// without triggering on double talk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "field_state.h"
#include "ostrel.h"
#include "signals.h"

using namespace testsignals;

namespace
{

constexpr size_t kChunk = 16;
constexpr size_t kGuard = 64;
constexpr int kRate = 16000;

OstrelFieldOptions stages(bool align, bool nonlinear, bool residual, bool recovery)
{
    OstrelFieldOptions o;
    Ostrel_Field_defaults(&o);
    o.align_enable = o.drift_enable = align ? 1u : 0u;
    o.nonlinear_enable = nonlinear ? 1u : 0u;
    o.residual_enable = residual ? 1u : 0u;
    o.recovery_enable = recovery ? 1u : 0u;
    return o;
}

// A library instance in field mode (or the default mode for a null options
// pointer), its block between guard bytes at a 4- but not 8-aligned address.
struct Instance {
    Instance(const OstrelFieldOptions* options, bool preprocess)
    {
        handle.tail_length = 512;
        handle.preprocess_enable = preprocess ? 1 : 0;
        if (options)
            Ostrel_Field_getMemorySize(&handle, options);
        else
            Ostrel_getMemorySize(&handle);
        storage.assign(handle.internal_memory_size + 2 * kGuard + 16, 0xA5);
        uint8_t* start = storage.data() + kGuard;
        start += (8 - reinterpret_cast<uintptr_t>(start) % 8) % 8 + 4;
        handle.internal_memory = start;
        status = options ? Ostrel_Field_Init(&handle, options) : Ostrel_Init(&handle);
        if (preprocess && status == OSTREL_OK) {
            const OstrelConfig config{1u, 0u, 1u, 0, -40, -15};
            Ostrel_setConfig(&handle, &config);
        }
    }
    bool guards_intact() const
    {
        const uint8_t* block = static_cast<const uint8_t*>(handle.internal_memory);
        for (const uint8_t* p = storage.data(); p < block; ++p)
            if (*p != 0xA5)
                return false;
        for (const uint8_t* p = block + handle.internal_memory_size;
             p < storage.data() + storage.size(); ++p)
            if (*p != 0xA5)
                return false;
        return true;
    }
    std::vector<int16_t> run(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref)
    {
        std::vector<int16_t> out(mic.size());
        for (size_t t = 0; t + kChunk <= mic.size(); t += kChunk)
            if (Ostrel_Data_Input(&mic[t], &ref[t], &out[t], &handle) == 1)
                Ostrel_Process(&handle);
        return out;
    }
    ostrel::FieldState* field() { return ostrel::field_state_of(ostrel::block_of(&handle)); }

    OstrelHandle handle{};
    std::vector<uint8_t> storage;
    uint32_t status = 0;
};

// ERLE over [from_s, to_s) of the input time; the output lags by 256 samples.
double erle(const std::vector<int16_t>& mic, const std::vector<int16_t>& out, double from_s,
            double to_s)
{
    double m = 0.0, o = 0.0;
    for (size_t t = size_t(from_s * kRate); t < size_t(to_s * kRate); ++t) {
        m += double(mic[t]) * mic[t];
        o += double(out[t + 256]) * out[t + 256];
    }
    return 10.0 * std::log10(m / std::max(o, 1.0));
}

// Far-end noise in swells, low-passed so that the interpolation of a drifting
// echo is exact enough for 40 dB (`clip` > 0: through a tanh loudspeaker),
// through a decaying path with a direct tap after `delay` samples; with
// `drift` the echo's delay grows by drift * t.
EchoScene scene(size_t seconds, size_t delay, double drift, double clip, uint32_t seed)
{
    EchoRoom room;
    room.delay = delay;
    room.path_gain = 1.8;
    room.path_decay = 40.0;
    room.direct = 0.8;
    room.smooth = true;
    room.clip = clip;
    room.drift = drift;
    room.near_level = 5.0;
    return echo_scene(seconds * kRate, seed, room);
}

} // namespace

TEST(OstrelField, StatusesAndMemory)
{
    OstrelFieldOptions bad = stages(true, true, false, true);
    bad.nonlinear_enable = 2;
    EXPECT_EQ(Instance(&bad, true).status, OSTREL_ERR_FIELD_OPTIONS);
    bad = stages(true, true, false, true);
    bad.residual_strength_db = 21;
    EXPECT_EQ(Instance(&bad, true).status, OSTREL_ERR_FIELD_OPTIONS);
    const OstrelFieldOptions all = stages(true, true, true, true);
    EXPECT_EQ(Instance(&all, false).status, OSTREL_ERR_NO_PREPROCESSOR);

    // A block sized for the default mode is refused and left untouched.
    OstrelHandle handle{};
    handle.preprocess_enable = 1;
    Ostrel_getMemorySize(&handle);
    std::vector<uint32_t> block(handle.internal_memory_size / 4 + 1, 0x5A5A5A5Au);
    handle.internal_memory = block.data();
    EXPECT_EQ(Ostrel_Field_Init(&handle, &all), OSTREL_ERR_MEMORY);
    for (uint32_t word : block)
        ASSERT_EQ(word, 0x5A5A5A5Au);

    // All stages on, a long noisy run: nothing written outside the block.
    Instance field(&all, true);
    ASSERT_EQ(field.status, OSTREL_OK);
    const EchoScene s = scene(3, 900, 0.0, 0.0, 3);
    field.run(s.mic, s.ref);
    EXPECT_TRUE(field.guards_intact());
}

TEST(OstrelField, AllStagesOffIsTheDefaultMode)
{
    const OstrelFieldOptions none = stages(false, false, false, false);
    Instance field(&none, true), plain(nullptr, true);
    ASSERT_EQ(field.status, OSTREL_OK);
    const EchoScene s = echo_scene(3 * kRate, 7);
    EXPECT_EQ(field.run(s.mic, s.ref), plain.run(s.mic, s.ref));
}

TEST(OstrelField, AlignmentFindsBulkDelayAndFollowsDrift)
{
    // 80 ms of bulk delay, far beyond the 512-sample tail, on paths where a
    // drift tracker that followed the filter's largest tap crept on this
    // static echo and the ERLE sank from about 50 dB to 6..25 dB.
    const OstrelFieldOptions align = stages(true, false, false, false);
    for (uint32_t seed : {2u, 4u, 7u, 9u, 18u}) {
        SCOPED_TRACE(seed);
        const EchoScene delayed = scene(6, 1280, 0.0, 0.0, seed);
        Instance field(&align, false);
        EXPECT_GT(erle(delayed.mic, field.run(delayed.mic, delayed.ref), 4.0, 5.9), 25.0);
        EXPECT_LT(std::fabs(field.field()->drift_rate), 10e-6);
        // The reference is delayed a little less than the echo, never more.
        EXPECT_GE(field.field()->delay_samples, 1280 - 300);
        EXPECT_LE(field.field()->delay_samples, 1280);
        if (seed == 2u) { // the default mode cannot cancel it
            Instance plain(nullptr, false);
            EXPECT_LT(erle(delayed.mic, plain.run(delayed.mic, delayed.ref), 4.0, 5.9), 3.0);
        }
    }

    // 400 ppm of drift: the echo's delay grows by 6.4 samples a second.
    const EchoScene drifting = scene(10, 200, 400e-6, 0.0, 18);
    Instance tracked(&align, false);
    const std::vector<int16_t> out = tracked.run(drifting.mic, drifting.ref);
    EXPECT_NEAR(tracked.field()->drift_rate, 400e-6, 100e-6);
    EXPECT_GT(erle(drifting.mic, out, 8.0, 9.9), 25.0);
}

TEST(OstrelField, SaturationModelLearnsTheLoudspeakerCurve)
{
    const EchoScene clipped = scene(8, 48, 0.0, 4000.0, 6);
    const OstrelFieldOptions linear = stages(false, false, false, false);
    const OstrelFieldOptions shaped = stages(false, true, false, false);
    Instance without(&linear, false), with(&shaped, false);
    const double erle_without = erle(clipped.mic, without.run(clipped.mic, clipped.ref), 6.0, 7.9);
    const double erle_with = erle(clipped.mic, with.run(clipped.mic, clipped.ref), 6.0, 7.9);
    EXPECT_GT(with.field()->saturation, 1.0);
    EXPECT_GT(erle_with, erle_without + 6.0);
}

TEST(OstrelField, RecoveryReactsToPathChangeButNotToDoubleTalk)
{
    const OstrelFieldOptions recovery = stages(false, false, false, true);
    // Double talk: loud near-end noise from 3 s on; the boost never fires.
    EchoScene talk = scene(5, 48, 0.0, 0.0, 7);
    const std::vector<double> noise = white_noise(talk.mic.size(), 8, 2000.0);
    for (size_t t = 3 * kRate; t < talk.mic.size(); ++t)
        talk.mic[t] = to_pcm(talk.mic[t] + noise[t]);
    Instance quiet(&recovery, false);
    bool fired = false;
    for (size_t t = 0; t + kChunk <= talk.mic.size(); t += kChunk) {
        int16_t out[kChunk];
        if (Ostrel_Data_Input(&talk.mic[t], &talk.ref[t], out, &quiet.handle) == 1)
            Ostrel_Process(&quiet.handle);
        fired = fired || quiet.field()->boost_frames > 0;
    }
    EXPECT_FALSE(fired);

    // Path change at 4 s: recovery restores 20 dB faster than the default mode.
    EchoScene change = scene(7, 48, 0.0, 0.0, 9);
    const EchoScene other = scene(7, 100, 0.0, 0.0, 10);
    std::copy(other.mic.begin() + 4 * kRate, other.mic.end(), change.mic.begin() + 4 * kRate);
    Instance fast(&recovery, false), slow(nullptr, false);
    // The far end of `other` is spliced too, so the new echo matches its reference.
    std::copy(other.ref.begin() + 4 * kRate, other.ref.end(), change.ref.begin() + 4 * kRate);
    const std::vector<int16_t> fast_out = fast.run(change.mic, change.ref);
    const std::vector<int16_t> slow_out = slow.run(change.mic, change.ref);
    EXPECT_GT(erle(change.mic, fast_out, 4.5, 5.5), erle(change.mic, slow_out, 4.5, 5.5) + 3.0);
}
