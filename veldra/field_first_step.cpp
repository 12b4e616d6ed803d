// Field mode, every millisecond: both microphones to 16 kHz PCM, kept in the
// front (microphone 1) and rear (microphone 2) rings for the block step,
// which forms the beams per frequency; play-out as in the default mode.
#include <string.h>

#include "field_mode.h"
#include "pdm_filter.h"

static void take_pcm(int16_t *dst, const int16_t *src, uint32_t stride)
{
    for (uint32_t i = 0; i < VELDRA_FRAME; ++i)
        dst[i] = src[i * stride];
}

static void microphones(const void *mic1, const void *mic2, VeldraControl *ctrl, FieldState *fs)
{
    if (ctrl->data_format == VELDRA_FORMAT_PDM) {
        if (fs->options.decimation) {
            field_decimate(static_cast<const uint8_t *>(mic1), ctrl->f1, &fs->decimator[0]);
            field_decimate(static_cast<const uint8_t *>(mic2), ctrl->f2, &fs->decimator[1]);
        } else {
            PDM_Filter(mic1, ctrl->f1,
                       veldra_region<PdmFilterRecord>(ctrl, ctrl->filter_at[FILTER_A]));
            PDM_Filter(mic2, ctrl->f2,
                       veldra_region<PdmFilterRecord>(ctrl, ctrl->filter_at[FILTER_B]));
        }
    } else if (ctrl->delay_enable) {
        take_pcm(ctrl->f1, static_cast<const int16_t *>(mic1), ctrl->mic1_stride);
        take_pcm(ctrl->f2, static_cast<const int16_t *>(mic2), ctrl->mic2_stride);
    } else {
        // Each buffer: 16 samples, then a delayed copy that field mode does not need.
        memcpy(ctrl->f1, mic1, sizeof ctrl->f1);
        memcpy(ctrl->f2, mic2, sizeof ctrl->f2);
    }
}

uint32_t field_first_step(const void *mic1, const void *mic2, int16_t *out, VeldraControl *ctrl)
{
    FieldState *fs = field_state(ctrl);
    microphones(mic1, mic2, ctrl, fs);
    memcpy(ctrl->front, ctrl->f1, sizeof ctrl->front);
    memcpy(ctrl->rear, ctrl->f2, sizeof ctrl->rear);
    const int16_t *channel1 = nullptr;
    if (ctrl->second_output == VELDRA_SECOND_OUTPUT_MIC1)
        channel1 = ctrl->f1;
    if (ctrl->second_output == VELDRA_SECOND_OUTPUT_REAR) {
        // The rear beam comes from the block step, aligned with channel 0.
        for (uint32_t i = 0; i < VELDRA_FRAME; ++i)
            ctrl->r2[i] = fs->rear_ring[(ctrl->read_index + i) % VELDRA_RING];
        channel1 = ctrl->r2;
    }
    veldra_exchange_rings(ctrl, out, channel1);
    return veldra_count_call(ctrl);
}
