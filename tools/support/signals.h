// Test and benchmark signals at 16 kHz: a speech-like talker, voiced bursts,
// white noise, decaying random echo paths, echo through a path, and whole
// echo scenes (microphone and reference). The quality reports' numbers rest
// on these: a change to a generator's draws changes the reports.
// (firmware/scene_generator is separate: integer arithmetic that must give the
// same bits on the Cortex-M7 as on the host.)
#ifndef HALVANE_TOOLS_SIGNALS_H
#define HALVANE_TOOLS_SIGNALS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsignals
{

constexpr int kSignalRate = 16000;

// Speech-like signal: a glottal pulse train with wandering pitch and some
// breath noise, shaped by two slowly moving formant resonators and cut into
// syllables and pauses (exact zeros). `level` is the RMS of the voiced parts.
std::vector<double> speech_like(size_t length, uint32_t seed, double level);

// Voiced bursts without randomness: harmonics of a gliding fundamental,
// 240 ms on, 200 ms off; `voiced`, when given, receives one flag a sample.
std::vector<double> speech_bursts(size_t length, double amplitude,
                                  std::vector<bool>* voiced = nullptr);

// Gaussian white noise of the given RMS.
std::vector<double> white_noise(size_t length, uint32_t seed, double rms);

// Echo path of `taps` samples: zero up to `delay`, then Gaussian taps decaying
// as exp(-(k - delay) / decay), scaled to a total gain (root of the energy)
// of `gain`.
std::vector<double> echo_path(size_t taps, uint32_t seed, size_t delay, double gain, double decay);

// Adds the echo of `far` through `path` to mic[from, to).
void add_echo(const std::vector<double>& far, const std::vector<double>& path, size_t from,
              size_t to, std::vector<double>& mic);

// x read at a fractional position by a Hann-windowed sinc of 32 taps (zero
// outside x): a far end through a drifting clock.
double read_at(const std::vector<double>& x, double position);

// Rounded to 16 bits, saturating.
int16_t to_pcm(double v);
std::vector<int16_t> to_pcm(const std::vector<double>& s);

// An echo scene: the far end (Gaussian noise in slow swells, or a talker)
// played through a loudspeaker that may saturate, with a clock that may
// drift, into a decaying random echo path after a bulk delay; the microphone
// hears that echo, near-end noise and, in a double-talk window, a talker.
struct EchoRoom {
    size_t taps = 300, delay = 0; // path length after the bulk delay
    double path_gain = 2.2;       // total gain of the path
    double path_decay = 60.0;     // tap k after the delay: exp(-k / path_decay)
    double direct = 0.0;          // > 0: the tap at the delay set to this (a direct path)
    double far_level = 3000.0;    // far-end noise RMS, or the far talker's voiced RMS
    double swell = 0.4;           // noise envelope 1 - swell + swell x sin(2 pi t / 5000)
    bool far_talker = false;      // far end speech_like instead of noise
    bool smooth = false;      // far end low-passed twice by (1 2 1) / 4: little energy near 8 kHz
    double clip = 0.0;        // > 0: the loudspeaker plays clip x tanh(far / clip)
    double drift = 0.0;       // the echo's delay grows by drift x t
    double near_level = 10.0; // near-end noise RMS
    size_t talk_from = 0, talk_to = 0; // near-end talker in [talk_from, talk_to)
    double talk_level = 1000.0;        // its voiced RMS
};

struct EchoScene {
    std::vector<int16_t> mic, ref;
    std::vector<double> near; // the near-end part of the microphone
};

EchoScene echo_scene(size_t samples, uint32_t seed, const EchoRoom& room = EchoRoom());

} // namespace testsignals

#endif
