// The emulated board's side of the protocol: its parameter block, name and
// small registers, and the answer to each request addressed to it.
#pragma once

#include <cstdint>
#include <string>

#include "FeatureParameterBlock.h"
#include "LinkMessage.h"
#include "RoomSimulation.h"

class RoomBoard;

class DemoBoard
{
  public:
    DemoBoard(const std::string& name, uint16_t availableFeatures, uint16_t enabledFeatures);

    // Moves the live values on to time now (seconds, monotonic).
    void Advance(double now);

    // Answers one verified request. Returns false when the board stays
    // silent: another destination, command 15, an unknown code or a payload
    // that does not fit the command.
    bool Answer(const LinkMessage& request, LinkMessage& answer);

    const FeatureParameterBlock& Block() const { return block; }

    // Lets the real kit in a simulated room measure the source direction,
    // the noise level and the speech commands, and hands it every setting
    // from now on. Gestures stay simulated.
    void AttachRoom(RoomBoard* liveRoom);

  private:
    bool Respond(uint8_t code, const uint8_t* payload, size_t length, LinkMessage& answer);
    bool SetParameters(const uint8_t* payload, size_t length);

    FeatureParameterBlock block;
    std::string name;
    uint8_t byteRegister = 0;
    uint8_t sevenRegister[7] = {};
    RoomSimulation room;
    RoomBoard* live = nullptr;
    double lastTime = 0.0;
};
