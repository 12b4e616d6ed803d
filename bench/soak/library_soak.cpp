// Soak run of both libraries: an hour of audio time (by default), fed as the
// firmware would, with the configuration changed every few seconds and the
// instance restarted in another mode every minute or so. Every second of
// output is checked: bounded (few clipped samples, level within a margin of
// the input's), and never silent while the input is active (a NaN inside
// the processing shows up as clipping or as silence). Prints the speed
// against real time and exits 1 on the first failed second. --figures FILE
// also writes the run's figures as a fragment for the README
// (tools/support/figures.h).
//
//   library_soak [--minutes N] [--seed S] [--figures FILE]
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "command_line.h"
#include "figures.h"
#include "ostrel.h"
#include "veldra.h"

namespace
{

constexpr int kRate = 16000;
constexpr int kFrame = 16; // samples per millisecond call
constexpr double kPi = 3.14159265358979323846;

// Level and clipping of one second of output against its input.
struct SecondCheck {
    double in_power = 0.0, out_power = 0.0;
    size_t clipped = 0, nonzero = 0, samples = 0;
    void add(double in, int16_t out)
    {
        in_power += in * in;
        out_power += double(out) * out;
        clipped += (out == 32767 || out == -32768) ? 1 : 0;
        nonzero += out != 0 ? 1 : 0;
        ++samples;
    }
    double in_rms() const { return std::sqrt(in_power / double(samples)); }
    double out_rms() const { return std::sqrt(out_power / double(samples)); }
};

// Both libraries play out 256 samples late: a second of output is checked
// against the input from 256 samples earlier.
struct Lagged {
    static constexpr size_t kDelay = 256;
    std::vector<double> tail = std::vector<double>(kDelay, 0.0);
    std::vector<double> carry() const { return tail; }
    SecondCheck check(const std::vector<double>& in, const std::vector<int16_t>& out)
    {
        SecondCheck c;
        for (size_t n = 0; n < out.size(); ++n)
            c.add(in[n], out[n]);
        tail.assign(in.end() - kDelay, in.end());
        return c;
    }
};

// Fails the soak with a message naming the library, second and reason.
// Output may exceed the input's level by `gain` and by a noise `floor` (the
// test's simple first-order modulator is noisy at the low PDM clocks).
// The first second after a restart holds the filters' start transient and
// is not checked; a second with a reconfiguration may hold a click (a delay
// line that jumps), so its level is not compared with the input's.
bool verdict(const char* library, long second, const SecondCheck& c, double gain, double floor,
             bool active, bool settled, bool reconfigured, const std::string& mode)
{
    if (!settled)
        return true;
    const char* fault = nullptr;
    if (c.clipped > c.samples / 100)
        fault = "more than 1 % of the samples clipped";
    else if (!reconfigured && c.out_rms() > gain * (4.0 * c.in_rms() + floor))
        fault = "output level out of bounds";
    else if (active && c.nonzero < c.samples / 100)
        fault = "silent while the input is active";
    if (fault == nullptr)
        return true;
    std::printf("%s: second %ld (%s): %s (input RMS %.1f, output RMS %.1f, %zu clipped)\n", library,
                second, mode.c_str(), fault, c.in_rms(), c.out_rms(), c.clipped);
    return false;
}

// A source that is active in some seconds: a tone of changing pitch plus a
// little noise, at a level between -35 and -15 dBFS.
struct Talker {
    std::mt19937 rng;
    double phase = 0.0, hz = 440.0, amplitude = 0.0;
    bool active = false;
    explicit Talker(uint32_t seed) : rng(seed) {}
    void nextSecond()
    {
        active = std::uniform_real_distribution<double>(0, 1)(rng) < 0.8;
        hz = std::uniform_real_distribution<double>(150, 3000)(rng);
        amplitude =
            active ? 32768.0 *
                         std::pow(10.0, std::uniform_real_distribution<double>(-45, -25)(rng) / 20)
                   : 0.0;
    }
    double sample()
    {
        phase += 2 * kPi * hz / kRate;
        if (phase > 2 * kPi)
            phase -= 2 * kPi;
        return amplitude * (std::sin(phase) + 0.1 * std::normal_distribution<double>(0, 1)(rng));
    }
};

// ---- veldra -----------------------------------------------------------------

struct VeldraMode {
    uint32_t format, khz;
    uint8_t delay;
    const char* name;
};
const VeldraMode kVeldraModes[] = {
    {VELDRA_FORMAT_PDM, 256, 1, "PDM 256 kHz"},    {VELDRA_FORMAT_PDM, 512, 1, "PDM 512 kHz"},
    {VELDRA_FORMAT_PDM, 768, 1, "PDM 768 kHz"},    {VELDRA_FORMAT_PDM, 1024, 1, "PDM 1024 kHz"},
    {VELDRA_FORMAT_PDM, 1280, 1, "PDM 1280 kHz"},  {VELDRA_FORMAT_PDM, 2048, 1, "PDM 2048 kHz"},
    {VELDRA_FORMAT_PCM, 16, 1, "PCM, delay line"}, {VELDRA_FORMAT_PCM, 16, 0, "PCM, no delay line"},
};

struct VeldraSoak {
    std::mt19937 rng;
    VeldraHandle handle{};
    std::vector<uint32_t> block;
    const VeldraMode* mode = nullptr;
    uint8_t volume = 0;
    double modulator[2] = {0, 0};
    double previous = 0.0; // the second microphone hears the wave one sample later

    explicit VeldraSoak(uint32_t seed) : rng(seed) {}

    void restart()
    {
        mode = &kVeldraModes[rng() % (sizeof kVeldraModes / sizeof kVeldraModes[0])];
        handle = VeldraHandle{};
        handle.data_format = mode->format;
        handle.sampling_frequency = mode->khz;
        handle.mic1_channels = handle.mic2_channels = mode->format == VELDRA_FORMAT_PDM ? 2 : 1;
        handle.out_channels = 2;
        handle.algorithm_type = VELDRA_TYPE_ADAPTIVE_DENOISE;
        handle.second_output = VELDRA_SECOND_OUTPUT_REAR;
        handle.delay_enable = mode->delay;
        Veldra_getMemorySize(&handle);
        block.assign(handle.internal_memory_size / 4 + 1, 0);
        handle.internal_memory = block.data();
        if (Veldra_Init(&handle) != 0)
            std::abort();
        configure();
    }

    void configure()
    {
        VeldraConfig cfg{};
        const bool sample_delay = mode->format == VELDRA_FORMAT_PCM && mode->delay;
        cfg.mic_distance = uint16_t(sample_delay ? 210 + rng() % 3 : 40 + rng() % 173);
        cfg.algorithm_type = rng() % 4;
        cfg.volume = volume = uint8_t(rng() % 13);
        cfg.mic2_gain =
            rng() % 3 == 0 ? 0.0f : std::uniform_real_distribution<float>(0.7f, 1.3f)(rng);
        Veldra_setConfig(&handle, &cfg);
    }

    double noiseFloor() const { return mode->format == VELDRA_FORMAT_PDM ? 1500.0 : 300.0; }
    double gain() const
    {
        return mode->format == VELDRA_FORMAT_PDM ? std::pow(10.0, volume / 20.0) : 1.0;
    }

    // Sigma-delta bits of one sample for one microphone, most significant first.
    void pdmBits(int mic, double x, int bits, uint8_t* bytes, size_t stride, size_t& bit_at)
    {
        for (int b = 0; b < bits; ++b, ++bit_at) {
            modulator[mic] += x;
            const int bit = modulator[mic] >= 0.0 ? 1 : 0;
            modulator[mic] -= bit ? 1.0 : -1.0;
            uint8_t& byte = bytes[(bit_at / 8) * stride];
            byte = uint8_t((byte << 1) | bit);
        }
    }

    // One millisecond of the talker; the beam (channel 0) goes to out.
    void step(Talker& talker, std::vector<double>& in, int16_t* out)
    {
        int16_t frames[2 * kFrame];
        double x[kFrame + 1];
        x[0] = previous;
        for (int i = 0; i < kFrame; ++i)
            in.push_back(x[i + 1] = talker.sample());
        previous = x[kFrame];
        uint32_t ready;
        if (mode->format == VELDRA_FORMAT_PDM) {
            const int bits = int(mode->khz / 16);
            std::vector<uint8_t> pdm(2 * mode->khz / 8, 0);
            size_t at[2] = {0, 0};
            for (int i = 0; i < kFrame; ++i) {
                pdmBits(0, x[i + 1] / 32768.0, bits, pdm.data(), 2, at[0]);
                pdmBits(1, x[i] / 32768.0, bits, pdm.data() + 1, 2, at[1]);
            }
            ready = Veldra_FirstStep(pdm.data(), pdm.data() + 1, frames, &handle);
        } else {
            // 16 samples per microphone, and without the delay line 16 more that
            // are the caller's delayed copy (here one sample later).
            int16_t mic1[2 * kFrame], mic2[2 * kFrame];
            for (int i = 0; i < kFrame; ++i) {
                mic1[i] = int16_t(std::lround(x[i + 1]));
                mic2[i] = int16_t(std::lround(x[i]));
                mic1[kFrame + i] = mic2[i];
                mic2[kFrame + i] = int16_t(std::lround(i ? x[i - 1] : x[0]));
            }
            ready = Veldra_FirstStep(mic1, mic2, frames, &handle);
        }
        if (ready)
            Veldra_SecondStep(&handle);
        for (int i = 0; i < kFrame; ++i)
            out[i] = frames[2 * i];
    }
};

// ---- ostrel -----------------------------------------------------------------

struct OstrelSoak {
    std::mt19937 rng;
    OstrelHandle handle{};
    std::vector<uint32_t> block;
    std::vector<double> echo_path, far_history;
    uint32_t agc = 0;
    std::string mode;

    explicit OstrelSoak(uint32_t seed) : rng(seed)
    {
        for (int k = 0; k < 200; ++k)
            echo_path.push_back(0.4 * std::exp(-k / 40.0) * (k % 3 == 1 ? -1 : 1));
        far_history.assign(echo_path.size(), 0.0);
    }

    void restart()
    {
        handle = OstrelHandle{};
        handle.tail_length = uint16_t(128 * (1 + rng() % 8));
        handle.preprocess_enable = rng() % 4 != 0;
        Ostrel_getMemorySize(&handle);
        block.assign(handle.internal_memory_size / 4 + 1, 0);
        handle.internal_memory = block.data();
        if (Ostrel_Init(&handle) != OSTREL_OK)
            std::abort();
        agc = 0;
        mode = "tail " + std::to_string(handle.tail_length) +
               (handle.preprocess_enable ? ", preprocessor" : ", echo canceller only");
        configure();
    }

    void configure()
    {
        if (!handle.preprocess_enable)
            return;
        OstrelConfig cfg{};
        cfg.denoise_enable = rng() % 4 != 0;
        const uint32_t levels[] = {0, 0, 1000, 4000, 8000};
        cfg.agc_target_level = agc = levels[rng() % 5];
        cfg.residual_echo_enable = rng() % 2;
        cfg.noise_attenuation_db = -int32_t(rng() % 40);
        cfg.echo_attenuation_db = -int32_t(rng() % 60);
        cfg.echo_attenuation_active_db = -int32_t(rng() % 30);
        if (Ostrel_setConfig(&handle, &cfg) != OSTREL_OK)
            std::abort();
    }

    // Gain control may raise a quiet talker to its target.
    double gain(double in_rms) const
    {
        return agc ? std::max(1.0, 2.0 * agc / std::max(in_rms, 1.0)) : 1.0;
    }

    void step(Talker& near, Talker& far, std::vector<double>& in, int16_t* out)
    {
        int16_t mic[kFrame], ref[kFrame];
        for (int i = 0; i < kFrame; ++i) {
            const double f = far.sample();
            far_history.insert(far_history.begin(), f);
            far_history.pop_back();
            double echo = 0.0;
            for (size_t k = 0; k < echo_path.size(); ++k)
                echo += echo_path[k] * far_history[k];
            const double m = std::max(-32768.0, std::min(32767.0, near.sample() + echo));
            in.push_back(m);
            mic[i] = int16_t(std::lround(m));
            ref[i] = int16_t(std::lround(std::max(-32768.0, std::min(32767.0, f))));
        }
        if (Ostrel_Data_Input(mic, ref, out, &handle) == 1)
            Ostrel_Process(&handle);
    }
};

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One library's run: seconds of audio, wall time, instances started
// (modes or restarts) and reconfigurations.
struct SoakFigures {
    long seconds = 0;
    double wall = 0.0;
    long starts = 0, configs = 0;
    double speed() const { return double(seconds) / wall; }
};

// The figures of a run that passed.
std::string figuresText(double minutes, uint32_t seed, const SoakFigures& veldra,
                        const SoakFigures& ostrel)
{
    char duration[64], text[512];
    if (minutes == 60.0)
        std::snprintf(duration, sizeof duration, "One hour");
    else
        std::snprintf(duration, sizeof duration, "%g minutes", minutes);
    std::snprintf(text, sizeof text,
                  "%s of audio (seed %u) ran %.0f times faster than real time for `veldra` and "
                  "%.0f\nfor `ostrel`, with %ld modes and %ld reconfigurations for `veldra`, %ld "
                  "restarts and\n%ld reconfigurations for `ostrel`, every second passing.\n",
                  duration, unsigned(seed), veldra.speed(), ostrel.speed(), veldra.starts,
                  veldra.configs, ostrel.starts, ostrel.configs);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    double minutes = 60.0;
    uint32_t seed = 1;
    std::string figures_path;
    const char* usage = "usage: library_soak [--minutes N] [--seed S] [--figures FILE]\n";
    cli::CommandLine line;
    line.number("--minutes", cli::real("a duration in minutes", 0.0, 1e6),
                [&](double v) { minutes = v; });
    line.number("--seed", cli::whole("a seed", 0, 4294967295.0),
                [&](double v) { seed = uint32_t(v); });
    line.file("--figures", figures_path);
    if (const int status = line.parse_or_exit_status(argc, argv, "library_soak", usage);
        status >= 0)
        return status;
    SoakFigures veldra_figures, ostrel_figures;
    const long total = long(minutes * 60.0);
    std::printf("soak: %ld s of audio per library, seed %u\n", total, seed);
    bool ok = true;

    {
        VeldraSoak soak(seed);
        Talker talker(seed + 1);
        Lagged lagged;
        std::mt19937 churn(seed + 2);
        soak.restart();
        long since_restart = 0, modes = 1, configs = 0;
        const auto start = std::chrono::steady_clock::now();
        for (long s = 0; s < total && ok; ++s, ++since_restart) {
            talker.nextSecond();
            const long configs_before = configs;
            if (since_restart >= 60 && churn() % 30 == 0)
                soak.restart(), since_restart = 0, ++modes;
            else if (churn() % 4 == 0)
                soak.configure(), ++configs;
            std::vector<double> in = lagged.carry();
            std::vector<int16_t> out(kRate);
            for (int ms = 0; ms < 1000; ++ms)
                soak.step(talker, in, out.data() + ms * kFrame);
            const SecondCheck check = lagged.check(in, out);
            ok = verdict("veldra", s, check, 2.0 * soak.gain(), soak.noiseFloor(), talker.active,
                         since_restart >= 1, configs != configs_before, soak.mode->name);
        }
        const double wall = seconds_since(start);
        veldra_figures = {total, wall, modes, configs};
        std::printf("veldra: %ld s of audio in %.1f s (%.0f x real time), %ld modes, %ld "
                    "reconfigurations: %s\n",
                    total, wall, double(total) / wall, modes, configs, ok ? "ok" : "FAILED");
    }
    if (ok) {
        OstrelSoak soak(seed + 3);
        Talker near(seed + 4), far(seed + 5);
        Lagged lagged;
        std::mt19937 churn(seed + 6);
        soak.restart();
        long since_restart = 0, restarts = 1, configs = 0;
        const auto start = std::chrono::steady_clock::now();
        for (long s = 0; s < total && ok; ++s, ++since_restart) {
            near.nextSecond();
            far.nextSecond();
            const long configs_before = configs;
            if (since_restart >= 60 && churn() % 30 == 0)
                soak.restart(), since_restart = 0, ++restarts;
            else if (churn() % 4 == 0)
                soak.configure(), ++configs;
            std::vector<double> in = lagged.carry();
            std::vector<int16_t> out(kRate);
            for (int ms = 0; ms < 1000; ++ms)
                soak.step(near, far, in, out.data() + ms * kFrame);
            const SecondCheck check = lagged.check(in, out);
            ok = verdict("ostrel", s, check, soak.gain(check.in_rms()), 300.0, near.active,
                         since_restart >= 1, configs != configs_before, soak.mode);
        }
        const double wall = seconds_since(start);
        ostrel_figures = {total, wall, restarts, configs};
        std::printf("ostrel: %ld s of audio in %.1f s (%.0f x real time), %ld restarts, %ld "
                    "reconfigurations: %s\n",
                    total, wall, double(total) / wall, restarts, configs, ok ? "ok" : "FAILED");
    }
    if (!figures_path.empty() && !ok)
        std::fprintf(stderr, "library_soak: failed, no figures written\n");
    if (!figures_path.empty() && ok) {
        const std::string error = figures::writeFragment(
            figures_path, figuresText(minutes, seed, veldra_figures, ostrel_figures));
        if (!error.empty()) {
            std::fprintf(stderr, "library_soak: %s\n", error.c_str());
            return 1;
        }
    }
    return ok ? 0 : 1;
}
