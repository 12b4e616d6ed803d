// Command line of veldra-run.
#ifndef VELDRA_RUN_OPTIONS_H
#define VELDRA_RUN_OPTIONS_H

#include <cstdint>
#include <string>

struct RunOptions {
    std::string pdm_path;    // --pdm: interleaved PDM bytes of both microphones
    std::string pcm_path;    // --pcm: 16 kHz 16-bit stereo WAV
    std::string out_path;    // --out
    uint32_t clock_khz = 0;  // --clock, PDM only
    bool delay_line = false; // --delay-line, PCM only
    bool distance_given = false;
    uint16_t distance = 150; // 0.1 mm
    uint8_t type = 0;
    uint8_t volume = 0;
    float mic2_gain = 1.0f;
    uint32_t second_output = 0;
    // Field mode: --field switches every stage on, --field-<stage> only the
    // stages named.
    bool field = false;
    bool field_decimation = false;
    bool field_null = false;
    bool field_postfilter = false;
    bool field_calibration = false;
};

// Parses argv into `options`. Returns true on success; otherwise `error`
// holds a message for the user. `help` is set for --help.
bool parse_run_options(int argc, char** argv, RunOptions& options, std::string& error, bool& help);

const char* run_usage();

#endif
