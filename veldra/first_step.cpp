// The per-millisecond step: inputs of the two beams by path, automatic
// second-microphone gain, equalised differences, rings and play-out.
#include <math.h>
#include <string.h>

#include "delay.h"
#include "equaliser.h"
#include "field_mode.h"
#include "pdm_filter.h"
#include "veldra.h"
#include "veldra_internal.h"

#define GAIN_WINDOW_LAST 7984      // counter value at the 500th call (8000 samples)
#define GAIN_MAX_FRONT_ENERGY 3e8f // louder windows are not used for the estimate

static PdmFilterRecord *filter(VeldraControl *ctrl, int which)
{
    return veldra_region<PdmFilterRecord>(ctrl, ctrl->filter_at[which]);
}

static DelayRecord *delay_record(VeldraControl *ctrl, int beam)
{
    return veldra_region<DelayRecord>(ctrl, ctrl->delay_at[beam]);
}

static EqualiserRecord *equaliser(VeldraControl *ctrl, int beam)
{
    return veldra_region<EqualiserRecord>(ctrl, ctrl->equaliser_at[beam]);
}

static void take_pcm(int16_t *dst, const int16_t *src, uint32_t stride)
{
    for (uint32_t i = 0; i < VELDRA_FRAME; ++i)
        dst[i] = src[i * stride];
}

// F1 and R1: FirstStepInternal1, 3, 2 and _NoDelay.
static void front_inputs(const void *mic1, const void *mic2, VeldraControl *ctrl)
{
    switch (ctrl->path) {
    case VELDRA_PATH_PDM_BIT_DELAY:
        delay_bits(mic2, ctrl, delay_record(ctrl, BEAM_FRONT));
        PDM_Filter(mic1, ctrl->f1, filter(ctrl, FILTER_A));
        PDM_Filter(ctrl->pdm_scratch, ctrl->r1, filter(ctrl, FILTER_D));
        break;
    case VELDRA_PATH_PDM_SAMPLE_DELAY:
        PDM_Filter(mic1, ctrl->f1, filter(ctrl, FILTER_A));
        PDM_Filter(mic2, ctrl->f2, filter(ctrl, FILTER_B));
        memcpy(ctrl->r1, ctrl->f2, sizeof ctrl->r1);
        Delay_1(ctrl->r1, ctrl, delay_record(ctrl, BEAM_FRONT));
        break;
    case VELDRA_PATH_PCM_SAMPLE_DELAY:
        take_pcm(ctrl->f1, static_cast<const int16_t *>(mic1), ctrl->mic1_stride);
        take_pcm(ctrl->f2, static_cast<const int16_t *>(mic2), ctrl->mic2_stride);
        memcpy(ctrl->r1, ctrl->f2, sizeof ctrl->r1);
        Delay_1(ctrl->r1, ctrl, delay_record(ctrl, BEAM_FRONT));
        break;
    default: {
        // Each buffer: 16 samples, then the same microphone delayed by the caller.
        const int16_t *m1 = static_cast<const int16_t *>(mic1);
        const int16_t *m2 = static_cast<const int16_t *>(mic2);
        memcpy(ctrl->f1, m1, sizeof ctrl->f1);
        memcpy(ctrl->r1, m2 + VELDRA_FRAME, sizeof ctrl->r1);
        memcpy(ctrl->f2, m2, sizeof ctrl->f2);
        memcpy(ctrl->r2, m1 + VELDRA_FRAME, sizeof ctrl->r2);
        break;
    }
    }
}

// F2 and R2 where the path has not filled them yet.
static void rear_inputs(const void *mic1, const void *mic2, VeldraControl *ctrl)
{
    switch (ctrl->path) {
    case VELDRA_PATH_PDM_BIT_DELAY:
        delay_bits(mic1, ctrl, delay_record(ctrl, BEAM_REAR));
        PDM_Filter(mic2, ctrl->f2, filter(ctrl, FILTER_B));
        PDM_Filter(ctrl->pdm_scratch, ctrl->r2, filter(ctrl, FILTER_C));
        break;
    case VELDRA_PATH_PDM_SAMPLE_DELAY:
    case VELDRA_PATH_PCM_SAMPLE_DELAY:
        memcpy(ctrl->r2, ctrl->f1, sizeof ctrl->r2);
        Delay_1(ctrl->r2, ctrl, delay_record(ctrl, BEAM_REAR));
        break;
    default:
        break;
    }
}

// Energy of both inputs of the front beam over 0.5 s; their ratio, smoothed
// and at least 1, becomes the second microphone's gain.
static void estimate_gain(VeldraControl *ctrl)
{
    float ef = ctrl->energy_front;
    float er = ctrl->energy_rear;
    for (int i = 0; i < VELDRA_FRAME; ++i) {
        const float f = (float)ctrl->f1[i];
        const float r = (float)ctrl->r1[i];
        ef += f * f;
        er += r * r;
    }
    ctrl->energy_front = ef;
    ctrl->energy_rear = er;
    if (ctrl->gain_counter != GAIN_WINDOW_LAST) {
        ctrl->gain_counter += VELDRA_FRAME;
        return;
    }
    // A silent second microphone gives no ratio: that window is skipped.
    if (ef < GAIN_MAX_FRONT_ENERGY && er > 0.0f) {
        const float ratio = sqrtf(ef / er);
        float smoothed = 0.2f * ratio + 0.8f * ctrl->smoothed_ratio;
        if (smoothed < 1.0f)
            smoothed = 1.0f;
        ctrl->smoothed_ratio = smoothed;
        ctrl->estimated_gain = smoothed;
        BeamFormer_SetGain(ctrl);
    }
    ctrl->energy_front = 0.0f;
    ctrl->energy_rear = 0.0f;
    ctrl->gain_counter = 0;
}

// Stores the beams, plays out one output frame per sample, advances the
// indices and the block-ready flag.
void veldra_exchange_rings(VeldraControl *ctrl, int16_t *out, const int16_t *channel1)
{
    int16_t *front_ring = veldra_region<int16_t>(ctrl, ctrl->front_ring_at);
    int16_t *rear_ring = veldra_region<int16_t>(ctrl, ctrl->rear_ring_at);
    const int16_t *out_ring = veldra_region<int16_t>(ctrl, ctrl->out_ring_at);
    const uint32_t stride = ctrl->out_channels;
    uint32_t w = ctrl->write_index;
    uint32_t r = ctrl->read_index;
    for (uint32_t i = 0; i < VELDRA_FRAME; ++i) {
        front_ring[w] = ctrl->front[i];
        rear_ring[w] = ctrl->rear[i];
        ++w;
        if (w == VELDRA_BLOCK)
            ctrl->block_ready = 1;
        if (w == VELDRA_RING) {
            w = 0;
            ctrl->block_ready = 2;
        }
        out[i * stride] = out_ring[r];
        // Channel 1 exists only when the output holds two samples a frame.
        if (channel1 && stride >= 2)
            out[i * stride + 1] = channel1[i];
        r = (r + 1u) % VELDRA_RING;
    }
    ctrl->write_index = (uint16_t)w;
    ctrl->read_index = (uint16_t)r;
}

uint32_t veldra_count_call(VeldraControl *ctrl)
{
    if (ctrl->calls_in_block == VELDRA_CALLS_PER_BLOCK - 1) {
        ctrl->calls_in_block = 0;
        return 1;
    }
    ++ctrl->calls_in_block;
    return 0;
}

// Before the first configuration no path is set up: the beams are silence,
// the output too, and the block timing runs on.
static uint32_t unconfigured_step(int16_t *out, VeldraControl *ctrl)
{
    memset(ctrl->front, 0, sizeof ctrl->front);
    memset(ctrl->rear, 0, sizeof ctrl->rear);
    memset(ctrl->f1, 0, sizeof ctrl->f1);
    const uint32_t stride = ctrl->out_channels;
    const bool channel1 = ctrl->second_output != VELDRA_SECOND_OUTPUT_NONE;
    veldra_exchange_rings(ctrl, out, channel1 ? ctrl->f1 : nullptr);
    for (uint32_t i = 0; i < VELDRA_FRAME; ++i)
        out[i * stride] = 0;
    return veldra_count_call(ctrl);
}

extern "C" uint32_t Veldra_FirstStep(const void *mic1, const void *mic2, int16_t *out,
                                     VeldraHandle *handle)
{
    VeldraControl *ctrl = veldra_control(handle);
    if (ctrl->path == VELDRA_PATH_NONE)
        return unconfigured_step(out, ctrl);
    if (ctrl->field_at)
        return field_first_step(mic1, mic2, out, ctrl);

    front_inputs(mic1, mic2, ctrl);
    if (ctrl->mic2_gain == 0.0f)
        estimate_gain(ctrl);
    equaliser_run(equaliser(ctrl, BEAM_FRONT), ctrl->f1, ctrl->r1, ctrl->front);
    if (veldra_rear_beam_needed(ctrl)) {
        rear_inputs(mic1, mic2, ctrl);
        equaliser_run(equaliser(ctrl, BEAM_REAR), ctrl->f2, ctrl->r2, ctrl->rear);
    }
    const int16_t *channel1 = nullptr;
    if (ctrl->second_output == VELDRA_SECOND_OUTPUT_MIC1)
        channel1 = ctrl->f1;
    if (ctrl->second_output == VELDRA_SECOND_OUTPUT_REAR)
        channel1 = ctrl->rear;
    veldra_exchange_rings(ctrl, out, channel1);
    return veldra_count_call(ctrl);
}
