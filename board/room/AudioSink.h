// Where the board's stream to the PC goes in the emulation: a 16 kHz
// 16-bit stereo WAV file, and live playback on the default sound device
// through sox's `play`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav_file.h"

class AudioSink
{
  public:
    AudioSink() = default;
    ~AudioSink();
    AudioSink(const AudioSink&) = delete;
    AudioSink& operator=(const AudioSink&) = delete;

    // Opens the file (empty path: none); false with a reason in error.
    bool OpenFile(const std::string& path, std::string& error);
    // Starts live playback; false with a reason in error when no sound
    // device (or no player) is there.
    bool OpenPlayer(std::string& error);

    // frames stereo frames, interleaved.
    void Write(const int16_t* frames, size_t count);
    void Close();

  private:
    wavfile::Writer file;
    FILE* player = nullptr;
};
