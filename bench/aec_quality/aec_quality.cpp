// Echo-cancellation quality report: runs scripted scenarios through the
// library exactly as the firmware feeds it and measures the echo return
// loss enhancement (ERLE, microphone power over output power while the far
// end is active) in half-second windows. Prints a table and writes a CSV
// (time, then one column per scenario) for plot_aec_quality.py.
//
// With --figures FILE it also writes the summary as a figure fragment for
// the README (tools/support/figures.h).
//
//   aec_quality [--csv FILE] [--figures FILE]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "echo_loss.h"
#include "figures.h"
#include "ostrel.h"
#include "signals.h"

using namespace testsignals;

namespace
{

constexpr int kRate = 16000;
constexpr double kSeconds = 24.0;
constexpr size_t kLength = static_cast<size_t>(kSeconds * kRate);
constexpr size_t kWindow = kRate / 2; // ERLE window: 0.5 s
constexpr size_t kFrame = OSTREL_FRAME_SIZE;
constexpr size_t kChunk = OSTREL_SAMPLES_PER_INPUT;
constexpr size_t kDelay = OSTREL_DELAY_SAMPLES;
// Far end active above -50 dBFS RMS per 128-sample frame.
constexpr double kActiveRms = 32768.0 * 0.0031622776601683794;
constexpr double kPathDecay = 0.18 * 400; // taps

struct Scenario {
    const char* name;
    const char* description;
    bool preprocess;
    std::vector<double> mic, far; // microphone (echo + near end) and far end
};

std::vector<Scenario> make_scenarios()
{
    const std::vector<double> far = speech_like(kLength, 1, 4000.0);
    const std::vector<double> path = echo_path(400, 2, 24, 0.7, kPathDecay);
    const std::vector<double> moved = echo_path(400, 3, 40, 0.7, kPathDecay);
    const std::vector<double> room_noise = white_noise(kLength, 4, 3.0);   // about -81 dBFS
    const std::vector<double> loud_noise = white_noise(kLength, 5, 300.0); // about -41 dBFS
    const std::vector<double> near = speech_like(kLength, 6, 3000.0);

    std::vector<Scenario> scenarios;
    auto base = [&](const char* name, const char* description, bool preprocess) {
        Scenario s{name, description, preprocess, room_noise, far};
        add_echo(far, path, 0, kLength, s.mic);
        return s;
    };
    scenarios.push_back(base("far_end_only", "far-end speech, echo path of 400 taps", false));

    Scenario dt = base("double_talk", "near-end speech as well from 8 s to 14 s", false);
    for (size_t t = 8 * kRate; t < 14 * kRate; ++t)
        dt.mic[t] += near[t];
    scenarios.push_back(dt);

    Scenario change{"path_change", "echo path replaced at 12 s", false, room_noise, far};
    add_echo(far, path, 0, 12 * kRate, change.mic);
    add_echo(far, moved, 12 * kRate, kLength, change.mic);
    scenarios.push_back(change);

    Scenario noisy = base("noise", "near-end white noise at -41 dBFS", false);
    for (size_t t = 0; t < kLength; ++t)
        noisy.mic[t] += loud_noise[t] - room_noise[t];
    scenarios.push_back(noisy);

    Scenario denoised = noisy;
    denoised.name = "noise_denoised";
    denoised.description = "the same with noise and residual-echo suppression";
    denoised.preprocess = true;
    scenarios.push_back(denoised);
    return scenarios;
}

// Runs one scenario through the library; returns the output aligned with
// the microphone (delay removed).
std::vector<int16_t> run_library(const Scenario& s, const std::vector<int16_t>& mic,
                                 const std::vector<int16_t>& ref)
{
    OstrelHandle handle{};
    handle.tail_length = 512;
    handle.preprocess_enable = s.preprocess ? 1u : 0u;
    Ostrel_getMemorySize(&handle);
    std::vector<uint32_t> block((handle.internal_memory_size + 3) / 4);
    handle.internal_memory = block.data();
    Ostrel_Init(&handle);
    if (s.preprocess) {
        const OstrelConfig config{1u, 0u, 1u, -15, -40, -15};
        Ostrel_setConfig(&handle, &config);
    }
    std::vector<int16_t> out(mic.size(), 0);
    int16_t zeros[kChunk] = {}, chunk[kChunk];
    for (size_t t = 0; t < mic.size() + kDelay; t += kChunk) {
        const bool inside = t + kChunk <= mic.size();
        const uint32_t ready =
            Ostrel_Data_Input(inside ? &mic[t] : zeros, inside ? &ref[t] : zeros, chunk, &handle);
        for (size_t i = 0; i < kChunk; ++i)
            if (t + i >= kDelay && t + i - kDelay < out.size())
                out[t + i - kDelay] = chunk[i];
        if (ready)
            Ostrel_Process(&handle);
    }
    return out;
}

double mean_between(const std::vector<double>& erle, double from_s, double to_s)
{
    double sum = 0.0;
    int count = 0;
    for (size_t i = 0; i < erle.size(); ++i) {
        const double t = (double(i) + 0.5) * kWindow / kRate;
        if (t >= from_s && t < to_s && !std::isnan(erle[i])) {
            sum += erle[i];
            ++count;
        }
    }
    return count > 0 ? sum / count : NAN;
}

// The summary in README prose, rounded to whole dB.
std::string figures_text(const std::vector<std::vector<double>>& erle)
{
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "Far end only: mean ERLE %.0f dB over 2-8 s and %.0f dB over 16-24 s. Double talk "
        "8-14 s:\n%.0f dB before; %.0f dB during, because the near-end speech rightly passes "
        "through;\n%.0f dB after, so the filter does not diverge. Echo path replaced at 12 s: "
        "%.0f dB before,\n%.0f dB in the first second after, %.0f dB over 13-16 s and %.0f dB "
        "from 16 s.\nNear-end white noise at -41 dBFS limits ERLE to %.0f dB; with noise and "
        "residual-echo\nsuppression on it reaches %.0f dB.\n",
        mean_between(erle[0], 2, 8), mean_between(erle[0], 16, 24), mean_between(erle[1], 4, 8),
        mean_between(erle[1], 8, 14), mean_between(erle[1], 16, 24), mean_between(erle[2], 8, 12),
        mean_between(erle[2], 12, 13), mean_between(erle[2], 13, 16), mean_between(erle[2], 16, 24),
        mean_between(erle[3], 16, 24), mean_between(erle[4], 16, 24));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: aec_quality [--csv FILE] [--figures FILE]\n";
    std::string csv_path = "aec_quality.csv", figures_path;
    cli::CommandLine line;
    line.file("--csv", csv_path);
    line.file("--figures", figures_path);
    if (const int status = line.parse_or_exit_status(argc, argv, "aec_quality", usage); status >= 0)
        return status;

    const std::vector<Scenario> scenarios = make_scenarios();
    std::vector<std::vector<double>> erle;
    for (const Scenario& s : scenarios) {
        std::vector<int16_t> mic(kLength), ref(kLength);
        for (size_t t = 0; t < kLength; ++t) {
            mic[t] = to_pcm(s.mic[t]);
            ref[t] = to_pcm(s.far[t]);
        }
        erle.push_back(echoloss::erle_per_window(mic, ref, run_library(s, mic, ref), kWindow,
                                                 {kFrame, kActiveRms}));
    }

    std::printf("ERLE in dB per 0.5 s window while the far end is active (tail 512)\n");
    for (const Scenario& s : scenarios)
        std::printf("  %-15s %s\n", s.name, s.description);
    std::printf("\n time s");
    for (const Scenario& s : scenarios)
        std::printf(" %15s", s.name);
    std::printf("\n");
    FILE* csv = std::fopen(csv_path.c_str(), "w");
    if (csv == nullptr) {
        std::fprintf(stderr, "aec_quality: cannot write %s\n", csv_path.c_str());
        return 1;
    }
    std::fprintf(csv, "time_s");
    for (const Scenario& s : scenarios)
        std::fprintf(csv, ",%s", s.name);
    std::fprintf(csv, "\n");
    for (size_t w = 0; w < erle[0].size(); ++w) {
        const double t = double(w + 1) * kWindow / kRate;
        std::printf("%7.1f", t);
        std::fprintf(csv, "%.1f", t);
        for (const auto& column : erle) {
            std::printf(" %15.1f", column[w]);
            if (std::isnan(column[w]))
                std::fprintf(csv, ",");
            else
                std::fprintf(csv, ",%.2f", column[w]);
        }
        std::printf("\n");
        std::fprintf(csv, "\n");
    }
    std::fclose(csv);

    std::printf("\nSummary (mean ERLE in dB)\n");
    std::printf("  far_end_only    2-8 s %.1f, 16-24 s %.1f\n", mean_between(erle[0], 2, 8),
                mean_between(erle[0], 16, 24));
    std::printf("  double_talk     before 4-8 s %.1f, during 8-14 s %.1f, after 16-24 s %.1f\n",
                mean_between(erle[1], 4, 8), mean_between(erle[1], 8, 14),
                mean_between(erle[1], 16, 24));
    std::printf("  path_change     8-12 s %.1f, 12-13 s %.1f, 13-16 s %.1f, 16-24 s %.1f\n",
                mean_between(erle[2], 8, 12), mean_between(erle[2], 12, 13),
                mean_between(erle[2], 13, 16), mean_between(erle[2], 16, 24));
    std::printf("  noise           16-24 s %.1f\n", mean_between(erle[3], 16, 24));
    std::printf("  noise_denoised  16-24 s %.1f\n", mean_between(erle[4], 16, 24));
    std::printf("CSV written to %s\n", csv_path.c_str());
    if (!figures_path.empty()) {
        const std::string error = figures::writeFragment(figures_path, figures_text(erle));
        if (!error.empty()) {
            std::fprintf(stderr, "aec_quality: %s\n", error.c_str());
            return 1;
        }
        std::printf("Figures written to %s\n", figures_path.c_str());
    }
    return 0;
}
