// The 256-point real FFT against FFTW's single-precision real transform of
// the same size, and Echo_cancellation per frame for three tail lengths.
// Counters: fft_ns / fftw_ns / ratio (our time over FFTW's, measured in the
// same benchmark run, thread CPU time), budget_pct (mean frame cost as a share of the 8 ms
// that one 128-sample frame lasts at 16 kHz).
#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <time.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CpuTime.h"
#include "echo.h"
#include "fft.h"
#include "signals.h"

namespace
{

constexpr int kLength = 256;
constexpr int kFrame = ECHO_FRAME;
constexpr double kFrameBudgetSeconds = 0.008;
constexpr int kBatch = 256; // transforms per timed batch

std::vector<float> random_block(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(kLength);
    for (float& s : v)
        s = u(rng);
    return v;
}

template <typename Run> double seconds_for_batch(Run run)
{
    const double begin = threadCpuSeconds();
    for (int i = 0; i < kBatch; ++i)
        run();
    return threadCpuSeconds() - begin;
}

// Times batches of our transform and of FFTW's alternately, so that both see
// the same machine state; the benchmark's own time is the sum of both.
void compare_with_fftw(benchmark::State& state, bool inverse)
{
    FftTable table{};
    fft_table_init(&table, kLength);
    std::vector<float> input = random_block(1), ours(kLength);
    float* fftw_in = fftwf_alloc_real(kLength);
    float* fftw_out = fftwf_alloc_real(kLength);
    fftwf_plan plan = fftwf_plan_r2r_1d(kLength, fftw_in, fftw_out, inverse ? FFTW_HC2R : FFTW_R2HC,
                                        FFTW_MEASURE);
    for (int i = 0; i < kLength; ++i)
        fftw_in[i] = input[i];

    double ours_seconds = 0.0, fftw_seconds = 0.0;
    for (auto _ : state) {
        ours_seconds += seconds_for_batch([&] {
            if (inverse)
                ifft(&table, input.data(), ours.data());
            else
                fft(&table, input.data(), ours.data());
            benchmark::DoNotOptimize(ours.data());
        });
        fftw_seconds += seconds_for_batch([&] {
            fftwf_execute(plan);
            benchmark::DoNotOptimize(fftw_out);
        });
    }
    const double transforms = (double)state.iterations() * kBatch;
    if (transforms > 0) {
        state.counters["fft_ns"] = 1e9 * ours_seconds / transforms;
        state.counters["fftw_ns"] = 1e9 * fftw_seconds / transforms;
        state.counters["ratio"] = fftw_seconds > 0 ? ours_seconds / fftw_seconds : 0.0;
    }
    fftwf_destroy_plan(plan);
    fftwf_free(fftw_in);
    fftwf_free(fftw_out);
}

void BM_FftVsFftw(benchmark::State& state)
{
    compare_with_fftw(state, false);
    state.SetLabel("fft 256 vs fftwf R2HC");
}

void BM_IfftVsFftw(benchmark::State& state)
{
    compare_with_fftw(state, true);
    state.SetLabel("ifft 256 vs fftwf HC2R");
}

void BM_Fft256(benchmark::State& state)
{
    FftTable table{};
    fft_table_init(&table, kLength);
    std::vector<float> input = random_block(2), out(kLength);
    for (auto _ : state) {
        fft(&table, input.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

// Two seconds of far end through a 400-tap decaying room, with near noise.
const testsignals::EchoScene& echo_signals()
{
    static const testsignals::EchoScene signals = [] {
        testsignals::EchoRoom room;
        room.taps = 400;
        room.path_gain = 1.9;
        room.path_decay = 80.0;
        room.swell = 0.0;
        room.near_level = 15.0;
        return testsignals::echo_scene(16000 * 2, 3, room);
    }();
    return signals;
}

void BM_EchoCancellation(benchmark::State& state)
{
    const int tail = (int)state.range(0);
    const int M = (tail + kFrame - 1) / kFrame;
    std::vector<float> arrays(Echo_variable_bytes(kFrame, tail) / sizeof(float));
    FftTable table{};
    fft_table_init(&table, 2 * kFrame);
    auto st = std::make_unique<EchoState>();
    *st = EchoState{};
    st->X = arrays.data();
    st->W = st->X + (M + 1) * 2 * kFrame;
    st->foreground = st->W + M * 2 * kFrame;
    st->lambda = st->foreground + M * 2 * kFrame;
    st->table = &table;
    Echo_init(st.get(), kFrame, tail, 1, 1);
    Echo_set_sampling_rate(st.get(), 16000);

    const testsignals::EchoScene& s = echo_signals();
    int16_t out[kFrame];
    size_t position = 0;
    const double begin = threadCpuSeconds();
    for (auto _ : state) {
        Echo_cancellation(st.get(), &s.mic[position], &s.ref[position], out);
        benchmark::DoNotOptimize(out[0]);
        position = (position + kFrame) % s.mic.size();
    }
    const double seconds = threadCpuSeconds() - begin;
    if (state.iterations() > 0)
        state.counters["budget_pct"] =
            100.0 * seconds / (double)state.iterations() / kFrameBudgetSeconds;
    state.SetLabel(std::to_string(M) + " blocks");
}

BENCHMARK(BM_Fft256);
BENCHMARK(BM_FftVsFftw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IfftVsFftw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EchoCancellation)
    ->ArgName("tail")
    ->Arg(128)
    ->Arg(512)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);

} // namespace
