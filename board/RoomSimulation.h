// Live values of the emulated board that move like a real room: a talker
// who walks around the board and pauses, ambient noise drifting between 40
// and 60 dB SPL, a voice command now and then, and gesture-driven volume and
// beam direction.
#pragma once

#include <cstdint>

#include "FeatureParameterBlock.h"

class RoomSimulation
{
  public:
    explicit RoomSimulation(uint32_t seed = 0x2545F491u);

    // Advances the room to time now (seconds, monotonic) and writes the live
    // fields of block: angle, noiseLevel, asrCommand, currentVolume and
    // beamDirection, each as far as the running features and gesture
    // switches call for it.
    void Advance(double now, FeatureParameterBlock& block);

    // Voice command codes the board recognises.
    static constexpr int16_t KNOWN_COMMANDS[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 25};

  private:
    double Uniform(double low, double high);
    void StepTalker(double now, double dt);
    void StepNoise(double dt);
    void StepCommands(double now, bool recognising);
    void StepGestures(double now, FeatureParameterBlock& block);
    int16_t ReportedAngle(const FeatureParameterBlock& block) const;

    uint32_t random;
    double lastTime = -1.0;

    bool talking = false;
    double talkerAngle;       // degrees, 0..360
    double talkerSpeed = 0.0; // degrees per second, signed
    double talkerUntil = 0.0; // end of the current talk or pause

    double noise = 50.0; // dB SPL
    double noiseTrend = 0.0;

    int16_t command = 0;
    double commandUntil = 0.0; // when the shown command goes back to 0
    double nextCommand = 0.0;

    double nextVolumeGesture = 0.0;
    double nextBeamGesture = 0.0;
};
