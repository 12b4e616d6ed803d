// Interface of the beamforming library: sizing, validation of the handle,
// configuration rules and the block's bounds.
#include "test_interface_support.h"

#include <cmath>
#include <limits>

#include "pdm_filter.h"

using veldra_test::Instance;
using veldra_test::kGuardWords;

namespace
{

// Extra bytes a 64-bit host needs for the adaptive region (0 on the target).
uint32_t host_adaptive_extra()
{
    return veldra_adaptive_state_bytes() - 17056u;
}

TEST(VeldraInterface, MemorySizePerType)
{
    const uint32_t expected[] = {
        2944, 21256, 23204 + host_adaptive_extra(), 41516 + host_adaptive_extra(), 2944, 2944};
    const uint8_t types[] = {0, 1, 2, 3, 4, 255};
    for (int i = 0; i < 6; ++i) {
        VeldraHandle h{};
        h.algorithm_type = types[i];
        EXPECT_EQ(Veldra_getMemorySize(&h), 0u);
        EXPECT_EQ(h.internal_memory_size, expected[i]) << "type " << int(types[i]);
    }
}

TEST(VeldraInterface, VersionText)
{
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Veldra_GetLibVersion(buffer), 16u);
    EXPECT_STREQ(buffer, "ZQ Veldra v2.0.0");
    char second[32];
    EXPECT_EQ(libBeamforming_GetLibVersion(second), 16u);
    EXPECT_STREQ(second, "ZQ Veldra v2.0.0");
}

TEST(VeldraInterface, InitReplacesBadHandleValuesAndReportsThem)
{
    Instance zero(0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(zero.init(), 0x8Au);
    VeldraControl* c = zero.ctrl();
    EXPECT_EQ(c->mic1_stride, 2);
    EXPECT_EQ(c->mic2_stride, 2);
    EXPECT_EQ(c->out_channels, 2);
    EXPECT_EQ(c->sampling_frequency, 1024u);
    EXPECT_EQ(c->delay_enable, 1);
    EXPECT_EQ(c->read_index, 128);
    EXPECT_EQ(c->write_index, 0);
    EXPECT_EQ(c->front_ring_at, 876u);
    EXPECT_EQ(c->rear_ring_at, 1388u);
    EXPECT_EQ(c->out_ring_at, 1900u);

    Instance bad(7, 1000, 9, 3, 1, 1, 1, 0);
    EXPECT_EQ(bad.init(), VELDRA_ERR_TYPE | VELDRA_ERR_FORMAT | VELDRA_ERR_FREQUENCY |
                              VELDRA_ERR_SECOND_OUTPUT | VELDRA_ERR_DELAY);
    EXPECT_EQ(bad.ctrl()->init_type, 0);
    EXPECT_EQ(bad.ctrl()->data_format, 0u);
    EXPECT_EQ(bad.ctrl()->second_output, 1u);

    // PCM keeps delay_enable 0; a 384 kHz clock is accepted.
    Instance pcm(1, 16, 0, 0, 2, 1, 1, 0);
    EXPECT_EQ(pcm.init(), 0u);
    Instance clock384(0, 384, 0);
    EXPECT_EQ(clock384.init(), 0u);
    // 16 kHz is the PCM rate: PDM input at 16 gets the default clock.
    Instance pdm16(0, 16, 0);
    EXPECT_EQ(pdm16.init(), VELDRA_ERR_FREQUENCY);
    EXPECT_EQ(pdm16.ctrl()->sampling_frequency, 1024u);
}

// A block sized for a smaller type, a size below the type's, or no block is
// refused with the block untouched; the type's own size is accepted.
TEST(VeldraInterface, InitRefusesABlockTooSmallForTheType)
{
    for (uint8_t type = 1; type <= 3; ++type) {
        Instance inst(0, 1024, 0);
        inst.handle.algorithm_type = type;
        for (size_t i = kGuardWords; i + kGuardWords < inst.storage.size(); ++i)
            inst.storage[i] = 0x13579BDFu;
        EXPECT_EQ(inst.init(), VELDRA_ERR_MEMORY) << int(type);
        for (size_t i = kGuardWords; i + kGuardWords < inst.storage.size(); ++i)
            ASSERT_EQ(inst.storage[i], 0x13579BDFu) << int(type);
        EXPECT_TRUE(inst.guards_intact());
        inst.allocate();
        inst.handle.internal_memory_size -= 4;
        EXPECT_EQ(inst.init(), VELDRA_ERR_MEMORY) << int(type);
        inst.handle.internal_memory_size += 4;
        EXPECT_EQ(inst.init(), 0u) << int(type);
        EXPECT_TRUE(inst.guards_intact());
    }
    Instance none(0, 1024, 0);
    none.handle.internal_memory = nullptr;
    EXPECT_EQ(none.init(), VELDRA_ERR_MEMORY);
}

TEST(VeldraInterface, FirstConfigurationAlwaysConfigures)
{
    Instance inst(0, 1024, 0);
    ASSERT_EQ(inst.init(), 0u);
    // Distance 0 equals the stored 0: still configured, with the default.
    EXPECT_EQ(inst.configure(0, 0), VELDRA_ERR_DISTANCE);
    EXPECT_EQ(inst.ctrl()->path, VELDRA_PATH_PDM_BIT_DELAY);
    EXPECT_EQ(inst.config().mic_distance, 150);
    // Same distance and type again: nothing to do, no error.
    EXPECT_EQ(inst.configure(150, 0), 0u);
    EXPECT_EQ(inst.configure(213, 0), VELDRA_ERR_DISTANCE);
    EXPECT_EQ(inst.config().mic_distance, 150);

    // PCM with the delay line: outside 210..212 becomes 212, and the first
    // call configures even so.
    Instance pcm(1, 16, 0, 0, 2, 1, 1, 1);
    ASSERT_EQ(pcm.init(), 0u);
    EXPECT_EQ(pcm.configure(150, 0), VELDRA_ERR_DISTANCE);
    EXPECT_EQ(pcm.ctrl()->path, VELDRA_PATH_PCM_SAMPLE_DELAY);
    EXPECT_EQ(pcm.config().mic_distance, 212);
}

TEST(VeldraInterface, TypeRulesFollowTheInitType)
{
    Instance one(0, 1024, 1);
    ASSERT_EQ(one.start(150, 1), 0u);
    EXPECT_EQ(one.configure(100, 2, -1.0f), VELDRA_ERR_TYPE | VELDRA_ERR_GAIN);
    EXPECT_EQ(one.config().algorithm_type, 1u);
    // The distance written by the refused call is applied by the next one.
    EXPECT_EQ(one.configure(100, 1), 0u);
    EXPECT_EQ(one.delay(BEAM_FRONT)->delay, 30);
    EXPECT_EQ(one.configure(100, 0), 0u);
    EXPECT_EQ(one.config().algorithm_type, 0u);
    EXPECT_EQ(one.configure(100, 3), VELDRA_ERR_TYPE);

    // Init type 3 allows every type, but not one above 3.
    Instance three(0, 1024, 3);
    ASSERT_EQ(three.start(150, 2), 0u);
    EXPECT_EQ(three.configure(150, 1), 0u);
    EXPECT_EQ(three.configure(150, 4), VELDRA_ERR_TYPE);
    EXPECT_EQ(three.configure(150, 0xFFFFFFFFu), VELDRA_ERR_TYPE);
    EXPECT_EQ(three.config().algorithm_type, 1u);
}

TEST(VeldraInterface, GainVolumeAndClockSettings)
{
    Instance inst(0, 384, 0);
    ASSERT_EQ(inst.init(), 0u);
    EXPECT_EQ(inst.configure(150, 0, -1.0f, 60), VELDRA_ERR_GAIN);
    EXPECT_EQ(inst.config().mic2_gain, 1.0f);
    EXPECT_EQ(inst.config().volume, 51);
    // 384 kHz gets the factor-24 code, and a volume above 51 still leaves the
    // filters configured.
    const PdmFilterRecord* a = inst.region<PdmFilterRecord>(inst.ctrl()->filter_at[FILTER_A]);
    EXPECT_EQ(a->state.decimation_code, PDM_FILTER_CODE_D24);
    EXPECT_TRUE(a->state.flags & PDM_FILTER_FLAG_CONFIGURED);
    const PdmFilterRecord* d = inst.region<PdmFilterRecord>(inst.ctrl()->filter_at[FILTER_D]);
    EXPECT_TRUE(d->state.flags & PDM_FILTER_FLAG_CONFIGURED);

    EXPECT_EQ(inst.configure(100, 0, std::numeric_limits<float>::quiet_NaN()), VELDRA_ERR_GAIN);
    EXPECT_EQ(inst.config().mic2_gain, 1.0f);
    // Automatic gain: getConfig reports the estimate, 1.0 before any update.
    EXPECT_EQ(inst.configure(90, 0, 0.0f), 0u);
    EXPECT_EQ(inst.ctrl()->mic2_gain, 0.0f);
    EXPECT_EQ(inst.config().mic2_gain, 1.0f);
    VeldraConfig second{};
    EXPECT_EQ(libBeamforming_getConfig(&inst.handle, &second), 0u);
    EXPECT_EQ(second.mic_distance, 90);
}

// Every mode and type runs for a while inside its block and leaves the
// guard words on both sides untouched.
TEST(VeldraInterface, StaysInsideTheBlock)
{
    struct Mode {
        uint32_t format, khz;
        uint8_t delay;
        uint16_t distance;
    };
    const Mode modes[] = {
        {0, 2048, 1, 209}, {0, 256, 1, 40}, {0, 1024, 1, 211}, {1, 16, 1, 212}, {1, 16, 0, 30}};
    std::vector<uint8_t> pdm(2 * 256 * 2);
    for (size_t i = 0; i < pdm.size(); ++i)
        pdm[i] = (uint8_t)(i * 37u + 11u);
    std::vector<int16_t> pcm(64 * 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = (int16_t)(i * 997);
    for (const Mode& m : modes) {
        for (uint8_t type = 0; type <= 3; ++type) {
            Instance inst(m.format, m.khz, type, 7, 2, 2, 2, m.delay);
            inst.start(m.distance, type, 0.0f, 20);
            int16_t out[32];
            const void* in1 = m.format ? (const void*)pcm.data() : pdm.data();
            const void* in2 = m.format ? (const void*)(pcm.data() + 1) : pdm.data() + 1;
            for (int call = 0; call < 40; ++call)
                if (Veldra_FirstStep(in1, in2, out, &inst.handle))
                    Veldra_SecondStep(&inst.handle);
            EXPECT_TRUE(inst.guards_intact()) << "format " << m.format << " type " << int(type);
        }
    }
}

} // namespace
