// Reading and writing the 16 kHz mono 16-bit WAV files of ostrel-run.
#ifndef OSTREL_RUN_WAV_IO_H
#define OSTREL_RUN_WAV_IO_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int kWavSampleRate = 16000;

// Reads every sample of `path`. Returns an empty string on success, else a
// message: missing or unreadable file, no samples, or anything but 16 kHz
// mono 16-bit PCM WAV.
std::string read_wav16(const std::string& path, std::vector<int16_t>& samples);

// Writes `samples` as 16 kHz mono 16-bit PCM WAV, whole or not at all (an
// existing file is replaced only on success). Empty string on success.
std::string write_wav16(const std::string& path, const std::vector<int16_t>& samples);

#endif
