#include "scenarios.h"

#include "echo.h"
#include "fft.h"
#include "ostrel.h"
#include "scene_generator.h"
#include "veldra.h"

namespace fwvectors
{
namespace
{

constexpr size_t kMaxPdmBytesPerMs = 2048 / 8;
constexpr size_t kOutChannels = 2;
constexpr size_t kFftLength = 256;
constexpr uint32_t kFftVectors = 64;

// Working block shared by the scenarios (one runs at a time).
alignas(8) uint8_t g_working_block[112 * 1024];

// Microphone-to-microphone travel time in samples at `rate`, rounded.
uint32_t travel_samples(uint16_t tenths_of_mm, uint32_t rate)
{
    return (uint32_t)(((uint64_t)tenths_of_mm * rate / 10000u * 1000u + 171500u) / 343000u);
}

// Times one library call through the observer.
template <typename Function>
uint32_t timed_call(RunObserver &observer, Call call, Function function)
{
    uint32_t start = observer.now();
    uint32_t result = function();
    uint32_t end = observer.now();
    observer.timed(call, start, end);
    return result;
}

bool set_up_veldra(const Scenario &s, VeldraHandle &handle)
{
    handle = VeldraHandle{};
    handle.data_format = s.data_format;
    handle.sampling_frequency = s.sampling_khz;
    handle.mic1_channels = s.interleaved ? 2 : 1;
    handle.mic2_channels = s.interleaved ? 2 : 1;
    handle.out_channels = kOutChannels;
    handle.algorithm_type = (uint8_t)s.algorithm_type;
    handle.second_output = s.second_output;
    handle.delay_enable = 1;
    bool field = s.library == Library::VeldraField;
    if (field)
        Veldra_getFieldMemorySize(&handle);
    else
        Veldra_getMemorySize(&handle);
    if (handle.internal_memory_size > sizeof g_working_block)
        return false;
    handle.internal_memory = g_working_block;
    VeldraFieldOptions options;
    Veldra_getFieldDefaults(&options);
    if ((field ? Veldra_InitField(&handle, &options) : Veldra_Init(&handle)) != 0)
        return false;
    VeldraConfig config{};
    config.mic_distance = s.mic_distance;
    config.algorithm_type = s.algorithm_type;
    config.volume = 6;
    config.mic2_gain = s.mic2_gain;
    return Veldra_setConfig(&handle, &config) == 0;
}

bool run_veldra(const Scenario &s, RunObserver &observer)
{
    VeldraHandle handle;
    if (!set_up_veldra(s, handle))
        return false;
    bool pdm = s.data_format == VELDRA_FORMAT_PDM;
    uint32_t rate = pdm ? s.sampling_khz * 1000u : 16000u;
    TwoMicrophoneScene scene(rate, travel_samples(s.mic_distance, rate));
    uint8_t pdm_bytes[2][2 * kMaxPdmBytesPerMs];
    int16_t pcm[2][16];
    int16_t out[16 * kOutChannels] = {}; // channel 1 stays untouched when unused
    for (uint32_t ms = 0; ms < s.milliseconds; ++ms) {
        const void *mic1 = pcm[0];
        const void *mic2 = pcm[1];
        if (!pdm) {
            scene.next_pcm(pcm[0], pcm[1]);
        } else if (s.interleaved) {
            scene.next_pdm(pdm_bytes[0], pdm_bytes[0] + 1, 2);
            mic1 = pdm_bytes[0];
            mic2 = pdm_bytes[0] + 1;
        } else {
            scene.next_pdm(pdm_bytes[0], pdm_bytes[1], 1);
            mic1 = pdm_bytes[0];
            mic2 = pdm_bytes[1];
        }
        uint32_t ready = timed_call(observer, Call::FirstStep,
                                    [&] { return Veldra_FirstStep(mic1, mic2, out, &handle); });
        if (!observer.output(out, sizeof out))
            return false;
        if (ready &&
            timed_call(observer, Call::SecondStep, [&] { return Veldra_SecondStep(&handle); }) != 0)
            return false;
    }
    return true;
}

bool run_ostrel(const Scenario &s, RunObserver &observer)
{
    OstrelHandle handle{};
    handle.tail_length = s.tail_length;
    handle.preprocess_enable = s.preprocess ? 1u : 0u;
    const bool field = s.library == Library::OstrelField;
    OstrelFieldOptions options;
    Ostrel_Field_defaults(&options);
    options.residual_enable = s.preprocess ? 1u : 0u;
    if (field)
        Ostrel_Field_getMemorySize(&handle, &options);
    else
        Ostrel_getMemorySize(&handle);
    if (handle.internal_memory_size > sizeof g_working_block)
        return false;
    handle.internal_memory = g_working_block;
    if ((field ? Ostrel_Field_Init(&handle, &options) : Ostrel_Init(&handle)) != OSTREL_OK)
        return false;
    if (s.preprocess) {
        OstrelConfig config{1u, 8000u, 1u, -15, -40, -15};
        if (Ostrel_setConfig(&handle, &config) != OSTREL_OK)
            return false;
    }
    EchoScene scene(s.echo_path_change ? s.milliseconds / 2 : 0);
    int16_t mic[16], ref[16], out[16];
    for (uint32_t ms = 0; ms < s.milliseconds; ++ms) {
        scene.next(mic, ref);
        uint32_t ready = timed_call(observer, Call::DataInput,
                                    [&] { return Ostrel_Data_Input(mic, ref, out, &handle); });
        if (!observer.output(out, sizeof out))
            return false;
        if (ready && timed_call(observer, Call::Process, [&] { return Ostrel_Process(&handle); }) !=
                         OSTREL_OK)
            return false;
    }
    return true;
}

// The shared canceller with the beamformer's constants, fed the echo scene a
// frame at a time. The beamformer's own scenes rarely drive the canceller's
// two-path decision hard; a loudspeaker echo does.
bool run_adaptive_stage(const Scenario &s, RunObserver &observer)
{
    static EchoState state;
    static FftTable table;
    const int32_t frame = ECHO_FRAME, blocks = (s.tail_length + frame - 1) / frame;
    if (Echo_variable_bytes(frame, s.tail_length) > sizeof g_working_block)
        return false;
    float *arrays = reinterpret_cast<float *>(g_working_block);
    for (size_t i = 0; i < Echo_variable_bytes(frame, s.tail_length) / sizeof(float); ++i)
        arrays[i] = 0.0f;
    state = EchoState{};
    state.X = arrays;
    state.W = state.X + (blocks + 1) * 2 * frame;
    state.foreground = state.W + blocks * 2 * frame;
    state.lambda = state.foreground + blocks * 2 * frame;
    state.table = &table;
    fft_table_init(&table, 2 * frame);
    Echo_init(&state, frame, s.tail_length, 1, 1);
    Echo_set_sampling_rate(&state, 16000);
    Echo_set_tuning(&state, &ECHO_TUNING_VELDRA);
    EchoScene scene(s.echo_path_change ? s.milliseconds / 2 : 0);
    int16_t mic[ECHO_FRAME], ref[ECHO_FRAME], out[ECHO_FRAME];
    for (uint32_t ms = 0; ms + 8 <= s.milliseconds; ms += 8) {
        for (size_t k = 0; k < 8; ++k)
            scene.next(mic + 16 * k, ref + 16 * k);
        Echo_cancellation(&state, mic, ref, out);
        if (!observer.output(out, sizeof out))
            return false;
    }
    return true;
}

// Random vectors whose values are exact in float: 16-bit integers / 2^15.
bool run_fft(RunObserver &observer)
{
    static FftTable table;
    fft_table_init(&table, (int32_t)kFftLength);
    uint32_t state = 0x0BADF00Du;
    float signal[kFftLength], spectrum[kFftLength], restored[kFftLength];
    for (uint32_t v = 0; v < kFftVectors; ++v) {
        for (float &x : signal)
            x = (float)((int32_t)(next_random(state) >> 16) - 32768) * (1.0f / 32768.0f);
        timed_call(observer, Call::Fft, [&] {
            fft(&table, signal, spectrum);
            return 0u;
        });
        timed_call(observer, Call::Ifft, [&] {
            ifft(&table, spectrum, restored);
            return 0u;
        });
        if (!observer.output(spectrum, sizeof spectrum) ||
            !observer.output(restored, sizeof restored))
            return false;
    }
    return true;
}

} // namespace

// The 1024 kHz runs take both microphones interleaved in one buffer (stride 2)
// unless named "separate"; the 2048 kHz runs take one buffer per microphone.
// Scene lengths: long enough for the automatic gain estimate (500 ms), the
// adaptive filters and the denoiser to settle, short enough for emulation.
const Scenario kScenarios[] = {
    // name, library, ms, format, kHz, type, distance, 2nd out, gain, interleaved,
    // tail, preprocess, exact, max |diff|, min diff dB
    {"veldra_pdm1024_type0", Library::Veldra, 1000, VELDRA_FORMAT_PDM, 1024, 0, 150,
     VELDRA_SECOND_OUTPUT_MIC1, 1.0f, true, 0, false, true, 0, 0.0},
    {"veldra_pdm1024_type1", Library::Veldra, 1000, VELDRA_FORMAT_PDM, 1024, 1, 150,
     VELDRA_SECOND_OUTPUT_MIC1, 1.0f, true, 0, false, false, 2, 60.0},
    {"veldra_pdm1024_type2", Library::Veldra, 1000, VELDRA_FORMAT_PDM, 1024, 2, 150,
     VELDRA_SECOND_OUTPUT_REAR, 1.0f, true, 0, false, false, 2, 60.0},
    {"veldra_pdm1024_type3", Library::Veldra, 1200, VELDRA_FORMAT_PDM, 1024, 3, 150,
     VELDRA_SECOND_OUTPUT_REAR, 0.0f, true, 0, false, false, 2, 60.0},
    {"veldra_pdm1024_separate_type0", Library::Veldra, 400, VELDRA_FORMAT_PDM, 1024, 0, 150,
     VELDRA_SECOND_OUTPUT_NONE, 1.0f, false, 0, false, true, 0, 0.0},
    {"veldra_pdm2048_type0", Library::Veldra, 600, VELDRA_FORMAT_PDM, 2048, 0, 209,
     VELDRA_SECOND_OUTPUT_NONE, 1.0f, false, 0, false, true, 0, 0.0},
    {"veldra_pdm2048_type3", Library::Veldra, 1000, VELDRA_FORMAT_PDM, 2048, 3, 209,
     VELDRA_SECOND_OUTPUT_REAR, 0.0f, false, 0, false, false, 2, 60.0},
    {"veldra_pcm_type3", Library::Veldra, 800, VELDRA_FORMAT_PCM, 16, 3, 212,
     VELDRA_SECOND_OUTPUT_REAR, 1.0f, false, 0, false, false, 2, 60.0},
    // Field mode: every stage, automatic second-microphone gain.
    {"veldra_field_pdm1024_type2", Library::VeldraField, 1000, VELDRA_FORMAT_PDM, 1024, 2, 150,
     VELDRA_SECOND_OUTPUT_REAR, 0.0f, true, 0, false, true, 0, 0.0},
    {"veldra_field_pdm2048_type3", Library::VeldraField, 1000, VELDRA_FORMAT_PDM, 2048, 3, 209,
     VELDRA_SECOND_OUTPUT_MIC1, 0.0f, false, 0, false, true, 0, 0.0},
    {"veldra_field_pdm384_type0", Library::VeldraField, 500, VELDRA_FORMAT_PDM, 384, 0, 100,
     VELDRA_SECOND_OUTPUT_NONE, 1.0f, false, 0, false, true, 0, 0.0},
    {"veldra_field_pcm_type2", Library::VeldraField, 600, VELDRA_FORMAT_PCM, 16, 2, 212,
     VELDRA_SECOND_OUTPUT_REAR, 0.0f, false, 0, false, true, 0, 0.0},
    {"ostrel_tail512", Library::Ostrel, 3000, 0, 0, 0, 0, 0, 0.0f, false, 512, false, false, 2,
     60.0},
    {"ostrel_tail512_preprocess", Library::Ostrel, 3000, 0, 0, 0, 0, 0, 0.0f, false, 512, true,
     false, 2, 60.0},
    {"ostrel_tail512_path_change", Library::Ostrel, 3000, 0, 0, 0, 0, 0, 0.0f, false, 512, false,
     false, 2, 60.0, true},
    {"ostrel_field_tail512_preprocess", Library::OstrelField, 3000, 0, 0, 0, 0, 0, 0.0f, false, 512,
     true, false, 2, 60.0},
    // The canceller as the beamformer's adaptive stage uses it (one block),
    // and with a longer tail through an echo-path change.
    {"adaptive_stage_tail128", Library::AdaptiveStage, 3000, 0, 0, 0, 0, 0, 0.0f, false, 128, false,
     false, 2, 60.0},
    {"adaptive_stage_tail512_path_change", Library::AdaptiveStage, 3000, 0, 0, 0, 0, 0, 0.0f, false,
     512, false, false, 2, 60.0, true},
    {"fft256", Library::Fft, 0, 0, 0, 0, 0, 0, 0.0f, false, 0, false, false, 0, 120.0},
};
const size_t kScenarioCount = sizeof kScenarios / sizeof kScenarios[0];

const char *call_name(Call call)
{
    switch (call) {
    case Call::FirstStep:
        return "Veldra_FirstStep";
    case Call::SecondStep:
        return "Veldra_SecondStep";
    case Call::DataInput:
        return "Ostrel_Data_Input";
    case Call::Process:
        return "Ostrel_Process";
    case Call::Fft:
        return "fft";
    case Call::Ifft:
        return "ifft";
    case Call::Count:
        break;
    }
    return "?";
}

bool run_scenario(const Scenario &scenario, RunObserver &observer)
{
    switch (scenario.library) {
    case Library::Veldra:
    case Library::VeldraField:
        return run_veldra(scenario, observer);
    case Library::Ostrel:
    case Library::OstrelField:
        return run_ostrel(scenario, observer);
    case Library::AdaptiveStage:
        return run_adaptive_stage(scenario, observer);
    case Library::Fft:
        return run_fft(observer);
    }
    return false;
}

} // namespace fwvectors
