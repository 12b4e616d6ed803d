// Memory sizing of the echo-cancellation library and the layout of the
// caller's block.
#include "ostrel_block.h"

namespace ostrel
{

namespace
{

constexpr uint32_t align_up(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

} // namespace

BlockLayout block_layout(const OstrelHandle *handle)
{
    BlockLayout layout{};
    layout.tail_length =
        handle->tail_length != 0 ? handle->tail_length : OSTREL_DEFAULT_TAIL_LENGTH;
    layout.blocks = (layout.tail_length + kFrame - 1) / kFrame;
    layout.spectra = (layout.blocks + 1) * kWindow;
    layout.spectra_offset = kFixedBytes;
    layout.lambda_offset = layout.spectra_offset + 3 * layout.spectra * sizeof(float);
    uint32_t size = layout.lambda_offset + layout.tail_length * sizeof(float);
    if (handle->preprocess_enable != 0) {
        // Records of 4-byte alignment follow without a gap; an 8-byte aligned
        // preprocessor state (64-bit host) may need 4 bytes of padding, which the
        // spare bytes cover, so the nominal sizes are added up unpadded.
        const uint32_t nominal = size + kPreprocessStateBytes;
        layout.preprocess_offset = align_up(size, alignof(PreprocessState));
        layout.preprocess_fft_offset = layout.preprocess_offset + kPreprocessStateBytes;
        layout.filterbank_offset = layout.preprocess_fft_offset + kPreprocessFftBytes;
        size = nominal + kPreprocessFftBytes + kFilterBankBytes;
        layout.records_end = layout.filterbank_offset + kFilterBankBytes;
    } else {
        layout.records_end = size;
    }
    layout.memory_size = size + kSpareBytes;
    return layout;
}

uint8_t *aligned_base(void *memory)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(memory);
    const uintptr_t aligned =
        (address + alignof(OstrelBlock) - 1) & ~(uintptr_t{alignof(OstrelBlock)} - 1);
    return static_cast<uint8_t *>(memory) + (aligned - address);
}

OstrelBlock *block_of(const OstrelHandle *handle)
{
    return reinterpret_cast<OstrelBlock *>(aligned_base(handle->internal_memory));
}

} // namespace ostrel

extern "C" uint32_t libEchoCancel_getMemorySize(OstrelHandle *handle)
{
    handle->internal_memory_size = ostrel::block_layout(handle).memory_size;
    return OSTREL_OK;
}
