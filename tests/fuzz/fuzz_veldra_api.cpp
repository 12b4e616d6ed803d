// The beamforming library's API under random handles, configurations and
// call orders: the block may be sized for another type than Init is given,
// and nothing may be written outside it (guard regions on both sides).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "guarded_block.h"
#include "veldra.h"

namespace
{

const uint32_t kFrequencies[] = {16, 256, 384, 512, 768, 1024, 1280, 2048, 0, 1000};
const uint32_t kSecondOutputs[] = {0, 1, 7, 3};

// Worst-case inputs of one call: 2048 kHz PDM at stride 255 (65280 bytes)
// or 32 PCM samples at stride 255.
constexpr size_t kInputBytes = 256 * 255;
alignas(4) uint8_t mic1[kInputBytes + 256], mic2[kInputBytes + 256];
int16_t out[16 * 255];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    VeldraHandle handle{};
    handle.data_format = in.ConsumeIntegralInRange<uint32_t>(0, 2);
    handle.sampling_frequency = in.PickValueInArray(kFrequencies);
    handle.mic1_channels = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    handle.mic2_channels = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    if (in.ConsumeBool())
        handle.mic1_channels = in.ConsumeIntegral<uint8_t>();
    handle.out_channels = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    if (in.ConsumeBool())
        handle.out_channels = in.ConsumeIntegral<uint8_t>();
    handle.second_output = in.PickValueInArray(kSecondOutputs);
    handle.delay_enable = in.ConsumeIntegralInRange<uint8_t>(0, 1);
    // Sized for one type, perhaps initialised for another.
    handle.algorithm_type = in.ConsumeIntegralInRange<uint8_t>(0, 5);
    Veldra_getMemorySize(&handle);
    handle.algorithm_type = in.ConsumeIntegralInRange<uint8_t>(0, 5);
    GuardedBlock block(handle.internal_memory_size);
    handle.internal_memory = block.data();
    if (Veldra_Init(&handle) == VELDRA_ERR_MEMORY) {
        block.checkUntouched();
        block.check();
        return 0;
    }
    block.check();

    const std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 64));
    for (size_t i = 0; i < sizeof mic1; ++i) {
        mic1[i] = pattern.empty() ? 0x55 : pattern[i % pattern.size()];
        mic2[i] = uint8_t(mic1[i] * 7 + i);
    }
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0: {
            VeldraConfig cfg{};
            cfg.mic_distance = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 220)
                                                : in.ConsumeIntegral<uint16_t>();
            cfg.algorithm_type = in.ConsumeIntegralInRange<uint32_t>(0, 5);
            cfg.volume = in.ConsumeIntegral<uint8_t>();
            cfg.mic2_gain = in.ConsumeBool() ? in.ConsumeFloatingPointInRange(-1.0f, 4.0f)
                                             : in.ConsumeFloatingPoint<float>();
            Veldra_setConfig(&handle, &cfg);
            break;
        }
        case 1: {
            VeldraConfig cfg{};
            Veldra_getConfig(&handle, &cfg);
            break;
        }
        case 2:
            Veldra_SecondStep(&handle);
            break;
        default: {
            const size_t shift = 2 * in.ConsumeIntegralInRange<size_t>(0, 127);
            if (Veldra_FirstStep(mic1 + shift, mic2 + shift, out, &handle))
                Veldra_SecondStep(&handle);
            break;
        }
        }
        block.check();
    }
    return 0;
}
