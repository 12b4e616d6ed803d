// Default mode against field mode: decimation per PDM clock, beams on
// speech-like scenes (off-axis talkers, competing talkers, diffuse noise,
// microphone mismatch), on-axis flatness per spacing and gain calibration.
#ifndef HALVANE_FIELD_QUALITY_H
#define HALVANE_FIELD_QUALITY_H

#include <cstdio>
#include <string>
#include <vector>

// What the README quotes of the report (filled by fieldQualityReport).
struct FieldFigures {
    // Decimation, over the clocks: field filter's widest ripple, weakest
    // measured alias rejection of both filters, largest DC offset, and the
    // gap of the fourth-order SNR to the ideal one (where that is below the
    // 16-bit limit) and to the limit (where the ideal is above it).
    double ripple = 0.0, alias_field = 1e9, alias_default = 1e9, dc = 0.0;
    double gap_ideal = -1e9, gap_limit = -1e9, snr_limit = 0.0;
    // Field type 0 on axis: largest deviation from flat over the spacings.
    double flat = 0.0;
    // Field mode's largest error of the automatic second-microphone gain.
    double calibration = 0.0;
    // Beam scenes: level and SNR per mode (default 0, 2, 3, field 0, 2, 3),
    // rounded as printed.
    struct Beam {
        std::string scene;
        double level[6], snr[6];
    };
    std::vector<Beam> beams;
};

// Prints the tables; writes "field-..." rows to csv when not null.
void fieldQualityReport(bool quick, FILE* csv, FieldFigures& figures);

// The README's paragraph on field mode from the figures.
std::string fieldFiguresText(const FieldFigures& figures);

#endif
