// Residual-echo estimate of field mode, and the coherence statistics it shares
// with the recovery stage.
//
// The canceller's own estimate is a multiple of its echo estimate, so it is
// blind to echo the filter does not model. Here the residual power per bin is
//   R = strength * (a0 |Y|^2 + a1 Ls + a2 Ll) + c_xe |E|^2,
// with Y the echo estimate (misadjustment and nonlinear residue scale with
// it), Ls and Ll the far-end power decaying by 0.5 and 0.85 per frame
// (reverberation beyond the tail, RT60 of about 0.15 and 0.7 s), and the last
// term the part of the output coherent with the reference: echo that no model
// predicted, seen at once (for example just after a path change). The weights
// a0..a2 are fitted per band, non-negative, by normalised least mean squares
// on the output power while the output is echo: far end active and the
// canceller's ERLE at its usual level. Near-end speech lowers that ERLE, so
// double talk does not inflate the weights.
//
// All spectra use the suppressor's analysis window, so the estimate is in
// the units of its power spectrum.
#include <string.h>

#include "field_state.h"

namespace ostrel
{

namespace
{

constexpr float kSpectralSmoothing = 0.25f;
constexpr float kShortDecay = 0.5f;
constexpr float kLongDecay = 0.85f;
constexpr float kStep = 0.1f;
constexpr int32_t kCoherenceFirstBin = 3; // 190 Hz
constexpr int32_t kCoherenceLastBin = 64; // 4 kHz
constexpr int32_t kBinsPerBand = 8;       // residual bands over bins 1..128
constexpr float kLearnDropDb = 3.0f;
constexpr float kNearEndRatio = 10.0f;
constexpr float kNearEndCoherence = 0.3f;
// Coherence of unrelated signals, estimated with this smoothing, averages
// about 0.2; only the excess counts as echo.
constexpr float kCoherenceBias = 0.2f;

void windowed_spectrum(const float *window, const float *prev, const int16_t *now, float *spectrum,
                       FftTable *table)
{
    for (uint32_t i = 0; i < kFrame; ++i) {
        spectrum[i] = prev[i] * window[i];
        spectrum[kFrame + i] = static_cast<float>(now[i]) * window[kFrame + i];
    }
    fft(table, spectrum, spectrum);
}

// (re, im) of bin k of a half-complex spectrum.
void bin_of(const float *spectrum, int32_t k, float *re, float *im)
{
    if (k == 0) {
        *re = spectrum[0];
        *im = 0.0f;
    } else if (k == kFieldBins - 1) {
        *re = spectrum[2 * kFrame - 1];
        *im = 0.0f;
    } else {
        *re = spectrum[2 * k - 1];
        *im = spectrum[2 * k];
    }
}

float blend(float state, float value)
{
    return state + kSpectralSmoothing * (value - state);
}

float bin_coherence(const FieldState *field, const float *cross, const float *other, int32_t k)
{
    const float re = cross[2 * k], im = cross[2 * k + 1];
    return (re * re + im * im) / (field->S_xx[k] * other[k] + 1e-6f);
}

} // namespace

void field_spectra(FieldState *field, FftTable *table, const int16_t *mic, const int16_t *aligned,
                   const int16_t *out)
{
    windowed_spectrum(field->window, field->aligned_prev, aligned, field->spectrum_x, table);
    windowed_spectrum(field->window, field->mic_prev, mic, field->spectrum_m, table);
    windowed_spectrum(field->window, field->out_prev, out, field->spectrum_e, table);
    float far = 0.0f, coherence_xm = 0.0f, coherence_xe = 0.0f;
    for (int32_t k = 0; k < kFieldBins; ++k) {
        float xr, xi, mr, mi, er, ei;
        bin_of(field->spectrum_x, k, &xr, &xi);
        bin_of(field->spectrum_m, k, &mr, &mi);
        bin_of(field->spectrum_e, k, &er, &ei);
        const float px = xr * xr + xi * xi;
        far += px;
        field->S_xx[k] = blend(field->S_xx[k], px);
        field->S_mm[k] = blend(field->S_mm[k], mr * mr + mi * mi);
        field->S_ee[k] = blend(field->S_ee[k], er * er + ei * ei);
        field->S_xm[2 * k] = blend(field->S_xm[2 * k], xr * mr + xi * mi);
        field->S_xm[2 * k + 1] = blend(field->S_xm[2 * k + 1], xr * mi - xi * mr);
        field->S_xe[2 * k] = blend(field->S_xe[2 * k], xr * er + xi * ei);
        field->S_xe[2 * k + 1] = blend(field->S_xe[2 * k + 1], xr * ei - xi * er);
        if (k >= kCoherenceFirstBin && k <= kCoherenceLastBin) {
            coherence_xm += bin_coherence(field, field->S_xm, field->S_mm, k);
            coherence_xe += bin_coherence(field, field->S_xe, field->S_ee, k);
        }
    }
    const float bins = static_cast<float>(kCoherenceLastBin - kCoherenceFirstBin + 1);
    field->coherence_xm = coherence_xm / bins;
    field->coherence_xe = coherence_xe / bins;
    field->far_power = far;
    if (far <= kFarActivePower)
        return;
    // Frame ERLE of the linear canceller, fast and slow; the slow one sinks
    // only slowly while the recovery stage boosts, so that a harder new path
    // ends the boost after a few seconds.
    float mic_sum = 1.0f, out_sum = 1.0f;
    for (int32_t k = 0; k < kFieldBins; ++k) {
        mic_sum += field->S_mm[k];
        out_sum += field->S_ee[k];
    }
    field->erle_fast += 0.3f * (field_log(mic_sum / out_sum) * 4.3429448f - field->erle_fast);
    const float follow = field->boost_frames > 0 ? 0.005f : 0.02f;
    field->erle_slow += follow * (field->erle_fast - field->erle_slow);
}

void residual_update(FieldState *field)
{
    float *echo_power = field->echo_power, *out_power = field->out_power;
    for (int32_t k = 0; k < kFieldBins; ++k) {
        float xr, xi, mr, mi, er, ei;
        bin_of(field->spectrum_x, k, &xr, &xi);
        bin_of(field->spectrum_m, k, &mr, &mi);
        bin_of(field->spectrum_e, k, &er, &ei);
        const float px = xr * xr + xi * xi;
        field->late_short[k] = kShortDecay * field->late_short[k] + px;
        field->late_long[k] = kLongDecay * field->late_long[k] + px;
        echo_power[k] = (mr - er) * (mr - er) + (mi - ei) * (mi - ei);
        out_power[k] = er * er + ei * ei;
    }
    // The weights learn while the output is echo: far end active and the
    // canceller's ERLE not below its usual level, which near-end speech (and a
    // path change, covered by the coherent term) would push it.
    const bool far_active = field->far_power > kFarActivePower;
    const bool learn = far_active && field->erle_fast > field->erle_slow - kLearnDropDb;
    for (int32_t b = 0; b < kResidualBands; ++b) {
        const int32_t first = 1 + b * kBinsPerBand;
        float phi[kResidualTerms] = {0.0f, 0.0f, 0.0f};
        float target = 0.0f, coherence = 0.0f;
        for (int32_t k = first; k < first + kBinsPerBand; ++k) {
            phi[0] += echo_power[k];
            phi[1] += field->late_short[k];
            phi[2] += field->late_long[k];
            target += out_power[k];
            coherence += bin_coherence(field, field->S_xe, field->S_ee, k);
        }
        coherence *= 1.0f / static_cast<float>(kBinsPerBand);
        float *a = field->coef[b];
        const float predicted = a[0] * phi[0] + a[1] * phi[1] + a[2] * phi[2];
        // A band whose output is well above the predicted echo and not coherent
        // with the reference holds near-end speech: there the estimate is not
        // raised, so the talker keeps his level.
        const bool near_end = target > kNearEndRatio * predicted && coherence < kNearEndCoherence;
        const float strength =
            near_end ? 1.0f : 1.0f + (field->strength - 1.0f) * (1.0f - field->speech_prob);
        if (learn) {
            float error = target - predicted;
            if (error > 2.0f * predicted + 1.0f)
                error = 2.0f * predicted + 1.0f; // growth bounded per frame
            const float norm = phi[0] * phi[0] + phi[1] * phi[1] + phi[2] * phi[2] + 1e-3f;
            for (int32_t t = 0; t < kResidualTerms; ++t) {
                a[t] += kStep * error * phi[t] / norm;
                if (a[t] < 0.0f)
                    a[t] = 0.0f;
            }
        }
        for (int32_t k = first; k < first + kBinsPerBand; ++k) {
            const float modelled =
                a[0] * echo_power[k] + a[1] * field->late_short[k] + a[2] * field->late_long[k];
            const float excess = bin_coherence(field, field->S_xe, field->S_ee, k) - kCoherenceBias;
            const float coherent = excess > 0.0f ? excess * (1.0f / (1.0f - kCoherenceBias)) : 0.0f;
            field->residual[k] = strength * (modelled + coherent * out_power[k]);
        }
    }
    field->residual[0] = field->residual[1];
}

} // namespace ostrel
