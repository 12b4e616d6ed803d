// An echo scene for the echo-cancellation tests: far-end Gaussian noise,
// optionally in slow swells, through a decaying random echo path; the
// microphone hears that echo plus quiet near-end noise. 16 kHz, 16-bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

struct EchoScene {
    std::vector<int16_t> mic, ref;
};

struct EchoRoom {
    size_t taps = 300;
    double path_gain = 0.4, path_decay = 60.0; // tap k: gain x N(0,1) x exp(-k / decay)
    double far_level = 3000.0;
    double swell = 0.4; // far-end envelope 1 - swell + swell x sin(2 pi t / 5000)
    double near_level = 10.0;
};

inline EchoScene echo_scene(size_t samples, uint32_t seed, const EchoRoom& room = EchoRoom())
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> path(room.taps);
    for (size_t k = 0; k < path.size(); ++k)
        path[k] = room.path_gain * gauss(rng) * std::exp(-double(k) / room.path_decay);
    std::vector<double> far(samples);
    for (size_t t = 0; t < samples; ++t) {
        const double envelope =
            1.0 - room.swell + room.swell * std::sin(2.0 * M_PI * double(t) / 5000.0);
        far[t] = room.far_level * envelope * gauss(rng);
    }
    EchoScene scene{std::vector<int16_t>(samples), std::vector<int16_t>(samples)};
    for (size_t t = 0; t < samples; ++t) {
        double echo = 0.0;
        for (size_t k = 0; k < path.size() && k <= t; ++k)
            echo += path[k] * far[t - k];
        scene.ref[t] = static_cast<int16_t>(std::lround(far[t]));
        scene.mic[t] = static_cast<int16_t>(std::lround(echo + room.near_level * gauss(rng)));
    }
    return scene;
}
