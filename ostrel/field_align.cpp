// Reference alignment of field mode.
//
// Bulk delay: the frame-to-frame changes of the log energies of 16 bands (125 Hz..6 kHz) of the raw
// reference and of the microphone are correlated, per band and normalised,
// at every lag of 0..38 frames; the lag with the highest mean correlation,
// refined by a parabola through its neighbours, is the echo's delay. Energy
// envelopes survive any linear echo path, saturation and near-end noise, and
// cost 16 x 39 products a frame. A new lag is adopted only after it has won
// for 20 frames by a margin, so a short burst of double talk cannot move it.
//
// Drift: the adaptive filter is the echo path as the canceller sees it, and a
// drifting echo slides it along its taps. Each time the filter has been copied
// to the time domain in full (one block a frame), its slide since the previous
// copy is estimated from the whole response: the change projected on the
// response's slope. A response that only grows gives none, and the estimate
// follows the slide at every fractional phase of the resampler; the position
// of the largest tap did neither on paths with near-equal early taps, where it
// moved against the slide and turned the loop into a runaway on a static echo.
// The slides summed over a quarter second are the drift not yet compensated,
// which is added (in part) to the rate at which the fractional read position
// of the reference moves. Measuring speed rather than position keeps the loop
// stable although the filter reacts to a correction only as it re-adapts. The
// reference is read from the history by cubic Lagrange interpolation.
#include <string.h>

#include "field_state.h"

namespace ostrel
{

namespace
{

constexpr uint32_t kHistoryMask = kHistory - 1;
constexpr float kDelaySmoothing = 1.0f / 128.0f; // about one second
constexpr float kAdoptScore = 0.2f;
constexpr float kSwitchMargin = 0.05f;
constexpr int32_t kSwitchFrames = 20;
constexpr int32_t kFirstLockFrames = 40;
constexpr int32_t kDelayMarginSamples =
    160; // room before the energy peak: the direct path comes earlier
constexpr int32_t kMinDelaySamples = 3; // the interpolator reads two samples ahead
constexpr int32_t kMaxDelaySamples = int32_t(kHistory) - 2 * int32_t(kFrame) - 8;
constexpr float kMaxDriftRate = 6e-4f;        // 600 ppm
constexpr uint32_t kRateWindowSamples = 4000; // speed of the filter measured over 0.25 s
constexpr float kRateGain = 0.5f;
constexpr float kMaxChange = 0.5f; // change above this share of the energy: no shift

void band_log_energies(FftTable *table, const float *prev, const int16_t *now, const float *window,
                       float *spectrum, float *bands)
{
    for (uint32_t i = 0; i < kFrame; ++i) {
        spectrum[i] = prev[i] * window[i];
        spectrum[kFrame + i] = static_cast<float>(now[i]) * window[kFrame + i];
    }
    fft(table, spectrum, spectrum);
    for (int32_t b = 0; b < kDelayBands; ++b) {
        float energy = 0.0f;
        for (int32_t k = 2 + b * kDelayBandBins; k < 2 + (b + 1) * kDelayBandBins; ++k)
            energy += spectrum[2 * k - 1] * spectrum[2 * k - 1] + spectrum[2 * k] * spectrum[2 * k];
        bands[b] = field_log(energy + 1e-4f);
    }
}

float smooth(float state, float value)
{
    return state + kDelaySmoothing * (value - state);
}

// Mean normalised correlation at each lag.
void lag_scores(const FieldState *field, float *scores)
{
    for (int32_t d = 0; d < kDelayLags; ++d) {
        float sum = 0.0f;
        for (int32_t b = 0; b < kDelayBands; ++b)
            sum += field->cov[d][b] / sqrtf(field->mic_var[b] * field->ref_var[b] + 1e-6f);
        scores[d] = sum / static_cast<float>(kDelayBands);
    }
}

// Reference delay in samples for an echo whose energy peaks at `lag` frames.
int32_t delay_for_lag(const float *scores, int32_t lag)
{
    float offset = 0.0f;
    if (lag > 0 && lag < kDelayLags - 1) {
        const float left = scores[lag - 1], mid = scores[lag], right = scores[lag + 1];
        const float curvature = left - 2.0f * mid + right;
        if (curvature < 0.0f)
            offset = 0.5f * (left - right) / curvature;
    }
    const int32_t delay = static_cast<int32_t>((static_cast<float>(lag) + offset) * float(kFrame)) -
                          kDelayMarginSamples;
    return delay < kMinDelaySamples ? kMinDelaySamples : delay;
}

bool adopt_lag(FieldState *field, const float *scores, int32_t best)
{
    const int32_t delay = delay_for_lag(scores, best);
    field->delay_frames = best;
    field->candidate_count = 0;
    if (delay - field->delay_samples < kDelayMarginSamples / 2 &&
        field->delay_samples - delay < kDelayMarginSamples / 2)
        return false; // close enough: the filter covers it
    field->delay_samples = delay;
    field->delay_fraction = 0.0f;
    field->window_open = 0;
    field->adapted_frames = 0;
    return true;
}

// Adds block j's change since the previous round to the round's sums: `now`
// is its new copy, field->taps still holds the old one, and so does the next
// block; edge_tap keeps the old last tap of the block before.
void compare_block(FieldState *field, uint32_t j, uint32_t M, const float *now)
{
    const float *old = field->taps + j * kFrame;
    const float before = j > 0 ? field->edge_tap : 0.0f;
    const float after = j + 1 < M ? old[kFrame] : 0.0f;
    float cross = 0.0f, slope2 = 0.0f, change = 0.0f, energy = 0.0f;
    for (uint32_t i = 0; i < kFrame; ++i) {
        const float prev = i > 0 ? old[i - 1] : before;
        const float next = i + 1 < kFrame ? old[i + 1] : after;
        const float slope = 0.5f * (next - prev);
        const float diff = old[i] - now[i];
        cross += diff * slope;
        slope2 += slope * slope;
        change += diff * diff;
        energy += old[i] * old[i];
    }
    field->edge_tap = old[kFrame - 1];
    field->round_cross += cross;
    field->round_slope += slope2;
    field->round_change += change;
    field->round_energy += energy;
}

// The filter describes one clear path: its largest tap stands out.
bool clear_peak(const float *taps, uint32_t count)
{
    uint32_t peak = 0;
    float energy = 0.0f;
    for (uint32_t i = 0; i < count; ++i) {
        const float v = taps[i] * taps[i];
        energy += v;
        if (v > taps[peak] * taps[peak])
            peak = i;
    }
    return taps[peak] * taps[peak] * static_cast<float>(count) >= 20.0f * energy;
}

// Adds a round's shift to the window; at the window's end, steers the rate.
void steer_rate(FieldState *field, float shift, uint32_t samples)
{
    if (field->window_open == 0) {
        field->window_shift = 0.0f;
        field->window_samples = 0;
        field->window_open = 1;
    }
    field->window_shift += shift;
    field->window_samples += samples;
    if (field->window_samples < kRateWindowSamples)
        return;
    const float speed = field->window_shift / static_cast<float>(field->window_samples);
    field->drift_rate += kRateGain * speed;
    if (field->drift_rate > kMaxDriftRate)
        field->drift_rate = kMaxDriftRate;
    if (field->drift_rate < -kMaxDriftRate)
        field->drift_rate = -kMaxDriftRate;
    // At either end of its range the read position cannot follow the rate, so
    // the filter never answers it: a rate pushing there would only wind up.
    if ((field->delay_samples <= kMinDelaySamples && field->drift_rate < 0.0f) ||
        (field->delay_samples >= kMaxDelaySamples && field->drift_rate > 0.0f))
        field->drift_rate = 0.0f;
    field->window_shift = 0.0f;
    field->window_samples = 0;
}

} // namespace

void align_init(FieldState *field)
{
    field->delay_frames = -1;
    field->candidate_frames = -1;
    field->delay_samples = kMinDelaySamples;
    for (int32_t b = 0; b < kDelayBands; ++b)
        field->mic_var[b] = field->ref_var[b] = 1.0f;
}

void align_push_reference(FieldState *field, const int16_t *ref)
{
    for (uint32_t i = 0; i < kFrame; ++i)
        field->history[(field->history_count + i) & kHistoryMask] = ref[i];
    field->history_count += kFrame;
}

bool align_estimate_delay(FieldState *field, FftTable *table, const int16_t *mic,
                          const int16_t *ref)
{
    // Frame-to-frame changes of the log energies: onsets and decays line up
    // sharply at the echo's delay, where the energies themselves, smeared by
    // reverberation and by the syllables' slow envelopes, would peak late.
    float *mic_bands = field->mic_change,
          *ref_level = field->ref_now_level; // in the block: small stack
    band_log_energies(table, field->mic_prev, mic, field->window, field->work, mic_bands);
    band_log_energies(table, field->ref_prev, ref, field->window, field->work, ref_level);
    field->band_slot = (field->band_slot + 1) % kDelayLags;
    float *ref_now = field->ref_bands[field->band_slot];
    for (int32_t b = 0; b < kDelayBands; ++b) {
        const float mic_level = mic_bands[b];
        mic_bands[b] = mic_level - field->mic_level[b];
        field->mic_level[b] = mic_level;
        ref_now[b] = ref_level[b] - field->ref_level[b];
        field->ref_level[b] = ref_level[b];
    }

    for (int32_t b = 0; b < kDelayBands; ++b) {
        field->mic_mean[b] = smooth(field->mic_mean[b], mic_bands[b]);
        field->ref_mean[b] = smooth(field->ref_mean[b], ref_now[b]);
        const float m = mic_bands[b] - field->mic_mean[b];
        field->mic_var[b] = smooth(field->mic_var[b], m * m);
        const float x = ref_now[b] - field->ref_mean[b];
        field->ref_var[b] = smooth(field->ref_var[b], x * x);
    }
    for (int32_t d = 0; d < kDelayLags; ++d) {
        const float *ref_then = field->ref_bands[(field->band_slot + kDelayLags - d) % kDelayLags];
        for (int32_t b = 0; b < kDelayBands; ++b) {
            const float product =
                (mic_bands[b] - field->mic_mean[b]) * (ref_then[b] - field->ref_mean[b]);
            field->cov[d][b] = smooth(field->cov[d][b], product);
        }
    }
    if (field->frames < static_cast<uint32_t>(kFirstLockFrames))
        return false;

    float *scores = field->scores;
    lag_scores(field, scores);
    int32_t best = 0;
    for (int32_t d = 1; d < kDelayLags; ++d)
        if (scores[d] > scores[best])
            best = d;
    field->best_score = scores[best];
    field->best_lag = best;
    field->current_score = field->delay_frames >= 0 ? scores[field->delay_frames] : 0.0f;
    if (scores[best] < kAdoptScore || best == field->delay_frames) {
        field->candidate_count = 0;
        return false;
    }
    if (field->delay_frames < 0)
        return adopt_lag(field, scores, best);
    if (scores[best] < scores[field->delay_frames] + kSwitchMargin)
        return false;
    if (best != field->candidate_frames) {
        field->candidate_frames = best;
        field->candidate_count = 0;
    }
    if (++field->candidate_count < kSwitchFrames)
        return false;
    return adopt_lag(field, scores, best);
}

void align_reference(FieldState *field, float *aligned)
{
    const uint32_t first = field->history_count - kFrame; // index of this frame's sample 0
    for (uint32_t n = 0; n < kFrame; ++n) {
        const float shift = field->delay_fraction + field->drift_rate * static_cast<float>(n);
        const float whole = floorf(shift);
        const float below = shift - whole; // read this far before the whole-sample position
        int32_t back = field->delay_samples + static_cast<int32_t>(whole);
        float mu = 0.0f;
        if (below > 0.0f) {
            back += 1;
            mu = 1.0f - below;
        }
        const uint32_t p = first + n - static_cast<uint32_t>(back);
        const float xm = field->history[(p - 1) & kHistoryMask];
        const float x0 = field->history[p & kHistoryMask];
        const float x1 = field->history[(p + 1) & kHistoryMask];
        const float x2 = field->history[(p + 2) & kHistoryMask];
        const float a = mu + 1.0f, b = mu - 1.0f, c = mu - 2.0f;
        aligned[n] = -mu * b * c * (1.0f / 6.0f) * xm + a * b * c * 0.5f * x0 -
                     a * mu * c * 0.5f * x1 + a * mu * b * (1.0f / 6.0f) * x2;
    }
    field->delay_fraction += field->drift_rate * static_cast<float>(kFrame);
    const float whole = floorf(field->delay_fraction);
    field->delay_fraction -= whole;
    field->delay_samples += static_cast<int32_t>(whole);
    if (field->delay_samples < kMinDelaySamples) {
        field->delay_samples = kMinDelaySamples;
        field->delay_fraction = 0.0f;
    } else if (field->delay_samples > kMaxDelaySamples) {
        field->delay_samples = kMaxDelaySamples;
        field->delay_fraction = 0.0f;
    }
}

// Copies one block of the foreground filter to the time domain per frame and
// compares it with its copy of the previous round; after a full round,
// estimates the filter's shift and steers the rate.
void align_track_drift(FieldState *field, EchoState *echo)
{
    const uint32_t M = static_cast<uint32_t>(echo->blocks);
    if (!filter_ready(field, echo)) {
        field->adapted_frames = 0;
        field->window_open = 0;
        return;
    }
    field->adapted_frames += 1;
    const uint32_t j = field->tap_block % M;
    field->tap_block += 1;
    ifft(echo->table, echo->foreground + j * kWindow, field->work);
    if (j == 0)
        field->round_cross = field->round_slope = field->round_change = field->round_energy = 0.0f;
    compare_block(field, j, M, field->work);
    memcpy(field->taps + j * kFrame, field->work, kFrame * sizeof(float));
    if (j != M - 1 || field->adapted_frames < static_cast<int32_t>(4 * M))
        return;

    const uint32_t taps = M * kFrame;
    if (!clear_peak(field->taps, taps) || field->round_slope <= 0.0f ||
        field->round_change > kMaxChange * field->round_energy) {
        field->window_open = 0; // no path, or it changed by more than a shift
        return;
    }
    steer_rate(field, field->round_cross / field->round_slope, taps);
}

} // namespace ostrel
