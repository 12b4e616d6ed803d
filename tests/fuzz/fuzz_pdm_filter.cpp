// Decimation filter: every kernel, stride, byte swap and reconfiguration
// while running. Four records see the same bit stream and the same
// configurations: the selected single-channel kernel (stride 1, swapped
// words), its generic twin on the same buffer, the generic kernel on a
// buffer of time-ordered bytes, and the generic kernel at a larger stride.
// All four must agree bit for bit, sample and state.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pdm_filter.h"

namespace
{

const PdmFilterKernel kGeneric[8] = {nullptr,      D48_GENERIC, D64_GENERIC, D80_GENERIC,
                                     D128_GENERIC, D16_GENERIC, D24_GENERIC, D32_GENERIC};

PdmFilterRecord makeRecord(uint16_t stride, uint16_t swap)
{
    PdmFilterRecord rec;
    std::memset(&rec, 0x5A, sizeof rec);
    rec.bit_order = 0;
    rec.byte_swap = swap;
    rec.in_stride = stride;
    rec.out_stride = 1;
    return rec;
}

bool sameState(const PdmFilterInternal& a, const PdmFilterInternal& b)
{
    return a.comb[0] == b.comb[0] && a.comb[1] == b.comb[1] && a.hp_prev_out == b.hp_prev_out &&
           a.hp_prev_in == b.hp_prev_in && a.lane_carry == b.lane_carry &&
           a.volume_multiplier == b.volume_multiplier;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint16_t stride = in.ConsumeIntegralInRange<uint16_t>(2, 5);
    PdmFilterRecord single = makeRecord(1, 1), twin = makeRecord(1, 1);
    PdmFilterRecord ordered = makeRecord(1, 0), strided = makeRecord(stride, 0);
    PdmFilterRecord* all[4] = {&single, &twin, &ordered, &strided};
    for (PdmFilterRecord* rec : all)
        if (PDM_Filter_Init(rec) != 0)
            std::abort();

    std::vector<uint8_t> time_order, swapped, interleaved;
    int16_t out[4][64];
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeBool()) {
            PdmFilterConfig base;
            base.decimation_code = in.ConsumeIntegralInRange<uint16_t>(0, 8);
            base.samples_per_call = in.ConsumeIntegralInRange<uint16_t>(1, 64);
            base.gain_db = in.ConsumeIntegralInRange<int16_t>(-20, 60);
            uint32_t first = 0;
            for (int r = 0; r < 4; ++r) {
                PdmFilterConfig cfg = base;
                const uint32_t result = PDM_Filter_setConfig(all[r], &cfg);
                if (r == 0)
                    first = result;
                if (result != first)
                    std::abort();
            }
            continue;
        }
        if ((single.state.flags & PDM_FILTER_FLAG_CONFIGURED) == 0)
            continue;
        const uint32_t code = single.state.flags & PDM_FILTER_FLAG_CODE_MASK;
        const size_t bytes = size_t(single.state.samples_per_call) * PDM_Filter_factor(code) / 8;
        time_order = in.ConsumeBytes<uint8_t>(bytes);
        time_order.resize(bytes, 0x55);
        // Stride 1 with swap: the higher-addressed byte of each word is earlier;
        // a lone last byte of an odd-length buffer stays in place.
        swapped.assign(bytes, 0);
        interleaved.assign(bytes * stride, 0xEE);
        for (size_t t = 0; t < bytes; ++t) {
            swapped[PDM_Filter_inputOffset(t, bytes, 1, 1)] = time_order[t];
            interleaved[t * stride] = time_order[t];
        }
        std::memset(out, 0, sizeof out);
        if (PDM_Filter(swapped.data(), out[0], &single) != 0)
            std::abort();
        if (PDM_Filter_selectedKernel(&single) == kGeneric[code])
            std::abort();
        kGeneric[code](swapped.data(), out[1], &twin.state);
        kGeneric[code](time_order.data(), out[2], &ordered.state);
        if (PDM_Filter(interleaved.data(), out[3], &strided) != 0)
            std::abort();
        const size_t n = single.state.samples_per_call;
        for (int r = 1; r < 4; ++r) {
            if (std::memcmp(out[0], out[r], n * sizeof(int16_t)) != 0)
                std::abort();
            if (!sameState(single.state, all[r]->state))
                std::abort();
        }
    }
    return 0;
}
