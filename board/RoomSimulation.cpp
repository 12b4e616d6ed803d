#include "RoomSimulation.h"

#include <cmath>

constexpr int16_t RoomSimulation::KNOWN_COMMANDS[];

namespace
{
constexpr double NOISE_MEAN = 50.0;
constexpr double NOISE_LOW = 40.0;
constexpr double NOISE_HIGH = 60.0;
constexpr unsigned VOLUME_MAX = 128;
constexpr unsigned VOLUME_STEP = 4;
constexpr uint8_t BEAM_DIRECTIONS = 8;
} // namespace

RoomSimulation::RoomSimulation(uint32_t seed) : random(seed ? seed : 1u)
{
    talkerAngle = Uniform(0.0, 360.0);
}

double RoomSimulation::Uniform(double low, double high)
{
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    return low + (high - low) * (random / 4294967296.0);
}

void RoomSimulation::Advance(double now, FeatureParameterBlock& block)
{
    if (lastTime < 0.0) {
        lastTime = now;
        talkerUntil = now + Uniform(0.5, 1.5);
        nextCommand = now + Uniform(3.0, 6.0);
        nextVolumeGesture = now + Uniform(1.0, 2.0);
        nextBeamGesture = now + Uniform(1.5, 3.0);
    }
    const double dt = now > lastTime ? now - lastTime : 0.0;
    lastTime = now;

    StepTalker(now, dt);
    StepNoise(dt);
    StepCommands(now, (block.general.enabledFeatures & FEATURE_ASR) != 0);
    StepGestures(now, block);

    block.sloc.angle = ReportedAngle(block);
    block.dbnoise.noiseLevel = static_cast<int16_t>(std::lround(noise));
    block.asr.asrCommand = command;
}

// The talker speaks for a few seconds while walking round the board, then
// pauses; each talk starts near where the last one ended.
void RoomSimulation::StepTalker(double now, double dt)
{
    if (now >= talkerUntil) {
        talking = !talking;
        if (talking) {
            talkerSpeed = Uniform(15.0, 60.0) * (Uniform(0.0, 1.0) < 0.5 ? -1.0 : 1.0);
            talkerAngle += Uniform(-20.0, 20.0);
            talkerUntil = now + Uniform(2.0, 6.0);
        } else {
            talkerUntil = now + Uniform(1.0, 3.0);
        }
    }
    if (!talking)
        return;
    talkerSpeed += Uniform(-30.0, 30.0) * dt;
    if (talkerSpeed > 80.0)
        talkerSpeed = 80.0;
    if (talkerSpeed < -80.0)
        talkerSpeed = -80.0;
    talkerAngle = std::fmod(talkerAngle + talkerSpeed * dt, 360.0);
    if (talkerAngle < 0.0)
        talkerAngle += 360.0;
}

// A slow random drift pulled back towards the mean and kept in range.
void RoomSimulation::StepNoise(double dt)
{
    noiseTrend += Uniform(-1.0, 1.0) * dt * 4.0 - noiseTrend * dt * 0.5;
    noise += (noiseTrend + (NOISE_MEAN - noise) * 0.05) * dt + Uniform(-0.3, 0.3);
    if (noise < NOISE_LOW)
        noise = NOISE_LOW;
    if (noise > NOISE_HIGH)
        noise = NOISE_HIGH;
}

// Every few seconds a command is heard and shown for a while, then 0.
void RoomSimulation::StepCommands(double now, bool recognising)
{
    if (command != 0 && now >= commandUntil)
        command = 0;
    if (now < nextCommand)
        return;
    nextCommand = now + Uniform(4.0, 10.0);
    if (!recognising)
        return;
    const unsigned count = sizeof KNOWN_COMMANDS / sizeof KNOWN_COMMANDS[0];
    unsigned index = static_cast<unsigned>(Uniform(0.0, count));
    if (index >= count)
        index = count - 1;
    command = KNOWN_COMMANDS[index];
    commandUntil = now + 3.0;
}

// With gesture control on, a hand over the board changes the streaming
// volume or steers the beam now and then; with it off the volume in force
// is the one set.
void RoomSimulation::StepGestures(double now, FeatureParameterBlock& block)
{
    GeneralSection& general = block.general;
    if (general.volumeGesture == 0) {
        general.currentVolume = general.micVolume;
    } else if (now >= nextVolumeGesture) {
        nextVolumeGesture = now + Uniform(1.0, 3.0);
        uint32_t volume = general.currentVolume > VOLUME_MAX ? VOLUME_MAX : general.currentVolume;
        const bool up =
            volume < VOLUME_STEP || (volume + VOLUME_STEP <= VOLUME_MAX && Uniform(0.0, 1.0) < 0.5);
        volume = up ? volume + VOLUME_STEP : volume - VOLUME_STEP;
        general.currentVolume = volume;
    }
    BeamSection& beam = block.beam;
    if (beam.beamGesture != 0 && now >= nextBeamGesture) {
        nextBeamGesture = now + Uniform(2.0, 4.0);
        int direction = beam.beamDirection >= 1 && beam.beamDirection <= BEAM_DIRECTIONS
                            ? beam.beamDirection
                            : 1;
        direction += Uniform(0.0, 1.0) < 0.5 ? -1 : 1;
        if (direction < 1)
            direction = BEAM_DIRECTIONS;
        if (direction > BEAM_DIRECTIONS)
            direction = 1;
        beam.beamDirection = static_cast<uint8_t>(direction);
    }
}

// The talker's direction rounded to the set resolution, or no source while
// silent or while localisation is off.
int16_t RoomSimulation::ReportedAngle(const FeatureParameterBlock& block) const
{
    if (!talking || !(block.general.enabledFeatures & FEATURE_SLOC))
        return SLOC_NO_SOURCE;
    const int step = block.sloc.resolution > 0 ? block.sloc.resolution : 1;
    int angle = static_cast<int>(std::lround(talkerAngle / step)) * step;
    return static_cast<int16_t>(angle % 360);
}
