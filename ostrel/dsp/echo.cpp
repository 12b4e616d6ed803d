// Placeholder bodies; the canceller follows.
#include "echo.h"

extern "C" {
const EchoTuning ECHO_TUNING_OSTREL = {0.36f, 0.2f, 0.5f, 0.25f, 0.2f, 0.005f, 1, 1};
const EchoTuning ECHO_TUNING_VELDRA = {0.36f, 0.7225f, 0.5f, 0.25f, 4.0f, 0.005f, 0, 0};

uint32_t Echo_variable_bytes(int32_t frame_size, int32_t filter_length)
{
    int32_t M = (filter_length + frame_size - 1) / frame_size;
    if (M < 1) M = 1;
    return (uint32_t)(((M + 1) + 2 * M) * 2 * frame_size + M) * (uint32_t)sizeof(float);
}
void Echo_init(EchoState *, int32_t, int32_t, int32_t, int32_t) {}
void Echo_set_sampling_rate(EchoState *, int32_t) {}
void Echo_set_tuning(EchoState *st, const EchoTuning *t) { if (t) st->tuning = t; }
void Echo_state_reset(EchoState *) {}
void Echo_cancellation(EchoState *, const int16_t *, const int16_t *, int16_t *) {}
void Echo_get_residual(EchoState *, float *) {}
void power_spectrum_accum(const float *, float *, int32_t) {}
void spectral_mul_accum(const float *, const float *, float *, int32_t, int32_t) {}
void weighted_spectral_mul_conj(const float *, float, const float *, const float *, float *, int32_t) {}
}
