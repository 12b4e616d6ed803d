// Field mode: entry points, the layout of the field records after the default
// mode's records, and the per-frame pipeline that runs the stages around the
// echo canceller and the preprocessor.
#include <math.h>
#include <string.h>

#include "field_state.h"

namespace ostrel
{

namespace
{

constexpr uint32_t align_up(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

constexpr int32_t kMinStrengthDb = -10;
constexpr int32_t kMaxStrengthDb = 20;

bool is_flag(uint32_t value)
{
    return value <= 1;
}

bool options_valid(const OstrelFieldOptions *options)
{
    return is_flag(options->align_enable) && is_flag(options->drift_enable) &&
           is_flag(options->nonlinear_enable) && is_flag(options->residual_enable) &&
           is_flag(options->recovery_enable) && options->residual_strength_db >= kMinStrengthDb &&
           options->residual_strength_db <= kMaxStrengthDb;
}

struct FieldLayout {
    BlockLayout base;
    uint32_t state_offset, taps_offset, spectra_offset, end;
};

FieldLayout field_layout_of(const OstrelHandle *handle)
{
    FieldLayout layout{};
    layout.base = block_layout(handle);
    layout.end = field_layout(layout.base.records_end, layout.base.blocks, &layout.state_offset,
                              &layout.taps_offset, &layout.spectra_offset);
    return layout;
}

// 10^(db/10) by repeated products, the same bits on every target.
float power_ratio(int32_t db)
{
    const float step = db >= 0 ? 1.2589254f : 0.7943282f; // 10^(+-0.1)
    float ratio = 1.0f;
    for (int32_t i = 0; i < (db >= 0 ? db : -db); ++i)
        ratio *= step;
    return ratio;
}

void init_field(OstrelBlock *block, FieldState *field, const OstrelFieldOptions *options,
                uint8_t *base, const FieldLayout &layout)
{
    field->options = *options;
    field->taps = reinterpret_cast<float *>(base + layout.taps_offset);
    field->gradient_spectra = reinterpret_cast<float *>(base + layout.spectra_offset);
    if (block->preprocess_reserved != 0) {
        memcpy(field->window, block->preprocess->window, sizeof(field->window));
    } else {
        memcpy(field->window, block->echo.window, sizeof(field->window)); // Hann
    }
    align_init(field);
    field->strength = power_ratio(options->residual_strength_db);
    for (int32_t b = 0; b < kResidualBands; ++b) {
        field->coef[b][0] = 0.1f;  // misadjustment: -10 dB of the echo estimate
        field->coef[b][1] = 0.02f; // reverberation beyond the tail
        field->coef[b][2] = 0.005f;
    }
    if (options->residual_enable != 0) {
        block->preprocess->external_residual = field->residual;
        Preprocess_setup(block->preprocess, PREPROCESS_SET_ECHO_STATE, &block->echo);
    }
    block->field_active = 1;
}

// Spectra, coherence, residual estimate and recovery, when any stage needs them.
void analyse_and_steer(OstrelBlock *block, FieldState *field, const int16_t *mic,
                       const int16_t *shaped, const int16_t *out)
{
    const OstrelFieldOptions &o = field->options;
    if (o.residual_enable == 0 && o.recovery_enable == 0 && o.nonlinear_enable == 0)
        return;
    field_spectra(field, &block->echo_fft, mic, shaped, out);
    if (o.residual_enable != 0)
        residual_update(field);
    if (o.recovery_enable != 0)
        recovery_update(field, &block->echo);
}

void remember_frames(FieldState *field, const int16_t *mic, const int16_t *ref,
                     const int16_t *shaped, const int16_t *out)
{
    for (uint32_t i = 0; i < kFrame; ++i) {
        field->mic_prev[i] = static_cast<float>(mic[i]);
        field->ref_prev[i] = static_cast<float>(ref[i]);
        field->aligned_prev[i] = static_cast<float>(shaped[i]);
        field->out_prev[i] = static_cast<float>(out[i]);
    }
}

} // namespace

uint32_t field_layout(uint32_t records_end, uint32_t blocks, uint32_t *state_offset,
                      uint32_t *taps_offset, uint32_t *spectra_offset)
{
    *state_offset = align_up(records_end, 8);
    *taps_offset = align_up(*state_offset + static_cast<uint32_t>(sizeof(FieldState)), 4);
    *spectra_offset = *taps_offset + blocks * kFrame * static_cast<uint32_t>(sizeof(float));
    return *spectra_offset + (blocks + 1) * kWindow * static_cast<uint32_t>(sizeof(float));
}

FieldState *field_state_of(OstrelBlock *block)
{
    OstrelHandle handle{};
    handle.tail_length = block->tail_length;
    handle.preprocess_enable = block->preprocess_reserved;
    const BlockLayout layout = block_layout(&handle);
    uint32_t state = 0, taps = 0, spectra = 0;
    field_layout(layout.records_end, layout.blocks, &state, &taps, &spectra);
    return reinterpret_cast<FieldState *>(reinterpret_cast<uint8_t *>(block) + state);
}

void field_process(OstrelBlock *block, uint32_t input_half, int16_t *out)
{
    FieldState *field = field_state_of(block);
    const OstrelFieldOptions &o = field->options;
    const int16_t *mic = block->mic_ring + input_half;
    const int16_t *ref = block->ref_ring + input_half;
    field->frames += 1;
    field->settled_frames += 1;

    const bool resample = o.align_enable != 0 || o.drift_enable != 0;
    float *aligned = field->aligned; // in the block: the stack stays small
    int16_t *shaped = field->shaped;
    if (resample) {
        align_push_reference(field, ref);
        if (o.align_enable != 0 && align_estimate_delay(field, &block->echo_fft, mic, ref)) {
            Echo_state_reset(&block->echo);
            field->settled_frames = 0;
        }
        align_reference(field, aligned);
    } else {
        for (uint32_t i = 0; i < kFrame; ++i)
            aligned[i] = static_cast<float>(ref[i]);
    }
    if (o.nonlinear_enable != 0) {
        nonlinear_shape(field, aligned, shaped);
    } else {
        for (uint32_t i = 0; i < kFrame; ++i)
            shaped[i] = round_sample(aligned[i]);
    }

    Echo_cancellation(&block->echo, mic, shaped, out);

    analyse_and_steer(block, field, mic, shaped, out);
    if (o.nonlinear_enable != 0)
        nonlinear_update(field, &block->echo, aligned, out, field->coherence_xm > 0.4f);
    if (o.drift_enable != 0)
        align_track_drift(field, &block->echo);
    remember_frames(field, mic, ref, shaped, out);
    if (block->preprocess_active != 0) {
        Preprocess(block->preprocess, out);
        // In steps of 1/32: the probability comes out of double-precision library
        // functions, whose last bit may differ between C libraries.
        field->speech_prob = floorf(block->preprocess->speech_prob * 32.0f) * (1.0f / 32.0f);
    }
}

} // namespace ostrel

extern "C" {

uint32_t Ostrel_Field_defaults(OstrelFieldOptions *options)
{
    options->align_enable = 1;
    options->drift_enable = 1;
    options->nonlinear_enable = 1;
    options->residual_enable = 1;
    options->residual_strength_db = 6;
    options->recovery_enable = 1;
    return OSTREL_OK;
}

uint32_t Ostrel_Field_getMemorySize(OstrelHandle *handle, const OstrelFieldOptions *options)
{
    (void)options; // every stage's state is reserved, so a later change needs no new block
    handle->internal_memory_size = ostrel::field_layout_of(handle).end + ostrel::kSpareBytes;
    return OSTREL_OK;
}

uint32_t Ostrel_Field_Init(OstrelHandle *handle, const OstrelFieldOptions *options)
{
    using namespace ostrel;
    if (options == nullptr || !options_valid(options))
        return OSTREL_ERR_FIELD_OPTIONS;
    if (options->residual_enable != 0 && handle->preprocess_enable == 0)
        return OSTREL_ERR_NO_PREPROCESSOR;
    if (handle->internal_memory == nullptr)
        return OSTREL_ERR_MEMORY;
    const FieldLayout layout = field_layout_of(handle);
    uint8_t *base = aligned_base(handle->internal_memory);
    const uintptr_t padding =
        static_cast<uintptr_t>(base - static_cast<uint8_t *>(handle->internal_memory));
    if (handle->internal_memory_size < layout.end + kSpareBytes ||
        padding + layout.end > handle->internal_memory_size)
        return OSTREL_ERR_MEMORY;
    const uint32_t status = libEchoCancel_Init(handle);
    if (status != OSTREL_OK)
        return status;
    OstrelBlock *block = block_of(handle);
    init_field(block, reinterpret_cast<FieldState *>(base + layout.state_offset), options, base,
               layout);
    return OSTREL_OK;
}

} // extern "C"
