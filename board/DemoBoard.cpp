#include "DemoBoard.h"

#include <cstring>

#include "RoomBoard.h"

namespace
{

// Fills the bytes the panel does not interpret with a recognisable pattern
// (each byte its block offset), so that their survival can be checked.
void FillReserved(FeatureParameterBlock& block)
{
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&block);
    for (size_t i = 0; i < sizeof block; ++i)
        bytes[i] = static_cast<uint8_t>(i);
}

} // namespace

DemoBoard::DemoBoard(const std::string& boardName, uint16_t availableFeatures,
                     uint16_t enabledFeatures)
    : name(boardName)
{
    FillReserved(block);
    block.general.availableFeatures = availableFeatures;
    block.general.enabledFeatures = enabledFeatures;
    block.general.micVolume = 32;
    block.general.micMask = 0x3;
    block.general.volumeGesture = 0;
    block.general.currentVolume = 32;
    block.sloc.angle = SLOC_NO_SOURCE;
    block.sloc.resolution = 4;
    block.sloc.threshold = 24;
    block.beam.beamType = 1;
    block.beam.beamDirection = 1;
    block.beam.beamGesture = 0;
    block.aec.agcLevel = 2000;
    block.aec.denoiser = 1;
    block.dbnoise.noiseLevel = 50;
    block.dbnoise.noiseOffset = 0;
    block.asr.asrCommand = 0;
    block.output.outputSource = 2;
    block.output.outputVolume = 50;
}

void DemoBoard::AttachRoom(RoomBoard* liveRoom)
{
    live = liveRoom;
    if (live)
        live->Apply(block);
}

void DemoBoard::Advance(double now)
{
    lastTime = now;
    room.Advance(now, block);
    if (live) {
        live->Apply(block); // gestures may have moved the volume or the beam
        live->Measure(block);
    }
}

bool DemoBoard::Answer(const LinkMessage& request, LinkMessage& answer)
{
    if (request.length < 3 || request.data[0] != BOARD_ADDRESS)
        return false;
    const uint8_t code = request.data[2];
    answer.data[0] = request.data[1];
    answer.data[1] = BOARD_ADDRESS;
    answer.data[2] = static_cast<uint8_t>(code + ANSWER_FLAG);
    answer.length = 3;
    return Respond(code, request.data + 3, request.length - 3, answer);
}

bool DemoBoard::Respond(uint8_t code, const uint8_t* payload, size_t length, LinkMessage& answer)
{
    uint8_t* out = answer.data + 3;
    switch (code) {
    case CMD_PING:
    case CMD_PLAIN:
        return true;
    case CMD_READ_BOARD_NAME:
        std::memcpy(out, name.data(), name.size());
        answer.length += static_cast<uint32_t>(name.size());
        return true;
    case CMD_WRITE_BYTE:
        if (length != 1)
            return false;
        byteRegister = payload[0];
        return true;
    case CMD_WRITE_SEVEN:
        if (length != sizeof sevenRegister)
            return false;
        std::memcpy(sevenRegister, payload, sizeof sevenRegister);
        return true;
    case CMD_READ_SEVEN:
        std::memcpy(out, sevenRegister, sizeof sevenRegister);
        answer.length += sizeof sevenRegister;
        return true;
    case CMD_SET_PARAMETERS:
        return SetParameters(payload, length);
    case CMD_GET_PARAMETERS:
        if (length != 1)
            return false;
        out[0] = payload[0];
        answer.length += 1 + static_cast<uint32_t>(PackParameterSections(
                                 block, payload[0], out + 1, LINK_MESSAGE_CAPACITY - 5));
        return true;
    default: // CMD_NO_ANSWER and codes the board does not know
        return false;
    }
}

// Takes the sections as written; only the features on offer stay the
// board's own. The live values move on from what was written.
bool DemoBoard::SetParameters(const uint8_t* payload, size_t length)
{
    if (length < 1)
        return false;
    const unsigned mask = payload[0];
    if (length != 1 + ParameterSectionsSize(mask))
        return false;
    const uint16_t available = block.general.availableFeatures;
    UnpackParameterSections(payload + 1, length - 1, mask, block);
    block.general.availableFeatures = available;
    Advance(lastTime);
    return true;
}
