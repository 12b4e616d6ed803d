// PDM_Filter per call (16 output samples, one millisecond) for every
// decimation factor, on the board's interleaved input (stride 2, generic
// kernel) and on a single microphone of byte-swapped 16-bit words (stride 1,
// single-channel kernel). The counter budget_pct is the mean call cost as a
// share of the 1 ms that one call's samples last, in thread CPU time; the first step runs two to
// four filters per call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "CpuTime.h"
#include "pdm_filter.h"

namespace
{

constexpr double kCallBudgetSeconds = 0.001;

void BM_PdmFilter(benchmark::State& state)
{
    const uint16_t code = static_cast<uint16_t>(state.range(0));
    const uint16_t stride = static_cast<uint16_t>(state.range(1));
    const size_t bytes_per_call = size_t(16) * PDM_Filter_factor(code) / 8;
    std::vector<uint8_t> input(bytes_per_call * stride * 64);
    uint32_t seed = 1;
    for (uint8_t& b : input) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    PdmFilterRecord record{};
    record.byte_swap = 1;
    record.in_stride = stride;
    record.out_stride = 1;
    PDM_Filter_Init(&record);
    PdmFilterConfig config = {code, 16, 12};
    if (PDM_Filter_setConfig(&record, &config) != 0u) {
        state.SkipWithError("configuration refused");
        return;
    }
    int16_t output[16];
    size_t call = 0;
    const double cpu_start = threadCpuSeconds();
    for (auto _ : state) {
        PDM_Filter(&input[(call % 64) * bytes_per_call * stride], output, &record);
        benchmark::DoNotOptimize(output);
        ++call;
    }
    const double mean = (threadCpuSeconds() - cpu_start) / double(call ? call : 1);
    state.SetLabel((stride == 1 ? "1ch " : "stride2 ") +
                   std::to_string(16 * PDM_Filter_factor(code)) + " kHz");
    state.counters["budget_pct"] = 100.0 * mean / kCallBudgetSeconds;
}

// Codes in the order of their factors 16, 24, 32, 48, 64, 80, 128.
BENCHMARK(BM_PdmFilter)->ArgNames({"code", "stride"})->ArgsProduct({{5, 6, 7, 1, 2, 3, 4}, {2, 1}});

} // namespace
