// Noise suppressor and gain control: suppression of stationary noise while
// speech-like bursts pass, analysis against a double-precision DFT, control
// requests, gain control, 16-bit saturation of the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "echo_canceller.h"
#include "preprocess.h"
#include "signals.h"

using namespace testsignals;

namespace
{

constexpr int kFrame = 128;
constexpr double kRate = 16000.0;
constexpr double kPi = 3.14159265358979323846;

using Signal = std::vector<int16_t>;

struct Suppressor {
    PreprocessState st;
    FilterBank bank;
    FftTable table;

    Suppressor()
    {
        std::memset(&st, 0, sizeof(st));
        fft_table_init(&table, 256);
        EXPECT_NE(nullptr, filterbank_new(&bank, 24, 16000.0f, 128, 1));
        EXPECT_EQ(0, Preprocess_init(&st, kFrame, 16000));
        st.bank = &bank;
        st.fft_table = &table;
    }

    int32_t set(int32_t request, int32_t value) { return Preprocess_setup(&st, request, &value); }
    int32_t get(int32_t request)
    {
        int32_t value = -12345;
        EXPECT_EQ(0, Preprocess_setup(&st, request, &value));
        return value;
    }

    // Runs whole frames; returns the output and the per-frame results.
    Signal run(const Signal& in, std::vector<int32_t>* results = nullptr)
    {
        Signal out(in);
        for (size_t start = 0; start + kFrame <= out.size(); start += kFrame) {
            const int32_t r = Preprocess(&st, out.data() + start);
            if (results)
                results->push_back(r);
        }
        return out;
    }
};

Signal to_signal(const std::vector<double>& a, const std::vector<double>& b = {})
{
    Signal s(a.size());
    for (size_t i = 0; i < a.size(); i++)
        s[i] = to_pcm(a[i] + (b.empty() ? 0.0 : b[i]));
    return s;
}

double power(const Signal& s, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; i++)
        sum += static_cast<double>(s[i]) * s[i];
    return sum / static_cast<double>(to - from);
}

double db(double ratio)
{
    return 10.0 * std::log10(ratio);
}

int peak(const Signal& s)
{
    int m = 0;
    for (size_t i = 0; i < s.size(); i++)
        m = std::max(m, std::abs(static_cast<int>(s[i])));
    return m;
}

} // namespace

TEST(Preprocess, StationaryNoiseFollowsConfiguredAttenuationWhileBurstsPass)
{
    const size_t n = 5 * 16000, settled = 2 * 16000;
    const Signal noise = to_signal(white_noise(n, 1, 1000.0));
    auto attenuation_db = [&](int32_t request_db) {
        auto s = std::make_unique<Suppressor>();
        EXPECT_EQ(0, s->set(PREPROCESS_SET_NOISE_SUPPRESS, request_db));
        return db(power(s->run(noise), settled, n) / power(noise, settled, n));
    };
    const double atten15 = attenuation_db(15), atten30 = attenuation_db(30);
    EXPECT_LT(atten15, -10.0);
    EXPECT_GT(atten15, -18.0);
    EXPECT_LT(atten30, -22.0);
    EXPECT_GT(atten30, -33.0);

    // Bursts 26 dB above the noise pass almost untouched; the gaps between
    // them are suppressed. The output lags the input by one frame; compare
    // the middle of bursts and of gaps.
    std::vector<bool> voiced;
    const Signal mix = to_signal(speech_bursts(n, 6000.0, &voiced), white_noise(n, 2, 300.0));
    const Signal out = std::make_unique<Suppressor>()->run(mix);
    const size_t margin = 600;
    double in_on = 0, out_on = 0, in_off = 0, out_off = 0;
    for (size_t src = settled; src + margin < n - kFrame; src++) {
        const double a = mix[src], b = out[src + kFrame];
        if (voiced[src - margin] && voiced[src] && voiced[src + margin]) {
            in_on += a * a;
            out_on += b * b;
        } else if (!voiced[src - margin] && !voiced[src] && !voiced[src + margin]) {
            in_off += a * a;
            out_off += b * b;
        }
    }
    EXPECT_GT(db(out_on / in_on), -1.5);
    EXPECT_LT(db(out_on / in_on), 0.5);
    EXPECT_LT(db(out_off / in_off), -9.0);
}

// Spectrum powers of the analysis against a double DFT of the windowed
// previous and current frames; the window is power-complementary so that
// overlap-add of unmodified frames gives the input back.
TEST(Preprocess, AnalysisMatchesDoubleDft)
{
    auto s = std::make_unique<Suppressor>();
    for (int i = 0; i < 128; i++) {
        const double w0 = s->st.window[i], w1 = s->st.window[i + 128];
        EXPECT_NEAR(1.0, w0 * w0 + w1 * w1, 2e-6) << i;
    }

    const Signal in = to_signal(white_noise(256, 3, 8000.0), speech_bursts(256, 10000.0));
    Preprocess_analize(&s->st, in.data());
    Preprocess_analize(&s->st, in.data() + 128);

    double signal = 0.0, error = 0.0;
    for (int k = 0; k < 128; k++) {
        double re = 0.0, im = 0.0;
        for (int j = 0; j < 256; j++) {
            const double x = in[j] * static_cast<double>(s->st.window[j]);
            re += x * std::cos(2.0 * kPi * j * k / 256.0);
            im -= x * std::sin(2.0 * kPi * j * k / 256.0);
        }
        const double expected = (re * re + im * im) / (256.0 * 256.0);
        signal += expected * expected;
        error += (expected - s->st.Pw[k]) * (expected - s->st.Pw[k]);
    }
    EXPECT_GT(db(signal / error), 80.0);
}

TEST(Preprocess, SilenceStaysSilentAndVoiceDecisionIsSwitchable)
{
    auto s = std::make_unique<Suppressor>();
    std::vector<int32_t> results;
    const Signal out = s->run(Signal(40 * kFrame, 0), &results);
    EXPECT_EQ(0, peak(out));
    EXPECT_EQ(10, s->get(PREPROCESS_GET_PROB));
    // Decision off: every frame reports speech.
    EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](int32_t r) { return r == 1; }));

    EXPECT_EQ(0, s->set(PREPROCESS_SET_VAD, 1));
    results.clear();
    s->run(Signal(4 * kFrame, 0), &results);
    EXPECT_EQ(std::vector<int32_t>(4, 0), results);
    results.clear();
    s->run(to_signal(speech_bursts(20 * kFrame, 12000.0)), &results);
    EXPECT_EQ(1, results.back());
}

TEST(Preprocess, OutputSaturatesInsteadOfWrapping)
{
    auto s = std::make_unique<Suppressor>();
    Signal frame(kFrame, 0);
    for (int i = 0; i < kFrame; i++)
        s->st.synthesis_mem[i] = (i % 2) ? 40000.0f : -40000.0f;
    s->st.synthesis_mem[2] = 32767.9f;
    s->st.synthesis_mem[3] = -32768.9f;
    s->st.synthesis_mem[4] = -1.9f;
    Preprocess(&s->st, frame.data());
    EXPECT_EQ(-32768, frame[0]);
    EXPECT_EQ(32767, frame[1]);
    EXPECT_EQ(32767, frame[2]);
    EXPECT_EQ(-32768, frame[3]);
    EXPECT_EQ(-1, frame[4]); // truncation toward zero
}

TEST(Preprocess, GainControlLevelsTowardTargetAndLimitsPeaks)
{
    const size_t n = 8 * 16000, tail = 6 * 16000;
    const float target = 8000.0f;
    auto level_after_agc = [&](double amplitude, Signal* in_out) {
        *in_out = to_signal(speech_bursts(n, amplitude));
        auto s = std::make_unique<Suppressor>();
        EXPECT_EQ(0, s->set(PREPROCESS_SET_AGC, 1));
        EXPECT_EQ(0,
                  Preprocess_setup(&s->st, PREPROCESS_SET_AGC_LEVEL, const_cast<float*>(&target)));
        const Signal out = s->run(*in_out);
        return out;
    };
    Signal quiet_in, loud_in;
    const Signal quiet_out = level_after_agc(300.0, &quiet_in);
    const Signal loud_out = level_after_agc(40000.0, &loud_in);

    // A quiet and a clipped talker end up within a few dB of each other,
    // the quiet one raised by more than 20 dB, the loud one lowered.
    const double quiet_level = db(power(quiet_out, tail, n));
    const double loud_level = db(power(loud_out, tail, n));
    EXPECT_GT(quiet_level - db(power(quiet_in, tail, n)), 20.0);
    EXPECT_LT(loud_level - db(power(loud_in, tail, n)), -8.0);
    EXPECT_NEAR(quiet_level, loud_level, 3.0);
    EXPECT_LE(peak(quiet_out), 28000);
    EXPECT_LE(peak(loud_out), 28000);

    // A frame whose peak after the gain exceeds 28000 is scaled down to
    // that peak before the synthesis window.
    auto limited = std::make_unique<Suppressor>();
    EXPECT_EQ(0, limited->set(PREPROCESS_SET_AGC, 1));
    EXPECT_EQ(0, limited->set(PREPROCESS_SET_AGC_TARGET, 32767));
    Signal tone(40 * kFrame);
    for (size_t i = 0; i < tone.size(); i++)
        tone[i] = to_pcm(28000.0 * std::sin(2.0 * kPi * 7500.0 * i / kRate));
    int limited_frames = 0;
    for (size_t start = 0; start < tone.size(); start += kFrame) {
        Preprocess(&limited->st, tone.data() + start);
        float unlimited[256];
        ifft(&limited->table, limited->st.T, unlimited);
        float frame_peak = 0.0f;
        for (float v : unlimited)
            frame_peak = std::max(frame_peak, std::fabs(v));
        if (frame_peak <= 28000.0f)
            continue;
        limited_frames++;
        for (int i = 0; i < 256; i++) {
            const float expected = unlimited[i] * (28000.0f / frame_peak) * limited->st.window[i];
            ASSERT_NEAR(expected, limited->st.frame[i], 0.02f) << start << " " << i;
        }
    }
    EXPECT_GT(limited_frames, 0);
}

TEST(Preprocess, SetupRequestsRoundTrip)
{
    auto s = std::make_unique<Suppressor>();
    // Defaults reported through the dB conversions.
    EXPECT_EQ(12, s->get(PREPROCESS_GET_AGC_INCREMENT));
    EXPECT_EQ(-40, s->get(PREPROCESS_GET_AGC_DECREMENT));
    EXPECT_EQ(30, s->get(PREPROCESS_GET_AGC_MAX_GAIN));
    EXPECT_EQ(0, s->get(PREPROCESS_GET_AGC_GAIN));
    EXPECT_EQ(35, s->get(PREPROCESS_GET_PROB_START));
    EXPECT_EQ(20, s->get(PREPROCESS_GET_PROB_CONTINUE));
    EXPECT_EQ(128, s->get(PREPROCESS_GET_NOISE_PSD_SIZE));

    // Suppression levels are stored as negative dB whatever the sign given.
    EXPECT_EQ(0, s->set(PREPROCESS_SET_NOISE_SUPPRESS, 20));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_ECHO_SUPPRESS, 20));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_ECHO_SUPPRESS_ACTIVE, -7));
    EXPECT_EQ(-20, s->get(PREPROCESS_GET_NOISE_SUPPRESS));
    EXPECT_EQ(-20, s->get(PREPROCESS_GET_ECHO_SUPPRESS));
    EXPECT_EQ(-7, s->get(PREPROCESS_GET_ECHO_SUPPRESS_ACTIVE));

    // Target level clamped to 1..32768, as float (NaN too) and as integer.
    for (const auto& [level, stored] :
         {std::pair<float, int32_t>{0.5f, 1}, {40000.0f, 32768}, {NAN, 1}, {1234.7f, 1234}}) {
        float value = level;
        EXPECT_EQ(0, Preprocess_setup(&s->st, PREPROCESS_SET_AGC_LEVEL, &value));
        EXPECT_EQ(stored, s->get(PREPROCESS_GET_AGC_TARGET)) << level;
    }
    EXPECT_EQ(0, s->set(PREPROCESS_SET_AGC_TARGET, -5));
    float level = 0.0f;
    EXPECT_EQ(0, Preprocess_setup(&s->st, PREPROCESS_GET_AGC_LEVEL, &level));
    EXPECT_EQ(1.0f, level);

    // Probabilities in percent, clamped; gain-control dynamics in dB.
    EXPECT_EQ(0, s->set(PREPROCESS_SET_PROB_START, 150));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_PROB_CONTINUE, -3));
    EXPECT_EQ(100, s->get(PREPROCESS_GET_PROB_START));
    EXPECT_EQ(0, s->get(PREPROCESS_GET_PROB_CONTINUE));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_AGC_INCREMENT, 6));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_AGC_DECREMENT, -25));
    EXPECT_EQ(0, s->set(PREPROCESS_SET_AGC_MAX_GAIN, 18));
    EXPECT_EQ(6, s->get(PREPROCESS_GET_AGC_INCREMENT));
    EXPECT_EQ(-25, s->get(PREPROCESS_GET_AGC_DECREMENT));
    EXPECT_EQ(18, s->get(PREPROCESS_GET_AGC_MAX_GAIN));

    // The echo-canceller link is the pointer itself.
    EchoState* echo = reinterpret_cast<EchoState*>(&s->bank);
    EchoState* linked = nullptr;
    EXPECT_EQ(0, Preprocess_setup(&s->st, PREPROCESS_SET_ECHO_STATE, echo));
    EXPECT_EQ(0, Preprocess_setup(&s->st, PREPROCESS_GET_ECHO_STATE, &linked));
    EXPECT_EQ(echo, linked);

    // Unrecognised requests fail, reserved ones succeed; neither changes
    // anything. A null value pointer is refused.
    std::vector<unsigned char> before(sizeof(PreprocessState));
    std::memcpy(before.data(), &s->st, before.size());
    int32_t value = 7;
    for (int32_t request : {32, 34, 36, 38, 40, 42, 44, 48, -1})
        EXPECT_EQ(-1, Preprocess_setup(&s->st, request, &value)) << request;
    for (int32_t request : {10, 11, 12, 13})
        EXPECT_EQ(0, Preprocess_setup(&s->st, request, &value)) << request;
    EXPECT_EQ(-1, Preprocess_setup(&s->st, PREPROCESS_GET_NOISE_SUPPRESS, nullptr));
    EXPECT_EQ(-1, Preprocess_setup(nullptr, PREPROCESS_GET_AGC, &value));
    EXPECT_EQ(7, value);
    EXPECT_EQ(0, std::memcmp(before.data(), &s->st, before.size()));

    // Frame sizes other than 128 are refused; a state without its filter
    // bank and transform table leaves the samples alone.
    PreprocessState other;
    std::memset(&other, 0, sizeof(other));
    EXPECT_EQ(-1, Preprocess_init(&other, 256, 16000));
    EXPECT_EQ(0, Preprocess_init(&other, 128, 16000));
    Signal frame(kFrame, 1234);
    EXPECT_EQ(0, Preprocess(&other, frame.data()));
    EXPECT_EQ(Signal(kFrame, 1234), frame);
}

namespace
{

// An echo canceller whose echo history is set by hand, as the residual source.
struct EchoSource : Canceller {
    EchoSource() : Canceller(kFrame) {}

    // History = the 256 samples the suppressor is about to analyse.
    void set_history(const Signal& s, size_t frame_start, float leak)
    {
        for (int i = 0; i < 256; i++) {
            const long src = static_cast<long>(frame_start) - kFrame + i;
            st.h[i] = src >= 0 ? s[src] : 0.0f;
        }
        st.leak = leak;
    }
};

Signal run_with_echo(Suppressor& s, EchoSource* echo, const Signal& in, float leak)
{
    if (echo) {
        EXPECT_EQ(0, Preprocess_setup(&s.st, PREPROCESS_SET_ECHO_STATE, &echo->st));
    }
    Signal out(in);
    for (size_t start = 0; start + kFrame <= in.size(); start += kFrame) {
        if (echo)
            echo->set_history(in, start, leak);
        Preprocess(&s.st, out.data() + start);
    }
    return out;
}

} // namespace

TEST(Preprocess, ResidualEchoIsSuppressedAndBadEstimatesDiscarded)
{
    const Signal echo_only = to_signal(white_noise(14 * kFrame, 5, 3000.0));
    const size_t from = 3 * kFrame, to = echo_only.size();
    const double in_power = power(echo_only, from, to);

    auto plain = std::make_unique<Suppressor>();
    const Signal unlinked = run_with_echo(*plain, nullptr, echo_only, 1.0f);

    // Before the noise estimate has learnt the signal, only the residual-echo
    // estimate holds it down, towards the echo floor (-40 dB, raised towards
    // -15 dB by the speech probability).
    auto linked = std::make_unique<Suppressor>();
    EchoSource echo;
    const double linked_db =
        db(power(run_with_echo(*linked, &echo, echo_only, 1.0f), from, to) / in_power);
    EXPECT_GT(db(power(unlinked, from, to) / in_power), -6.0);
    EXPECT_LT(linked_db, -15.0);

    // A NaN estimate, or one whose DC power is 128e9 or more, is dropped: the
    // result is that of an unlinked suppressor.
    auto with_nan = std::make_unique<Suppressor>();
    EchoSource nan_source;
    EXPECT_EQ(unlinked, run_with_echo(*with_nan, &nan_source, echo_only, NAN));

    auto with_huge = std::make_unique<Suppressor>();
    EchoSource huge_source;
    Signal out(echo_only);
    EXPECT_EQ(0, Preprocess_setup(&with_huge->st, PREPROCESS_SET_ECHO_STATE, &huge_source.st));
    for (size_t start = 0; start < out.size(); start += kFrame) {
        for (float& h : huge_source.st.h)
            h = 3.0e6f;
        huge_source.st.leak = 1.0f;
        Preprocess(&with_huge->st, out.data() + start);
    }
    EXPECT_EQ(unlinked, out);
}
