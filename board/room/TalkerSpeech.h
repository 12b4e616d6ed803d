// Speech of the room's talkers, synthesised at start-up with espeak-ng: the
// voice commands the board recognises, and running text for the competing
// talker and the far end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SpokenCommand {
    int16_t code;      // asrCommand value
    const char* words; // what the talker says (and the recogniser listens for)
};

// The commands in the order the talker says them.
const std::vector<SpokenCommand>& SpokenCommands();

// Synthesises text with an espeak-ng voice ("en-us", "en-us+f3", ...) and
// returns it at 16 kHz, scaled so that its active speech has an RMS of 1.
// Empty, with a reason in error, when espeak-ng cannot speak.
std::vector<float> SynthesiseSpeech(const std::string& text, const std::string& voice,
                                    std::string& error);
