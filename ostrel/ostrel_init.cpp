// Initialisation: clears the caller's block and sets up the echo canceller
// and, when reserved, the preprocessor inside it.
#include <string.h>

#include "ostrel_block.h"

namespace ostrel
{

namespace
{

template <typename T> T *record_at(uint8_t *base, uint32_t offset)
{
    return reinterpret_cast<T *>(base + offset);
}

void init_echo(OstrelBlock *block, uint8_t *base, const BlockLayout &layout)
{
    EchoState &echo = block->echo;
    float *spectra = record_at<float>(base, layout.spectra_offset);
    echo.X = spectra;
    echo.W = spectra + layout.spectra;
    echo.foreground = spectra + 2 * layout.spectra;
    echo.lambda = record_at<float>(base, layout.lambda_offset);
    echo.table = &block->echo_fft;
    fft_table_init(&block->echo_fft, static_cast<int32_t>(kWindow));
    Echo_init(&echo, static_cast<int32_t>(kFrame), static_cast<int32_t>(layout.tail_length), 1, 1);
    Echo_set_sampling_rate(&echo, kSamplingRate);
}

void init_preprocessor(OstrelBlock *block, uint8_t *base, const BlockLayout &layout)
{
    block->preprocess = record_at<PreprocessState>(base, layout.preprocess_offset);
    block->preprocess_fft = record_at<FftTable>(base, layout.preprocess_fft_offset);
    block->filterbank = filterbank_new(base + layout.filterbank_offset, kPreprocessBands,
                                       static_cast<float>(kSamplingRate),
                                       static_cast<int32_t>(kFrame), kFilterBankType);
    fft_table_init(block->preprocess_fft, static_cast<int32_t>(kWindow));
    Preprocess_init(block->preprocess, static_cast<int32_t>(kFrame), kSamplingRate);
    block->preprocess->bank = block->filterbank;
    block->preprocess->fft_table = block->preprocess_fft;
    block->preprocess_reserved = 1;
    block->preprocess_active = 1;
}

uint16_t stride_or_one(uint16_t stride)
{
    return stride != 0 ? stride : 1;
}

} // namespace

} // namespace ostrel

extern "C" uint32_t libEchoCancel_Init(OstrelHandle *handle)
{
    using namespace ostrel;
    // A missing block, or one smaller than the handle's settings need (for
    // example sized before preprocess_enable was set), is refused untouched
    // rather than written past its end.
    if (handle == nullptr || handle->internal_memory == nullptr)
        return OSTREL_ERR_MEMORY;
    const BlockLayout layout = block_layout(handle);
    uint8_t *base = aligned_base(handle->internal_memory);
    const uintptr_t padding =
        static_cast<uintptr_t>(base - static_cast<uint8_t *>(handle->internal_memory));
    if (handle->internal_memory_size < layout.memory_size ||
        padding + layout.records_end > handle->internal_memory_size) {
        return OSTREL_ERR_MEMORY;
    }

    memset(handle->internal_memory, 0, handle->internal_memory_size);
    OstrelBlock *block = reinterpret_cast<OstrelBlock *>(base);
    block->mic_stride = stride_or_one(handle->mic_stride);
    block->ref_stride = stride_or_one(handle->ref_stride);
    block->out_stride = stride_or_one(handle->out_stride);
    block->tail_length = static_cast<uint16_t>(layout.tail_length);
    block->frame_ready = kNoFrame;
    block->write_index = 0;
    block->read_index = static_cast<uint16_t>(kFrame);
    block->echo_active = 1;
    init_echo(block, base, layout);
    if (handle->preprocess_enable != 0)
        init_preprocessor(block, base, layout);
    return OSTREL_OK;
}
