#include "signals.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace testsignals
{

std::vector<double> speech_like(size_t length, uint32_t seed, double level)
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

std::vector<double> speech_bursts(size_t length, double amplitude, std::vector<bool>* voiced)
{
    std::vector<double> v(length, 0.0);
    const size_t on = 3840, period = 7040;
    double phase = 0.0;
    for (size_t i = 0; i < length; i++) {
        const size_t pos = i % period;
        if (voiced)
            voiced->push_back(pos < on);
        const double f0 = 140.0 + 60.0 * std::sin(2.0 * M_PI * i / 9000.0);
        phase += 2.0 * M_PI * f0 / kSignalRate;
        if (pos >= on)
            continue;
        const double envelope = std::sin(M_PI * pos / on);
        double s = 0.0;
        for (int h = 1; h <= 12; h++)
            s += std::sin(h * phase) / h;
        v[i] = amplitude * envelope * s / 2.0;
    }
    return v;
}

std::vector<double> white_noise(size_t length, uint32_t seed, double rms)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, rms);
    std::vector<double> s(length);
    for (double& v : s)
        v = gauss(rng);
    return s;
}

std::vector<double> echo_path(size_t taps, uint32_t seed, size_t delay, double gain, double decay)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> h(taps, 0.0);
    double energy = 0.0;
    for (size_t k = delay; k < taps; ++k) {
        h[k] = gauss(rng) * std::exp(-double(k - delay) / decay);
        energy += h[k] * h[k];
    }
    for (double& v : h)
        v *= gain / std::sqrt(energy);
    return h;
}

void add_echo(const std::vector<double>& far, const std::vector<double>& path, size_t from,
              size_t to, std::vector<double>& mic)
{
    for (size_t t = from; t < to; ++t) {
        double echo = 0.0;
        for (size_t k = 0; k < path.size() && k <= t; ++k)
            echo += path[k] * far[t - k];
        mic[t] += echo;
    }
}

double read_at(const std::vector<double>& x, double position)
{
    const long centre = long(std::floor(position));
    double sum = 0.0;
    for (long k = centre - 15; k <= centre + 16; ++k) {
        if (k < 0 || k >= long(x.size()))
            continue;
        const double d = position - double(k);
        const double sinc = std::fabs(d) < 1e-12 ? 1.0 : std::sin(M_PI * d) / (M_PI * d);
        const double window = 0.5 + 0.5 * std::cos(M_PI * d / 16.5);
        sum += x[size_t(k)] * sinc * window;
    }
    return sum;
}

int16_t to_pcm(double v)
{
    return int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

std::vector<int16_t> to_pcm(const std::vector<double>& s)
{
    std::vector<int16_t> pcm(s.size());
    std::transform(s.begin(), s.end(), pcm.begin(), [](double v) { return to_pcm(v); });
    return pcm;
}

namespace
{

// The far end as the reference carries it: a talker, or noise in swells,
// low-passed when asked.
std::vector<double> far_end(size_t samples, uint32_t seed, const EchoRoom& room)
{
    if (room.far_talker)
        return speech_like(samples, seed, room.far_level);
    std::vector<double> far = white_noise(samples, seed, room.far_level);
    for (size_t t = 0; t < samples; ++t)
        far[t] *= 1.0 - room.swell + room.swell * std::sin(2.0 * M_PI * double(t) / 5000.0);
    for (int pass = 0; room.smooth && pass < 2; ++pass)
        for (size_t t = samples; t-- > 2;)
            far[t] = 0.25 * far[t] + 0.5 * far[t - 1] + 0.25 * far[t - 2];
    return far;
}

} // namespace

EchoScene echo_scene(size_t samples, uint32_t seed, const EchoRoom& room)
{
    const std::vector<double> far = far_end(samples, seed, room);
    std::vector<double> played(samples);
    for (size_t t = 0; t < samples; ++t) {
        const double v = room.drift != 0.0 ? read_at(far, double(t) * (1.0 - room.drift)) : far[t];
        played[t] = room.clip > 0.0 ? room.clip * std::tanh(v / room.clip) : v;
    }
    std::vector<double> path =
        echo_path(room.delay + room.taps, seed + 1, room.delay, room.path_gain, room.path_decay);
    if (room.direct > 0.0)
        path[room.delay] = room.direct;

    EchoScene scene{{}, to_pcm(far), white_noise(samples, seed + 2, room.near_level)};
    if (room.talk_from < room.talk_to) {
        const std::vector<double> talk = speech_like(samples, seed + 3, room.talk_level);
        for (size_t t = room.talk_from; t < std::min(room.talk_to, samples); ++t)
            scene.near[t] += talk[t];
    }
    std::vector<double> mic = scene.near;
    add_echo(played, path, 0, samples, mic);
    scene.mic = to_pcm(mic);
    return scene;
}

} // namespace testsignals
