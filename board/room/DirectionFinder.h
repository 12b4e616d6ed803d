// Direction of arrival from the board's four microphones by steered
// response power with phase-transform weighting: every pair's cross-spectrum
// is whitened, smoothed over the frames that carry sound, and steered over
// a one-degree grid; the direction is the grid angle where the pairs agree
// best.
//
// Frames count as sound when their level exceeds the tracked background by
// threshold / 4 dB (the panel's default 24 asks for 6 dB); without such a
// frame for a while the finder reports no source. The reported angle is
// rounded to the panel's resolution.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "RoomAcoustics.h"

struct FftTable;

class DirectionFinder
{
  public:
    static constexpr int FRAME = 256;      // samples per analysis frame (16 ms)
    static constexpr int HOLD_FRAMES = 12; // frames a direction outlives the sound

    explicit DirectionFinder(const MicGeometry& geometry);

    // Adds 16 samples of each microphone.
    void Push(const int16_t samples[ROOM_MICS][SAMPLES_PER_MS], int threshold);

    // Degrees 0..359 rounded to resolution, or -100 while nobody talks.
    int16_t Angle(int resolution) const;
    // Unrounded estimate of the last sounding frame (for tests), -1 before any.
    double RawAngle() const { return Sounding() ? bestAngle : -1.0; }

  private:
    void AnalyseFrame(int threshold);

    static constexpr int FIRST_BIN = 5;  // 312 Hz
    static constexpr int LAST_BIN = 112; // 7 kHz
    static constexpr int BINS = LAST_BIN - FIRST_BIN + 1;
    static constexpr int PAIRS = 6;
    static constexpr int ANGLES = 360;

    std::shared_ptr<FftTable> table; // the libraries' real FFT
    float window[FRAME];
    std::vector<float> frame[ROOM_MICS];
    std::vector<float> steering; // [angle][pair][bin] cos and sin of the pair's phase
    std::vector<float> cross;    // [pair][bin] smoothed whitened cross-spectra, re/im
    int pairA[PAIRS], pairB[PAIRS];
    int filled = 0;
    double background = -1.0; // tracked frame power of the quiet room
    // A direction needs two sounding frames in a row and outlives the sound
    // by HOLD_FRAMES frames.
    bool Sounding() const { return quietFrames < HOLD_FRAMES && soundFrames >= 2; }
    int quietFrames = HOLD_FRAMES; // frames since the last sounding one
    int soundFrames = 0;           // sounding frames since the last silence
    double bestAngle = 0.0;
};

// Ambient level in dB SPL from one microphone: the mean power of the
// quietest fifth of the 16 ms frames of the last three seconds, so that a
// talker's words do not count as noise while the pauses between them do.
// Reliable from about 35 dB SPL up (the microphone's own floor lies near 38).
class NoiseMeter
{
  public:
    // Adds 16 samples taken with the analysis decimators' gain.
    void Push(const int16_t samples[SAMPLES_PER_MS]);
    double LevelDbSpl() const { return level; }

  private:
    static constexpr int FRAME = 256;
    static constexpr double OWN_FLOOR_READING_DB = 38.0; // reading in a silent room
    static constexpr double READING_LOSS_DB = 4.0;       // reading below the true level
    static constexpr size_t FRAMES_KEPT = 188;           // three seconds
    std::vector<double> powers;                          // ring of frame powers, full scale 1
    size_t next = 0;
    double energy = 0.0;
    int filled = 0;
    double level = 0.0;
};
