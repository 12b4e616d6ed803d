// Loudspeaker nonlinearity of field mode: a memoryless soft saturation
//   f(x) = x / sqrt(1 + u s^2),  s = x / 32768,
// applied to the reference before the linear filter (a Hammerstein model:
// memoryless curve, then the room's linear path). u = 0 is the identity; u
// grows as the loudspeaker compresses its peaks. u follows a normalised
// gradient of the canceller's output power: the derivative of the echo
// estimate with respect to u is the adapted foreground filter applied to
// df/du, computed in the canceller's own block frequency domain (one
// transform pair per frame), so the model learns only while the linear
// filter describes the room.
#include <string.h>

#include "field_state.h"

namespace ostrel
{

namespace
{

constexpr float kFullScale = 1.0f / 32768.0f;
constexpr float kPreemphasis = 0.9f; // as the canceller's
constexpr float kStep = 0.03f;
constexpr float kMaxSaturation = 30.0f;

} // namespace

void nonlinear_shape(const FieldState *field, const float *aligned, int16_t *shaped)
{
    const float u = field->saturation;
    for (uint32_t i = 0; i < kFrame; ++i) {
        const float s = aligned[i] * kFullScale;
        shaped[i] = round_sample(aligned[i] / sqrtf(1.0f + u * s * s));
    }
}

void nonlinear_update(FieldState *field, EchoState *echo, const float *aligned, const int16_t *out,
                      bool update)
{
    const float u = field->saturation;
    const uint32_t M = static_cast<uint32_t>(echo->blocks);
    // df/du = -x s^2 / (2 (1 + u s^2)^1.5), pre-emphasised like the reference.
    float *g = field->gradient_x;
    memcpy(g, g + kFrame, kFrame * sizeof(float));
    for (uint32_t i = 0; i < kFrame; ++i) {
        const float s = aligned[i] * kFullScale;
        const float q = 1.0f + u * s * s;
        const float d = -0.5f * aligned[i] * s * s / (q * sqrtf(q));
        g[kFrame + i] = d - kPreemphasis * field->gradient_mem;
        field->gradient_mem = d;
    }
    float *spectra = field->gradient_spectra;
    memmove(spectra + kWindow, spectra, M * kWindow * sizeof(float));
    fft(echo->table, g, spectra);

    float previous = field->out_mem;
    field->out_mem = static_cast<float>(out[kFrame - 1]);
    if (!update || !filter_ready(field, echo))
        return;
    spectral_mul_accum(spectra, echo->foreground, field->work, static_cast<int32_t>(kWindow),
                       static_cast<int32_t>(M));
    ifft(echo->table, field->work, field->work);
    float correlation = 0.0f, power = 0.0f;
    for (uint32_t i = 0; i < kFrame; ++i) {
        const float e = static_cast<float>(out[i]) - kPreemphasis * previous;
        previous = static_cast<float>(out[i]);
        const float z = field->work[kFrame + i];
        correlation += e * z;
        power += z * z;
    }
    float next = u + kStep * correlation / (power + 1e3f);
    if (next < 0.0f)
        next = 0.0f;
    if (next > kMaxSaturation)
        next = kMaxSaturation;
    field->saturation = next;
}

} // namespace ostrel
