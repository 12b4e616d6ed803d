// Command line of ostrel-run.
#ifndef OSTREL_RUN_RUN_OPTIONS_H
#define OSTREL_RUN_RUN_OPTIONS_H

#include <cstdint>
#include <string>

struct RunOptions {
    std::string mic_path;
    std::string ref_path;
    std::string out_path;
    uint16_t tail_length = 0; // 0: the library's default (512)
    bool denoise = false;
    uint32_t agc_level = 0; // 0: gain control off
    bool residual_echo = false;
    int32_t noise_db = -15;
    int32_t echo_db = -40;
    int32_t echo_active_db = -15;
    // Field mode: one switch per stage; --field sets all four.
    bool field_align = false;
    bool field_nonlinear = false;
    bool field_residual = false;
    bool field_recovery = false;
    int32_t field_strength_db = 0;
    bool help = false;
    // The preprocessor stage runs when any of its options (or --field-residual,
    // which feeds it) is given.
    bool preprocessor = false;

    bool field() const
    {
        return field_align || field_nonlinear || field_residual || field_recovery;
    }
};

// Parses argv into `options`. Returns an empty string on success, else a
// message naming the offending argument.
std::string parse_run_options(int argc, char** argv, RunOptions& options);

const char* run_usage();

#endif
