// Sample exchange and frame processing: the producer (audio path) fills one
// half of the input rings while the consumer processes the other half into
// the output half that is played out next, 256 samples after the input.
#include "field_state.h"
#include "ostrel_block.h"

extern "C" uint32_t libEchoCancel_Data_Input(const int16_t *mic, const int16_t *ref, int16_t *out,
                                             OstrelHandle *handle)
{
    using namespace ostrel;
    OstrelBlock *block = block_of(handle);
    uint32_t became_ready = 0;
    uint32_t write_index = block->write_index;
    uint32_t read_index = block->read_index;
    for (uint32_t i = 0; i < kChunk; ++i) {
        block->mic_ring[write_index] = mic[i * block->mic_stride];
        block->ref_ring[write_index] = ref[i * block->ref_stride];
        ++write_index;
        if (write_index == kFrame) {
            block->frame_ready = kFirstHalfReady;
            became_ready = 1;
        } else if (write_index == kRingLength) {
            block->frame_ready = kSecondHalfReady;
            became_ready = 1;
            write_index = 0;
        }
        out[i * block->out_stride] = block->out_ring[read_index];
        read_index = (read_index + 1) % kRingLength;
    }
    block->write_index = static_cast<uint16_t>(write_index);
    block->read_index = static_cast<uint16_t>(read_index);
    return became_ready;
}

extern "C" uint32_t libEchoCancel_Process(OstrelHandle *handle)
{
    using namespace ostrel;
    OstrelBlock *block = block_of(handle);
    const uint16_t ready = block->frame_ready;
    uint32_t input_half;
    if (ready == kFirstHalfReady) {
        input_half = 0;
    } else if (ready == kSecondHalfReady) {
        input_half = kFrame;
    } else {
        return OSTREL_OK;
    }
    block->frame_ready = kNoFrame;
    const uint32_t output_half = kFrame - input_half;
    int16_t *out = block->out_ring + output_half;
    if (block->field_active != 0) {
        field_process(block, input_half, out);
        return OSTREL_OK;
    }
    if (block->echo_active != 0) {
        Echo_cancellation(&block->echo, block->mic_ring + input_half, block->ref_ring + input_half,
                          out);
    } else {
        for (uint32_t i = 0; i < kFrame; ++i)
            out[i] = block->mic_ring[input_half + i];
    }
    if (block->preprocess_active != 0)
        Preprocess(block->preprocess, out);
    return OSTREL_OK;
}
