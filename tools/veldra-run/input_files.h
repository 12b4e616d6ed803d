// Inputs of veldra-run: the raw PDM file and the stereo 16 kHz WAV file.
#ifndef HALVANE_VELDRA_RUN_INPUT_FILES_H
#define HALVANE_VELDRA_RUN_INPUT_FILES_H

#include <cstdint>
#include <string>
#include <vector>

// Every byte of a file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::vector<uint8_t>& bytes);

// The interleaved frames of a 16 kHz 16-bit stereo WAV file; false, with a
// message on stderr, for anything else or a file without samples.
bool read_pcm(const std::string& path, std::vector<int16_t>& frames);

#endif
