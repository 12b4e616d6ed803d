// State of field mode: one record after the default mode's records in the
// caller's block, followed by two arrays that depend on the tail length.
// Each stage keeps its own part of the record and has its own file:
//   field_align.cpp     bulk delay, drift tracking, fractional resampler
//   field_nonlinear.cpp loudspeaker saturation model
//   field_residual.cpp  coherence statistics and residual-echo estimate
//   field_recovery.cpp  echo-path change detection
//   field_mode.cpp      entry points, layout, the per-frame pipeline
#ifndef OSTREL_FIELD_STATE_H
#define OSTREL_FIELD_STATE_H

#include <math.h>
#include <stdint.h>
#include <string.h>

#include "ostrel_block.h"

namespace ostrel
{

constexpr int32_t kFieldBins = ECHO_BINS; // 129 bins of a 256-point spectrum
constexpr int32_t kDelayBands = 16;       // bands of the delay estimator
constexpr int32_t kDelayBandBins = 6;     // bins per band, from bin 2 (125 Hz)
constexpr int32_t kDelayLags = 39;        // lags 0..38 frames (0..304 ms)
constexpr uint32_t kHistory = 8192;       // raw reference ring, a power of two
static_assert(kHistory >= (kDelayLags + 2) * kFrame + 512, "history covers the longest delay");
constexpr int32_t kResidualBands = 16; // bands of the residual regression
constexpr int32_t kResidualTerms = 3;  // echo estimate, short and long reverb
// The far end counts as active above this reference frame power (about -60 dBFS).
constexpr float kFarActivePower = 2.0f;

struct FieldState {
    OstrelFieldOptions options;
    uint32_t frames; // frames processed since Ostrel_Field_Init

    // Alignment: raw reference history and the delay estimator.
    int16_t history[kHistory];                            // raw reference, ring
    uint32_t history_count;                               // samples written in all (mod 2^32)
    float mic_prev[kFrame];                               // previous raw microphone frame
    float ref_prev[kFrame];                               // previous raw reference frame
    float mic_level[kDelayBands], ref_level[kDelayBands]; // last log band energies
    float ref_bands[kDelayLags][kDelayBands]; // their changes for the raw reference, ring
    uint32_t band_slot;                       // ring slot of the newest entry
    float mic_mean[kDelayBands], ref_mean[kDelayBands];
    float mic_var[kDelayBands], ref_var[kDelayBands];
    float cov[kDelayLags][kDelayBands]; // smoothed covariance per lag and band
    int32_t delay_frames;               // adopted lag in frames, -1 before the first lock
    int32_t candidate_frames;           // lag that is challenging the adopted one
    int32_t candidate_count;            // frames it has stayed the best
    float scores[kDelayLags];           // mean correlation per lag, this frame
    float mic_change[kDelayBands], ref_now_level[kDelayBands]; // this frame's band values
    float best_score, current_score; // correlation of the best and adopted lags
    int32_t best_lag;
    int32_t delay_samples; // whole part of the reference delay
    float delay_fraction;  // fractional part, 0 <= f < 1
    // Drift: the shift of the adaptive filter steers the fractional delay.
    float drift_rate;        // delay change in samples per sample
    float round_cross;       // this round: sum of (old - new tap) x old slope
    float round_slope;       // this round: sum of old slope squared
    float round_change;      // this round: energy of new - old taps
    float round_energy;      // this round: energy of the old taps
    float edge_tap;          // old last tap of the block copied before
    float window_shift;      // filter shift summed over the window, samples
    uint32_t window_samples; // samples since the start of the window
    int32_t window_open;     // 1 while the window's shifts add up
    int32_t adapted_frames;  // frames since the canceller adapted
    uint32_t settled_frames; // frames since start or the last restart
    uint32_t tap_block;      // next filter block to copy to taps

    // Nonlinear model.
    float saturation;             // u of x / sqrt(1 + u (x/32768)^2)
    float gradient_mem;           // pre-emphasis memory of the gradient signal
    float gradient_x[2 * kFrame]; // pre-emphasised gradient signal, two frames
    float out_mem;                // last output sample of the previous frame

    // Spectra and coherence statistics (residual and recovery stages).
    float window[2 * kFrame];   // the suppressor's analysis window
    float out_prev[kFrame];     // previous output frame
    float aligned_prev[kFrame]; // previous reference frame given to the canceller
    float spectrum_x[2 * kFrame], spectrum_m[2 * kFrame], spectrum_e[2 * kFrame];
    float work[2 * kFrame];
    float aligned[kFrame];                               // this frame's aligned reference
    int16_t shaped[kFrame];                              // the same through the saturation model
    float echo_power[kFieldBins], out_power[kFieldBins]; // per bin, this frame
    float S_xx[kFieldBins], S_mm[kFieldBins], S_ee[kFieldBins];
    float S_xm[2 * kFieldBins], S_xe[2 * kFieldBins]; // complex, (re, im) per bin
    float coherence_xm, coherence_xe;                 // averages over 190 Hz..4 kHz
    float far_power;                                  // reference frame power

    // Residual-echo estimate.
    float late_short[kFieldBins], late_long[kFieldBins]; // decaying far-end power
    float coef[kResidualBands][kResidualTerms];          // regression weights per band
    float residual[kFieldBins];                          // estimate handed to the suppressor
    float strength;                                      // linear factor of residual_strength_db
    float speech_prob; // the suppressor's speech probability, last frame

    // Recovery.
    float erle_fast, erle_slow; // smoothed frame ERLE in dB
    int32_t boost_frames;       // frames of raised step left

    float *taps;             // time-domain foreground filter, M*128 floats
    float *gradient_spectra; // (M+1)*256 floats, newest first
};

// Natural logarithm of x > 0 in plain float arithmetic (relative error below
// 1e-6), so that host and target compute the same bits whatever their libm.
inline float field_log(float x)
{
    uint32_t bits;
    memcpy(&bits, &x, sizeof bits);
    const int32_t exponent = static_cast<int32_t>((bits >> 23) & 0xFFu) - 127;
    bits = (bits & 0x007FFFFFu) | 0x3F800000u; // mantissa in [1, 2)
    float m;
    memcpy(&m, &bits, sizeof m);
    const float t = (m - 1.0f) / (m + 1.0f); // ln m = 2 atanh t, t in [0, 1/3)
    const float t2 = t * t;
    const float series =
        t * (2.0f + t2 * (0.6666667f + t2 * (0.4f + t2 * (0.2857143f + t2 * 0.2222222f))));
    return static_cast<float>(exponent) * 0.6931472f + series;
}

// Nearest 16-bit sample, saturated.
inline int16_t round_sample(float v)
{
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<int16_t>(floorf(v + 0.5f));
}

// The canceller describes the room: it says so itself, or it has had 1.5 s
// since a restart (after a restart it may converge so fast that its own
// test, which needs a high leak estimate, never passes).
inline bool filter_ready(const FieldState *field, const EchoState *echo)
{
    return echo->adapted != 0 || field->settled_frames > 190;
}

// Field record and arrays after the default records; returns bytes needed.
uint32_t field_layout(uint32_t records_end, uint32_t blocks, uint32_t *state_offset,
                      uint32_t *taps_offset, uint32_t *spectra_offset);

FieldState *field_state_of(OstrelBlock *block);

// Per-frame pipeline, called by Ostrel_Process in field mode.
void field_process(OstrelBlock *block, uint32_t input_half, int16_t *out);

// Alignment stage.
void align_init(FieldState *field);
void align_push_reference(FieldState *field, const int16_t *ref);
// Returns true when the adopted delay changed (the canceller must restart).
bool align_estimate_delay(FieldState *field, FftTable *table, const int16_t *mic,
                          const int16_t *ref);
void align_reference(FieldState *field, float *aligned);
void align_track_drift(FieldState *field, EchoState *echo);

// Nonlinear stage.
void nonlinear_shape(const FieldState *field, const float *aligned, int16_t *shaped);
void nonlinear_update(FieldState *field, EchoState *echo, const float *aligned, const int16_t *out,
                      bool update);

// Coherence statistics of reference, microphone and output.
void field_spectra(FieldState *field, FftTable *table, const int16_t *mic, const int16_t *aligned,
                   const int16_t *out);
// Residual-echo estimate into field->residual.
void residual_update(FieldState *field);
// Raises the canceller's step after an echo-path change.
void recovery_update(FieldState *field, EchoState *echo);

} // namespace ostrel

#endif
