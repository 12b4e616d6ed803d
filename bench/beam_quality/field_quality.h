// Default mode against field mode: decimation per PDM clock, beams on
// speech-like scenes (off-axis talkers, competing talkers, diffuse noise,
// microphone mismatch), on-axis flatness per spacing and gain calibration.
#ifndef HALVANE_FIELD_QUALITY_H
#define HALVANE_FIELD_QUALITY_H

#include <cstdio>

// Prints the tables; writes "field-..." rows to csv when not null.
void fieldQualityReport(bool quick, FILE* csv);

#endif
