// Scene synthesis: plane waves at the two microphones, band-limited
// fractional delays, and second-order sigma-delta modulation to PDM.
#include "scene.h"

#include <algorithm>
#include <cmath>

namespace pdmscene
{
namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr int kHalfTaps = 32;    // interpolation half-width, source samples
constexpr double kCutoff = 0.45; // band edge as a share of kSourceRate (7.2 kHz)

// Small deterministic generator: uniform and Gaussian numbers.
class Random
{
  public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
    double uniform() // (0, 1)
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return (double((state_ >> 11) & ((1ull << 53) - 1)) + 0.5) / double(1ull << 53);
    }
    double gaussian()
    {
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform());
    }

  private:
    uint64_t state_;
};

double blackman(double u, double half_width)
{
    if (std::fabs(u) >= half_width)
        return 0.0;
    const double phase = kPi * (u + half_width) / half_width; // 0..2 pi
    return 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
}

// Low-pass interpolation kernel in source samples: band edge kCutoff.
double lowPassKernel(double u)
{
    const double a = 2.0 * kCutoff;
    const double x = kPi * a * u;
    const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
    return a * sinc * blackman(u, kHalfTaps);
}

// Adds gain x s(t - delay) at `rate` for a sequence s at kSourceRate whose
// index 0 lies at time -origin samples (so that noise is present at t = 0).
// The phases repeat every `ratio` output samples, so the taps are computed
// once per phase.
void addDelayedSequence(const std::vector<float>& s, long origin, double gain, double delay_s,
                        int ratio, std::vector<double>& out)
{
    const double delay = delay_s * kSourceRate;
    std::vector<double> taps(size_t(ratio) * 2 * kHalfTaps);
    std::vector<long> base(ratio);
    for (int p = 0; p < ratio; ++p) {
        const double u = double(p) / ratio - delay;
        base[p] = long(std::floor(u));
        const double frac = u - double(base[p]);
        for (int j = -kHalfTaps + 1; j <= kHalfTaps; ++j)
            taps[size_t(p) * 2 * kHalfTaps + size_t(j + kHalfTaps - 1)] = lowPassKernel(frac - j);
    }
    const long length = long(s.size());
    for (size_t n = 0; n < out.size(); ++n) {
        const int p = int(n % size_t(ratio));
        const long centre = long(n / size_t(ratio)) + base[p] + origin;
        const double* t = &taps[size_t(p) * 2 * kHalfTaps];
        double acc = 0.0;
        for (int j = -kHalfTaps + 1; j <= kHalfTaps; ++j) {
            const long k = centre + j;
            if (k >= 0 && k < length)
                acc += double(s[size_t(k)]) * t[j + kHalfTaps - 1];
        }
        out[n] += gain * acc;
    }
}

// As addDelayedSequence, for a delay that moves linearly from delay0_s to
// delay1_s over the output; the fractional delay is taken from a table of
// kPhases kernels.
void addMovingSequence(const std::vector<float>& s, long origin, double gain, double delay0_s,
                       double delay1_s, int ratio, std::vector<double>& out)
{
    constexpr int kPhases = 1024;
    static std::vector<double> table;
    if (table.empty()) {
        table.resize(size_t(kPhases + 1) * 2 * kHalfTaps);
        for (int p = 0; p <= kPhases; ++p)
            for (int j = -kHalfTaps + 1; j <= kHalfTaps; ++j)
                table[size_t(p) * 2 * kHalfTaps + size_t(j + kHalfTaps - 1)] =
                    lowPassKernel(double(p) / kPhases - j);
    }
    const long length = long(s.size());
    const double count = double(std::max<size_t>(out.size(), 2) - 1);
    for (size_t n = 0; n < out.size(); ++n) {
        const double delay = (delay0_s + (delay1_s - delay0_s) * double(n) / count) * kSourceRate;
        const double u = double(n) / ratio - delay;
        const long base = long(std::floor(u));
        const int phase = int(std::lround((u - double(base)) * kPhases));
        const double* t = &table[size_t(phase) * 2 * kHalfTaps];
        double acc = 0.0;
        for (int j = -kHalfTaps + 1; j <= kHalfTaps; ++j) {
            const long k = base + origin + j;
            if (k >= 0 && k < length)
                acc += double(s[size_t(k)]) * t[j + kHalfTaps - 1];
        }
        out[n] += gain * acc;
    }
}

size_t millisecondsOf(double duration_s)
{
    return size_t(std::max(0.0, std::floor(duration_s * 1000.0 + 0.5)));
}

// Two-pole resonator at 16 kHz.
struct Resonator {
    double a1 = 0, a2 = 0, g = 0, y1 = 0, y2 = 0;
    void tune(double freq, double bandwidth)
    {
        const double r = std::exp(-kPi * bandwidth / kSourceRate);
        a1 = 2.0 * r * std::cos(2.0 * kPi * freq / kSourceRate);
        a2 = -r * r;
        g = 1.0 - r;
    }
    double run(double x)
    {
        const double y = g * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

} // namespace

void addDiffuseNoise(Scene& scene, double level_db, int count, uint32_t seed)
{
    const double each_db = level_db - 10.0 * std::log10(double(std::max(count, 1)));
    for (int i = 0; i < count; ++i) {
        Source s;
        s.kind = SourceKind::Noise;
        const double cosine = 1.0 - (2.0 * i + 1.0) / count; // uniform in (-1, 1)
        s.azimuth_deg = std::acos(cosine) * 180.0 / kPi;
        s.level_db = each_db;
        s.seed = seed * 1000u + uint32_t(i) + 1u;
        scene.sources.push_back(s);
    }
}

std::vector<float> speechLikeSignal(double duration_s, uint32_t seed)
{
    static const double kVowels[5][3] = {{730, 1090, 2440},
                                         {270, 2290, 3010},
                                         {300, 870, 2240},
                                         {530, 1840, 2480},
                                         {570, 840, 2410}};
    Random rng(seed);
    const size_t total = millisecondsOf(duration_s) * 16;
    std::vector<double> out(total, 0.0);
    size_t at = size_t(0.15 * kSourceRate);
    double phase = 0.0;
    int syllable = 0;
    while (at < total) {
        const size_t voiced = size_t((0.12 + 0.16 * rng.uniform()) * kSourceRate);
        const double f0_offset = 25.0 * (rng.uniform() - 0.5);
        const double* formants = kVowels[int(rng.uniform() * 5.0) % 5];
        Resonator res[3];
        for (int k = 0; k < 3; ++k)
            res[k].tune(formants[k], 60.0 + 40.0 * k);
        const bool fricative = rng.uniform() < 0.35;
        const size_t burst = fricative ? size_t(0.05 * kSourceRate) : 0;
        double prev_noise = 0.0;
        for (size_t i = 0; i < burst + voiced && at + i < total; ++i) {
            const double t = double(at + i) / kSourceRate;
            if (i < burst) {
                const double w = rng.gaussian();
                out[at + i] = 0.15 * (w - prev_noise) * std::sin(kPi * double(i) / double(burst));
                prev_noise = w;
                continue;
            }
            const size_t v = i - burst;
            const double f0 = 120.0 + 35.0 * std::sin(2.0 * kPi * 0.6 * t) + f0_offset;
            phase += 2.0 * kPi * f0 / kSourceRate;
            if (phase > 2.0 * kPi)
                phase -= 2.0 * kPi;
            const int harmonics = int(3800.0 / f0);
            double glottal = 0.0;
            for (int h = 1; h <= harmonics; ++h)
                glottal += std::cos(h * phase) / h;
            double x = glottal;
            for (Resonator& r : res)
                x = r.run(x) * 4.0;
            const double attack = std::min(1.0, double(v) / (0.03 * kSourceRate));
            const double release = std::min(1.0, double(voiced - v) / (0.04 * kSourceRate));
            out[at + i] = x * attack * release;
        }
        at += burst + voiced;
        ++syllable;
        const double pause =
            (syllable % 5 == 0) ? 0.3 + 0.3 * rng.uniform() : 0.06 + 0.14 * rng.uniform();
        at += size_t(pause * kSourceRate);
    }
    double energy = 0.0;
    size_t active = 0;
    for (double x : out) {
        if (x != 0.0) {
            energy += x * x;
            ++active;
        }
    }
    const double scale = active ? 0.1 / std::sqrt(energy / double(active)) : 0.0;
    std::vector<float> result(total);
    for (size_t i = 0; i < total; ++i)
        result[i] = float(out[i] * scale);
    return result;
}

size_t inputFramesFor(double duration_s, double rate)
{
    const double reach = kHalfTaps * std::max(1.0, rate / kSourceRate) / (2.0 * kCutoff);
    const double last_centre =
        (duration_s * kSourceRate + double(kSourceTail)) * rate / kSourceRate;
    return size_t(std::ceil(last_centre + reach)) + 2;
}

std::vector<float> resampleToSourceRate(const std::vector<float>& in, double rate, size_t max_count)
{
    if (rate == kSourceRate || in.empty())
        return std::vector<float>(in.begin(), in.begin() + std::min(in.size(), max_count));
    const double edge = kCutoff * std::min(rate, kSourceRate); // Hz
    const double step = rate / kSourceRate;                    // input samples per output sample
    const double half_width = kHalfTaps * rate / (2.0 * edge); // input samples
    const size_t count = std::min(max_count, size_t(double(in.size()) / step));
    std::vector<float> out(count);
    for (size_t m = 0; m < count; ++m) {
        const double centre = double(m) * step;
        const long first = long(std::ceil(centre - half_width));
        const long last = long(std::floor(centre + half_width));
        double acc = 0.0;
        for (long k = std::max(first, 0L); k <= last && k < long(in.size()); ++k) {
            const double tau = (centre - double(k)) / rate; // seconds
            const double x = 2.0 * kPi * edge * tau;
            const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
            acc += in[size_t(k)] * (2.0 * edge / rate) * sinc *
                   blackman(centre - double(k), half_width);
        }
        out[m] = float(acc);
    }
    return out;
}

void microphoneDelays(const Scene& scene, double azimuth_deg, double& mic1_s, double& mic2_s)
{
    const double half_path =
        0.5 * scene.spacing_mm * 1e-3 * std::cos(azimuth_deg * kPi / 180.0) / scene.speed_of_sound;
    mic1_s = -half_path; // a front source reaches the first microphone first
    mic2_s = half_path;
}

// Adds one source to both microphone signals.
static void addSource(const Scene& scene, const Source& src, double rate, int ratio,
                      std::vector<double>& mic1, std::vector<double>& mic2)
{
    const size_t count = mic1.size();
    double d1 = 0.0, d2 = 0.0, e1 = 0.0, e2 = 0.0;
    microphoneDelays(scene, src.azimuth_deg, d1, d2);
    const bool moving = src.end_azimuth_deg >= 0.0 && src.end_azimuth_deg != src.azimuth_deg;
    microphoneDelays(scene, moving ? src.end_azimuth_deg : src.azimuth_deg, e1, e2);
    const double amplitude = std::pow(10.0, src.level_db / 20.0) * (src.inverted ? -1.0 : 1.0);
    const double last = double(std::max<size_t>(count, 2) - 1);
    auto add = [&](const std::vector<float>& seq, long origin, double gain) {
        if (moving) {
            addMovingSequence(seq, origin, gain, d1, e1, ratio, mic1);
            addMovingSequence(seq, origin, gain, d2, e2, ratio, mic2);
        } else {
            addDelayedSequence(seq, origin, gain, d1, ratio, mic1);
            addDelayedSequence(seq, origin, gain, d2, ratio, mic2);
        }
    };
    switch (src.kind) {
    case SourceKind::Tone:
        for (size_t n = 0; n < count; ++n) {
            const double t = double(n) / rate;
            const double share = double(n) / last;
            const double t1 = d1 + (e1 - d1) * share, t2 = d2 + (e2 - d2) * share;
            mic1[n] += amplitude * std::sin(2.0 * kPi * src.frequency_hz * (t - t1));
            mic2[n] += amplitude * std::sin(2.0 * kPi * src.frequency_hz * (t - t2));
        }
        break;
    case SourceKind::Noise: {
        // White noise at the source rate; the interpolation keeps the band
        // below 7.2 kHz, hence the scaling to the requested RMS.
        const long margin = 2 * kHalfTaps + 4;
        std::vector<float> noise(count / size_t(ratio) + size_t(2 * margin));
        Random rng(src.seed);
        for (float& x : noise)
            x = float(rng.gaussian());
        add(noise, margin, amplitude / std::sqrt(2.0 * kCutoff));
        break;
    }
    case SourceKind::Signal:
        add(src.signal, 0, amplitude);
        break;
    }
}

void renderMicrophones(const Scene& scene, double rate, std::vector<double>& mic1,
                       std::vector<double>& mic2)
{
    const int ratio = int(std::lround(rate / kSourceRate));
    const size_t count = millisecondsOf(scene.duration_s) * size_t(16 * ratio);
    mic1.assign(count, 0.0);
    mic2.assign(count, 0.0);
    for (const Source& src : scene.sources)
        addSource(scene, src, rate, ratio, mic1, mic2);
    if (scene.mic_noise_db > -200.0) {
        // Self-noise of the capsule: white at this rate, the given RMS within
        // the 8 kHz audio band.
        const double sigma = std::pow(10.0, scene.mic_noise_db / 20.0) * std::sqrt(double(ratio));
        Random rng(scene.seed * 7919u + 17u);
        for (size_t n = 0; n < count; ++n) {
            mic1[n] += sigma * rng.gaussian();
            mic2[n] += sigma * rng.gaussian();
        }
    }
    if (scene.mic2_sensitivity_db != 0.0) {
        const double gain = std::pow(10.0, scene.mic2_sensitivity_db / 20.0);
        for (double& x : mic2)
            x *= gain;
    }
}

int SigmaDelta::step(double input, PdmStats& stats)
{
    stats.peak_input = std::max(stats.peak_input, std::fabs(input));
    integrator1_ += input - feedback_;
    integrator2_ += integrator1_ - feedback_;
    // A little dither against idle tones.
    seed_ = seed_ * 1664525u + 1013904223u;
    const double dither = (double(seed_ >> 8) / double(1u << 24) - 0.5) * 1e-3;
    const int bit = integrator2_ + dither >= 0.0 ? 1 : 0;
    feedback_ = bit ? 1.0 : -1.0;
    if (std::fabs(integrator2_) > 64.0) { // unstable: overloaded, start again
        integrator1_ = integrator2_ = 0.0;
        ++stats.overloads;
    }
    return bit;
}

int SigmaDelta4::step(double input, PdmStats& stats)
{
    // A(z) = 1 + a1 z^-1 + ... + a4 z^-4; B(z) = (1 - z^-1)^4.
    static const double kA[4] = {-3.19436432, 3.89202139, -2.13583637, 0.4444446};
    static const double kB[4] = {-4.0, 6.0, -4.0, 1.0};
    stats.peak_input = std::max(stats.peak_input, std::fabs(input));
    // w = ((B - A) / A) e: the shaped error fed back to the quantiser input.
    double w = 0.0;
    for (int k = 0; k < 4; ++k)
        w += (kB[k] - kA[k]) * error_[k] - kA[k] * feedback_[k];
    seed_ = seed_ * 1664525u + 1013904223u;
    const double dither = (double(seed_ >> 8) / double(1u << 24) - 0.5) * 1e-3;
    const double u = input + w;
    const int bit = u + dither >= 0.0 ? 1 : 0;
    const double e = (bit ? 1.0 : -1.0) - u;
    for (int k = 3; k > 0; --k) {
        error_[k] = error_[k - 1];
        feedback_[k] = feedback_[k - 1];
    }
    error_[0] = e;
    feedback_[0] = w;
    if (std::fabs(w) > 32.0) { // unstable: overloaded, start again
        for (int k = 0; k < 4; ++k)
            error_[k] = feedback_[k] = 0.0;
        ++stats.overloads;
    }
    return bit;
}

std::vector<uint8_t> renderPdm(const Scene& scene, unsigned clock_khz, PdmStats& stats)
{
    if (clock_khz == 0 || clock_khz % 64 != 0)
        return {};
    std::vector<double> mic[2];
    renderMicrophones(scene, kRenderRate, mic[0], mic[1]);
    const size_t bits_per_sample = clock_khz / 64; // PDM bits per 64 kHz sample
    const size_t samples = mic[0].size();
    const size_t bytes = samples * bits_per_sample / 8;
    std::vector<uint8_t> out(2 * bytes, 0);
    for (int m = 0; m < 2; ++m) {
        SigmaDelta modulator(scene.seed * 31u + uint32_t(m) + 1u);
        SigmaDelta4 modulator4(scene.seed * 31u + uint32_t(m) + 1u);
        const bool fourth = scene.modulator_order == 4;
        const std::vector<double>& x = mic[m];
        for (size_t b = 0; b < bytes * 8; ++b) {
            // Linear interpolation from 64 kHz to the PDM clock.
            const size_t n = b / bits_per_sample;
            const double frac = double(b % bits_per_sample) / double(bits_per_sample);
            const double next = n + 1 < samples ? x[n + 1] : x[n];
            const double in = x[n] + (next - x[n]) * frac;
            const int bit = fourth ? modulator4.step(in, stats) : modulator.step(in, stats);
            uint8_t& byte = out[2 * (b / 8) + size_t(m)];
            byte = uint8_t((byte << 1) | bit);
        }
    }
    return out;
}

std::vector<int16_t> renderPcm16k(const Scene& scene)
{
    std::vector<double> mic1, mic2;
    renderMicrophones(scene, kSourceRate, mic1, mic2);
    std::vector<int16_t> out(2 * mic1.size());
    auto to16 = [](double v) {
        return int16_t(std::lround(std::max(-32768.0, std::min(32767.0, v * 32768.0))));
    };
    for (size_t i = 0; i < mic1.size(); ++i) {
        out[2 * i] = to16(mic1[i]);
        out[2 * i + 1] = to16(mic2[i]);
    }
    return out;
}

} // namespace pdmscene
