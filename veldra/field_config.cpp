// Field mode: options, sizing, start-up and the per-frequency set-up from
// spacing, gain mode and stages.
#include <string.h>

#include "equaliser.h"
#include "field_mode.h"
#include "pdm_filter.h"

#define FIELD_PI 3.14159265358979f
#define FIELD_SOUND_SPEED 343.0f
// Blend toward microphone 1 where the beam's on-axis level |1 - exp(-2 j w tau)|
// is below BLEND_HIGH, all microphone 1 below BLEND_LOW: limits the
// equaliser gain (and the self-noise) to 1 / BLEND_HIGH.
#define BLEND_LOW 0.08f
#define BLEND_HIGH 0.16f
#define POSTFILTER_FIRST_BIN 1 // the DC bin carries no direction
#define CALIBRATED_GAIN_START 1.0f

float field_sin(float x)
{
    // Reduce to [-pi, pi], then to [-pi/2, pi/2] by sin(pi - x) = sin(x).
    const float two_pi = 2.0f * FIELD_PI;
    const float turns = x / two_pi;
    const float whole = (float)(int32_t)(turns + (turns >= 0.0f ? 0.5f : -0.5f));
    x = x - whole * two_pi;
    if (x > 0.5f * FIELD_PI)
        x = FIELD_PI - x;
    if (x < -0.5f * FIELD_PI)
        x = -FIELD_PI - x;
    const float x2 = x * x;
    // Taylor series to x^13: error below 1e-9 on [-pi/2, pi/2].
    float p = 1.0f / 6227020800.0f;
    p = p * x2 - 1.0f / 39916800.0f;
    p = p * x2 + 1.0f / 362880.0f;
    p = p * x2 - 1.0f / 5040.0f;
    p = p * x2 + 1.0f / 120.0f;
    p = p * x2 - 1.0f / 6.0f;
    p = p * x2 + 1.0f;
    return p * x;
}

float field_cos(float x)
{
    return field_sin(x + 0.5f * FIELD_PI);
}

extern "C" uint32_t Veldra_getFieldDefaults(VeldraFieldOptions *options)
{
    options->decimation = 1;
    options->protected_null = 1;
    options->postfilter = 1;
    options->calibration = 1;
    options->postfilter_floor_db = -30.0f;
    return 0;
}

static uint32_t spec_size(const VeldraHandle *handle)
{
    VeldraHandle sized = *handle;
    Veldra_getMemorySize(&sized);
    return sized.internal_memory_size;
}

extern "C" uint32_t Veldra_getFieldMemorySize(VeldraHandle *handle)
{
    // Room to align the field region to 8 bytes behind the default part.
    const uint32_t size = spec_size(handle) + 4u + (uint32_t)sizeof(FieldState);
    handle->internal_memory_size = (size + 3u) & ~3u;
    return 0;
}

// Copies valid options; a bad one is replaced by its default.
static uint32_t store_options(FieldState *fs, const VeldraFieldOptions *options)
{
    VeldraFieldOptions o;
    Veldra_getFieldDefaults(&o);
    uint32_t errors = 0;
    const uint8_t flags[4] = {options->decimation, options->protected_null, options->postfilter,
                              options->calibration};
    uint8_t *stored[4] = {&o.decimation, &o.protected_null, &o.postfilter, &o.calibration};
    for (int i = 0; i < 4; ++i) {
        if (flags[i] > 1u)
            errors = VELDRA_ERR_FIELD;
        else
            *stored[i] = flags[i];
    }
    const float floor_db = options->postfilter_floor_db;
    if (floor_db >= -40.0f && floor_db <= 0.0f)
        o.postfilter_floor_db = floor_db;
    else
        errors = VELDRA_ERR_FIELD;
    fs->options = o;
    // 10^(dB/20) by repeated steps of 0.5 dB and a linear rest: arithmetic only.
    float gain = 1.0f;
    float db = o.postfilter_floor_db;
    for (; db <= -0.5f; db += 0.5f)
        gain *= 0.94406088f;
    fs->floor_gain = gain * (1.0f + 0.11512925f * db);
    return errors;
}

extern "C" uint32_t Veldra_InitField(VeldraHandle *handle, const VeldraFieldOptions *options)
{
    uint32_t errors = Veldra_Init(handle);
    VeldraControl *ctrl = veldra_control(handle);
    uint32_t at = spec_size(handle);
    VeldraHandle field_sized = *handle;
    Veldra_getFieldMemorySize(&field_sized);
    if (handle->internal_memory_size < field_sized.internal_memory_size || options == nullptr)
        return errors | VELDRA_ERR_FIELD;
    const uintptr_t address = reinterpret_cast<uintptr_t>(ctrl) + at;
    at += (uint32_t)(((address + 7u) & ~(uintptr_t)7u) - address);
    ctrl->field_at = at;
    FieldState *fs = field_state(ctrl);
    errors |= store_options(fs, options);
    fs->mic2_gain = CALIBRATED_GAIN_START;
    fft_table_init(&fs->fft, FIELD_WINDOW);
    for (int i = 0; i < FIELD_WINDOW; ++i)
        fs->window[i] = field_sin(FIELD_PI * (float)i / (float)FIELD_WINDOW);
    return errors;
}

extern "C" uint32_t Veldra_setFieldOptions(VeldraHandle *handle, const VeldraFieldOptions *options)
{
    VeldraControl *ctrl = veldra_control(handle);
    if (ctrl->field_at == 0 || options == nullptr)
        return VELDRA_ERR_FIELD;
    const uint32_t errors = store_options(field_state(ctrl), options);
    if (ctrl->path != VELDRA_PATH_NONE)
        field_configure(ctrl);
    return errors;
}

float field_estimated_gain(VeldraControl *ctrl)
{
    return field_state(ctrl)->mic2_gain;
}

static void setup_decimation(VeldraControl *ctrl, FieldState *fs)
{
    if (ctrl->data_format != VELDRA_FORMAT_PDM)
        return;
    if (fs->options.decimation) {
        field_decimator_init(&fs->decimator[0], ctrl->sampling_frequency, ctrl->mic1_stride, 1,
                             ctrl->volume);
        field_decimator_init(&fs->decimator[1], ctrl->sampling_frequency, ctrl->mic2_stride, 1,
                             ctrl->volume);
    } else {
        veldra_setup_filter(ctrl, FILTER_A, 1, ctrl->mic1_stride); // the default filters
        veldra_setup_filter(ctrl, FILTER_B, 1, ctrl->mic2_stride);
    }
}

// Largest rear-beam weight b with which a plane wave from the front sector
// loses at most the allowed level. For a wave from angle t the ratio of the
// rear to the front beam is real: sin(a (1 - cos t)) / sin(a (1 + cos t)),
// a = w tau / 2, so the nulled output is the front beam times 1 - b ratio.
static float protected_weight(float a)
{
    static const float kCosines[3] = {0.8660254f, 0.70710678f, 0.5f};      // 30, 45, 60 degrees
    static const float kKept[3] = {0.89125094f, 0.84139514f, 0.79432823f}; // -1, -1.5, -2 dB
    float limit = 1.0f;
    for (int i = 0; i < 3; ++i) {
        const float front = field_sin(a * (1.0f + kCosines[i]));
        const float rear = field_sin(a * (1.0f - kCosines[i]));
        if (front <= 0.0f || rear <= 0.0f)
            return 0.0f;
        const float b = (1.0f - kKept[i]) * front / rear;
        if (b < limit)
            limit = b;
    }
    return limit;
}

static void setup_bins(VeldraControl *ctrl, FieldState *fs)
{
    FieldBinSetup &s = fs->setup;
    const float tau = (float)ctrl->mic_distance * 1e-4f / FIELD_SOUND_SPEED * 16000.0f; // samples
    // The standard equaliser: front = KF (x1 - (KR / KF) P x2) / (256 - pole e^-jw).
    EqualiserRecord standard;
    equaliser_configure(&standard, nullptr, ctrl->mic_distance,
                        ctrl->mic2_gain > 0.0f ? ctrl->mic2_gain : 1.0f);
    for (int k = 0; k < FIELD_BINS; ++k) {
        const float w = 2.0f * FIELD_PI * (float)k / (float)FIELD_WINDOW;
        const float phase = w * tau;
        s.steer_re[k] = field_cos(phase);
        s.steer_im[k] = -field_sin(phase);
        if (fs->options.calibration) {
            // 1 / (1 - exp(-2 j w tau)); |1 - exp(-2 j phase)| = 2 |sin phase|.
            const float d_re = 1.0f - field_cos(2.0f * phase);
            const float d_im = field_sin(2.0f * phase);
            const float mag2 = d_re * d_re + d_im * d_im;
            const float level =
                2.0f * field_sin(phase < 0.5f * FIELD_PI ? phase : FIELD_PI - phase);
            const float limited = mag2 > BLEND_LOW * BLEND_LOW ? mag2 : BLEND_LOW * BLEND_LOW;
            s.eq_re[k] = d_re / limited;
            s.eq_im[k] = -d_im / limited;
            float blend = (level - BLEND_LOW) / (BLEND_HIGH - BLEND_LOW);
            s.blend[k] = blend < 0.0f ? 0.0f : (blend > 1.0f ? 1.0f : blend);
            s.unlimit[k] = k > 0 && mag2 > 0.0f ? limited / mag2 : 1.0f;
        } else {
            const float pole = (float)standard.pole;
            const float den_re = 256.0f - pole * field_cos(w);
            const float den_im = pole * field_sin(w);
            const float den2 = den_re * den_re + den_im * den_im;
            s.eq_re[k] = (float)standard.k_direct * den_re / den2;
            s.eq_im[k] = -(float)standard.k_direct * den_im / den2;
            s.blend[k] = 1.0f;
            s.unlimit[k] = 1.0f;
        }
        s.beta_max[k] = k == 0 ? 0.0f : protected_weight(0.5f * phase);
        s.postfilter_on[k] = k >= POSTFILTER_FIRST_BIN ? 1.0f : 0.0f;
    }
    if (!fs->options.calibration) {
        fs->mic2_gain =
            standard.k_direct ? (float)standard.k_delayed / (float)standard.k_direct : 1.0f;
    } else if (ctrl->mic2_gain > 0.0f) {
        fs->mic2_gain = ctrl->mic2_gain;
    }
}

void field_configure(VeldraControl *ctrl)
{
    FieldState *fs = field_state(ctrl);
    setup_decimation(ctrl, fs);
    setup_bins(ctrl, fs);
    fs->spectral_setup = 1;
}
