// Veldra_FirstStep per call for each PDM clock and path, and
// Veldra_SecondStep per block for each type. The counter budget_pct is the
// mean cost as a percentage of the real-time budget: 1 ms per first step
// (the 16 samples it forms), 8 ms per second step (the 128-sample block).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

#include "CpuTime.h"
#include "veldra.h"
#include "veldra_internal.h"

namespace
{

constexpr double kFirstStepBudget = 0.001;
constexpr double kSecondStepBudget = 0.008;
constexpr int kCallsInInput = 500; // half a second of input, replayed

void set_budget(benchmark::State& state, double cpu_seconds, double budget)
{
    const double per_call = cpu_seconds / (double)state.iterations();
    state.counters["budget_pct"] = 100.0 * per_call / budget;
}

struct Instance {
    VeldraHandle handle{};
    std::vector<uint32_t> block;

    Instance(uint32_t format, uint32_t khz, uint8_t type, uint8_t delay, uint16_t distance)
    {
        handle.data_format = format;
        handle.sampling_frequency = khz;
        handle.mic1_channels = 2;
        handle.mic2_channels = 2;
        handle.out_channels = 2;
        handle.algorithm_type = type;
        handle.second_output = 1;
        handle.delay_enable = delay;
        Veldra_getMemorySize(&handle);
        block.assign(handle.internal_memory_size / 4, 0);
        handle.internal_memory = block.data();
        Veldra_Init(&handle);
        VeldraConfig cfg{distance, type, 12, 0.0f};
        Veldra_setConfig(&handle, &cfg);
    }
};

// Interleaved PDM of two microphones: second-order sigma-delta of a tone and
// noise, slightly different per microphone.
std::vector<uint8_t> pdm_input(uint32_t khz)
{
    const size_t bytes = (size_t)kCallsInInput * khz / 8;
    std::vector<uint8_t> out(2 * bytes);
    uint32_t seed = 3;
    for (int mic = 0; mic < 2; ++mic) {
        double i1 = 0, i2 = 0, fb = 0;
        for (size_t b = 0; b < bytes; ++b) {
            uint8_t v = 0;
            for (int k = 0; k < 8; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const double t = (double)(b * 8 + k) / (khz * 1000.0);
                const double u = 0.3 * std::sin(2 * M_PI * 1000.0 * t + mic) +
                                 0.05 * ((seed >> 16) / 65536.0 - 0.5);
                i1 += u - fb;
                i2 += i1 - fb;
                const int bit = i2 >= 0 ? 1 : 0;
                fb = bit ? 1.0 : -1.0;
                v = (uint8_t)((v << 1) | bit);
            }
            out[2 * b + mic] = v;
        }
    }
    return out;
}

// Stereo 16 kHz PCM (interleaved), or pairs of 32-sample buffers for the
// path whose delayed signals come from the caller.
std::vector<int16_t> pcm_input()
{
    std::vector<int16_t> out((size_t)kCallsInInput * 32);
    uint32_t seed = 5;
    for (size_t i = 0; i < out.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = (int16_t)(3000.0 * std::sin(0.3 * (double)(i / 2)) + (int16_t)(seed >> 22));
    }
    return out;
}

// Arguments: clock (kHz), distance (0.1 mm), type.
void BM_FirstStepPdm(benchmark::State& state)
{
    const uint32_t khz = (uint32_t)state.range(0);
    const uint8_t type = (uint8_t)state.range(2);
    Instance inst(VELDRA_FORMAT_PDM, khz, type, 1, (uint16_t)state.range(1));
    const std::vector<uint8_t> input = pdm_input(khz);
    const size_t per_call = 2 * (size_t)khz / 8;
    int16_t out[32];
    int call = 0;
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        const uint8_t* at = &input[(size_t)call * per_call];
        benchmark::DoNotOptimize(Veldra_FirstStep(at, at + 1, out, &inst.handle));
        // The second step's work is measured separately; only its flag is taken.
        static_cast<VeldraControl*>(inst.handle.internal_memory)->block_ready = 0;
        call = (call + 1) % kCallsInInput;
    }
    set_budget(state, threadCpuSeconds() - start, kFirstStepBudget);
}

// Arguments: delay line (0/1), type.
void BM_FirstStepPcm(benchmark::State& state)
{
    const uint8_t delay = (uint8_t)state.range(0);
    const uint8_t type = (uint8_t)state.range(1);
    Instance inst(VELDRA_FORMAT_PCM, 16, type, delay, delay ? 212 : 30);
    const std::vector<int16_t> input = pcm_input();
    int16_t out[32];
    int call = 0;
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        const int16_t* at = &input[(size_t)call * 32];
        benchmark::DoNotOptimize(Veldra_FirstStep(at, delay ? at + 1 : at + 16, out, &inst.handle));
        static_cast<VeldraControl*>(inst.handle.internal_memory)->block_ready = 0;
        call = (call + 1) % (kCallsInInput - 1);
    }
    set_budget(state, threadCpuSeconds() - start, kFirstStepBudget);
}

// Argument: type. The rings are filled from a PDM scene first; each
// iteration then processes the alternate half, as the firmware would.
void BM_SecondStep(benchmark::State& state)
{
    const uint8_t type = (uint8_t)state.range(0);
    Instance inst(VELDRA_FORMAT_PDM, 1024, type, 1, 150);
    const std::vector<uint8_t> input = pdm_input(1024);
    int16_t out[32];
    for (int call = 0; call < kCallsInInput; ++call) {
        const uint8_t* at = &input[(size_t)call * 256];
        if (Veldra_FirstStep(at, at + 1, out, &inst.handle))
            Veldra_SecondStep(&inst.handle);
    }
    VeldraControl* ctrl = static_cast<VeldraControl*>(inst.handle.internal_memory);
    uint32_t half = 1;
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        ctrl->block_ready = half;
        benchmark::DoNotOptimize(Veldra_SecondStep(&inst.handle));
        half = 3 - half;
    }
    set_budget(state, threadCpuSeconds() - start, kSecondStepBudget);
}

BENCHMARK(BM_FirstStepPdm)
    ->ArgNames({"khz", "distance", "type"})
    ->ArgsProduct({{256, 384, 512, 768, 1024, 1280, 2048}, {150}, {0, 2}})
    ->Args({2048, 209, 0})
    ->Args({2048, 209, 2})
    ->Args({1024, 211, 0})
    ->Args({1024, 211, 2});
BENCHMARK(BM_FirstStepPcm)->ArgNames({"delay_line", "type"})->ArgsProduct({{0, 1}, {0, 2}});
BENCHMARK(BM_SecondStep)->ArgName("type")->DenseRange(0, 3);

} // namespace
