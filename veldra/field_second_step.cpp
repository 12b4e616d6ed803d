// Field mode, every block: the beams per frequency from both microphones
// (exact fractional travel time), gain calibration, protected null,
// equaliser with low-frequency blend and the rear-beam post-filter, then
// overlap-add back to 16-bit samples.
#include <math.h>
#include <string.h>

#include "field_mode.h"

#define CALIBRATION_SMOOTHING 0.01f // per block: about 0.8 s
#define CALIBRATION_FIRST_BIN 4     // 250 Hz
#define CALIBRATION_LAST_BIN 64     // 4 kHz
#define CALIBRATION_MIN_GAIN 0.5f
#define CALIBRATION_MAX_GAIN 2.0f
#define NULL_SMOOTHING 0.97f       // per block: about 0.27 s
#define LIFT_SMOOTHING 0.97f       // per block: about 0.27 s
#define LIFT_FRONT 3.0f            // weight of a source in front (see lifted_blend)
#define POSTFILTER_SMOOTHING 0.5f  // per block: about 12 ms
#define POSTFILTER_FREE_RATIO 0.3f // rear/front power up to which nothing is suppressed
#define LOW_FLOOR_SHARE 0.316f     // -10 dB

static float clamp(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Windowed frame of the previous and the new block, transformed in place.
static void analyse(FieldState *fs, int m, const int16_t *block)
{
    float *x = fs->spectrum[m];
    float *history = fs->history[m];
    for (int i = 0; i < VELDRA_BLOCK; ++i) {
        x[i] = history[i] * fs->window[i];
        const float sample = (float)block[i];
        x[VELDRA_BLOCK + i] = sample * fs->window[VELDRA_BLOCK + i];
        history[i] = sample;
    }
    fft(&fs->fft, x, x);
}

// Second-microphone gain: the two microphones hear a distant source equally
// loud, so the ratio of their long-term band powers is their sensitivity
// ratio, whatever the direction and level of the sound.
static void calibrate(FieldState *fs)
{
    const float *x1 = fs->spectrum[0];
    const float *x2 = fs->spectrum[1];
    float p1 = 0.0f, p2 = 0.0f;
    for (int k = CALIBRATION_FIRST_BIN; k <= CALIBRATION_LAST_BIN; ++k) {
        p1 += x1[2 * k - 1] * x1[2 * k - 1] + x1[2 * k] * x1[2 * k];
        p2 += x2[2 * k - 1] * x2[2 * k - 1] + x2[2 * k] * x2[2 * k];
    }
    if (!(p1 > 0.0f && p2 > 0.0f))
        return;
    fs->power1 += CALIBRATION_SMOOTHING * (p1 - fs->power1);
    fs->power2 += CALIBRATION_SMOOTHING * (p2 - fs->power2);
    const float ratio = fs->power1 / fs->power2;
    fs->mic2_gain = clamp(sqrtf(ratio), CALIBRATION_MIN_GAIN, CALIBRATION_MAX_GAIN);
}

static inline void get_bin(const float *x, int k, float &re, float &im)
{
    if (k == 0) {
        re = x[0];
        im = 0.0f;
    } else if (k == FIELD_BINS - 1) {
        re = x[FIELD_WINDOW - 1];
        im = 0.0f;
    } else {
        re = x[2 * k - 1];
        im = x[2 * k];
    }
}

static inline void put_bin(float *x, int k, float re, float im)
{
    if (k == 0) {
        x[0] = re;
    } else if (k == FIELD_BINS - 1) {
        x[FIELD_WINDOW - 1] = re;
    } else {
        x[2 * k - 1] = re;
        x[2 * k] = im;
    }
}

// Below the blend's upper edge the output leans on microphone 1, which hears
// a rear talker in full. The beam equalised without the limit keeps an
// on-axis target exactly as microphone 1 has it (the limit is reached only
// where the fixed blend is 0, so a fixed blend gives what it gave), so their
// difference d carries mostly interference and noise, and the beam weight
// that leaves the least power, Re<mic1 d*> / <|d|^2>, removes it. For a
// single source that weight is 1 / (1 - beam / mic1): about 1 from behind,
// 1.2 at 90 degrees, but 2.4 for a talker at 60 degrees, whom the beam
// keeps less well than microphone 1. Weights above 1 therefore mean a source
// in front and move the blend back to the fixed one, which they reach at
// LIFT_FRONT; with little interference the weight falls back to the fixed
// blend too (low self-noise).
static float lifted_blend(FieldBinState &st, int k, float fixed, float a_re, float a_im,
                          float beam_re, float beam_im)
{
    const float d_re = a_re - beam_re, d_im = a_im - beam_im;
    st.lift_cross[k] += (1.0f - LIFT_SMOOTHING) * (a_re * d_re + a_im * d_im - st.lift_cross[k]);
    st.lift_diff[k] += (1.0f - LIFT_SMOOTHING) * (d_re * d_re + d_im * d_im - st.lift_diff[k]);
    if (!(st.lift_diff[k] > 0.0f))
        return fixed;
    const float best = st.lift_cross[k] / st.lift_diff[k];
    if (best <= 1.0f)
        return clamp(best, fixed, 1.0f);
    const float share = clamp((LIFT_FRONT - best) / (LIFT_FRONT - 1.0f), 0.0f, 1.0f);
    return fixed + share * (1.0f - fixed);
}

// Beams, null, equaliser, blend and post-filter for every bin; the output
// spectrum replaces microphone 1's, the rear beam microphone 2's.
static void process_bins(FieldState *fs, bool null_on)
{
    const FieldBinSetup &s = fs->setup;
    FieldBinState &st = fs->stats;
    const float g = fs->mic2_gain;
    const bool postfilter = fs->options.postfilter != 0;
    const bool blend_on = fs->options.calibration != 0;
    float *x1 = fs->spectrum[0];
    float *x2 = fs->spectrum[1];
    for (int k = 0; k < FIELD_BINS; ++k) {
        float a_re, a_im, b_re, b_im;
        get_bin(x1, k, a_re, a_im);
        get_bin(x2, k, b_re, b_im);
        b_re *= g;
        b_im *= g;
        const float p_re = s.steer_re[k], p_im = s.steer_im[k];
        // Front: mic1 - P mic2; rear: mic2 - P mic1.
        const float f_re = a_re - (p_re * b_re - p_im * b_im);
        const float f_im = a_im - (p_re * b_im + p_im * b_re);
        const float r_re = b_re - (p_re * a_re - p_im * a_im);
        const float r_im = b_im - (p_re * a_im + p_im * a_re);
        const float rear_power = r_re * r_re + r_im * r_im;
        float y_re = f_re, y_im = f_im;
        if (null_on) {
            st.cross[k] = NULL_SMOOTHING * st.cross[k] +
                          (1.0f - NULL_SMOOTHING) * (f_re * r_re + f_im * r_im);
            st.rear_power[k] =
                NULL_SMOOTHING * st.rear_power[k] + (1.0f - NULL_SMOOTHING) * rear_power;
            const float beta = st.rear_power[k] > 0.0f ? st.cross[k] / st.rear_power[k] : 0.0f;
            const float b = clamp(beta, 0.0f, s.beta_max[k]);
            y_re -= b * r_re;
            y_im -= b * r_im;
        }
        float z_re = s.eq_re[k] * y_re - s.eq_im[k] * y_im;
        float z_im = s.eq_re[k] * y_im + s.eq_im[k] * y_re;
        float floor_gain = fs->floor_gain;
        if (blend_on) {
            float w = s.blend[k];
            if (null_on && w < 1.0f) {
                // The beam as the lift sees it keeps an on-axis target exactly.
                z_re *= s.unlimit[k];
                z_im *= s.unlimit[k];
                w = lifted_blend(st, k, w, a_re, a_im, z_re, z_im);
            }
            // Where the output leans on microphone 1 the beam rejects nothing:
            // the post-filter may suppress 10 dB deeper there.
            floor_gain *= LOW_FLOOR_SHARE + (1.0f - LOW_FLOOR_SHARE) * w;
            z_re = w * z_re + (1.0f - w) * a_re;
            z_im = w * z_im + (1.0f - w) * a_im;
        }
        if (postfilter) {
            const float out_power = y_re * y_re + y_im * y_im;
            st.pf_out[k] += (1.0f - POSTFILTER_SMOOTHING) * (out_power - st.pf_out[k]);
            st.pf_rear[k] += (1.0f - POSTFILTER_SMOOTHING) * (rear_power - st.pf_rear[k]);
            float gain = 1.0f;
            if (s.postfilter_on[k] > 0.0f) {
                const float ratio = st.pf_out[k] > 0.0f ? st.pf_rear[k] / st.pf_out[k] : 0.0f;
                gain = clamp((1.0f - ratio) / (1.0f - POSTFILTER_FREE_RATIO), floor_gain, 1.0f);
            }
            z_re *= gain;
            z_im *= gain;
        }
        const float e_re = s.eq_re[k] * r_re - s.eq_im[k] * r_im;
        const float e_im = s.eq_re[k] * r_im + s.eq_im[k] * r_re;
        put_bin(x1, k, z_re, z_im);
        put_bin(x2, k, e_re, e_im);
    }
}

static int16_t to_sample(float v)
{
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return (int16_t)(int32_t)(v >= 0.0f ? v + 0.5f : v - 0.5f);
}

// Inverse transform, synthesis window, overlap-add of the first half with
// the kept tail; the second half becomes the new tail.
static void synthesise(FieldState *fs, int m, int16_t *block)
{
    float *x = fs->spectrum[m];
    float *tail = fs->overlap[m];
    ifft(&fs->fft, x, x);
    for (int i = 0; i < VELDRA_BLOCK; ++i) {
        block[i] = to_sample(tail[i] + x[i] * fs->window[i]);
        tail[i] = x[VELDRA_BLOCK + i] * fs->window[VELDRA_BLOCK + i];
    }
}

void field_second_step(VeldraControl *ctrl, const int16_t *mic1, const int16_t *mic2, int16_t *out,
                       uint32_t target_at)
{
    FieldState *fs = field_state(ctrl);
    analyse(fs, 0, mic1);
    analyse(fs, 1, mic2);
    if (fs->options.calibration && ctrl->mic2_gain == 0.0f)
        calibrate(fs);
    const bool null_on = fs->options.protected_null && ctrl->algorithm_type >= VELDRA_TYPE_ADAPTIVE;
    process_bins(fs, null_on);
    synthesise(fs, 0, out);
    if (ctrl->second_output == VELDRA_SECOND_OUTPUT_REAR)
        synthesise(fs, 1, fs->rear_ring + target_at);
}
