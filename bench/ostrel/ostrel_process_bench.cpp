// Ostrel_Process per frame, echo canceller alone and with the preprocessor
// (noise suppression, gain control, residual-echo suppression), on a far
// end that keeps the filter adapting. Only the Ostrel_Process calls are
// timed, in thread CPU time so that other load on the machine does not
// count; the counter budget_pct is the mean frame cost as a share of the
// 8 ms that one 128-sample frame lasts at 16 kHz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include <time.h>

#include "CpuTime.h"
#include "ostrel.h"
#include "signals.h"

namespace
{

constexpr size_t kSignalLength = 16000 * 2;
constexpr double kFrameBudgetSeconds = 0.008;

// Far-end noise through a 256-tap decaying path, with near-end noise.
const testsignals::EchoScene& echo_signals()
{
    static const testsignals::EchoScene signals = [] {
        testsignals::EchoRoom room;
        room.taps = 256;
        room.path_gain = 2.5;
        room.path_decay = 48.0;
        room.swell = 0.0;
        room.near_level = 20.0;
        return testsignals::echo_scene(kSignalLength, 1, room);
    }();
    return signals;
}

void BM_OstrelProcess(benchmark::State& state)
{
    const bool preprocess = state.range(1) != 0;
    OstrelHandle handle{};
    handle.tail_length = static_cast<uint16_t>(state.range(0));
    handle.preprocess_enable = preprocess ? 1u : 0u;
    Ostrel_getMemorySize(&handle);
    std::vector<uint32_t> block((handle.internal_memory_size + 3) / 4);
    handle.internal_memory = block.data();
    Ostrel_Init(&handle);
    if (preprocess) {
        const OstrelConfig config{1u, 8000u, 1u, -15, -40, -15};
        Ostrel_setConfig(&handle, &config);
    }

    const testsignals::EchoScene& signals = echo_signals();
    int16_t out[OSTREL_SAMPLES_PER_INPUT];
    size_t position = 0;
    double process_seconds = 0.0;
    for (auto _ : state) {
        // One frame of input: eight 16-sample exchanges, the last one ready.
        uint32_t ready = 0;
        while (ready == 0) {
            ready = Ostrel_Data_Input(&signals.mic[position], &signals.ref[position], out, &handle);
            position = (position + OSTREL_SAMPLES_PER_INPUT) % kSignalLength;
        }
        const double begin = threadCpuSeconds();
        Ostrel_Process(&handle);
        const double seconds = threadCpuSeconds() - begin;
        benchmark::DoNotOptimize(out[0]);
        process_seconds += seconds;
        state.SetIterationTime(seconds);
    }
    const double mean = state.iterations() > 0 ? process_seconds / double(state.iterations()) : 0.0;
    state.counters["budget_pct"] = 100.0 * mean / kFrameBudgetSeconds;
    state.SetLabel(preprocess ? "with preprocessor" : "echo canceller only");
}

BENCHMARK(BM_OstrelProcess)
    ->ArgNames({"tail", "preprocess"})
    ->Args({512, 0})
    ->Args({512, 1})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
