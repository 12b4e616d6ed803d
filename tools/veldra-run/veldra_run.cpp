// veldra-run: feeds a recording through the beamforming library one
// millisecond at a time, runs the second step whenever a block is complete,
// and writes the beam (and the second output) to a stereo WAV file with the
// library's 256-sample play-out delay removed from the beam.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "output_files.h"
#include "run_options.h"
#include "veldra.h"
#include "wav_file.h"

namespace
{

constexpr int kFrame = 16;            // samples per millisecond
constexpr int kPlayOutDelay = 256;    // samples between beam and output
constexpr uint8_t kPdmSilence = 0x55; // alternating bits: the mid-level
constexpr int kFractionalHalfTaps = 16;
const wavfile::Shape kPcmShape = {16000, 2, false, "must be 16 kHz 16-bit stereo"};

struct ErrorBit {
    uint32_t bit;
    const char* name;
    const char* meaning;
};

const ErrorBit kErrorBits[] = {
    {VELDRA_ERR_TYPE, "VELDRA_ERR_TYPE", "algorithm type not supported by the block"},
    {VELDRA_ERR_CHANNELS, "VELDRA_ERR_CHANNELS", "a channel stride was 0"},
    {VELDRA_ERR_FORMAT, "VELDRA_ERR_FORMAT", "data format above 1"},
    {VELDRA_ERR_FREQUENCY, "VELDRA_ERR_FREQUENCY",
     "sampling frequency not one of 16, 256, 384, 512, 768, 1024, 1280, 2048 kHz"},
    {VELDRA_ERR_GAIN, "VELDRA_ERR_GAIN", "microphone 2 gain negative"},
    {VELDRA_ERR_DISTANCE, "VELDRA_ERR_DISTANCE",
     "microphone distance outside the range of the mode (1..212, 210..212 with the delay line)"},
    {VELDRA_ERR_SECOND_OUTPUT, "VELDRA_ERR_SECOND_OUTPUT", "second output not 0, 1 or 7"},
    {VELDRA_ERR_DELAY, "VELDRA_ERR_DELAY", "PDM input without the delay line"},
    {VELDRA_ERR_NOT_READY, "VELDRA_ERR_NOT_READY", "no block ready"},
    {VELDRA_ERR_MEMORY, "VELDRA_ERR_MEMORY", "working block missing or too small"},
    {VELDRA_ERR_FIELD, "VELDRA_ERR_FIELD", "field options or block size"},
};

// Prints each set bit by name; returns true when there was none.
bool report_errors(const char* call, uint32_t errors)
{
    for (const ErrorBit& e : kErrorBits)
        if (errors & e.bit)
            std::fprintf(stderr, "veldra-run: %s: %s (%s)\n", call, e.name, e.meaning);
    return errors == 0;
}

bool field_mode(const RunOptions& o)
{
    return o.field || o.field_decimation || o.field_null || o.field_postfilter ||
           o.field_calibration;
}

// The library instance and its working block.
struct Beamformer {
    VeldraHandle handle{};
    std::vector<uint32_t> block;

    bool start(const RunOptions& o, uint32_t format, uint32_t khz, uint8_t stride, uint8_t delay)
    {
        handle.data_format = format;
        handle.sampling_frequency = khz;
        handle.mic1_channels = stride;
        handle.mic2_channels = stride;
        handle.out_channels = 2;
        handle.algorithm_type = o.type;
        handle.second_output = o.second_output;
        handle.delay_enable = delay;
        const bool field = field_mode(o);
        if (field)
            Veldra_getFieldMemorySize(&handle);
        else
            Veldra_getMemorySize(&handle);
        block.assign(handle.internal_memory_size / 4u + 2u, 0u);
        // 8-byte alignment for the field region.
        handle.internal_memory = reinterpret_cast<void*>(
            (reinterpret_cast<uintptr_t>(block.data()) + 7u) & ~(uintptr_t)7u);
        if (field) {
            VeldraFieldOptions fo;
            Veldra_getFieldDefaults(&fo);
            if (!o.field) {
                fo.decimation = o.field_decimation;
                fo.protected_null = o.field_null;
                fo.postfilter = o.field_postfilter;
                fo.calibration = o.field_calibration;
            }
            if (!report_errors("Veldra_InitField", Veldra_InitField(&handle, &fo)))
                return false;
        } else if (!report_errors("Veldra_Init", Veldra_Init(&handle))) {
            return false;
        }
        VeldraConfig cfg{};
        cfg.mic_distance = o.distance;
        cfg.algorithm_type = o.type;
        cfg.volume = o.volume;
        cfg.mic2_gain = o.mic2_gain;
        return report_errors("Veldra_setConfig", Veldra_setConfig(&handle, &cfg));
    }

    // One millisecond; the second step runs at once when a block is complete.
    void step(const void* mic1, const void* mic2, std::vector<int16_t>& out)
    {
        int16_t frame[2 * kFrame] = {};
        if (Veldra_FirstStep(mic1, mic2, frame, &handle))
            Veldra_SecondStep(&handle);
        out.insert(out.end(), frame, frame + 2 * kFrame);
    }
};

// Runs the interleaved PDM bytes; returns the output frames.
bool run_pdm(const RunOptions& o, Beamformer& bf, std::vector<int16_t>& out, size_t& samples)
{
    std::vector<uint8_t> pdm;
    if (!toolfiles::read_bytes(o.pdm_path, pdm)) {
        std::fprintf(stderr, "veldra-run: cannot read %s\n", o.pdm_path.c_str());
        return false;
    }
    if (pdm.empty()) {
        std::fprintf(stderr, "veldra-run: %s holds no PDM data\n", o.pdm_path.c_str());
        return false;
    }
    if (!bf.start(o, VELDRA_FORMAT_PDM, o.clock_khz, 2, 1))
        return false;
    const size_t per_ms = 2u * (o.clock_khz / 8u);
    const size_t calls = (pdm.size() + per_ms - 1) / per_ms;
    if (pdm.size() % per_ms)
        std::fprintf(stderr, "veldra-run: last millisecond incomplete (%zu of %zu bytes), padded\n",
                     pdm.size() % per_ms, per_ms);
    // Whole milliseconds, then enough silence to play out the last beam.
    const size_t tail = (kPlayOutDelay + VELDRA_FIELD_EXTRA_DELAY) / kFrame;
    pdm.resize((calls + tail) * per_ms, kPdmSilence);
    for (size_t c = 0; c < calls + tail; ++c)
        bf.step(&pdm[c * per_ms], &pdm[c * per_ms + 1], out);
    samples = calls * kFrame;
    return true;
}

// x delayed by `half` + `fraction` samples through a windowed-sinc filter.
std::vector<int16_t> fractional_delay(const std::vector<int16_t>& x, double fraction, int half)
{
    std::vector<double> taps(2 * half + 1);
    double sum = 0;
    for (int k = 0; k <= 2 * half; ++k) {
        const double t = k - half - fraction;
        const double sinc = std::fabs(t) < 1e-12 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
        const double window = 0.5 + 0.5 * std::cos(M_PI * t / (half + 1));
        taps[k] = sinc * window;
        sum += taps[k];
    }
    std::vector<int16_t> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        double acc = 0;
        for (int k = 0; k <= 2 * half; ++k)
            if (n >= (size_t)k)
                acc += taps[k] / sum * x[n - k];
        y[n] = (int16_t)std::lround(std::fmax(-32768.0, std::fmin(32767.0, acc)));
    }
    return y;
}

// Runs the stereo PCM; without the delay line the caller's delayed copies
// are made here for the spacing, with `latency` samples of filter delay.
bool run_pcm(const RunOptions& o, Beamformer& bf, std::vector<int16_t>& out, size_t& samples,
             size_t& latency)
{
    std::vector<int16_t> frames;
    const std::string error = wavfile::read_pcm16(o.pcm_path, kPcmShape, frames);
    if (!error.empty()) {
        std::fprintf(stderr, "veldra-run: %s\n", error.c_str());
        return false;
    }
    if (!bf.start(o, VELDRA_FORMAT_PCM, 16, 2, o.delay_line ? 1 : 0))
        return false;
    samples = frames.size() / 2;
    const size_t calls =
        (samples + kFrame - 1) / kFrame + (kPlayOutDelay + VELDRA_FIELD_EXTRA_DELAY) / kFrame + 2;
    frames.resize(calls * kFrame * 2, 0);
    if (o.delay_line) {
        latency = 0;
        for (size_t c = 0; c < calls; ++c)
            bf.step(&frames[c * 2 * kFrame], &frames[c * 2 * kFrame + 1], out);
        return true;
    }
    std::vector<int16_t> mic[2], direct[2], delayed[2];
    const double fraction = o.distance * 1e-4 / 343.0 * 16000.0;
    const int whole = (int)std::floor(fraction);
    latency = (size_t)kFractionalHalfTaps;
    for (int m = 0; m < 2; ++m) {
        mic[m].resize(calls * kFrame);
        for (size_t n = 0; n < mic[m].size(); ++n)
            mic[m][n] = frames[2 * n + m];
        direct[m] = fractional_delay(mic[m], 0.0, kFractionalHalfTaps);
        delayed[m] = fractional_delay(mic[m], fraction - whole, kFractionalHalfTaps);
        delayed[m].insert(delayed[m].begin(), (size_t)whole, 0);
    }
    for (size_t c = 0; c < calls; ++c) {
        int16_t in[2][2 * kFrame];
        for (int m = 0; m < 2; ++m)
            for (int i = 0; i < kFrame; ++i) {
                in[m][i] = direct[m][c * kFrame + i];
                in[m][kFrame + i] = delayed[m][c * kFrame + i];
            }
        bf.step(in[0], in[1], out);
    }
    return true;
}

// The beam (channel 0) comes out of the output ring `beam_skip` frames late;
// the second output (channel 1) is written in the same call as its input and
// is only `channel1_skip` frames late.
bool write_wav(const std::string& path, const std::vector<int16_t>& out, size_t beam_skip,
               size_t channel1_skip, size_t samples)
{
    std::vector<int16_t> aligned(2 * samples);
    for (size_t n = 0; n < samples; ++n) {
        aligned[2 * n] = out[2 * (n + beam_skip)];
        aligned[2 * n + 1] = out[2 * (n + channel1_skip) + 1];
    }
    const std::string error = wavfile::write_pcm16_whole(path, 16000, 2, aligned);
    if (!error.empty())
        std::fprintf(stderr, "veldra-run: %s\n", error.c_str());
    return error.empty();
}

} // namespace

int main(int argc, char** argv)
{
    RunOptions options;
    std::string error;
    bool help = false;
    if (!parse_run_options(argc, argv, options, error, help))
        return cli::usage_error("veldra-run", error, run_usage());
    if (help) {
        std::fputs(run_usage(), stdout);
        return 0;
    }
    const std::string input = options.pdm_path.empty() ? options.pcm_path : options.pdm_path;
    const std::string same = toolfiles::refuse_output_among_inputs(options.out_path, {input});
    if (!same.empty()) {
        std::fprintf(stderr, "veldra-run: %s\n", same.c_str());
        return 1;
    }
    Beamformer bf;
    std::vector<int16_t> out;
    size_t samples = 0, latency = 0;
    const bool ran = options.pdm_path.empty() ? run_pcm(options, bf, out, samples, latency)
                                              : run_pdm(options, bf, out, samples);
    if (!ran)
        return 1;
    // Field mode plays the beam (and the rear beam) out one block later.
    const size_t extra = field_mode(options) ? VELDRA_FIELD_EXTRA_DELAY : 0;
    const size_t channel1_extra = options.second_output == VELDRA_SECOND_OUTPUT_REAR ? extra : 0;
    if (!write_wav(options.out_path, out, kPlayOutDelay + extra + latency, latency + channel1_extra,
                   samples))
        return 1;
    VeldraConfig cfg{};
    Veldra_getConfig(&bf.handle, &cfg);
    std::printf("veldra-run: %zu samples, distance %u, type %u, volume %u, mic2 gain %.3f -> %s\n",
                samples, (unsigned)cfg.mic_distance, (unsigned)cfg.algorithm_type,
                (unsigned)cfg.volume, (double)cfg.mic2_gain, options.out_path.c_str());
    return 0;
}
