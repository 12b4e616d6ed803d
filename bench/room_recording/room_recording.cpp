// room_recording: what the emulated board streams to the PC while the panel
// switches beamforming on. A talker in front (Direction 1) and a competing
// talker behind; for 4 s the board streams its raw microphones, then the
// beam toward the talker. Three recordings of the same run: the whole room,
// the talker alone and the competing talker alone (the plain cardioid chain
// is linear, so the last two add up to the first but for the noise).
#include <cstdio>
#include <string>

#include "RoomBoard.h"

namespace
{

bool Record(const std::string& path, bool talker, bool interferer)
{
    RoomBoardOptions options;
    options.recognition = false;
    options.room.talker = talker;
    options.room.interferer = interferer;
    options.room.interfererAngle = 180.0;
    options.room.noiseDb = talker && interferer ? 35.0 : 0.0;
    options.audioOut = path;
    RoomBoard board(options);
    std::string error, notes;
    if (!board.Prepare(error, notes)) {
        std::fprintf(stderr, "room_recording: %s\n", error.c_str());
        return false;
    }
    FeatureParameterBlock block{};
    block.general.enabledFeatures = 0; // streaming M1 + M2
    block.general.micMask = 3;
    block.general.currentVolume = 32;
    block.beam.beamDirection = 1;
    block.beam.beamType = 0;
    block.output.outputVolume = 50;
    board.Apply(block);
    board.RunMilliseconds(4000);
    block.general.enabledFeatures = FEATURE_BEAMFORMING;
    board.Apply(block);
    board.RunMilliseconds(4000);
    board.Stop();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    const bool ok = Record(folder + "/room_mix.wav", true, true) &&
                    Record(folder + "/room_talker.wav", true, false) &&
                    Record(folder + "/room_interferer.wav", false, true);
    if (ok)
        std::printf("room_recording: %s/room_{mix,talker,interferer}.wav\n", folder.c_str());
    return ok ? 0 : 1;
}
