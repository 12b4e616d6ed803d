// Preprocess per frame (noise suppression, with and without gain control) on
// voiced bursts in noise. The counter budget_pct is the mean frame cost as a
// share of the 8 ms that one 128-sample frame lasts at 16 kHz.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "preprocess.h"
#include "signals.h"

namespace
{

constexpr size_t kPreprocessSignalLength = 16000 * 2;
constexpr int kPreprocessFrame = 128;
constexpr double kPreprocessBudgetSeconds = 0.008;

const std::vector<int16_t>& voiced_bursts_in_noise()
{
    static const std::vector<int16_t> signal = [] {
        std::vector<double> s = testsignals::speech_bursts(kPreprocessSignalLength, 6000.0);
        const std::vector<double> noise =
            testsignals::white_noise(kPreprocessSignalLength, 7, 300.0);
        for (size_t i = 0; i < s.size(); i++)
            s[i] += noise[i];
        return testsignals::to_pcm(s);
    }();
    return signal;
}

struct PreprocessBench {
    PreprocessState st;
    FilterBank bank;
    FftTable table;
};

void BM_Preprocess(benchmark::State& state)
{
    auto p = std::make_unique<PreprocessBench>();
    std::memset(&p->st, 0, sizeof(p->st));
    fft_table_init(&p->table, 256);
    filterbank_new(&p->bank, 24, 16000.0f, 128, 1);
    Preprocess_init(&p->st, kPreprocessFrame, 16000);
    p->st.bank = &p->bank;
    p->st.fft_table = &p->table;
    int32_t agc = static_cast<int32_t>(state.range(0));
    Preprocess_setup(&p->st, PREPROCESS_SET_AGC, &agc);
    float level = 8000.0f;
    Preprocess_setup(&p->st, PREPROCESS_SET_AGC_LEVEL, &level);

    // Frames are processed in place in a copy of the signal, refreshed each
    // time the copy has been used up; only the Preprocess calls are timed.
    std::vector<int16_t> work;
    size_t position = kPreprocessSignalLength;
    double total_seconds = 0.0;
    for (auto _ : state) {
        if (position == kPreprocessSignalLength) {
            work = voiced_bursts_in_noise();
            position = 0;
        }
        const auto begin = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(Preprocess(&p->st, &work[position]));
        benchmark::ClobberMemory();
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - begin).count();
        total_seconds += seconds;
        state.SetIterationTime(seconds);
        position += kPreprocessFrame;
    }
    const double mean = state.iterations() > 0 ? total_seconds / double(state.iterations()) : 0.0;
    state.counters["budget_pct"] = 100.0 * mean / kPreprocessBudgetSeconds;
    state.SetLabel(agc ? "with gain control" : "noise suppression only");
}

BENCHMARK(BM_Preprocess)
    ->ArgName("agc")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
