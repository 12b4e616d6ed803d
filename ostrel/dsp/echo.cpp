// Echo canceller set-up, reset and residual-echo estimate; the per-frame
// processing is in echo_cancellation.cpp.
#include "echo.h"

#include <math.h>
#include <string.h>

extern "C" {

const EchoTuning ECHO_TUNING_OSTREL = {0.36f, 0.2f, 0.5f, 0.25f, 0.2f, 0.005f, 1, 1};
const EchoTuning ECHO_TUNING_VELDRA = {0.36f, 0.7225f, 0.5f, 0.25f, 4.0f, 0.005f, 0, 0};
}

// On the 32-bit target the record must fit the beamforming library's
// adaptive-stage region: 17056 bytes with the arrays of one partition.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(EchoState) == 12956, "echo canceller record size on the target");
#endif

namespace
{

const double kPi = 3.14159265358979323846;

int32_t block_count(int32_t frame_size, int32_t filter_length)
{
    int32_t M = (filter_length + frame_size - 1) / frame_size;
    return M < 1 ? 1 : M;
}

void fill(float *v, int32_t count, float value)
{
    for (int32_t i = 0; i < count; ++i)
        v[i] = value;
}

void clear(float *v, int32_t count)
{
    memset(v, 0, (size_t)count * sizeof(float));
}

// lambda[0] = 0.7, each next block exp(-2.4/M) of the previous, normalised
// so that the factors sum to 0.8.
void init_block_steps(EchoState *st)
{
    const int32_t M = st->blocks;
    const float decay = expf(-2.4f / (float)M);
    st->lambda[0] = 0.7f;
    float sum = st->lambda[0];
    for (int32_t i = 1; i < M; ++i) {
        st->lambda[i] = st->lambda[i - 1] * decay;
        sum += st->lambda[i];
    }
    for (int32_t i = 0; i < M; ++i)
        st->lambda[i] = 0.8f * st->lambda[i] / sum;
}

float notch_radius_for(int32_t rate)
{
    if (rate < 12000)
        return 0.9f;
    if (rate < 24000)
        return 0.982f;
    return 0.992f;
}

} // namespace

extern "C" {

uint32_t Echo_variable_bytes(int32_t frame_size, int32_t filter_length)
{
    if (frame_size < 1)
        frame_size = ECHO_FRAME;
    const uint32_t M = (uint32_t)block_count(frame_size, filter_length);
    const uint32_t N = 2u * (uint32_t)frame_size;
    return (((M + 1u) + 2u * M) * N + M) * (uint32_t)sizeof(float);
}

void Echo_init(EchoState *st, int32_t frame_size, int32_t filter_length, int32_t microphones,
               int32_t loudspeakers)
{
    // The fixed arrays hold one frame of at most ECHO_FRAME samples.
    const int32_t F = (frame_size < 1 || frame_size > ECHO_FRAME) ? ECHO_FRAME : frame_size;
    const int32_t N = 2 * F;
    st->frame_size = F;
    st->window_size = N;
    st->microphones = (int16_t)microphones;
    st->loudspeakers = (int16_t)loudspeakers;
    st->blocks = block_count(F, filter_length);
    st->frame_count = 0;
    st->adaptation_sum = 0.0f;
    st->saturated = 0;
    st->divergence_count = 0;
    st->leak = 0.0f;
    st->tuning = &ECHO_TUNING_OSTREL;
    Echo_set_sampling_rate(st, 8000);

    for (int32_t i = 0; i < N; ++i)
        st->window[i] = (float)(0.5 - 0.5 * cos(2.0 * kPi * (double)i / (double)N));
    fill(st->mu, F + 1, 1.0f);
    clear(st->W, st->blocks * N);
    init_block_steps(st);

    st->preemphasis = 0.9f;
    st->adapted = 0;
    st->C_ey = 1.0f;
    st->C_yy = 1.0f;
    st->A1 = st->A2 = st->V1 = st->V2 = 0.0f;
}

void Echo_set_sampling_rate(EchoState *st, int32_t rate)
{
    const float F = (float)st->frame_size;
    st->sampling_rate = rate;
    st->a = F / (float)rate;
    st->b0 = 2.0f * F / (float)rate;
    st->b_max = 0.5f * F / (float)rate;
    st->notch_radius = notch_radius_for(rate);
}

void Echo_set_tuning(EchoState *st, const EchoTuning *tuning)
{
    if (tuning)
        st->tuning = tuning;
}

void Echo_state_reset(EchoState *st)
{
    const int32_t F = st->frame_size;
    const int32_t N = st->window_size;
    const int32_t M = st->blocks;
    st->frame_count = 0;
    st->divergence_count = 0;
    st->saturated = 0;
    st->adapted = 0;
    st->adaptation_sum = 0.0f;
    clear(st->W, M * N);
    clear(st->foreground, M * N);
    clear(st->X, (M + 1) * N);
    clear(st->P, F + 1);
    fill(st->mu, F + 1, 1.0f);
    clear(st->AE, F + 1);
    clear(st->AY, F + 1);
    // The whole echo history: a half kept from before the reset would feed
    // the residual estimate with stale echo until the filter adapts again.
    clear(st->h, N);
    clear(st->E, N);
    clear(st->x, N);
    st->notch_mem[0] = st->notch_mem[1] = 0.0f;
    st->dm = st->dx = st->de = 0.0f;
    st->A1 = st->A2 = st->V1 = st->V2 = 0.0f;
    st->C_ey = 1.0f;
    st->C_yy = 1.0f;
}

void Echo_get_residual(EchoState *st, float *residual)
{
    const int32_t F = st->frame_size;
    const int32_t N = st->window_size;
    arm_mult_f32(st->window, st->h, st->y, (uint32_t)N);
    fft(st->table, st->y, st->Y);
    residual[0] = st->Y[0] * st->Y[0];
    arm_cmplx_mag_squared_f32(st->Y + 1, residual + 1, (uint32_t)(F - 1));
    residual[F] = st->Y[N - 1] * st->Y[N - 1];

    const float scale = st->leak >= 0.5000001f ? 1.0f : 2.0f * st->leak;
    for (int32_t k = 0; k <= F; ++k) {
        float v = scale * residual[k];
        // Truncate toward zero; floats of 2^23 and more are whole already,
        // and a NaN stays NaN so the caller can discard the estimate.
        if (fabsf(v) < 8388608.0f)
            v = (float)(int32_t)v;
        residual[k] = v;
    }
}

} // extern "C"
