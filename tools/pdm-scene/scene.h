// Acoustic scene of a two-microphone end-fire array in a free field, and the
// PDM bit streams that two digital microphones would deliver for it.
//
// Geometry: the microphones lie on one axis, the spacing apart; the first
// microphone is on the front side. A source at azimuth 0 degrees is in front
// (its sound reaches the first microphone first), at 180 degrees behind.
// Sources are far away (plane waves). Full scale 1.0 is the modulator's
// largest input: a PDM density of all ones.
#ifndef HALVANE_PDM_SCENE_H
#define HALVANE_PDM_SCENE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pdmscene
{

constexpr double kSourceRate = 16000.0; // rate of every source signal
constexpr double kRenderRate = 64000.0; // microphone signals before the PDM rate

enum class SourceKind { Tone, Noise, Signal };

struct Source {
    SourceKind kind = SourceKind::Tone;
    double azimuth_deg = 0.0; // 0 = front, 180 = rear
    double level_db = -20.0;  // dB full scale: tone peak, noise RMS, signal gain
    // A moving source goes from azimuth_deg to end_azimuth_deg at constant
    // angular speed over the scene; not moving when both are equal.
    double end_azimuth_deg = -1.0; // below 0: same as azimuth_deg
    bool inverted = false;         // opposite sign (phase-inversion measurements)
    double frequency_hz = 1000.0;  // Tone
    uint32_t seed = 1;             // Noise: its own white noise, band-limited
    std::vector<float> signal;     // Signal: samples at kSourceRate, full scale 1
};

struct Scene {
    double spacing_mm = 15.0;
    double speed_of_sound = 343.0; // m/s
    double duration_s = 1.0;
    double mic_noise_db = -300.0;     // self-noise RMS of each microphone
    uint32_t seed = 7;                // microphone self-noise and dither
    double mic2_sensitivity_db = 0.0; // second microphone's sensitivity against the first
    int modulator_order = 2;          // sigma-delta order: 2 or 4
    std::vector<Source> sources;
};

struct PdmStats {
    double peak_input = 0.0; // largest modulator input magnitude
    uint64_t overloads = 0;  // modulator resets after overload
};

// Adds `count` uncorrelated noise sources whose directions have a uniform
// cosine (a diffuse field as the array's axis sees it) and a total RMS of
// level_db.
void addDiffuseNoise(Scene& scene, double level_db, int count, uint32_t seed);

// Speech-like test signal at kSourceRate, RMS of the voiced parts about
// -20 dB full scale: a gliding voice pitch through changing vowel
// resonances, in syllables with pauses, and a few noise bursts.
std::vector<float> speechLikeSignal(double duration_s, uint32_t seed);

// Source samples beyond the scene's end that its rendering may read: the
// largest microphone delay (1000 mm spacing) plus the interpolation reach.
constexpr size_t kSourceTail = 128;

// Input frames of a signal at `rate` that the first
// duration_s x kSourceRate + kSourceTail resampled samples depend on.
size_t inputFramesFor(double duration_s, double rate);

// Brings a signal of another rate to kSourceRate (band-limited), at most
// max_count samples of it.
std::vector<float> resampleToSourceRate(const std::vector<float>& in, double rate,
                                        size_t max_count = SIZE_MAX);

// Delay of each microphone (seconds, relative to the array centre) for a
// plane wave from the azimuth.
void microphoneDelays(const Scene& scene, double azimuth_deg, double& mic1_s, double& mic2_s);

// Sound pressure at the two microphones, `rate` an integer multiple of
// kSourceRate, duration_s long.
void renderMicrophones(const Scene& scene, double rate, std::vector<double>& mic1,
                       std::vector<double>& mic2);

// Second-order sigma-delta modulator, one bit per call (1 = +1, 0 = -1).
class SigmaDelta
{
  public:
    explicit SigmaDelta(uint32_t seed) : seed_(seed) {}
    int step(double input, PdmStats& stats);

  private:
    double integrator1_ = 0.0;
    double integrator2_ = 0.0;
    double feedback_ = 0.0;
    uint32_t seed_;
};

// Fourth-order sigma-delta modulator in error-feedback form, as in MEMS
// microphones: quantisation noise shaped by (1 - z^-1)^4 / A(z), A the
// fourth-order Butterworth high-pass that bounds the noise gain to 1.5.
// Stable up to about -4 dB full scale.
class SigmaDelta4
{
  public:
    explicit SigmaDelta4(uint32_t seed) : seed_(seed) {}
    int step(double input, PdmStats& stats);

  private:
    double error_[4] = {};    // e[n-1] .. e[n-4]
    double feedback_[4] = {}; // w[n-1] .. w[n-4]
    uint32_t seed_;
};

// The PDM streams at clock_khz (a multiple of 64), interleaved byte by byte,
// first microphone first, most significant bit earliest.
std::vector<uint8_t> renderPdm(const Scene& scene, unsigned clock_khz, PdmStats& stats);

// The microphone signals at 16 kHz as signed 16-bit samples, interleaved
// (first microphone in channel 0).
std::vector<int16_t> renderPcm16k(const Scene& scene);

} // namespace pdmscene

#endif
