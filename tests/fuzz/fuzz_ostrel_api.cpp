// The echo-cancellation library's API under random handles, configurations
// and call orders: the block may be smaller than the handle needs (Init must
// refuse it untouched), and nothing may be written outside it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "guarded_block.h"
#include "ostrel.h"

namespace
{

int16_t mic[16 * 4], ref[16 * 4], out[16 * 4];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    OstrelHandle handle{};
    handle.tail_length = in.ConsumeIntegralInRange<uint16_t>(0, 1100);
    handle.preprocess_enable = in.ConsumeIntegralInRange<uint32_t>(0, 2);
    handle.mic_stride = in.ConsumeIntegralInRange<uint16_t>(0, 4);
    handle.ref_stride = in.ConsumeIntegralInRange<uint16_t>(0, 4);
    handle.out_stride = in.ConsumeIntegralInRange<uint16_t>(0, 4);
    Ostrel_getMemorySize(&handle);
    // Sometimes the handle changes after sizing, as a careless caller's would.
    if (in.ConsumeBool())
        handle.preprocess_enable = in.ConsumeIntegralInRange<uint32_t>(0, 1);
    if (in.ConsumeBool())
        handle.tail_length = in.ConsumeIntegralInRange<uint16_t>(0, 1100);
    GuardedBlock block(handle.internal_memory_size);
    handle.internal_memory = block.data();
    if (Ostrel_Init(&handle) != OSTREL_OK) {
        block.checkUntouched();
        block.check();
        return 0;
    }
    block.check();

    const int level = in.ConsumeIntegralInRange(0, 32767);
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            OstrelConfig cfg{};
            cfg.denoise_enable = in.ConsumeIntegral<uint32_t>();
            cfg.agc_target_level = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 40000)
                                                    : in.ConsumeIntegral<uint32_t>();
            cfg.residual_echo_enable = in.ConsumeIntegralInRange<uint32_t>(0, 2);
            cfg.noise_attenuation_db = in.ConsumeIntegralInRange<int32_t>(-400, 400);
            cfg.echo_attenuation_db = in.ConsumeIntegralInRange<int32_t>(-400, 400);
            cfg.echo_attenuation_active_db = in.ConsumeIntegral<int32_t>();
            Ostrel_setConfig(&handle, &cfg);
            break;
        }
        case 1: {
            OstrelConfig cfg{};
            Ostrel_getConfig(&handle, &cfg);
            break;
        }
        case 2:
            Ostrel_Process(&handle);
            break;
        default: {
            // Loud, quiet or silent input; each call then processes when ready.
            const uint8_t kind = in.ConsumeIntegral<uint8_t>();
            for (size_t i = 0; i < 64; ++i) {
                const int noise = int((i * 2654435761u + kind * 40503u) >> 16) % 65536 - 32768;
                mic[i] = int16_t(kind & 1 ? noise * level / 32768 : 0);
                ref[i] = int16_t(kind & 2 ? -noise : (kind & 4 ? noise / 2 : 0));
            }
            if (Ostrel_Data_Input(mic, ref, out, &handle) == 1 && (kind & 8) == 0)
                Ostrel_Process(&handle);
            break;
        }
        }
        block.check();
    }
    return 0;
}
