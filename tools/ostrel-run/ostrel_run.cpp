// ostrel-run: feeds the echo-cancellation library from WAV files exactly as
// the firmware does (16 samples per Ostrel_Data_Input, Ostrel_Process
// whenever that returns 1), writes the output with the library's 256-sample
// delay removed, and reports the echo return loss enhancement per second and
// the processing time per frame.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <time.h>

#include "command_line.h"
#include "CpuTime.h"
#include "ostrel.h"
#include "output_files.h"
#include "run_options.h"
#include "wav_file.h"

namespace
{

constexpr int kWavSampleRate = 16000;
const wavfile::Shape kWavShape = {kWavSampleRate, 1, true,
                                  "expected a 16000 Hz mono 16-bit PCM WAV file"};
constexpr size_t kChunk = OSTREL_SAMPLES_PER_INPUT;
constexpr size_t kDelay = OSTREL_DELAY_SAMPLES;
constexpr size_t kFrame = OSTREL_FRAME_SIZE;
constexpr size_t kSecond = kWavSampleRate;
constexpr double kFrameBudgetUs = 1e6 * kFrame / kWavSampleRate; // 8 ms
// A far-end frame counts as active above -50 dBFS RMS.
constexpr double kFarEndActiveRms = 32768.0 * 0.0031622776601683794;

struct RunResult {
    std::vector<int16_t> output;      // aligned with the microphone input
    std::vector<double> frame_micros; // thread CPU time of each Ostrel_Process call
};

int fail(const std::string& message, int code)
{
    std::fprintf(stderr, "ostrel-run: %s\n", message.c_str());
    return code;
}

OstrelConfig make_config(const RunOptions& options)
{
    OstrelConfig config{};
    // The suppressor stage runs for any of its options; noise is attenuated only
    // with --denoise (0 dB: its gain floor stays at 1 for noise).
    config.denoise_enable = 1;
    config.agc_target_level = options.agc_level;
    config.residual_echo_enable = options.residual_echo ? 1u : 0u;
    config.noise_attenuation_db = options.denoise ? options.noise_db : 0;
    config.echo_attenuation_db = options.echo_db;
    config.echo_attenuation_active_db = options.echo_active_db;
    return config;
}

// Runs the library over the first `length` samples of both signals, then
// feeds 256 samples of silence so that the last input reaches the output.
std::string run_library(const RunOptions& options, const std::vector<int16_t>& mic,
                        const std::vector<int16_t>& ref, size_t length, RunResult& result)
{
    OstrelHandle handle{};
    handle.tail_length = options.tail_length;
    handle.preprocess_enable = options.preprocessor ? 1u : 0u;
    OstrelFieldOptions field{};
    field.align_enable = field.drift_enable = options.field_align ? 1u : 0u;
    field.nonlinear_enable = options.field_nonlinear ? 1u : 0u;
    field.residual_enable = options.field_residual ? 1u : 0u;
    field.recovery_enable = options.field_recovery ? 1u : 0u;
    field.residual_strength_db = options.field_strength_db;
    if (options.field()) {
        Ostrel_Field_getMemorySize(&handle, &field);
    } else {
        Ostrel_getMemorySize(&handle);
    }
    std::vector<uint32_t> block((handle.internal_memory_size + 3) / 4);
    handle.internal_memory = block.data();
    const uint32_t init =
        options.field() ? Ostrel_Field_Init(&handle, &field) : Ostrel_Init(&handle);
    if (init != OSTREL_OK)
        return "the library refused to start, status " + std::to_string(init);
    if (options.preprocessor) {
        const OstrelConfig config = make_config(options);
        const uint32_t status = Ostrel_setConfig(&handle, &config);
        if (status != OSTREL_OK)
            return "the library rejected the configuration, status " + std::to_string(status);
    }

    const size_t fed = (length + kDelay + kChunk - 1) / kChunk * kChunk;
    result.output.assign(length, 0);
    int16_t mic_chunk[kChunk], ref_chunk[kChunk], out_chunk[kChunk];
    for (size_t start = 0; start < fed; start += kChunk) {
        for (size_t i = 0; i < kChunk; ++i) {
            const size_t t = start + i;
            mic_chunk[i] = t < length ? mic[t] : 0;
            ref_chunk[i] = t < length ? ref[t] : 0;
        }
        const uint32_t ready = Ostrel_Data_Input(mic_chunk, ref_chunk, out_chunk, &handle);
        for (size_t i = 0; i < kChunk; ++i) {
            const size_t t = start + i;
            if (t >= kDelay && t - kDelay < length)
                result.output[t - kDelay] = out_chunk[i];
        }
        if (ready == 1) {
            const double begin = (1e6 * threadCpuSeconds());
            Ostrel_Process(&handle);
            result.frame_micros.push_back((1e6 * threadCpuSeconds()) - begin);
        }
    }
    return {};
}

double energy(const std::vector<int16_t>& s, size_t begin, size_t end)
{
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return sum;
}

double to_dbfs(double power)
{
    return power > 0.0 ? 10.0 * std::log10(power / (32768.0 * 32768.0)) : -INFINITY;
}

// ERLE per second over the 128-sample frames in which the far end is active.
void print_erle(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                const std::vector<int16_t>& out, size_t length)
{
    std::printf("second  far-end active  mic dBFS  out dBFS  ERLE dB\n");
    double all_mic = 0.0, all_out = 0.0;
    for (size_t sec = 0; sec * kSecond < length; ++sec) {
        const size_t sec_end = std::min(length, (sec + 1) * kSecond);
        double mic_power = 0.0, out_power = 0.0;
        size_t active = 0, frames = 0;
        for (size_t f = sec * kSecond; f < sec_end; f += kFrame, ++frames) {
            const size_t f_end = std::min(sec_end, f + kFrame);
            const double ref_rms =
                std::sqrt(energy(ref, f, f_end) / static_cast<double>(f_end - f));
            if (ref_rms < kFarEndActiveRms)
                continue;
            ++active;
            mic_power += energy(mic, f, f_end);
            out_power += energy(out, f, f_end);
        }
        all_mic += mic_power;
        all_out += out_power;
        std::printf("%6zu  %13.0f%%", sec + 1, 100.0 * active / static_cast<double>(frames));
        if (active == 0) {
            std::printf("         -         -        -\n");
            continue;
        }
        const double samples = static_cast<double>(active * kFrame);
        std::printf("  %8.1f  %8.1f", to_dbfs(mic_power / samples), to_dbfs(out_power / samples));
        if (out_power > 0.0) {
            std::printf("  %7.1f\n", 10.0 * std::log10(mic_power / out_power));
        } else {
            std::printf("      inf\n");
        }
    }
    if (all_mic > 0.0 && all_out > 0.0) {
        std::printf("overall ERLE while the far end is active: %.1f dB\n",
                    10.0 * std::log10(all_mic / all_out));
    } else if (all_mic == 0.0) {
        std::printf("overall ERLE: no far-end activity above -50 dBFS\n");
    }
}

void print_timing(const std::vector<double>& micros)
{
    if (micros.empty())
        return;
    double sum = 0.0, peak = 0.0;
    for (double us : micros) {
        sum += us;
        peak = std::max(peak, us);
    }
    const double mean = sum / static_cast<double>(micros.size());
    std::printf("processing time (CPU) per frame: mean %.1f us (%.2f%% of the 8 ms budget), "
                "max %.1f us (%.2f%%), %zu frames\n",
                mean, 100.0 * mean / kFrameBudgetUs, peak, 100.0 * peak / kFrameBudgetUs,
                micros.size());
}

} // namespace

int main(int argc, char** argv)
{
    RunOptions options;
    const std::string usage_error = parse_run_options(argc, argv, options);
    if (options.help && usage_error.empty()) {
        std::fputs(run_usage(), stdout);
        return 0;
    }
    if (!usage_error.empty())
        return cli::usage_error("ostrel-run", usage_error, run_usage());

    std::string error = toolfiles::refuse_output_among_inputs(options.out_path,
                                                              {options.mic_path, options.ref_path});
    if (!error.empty())
        return fail(error, 1);
    std::vector<int16_t> mic, ref;
    error = wavfile::read_pcm16(options.mic_path, kWavShape, mic);
    if (error.empty())
        error = wavfile::read_pcm16(options.ref_path, kWavShape, ref);
    if (!error.empty())
        return fail(error, 1);
    const size_t length = std::min(mic.size(), ref.size());
    if (mic.size() != ref.size()) {
        std::fprintf(
            stderr, "ostrel-run: warning: %s has %zu samples and %s has %zu; using the first %zu\n",
            options.mic_path.c_str(), mic.size(), options.ref_path.c_str(), ref.size(), length);
    }

    RunResult result;
    error = run_library(options, mic, ref, length, result);
    if (error.empty())
        error = wavfile::write_pcm16_whole(options.out_path, kWavSampleRate, 1, result.output);
    if (!error.empty())
        return fail(error, 1);

    print_erle(mic, ref, result.output, length);
    print_timing(result.frame_micros);
    return 0;
}
