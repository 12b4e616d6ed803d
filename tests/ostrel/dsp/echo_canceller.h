// An echo canceller with its own transform table and variable arrays, for
// the tests of the canceller and of the suppressor that reads its residual.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "echo.h"

constexpr int F = ECHO_FRAME;

// One canceller with its own table and variable arrays; copies rebind the
// references so a copy continues independently from the same state.
struct Canceller {
    EchoState st{};
    FftTable table{};
    std::vector<float> arrays;

    explicit Canceller(int tail, const EchoTuning* tuning = nullptr)
        : arrays(Echo_variable_bytes(F, tail) / sizeof(float), 0.0f)
    {
        bind(tail);
        fft_table_init(&table, 2 * F);
        Echo_init(&st, F, tail, 1, 1);
        Echo_set_sampling_rate(&st, 16000);
        Echo_set_tuning(&st, tuning);
    }
    Canceller(const Canceller& other) : st(other.st), table(other.table), arrays(other.arrays)
    {
        bind(other.st.blocks * F);
    }
    void bind(int tail)
    {
        const int M = (tail + F - 1) / F, N = 2 * F;
        st.X = arrays.data();
        st.W = st.X + (M + 1) * N;
        st.foreground = st.W + M * N;
        st.lambda = st.foreground + M * N;
        st.table = &table;
    }
    void run(const int16_t* mic, const int16_t* ref, int16_t* out)
    {
        Echo_cancellation(&st, mic, ref, out);
    }
    float max_abs_weight() const
    {
        float m = 0.0f;
        for (int i = 0; i < st.blocks * 2 * F; ++i)
            m = std::max(m, std::fabs(st.W[i]));
        return m;
    }
};
