// Field-mode quality report: runs hard echo scenes (bulk delay, clock drift,
// loudspeaker saturation, reverberant rooms, path changes, double talk, a
// noisy near end) through the echo canceller in its default mode, in field
// mode and through the WebRTC peer, side by side, and prints a Markdown table
// of steady ERLE, ERLE in the first 2 s (after the change in the change
// scenes), time to 20 dB after an abrupt change, near-end fidelity in double
// talk, and processing cost; writes the ERLE curves as CSV for the plot.
// --figures DIR also writes two fragments for the documentation
// (tools/support/figures.h): DIR/aec_field.md, the summary the README quotes,
// and DIR/aec_field_results.md, the table and cost of docs/aec_field.md.
//
//   aec_field [--csv FILE] [--only NAME] [--field-strength DB] [--figures DIR]
#include <fftw3.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "command_line.h"
#include "CpuTime.h"
#include "echo_loss.h"
#include "figures.h"
#include "ostrel.h"
#include "signals.h"
#include "webrtc_peer.h"

using namespace testsignals;

namespace
{

constexpr int kRate = kSignalRate;
constexpr double kSeconds = 20.0;
constexpr size_t kLength = size_t(kSeconds * kRate);
constexpr size_t kWindow = kRate / 4; // ERLE window: 0.25 s
constexpr size_t kFrame = OSTREL_FRAME_SIZE;
constexpr size_t kChunk = OSTREL_SAMPLES_PER_INPUT;
constexpr size_t kDelay = OSTREL_DELAY_SAMPLES;
constexpr double kActiveRms = 32768.0 * 0.0031622776601683794; // -50 dBFS

using Signal = std::vector<double>;

// Linear convolution through one large transform.
Signal convolve(const Signal& x, const Signal& h)
{
    size_t n = 1;
    while (n < x.size() + h.size())
        n *= 2;
    std::vector<double> a(n, 0.0), b(n, 0.0);
    std::copy(x.begin(), x.end(), a.begin());
    std::copy(h.begin(), h.end(), b.begin());
    fftw_complex *A = fftw_alloc_complex(n / 2 + 1), *B = fftw_alloc_complex(n / 2 + 1);
    fftw_plan pa = fftw_plan_dft_r2c_1d(int(n), a.data(), A, FFTW_ESTIMATE);
    fftw_plan pb = fftw_plan_dft_r2c_1d(int(n), b.data(), B, FFTW_ESTIMATE);
    fftw_execute(pa);
    fftw_execute(pb);
    for (size_t k = 0; k <= n / 2; ++k) {
        const double re = A[k][0] * B[k][0] - A[k][1] * B[k][1];
        const double im = A[k][0] * B[k][1] + A[k][1] * B[k][0];
        A[k][0] = re / double(n);
        A[k][1] = im / double(n);
    }
    fftw_plan pc = fftw_plan_dft_c2r_1d(int(n), A, a.data(), FFTW_ESTIMATE);
    fftw_execute(pc);
    fftw_destroy_plan(pa);
    fftw_destroy_plan(pb);
    fftw_destroy_plan(pc);
    fftw_free(A);
    fftw_free(B);
    return Signal(a.begin(), a.begin() + long(x.size()));
}

// Room: direct path after `delay` samples, then diffuse reverberation decaying
// by 60 dB in rt60 seconds; total gain `gain`.
Signal room(double rt60, uint32_t seed, size_t delay, double gain)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const size_t tail = size_t(rt60 * kRate);
    Signal h(delay + tail, 0.0);
    h[delay] = 1.0;
    double energy = 1.0;
    for (size_t k = 8; k < tail; ++k) {
        h[delay + k] = 0.18 * gauss(rng) * std::exp(-6.9078 * double(k) / (rt60 * kRate));
        energy += h[delay + k] * h[delay + k];
    }
    for (double& v : h)
        v *= gain / std::sqrt(energy);
    return h;
}

double power(const Signal& s, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t t = from; t < to; ++t)
        sum += s[t] * s[t];
    return sum / double(to - from);
}

struct Scene {
    std::string name, row;
    Signal mic, far, near;  // near: near-end speech alone (double-talk scenes)
    double change_s = -1.0; // echo path changes here
    double steady_from = 14.0, steady_to = 20.0;
    double dt_from = -1.0, dt_to = -1.0;
    bool noisy = false;
};

Scene make_scene(const std::string& name, const std::string& row, const Signal& far,
                 const Signal& echo, uint32_t seed)
{
    Scene s;
    s.name = name;
    s.row = row;
    s.far = far;
    s.mic = echo;
    const Signal room_noise = white_noise(kLength, seed, 3.0);
    for (size_t t = 0; t < kLength; ++t)
        s.mic[t] += room_noise[t];
    return s;
}

std::vector<Scene> make_scenes()
{
    const Signal far = speech_like(kLength, 1, 4000.0);
    const Signal base_room = room(0.2, 2, 48, 0.7);
    std::vector<Scene> scenes;
    for (int ms : {20, 60, 120}) {
        const Signal h = room(0.2, 10 + ms, size_t(ms * kRate / 1000), 0.7);
        scenes.push_back(make_scene("delay" + std::to_string(ms),
                                    "bulk delay " + std::to_string(ms) + " ms, RT60 200 ms", far,
                                    convolve(far, h), 3));
    }
    for (int ppm : {50, 200}) {
        Signal drifted(kLength);
        for (size_t t = 0; t < kLength; ++t)
            drifted[t] = read_at(far, double(t) * (1.0 - ppm * 1e-6));
        scenes.push_back(make_scene("drift" + std::to_string(ppm),
                                    "clock drift " + std::to_string(ppm) + " ppm, RT60 200 ms", far,
                                    convolve(drifted, base_room), 4));
    }
    for (double clip : {12000.0, 3000.0}) {
        Signal driven(kLength);
        for (size_t t = 0; t < kLength; ++t)
            driven[t] = clip * std::tanh(far[t] / clip);
        const bool strong = clip < 5000.0;
        scenes.push_back(make_scene(strong ? "saturation_strong" : "saturation_mild",
                                    strong ? "loudspeaker saturation, strong (tanh, 3000)"
                                           : "loudspeaker saturation, mild (tanh, 12000)",
                                    far, convolve(driven, base_room), 5));
    }
    for (int rt : {150, 300, 600}) {
        scenes.push_back(make_scene("rt" + std::to_string(rt),
                                    "reverberant room, RT60 " + std::to_string(rt) + " ms", far,
                                    convolve(far, room(rt / 1000.0, 20 + rt, 48, 0.7)), 6));
    }
    {
        const Signal before = convolve(far, base_room);
        const Signal after = convolve(far, room(0.2, 77, 80, 0.7));
        Signal echo(kLength);
        for (size_t t = 0; t < kLength; ++t)
            echo[t] = t < 10 * size_t(kRate) ? before[t] : after[t];
        Scene s = make_scene("change_abrupt", "abrupt echo-path change at 10 s", far, echo, 7);
        s.change_s = 10.0;
        scenes.push_back(s);
    }
    {
        Signal echo = convolve(far, base_room);
        for (size_t t = 0; t < kLength; ++t) {
            const double progress = std::clamp((double(t) / kRate - 6.0) / 8.0, 0.0, 1.0);
            echo[t] += 0.35 * read_at(far, double(t) - (150.0 + 300.0 * progress));
        }
        Scene s = make_scene("change_gradual", "reflection moving 150 -> 450 samples, 6-14 s", far,
                             echo, 8);
        s.change_s = 6.0;
        s.steady_from = 8.0;
        s.steady_to = 14.0;
        scenes.push_back(s);
    }
    for (int db : {10, -10}) {
        const Signal echo = convolve(far, base_room);
        Signal near = speech_like(kLength, 9, 1000.0);
        const size_t from = 8 * kRate, to = 14 * kRate;
        for (size_t t = 0; t < kLength; ++t)
            if (t < from || t >= to)
                near[t] = 0.0;
        const double scale =
            std::sqrt(power(echo, from, to) / power(near, from, to) * std::pow(10.0, db / 10.0));
        for (double& v : near)
            v *= scale;
        Signal mic = echo;
        for (size_t t = 0; t < kLength; ++t)
            mic[t] += near[t];
        Scene s = make_scene(db > 0 ? "double_talk_louder" : "double_talk_quieter",
                             std::string("double talk 8-14 s, near end ") +
                                 (db > 0 ? "10 dB louder" : "10 dB quieter") + " than the echo",
                             far, mic, 10);
        s.near = near;
        s.dt_from = 8.0;
        s.dt_to = 14.0;
        scenes.push_back(s);
    }
    {
        Signal mic = convolve(far, base_room);
        const Signal noise = white_noise(kLength, 11, 300.0);
        for (size_t t = 0; t < kLength; ++t)
            mic[t] += noise[t];
        Scene s = make_scene("noisy", "near-end white noise at -41 dBFS, noise suppression on", far,
                             mic, 12);
        s.noisy = true;
        scenes.push_back(s);
    }
    return scenes;
}

struct Run {
    std::vector<int16_t> output;
    double cpu_seconds = 0.0;
};

// The library as firmware feeds it; output aligned with the microphone.
int32_t g_field_strength_db = 6; // the library's default

Run run_ostrel(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref, bool field,
               bool noisy)
{
    OstrelHandle handle{};
    handle.tail_length = 512;
    handle.preprocess_enable = 1;
    OstrelFieldOptions options;
    Ostrel_Field_defaults(&options);
    options.residual_strength_db = g_field_strength_db;
    if (field) {
        Ostrel_Field_getMemorySize(&handle, &options);
    } else {
        Ostrel_getMemorySize(&handle);
    }
    std::vector<uint32_t> block((handle.internal_memory_size + 3) / 4);
    handle.internal_memory = block.data();
    if (field) {
        Ostrel_Field_Init(&handle, &options);
    } else {
        Ostrel_Init(&handle);
    }
    // Residual-echo suppression on; noise suppression only where there is noise.
    const OstrelConfig config{1u, 0u, 1u, noisy ? -30 : 0, -40, -15};
    Ostrel_setConfig(&handle, &config);
    Run run;
    run.output.assign(mic.size(), 0);
    int16_t zeros[kChunk] = {}, chunk[kChunk];
    for (size_t t = 0; t < mic.size() + kDelay; t += kChunk) {
        const bool inside = t + kChunk <= mic.size();
        const uint32_t ready =
            Ostrel_Data_Input(inside ? &mic[t] : zeros, inside ? &ref[t] : zeros, chunk, &handle);
        for (size_t i = 0; i < kChunk; ++i)
            if (t + i >= kDelay && t + i - kDelay < mic.size())
                run.output[t + i - kDelay] = chunk[i];
        if (ready) {
            const double begin = threadCpuSeconds();
            Ostrel_Process(&handle);
            run.cpu_seconds += threadCpuSeconds() - begin;
        }
    }
    return run;
}

constexpr echoloss::Frames kActiveFrames = {kFrame, kActiveRms};

// ERLE per window over the far-end-active frames.
std::vector<double> erle_curve(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                               const std::vector<int16_t>& out)
{
    return echoloss::erle_per_window(mic, ref, out, kWindow, kActiveFrames);
}

// ERLE over the whole active frames between two times.
double erle_between(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                    const std::vector<int16_t>& out, double from_s, double to_s)
{
    const size_t to = size_t(to_s * kRate);
    return echoloss::erle_db(mic, ref, out, size_t(from_s * kRate), to, to, kActiveFrames);
}

// Seconds after `from_s` until the ERLE of a 0.25 s window first reaches 20 dB
// and stays there for the next window too.
double time_to_20db(const std::vector<double>& erle, double from_s)
{
    for (size_t w = size_t(from_s * kRate / kWindow); w + 1 < erle.size(); ++w)
        if (erle[w] >= 20.0 && erle[w + 1] >= 20.0)
            return double(w) * kWindow / kRate - from_s;
    return NAN;
}

// Near end over the error to it, at the output lag (0..640) that fits best.
double fidelity(const Signal& near, const std::vector<int16_t>& out, double from_s, double to_s)
{
    const size_t from = size_t(from_s * kRate), to = size_t(to_s * kRate);
    double best = -INFINITY;
    for (size_t lag = 0; lag <= 640; lag += 1) {
        double s = 0.0, e = 0.0;
        for (size_t t = from; t < to && t + lag < out.size(); ++t) {
            const double d = double(out[t + lag]) - near[t];
            s += near[t] * near[t];
            e += d * d;
        }
        best = std::max(best, 10.0 * std::log10(s / std::max(e, 1.0)));
    }
    return best;
}

struct Result {
    double steady[3], early[3], t20[3], fidelity[3];
    std::vector<double> curve[3];
};

// "a / **b** / c" for default / field / WebRTC, "-" when none applies.
std::string triple(const double* v)
{
    char text[64];
    if (std::isnan(v[0]) && std::isnan(v[1]) && std::isnan(v[2]))
        return std::string("-");
    std::snprintf(text, sizeof text, "%.1f / **%.1f** / %.1f", v[0], v[1], v[2]);
    return std::string(text);
}

// Field mode against the peer as printed, to 0.1 dB: -1 behind, 0 level,
// 1 ahead.
int against_peer(const double* v)
{
    const long field = std::lround(v[1] * 10.0), peer = std::lround(v[2] * 10.0);
    return field > peer ? 1 : field < peer ? -1 : 0;
}

// The results table of docs/aec_field.md and its cost line.
std::string results_fragment(const std::vector<std::string>& names,
                             const std::vector<Result>& results, const double* cpu)
{
    std::string text = "| scene | steady ERLE dB default / **field** / WebRTC | first 2 s dB "
                       "default / **field** / WebRTC | to 20 dB s | near-end fidelity dB default "
                       "/ **field** / WebRTC |\n|---|---|---|---|---|\n";
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        text += "| " + names[i] + " | " + triple(r.steady) + " | " + triple(r.early) + " | " +
                triple(r.t20) + " | " + triple(r.fidelity) + " |\n";
    }
    char cost[256];
    std::snprintf(cost, sizeof cost,
                  "\nCost on the host: field mode takes %.2f of the peer's CPU time per second "
                  "of audio (default\nmode %.2f).\n",
                  cpu[1] / cpu[2], cpu[0] / cpu[2]);
    return text + cost;
}

// The README's summary: ranges, scenes ahead of the peer, fidelity, cost.
std::string summary_fragment(const std::vector<std::string>& names,
                             const std::vector<Result>& results, const double* cpu)
{
    double field_lo = INFINITY, field_hi = -INFINITY, default_lo = INFINITY, default_hi = -INFINITY;
    int steady_ahead = 0, early_ahead = 0;
    std::string level, behind, fidelity_field, fidelity_peer;
    char part[160];
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        field_lo = std::min(field_lo, r.steady[1]);
        field_hi = std::max(field_hi, r.steady[1]);
        default_lo = std::min(default_lo, r.steady[0]);
        default_hi = std::max(default_hi, r.steady[0]);
        early_ahead += against_peer(r.early) > 0 ? 1 : 0;
        const int steady = against_peer(r.steady);
        steady_ahead += steady > 0 ? 1 : 0;
        if (steady == 0) {
            std::snprintf(part, sizeof part, "%s`%s` (%.1f dB both)", level.empty() ? "" : ", ",
                          names[i].c_str(), r.steady[1]);
            level += part;
        } else if (steady < 0) {
            std::snprintf(part, sizeof part, "%s`%s` (%.1f against %.1f dB)",
                          behind.empty() ? "" : ", ", names[i].c_str(), r.steady[1], r.steady[2]);
            behind += part;
        }
        if (!std::isnan(r.fidelity[1])) {
            const char* joint = fidelity_field.empty() ? "" : " / ";
            std::snprintf(part, sizeof part, "%s%.1f", joint, r.fidelity[1]);
            fidelity_field += part;
            std::snprintf(part, sizeof part, "%s%.1f", joint, r.fidelity[2]);
            fidelity_peer += part;
        }
    }
    const size_t n = results.size();
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "Steady ERLE of field mode %.1f-%.1f dB (default mode %.1f-%.1f dB), ahead of the "
        "peer on\n%d of %zu scenes%s%s%s%s;\nERLE in the first 2 s ahead on %d of %zu; "
        "near-end fidelity in double talk\n%s dB against %s dB; %.2f of the peer's CPU time.\n",
        field_lo, field_hi, default_lo, default_hi, steady_ahead, n,
        level.empty() ? "" : ", level on\n", level.c_str(), behind.empty() ? "" : ", behind on\n",
        behind.c_str(), early_ahead, n, fidelity_field.c_str(), fidelity_peer.c_str(),
        cpu[1] / cpu[2]);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: aec_field [--csv FILE] [--only NAME] [--field-strength DB] "
                        "[--figures DIR]\n";
    std::string csv_path = "aec_field.csv", only, figures_dir;
    cli::CommandLine line;
    line.file("--csv", csv_path);
    line.text("--only", only);
    line.number("--field-strength", cli::whole("a residual-echo over-estimation in dB", -10, 20),
                [&](double v) { g_field_strength_db = int(v); });
    line.file("--figures", figures_dir);
    if (const int status = line.parse_or_exit_status(argc, argv, "aec_field", usage); status >= 0)
        return status;
    if (!figures_dir.empty() && (!only.empty() || g_field_strength_db != 6)) {
        std::fprintf(stderr, "aec_field: --figures needs every scene at the default strength\n");
        return 2;
    }
    const char* systems[3] = {"default", "field", "webrtc"};
    std::vector<Scene> scenes = make_scenes();
    std::vector<Result> results;
    std::vector<std::string> names;
    double cpu[3] = {0.0, 0.0, 0.0};
    FILE* csv = std::fopen(csv_path.c_str(), "w");
    if (csv == nullptr)
        return 1;
    std::fprintf(csv, "scene,system,change_s");
    for (size_t w = 0; w < kLength / kWindow; ++w)
        std::fprintf(csv, ",%.2f", double(w + 1) * kWindow / kRate);
    std::fprintf(csv, "\n");

    std::printf(
        "| scene | steady ERLE dB default / field / WebRTC | first 2 s dB default / field / WebRTC "
        "|"
        " to 20 dB s default / field / WebRTC | near-end fidelity dB default / field / WebRTC |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Scene& s : scenes) {
        if (!only.empty() && s.name != only)
            continue;
        const std::vector<int16_t> mic = to_pcm(s.mic), ref = to_pcm(s.far);
        Run runs[3];
        runs[0] = run_ostrel(mic, ref, false, s.noisy);
        runs[1] = run_ostrel(mic, ref, true, s.noisy);
        const PeerRun peer = run_webrtc_peer(mic, ref, s.noisy);
        runs[2].output = peer.output;
        runs[2].cpu_seconds = peer.cpu_seconds;
        Result r{};
        const double early_from = s.change_s >= 0.0 ? s.change_s : 0.0;
        for (int k = 0; k < 3; ++k) {
            cpu[k] += runs[k].cpu_seconds;
            r.curve[k] = erle_curve(mic, ref, runs[k].output);
            r.steady[k] = erle_between(mic, ref, runs[k].output, s.steady_from, s.steady_to);
            r.early[k] = erle_between(mic, ref, runs[k].output, early_from, early_from + 2.0);
            r.t20[k] = s.change_s >= 0.0 && s.name == "change_abrupt"
                           ? time_to_20db(r.curve[k], s.change_s)
                           : NAN;
            r.fidelity[k] =
                s.dt_from >= 0.0 ? fidelity(s.near, runs[k].output, s.dt_from, s.dt_to) : NAN;
            std::fprintf(csv, "%s,%s,%.1f", s.name.c_str(), systems[k], s.change_s);
            for (double v : r.curve[k])
                std::fprintf(csv, std::isnan(v) ? "," : ",%.2f", v);
            std::fprintf(csv, "\n");
        }
        std::printf("| %s: %s | %s | %s | %s | %s |\n", s.name.c_str(), s.row.c_str(),
                    triple(r.steady).c_str(), triple(r.early).c_str(), triple(r.t20).c_str(),
                    triple(r.fidelity).c_str());
        std::fflush(stdout);
        results.push_back(r);
        names.push_back(s.name);
    }
    std::fclose(csv);
    std::printf("\nCPU time over all scenes: default %.3f s, field %.3f s, WebRTC %.3f s; "
                "field / WebRTC = %.2f, default / WebRTC = %.2f\n",
                cpu[0], cpu[1], cpu[2], cpu[1] / cpu[2], cpu[0] / cpu[2]);
    if (!figures_dir.empty()) {
        for (const std::string& error :
             {figures::writeFragment(figures_dir + "/aec_field.md",
                                     summary_fragment(names, results, cpu)),
              figures::writeFragment(figures_dir + "/aec_field_results.md",
                                     results_fragment(names, results, cpu))}) {
            if (!error.empty()) {
                std::fprintf(stderr, "aec_field: %s\n", error.c_str());
                return 1;
            }
        }
    }
    return 0;
}
