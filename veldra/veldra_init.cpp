// Sizing and carving of the working block, validation of the handle.
#include <string.h>

#include "echo.h"
#include "fft.h"
#include "filterbank.h"
#include "pdm_filter.h"
#include "preprocess.h"
#include "veldra.h"
#include "veldra_internal.h"

// On the target (32-bit pointers) the regions have exactly the sizes the
// block is documented with. A 64-bit host's states are larger (wider
// pointers, 8-byte alignment); the adaptive region then grows to hold its
// state, which raises the block size of types 2 and 3 on such a host only.
static_assert(sizeof(FftTable) == VELDRA_FFT_TABLE_BYTES, "FFT table size");
static_assert(sizeof(FilterBank) <= VELDRA_FILTERBANK_BYTES, "filter bank size");
static_assert(sizeof(PreprocessState) + alignof(PreprocessState) - 4 <= VELDRA_DENOISER_STATE_BYTES,
              "denoiser state size");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(veldra_adaptive_state_bytes() == VELDRA_ADAPTIVE_STATE_BYTES, "adaptive state size");
#endif

// Block bytes for an algorithm type (any type above 3 counts as type 0).
static uint32_t block_bytes(uint32_t type)
{
    uint32_t size = VELDRA_BASIC_BYTES;
    if (type == VELDRA_TYPE_CARDIOID_DENOISE || type == VELDRA_TYPE_ADAPTIVE_DENOISE)
        size += VELDRA_DENOISER_BYTES;
    if (type == VELDRA_TYPE_ADAPTIVE || type == VELDRA_TYPE_ADAPTIVE_DENOISE)
        size += VELDRA_ADAPTIVE_BYTES - VELDRA_ADAPTIVE_STATE_BYTES + veldra_adaptive_state_bytes();
    // At least one spare byte, rounded up to a multiple of 4.
    return (size + 1u + 3u) & ~3u;
}

extern "C" uint32_t Veldra_getMemorySize(VeldraHandle *handle)
{
    handle->internal_memory_size = block_bytes(handle->algorithm_type);
    return 0;
}

static bool supported_frequency(uint32_t khz)
{
    static const uint32_t kFrequencies[] = {16, 256, 384, 512, 768, 1024, 1280, 2048};
    for (uint32_t f : kFrequencies)
        if (f == khz)
            return true;
    return false;
}

// Copies the handle into the control record, replacing bad values by their
// defaults; returns the error bits.
static uint32_t validate_handle(VeldraHandle *handle, VeldraControl *ctrl)
{
    uint32_t errors = 0;
    uint32_t type = handle->algorithm_type;
    if (type > VELDRA_TYPE_ADAPTIVE_DENOISE) {
        type = VELDRA_TYPE_CARDIOID;
        errors |= VELDRA_ERR_TYPE;
    }
    ctrl->init_type = (uint16_t)type;

    ctrl->out_channels = handle->out_channels;
    if (ctrl->out_channels == 0) {
        ctrl->out_channels = 2;
        errors |= VELDRA_ERR_CHANNELS;
    }
    ctrl->second_output = handle->second_output;
    if (ctrl->second_output != VELDRA_SECOND_OUTPUT_NONE &&
        ctrl->second_output != VELDRA_SECOND_OUTPUT_MIC1 &&
        ctrl->second_output != VELDRA_SECOND_OUTPUT_REAR) {
        ctrl->second_output = VELDRA_SECOND_OUTPUT_MIC1;
        errors |= VELDRA_ERR_SECOND_OUTPUT;
    }
    ctrl->estimated_gain = 1.0f;
    ctrl->smoothed_ratio = 1.0f;
    ctrl->mic1_stride = handle->mic1_channels;
    if (ctrl->mic1_stride == 0) {
        ctrl->mic1_stride = 2;
        errors |= VELDRA_ERR_CHANNELS;
    }
    ctrl->mic2_stride = handle->mic2_channels;
    if (ctrl->mic2_stride == 0) {
        ctrl->mic2_stride = 2;
        errors |= VELDRA_ERR_CHANNELS;
    }
    ctrl->sampling_frequency = handle->sampling_frequency;
    if (!supported_frequency(ctrl->sampling_frequency)) {
        ctrl->sampling_frequency = 1024;
        errors |= VELDRA_ERR_FREQUENCY;
    }
    ctrl->data_format = handle->data_format;
    if (ctrl->data_format > VELDRA_FORMAT_PCM) {
        ctrl->data_format = VELDRA_FORMAT_PDM;
        errors |= VELDRA_ERR_FORMAT;
    }
    // 16 kHz is the PCM rate, not a PDM clock: no decimation code takes it,
    // so the filters would stay silent. PDM input gets the default clock.
    if (ctrl->data_format == VELDRA_FORMAT_PDM && ctrl->sampling_frequency == 16) {
        ctrl->sampling_frequency = 1024;
        errors |= VELDRA_ERR_FREQUENCY;
    }
    ctrl->delay_enable = handle->delay_enable;
    if (ctrl->data_format == VELDRA_FORMAT_PDM && ctrl->delay_enable == 0) {
        ctrl->delay_enable = 1;
        errors |= VELDRA_ERR_DELAY;
    }
    return errors;
}

// Offset from the block start at which an object needing `alignment` can
// start inside the region beginning at `offset`.
static uint32_t aligned_offset(VeldraControl *ctrl, uint32_t offset, size_t alignment)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(ctrl) + offset;
    const uintptr_t aligned = (at + alignment - 1u) & ~(uintptr_t)(alignment - 1u);
    return offset + (uint32_t)(aligned - at);
}

static void init_denoiser(VeldraControl *ctrl)
{
    PreprocessState *st = veldra_region<PreprocessState>(ctrl, ctrl->denoiser_at);
    FftTable *table = veldra_region<FftTable>(ctrl, ctrl->denoiser_fft_at);
    fft_table_init(table, 256);
    Preprocess_init(st, VELDRA_BLOCK, 16000);
    st->fft_table = table;
    st->bank = filterbank_new(veldra_region<void>(ctrl, ctrl->denoiser_bank_at), PREPROCESS_BANDS,
                              16000.0f, PREPROCESS_BINS, 1);
    int32_t off = 0;
    Preprocess_setup(st, PREPROCESS_SET_AGC, &off);
    Preprocess_setup(st, PREPROCESS_SET_VAD, &off);
}

static void init_adaptive(VeldraControl *ctrl)
{
    EchoState *st = veldra_region<EchoState>(ctrl, ctrl->adaptive_at);
    FftTable *table = veldra_region<FftTable>(ctrl, ctrl->adaptive_fft_at);
    fft_table_init(table, 256);
    // One partition of 128 samples: X holds two spectra, W and the foreground one each.
    float *arrays = reinterpret_cast<float *>(st + 1);
    st->X = arrays;
    st->W = st->X + 2 * ECHO_WINDOW;
    st->foreground = st->W + ECHO_WINDOW;
    st->lambda = st->foreground + ECHO_WINDOW;
    st->table = table;
    Echo_init(st, VELDRA_BLOCK, VELDRA_BLOCK, 1, 1);
    Echo_set_sampling_rate(st, 16000);
    Echo_set_tuning(st, &ECHO_TUNING_VELDRA);
}

// Lays the regions out front to back, skipping those the mode does not use.
static void carve_block(VeldraControl *ctrl)
{
    uint32_t at = VELDRA_CONTROL_BYTES;
    ctrl->front_ring_at = at;
    ctrl->rear_ring_at = at + VELDRA_RING_BYTES;
    ctrl->out_ring_at = at + 2 * VELDRA_RING_BYTES;
    at += 3 * VELDRA_RING_BYTES;
    const bool pdm = ctrl->data_format == VELDRA_FORMAT_PDM;
    if (pdm) {
        for (uint32_t i = 0; i < 4; ++i)
            ctrl->filter_at[i] = at + i * VELDRA_FILTER_BYTES;
        at += 4 * VELDRA_FILTER_BYTES;
        for (uint32_t i = 0; i < 4; ++i)
            ctrl->filter_config_at[i] = at + i * VELDRA_FILTER_CONFIG_BYTES;
        at += 4 * VELDRA_FILTER_CONFIG_BYTES;
    }
    if (pdm || ctrl->delay_enable) {
        ctrl->delay_at[BEAM_FRONT] = at;
        ctrl->delay_at[BEAM_REAR] = at + VELDRA_DELAY_BYTES;
        at += 2 * VELDRA_DELAY_BYTES;
    }
    ctrl->equaliser_at[BEAM_FRONT] = at;
    ctrl->equaliser_at[BEAM_REAR] = at + VELDRA_EQUALISER_BYTES;
    at += 2 * VELDRA_EQUALISER_BYTES;
    const uint32_t type = ctrl->init_type;
    if (type == VELDRA_TYPE_CARDIOID_DENOISE || type == VELDRA_TYPE_ADAPTIVE_DENOISE) {
        ctrl->denoiser_at = aligned_offset(ctrl, at, alignof(PreprocessState));
        at += VELDRA_DENOISER_STATE_BYTES;
        ctrl->denoiser_fft_at = at;
        at += VELDRA_FFT_TABLE_BYTES;
        ctrl->denoiser_bank_at = at;
        at += VELDRA_FILTERBANK_BYTES;
    }
    if (type == VELDRA_TYPE_ADAPTIVE || type == VELDRA_TYPE_ADAPTIVE_DENOISE) {
        ctrl->adaptive_at = aligned_offset(ctrl, at, alignof(EchoState));
        at += veldra_adaptive_state_bytes();
        ctrl->adaptive_fft_at = at;
        at += VELDRA_FFT_TABLE_BYTES;
    }
}

extern "C" uint32_t Veldra_Init(VeldraHandle *handle)
{
    // A block sized for a smaller type (or none at all) would be carved past
    // its end: refuse it untouched.
    if (handle->internal_memory == nullptr ||
        handle->internal_memory_size < block_bytes(handle->algorithm_type))
        return VELDRA_ERR_MEMORY;
    VeldraControl *ctrl = veldra_control(handle);
    memset(ctrl, 0, handle->internal_memory_size);
    ctrl->block_ready = 0;
    ctrl->write_index = 0;
    ctrl->read_index = VELDRA_BLOCK;
    const uint32_t errors = validate_handle(handle, ctrl);
    carve_block(ctrl);
    if (ctrl->denoiser_at)
        init_denoiser(ctrl);
    if (ctrl->adaptive_at)
        init_adaptive(ctrl);
    if (ctrl->init_type == VELDRA_TYPE_ADAPTIVE_DENOISE)
        Preprocess_setup(veldra_region<PreprocessState>(ctrl, ctrl->denoiser_at),
                         PREPROCESS_SET_ECHO_STATE,
                         veldra_region<EchoState>(ctrl, ctrl->adaptive_at));
    return errors;
}
