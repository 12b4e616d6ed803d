// The per-block step: copy of the front beam, or the adaptive stage, then
// optionally the denoiser, from the completed half of the beam rings into
// the half of the output ring that the first step plays out next.
#include <string.h>

#include "echo.h"
#include "field_mode.h"
#include "preprocess.h"
#include "second_step.h"
#include "veldra.h"
#include "veldra_internal.h"

// Front beam minus what the rear beam predicts of it, 128 samples.
void adaptive_A_run(EchoState *st, const int16_t *front, const int16_t *rear, int16_t *out)
{
    Echo_cancellation(st, front, rear, out);
}

// Spectral noise (and, when linked, residual) suppression of 128 samples in
// place. The voice decision is off, so it always reports speech (1).
int32_t denoiser_A_run(PreprocessState *st, int16_t *block)
{
    return Preprocess(st, block);
}

extern "C" uint32_t Veldra_SecondStep(VeldraHandle *handle)
{
    VeldraControl *ctrl = veldra_control(handle);
    const uint32_t half = ctrl->block_ready;
    if (half == 0)
        return VELDRA_ERR_NOT_READY;
    ctrl->block_ready = 0;

    const uint32_t source_at = half == 1 ? 0u : VELDRA_BLOCK;
    const uint32_t target_at = half == 1 ? VELDRA_BLOCK : 0u;
    const int16_t *front = veldra_region<int16_t>(ctrl, ctrl->front_ring_at) + source_at;
    const int16_t *rear = veldra_region<int16_t>(ctrl, ctrl->rear_ring_at) + source_at;
    int16_t *out = veldra_region<int16_t>(ctrl, ctrl->out_ring_at) + target_at;

    const uint32_t type = ctrl->algorithm_type;
    if (ctrl->field_at)
        field_second_step(ctrl, front, rear, out, target_at);
    else if (type >= VELDRA_TYPE_ADAPTIVE)
        adaptive_A_run(veldra_region<EchoState>(ctrl, ctrl->adaptive_at), front, rear, out);
    else
        memcpy(out, front, VELDRA_BLOCK * sizeof(int16_t));
    if (type == VELDRA_TYPE_CARDIOID_DENOISE || type == VELDRA_TYPE_ADAPTIVE_DENOISE)
        (void)denoiser_A_run(veldra_region<PreprocessState>(ctrl, ctrl->denoiser_at), out);
    return 0;
}
