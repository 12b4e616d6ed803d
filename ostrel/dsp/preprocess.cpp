// Noise suppressor with residual-echo suppression and gain control.
#include "preprocess.h"

#include <math.h>
#include <string.h>

namespace
{

constexpr int32_t kFrame = PREPROCESS_FRAME;
constexpr int32_t kWindow = PREPROCESS_WINDOW;
constexpr int32_t kBins = PREPROCESS_BINS;
constexpr int32_t kBands = PREPROCESS_BANDS;
constexpr int32_t kMaxFrameCount = 20000;
constexpr float kAgcPeakLimit = 28000.0f;
constexpr double kPi = 3.14159265358979323846;

// Interpolation table of the estimator gain, at steps of 0.5 in theta.
const float kHypergeomTable[21] = {0.82157f, 1.02017f, 1.20461f, 1.37534f, 1.53363f, 1.68092f,
                                   1.81865f, 1.94811f, 2.07038f, 2.18638f, 2.29688f, 2.40255f,
                                   2.50391f, 2.60144f, 2.69551f, 2.78647f, 2.87458f, 2.96015f,
                                   3.04333f, 3.12431f, 3.20326f};

// Estimator gain factor for theta = w (1 + eta); 1 for a non-positive or
// undefined theta, the asymptote 1 + 0.1296/theta from theta = 10 on.
float hypergeom_gain(float theta)
{
    if (!(theta >= 0.0f))
        return 1.0f;
    if (theta >= 10.0f)
        return 1.0f + 0.1296f / theta;
    const float twice = 2.0f * theta;
    const int32_t k = static_cast<int32_t>(twice);
    const float frac = twice - static_cast<float>(k);
    return ((1.0f - frac) * kHypergeomTable[k] + frac * kHypergeomTable[k + 1]) /
           sqrtf(theta + 0.0001f);
}

// Q(x) = 1 / (1 + 0.15/x), written so that x = 0 gives 0 without dividing by 0.
float speech_odds(float x)
{
    return x / (x + 0.15f);
}

float min3(float a, float b, float c)
{
    const float ab = a < b ? a : b;
    return ab < c ? ab : c;
}

// Overlap-added sample to 16 bits: truncation toward zero, saturated.
int16_t to_sample(float v)
{
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    if (v != v)
        return 0;
    return static_cast<int16_t>(static_cast<int32_t>(v));
}

// Float to int32 by truncation, bounded to the int32 range (NaN gives 0).
int32_t to_int32(double v)
{
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0)
        return -2147483647 - 1;
    if (v != v)
        return 0;
    return static_cast<int32_t>(v);
}

// dB value of a linear factor, rounded: floor(0.5 + 8.6858 ln(factor)).
int32_t factor_to_db(double factor, double scale)
{
    return to_int32(floor(0.5 + 8.6858 * log(factor) * scale));
}

int32_t negative_magnitude(int32_t v)
{
    return v > 0 ? -v : v;
}

float clamp_agc_level(float level)
{
    if (!(level >= 1.0f))
        return 1.0f;
    return level > 32768.0f ? 32768.0f : level;
}

// Power-complementary analysis/synthesis window of 256 points.
void build_window(float *window, int32_t len)
{
    for (int32_t i = 0; i < len; i++) {
        double x = 4.0 * i / len;
        bool inverted = false;
        if (x < 1.0) {
        } else if (x < 2.0) {
            x = 2.0 - x;
            inverted = true;
        } else if (x < 3.0) {
            x = x - 2.0;
            inverted = true;
        } else {
            x = 4.0 - x;
        }
        const double c = 0.5 - 0.5 * cos(0.5 * kPi * 1.271903 * x);
        double t = c * c;
        if (inverted)
            t = 1.0 - t;
        window[i] = t > 0.0 ? static_cast<float>(sqrt(t)) : 0.0f;
    }
}

// Perceptual weight of each bin for the loudness measure of the gain control.
void build_loudness_weight(float *weight, int32_t bins, int32_t rate)
{
    for (int32_t i = 0; i < bins; i++) {
        const double f = 0.5 * i * rate / bins;
        const double d = f - 3800.0;
        double w = 0.35 - 0.35 * f / 16000.0 + 0.73 * exp(-0.5 * d * d / 900000.0);
        if (w < 0.01)
            w = 0.01;
        weight[i] = static_cast<float>(w * w);
    }
}

// Residual-echo power of the linked canceller, smoothed per bin.
void update_echo_noise(PreprocessState *st)
{
    float *echo_noise = st->echo_noise;
    if (st->echo_state == NULL) {
        memset(echo_noise, 0, sizeof(st->echo_noise));
        return;
    }
    float *residual = st->residual_echo;
    if (st->external_residual != NULL)
        memcpy(residual, st->external_residual, ECHO_BINS * sizeof(float));
    else
        Echo_get_residual(st->echo_state, residual);
    const float limit = static_cast<float>(kBins) * 1e9f;
    if (!(residual[0] >= 0.0f && residual[0] < limit))
        memset(residual, 0, kBins * sizeof(float));
    for (int32_t i = 0; i < kBins; i++) {
        const float decayed = 0.6f * echo_noise[i];
        echo_noise[i] = residual[i] > decayed ? residual[i] : decayed;
    }
    filterbank_compute_bank32(st->bank, echo_noise, echo_noise + kBins);
}

// The noise estimate follows the power where no speech is likely,
// and always follows it downward.
void update_noise_estimate(PreprocessState *st, float beta)
{
    for (int32_t i = 0; i < kBins; i++) {
        if (!st->speech_likely[i] || st->Pw[i] < st->noise[i]) {
            const float v = (1.0f - beta) * st->noise[i] + beta * st->Pw[i];
            st->noise[i] = v > 0.0f ? v : 0.0f;
        }
    }
    filterbank_compute_bank32(st->bank, st->noise, st->noise + kBins);
}

// A-posteriori and a-priori SNR per band; returns p_frame.
float estimate_snr(PreprocessState *st)
{
    float zeta_sum = 0.0f;
    for (int32_t b = 0; b < kBands; b++) {
        const float power = st->Pw[kBins + b];
        const float total = st->noise[kBins + b] + 1.0f + st->echo_noise[kBins + b];
        float eta = power / total - 1.0f;
        if (eta > 100.0f)
            eta = 100.0f;
        st->eta[b] = eta;
        const float ratio = st->Pc[b] / (st->Pc[b] + total);
        const float u = 0.1f + 0.89f * ratio * ratio;
        float xi = u * (eta > 0.0f ? eta : 0.0f) + (1.0f - u) * st->Pc[b] / total;
        if (xi > 100.0f)
            xi = 100.0f;
        st->xi[b] = xi;
        st->zeta[b] = 0.7f * st->zeta[b] + 0.3f * xi;
        zeta_sum += st->zeta[b];
    }
    return 0.1f + 0.899f * speech_odds(zeta_sum / static_cast<float>(kBands));
}

// Gain floor per band from the noise and residual-echo floors.
void compute_gain_floor(PreprocessState *st, float p_frame)
{
    const float effective_db =
        truncf((1.0f - p_frame) * static_cast<float>(st->echo_attenuation_db) +
               p_frame * static_cast<float>(st->echo_attenuation_active_db));
    const double noise_floor = expf(0.2302585f * static_cast<float>(st->noise_attenuation_db));
    const double echo_floor = expf(0.2302585f * effective_db);
    for (int32_t b = 0; b < kBands; b++) {
        const double noise = st->noise[kBins + b];
        const double echo = st->echo_noise[kBins + b];
        st->g_min[b] = static_cast<float>(sqrt(noise_floor * noise + echo_floor * echo) /
                                          sqrt(1.0 + noise + echo));
    }
}

// Estimator gain and final gain per band, then per bin.
void compute_gains(PreprocessState *st, float p_frame)
{
    for (int32_t b = 0; b < kBands; b++) {
        const float xi = st->xi[b];
        const float w = xi / (xi + 1.0f);
        const float theta = w * (1.0f + st->eta[b]);
        float g_e = w * hypergeom_gain(theta);
        if (g_e > 1.0f)
            g_e = 1.0f;
        st->Pc[b] = 0.2f * st->Pc[b] + 0.8f * g_e * g_e * st->Pw[kBins + b];
        const float p_band = 0.199f + 0.8f * speech_odds(st->zeta[b]);
        const double q = 1.0f - p_frame * p_band;
        const double g_f = 1.0 / (1.0 + q / (1.0 - q) * (1.0 + static_cast<double>(xi)) *
                                            exp(-static_cast<double>(theta)));
        const float g_min = st->g_min[b];
        if (g_e < g_min)
            g_e = g_min;
        st->g_e[b] = g_e;
        const float gf = static_cast<float>(g_f);
        const float mixed = gf * sqrtf(g_e) + (1.0f - gf) * sqrtf(g_min);
        st->g_f[kBins + b] = mixed * mixed;
    }
    filterbank_compute_psd16(st->bank, st->g_f + kBins, st->g_f);
}

// The bin gains applied to the half-complex spectrum.
void apply_gains(PreprocessState *st)
{
    float *T = st->T;
    T[0] *= st->g_f[0];
    for (int32_t i = 1; i < kBins; i++) {
        T[2 * i - 1] *= st->g_f[i];
        T[2 * i] *= st->g_f[i];
    }
    T[kWindow - 1] *= st->g_f[kBins - 1];
}

// With gain control on, a frame peak above 28000 scales the frame down.
void limit_peak(float *frame)
{
    float peak = 0.0f;
    for (int32_t i = 0; i < kWindow; i++) {
        const float a = fabsf(frame[i]);
        if (a > peak)
            peak = a;
    }
    if (peak > kAgcPeakLimit) {
        const float scale = kAgcPeakLimit / peak;
        for (int32_t i = 0; i < kWindow; i++)
            frame[i] *= scale;
    }
}

// Speech decision with hysteresis: enter above the start probability, stay
// above the continue probability.
int32_t decide_voice(PreprocessState *st, float p_frame)
{
    const float threshold = st->voice_active ? st->speech_prob_continue : st->speech_prob_start;
    st->voice_active = p_frame > threshold ? 1 : 0;
    return st->voice_active;
}

} // namespace

extern "C" size_t Preprocess_memory_size(void)
{
    return sizeof(PreprocessState);
}

extern "C" int32_t Preprocess_init(PreprocessState *st, int32_t frame_size, int32_t sampling_rate)
{
    if (st == NULL || frame_size != kFrame || sampling_rate <= 0)
        return -1;
    st->frame_size = frame_size;
    st->ps_size = kBins;
    st->sampling_rate = sampling_rate;
    st->nbands = kBands;

    st->denoise_enabled = 1;
    st->vad_enabled = 0;
    st->dereverb_enabled = 0;
    st->reverb_decay = 0.0f;
    st->reverb_level = 0.0f;
    st->speech_prob_start = 0.35f;
    st->speech_prob_continue = 0.2f;
    st->noise_attenuation_db = -15;
    st->echo_attenuation_db = -40;
    st->echo_attenuation_active_db = -15;
    st->speech_prob = 0.0f;
    st->voice_active = 0;

    build_window(st->window, kWindow);
    build_loudness_weight(st->loudness_weight, kBins, sampling_rate);
    for (int32_t i = 0; i < PREPROCESS_BINS_BANDS; i++)
        st->noise[i] = 1.0f;
    for (int32_t b = 0; b < kBands; b++) {
        st->Pc[b] = 1.0f;
        st->g_e[b] = 1.0f;
        st->xi[b] = 1.0f;
        st->eta[b] = 1.0f;
        st->zeta[b] = 0.0f;
    }
    for (int32_t i = 0; i < kBins; i++)
        st->speech_likely[i] = 1;
    memset(st->analysis_mem, 0, sizeof(st->analysis_mem));
    memset(st->synthesis_mem, 0, sizeof(st->synthesis_mem));

    const float frame_seconds = static_cast<float>(frame_size) / static_cast<float>(sampling_rate);
    st->agc_enabled = 0;
    st->agc_level = 0.0f;
    st->loudness_accum = 0.0f;
    st->loudness = 1e-15f;
    st->agc_gain = 1.0f;
    st->max_gain = 30.0f;
    st->max_increase_step = expf(1.38156f * frame_seconds);
    st->max_decrease_step = expf(-4.6052f * frame_seconds);
    st->prev_loudness = 1.0f;
    st->init_max = 1.0f;
    st->nb_adapt = 0;
    st->min_count = 0;
    return 0;
}

extern "C" void Preprocess_analize(PreprocessState *st, const int16_t *samples)
{
    float *frame = st->frame;
    for (int32_t i = 0; i < kFrame; i++) {
        frame[i] = st->analysis_mem[i];
        const float v = static_cast<float>(samples[i]);
        frame[kFrame + i] = v;
        st->analysis_mem[i] = v;
    }
    arm_mult_f32(frame, st->window, frame, kWindow);
    fft(st->fft_table, frame, st->T);

    const float *T = st->T;
    st->Pw[0] = T[0] * T[0];
    for (int32_t i = 1; i < kBins; i++)
        st->Pw[i] = T[2 * i - 1] * T[2 * i - 1] + T[2 * i] * T[2 * i];
    filterbank_compute_bank32(st->bank, st->Pw, st->Pw + kBins);
}

extern "C" void update_noise_prob(PreprocessState *st)
{
    const float *Pw = st->Pw;
    float *S = st->S;
    for (int32_t i = 1; i < kBins - 1; i++)
        S[i] = 0.8f * S[i] + 0.05f * Pw[i - 1] + 0.1f * Pw[i] + 0.05f * Pw[i + 1];
    S[0] = 0.8f * S[0] + 0.2f * Pw[0];
    S[kBins - 1] = 0.8f * S[kBins - 1] + 0.2f * Pw[kBins - 1];

    if (st->nb_adapt == 1) {
        memset(st->S_min, 0, sizeof(st->S_min));
        memset(st->S_cand, 0, sizeof(st->S_cand));
    }
    int32_t window_frames;
    if (st->nb_adapt < 100)
        window_frames = 15;
    else if (st->nb_adapt < 1000)
        window_frames = 50;
    else if (st->nb_adapt < 10000)
        window_frames = 150;
    else
        window_frames = 300;

    if (st->min_count > window_frames) {
        st->min_count = 0;
        for (int32_t i = 0; i < kBins; i++) {
            st->S_min[i] = st->S_cand[i] < S[i] ? st->S_cand[i] : S[i];
            st->S_cand[i] = S[i];
        }
    } else {
        for (int32_t i = 0; i < kBins; i++) {
            if (S[i] < st->S_min[i])
                st->S_min[i] = S[i];
            if (S[i] < st->S_cand[i])
                st->S_cand[i] = S[i];
        }
    }
    for (int32_t i = 0; i < kBins; i++)
        st->speech_likely[i] = 0.4f * S[i] > st->S_min[i] ? 1 : 0;
}

extern "C" void simple_agc(PreprocessState *st, float *T, float p_frame)
{
    float weighted = 0.0f;
    for (int32_t i = 2; i < kBins; i++)
        weighted += 2.0f * static_cast<float>(kBins) * st->Pw[i] * st->loudness_weight[i];
    const float loudness = static_cast<float>(sqrt(1.0 + static_cast<double>(weighted)));

    if (p_frame > 0.3f) {
        const float c = 0.03f * p_frame * p_frame;
        const double scaled = 0.001 * static_cast<double>(loudness);
        st->loudness =
            static_cast<float>((1.0 - static_cast<double>(c)) * static_cast<double>(st->loudness) +
                               static_cast<double>(c) * pow(scaled, 5.0));
        st->loudness_accum = (1.0f - c) * st->loudness_accum + c;
        if (st->max_gain > st->init_max && st->nb_adapt > 20)
            st->init_max *= 1.0f + 0.1f * p_frame * p_frame;
    }

    float target =
        0.001f * st->agc_level * powf(st->loudness / (st->loudness_accum + 0.0001f), -0.2f);
    const float gain = st->agc_gain;
    if ((p_frame > 0.5f && st->nb_adapt > 20) || target < gain) {
        if (target > st->max_increase_step * gain)
            target = st->max_increase_step * gain;
        if (target < st->max_decrease_step * gain && loudness < 10.0f * st->prev_loudness)
            target = st->max_decrease_step * gain;
        st->agc_gain = min3(target, st->max_gain, st->init_max);
    }
    for (int32_t i = 0; i < kWindow; i++)
        T[i] *= st->agc_gain;
    st->prev_loudness = loudness;
}

extern "C" int32_t Preprocess(PreprocessState *st, int16_t *samples)
{
    if (st == NULL || samples == NULL || st->bank == NULL || st->fft_table == NULL)
        return 0;

    if (st->nb_adapt < kMaxFrameCount)
        st->nb_adapt++;
    st->min_count++;
    const float inverse_count = 1.0f / static_cast<float>(st->nb_adapt);
    const float beta = inverse_count > 0.03f ? inverse_count : 0.03f;

    update_echo_noise(st);
    Preprocess_analize(st, samples);
    update_noise_prob(st);
    update_noise_estimate(st, beta);
    if (st->nb_adapt == 1) {
        for (int32_t b = 0; b < kBands; b++)
            st->Pc[b] = st->Pw[kBins + b];
    }

    const float p_frame = estimate_snr(st);
    compute_gain_floor(st, p_frame);
    compute_gains(st, p_frame);
    apply_gains(st);
    if (st->agc_enabled)
        simple_agc(st, st->T, p_frame);

    float *frame = st->frame;
    ifft(st->fft_table, st->T, frame);
    if (st->agc_enabled)
        limit_peak(frame);
    st->speech_prob = p_frame;
    arm_mult_f32(frame, st->window, frame, kWindow);

    for (int32_t i = 0; i < kFrame; i++) {
        samples[i] = to_sample(st->synthesis_mem[i] + frame[i]);
        st->synthesis_mem[i] = frame[kFrame + i];
    }
    return st->vad_enabled ? decide_voice(st, p_frame) : 1;
}

namespace
{

int32_t read_int(const void *ptr)
{
    return *static_cast<const int32_t *>(ptr);
}

void write_int(void *ptr, int32_t v)
{
    *static_cast<int32_t *>(ptr) = v;
}

// Requests on flags, levels and thresholds; -1 when `request` is not one of them.
int32_t setup_settings(PreprocessState *st, int32_t request, void *ptr)
{
    switch (request) {
    case PREPROCESS_SET_DENOISE:
        st->denoise_enabled = read_int(ptr) != 0;
        return 0;
    case PREPROCESS_GET_DENOISE:
        write_int(ptr, st->denoise_enabled);
        return 0;
    case PREPROCESS_SET_AGC:
        st->agc_enabled = read_int(ptr) != 0;
        return 0;
    case PREPROCESS_GET_AGC:
        write_int(ptr, st->agc_enabled);
        return 0;
    case PREPROCESS_SET_VAD:
        st->vad_enabled = read_int(ptr) != 0;
        return 0;
    case PREPROCESS_GET_VAD:
        write_int(ptr, st->vad_enabled);
        return 0;
    case PREPROCESS_SET_AGC_LEVEL:
        st->agc_level = clamp_agc_level(*static_cast<const float *>(ptr));
        return 0;
    case PREPROCESS_GET_AGC_LEVEL:
        *static_cast<float *>(ptr) = st->agc_level;
        return 0;
    case PREPROCESS_SET_DEREVERB:
        st->dereverb_enabled = read_int(ptr) != 0;
        return 0;
    case PREPROCESS_GET_DEREVERB:
        write_int(ptr, st->dereverb_enabled);
        return 0;
    case PREPROCESS_SET_PROB_START:
    case PREPROCESS_SET_PROB_CONTINUE: {
        int32_t percent = read_int(ptr);
        percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
        const float fraction = static_cast<float>(percent) / 100.0f;
        if (request == PREPROCESS_SET_PROB_START)
            st->speech_prob_start = fraction;
        else
            st->speech_prob_continue = fraction;
        return 0;
    }
    case PREPROCESS_GET_PROB_START:
        write_int(ptr, to_int32(st->speech_prob_start * 100.0f));
        return 0;
    case PREPROCESS_GET_PROB_CONTINUE:
        write_int(ptr, to_int32(st->speech_prob_continue * 100.0f));
        return 0;
    case PREPROCESS_SET_NOISE_SUPPRESS:
        st->noise_attenuation_db = negative_magnitude(read_int(ptr));
        return 0;
    case PREPROCESS_GET_NOISE_SUPPRESS:
        write_int(ptr, st->noise_attenuation_db);
        return 0;
    case PREPROCESS_SET_ECHO_SUPPRESS:
        st->echo_attenuation_db = negative_magnitude(read_int(ptr));
        return 0;
    case PREPROCESS_GET_ECHO_SUPPRESS:
        write_int(ptr, st->echo_attenuation_db);
        return 0;
    case PREPROCESS_SET_ECHO_SUPPRESS_ACTIVE:
        st->echo_attenuation_active_db = negative_magnitude(read_int(ptr));
        return 0;
    case PREPROCESS_GET_ECHO_SUPPRESS_ACTIVE:
        write_int(ptr, st->echo_attenuation_active_db);
        return 0;
    case PREPROCESS_SET_AGC_TARGET:
        st->agc_level = clamp_agc_level(static_cast<float>(read_int(ptr)));
        return 0;
    case PREPROCESS_GET_AGC_TARGET:
        write_int(ptr, to_int32(st->agc_level));
        return 0;
    default:
        return -1;
    }
}

// Requests on the gain-control dynamics and the measurements; -1 when
// `request` is not one of them.
int32_t setup_agc_and_readings(PreprocessState *st, int32_t request, void *ptr)
{
    const double frames_per_second = static_cast<double>(st->sampling_rate) / st->frame_size;
    const float db_per_second_scale =
        0.11513f * static_cast<float>(st->frame_size) / static_cast<float>(st->sampling_rate);
    switch (request) {
    case PREPROCESS_SET_AGC_INCREMENT:
        st->max_increase_step = expf(db_per_second_scale * static_cast<float>(read_int(ptr)));
        return 0;
    case PREPROCESS_GET_AGC_INCREMENT:
        write_int(ptr, factor_to_db(st->max_increase_step, frames_per_second));
        return 0;
    case PREPROCESS_SET_AGC_DECREMENT:
        st->max_decrease_step = expf(db_per_second_scale * static_cast<float>(read_int(ptr)));
        return 0;
    case PREPROCESS_GET_AGC_DECREMENT:
        write_int(ptr, factor_to_db(st->max_decrease_step, frames_per_second));
        return 0;
    case PREPROCESS_SET_AGC_MAX_GAIN:
        st->max_gain = expf(0.11513f * static_cast<float>(read_int(ptr)));
        return 0;
    case PREPROCESS_GET_AGC_MAX_GAIN:
        write_int(ptr, factor_to_db(st->max_gain, 1.0));
        return 0;
    case PREPROCESS_GET_AGC_LOUDNESS:
        write_int(ptr, to_int32(powf(st->loudness, 0.2f)));
        return 0;
    case PREPROCESS_GET_AGC_GAIN:
        write_int(ptr, factor_to_db(st->agc_gain, 1.0));
        return 0;
    case PREPROCESS_GET_PSD_SIZE:
    case PREPROCESS_GET_NOISE_PSD_SIZE:
        write_int(ptr, st->ps_size);
        return 0;
    case PREPROCESS_GET_PSD:
    case PREPROCESS_GET_NOISE_PSD: {
        const float *source = request == PREPROCESS_GET_PSD ? st->Pw : st->noise;
        int32_t *out = static_cast<int32_t *>(ptr);
        for (int32_t i = 0; i < kBins; i++)
            out[i] = to_int32(source[i]);
        return 0;
    }
    case PREPROCESS_GET_PROB:
        write_int(ptr, to_int32(st->speech_prob * 100.0f));
        return 0;
    default:
        return -1;
    }
}

} // namespace

extern "C" int32_t Preprocess_setup(PreprocessState *st, int32_t request, void *ptr)
{
    if (st == NULL)
        return -1;
    if (request >= 10 && request <= 13)
        return 0;
    if (request == PREPROCESS_SET_ECHO_STATE) {
        st->echo_state = static_cast<EchoState *>(ptr);
        return 0;
    }
    if (ptr == NULL)
        return -1;
    if (request == PREPROCESS_GET_ECHO_STATE) {
        *static_cast<EchoState **>(ptr) = st->echo_state;
        return 0;
    }
    const int32_t result = setup_settings(st, request, ptr);
    if (result == 0)
        return 0;
    return setup_agc_and_readings(st, request, ptr);
}
