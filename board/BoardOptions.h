// Command line of the emulated board.
#pragma once

#include <cstdint>
#include <string>

struct BoardOptions {
    int port = 7; // serves as COM<port>
    std::string name = "Halvane Zodurev demonstration board";
    uint16_t features = 0x3F; // availableFeatures
    uint16_t enabled = 0x09;  // beamforming and noise meter
    int replyDelayMs = 0;     // delay before every answer
    bool verbose = false;     // requests and answers to stderr
    bool help = false;

    // The real kit in a simulated room (--room and the options after it).
    bool room = false;
    double talkerAngle = 0.0; // degrees, clockwise from Direction 1
    bool talkerMoving = false;
    double noiseDb = 45.0; // diffuse noise, dB SPL
    bool interferer = false;
    double interfererAngle = 180.0;
    bool farEnd = false;
    double farEndDb = 65.0; // loudspeaker at the board, dB SPL
    std::string audioOut;   // WAV file of the stream to the PC
    bool play = false;
    bool fast = false;
};

// Parses argv into options. On a bad argument returns false and puts a
// one-line explanation into error.
bool ParseBoardOptions(int argc, char** argv, BoardOptions& options, std::string& error);

// Usage text for --help and errors.
const char* BoardUsage();
