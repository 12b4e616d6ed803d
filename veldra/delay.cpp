// Sample and bit delay lines.
#include "delay.h"

#include <string.h>

#include "pdm_filter.h"

// Byte `index` (in time order, as the decimation filters read it) of the
// record's input.
static inline uint8_t delay_input_byte(const uint8_t *input, const DelayRecord *rec, uint32_t index)
{
    return input[PDM_Filter_inputOffset(index, rec->units, rec->stride, rec->swap_pairs)];
}

void delay_setup_bits(DelayRecord *rec, uint16_t stride, uint16_t bytes_per_call, uint16_t bits,
                      uint16_t byte_swap)
{
    memset(rec, 0, sizeof *rec);
    // The history of Delay_3 holds at most 16 bytes: 127 bits.
    if (bits > 127u)
        bits = 127u;
    rec->stride = stride;
    rec->units = bytes_per_call;
    rec->delay = bits;
    rec->whole_bytes = (uint8_t)(bits / 8u);
    rec->bit_shift = (uint8_t)(bits % 8u);
    rec->swap_pairs = byte_swap ? 1u : 0u;
    rec->op = bits < 64u ? VELDRA_DELAY_BITS_WORD : VELDRA_DELAY_BITS_BYTE;
}

void delay_setup_sample(DelayRecord *rec)
{
    memset(rec, 0, sizeof *rec);
    rec->stride = 1;
    rec->units = VELDRA_FRAME;
    rec->delay = 1;
    rec->op = VELDRA_DELAY_SAMPLE;
}

void delay_bits(const void *input, VeldraControl *ctrl, DelayRecord *rec)
{
    if (rec->op == VELDRA_DELAY_BITS_WORD)
        Delay_2(static_cast<const uint8_t *>(input), ctrl, rec);
    else if (rec->op == VELDRA_DELAY_BITS_BYTE)
        Delay_3(static_cast<const uint8_t *>(input), ctrl, rec);
}

void Delay_1(int16_t *samples, VeldraControl *ctrl, DelayRecord *rec)
{
    (void)ctrl;
    const uint32_t stride = rec->stride;
    const int16_t last = samples[(VELDRA_FRAME - 1) * stride];
    for (uint32_t i = VELDRA_FRAME - 1; i > 0; --i)
        samples[i * stride] = samples[(i - 1) * stride];
    samples[0] = rec->last_sample;
    rec->last_sample = last;
}

void Delay_2(const uint8_t *input, VeldraControl *ctrl, DelayRecord *rec)
{
    const uint32_t shift = rec->delay;
    uint64_t carry = ((uint64_t)rec->carry[0] << 32) | rec->carry[1];
    uint8_t *out = ctrl->pdm_scratch;
    const uint32_t groups = rec->units / 8u;
    for (uint32_t g = 0; g < groups; ++g) {
        uint64_t group = 0;
        for (uint32_t j = 0; j < 8u; ++j)
            group = (group << 8) | delay_input_byte(input, rec, g * 8u + j);
        const uint64_t word = carry | (group >> shift);
        carry = shift == 0u ? 0u : group << (64u - shift);
        for (uint32_t j = 0; j < 8u; ++j)
            *out++ = (uint8_t)(word >> (56u - 8u * j));
    }
    rec->carry[0] = (uint32_t)(carry >> 32);
    rec->carry[1] = (uint32_t)carry;
}

void Delay_3(const uint8_t *input, VeldraControl *ctrl, DelayRecord *rec)
{
    const uint32_t n = rec->whole_bytes;
    const uint32_t k = rec->bit_shift;
    const uint32_t count = rec->units;
    uint8_t *out = ctrl->pdm_scratch;
    // x[i] for i in -(n+1)..count-1: negative indices come from the history,
    // which holds the previous call's last n + 1 bytes.
    auto x = [&](int32_t i) -> uint32_t {
        if (i >= 0)
            return delay_input_byte(input, rec, (uint32_t)i);
        return rec->history[(int32_t)(n + 1u) + i];
    };
    for (uint32_t j = 0; j < count; ++j) {
        const int32_t at = (int32_t)j - (int32_t)n;
        out[j] = (uint8_t)((x(at - 1) << (8u - k)) | (x(at) >> k));
    }
    for (uint32_t i = 0; i <= n; ++i)
        rec->history[i] = (uint8_t)x((int32_t)(count - n - 1u + i));
}
