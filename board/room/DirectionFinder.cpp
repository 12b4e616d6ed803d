#include "DirectionFinder.h"

#include <algorithm>
#include <cmath>

#include "fft.h"
#include "FirmwareLoop.h"

namespace
{
constexpr double PI = 3.14159265358979323846;
constexpr double SPEED_OF_SOUND = 343.0;
constexpr double SMOOTHING = 0.93; // share of the previous cross-spectrum kept per sounding frame
} // namespace

DirectionFinder::DirectionFinder(const MicGeometry& geometry)
{
    table = std::make_shared<FftTable>();
    fft_table_init(table.get(), FRAME);
    for (int i = 0; i < FRAME; ++i)
        window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * PI * (i + 0.5) / FRAME));
    for (auto& f : frame)
        f.assign(FRAME, 0.0f);
    int p = 0;
    for (int a = 0; a < ROOM_MICS; ++a)
        for (int b = a + 1; b < ROOM_MICS; ++b, ++p) {
            pairA[p] = a;
            pairB[p] = b;
        }
    steering.resize(static_cast<size_t>(ANGLES) * PAIRS * BINS * 2);
    for (int angle = 0; angle < ANGLES; ++angle) {
        const double ux = std::sin(angle * PI / 180.0), uy = std::cos(angle * PI / 180.0);
        for (int q = 0; q < PAIRS; ++q) {
            // Arrival of microphone a minus that of b for a wave from angle.
            const double lag = -((geometry.x[pairA[q]] - geometry.x[pairB[q]]) * ux +
                                 (geometry.y[pairA[q]] - geometry.y[pairB[q]]) * uy) /
                               SPEED_OF_SOUND;
            for (int k = 0; k < BINS; ++k) {
                const double omega = 2.0 * PI * (FIRST_BIN + k) * 16000.0 / FRAME;
                float* s = &steering[((static_cast<size_t>(angle) * PAIRS + q) * BINS + k) * 2];
                s[0] = static_cast<float>(std::cos(omega * lag));
                s[1] = static_cast<float>(std::sin(omega * lag));
            }
        }
    }
    cross.assign(static_cast<size_t>(PAIRS) * BINS * 2, 0.0f);
}

void DirectionFinder::Push(const int16_t samples[ROOM_MICS][SAMPLES_PER_MS], int threshold)
{
    for (int m = 0; m < ROOM_MICS; ++m)
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            frame[m][static_cast<size_t>(filled + i)] = samples[m][i];
    filled += SAMPLES_PER_MS;
    if (filled < FRAME)
        return;
    filled = 0;
    AnalyseFrame(threshold);
}

void DirectionFinder::AnalyseFrame(int threshold)
{
    float spectra[ROOM_MICS][FRAME];
    double power = 0.0;
    for (int m = 0; m < ROOM_MICS; ++m) {
        for (int i = 0; i < FRAME; ++i)
            spectra[m][i] = frame[m][static_cast<size_t>(i)] * window[i];
        fft(table.get(), spectra[m], spectra[m]);
        for (int k = FIRST_BIN; k <= LAST_BIN; ++k)
            power += double(spectra[m][2 * k - 1]) * spectra[m][2 * k - 1] +
                     double(spectra[m][2 * k]) * spectra[m][2 * k];
    }
    if (power < 1e-6) { // digital silence (filters settling): no evidence either way
        ++quietFrames;
        return;
    }
    // The background follows quiet frames at once and loud ones slowly
    // (about 1.5 dB per second), so a talker never becomes background.
    if (background < 0.0 || power < background)
        background = power;
    else
        background *= 1.0055;
    const double needed = std::pow(10.0, std::max(threshold, 1) / 40.0);
    if (power < background * needed) {
        ++quietFrames;
        return;
    }
    // After silence the talker may have moved: the first frames of a new
    // sound are averaged afresh, then smoothed.
    soundFrames = quietFrames >= HOLD_FRAMES ? 1 : soundFrames + 1;
    quietFrames = 0;
    const double keep = std::min(SMOOTHING, 1.0 - 1.0 / soundFrames);
    for (int q = 0; q < PAIRS; ++q) {
        for (int k = 0; k < BINS; ++k) {
            const int bin = FIRST_BIN + k;
            const float ar = spectra[pairA[q]][2 * bin - 1], ai = spectra[pairA[q]][2 * bin];
            const float br = spectra[pairB[q]][2 * bin - 1], bi = spectra[pairB[q]][2 * bin];
            const float re = ar * br + ai * bi, im = ai * br - ar * bi;     // a times conj(b)
            const float norm = std::pow(re * re + im * im, 0.35f) + 1e-30f; // partial whitening
            float* c = &cross[(static_cast<size_t>(q) * BINS + k) * 2];
            c[0] = static_cast<float>(keep * c[0] + (1.0 - keep) * re / norm);
            c[1] = static_cast<float>(keep * c[1] + (1.0 - keep) * im / norm);
        }
    }
    double best = -1e30;
    for (int angle = 0; angle < ANGLES; ++angle) {
        // Re(C e^{+i w lag}) summed over pairs and bins.
        const float* s = &steering[static_cast<size_t>(angle) * PAIRS * BINS * 2];
        const float* c = cross.data();
        float sum = 0.0f;
        for (int j = 0; j < PAIRS * BINS; ++j)
            sum += c[2 * j] * s[2 * j] - c[2 * j + 1] * s[2 * j + 1];
        if (sum > best) {
            best = sum;
            bestAngle = angle;
        }
    }
}

int16_t DirectionFinder::Angle(int resolution) const
{
    if (!Sounding())
        return -100;
    const int step = std::max(resolution, 1);
    const int angle = static_cast<int>(std::lround(bestAngle / step)) * step;
    return static_cast<int16_t>(angle % 360);
}

void NoiseMeter::Push(const int16_t samples[SAMPLES_PER_MS])
{
    for (int i = 0; i < SAMPLES_PER_MS; ++i)
        energy += double(samples[i]) * samples[i];
    filled += SAMPLES_PER_MS;
    if (filled < FRAME)
        return;
    const double gain = std::pow(10.0, ANALYSIS_GAIN_DB / 20.0) * 32768.0;
    const double power = energy / FRAME / (gain * gain);
    energy = 0.0;
    filled = 0;
    if (powers.size() < FRAMES_KEPT)
        powers.push_back(power);
    else
        powers[next] = power;
    next = (next + 1) % FRAMES_KEPT;
    std::vector<double> sorted = powers;
    const size_t quietest = std::max<size_t>(1, sorted.size() / 5);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(quietest - 1),
                     sorted.end());
    double sum = 0.0;
    for (size_t i = 0; i < quietest; ++i)
        sum += sorted[i];
    // Calibrated on diffuse white noise: the microphone's own floor (self
    // noise and modulator) is taken off, and the decimation filter's band
    // edge and the quietest-fifth estimate, which read low together, are
    // made up for.
    const double reading = sum / quietest / std::pow(10.0, (MIC_SENSITIVITY_DBFS - 94.0) / 10.0);
    const double floor = std::pow(10.0, OWN_FLOOR_READING_DB / 10.0);
    const double room = std::max(reading - floor, 0.05 * reading);
    level = 10.0 * std::log10(room + 1e-30) + READING_LOSS_DB;
}
