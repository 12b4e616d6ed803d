// The emulated board running the real kit: the simulated room feeds the
// firmware loop, whose microphone signals give the source direction and the
// noise level and whose output is recognised, recorded and played. Runs in
// a thread of its own, in real time or as fast as it can; the protocol side
// hands it the panel's settings and reads its measurements.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "AudioSink.h"
#include "CommandRecogniser.h"
#include "DirectionFinder.h"
#include "FeatureParameterBlock.h"
#include "FirmwareLoop.h"
#include "RoomAcoustics.h"

struct RoomBoardOptions {
    RoomSettings room;
    bool fast = false;       // as fast as possible instead of real time
    std::string audioOut;    // WAV file of the stream to the PC
    bool play = false;       // live playback
    bool recognition = true; // pocketsphinx on the output while ASR runs
    bool verbose = false;    // each recognised command to stderr
};

struct RoomReadings {
    int16_t angle = -100;   // reported direction (resolution applied), -100 none
    int16_t noiseLevel = 0; // dB SPL
    int16_t asrCommand = 0;
    double talkerAngle = 0.0; // truth, for tests and logs
    double seconds = 0.0;     // simulated time
};

// Processor time per second of audio, in percent, of each part.
struct RoomCost {
    double audioSeconds = 0.0;
    double room = 0.0;         // the simulation (not part of the board)
    double chains = 0.0;       // beamforming or echo cancellation, decimators
    double localisation = 0.0; // direction finder and noise meter
    double recognition = 0.0;
    double worstLagMs = 0.0; // real time: longest wait of a due millisecond
    double Firmware() const { return chains + localisation + recognition; }
};

// One line: the firmware loop's share of real time and its parts.
std::string CostText(const RoomCost& cost);

class RoomBoard
{
  public:
    explicit RoomBoard(const RoomBoardOptions& options);
    ~RoomBoard();
    RoomBoard(const RoomBoard&) = delete;
    RoomBoard& operator=(const RoomBoard&) = delete;

    // Synthesises the speech, opens the outputs, starts the recogniser.
    // false with a reason when the room cannot run; notes (e.g. no sound
    // device) go to notes.
    bool Prepare(std::string& error, std::string& notes);
    // Runs in its own thread until Stop.
    void Start();
    void Stop();
    // Runs n milliseconds in the caller's thread (tests).
    void RunMilliseconds(unsigned n);

    // The panel's settings; cheap when nothing changed.
    void Apply(const FeatureParameterBlock& block);
    // Writes angle, noiseLevel and asrCommand as far as the running
    // features call for them.
    void Measure(FeatureParameterBlock& block) const;
    RoomReadings Readings() const;
    RoomCost Cost() const;
    // Waits until the recogniser has caught up with the audio (tests).
    void WaitForRecogniser();

  private:
    void Tick();
    void Loop();

    RoomBoardOptions options;
    std::unique_ptr<RoomAcoustics> room;
    FirmwareLoop firmware;
    DirectionFinder finder;
    NoiseMeter noise;
    CommandRecogniser recogniser;
    bool recogniserRunning = false;
    AudioSink sink;

    mutable std::mutex lock; // guards the fields below
    FeatureParameterBlock settings{};
    bool settingsChanged = false;
    RoomReadings readings;
    RoomCost cost;

    FeatureParameterBlock active{}; // the loop's copy
    double loudspeakerGain = 1.0;
    unsigned heardSeen = 0;
    double commandUntil = 0.0;
    int16_t command = 0;
    std::thread worker;
    std::atomic<bool> stopping{false};
};
