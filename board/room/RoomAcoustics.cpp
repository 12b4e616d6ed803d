#include "RoomAcoustics.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr double PI = 3.14159265358979323846;
constexpr double SPEED_OF_SOUND = 343.0;
constexpr int HALF_TAPS = 8;           // fractional-delay and interpolation kernel half-width
constexpr double KERNEL_CUTOFF = 0.45; // band edge as a share of 16 kHz (7.2 kHz)
constexpr double BASE_DELAY = 10.0;    // samples every path is late, so the kernel stays causal
constexpr size_t HISTORY = 512;        // samples kept per source: longest path plus kernel
constexpr int NOISE_SOURCES = 12;
constexpr int UPSAMPLE = 4; // 16 kHz to 64 kHz before the PDM clock

// Windowed-sinc low-pass kernel in 16 kHz samples, band edge KERNEL_CUTOFF.
double Kernel(double u)
{
    if (std::fabs(u) >= HALF_TAPS)
        return 0.0;
    const double a = 2.0 * KERNEL_CUTOFF;
    const double x = PI * a * u;
    const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
    const double phase = PI * (u + HALF_TAPS) / HALF_TAPS;
    const double blackman = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
    return a * sinc * blackman;
}

// Simple room response of a talker: direct sound, then a table bounce from
// the same side, a side wall and the wall behind, later and weaker.
struct Reflection {
    double angleOffset, angleSign, delayMs, gain;
};
const Reflection TALKER_PATHS[] = {
    {0.0, 1.0, 0.0, 1.0}, {0.0, 1.0, 2.5, 0.5}, {70.0, -1.0, 8.0, 0.2}, {180.0, 1.0, 13.0, 0.15}};
// The loudspeaker sits on the board below the microphones; the room returns
// its sound from three walls.
const Reflection LOUDSPEAKER_PATHS[] = {{180.0, 1.0, 0.1, 1.0},
                                        {30.0, 1.0, 4.0, 0.45},
                                        {250.0, 1.0, 7.5, 0.3},
                                        {110.0, 1.0, 13.0, 0.2}};

} // namespace

double SplToFullScale(double splDb)
{
    return std::pow(10.0, (splDb - 94.0 + MIC_SENSITIVITY_DBFS) / 20.0);
}

// Four microphones on the corners of a square; the marker table places
// M1..M4 (marker 0 upper left, 1 upper right, 2 lower left, 3 lower right).
// The square's diagonal is the longest pair the beamformer accepts (21.2 mm
// on Zodurev).
MicGeometry MicGeometryOf(BoardKind kind)
{
    MicGeometry g;
    g.side = kind == BoardKind::Marrowin ? 0.012 : kind == BoardKind::U4 ? 0.010 : 0.015;
    const uint8_t* markers = micMarkersOf(kind == BoardKind::Unknown ? BoardKind::Zodurev : kind);
    for (int m = 0; m < ROOM_MICS; ++m) {
        const int marker = markers[m] & 3;
        g.x[m] = (marker & 1 ? 0.5 : -0.5) * g.side;
        g.y[m] = (marker & 2 ? -0.5 : 0.5) * g.side;
    }
    return g;
}

float LoopedSignal::Next()
{
    if (samples.empty())
        return 0.0f;
    const size_t gap = 8000; // half a second between rounds
    const float x = position < samples.size() ? samples[position] : 0.0f;
    position = (position + 1) % (samples.size() + gap);
    return x;
}

void RoomAcoustics::History::Push(float x)
{
    ring[written % ring.size()] = x;
    ++written;
}

float RoomAcoustics::History::At(size_t ago) const
{
    if (ago >= written || ago >= ring.size())
        return 0.0f;
    return ring[(written - 1 - ago) % ring.size()];
}

RoomAcoustics::RoomAcoustics(const RoomSettings& roomSettings,
                             std::vector<std::vector<float>> talkerPhrases,
                             std::vector<float> interfererSpeech, std::vector<float> farEndSpeech)
    : settings(roomSettings), geometry(MicGeometryOf(roomSettings.kind)),
      phrases(std::move(talkerPhrases)), talkerAngle(roomSettings.talkerAngle), pauseLeft(8000),
      random(roomSettings.seed * 2654435761ull + 1),
      modulators{pdmscene::SigmaDelta(roomSettings.seed * 31 + 1),
                 pdmscene::SigmaDelta(roomSettings.seed * 31 + 2),
                 pdmscene::SigmaDelta(roomSettings.seed * 31 + 3),
                 pdmscene::SigmaDelta(roomSettings.seed * 31 + 4)}
{
    interfererSignal.samples = std::move(interfererSpeech);
    farEndSignal.samples = std::move(farEndSpeech);
    sources.assign(3 + NOISE_SOURCES, History{std::vector<float>(HISTORY, 0.0f), 0});
    const size_t reflections = settings.reflections ? 4 : 1;
    for (size_t r = 0; r < reflections; ++r) {
        const Reflection& t = TALKER_PATHS[r];
        if (settings.talker)
            paths.push_back({0, t.angleOffset, t.angleSign, t.delayMs, t.gain});
        if (settings.interferer)
            paths.push_back({1, t.angleOffset, t.angleSign, t.delayMs, t.gain});
        const Reflection& l = LOUDSPEAKER_PATHS[r];
        if (settings.farEnd)
            paths.push_back({2, l.angleOffset, l.angleSign, l.delayMs, l.gain});
    }
    // Diffuse noise: independent sources spread evenly round the board.
    for (int i = 0; i < NOISE_SOURCES; ++i) {
        noiseAngles.push_back((i + 0.5) * 360.0 / NOISE_SOURCES + 10.0 * (Uniform() - 0.5));
        paths.push_back({3 + i, 0.0, 1.0, 0.0, 1.0});
    }
    talkerGain = SplToFullScale(settings.talkerDb);
    interfererGain = SplToFullScale(settings.interfererDb);
    farEndGain = SplToFullScale(settings.farEndDb);
    // The kernel keeps 0.9 of white noise's power; make up for it.
    noiseGain = SplToFullScale(settings.noiseDb) / std::sqrt(NOISE_SOURCES * 2.0 * KERNEL_CUTOFF);
    selfNoiseGain = SplToFullScale(MIC_SELF_NOISE_DB_SPL);
    for (auto& h : upsamplerHistory)
        h.assign(2 * HALF_TAPS + 1, 0.0);
    for (int p = 0; p < UPSAMPLE; ++p) {
        const double at = HALF_TAPS + double(p) / UPSAMPLE; // HALF_TAPS samples late
        for (int k = 0; k <= 2 * HALF_TAPS; ++k)
            upsampleTaps[p][k] = Kernel(at - double(k));
    }
}

double RoomAcoustics::Uniform()
{
    random = random * 6364136223846793005ull + 1442695040888963407ull;
    return (double((random >> 11) & ((1ull << 53) - 1)) + 0.5) / double(1ull << 53);
}

double RoomAcoustics::Gaussian()
{
    return std::sqrt(-2.0 * std::log(Uniform())) * std::cos(2.0 * PI * Uniform());
}

// Phrases one after another, 1.2 to 2.2 seconds apart.
float RoomAcoustics::NextTalkerSample()
{
    if (phrases.empty())
        return 0.0f;
    if (phraseIndex < 0) {
        if (pauseLeft > 0) {
            --pauseLeft;
            return 0.0f;
        }
        phraseIndex = (lastPhrase + 1) % static_cast<int>(phrases.size());
        phrasePosition = 0;
    }
    const std::vector<float>& phrase = phrases[static_cast<size_t>(phraseIndex)];
    const float x = phrasePosition < phrase.size() ? phrase[phrasePosition] : 0.0f;
    if (++phrasePosition >= phrase.size()) {
        lastPhrase = phraseIndex;
        phraseIndex = -1;
        pauseLeft = static_cast<size_t>(16000.0 * (1.2 + Uniform()));
    }
    return x;
}

void RoomAcoustics::AddPath(Path& path, double angle, double mics[ROOM_MICS][SAMPLES_PER_MS])
{
    if (angle != path.tapsAngle) {
        path.tapsAngle = angle;
        const double radians = (path.angleSign * angle + path.angleOffset) * PI / 180.0;
        const double ux = std::sin(radians), uy = std::cos(radians);
        for (int m = 0; m < ROOM_MICS; ++m) {
            // A microphone nearer the source hears the wave earlier.
            const double lead =
                (geometry.x[m] * ux + geometry.y[m] * uy) / SPEED_OF_SOUND * 16000.0;
            const double delay = BASE_DELAY + path.delayMs * 16.0 - lead;
            path.whole[m] = static_cast<long>(std::floor(delay));
            const double frac = delay - static_cast<double>(path.whole[m]);
            for (int k = 0; k < 2 * HALF_TAPS; ++k)
                path.taps[m][k] = path.gain * Kernel(k - HALF_TAPS + 1 - frac);
        }
    }
    const History& h = sources[static_cast<size_t>(path.source)];
    for (int m = 0; m < ROOM_MICS; ++m) {
        for (int i = 0; i < SAMPLES_PER_MS; ++i) {
            // Output sample i lies (15 - i) samples before the newest input.
            const long newest = SAMPLES_PER_MS - 1 - i + path.whole[m] - HALF_TAPS + 1;
            double acc = 0.0;
            for (int k = 0; k < 2 * HALF_TAPS; ++k)
                acc += path.taps[m][k] * h.At(static_cast<size_t>(newest + k));
            mics[m][i] += acc;
        }
    }
}

// 16 kHz pressure to 64 kHz (windowed-sinc interpolation), then linearly to
// the PDM clock through the microphone's sigma-delta modulator.
void RoomAcoustics::Modulate(int mic, const double* pressure16k, std::vector<uint8_t>& pdm)
{
    std::vector<double>& h = upsamplerHistory[static_cast<size_t>(mic)];
    const unsigned bitsPerFine = settings.pdmClockKhz / 64;
    pdm.assign(settings.pdmClockKhz / 8, 0);
    size_t bit = 0;
    for (int i = 0; i < SAMPLES_PER_MS; ++i) {
        h.erase(h.begin());
        h.push_back(pressure16k[i]);
        for (int p = 0; p < UPSAMPLE; ++p) {
            // Interpolated at HALF_TAPS samples before the newest, plus p/4.
            double fine = 0.0;
            for (size_t k = 0; k < h.size(); ++k)
                fine += h[k] * upsampleTaps[p][k];
            const double previous = lastFine[static_cast<size_t>(mic)];
            for (unsigned b = 0; b < bitsPerFine; ++b, ++bit) {
                const double x = previous + (fine - previous) * (double(b) / bitsPerFine);
                const int value = modulators[static_cast<size_t>(mic)].step(x, stats);
                pdm[bit / 8] = static_cast<uint8_t>((pdm[bit / 8] << 1) | value);
            }
            lastFine[static_cast<size_t>(mic)] = fine;
        }
    }
}

void RoomAcoustics::RenderMillisecond(double loudspeakerGain,
                                      std::array<std::vector<uint8_t>, ROOM_MICS>& pdm,
                                      int16_t reference[SAMPLES_PER_MS])
{
    for (int i = 0; i < SAMPLES_PER_MS; ++i) {
        sources[0].Push(static_cast<float>(talkerGain * NextTalkerSample()));
        sources[1].Push(static_cast<float>(interfererGain * interfererSignal.Next()));
        // What the board sends to its loudspeaker: the far end at the output
        // volume, as 16-bit samples; the sound at the microphones follows it.
        const double played = loudspeakerGain * farEndSignal.Next() * 0.1;
        const double sample = std::max(-32768.0, std::min(32767.0, std::round(played * 32768.0)));
        reference[i] = static_cast<int16_t>(sample);
        sources[2].Push(static_cast<float>(farEndGain * sample / (0.1 * 32768.0)));
        for (int n = 0; n < NOISE_SOURCES; ++n)
            sources[3 + static_cast<size_t>(n)].Push(static_cast<float>(noiseGain * Gaussian()));
    }
    if (settings.talkerMoving) {
        talkerAngle = std::fmod(talkerAngle + talkerSpeed * 0.001, 360.0);
        if (talkerAngle < 0.0)
            talkerAngle += 360.0;
    }
    double mics[ROOM_MICS][SAMPLES_PER_MS] = {};
    for (Path& path : paths) {
        double angle = path.source == 0   ? talkerAngle
                       : path.source == 1 ? settings.interfererAngle
                       : path.source == 2 ? 0.0
                                          : noiseAngles[static_cast<size_t>(path.source - 3)];
        AddPath(path, angle, mics);
    }
    for (int m = 0; m < ROOM_MICS; ++m) {
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            mics[m][i] += selfNoiseGain * Gaussian();
        Modulate(m, mics[m], pdm[static_cast<size_t>(m)]);
    }
    samplesDone += SAMPLES_PER_MS;
}
