// Run-time configuration: validation, selection of the first-step path,
// set-up of the decimation filters, delay lines and equalisers.
#include <math.h>
#include <string.h>

#include "delay.h"
#include "equaliser.h"
#include "field_mode.h"
#include "pdm_filter.h"
#include "veldra.h"
#include "veldra_internal.h"

#define VELDRA_MAX_VOLUME 51 // highest gain the decimation filters accept
#define VELDRA_DEFAULT_DISTANCE 150
#define VELDRA_MAX_DISTANCE 212
#define VELDRA_SAMPLE_DELAY_DISTANCE 210 // from here one PCM sample is the delay

// Decimation code of the filters for a PDM clock in kHz, 0 for none.
static uint16_t decimation_code(uint32_t khz)
{
    switch (khz) {
    case 256:
        return PDM_FILTER_CODE_D16;
    case 384:
        return PDM_FILTER_CODE_D24;
    case 512:
        return PDM_FILTER_CODE_D32;
    case 768:
        return PDM_FILTER_CODE_D48;
    case 1024:
        return PDM_FILTER_CODE_D64;
    case 1280:
        return PDM_FILTER_CODE_D80;
    case 2048:
        return PDM_FILTER_CODE_D128;
    default:
        return 0;
    }
}

// Travel time across the spacing in PDM bits, front beam.
static uint16_t front_delay_bits(uint16_t distance, uint32_t khz)
{
    const float bits = (float)distance / 10000.0f * (float)khz * 1000.0f / 343.0f;
    return (uint16_t)roundf(bits);
}

// The same for the rear beam, computed as (spacing) / (one bit's travel).
static uint16_t rear_delay_bits(uint16_t distance, uint32_t khz)
{
    const float metres = (float)((double)distance / 10000.0);
    const float per_bit = 343.0f / ((float)khz * 1000.0f);
    return (uint16_t)roundf(metres / per_bit);
}

void veldra_setup_filter(VeldraControl *ctrl, int which, uint16_t byte_swap, uint16_t stride)
{
    PdmFilterRecord *rec = veldra_region<PdmFilterRecord>(ctrl, ctrl->filter_at[which]);
    PdmFilterConfig *cfg = veldra_region<PdmFilterConfig>(ctrl, ctrl->filter_config_at[which]);
    rec->bit_order = 0;
    rec->byte_swap = byte_swap;
    rec->hp_coefficient = PDM_FILTER_HP_COEFFICIENT;
    rec->in_stride = stride;
    rec->out_stride = 1;
    PDM_Filter_Init(rec);
    cfg->decimation_code = decimation_code(ctrl->sampling_frequency);
    cfg->samples_per_call = VELDRA_FRAME;
    cfg->gain_db = (int16_t)ctrl->volume;
    PDM_Filter_setConfig(rec, cfg);
}

static DelayRecord *delay_record(VeldraControl *ctrl, int beam)
{
    return veldra_region<DelayRecord>(ctrl, ctrl->delay_at[beam]);
}

// PDM input, spacing under 210: the delay acts on the bit streams.
static void setup_bit_delay_path(VeldraControl *ctrl, bool rear)
{
    const uint32_t khz = ctrl->sampling_frequency;
    const uint16_t bytes = (uint16_t)(khz / 8u);
    const uint16_t d = ctrl->mic_distance;
    ctrl->path = VELDRA_PATH_PDM_BIT_DELAY;
    // A and B read the microphones as delivered (16-bit words, byte swap);
    // C and D read the delay lines' output, contiguous bytes in time order.
    veldra_setup_filter(ctrl, FILTER_A, 1, ctrl->mic1_stride);
    veldra_setup_filter(ctrl, FILTER_D, 0, 1);
    delay_setup_bits(delay_record(ctrl, BEAM_FRONT), ctrl->mic2_stride, bytes,
                     front_delay_bits(d, khz), 1);
    if (rear) {
        veldra_setup_filter(ctrl, FILTER_B, 1, ctrl->mic2_stride);
        veldra_setup_filter(ctrl, FILTER_C, 0, 1);
        delay_setup_bits(delay_record(ctrl, BEAM_REAR), ctrl->mic1_stride, bytes,
                         rear_delay_bits(d, khz), 1);
    }
}

// Selects the first-step path and sets up what it uses.
static void configure_path(VeldraControl *ctrl, bool rear)
{
    if (ctrl->data_format == VELDRA_FORMAT_PDM) {
        if (ctrl->mic_distance < VELDRA_SAMPLE_DELAY_DISTANCE) {
            setup_bit_delay_path(ctrl, rear);
            return;
        }
        ctrl->path = VELDRA_PATH_PDM_SAMPLE_DELAY;
        veldra_setup_filter(ctrl, FILTER_A, 1, ctrl->mic1_stride);
        veldra_setup_filter(ctrl, FILTER_B, 1, ctrl->mic2_stride);
    } else if (ctrl->delay_enable) {
        ctrl->path = VELDRA_PATH_PCM_SAMPLE_DELAY;
    } else {
        ctrl->path = VELDRA_PATH_PCM_NO_DELAY;
        return;
    }
    delay_setup_sample(delay_record(ctrl, BEAM_FRONT));
    if (rear)
        delay_setup_sample(delay_record(ctrl, BEAM_REAR));
}

extern "C" uint32_t Veldra_setConfig(VeldraHandle *handle, const VeldraConfig *config)
{
    VeldraControl *ctrl = veldra_control(handle);
    uint32_t errors = 0;
    if (config->mic2_gain >= 0.0f) {
        ctrl->mic2_gain = config->mic2_gain;
    } else {
        ctrl->mic2_gain = 1.0f;
        errors |= VELDRA_ERR_GAIN;
    }
    // Above 51 dB the filters would refuse the gain and stay silent.
    ctrl->volume = config->volume > VELDRA_MAX_VOLUME ? VELDRA_MAX_VOLUME : config->volume;

    // Nothing is set up before the first reconfiguring call, which therefore
    // always reconfigures, whatever distance it brings.
    const bool first = ctrl->path == VELDRA_PATH_NONE;
    bool changed = false;
    uint16_t d = config->mic_distance;
    if (ctrl->data_format == VELDRA_FORMAT_PCM && ctrl->delay_enable &&
        (d < VELDRA_SAMPLE_DELAY_DISTANCE || d > VELDRA_MAX_DISTANCE)) {
        ctrl->mic_distance = VELDRA_MAX_DISTANCE;
        errors |= VELDRA_ERR_DISTANCE;
    } else if (d != ctrl->mic_distance || first) {
        if (d == 0 || d > VELDRA_MAX_DISTANCE) {
            d = VELDRA_DEFAULT_DISTANCE;
            errors |= VELDRA_ERR_DISTANCE;
        }
        ctrl->mic_distance = d;
        changed = true;
    }
    // A distance stored by a call refused for its type has not been applied
    // yet; the next accepted call applies it even when it brings the same.
    changed = changed || first || ctrl->distance_pending;

    const uint32_t type = config->algorithm_type;
    if (type > VELDRA_TYPE_ADAPTIVE_DENOISE ||
        (ctrl->init_type != VELDRA_TYPE_ADAPTIVE_DENOISE && type != VELDRA_TYPE_CARDIOID &&
         type != ctrl->init_type)) {
        if (changed && !first)
            ctrl->distance_pending = 1;
        return errors | VELDRA_ERR_TYPE;
    }
    if (!changed && type == ctrl->algorithm_type)
        return errors;

    ctrl->distance_pending = 0;
    ctrl->algorithm_type = type;
    const bool rear = veldra_rear_beam_needed(ctrl);
    configure_path(ctrl, rear);
    ctrl->rear_configured = rear ? 1u : 0u;
    equaliser_configure(veldra_region<EqualiserRecord>(ctrl, ctrl->equaliser_at[BEAM_FRONT]),
                        rear ? veldra_region<EqualiserRecord>(ctrl, ctrl->equaliser_at[BEAM_REAR])
                             : nullptr,
                        ctrl->mic_distance, ctrl->mic2_gain);
    if (ctrl->field_at)
        field_configure(ctrl);
    return errors;
}

extern "C" uint32_t Veldra_getConfig(VeldraHandle *handle, VeldraConfig *config)
{
    const VeldraControl *ctrl = veldra_control(handle);
    config->mic_distance = ctrl->mic_distance;
    config->algorithm_type = ctrl->algorithm_type;
    config->volume = ctrl->volume;
    config->mic2_gain = ctrl->mic2_gain == 0.0f ? ctrl->estimated_gain : ctrl->mic2_gain;
    if (ctrl->field_at && ctrl->mic2_gain == 0.0f)
        config->mic2_gain = field_estimated_gain(veldra_control(handle));
    return 0;
}

extern "C" uint32_t libBeamforming_getConfig(VeldraHandle *handle, VeldraConfig *config)
{
    return Veldra_getConfig(handle, config);
}
