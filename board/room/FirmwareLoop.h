// The board's firmware loop: every millisecond it hands the microphones'
// PDM bytes to the beamforming library and the microphone and loudspeaker
// samples to the echo-cancellation library, exactly in the calling sequence
// their headers document, and runs each library's second step as soon as
// its first step reports a complete block (the emulation's stand-in for the
// worker the first step signals). The panel's settings choose what runs.
//
// Besides the selected chain, four single-microphone decimators (the
// beamforming library with its first-microphone output) give every
// microphone as 16 kHz PCM for localisation and the noise meter.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "FeatureParameterBlock.h"
#include "ostrel.h"
#include "RoomAcoustics.h"
#include "veldra.h"

// Gain of the analysis decimators: keeps quiet rooms well above the 16-bit
// floor while 90 dB SPL still fits.
constexpr int ANALYSIS_GAIN_DB = 24;

enum class OutputMode { Beam, EchoCancelled, Streaming };

class FirmwareLoop
{
  public:
    FirmwareLoop(BoardKind kind, unsigned pdmClockKhz);

    // Takes the settings of block; chains whose settings changed are set up
    // again (Init, then setConfig).
    void Configure(const FeatureParameterBlock& block);

    // One millisecond. out receives 16 stereo frames of what the board
    // streams (channel 0 the beam or echo-cancelled signal and channel 1 the
    // first microphone of the chain, or the raw pair while streaming);
    // analysis[m] the 16 samples of microphone M(m+1).
    void Tick(const std::array<std::vector<uint8_t>, ROOM_MICS>& pdm,
              const int16_t reference[SAMPLES_PER_MS], int16_t out[2 * SAMPLES_PER_MS],
              int16_t analysis[ROOM_MICS][SAMPLES_PER_MS]);

    OutputMode Mode() const { return mode; }
    // Microphones (0-based) of the chain: front and rear of the beam, the
    // echo-cancelled microphone, or the streamed pair.
    int FirstMic() const { return micA; }
    int SecondMic() const { return micB; }
    double StreamGainDb() const { return streamGainDb; }

  private:
    struct Beamformer {
        VeldraHandle handle{};
        std::vector<uint32_t> memory;
        void Start(unsigned clockKhz, unsigned type, uint16_t distance, uint8_t volume);
    };
    struct EchoCanceller {
        OstrelHandle handle{};
        std::vector<uint32_t> memory;
        void Start(const OstrelConfig& config);
    };

    // Two microphones' PDM bytes interleaved into pair.
    void Interleave(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second);

    std::vector<uint8_t> pair;
    // Milliseconds of output still held at zero after a start, while the
    // decimation filters settle (their first samples are a loud step).
    int beamSettleMs = 0, analysisSettleMs = 0;
    BoardKind kind;
    unsigned clockKhz;
    MicGeometry geometry;
    std::array<Beamformer, ROOM_MICS> decimators;
    Beamformer beam;
    EchoCanceller echo;
    OutputMode mode = OutputMode::Streaming; // needs no set-up before the first Configure
    int micA = 0, micB = 1;
    unsigned beamType = 0;
    uint8_t beamVolume = 0;
    double streamGainDb = 0.0;
    bool beamStarted = false, echoStarted = false;
    OstrelConfig echoConfig{};
};
