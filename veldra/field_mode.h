// Field mode: state of its region in the working block and the steps that
// replace the default beam forming when the block was started with
// Veldra_InitField.
#ifndef VELDRA_FIELD_MODE_H
#define VELDRA_FIELD_MODE_H

#include <stdint.h>

#include "fft.h"
#include "field_decimator.h"
#include "veldra.h"
#include "veldra_internal.h"

#define FIELD_WINDOW 256 // transform length, two blocks
#define FIELD_BINS 129   // bins 0..128

// Per-frequency settings derived from spacing, gain mode and options.
typedef struct FieldBinSetup {
    float steer_re[FIELD_BINS], steer_im[FIELD_BINS]; // exp(-j w tau): travel across the array
    float eq_re[FIELD_BINS], eq_im[FIELD_BINS];       // equaliser of the beams
    float blend[FIELD_BINS];         // weight of the beam against microphone 1 (1 = beam only)
    float unlimit[FIELD_BINS];       // equaliser gain without its limit over with it (>= 1)
    float beta_max[FIELD_BINS];      // largest rear-beam weight the front sector tolerates
    float postfilter_on[FIELD_BINS]; // 1 where the post-filter acts
} FieldBinSetup;

// Running statistics per frequency.
typedef struct FieldBinState {
    float cross[FIELD_BINS];      // smoothed Re(front x conj(rear))
    float rear_power[FIELD_BINS]; // smoothed |rear|^2 (null)
    float pf_out[FIELD_BINS];     // smoothed |nulled front|^2 (post-filter)
    float pf_rear[FIELD_BINS];    // smoothed |rear|^2 (post-filter)
    float lift_cross[FIELD_BINS]; // smoothed Re(mic1 x conj(mic1 - beam)) (low-band blend)
    float lift_diff[FIELD_BINS];  // smoothed |mic1 - beam|^2 (low-band blend)
} FieldBinState;

typedef struct FieldState {
    VeldraFieldOptions options;
    float mic2_gain;         // gain in use for microphone 2
    float power1, power2;    // smoothed band powers of the microphones (calibration)
    float floor_gain;        // post-filter floor, linear
    uint32_t spectral_setup; // 1 once field_configure ran
    FieldDecimator decimator[2];
    FftTable fft;
    float window[FIELD_WINDOW];      // square-root Hann, analysis and synthesis
    float history[2][VELDRA_BLOCK];  // previous block of each microphone
    float overlap[2][VELDRA_BLOCK];  // synthesis tails: output, rear beam
    float spectrum[2][FIELD_WINDOW]; // microphones, then output and rear beam
    FieldBinSetup setup;
    FieldBinState stats;
    int16_t rear_ring[VELDRA_RING]; // rear beam for output channel 1
} FieldState;

static inline FieldState *field_state(VeldraControl *ctrl)
{
    return veldra_region<FieldState>(ctrl, ctrl->field_at);
}

// Applies the stored spacing, gain, volume and options (after a
// reconfiguring Veldra_setConfig or new options).
void field_configure(VeldraControl *ctrl);

// The first step in field mode: both microphones to 16 kHz PCM into the
// front and rear rings, play-out, block counting.
uint32_t field_first_step(const void *mic1, const void *mic2, int16_t *out, VeldraControl *ctrl);

// One block: microphone 1 and 2 halves in, output half (and the rear-beam
// half at ring offset target_at) out.
void field_second_step(VeldraControl *ctrl, const int16_t *mic1, const int16_t *mic2, int16_t *out,
                       uint32_t target_at);

// Gain applied to microphone 2 in field mode.
float field_estimated_gain(VeldraControl *ctrl);

// sin and cos in single precision from arithmetic alone, so that host and
// target compute the same bits.
float field_sin(float x);
float field_cos(float x);

#endif
