// Field decimator: PDM to 16 kHz PCM for one microphone with a sixth-order
// comb of factor 8 evaluated a byte at a time, sixth-order binomial halvings
// and a droop-compensating decimating FIR, then a DC blocker, the volume and
// saturation. Integer arithmetic throughout; bits count as -1 and +1, so the
// PDM mid-level is zero from the first byte and an empty history starts
// silent. The first 3 ms fade in, which hides the modulator's own start.
#ifndef VELDRA_FIELD_DECIMATOR_H
#define VELDRA_FIELD_DECIMATOR_H

#include <stdint.h>

#define FIELD_COMB_BYTES 6       // byte-stage tables (comb span, bytes)
#define FIELD_DECIMATOR_CLOCKS 7 // 256, 384, 512, 768, 1024, 1280, 2048 kHz
#define FIELD_MAX_HALVINGS 2
#define FIELD_HALVING_TAPS 7
#define FIELD_FIR_MAX_TAPS 179
#define FIELD_FIR_MAX_FACTOR 5
#define FIELD_MAX_BYTES_PER_CALL 256 // 2048 kHz
#define FIELD_START_RAMP 48          // samples (3 ms) over which the output fades in

// Stages for one PDM clock.
typedef struct FieldDecimatorPlan {
    uint32_t clock_khz;
    uint32_t halvings;        // binomial halvings after the byte stage
    uint32_t factor;          // FIR decimation to 16 kHz
    uint32_t taps;            // FIR length (odd, symmetric)
    const int32_t *half_taps; // first (taps + 1) / 2 coefficients, the centre last
} FieldDecimatorPlan;

extern const int32_t kFieldCombTables[FIELD_COMB_BYTES][256];
extern const FieldDecimatorPlan kFieldDecimatorPlans[FIELD_DECIMATOR_CLOCKS];

// State of one microphone's decimator (in the caller's block).
typedef struct FieldDecimator {
    uint32_t plan;      // index into kFieldDecimatorPlans
    uint32_t stride;    // input stride in bytes
    uint32_t byte_swap; // 1: 16-bit words, higher-addressed byte earlier (stride 1)
    int32_t volume_q16; // 10^(dB/20) in Q16
    uint8_t recent[8];  // last FIELD_COMB_BYTES - 1 input bytes, newest first
    int64_t dc_out;     // DC blocker output, 8 bits below the FIR's scale
    int32_t dc_in;      // DC blocker previous input
    int32_t started;    // output samples since init, up to FIELD_START_RAMP
    // Halving inputs: 6 history samples, then one call's samples.
    int32_t halving_in[FIELD_MAX_HALVINGS][FIELD_HALVING_TAPS - 1 + FIELD_MAX_BYTES_PER_CALL];
    // FIR input: taps - 1 history samples, then one call's samples.
    int32_t fir_in[FIELD_FIR_MAX_TAPS - 1 + 16 * FIELD_FIR_MAX_FACTOR];
} FieldDecimator;

// Index of the plan for a PDM clock in kHz, or -1.
int32_t field_decimator_plan(uint32_t clock_khz);

// Clears the history and sets clock, input layout and volume (0..51 dB).
// Returns 0, or 1 for a clock without a plan (the decimator then writes
// silence).
uint32_t field_decimator_init(FieldDecimator *dec, uint32_t clock_khz, uint32_t stride,
                              uint32_t byte_swap, uint32_t volume_db);

// One millisecond: clock / 8 bytes in, 16 samples out.
void field_decimate(const uint8_t *input, int16_t *output, FieldDecimator *dec);

#endif
