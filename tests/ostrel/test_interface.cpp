// Interface of the echo-cancellation library: memory sizing, the sample
// exchange and its double buffering, configuration statuses, and that
// nothing is written outside the caller's block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ostrel.h"
#include "ostrel_block.h"
#include "signals.h"

using namespace testsignals;

namespace
{

constexpr size_t kChunk = 16;
constexpr size_t kDelay = 256;
constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardByte = 0xA5;

// A library instance whose block sits between guard bytes; `misalign` 4
// places the block on an address that is 4- but not 8-byte aligned.
class Instance
{
  public:
    explicit Instance(uint16_t tail, bool preprocess, uint16_t mic_stride = 1,
                      uint16_t ref_stride = 1, uint16_t out_stride = 1, size_t misalign = 0)
        : misalign_(misalign)
    {
        handle.tail_length = tail;
        handle.preprocess_enable = preprocess ? 1 : 0;
        handle.mic_stride = mic_stride;
        handle.ref_stride = ref_stride;
        handle.out_stride = out_stride;
        EXPECT_EQ(Ostrel_getMemorySize(&handle), OSTREL_OK);
        storage_.assign((handle.internal_memory_size + 2 * kGuardBytes + misalign_ + 15) / 16, {});
        std::memset(bytes(), kGuardByte, storage_.size() * 16);
        handle.internal_memory = bytes() + kGuardBytes + misalign_;
        EXPECT_EQ(Ostrel_Init(&handle), OSTREL_OK);
    }

    bool guards_intact() const
    {
        const uint8_t* all = reinterpret_cast<const uint8_t*>(storage_.data());
        const size_t end = kGuardBytes + misalign_ + handle.internal_memory_size;
        for (size_t i = 0; i < kGuardBytes + misalign_; ++i)
            if (all[i] != kGuardByte)
                return false;
        for (size_t i = end; i < storage_.size() * 16; ++i)
            if (all[i] != kGuardByte)
                return false;
        return true;
    }

    // Feeds the signals 16 samples at a time, processing each frame as soon as
    // it is ready, or (`late`) just before the next half of the rings fills.
    std::vector<int16_t> run(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                             bool late = false)
    {
        std::vector<int16_t> out(mic.size());
        bool pending = false;
        for (size_t t = 0; t + kChunk <= mic.size(); t += kChunk) {
            if (pending && late && (t / kChunk) % 8 == 7) {
                EXPECT_EQ(Ostrel_Process(&handle), OSTREL_OK);
                pending = false;
            }
            if (Ostrel_Data_Input(&mic[t], &ref[t], &out[t], &handle) == 1) {
                if (!late) {
                    EXPECT_EQ(Ostrel_Process(&handle), OSTREL_OK);
                }
                pending = late;
            }
        }
        return out;
    }

    ostrel::OstrelBlock* block() { return ostrel::block_of(&handle); }

    OstrelHandle handle{};

  private:
    struct alignas(16) Chunk16 {
        uint8_t b[16];
    };
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(storage_.data()); }
    std::vector<Chunk16> storage_;
    size_t misalign_;
};

uint32_t memory_size(uint16_t tail, bool preprocess)
{
    OstrelHandle handle{};
    handle.tail_length = tail;
    handle.preprocess_enable = preprocess ? 1 : 0;
    Ostrel_getMemorySize(&handle);
    return handle.internal_memory_size;
}

double power(const std::vector<int16_t>& s, size_t begin, size_t end)
{
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(s[i]) * s[i];
    return sum / double(end - begin);
}

} // namespace

TEST(OstrelInterface, MemorySizeFollowsTheTailAndReservation)
{
    // Tail 0 is the default 512 tail.
    EXPECT_EQ(memory_size(0, false), memory_size(512, false));
    EXPECT_EQ(memory_size(0, true), memory_size(512, true));
    // 128 samples need one filter block (K = 2), 129 two (K = 3): one more
    // 1024-byte spectrum in each of the three arrays, one more step factor.
    EXPECT_EQ(memory_size(129, false) - memory_size(128, false), 3u * 1024u + 4u);
    EXPECT_EQ(memory_size(128, false), ostrel::kFixedBytes + 3u * 1024u * 2u + 4u * 128u + 8u);
    EXPECT_EQ(memory_size(1, false), memory_size(128, false) - 4u * 127u);
    // The preprocessor adds its state, transform table and filter bank.
    EXPECT_EQ(memory_size(512, true) - memory_size(512, false), ostrel::kPreprocessStateBytes +
                                                                    ostrel::kPreprocessFftBytes +
                                                                    ostrel::kFilterBankBytes);
    if (ostrel::kFixedBytes == 17748u && ostrel::kPreprocessStateBytes == 13468u) {
        EXPECT_EQ(memory_size(512, false), 35164u);
        EXPECT_EQ(memory_size(512, true), 53988u);
    }
    // Never below the nominal formula, whatever the tail.
    for (uint16_t tail : {1, 300, 1000, 4096}) {
        const uint32_t nominal = 17748u + 3u * 1024u * ((tail + 127u) / 128u + 1u) + 4u * tail + 8u;
        EXPECT_GE(memory_size(tail, false), nominal) << tail;
        EXPECT_GE(memory_size(tail, true), nominal + 18824u) << tail;
    }
}

TEST(OstrelInterface, InitSetsUpTheBlockAndRefusesATooSmallOne)
{
    Instance zero_tail(0, true, 0, 0, 0);
    ostrel::OstrelBlock* block = zero_tail.block();
    EXPECT_EQ(block->tail_length, 512);
    EXPECT_EQ(block->echo.blocks, 4);
    EXPECT_EQ(block->mic_stride, 1);
    EXPECT_EQ(block->ref_stride, 1);
    EXPECT_EQ(block->out_stride, 1);
    EXPECT_EQ(block->write_index, 0);
    EXPECT_EQ(block->read_index, 128);
    EXPECT_EQ(block->frame_ready, 0);
    EXPECT_EQ(block->echo_active, 1);
    EXPECT_EQ(block->preprocess_reserved, 1);
    EXPECT_EQ(block->preprocess_active, 1);
    EXPECT_EQ(block->echo.sampling_rate, 16000);
    EXPECT_FLOAT_EQ(block->echo.notch_radius, 0.982f);
    ASSERT_NE(block->preprocess, nullptr);
    EXPECT_EQ(block->preprocess->echo_state, nullptr);
    EXPECT_EQ(block->preprocess->agc_enabled, 0);

    Instance one_block(129, false);
    EXPECT_EQ(one_block.block()->echo.blocks, 2);
    EXPECT_EQ(one_block.block()->preprocess, nullptr);
    EXPECT_EQ(one_block.block()->preprocess_reserved, 0);

    // Sized without the preprocessor, then asked for it: refused, untouched.
    OstrelHandle handle{};
    Ostrel_getMemorySize(&handle);
    std::vector<uint32_t> memory(handle.internal_memory_size / 4, 0xDEADBEEFu);
    handle.internal_memory = memory.data();
    handle.preprocess_enable = 1;
    EXPECT_EQ(Ostrel_Init(&handle), OSTREL_ERR_MEMORY);
    for (uint32_t word : memory)
        ASSERT_EQ(word, 0xDEADBEEFu);
    handle.internal_memory = nullptr;
    EXPECT_EQ(Ostrel_Init(&handle), OSTREL_ERR_MEMORY);
}

TEST(OstrelInterface, DataInputReportsEveryEighthCallAndProcessNeedsAFrame)
{
    Instance instance(0, false);
    std::vector<int16_t> mic(kChunk, 1000), ref(kChunk, 0), out(kChunk, -1);
    // Nothing ready: Process changes no byte of the block.
    const uint8_t* block = static_cast<const uint8_t*>(instance.handle.internal_memory);
    std::vector<uint8_t> before(block, block + instance.handle.internal_memory_size);
    EXPECT_EQ(Ostrel_Process(&instance.handle), OSTREL_OK);
    EXPECT_EQ(std::memcmp(before.data(), block, before.size()), 0);

    for (int call = 1; call <= 32; ++call) {
        const uint32_t ready =
            Ostrel_Data_Input(mic.data(), ref.data(), out.data(), &instance.handle);
        EXPECT_EQ(ready, call % 8 == 0 ? 1u : 0u) << "call " << call;
        if (call == 8) {
            EXPECT_EQ(instance.block()->frame_ready, 1);
        }
        if (call == 16) {
            EXPECT_EQ(instance.block()->frame_ready, 2);
            EXPECT_EQ(instance.block()->write_index, 0);
        }
        // No Process call at all: the output stays silent, the frame is lost.
        for (int16_t v : out)
            ASSERT_EQ(v, 0);
    }
}

TEST(OstrelInterface, OutputIsTheMicrophoneDelayedBy256Samples)
{
    // With a silent far end the filter stays at zero and pre- and de-emphasis
    // cancel: the output is the microphone through the DC notch (pole radius
    // 0.982), rounded, 256 samples later. Reference notch in double.
    const size_t n = 16 * 1024;
    std::vector<int16_t> mic(n), ref(n, 0);
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> noise(-3000, 3000);
    for (size_t t = 0; t < n; ++t)
        mic[t] =
            int16_t(std::lround(8000.0 * std::sin(2.0 * M_PI * 1000.0 * t / 16000.0)) + noise(rng));
    mic[5000] = 32000;
    mic[9000] = -32000;

    const double r = 0.982, d = r * r + 0.7 * (1.0 - r) * (1.0 - r);
    double z1 = 0.0, z2 = 0.0;
    std::vector<double> notched(n);
    for (size_t t = 0; t < n; ++t) {
        const double v = mic[t], s = z1 + v;
        z1 = z2 + 2.0 * (r * s - v);
        z2 = v - d * s;
        notched[t] = r * s;
    }

    Instance instance(0, false);
    const std::vector<int16_t> out = instance.run(mic, ref);
    for (size_t t = 0; t < kDelay; ++t)
        ASSERT_EQ(out[t], 0) << t;
    double worst = 0.0;
    for (size_t t = kDelay; t < n; ++t)
        worst = std::max(worst, std::fabs(out[t] - notched[t - kDelay]));
    EXPECT_LE(worst, 1.0);
}

TEST(OstrelInterface, StridesPickInterleavedSamples)
{
    const EchoScene scene = echo_scene(4096, 7);
    Instance plain(256, false);
    const std::vector<int16_t> expected = plain.run(scene.mic, scene.ref);

    // Stride 2 on every buffer: the other channel's samples must neither be
    // read nor overwritten. Stride 0 behaves as 1.
    std::vector<int16_t> mic2(2 * kChunk), ref2(2 * kChunk), out2(2 * kChunk);
    std::vector<int16_t> out0(kChunk);
    Instance strided(256, false, 2, 2, 2);
    Instance zero(256, false, 0, 0, 0);
    for (size_t t = 0; t + kChunk <= scene.mic.size(); t += kChunk) {
        for (size_t i = 0; i < kChunk; ++i) {
            mic2[2 * i] = scene.mic[t + i];
            ref2[2 * i] = scene.ref[t + i];
            mic2[2 * i + 1] = 30000;
            ref2[2 * i + 1] = -30000;
            out2[2 * i + 1] = 1234;
        }
        if (Ostrel_Data_Input(mic2.data(), ref2.data(), out2.data(), &strided.handle))
            Ostrel_Process(&strided.handle);
        if (Ostrel_Data_Input(&scene.mic[t], &scene.ref[t], out0.data(), &zero.handle))
            Ostrel_Process(&zero.handle);
        for (size_t i = 0; i < kChunk; ++i) {
            ASSERT_EQ(out2[2 * i], expected[t + i]) << t + i;
            ASSERT_EQ(out2[2 * i + 1], 1234);
            ASSERT_EQ(out0[i], expected[t + i]) << t + i;
        }
    }
}

TEST(OstrelInterface, ConfigurationStatuses)
{
    OstrelConfig config{1, 8000, 1, -20, -30, -10};
    Instance bare(0, false);
    EXPECT_EQ(Ostrel_setConfig(&bare.handle, &config), OSTREL_ERR_NO_PREPROCESSOR);
    config.denoise_enable = 2; // only bit 0 counts
    EXPECT_EQ(Ostrel_setConfig(&bare.handle, &config), OSTREL_OK);
    OstrelConfig read{7, 7, 7, 7, 7, 7};
    EXPECT_EQ(Ostrel_getConfig(&bare.handle, &read), OSTREL_ERR_NO_PREPROCESSOR);
    EXPECT_EQ(read.denoise_enable, 7u);
    EXPECT_EQ(read.agc_target_level, 7u);

    Instance full(0, true);
    PreprocessState* pre = full.block()->preprocess;
    EXPECT_EQ(Ostrel_getConfig(&full.handle, &read), OSTREL_OK);
    EXPECT_EQ(read.denoise_enable, 1u);
    EXPECT_EQ(read.agc_target_level, 0u);
    EXPECT_EQ(read.residual_echo_enable, 7u); // other fields untouched
    EXPECT_EQ(read.echo_attenuation_active_db, 7);

    // Out-of-range level: status 2, gain control off, the rest applied.
    config = OstrelConfig{1, 32768, 1, -20, -30, -10};
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &config), OSTREL_ERR_AGC_LEVEL);
    EXPECT_EQ(pre->agc_enabled, 0);
    EXPECT_EQ(pre->noise_attenuation_db, -20);
    EXPECT_EQ(pre->echo_attenuation_db, -30);
    EXPECT_EQ(pre->echo_attenuation_active_db, -10);
    EXPECT_EQ(pre->echo_state, &full.block()->echo);

    config = OstrelConfig{1, 8000, 0, -15, -40, -15};
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &config), OSTREL_OK);
    EXPECT_EQ(pre->agc_enabled, 1);
    EXPECT_FLOAT_EQ(pre->agc_level, 8000.0f);
    EXPECT_EQ(pre->echo_state, nullptr);
    EXPECT_EQ(Ostrel_getConfig(&full.handle, &read), OSTREL_OK);
    EXPECT_EQ(read.agc_target_level, 8000u);

    // Gain control off keeps the stored target but reports 0, so that a
    // record read back and written again leaves gain control off.
    config = OstrelConfig{0, 0, 2, -6, -40, -15};
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &config), OSTREL_OK);
    EXPECT_EQ(pre->agc_enabled, 0);
    EXPECT_FLOAT_EQ(pre->agc_level, 8000.0f);
    EXPECT_EQ(pre->noise_attenuation_db, -6); // stored as given, no sign change
    EXPECT_EQ(pre->echo_state, nullptr);      // only 1 links
    EXPECT_EQ(Ostrel_getConfig(&full.handle, &read), OSTREL_OK);
    EXPECT_EQ(read.denoise_enable, 0u);
    EXPECT_EQ(read.agc_target_level, 0u);
    // (its attenuation fields still hold the 7 they started with, refused)
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &read), OSTREL_ERR_ATTENUATION);
    EXPECT_EQ(pre->agc_enabled, 0);

    // A positive attenuation would amplify: each one is refused and keeps its
    // value, the rest applies, and the status combines with the level's.
    config = OstrelConfig{1, 40000, 1, 15, -35, 1};
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &config),
              OSTREL_ERR_AGC_LEVEL | OSTREL_ERR_ATTENUATION);
    EXPECT_EQ(pre->noise_attenuation_db, -6);
    EXPECT_EQ(pre->echo_attenuation_db, -35);
    EXPECT_EQ(pre->echo_attenuation_active_db, -15);
    EXPECT_EQ(pre->echo_state, &full.block()->echo);
    config = OstrelConfig{1, 0, 1, -20, 386, 0};
    EXPECT_EQ(Ostrel_setConfig(&full.handle, &config), OSTREL_ERR_ATTENUATION);
    EXPECT_EQ(pre->noise_attenuation_db, -20);
    EXPECT_EQ(pre->echo_attenuation_db, -35);
    EXPECT_EQ(pre->echo_attenuation_active_db, 0);

    char version[OSTREL_VERSION_BUFFER_SIZE + 4];
    std::memset(version, 'x', sizeof version);
    EXPECT_EQ(Ostrel_GetLibVersion(version), 16u);
    EXPECT_STREQ(version, "ZQ Ostrel v2.0.0");
    EXPECT_EQ(version[17], 'x');
}

TEST(OstrelInterface, NoWriteOutsideTheBlockAndScheduleDoesNotMatter)
{
    const EchoScene scene = echo_scene(16000 * 4, 11);
    for (bool preprocess : {false, true}) {
        for (uint16_t tail : {128, 129, 512}) {
            SCOPED_TRACE(testing::Message()
                         << "tail " << tail << (preprocess ? " with" : " without")
                         << " preprocessor");
            Instance prompt(tail, preprocess);
            Instance late(tail, preprocess, 1, 1, 1, 4);
            const OstrelConfig config{1, 12000, 1, -15, -40, -15};
            if (preprocess) {
                EXPECT_EQ(Ostrel_setConfig(&prompt.handle, &config), OSTREL_OK);
                EXPECT_EQ(Ostrel_setConfig(&late.handle, &config), OSTREL_OK);
            }
            EXPECT_TRUE(prompt.guards_intact());
            EXPECT_TRUE(late.guards_intact());
            const std::vector<int16_t> a = prompt.run(scene.mic, scene.ref);
            const std::vector<int16_t> b = late.run(scene.mic, scene.ref, true);
            EXPECT_TRUE(prompt.guards_intact());
            EXPECT_TRUE(late.guards_intact());
            EXPECT_EQ(a, b);
            // The rings pair each microphone frame with its own reference frame:
            // the echo is cancelled once the filter has converged.
            const size_t n = scene.mic.size();
            const double erle = 10.0 * std::log10(power(scene.mic, n / 2, n - kDelay) /
                                                  power(a, n / 2 + kDelay, n));
            EXPECT_GT(erle, tail >= 300 ? 15.0 : 3.0);
        }
    }
}

TEST(OstrelInterface, BothExportedNamesBehaveAlike)
{
    const EchoScene scene = echo_scene(8192, 3);
    Instance first(0, true), second(0, true);
    const OstrelConfig config{1, 0, 1, -15, -40, -15};
    EXPECT_EQ(Ostrel_setConfig(&first.handle, &config),
              libEchoCancel_setConfig(&second.handle, &config));
    const std::vector<int16_t> a = first.run(scene.mic, scene.ref);
    std::vector<int16_t> b(scene.mic.size());
    for (size_t t = 0; t + kChunk <= b.size(); t += kChunk) {
        if (libEchoCancel_Data_Input(&scene.mic[t], &scene.ref[t], &b[t], &second.handle))
            libEchoCancel_Process(&second.handle);
    }
    EXPECT_EQ(a, b);
}
