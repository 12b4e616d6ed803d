// Signals of the echo-cancellation quality reports: a speech-like talker,
// white noise and a synthetic room echo path. 16 kHz.
#ifndef BENCH_SCENE_SIGNALS_H
#define BENCH_SCENE_SIGNALS_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace scene_signals
{

constexpr int kSignalRate = 16000;

// Speech-like signal: a glottal pulse train with wandering pitch and some
// breath noise, shaped by two slowly moving formant resonators and cut into
// syllables and pauses. `level` is the RMS of the voiced parts.
inline std::vector<double> speech_like(size_t length, uint32_t seed, double level)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> s(length, 0.0);
    double phase = 0.0, f1 = 600.0, f2 = 1500.0;
    double r1[2] = {0, 0}, r2[2] = {0, 0};
    size_t t = 0;
    while (t < length) {
        const size_t syllable = static_cast<size_t>((0.12 + 0.2 * uniform(rng)) * kSignalRate);
        const size_t pause = static_cast<size_t>((0.03 + 0.25 * uniform(rng)) * kSignalRate);
        const double pitch = 100.0 + 120.0 * uniform(rng);
        const double target1 = 300.0 + 600.0 * uniform(rng),
                     target2 = 900.0 + 1600.0 * uniform(rng);
        for (size_t i = 0; i < syllable && t < length; ++i, ++t) {
            f1 += 0.002 * (target1 - f1);
            f2 += 0.002 * (target2 - f2);
            phase +=
                pitch * (1.0 + 0.05 * std::sin(2.0 * M_PI * 3.0 * t / kSignalRate)) / kSignalRate;
            double excitation = 0.3 * gauss(rng);
            if (phase >= 1.0) {
                phase -= 1.0;
                excitation += 8.0;
            }
            // Two resonators in series (pole radius 0.97).
            const double a1 = 2.0 * 0.97 * std::cos(2.0 * M_PI * f1 / kSignalRate);
            const double a2 = 2.0 * 0.97 * std::cos(2.0 * M_PI * f2 / kSignalRate);
            const double v1 = excitation + a1 * r1[0] - 0.9409 * r1[1];
            r1[1] = r1[0];
            r1[0] = v1;
            const double v2 = v1 + a2 * r2[0] - 0.9409 * r2[1];
            r2[1] = r2[0];
            r2[0] = v2;
            const double envelope = std::sin(M_PI * double(i) / double(syllable));
            s[t] = envelope * v2;
        }
        t += pause;
    }
    double power = 0.0;
    size_t voiced = 0;
    for (double v : s) {
        if (v != 0.0) {
            power += v * v;
            ++voiced;
        }
    }
    const double scale = voiced > 0 ? level / std::sqrt(power / double(voiced)) : 0.0;
    for (double& v : s)
        v *= scale;
    return s;
}

inline std::vector<double> white_noise(size_t length, uint32_t seed, double rms)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, rms);
    std::vector<double> s(length);
    for (double& v : s)
        v = gauss(rng);
    return s;
}

// Room echo path: a direct-path delay, then exponentially decaying random
// reflections over `taps` samples, scaled to the given echo-path gain.
inline std::vector<double> echo_path(size_t taps, uint32_t seed, size_t delay, double gain)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> h(taps, 0.0);
    double energy = 0.0;
    for (size_t k = delay; k < taps; ++k) {
        h[k] = gauss(rng) * std::exp(-double(k - delay) / (0.18 * double(taps)));
        energy += h[k] * h[k];
    }
    for (double& v : h)
        v *= gain / std::sqrt(energy);
    return h;
}

} // namespace scene_signals

#endif
