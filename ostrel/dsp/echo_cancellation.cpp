// One frame of the two-path frequency-domain adaptive echo canceller.
#include <math.h>
#include <string.h>

#include "echo.h"

namespace
{

// Energies of one frame (sums over F samples, see Echo_cancellation).
struct FrameEnergies {
    float Ex;  // far end, counted twice from the leak update on
    float Ef;  // foreground error
    float Eb;  // background error
    float Ed;  // difference of the two echo estimates, plus 10
    float Ey;  // background echo estimate
    float Eey; // error times echo estimate
    float Em;  // conditioned microphone
};

float sum_squares(const float *v, int32_t count)
{
    float sum = 0.0f;
    for (int32_t i = 0; i < count; ++i)
        sum += v[i] * v[i];
    return sum;
}

float *block(float *spectra, int32_t j, int32_t N)
{
    return spectra + j * N;
}

// DC notch (when the library uses it) and pre-emphasis of the microphone.
void condition_microphone(EchoState *st, const int16_t *mic)
{
    const int32_t F = st->frame_size;
    if (st->tuning->dc_notch) {
        const float r = st->notch_radius;
        const float d = r * r + 0.7f * (1.0f - r) * (1.0f - r);
        for (int32_t i = 0; i < F; ++i) {
            const float v = (float)mic[i];
            const float t = st->notch_mem[0] + v;
            st->notch_mem[0] = st->notch_mem[1] + 2.0f * (r * t - v);
            st->notch_mem[1] = v - d * t;
            st->m[i] = r * t;
        }
    } else {
        for (int32_t i = 0; i < F; ++i)
            st->m[i] = (float)mic[i];
    }
    for (int32_t i = 0; i < F; ++i) {
        const float before = st->m[i];
        st->m[i] = before - st->preemphasis * st->dm;
        st->dm = before;
    }
}

// Shifts the far-end buffer and spectra by one frame; returns the energy of
// the new far-end frame.
float push_far_end(EchoState *st, const int16_t *ref)
{
    const int32_t F = st->frame_size;
    const int32_t N = st->window_size;
    for (int32_t i = 0; i < F; ++i) {
        st->x[i] = st->x[i + F];
        st->x[i + F] = (float)ref[i] - st->preemphasis * st->dx;
        st->dx = (float)ref[i];
    }
    memmove(block(st->X, 1, N), st->X, (size_t)(st->blocks * N) * sizeof(float));
    fft(st->table, st->x, st->X);
    return sum_squares(st->x + F, F);
}

// e[0..F-1] = foreground error, e[F..N-1] = foreground echo estimate.
float foreground_error(EchoState *st)
{
    const int32_t F = st->frame_size;
    spectral_mul_accum(st->X, st->foreground, st->Y, st->window_size, st->blocks);
    ifft(st->table, st->Y, st->e);
    for (int32_t i = 0; i < F; ++i)
        st->e[i] = st->m[i] - st->e[F + i];
    return sum_squares(st->e, F);
}

// Step factor of the first block from the energy of its weights.
void update_first_block_step(EchoState *st)
{
    float p = sqrtf(sum_squares(st->W, st->window_size));
    if (p >= 1.0000001f)
        p += 0.1f * p;
    else
        p += 0.1f;
    st->lambda[0] = 0.99f * p / (1.0f + p);
}

void update_background(EchoState *st)
{
    const int32_t N = st->window_size;
    if (st->saturated > 0) {
        st->saturated -= 1;
        return;
    }
    for (int32_t j = st->blocks - 1; j >= 0; --j) {
        weighted_spectral_mul_conj(st->mu, st->lambda[j], block(st->X, j + 1, N), st->E, st->G, N);
        float *w = block(st->W, j, N);
        for (int32_t i = 0; i < N; ++i)
            w[i] += st->G[i];
    }
}

// Keeps the weights causal and one frame long: block 0 every frame, the
// others in turn (with a single block there is no rotation).
void constrain_filters(EchoState *st)
{
    const int32_t F = st->frame_size;
    const int32_t N = st->window_size;
    const int32_t M = st->blocks;
    for (int32_t j = 0; j < M; ++j) {
        const bool due = j == 0 || (M > 1 && st->frame_count % (M - 1) == j - 1);
        if (!due)
            continue;
        float *w = block(st->W, j, N);
        ifft(st->table, w, st->scratch);
        memset(st->scratch + F, 0, (size_t)(N - F) * sizeof(float));
        fft(st->table, st->scratch, w);
    }
    memset(st->PE, 0, sizeof(st->PE));
    memset(st->PY, 0, sizeof(st->PY));
    memset(st->PX, 0, sizeof(st->PX));
}

// y = background echo estimate; e[0..F-1] becomes the background error.
void background_error(EchoState *st, FrameEnergies *en)
{
    const int32_t F = st->frame_size;
    spectral_mul_accum(st->X, st->W, st->Y, st->window_size, st->blocks);
    ifft(st->table, st->Y, st->y);
    float Ed = 10.0f;
    for (int32_t i = 0; i < F; ++i) {
        const float d = st->e[F + i] - st->y[F + i];
        Ed += d * d;
    }
    en->Ed = Ed;
    for (int32_t i = 0; i < F; ++i)
        st->e[i] = st->m[i] - st->y[F + i];
    en->Eb = sum_squares(st->e, F);
}

float signed_square(float v)
{
    return v * fabsf(v);
}

// Two-path decision: the foreground takes over the background filter when
// that is clearly better, or the background falls back to the foreground.
void choose_filter(EchoState *st, FrameEnergies *en)
{
    const EchoTuning *tune = st->tuning;
    const int32_t F = st->frame_size;
    const int32_t MN = st->blocks * st->window_size;
    const float Ef = en->Ef, Ed = en->Ed;
    const float delta = Ef - en->Eb;
    st->A1 = 0.6f * st->A1 + 0.4f * delta;
    st->A2 = 0.85f * st->A2 + 0.15f * delta;
    st->V1 = tune->var1_smooth * st->V1 + (0.4f * Ef) * (0.4f * Ed);
    st->V2 = tune->var2_smooth * st->V2 + (0.15f * Ef) * (0.15f * Ed);

    if (signed_square(delta) > Ef * Ed || signed_square(st->A1) > tune->var1_update * st->V1 ||
        signed_square(st->A2) > tune->var2_update * st->V2) {
        st->A1 = st->A2 = st->V1 = st->V2 = 0.0f;
        memcpy(st->foreground, st->W, (size_t)MN * sizeof(float));
        for (int32_t i = 0; i < F; ++i)
            st->e[F + i] = st->window[F + i] * st->e[F + i] + st->window[i] * st->y[F + i];
    } else if (-signed_square(delta) > tune->var_backtrack * Ef * Ed ||
               -signed_square(st->A1) > tune->var_backtrack * st->V1 ||
               -signed_square(st->A2) > tune->var_backtrack * st->V2) {
        memcpy(st->W, st->foreground, (size_t)MN * sizeof(float));
        for (int32_t i = 0; i < F; ++i) {
            st->y[F + i] = st->e[F + i];
            st->e[i] = st->m[i] - st->y[F + i];
        }
        en->Eb = Ef;
        st->A1 = st->A2 = st->V1 = st->V2 = 0.0f;
    }
}

int16_t round_to_sample(float v)
{
    if (v != v) // NaN from a diverged filter: the frame is silenced anyway
        return 0;
    if (v < -32767.5f)
        return -32768;
    if (v >= 32766.501953125f)
        return 32767;
    return (int16_t)floorf(v + 0.5f);
}

// De-emphasised foreground error, rounded and saturated to 16 bits; a
// clipped microphone suspends the next background update.
void write_output(EchoState *st, const int16_t *mic, int16_t *out)
{
    const int32_t F = st->frame_size;
    for (int32_t i = 0; i < F; ++i) {
        const float v = st->m[i] - st->e[F + i] + st->preemphasis * st->de;
        st->de = v;
        out[i] = round_to_sample(v);
        if ((mic[i] >= 32000 || mic[i] <= -32000) && st->saturated == 0)
            st->saturated = 1;
    }
}

// Error and echo-estimate spectra for the next update and the leak estimate.
void error_spectra(EchoState *st, FrameEnergies *en)
{
    const int32_t F = st->frame_size;
    const int32_t N = st->window_size;
    float Eey = 0.0f;
    float Ey = 0.0f;
    for (int32_t i = 0; i < F; ++i) {
        st->e[F + i] = st->e[i];
        st->e[i] = 0.0f;
        Eey += st->e[F + i] * st->y[F + i];
        Ey += st->y[F + i] * st->y[F + i];
    }
    en->Eey = Eey;
    en->Ey = Ey;
    en->Em = sum_squares(st->m, F);
    fft(st->table, st->e, st->E);
    memset(st->y, 0, (size_t)F * sizeof(float));
    fft(st->table, st->y, st->Y);
    power_spectrum_accum(st->E, st->PE, N);
    power_spectrum_accum(st->Y, st->PY, N);
}

// Returns true when the state was reset and the frame ends.
bool check_divergence(EchoState *st, const FrameEnergies *en, int16_t *out)
{
    const float N = (float)st->window_size;
    const float limit = N * 1e9f; // 2.56e11 for N = 256
    bool gross = !(en->Ey >= 0.0f && en->Ex >= 0.0f && en->Eb >= 0.0f);
    if (st->tuning->divergence_upper_bound)
        gross = gross || !(en->Ef < limit && en->Ey < limit && en->Ex < limit);
    if (gross) {
        st->divergence_count += 50;
        memset(out, 0, (size_t)st->frame_size * sizeof(int16_t));
    } else if (en->Ef > en->Em + N * 1e4f) {
        st->divergence_count += 1;
    } else {
        st->divergence_count = 0;
    }
    if (st->divergence_count >= 50) {
        Echo_state_reset(st);
        return true;
    }
    return false;
}

void update_far_power(EchoState *st, float sigma)
{
    const int32_t F = st->frame_size;
    power_spectrum_accum(st->X, st->PX, st->window_size);
    for (int32_t k = 0; k <= F; ++k)
        st->P[k] = (1.0f - sigma) * st->P[k] + 1.0f + sigma * st->PX[k];
}

// Echo leakage: correlation of the error and echo-estimate power changes.
void estimate_leak(EchoState *st, const FrameEnergies *en)
{
    const float a = st->a;
    float c_ey = 1.0f;
    float c_yy = 1.0f;
    for (int32_t k = st->frame_size; k >= 0; --k) {
        const float dE = st->PE[k] - st->AE[k];
        const float dY = st->PY[k] - st->AY[k];
        c_ey += dE * dY;
        c_yy += dY * dY;
        st->AE[k] = (1.0f - a) * st->AE[k] + a * st->PE[k];
        st->AY[k] = (1.0f - a) * st->AY[k] + a * st->PY[k];
    }
    c_yy = c_yy > 0.0f ? sqrtf(c_yy) : 0.0f;
    c_ey = c_ey / c_yy;
    const float alpha = fminf(st->b0 * en->Ey, st->b_max * en->Eb) / en->Eb;
    st->C_ey = (1.0f - alpha) * st->C_ey + alpha * c_ey;
    st->C_yy = (1.0f - alpha) * st->C_yy + alpha * c_yy;
    if (st->C_yy < 1.0f)
        st->C_yy = 1.0f;
    if (st->C_ey < st->tuning->min_leak * st->C_yy)
        st->C_ey = st->tuning->min_leak * st->C_yy;
    if (st->C_ey > st->C_yy)
        st->C_ey = st->C_yy;
    st->leak = st->C_ey / st->C_yy;
    if (st->leak >= 16383.001f)
        st->leak = 32767.0f;
}

float residual_to_error_ratio(const EchoState *st, const FrameEnergies *en)
{
    float rho = (0.0001f * en->Ex + 3.0f * st->leak * en->Ey) / en->Eb;
    const float floor_ratio = en->Eey * en->Eey / (1.0f + en->Eb * en->Ey);
    if (floor_ratio > rho)
        rho = floor_ratio;
    if (rho >= 0.5000001f)
        rho = 0.5f;
    return rho;
}

// Adaptation step per bin: from the leak and the residual-to-error ratio
// once adapted, else proportional to the far-end energy.
void update_steps(EchoState *st, const FrameEnergies *en, float rho)
{
    const int32_t F = st->frame_size;
    if (!st->adapted && (float)st->blocks < st->adaptation_sum &&
        st->leak * en->Ey > 0.03f * en->Ey)
        st->adapted = 1;
    if (st->adapted) {
        for (int32_t k = 0; k <= F; ++k) {
            const float pe = st->PE[k] + 1.0f;
            float t = fminf(st->leak * st->PY[k], 0.5f * pe);
            t = 0.7f * t + 0.3f * rho * pe;
            st->mu[k] = t / ((st->P[k] + 10.0f) * pe);
        }
        return;
    }
    float rate = 0.0f;
    // Adapt only once the far end carries more than N * 1000 of energy.
    if (en->Ex > 1000.0f * (float)st->window_size)
        rate = fminf(0.25f * en->Ex, 0.25f * en->Eb) / en->Eb;
    for (int32_t k = 0; k <= F; ++k)
        st->mu[k] = rate / (st->P[k] + 10.0f);
    st->adaptation_sum += rate;
}

// Echo history for the residual estimate: what the canceller removed.
void update_history(EchoState *st, const int16_t *mic, const int16_t *out)
{
    const int32_t F = st->frame_size;
    for (int32_t i = 0; i < F; ++i)
        st->h[i] = st->h[F + i];
    if (!st->adapted)
        return;
    for (int32_t i = 0; i < F; ++i)
        st->h[F + i] = (float)((int32_t)mic[i] - (int32_t)out[i]);
}

} // namespace

extern "C" void Echo_cancellation(EchoState *st, const int16_t *mic, const int16_t *ref,
                                  int16_t *out)
{
    FrameEnergies en;
    st->frame_count += 1;
    const float sigma = (float)(0.35 / (double)st->blocks);

    condition_microphone(st, mic);
    en.Ex = push_far_end(st, ref);
    en.Ef = foreground_error(st);
    if (st->adapted)
        update_first_block_step(st);
    update_background(st);
    constrain_filters(st);
    background_error(st, &en);
    choose_filter(st, &en);
    write_output(st, mic, out);
    error_spectra(st, &en);
    if (check_divergence(st, &en, out))
        return;

    const float min_error = 100.0f * (float)st->window_size;
    if (en.Eb < min_error)
        en.Eb = min_error;
    en.Ex += sum_squares(st->x + st->frame_size, st->frame_size);
    update_far_power(st, sigma);
    estimate_leak(st, &en);
    update_steps(st, &en, residual_to_error_ratio(st, &en));
    update_history(st, mic, out);
}
