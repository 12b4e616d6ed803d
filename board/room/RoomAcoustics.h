// The acoustic side of the emulated board: a room around the board's four
// microphones with a talker, an optional competing talker, diffuse noise and
// the board's own loudspeaker, rendered millisecond by millisecond into the
// PDM bit streams of four digital microphones.
//
// Angles are degrees clockwise from the board's "Direction 1" (up in the
// panel's picture). Sound levels are dB SPL; a microphone turns 94 dB SPL
// into MIC_SENSITIVITY_DBFS (full scale = a PDM density of 1).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "BoardKind.h"
#include "scene.h"

constexpr double MIC_SENSITIVITY_DBFS = -26.0;
constexpr double MIC_SELF_NOISE_DB_SPL = 29.0; // equivalent input noise, 16 kHz band
constexpr int ROOM_MICS = 4;
constexpr int SAMPLES_PER_MS = 16; // at 16 kHz

// Full-scale amplitude of a level in dB SPL.
double SplToFullScale(double splDb);

// Microphone positions (metres, x right, y up) of a board kind, and the
// square side chosen for it.
struct MicGeometry {
    double side = 0.015;
    double x[ROOM_MICS] = {};
    double y[ROOM_MICS] = {};
};
MicGeometry MicGeometryOf(BoardKind kind);

// A signal played again and again, with a silent gap between the rounds.
struct LoopedSignal {
    std::vector<float> samples; // 16 kHz
    size_t position = 0;
    float Next();
};

struct RoomSettings {
    BoardKind kind = BoardKind::Zodurev;
    unsigned pdmClockKhz = 1024;
    double talkerAngle = 0.0;
    bool talkerMoving = false;
    double talkerDb = 60.0; // active speech level at the board
    bool talker = true;
    double noiseDb = 45.0; // diffuse noise
    bool interferer = false;
    double interfererAngle = 180.0;
    double interfererDb = 60.0;
    bool farEnd = false;
    double farEndDb = 65.0;  // loudspeaker level at the board, output volume 50
    bool reflections = true; // the simple room response
    uint32_t seed = 11;
};

class RoomAcoustics
{
  public:
    // The talker's phrases follow one another with pauses; interferer and
    // far end play their signals in a loop.
    RoomAcoustics(const RoomSettings& settings, std::vector<std::vector<float>> talkerPhrases,
                  std::vector<float> interfererSpeech, std::vector<float> farEndSpeech);

    // Renders one millisecond. loudspeakerGain scales the far-end signal (the
    // board's output volume; 0 = muted). pdm[m] receives clock/8 bytes of
    // microphone M(m+1), most significant bit earliest; reference receives
    // the 16 samples the board sends to its loudspeaker.
    void RenderMillisecond(double loudspeakerGain, std::array<std::vector<uint8_t>, ROOM_MICS>& pdm,
                           int16_t reference[SAMPLES_PER_MS]);

    double Time() const { return samplesDone / 16000.0; }
    double TalkerAngle() const { return talkerAngle; }
    // True while the talker's phrase sounds, and its index into the phrases.
    bool TalkerSpeaking() const { return phraseIndex >= 0; }
    int TalkerPhrase() const { return phraseIndex >= 0 ? phraseIndex : lastPhrase; }
    const RoomSettings& Settings() const { return settings; }

  private:
    struct Path {           // one plane wave: a source's direct sound or a reflection
        int source;         // index into history
        double angleOffset; // added to the source's angle (mirror walls: see angleSign)
        double angleSign;
        double delayMs;
        double gain;
        double tapsAngle = 1e9; // angle the taps below were made for
        long whole[ROOM_MICS] = {};
        double taps[ROOM_MICS][16] = {};
    };
    struct History { // last samples of a source, 16 kHz
        std::vector<float> ring;
        size_t written = 0;
        void Push(float x);
        float At(size_t ago) const; // ago samples before the newest
    };

    float NextTalkerSample();
    void AddPath(Path& path, double angle, double mics[ROOM_MICS][SAMPLES_PER_MS]);
    void Modulate(int mic, const double* pressure16k, std::vector<uint8_t>& pdm);

    RoomSettings settings;
    MicGeometry geometry;
    std::vector<std::vector<float>> phrases;
    LoopedSignal interfererSignal, farEndSignal;
    std::vector<History> sources; // 0 talker, 1 interferer, 2 loudspeaker, 3.. noise
    std::vector<Path> paths;
    std::vector<double> noiseAngles;
    uint64_t samplesDone = 0;
    double talkerAngle;
    double talkerSpeed = 20.0; // degrees per second while moving
    int phraseIndex = -1, lastPhrase = -1;
    size_t phrasePosition = 0;
    size_t pauseLeft;
    uint64_t random;
    double talkerGain, interfererGain, farEndGain, noiseGain, selfNoiseGain;
    std::array<pdmscene::SigmaDelta, ROOM_MICS> modulators;
    pdmscene::PdmStats stats;
    std::array<std::vector<double>, ROOM_MICS> upsamplerHistory; // last 16 kHz samples per mic
    std::array<double, ROOM_MICS> lastFine{};                    // last 64 kHz sample per mic
    double upsampleTaps[4][17] = {};                             // per 64 kHz phase

    double Gaussian();
    double Uniform();
};
