#include "FirmwareLoop.h"

#include <algorithm>
#include <cmath>

#include "FeatureParameterBlock.h"

namespace
{

constexpr int SETTLE_MS = 32;

int16_t Saturate(double x)
{
    return static_cast<int16_t>(std::lround(std::max(-32768.0, std::min(32767.0, x))));
}

// Index (0-based) of the lowest microphone in mask, after skipping `skip` of them.
int MicOfMask(uint32_t mask, int skip)
{
    for (int m = 0; m < ROOM_MICS; ++m) {
        if (mask & (1u << m)) {
            if (skip-- == 0)
                return m;
        }
    }
    return -1;
}

} // namespace

void FirmwareLoop::Beamformer::Start(unsigned clockKhz, unsigned type, uint16_t distance,
                                     uint8_t volume)
{
    handle = VeldraHandle{};
    handle.data_format = VELDRA_FORMAT_PDM;
    handle.sampling_frequency = clockKhz;
    // Both microphones' bytes interleaved, as a stereo PDM interface delivers
    // them (a stride of 1 would mean byte-swapped 16-bit words).
    handle.mic1_channels = 2;
    handle.mic2_channels = 2;
    handle.out_channels = 2;
    handle.algorithm_type = static_cast<uint8_t>(type);
    handle.second_output = VELDRA_SECOND_OUTPUT_MIC1;
    handle.delay_enable = 1;
    Veldra_getMemorySize(&handle);
    memory.assign(handle.internal_memory_size / 4 + 1, 0);
    handle.internal_memory = memory.data();
    Veldra_Init(&handle);
    VeldraConfig config{};
    config.mic_distance = distance;
    config.algorithm_type = type;
    config.volume = volume;
    config.mic2_gain = 0.0f;
    Veldra_setConfig(&handle, &config);
}

void FirmwareLoop::EchoCanceller::Start(const OstrelConfig& config)
{
    handle = OstrelHandle{};
    handle.tail_length = 0;
    handle.preprocess_enable = 1;
    handle.mic_stride = 1;
    handle.ref_stride = 1;
    handle.out_stride = 2;
    Ostrel_getMemorySize(&handle);
    memory.assign(handle.internal_memory_size / 4 + 1, 0);
    handle.internal_memory = memory.data();
    Ostrel_Init(&handle);
    Ostrel_setConfig(&handle, &config);
}

FirmwareLoop::FirmwareLoop(BoardKind boardKind, unsigned pdmClockKhz)
    : kind(boardKind), clockKhz(pdmClockKhz), geometry(MicGeometryOf(boardKind))
{
    for (Beamformer& d : decimators)
        d.Start(clockKhz, VELDRA_TYPE_CARDIOID, 150, ANALYSIS_GAIN_DB);
    analysisSettleMs = SETTLE_MS;
}

void FirmwareLoop::Configure(const FeatureParameterBlock& block)
{
    const uint16_t enabled = block.general.enabledFeatures;
    const unsigned volumeStep = std::min<unsigned>(block.general.currentVolume, 128);
    streamGainDb = volumeStep == 0 ? -200.0 : 20.0 * std::log10(volumeStep / 4.0);
    if (enabled & FEATURE_BEAMFORMING) {
        mode = OutputMode::Beam;
        const int direction = block.beam.beamDirection >= 1 && block.beam.beamDirection <= 8
                                  ? block.beam.beamDirection - 1
                                  : 0;
        const uint32_t mask = beamMicMask(direction, kind == BoardKind::Marrowin);
        // The microphone nearer the beam direction is the front one.
        const double radians = direction * 45.0 * 3.14159265358979 / 180.0;
        const int a = MicOfMask(mask, 0), b = MicOfMask(mask, 1);
        const double along = (geometry.x[a] - geometry.x[b]) * std::sin(radians) +
                             (geometry.y[a] - geometry.y[b]) * std::cos(radians);
        const int front = along >= 0.0 ? a : b, rear = along >= 0.0 ? b : a;
        const unsigned type = std::min<unsigned>(block.beam.beamType, 3);
        const uint8_t volume =
            static_cast<uint8_t>(std::lround(std::max(0.0, std::min(51.0, streamGainDb))));
        if (!beamStarted || front != micA || rear != micB || type != beamType ||
            volume != beamVolume) {
            const double spacing =
                std::hypot(geometry.x[a] - geometry.x[b], geometry.y[a] - geometry.y[b]);
            beam.Start(clockKhz, type, static_cast<uint16_t>(std::lround(spacing * 10000.0)),
                       volume);
            beamSettleMs = SETTLE_MS;
            beamStarted = true;
            micA = front;
            micB = rear;
            beamType = type;
            beamVolume = volume;
        }
        echoStarted = false;
        return;
    }
    beamStarted = false;
    if (enabled & FEATURE_AEC) {
        mode = OutputMode::EchoCancelled;
        micA = std::max(0, MicOfMask(block.general.micMask, 0));
        micB = micA;
        OstrelConfig config{};
        config.denoise_enable = block.aec.denoiser ? 1 : 0;
        config.agc_target_level = std::min<uint32_t>(block.aec.agcLevel, 32767);
        config.residual_echo_enable = 1;
        config.noise_attenuation_db = -15;
        config.echo_attenuation_db = -40;
        config.echo_attenuation_active_db = -15;
        const bool changed = config.denoise_enable != echoConfig.denoise_enable ||
                             config.agc_target_level != echoConfig.agc_target_level;
        if (!echoStarted) {
            echo.Start(config);
            echoStarted = true;
        } else if (changed) {
            Ostrel_setConfig(&echo.handle, &config);
        }
        echoConfig = config;
        return;
    }
    echoStarted = false;
    mode = OutputMode::Streaming;
    micA = MicOfMask(block.general.micMask, 0);
    micB = MicOfMask(block.general.micMask, 1);
    if (micA < 0)
        micA = 0;
    if (micB < 0)
        micB = micA;
}

void FirmwareLoop::Interleave(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second)
{
    pair.resize(2 * first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        pair[2 * i] = first[i];
        pair[2 * i + 1] = second[i];
    }
}

void FirmwareLoop::Tick(const std::array<std::vector<uint8_t>, ROOM_MICS>& pdm,
                        const int16_t reference[SAMPLES_PER_MS], int16_t out[2 * SAMPLES_PER_MS],
                        int16_t analysis[ROOM_MICS][SAMPLES_PER_MS])
{
    int16_t frames[2 * SAMPLES_PER_MS];
    for (int m = 0; m < ROOM_MICS; ++m) {
        Beamformer& d = decimators[static_cast<size_t>(m)];
        Interleave(pdm[static_cast<size_t>(m)], pdm[static_cast<size_t>((m + 1) % ROOM_MICS)]);
        if (Veldra_FirstStep(pair.data(), pair.data() + 1, frames, &d.handle))
            Veldra_SecondStep(&d.handle);
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            analysis[m][i] = analysisSettleMs > 0 ? 0 : frames[2 * i + 1];
    }
    if (analysisSettleMs > 0)
        --analysisSettleMs;
    switch (mode) {
    case OutputMode::Beam:
        Interleave(pdm[static_cast<size_t>(micA)], pdm[static_cast<size_t>(micB)]);
        if (Veldra_FirstStep(pair.data(), pair.data() + 1, out, &beam.handle))
            Veldra_SecondStep(&beam.handle);
        if (beamSettleMs > 0) {
            --beamSettleMs;
            std::fill(out, out + 2 * SAMPLES_PER_MS, int16_t{0});
        }
        break;
    case OutputMode::EchoCancelled: {
        // The echo canceller takes the microphone at the streaming gain.
        const double gain = std::pow(10.0, (streamGainDb - ANALYSIS_GAIN_DB) / 20.0);
        int16_t mic[SAMPLES_PER_MS];
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            mic[i] = Saturate(analysis[micA][i] * gain);
        if (Ostrel_Data_Input(mic, reference, out, &echo.handle))
            Ostrel_Process(&echo.handle);
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            out[2 * i + 1] = mic[i];
        break;
    }
    case OutputMode::Streaming: {
        const double gain = std::pow(10.0, (streamGainDb - ANALYSIS_GAIN_DB) / 20.0);
        for (int i = 0; i < SAMPLES_PER_MS; ++i) {
            out[2 * i] = Saturate(analysis[micA][i] * gain);
            out[2 * i + 1] = Saturate(analysis[micB][i] * gain);
        }
        break;
    }
    }
}
