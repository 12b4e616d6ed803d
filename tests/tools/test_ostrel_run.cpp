// ostrel-run end to end: WAV files in, the aligned output file and the
// report out, and clear failures for bad input.
#include <algorithm>
#include <cmath>
#include <random>

#include "signals.h"
#include "tool_test_support.h"

using namespace testsignals;
using namespace tool_test;

namespace
{

using OstrelRun = ToolTest;

// Far-end noise through a decaying echo path; the microphone hears only that.
EchoScene far_end_echo(size_t samples)
{
    EchoRoom room;
    room.taps = 250;
    room.path_gain = 2.5;
    room.path_decay = 50.0;
    room.far_level = 2500.0;
    room.swell = 0.0;
    room.near_level = 5.0;
    return echo_scene(samples, 5, room);
}

} // namespace

TEST_F(OstrelRun, CancelsEchoAndReportsPerSecond)
{
    const EchoScene scene = far_end_echo(16000 * 4 + 100);
    const std::vector<int16_t>&mic = scene.mic, &ref = scene.ref;
    write_wav(path("mic.wav"), mic);
    write_wav(path("ref.wav"), ref);
    const Outcome outcome = run_tool("--mic " + path("mic.wav") + " --ref " + path("ref.wav") +
                                     " --out " + path("out.wav"));
    ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ERLE dB"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("of the 8 ms budget"), std::string::npos) << outcome.output;
    // Five rows: four whole seconds and the 100-sample rest.
    EXPECT_NE(outcome.output.find("\n     5 "), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("\n     6 "), std::string::npos) << outcome.output;

    wavfile::Format info;
    const std::vector<int16_t> out = read_wav(path("out.wav"), info);
    EXPECT_EQ(info.rate, 16000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_TRUE(info.pcm16);
    ASSERT_EQ(out.size(), mic.size());
    double mic_power = 0.0, out_power = 0.0;
    for (size_t t = 3 * 16000; t < out.size(); ++t) {
        mic_power += double(mic[t]) * mic[t];
        out_power += double(out[t]) * out[t];
    }
    EXPECT_GT(10.0 * std::log10(mic_power / std::max(out_power, 1.0)), 15.0);
}

TEST_F(OstrelRun, OutputIsAlignedAndTheShorterLengthIsUsed)
{
    // Silent far end: the output is the microphone itself (through the DC
    // notch only), without delay: the correlation peaks at lag 0.
    std::vector<int16_t> mic(16000), ref(12345, 0);
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> noise(-6000, 6000);
    for (int16_t& v : mic)
        v = static_cast<int16_t>(noise(rng));
    write_wav(path("mic.wav"), mic);
    write_wav(path("ref.wav"), ref);
    const Outcome outcome = run_tool("--mic " + path("mic.wav") + " --ref " + path("ref.wav") +
                                     " --out " + path("out.wav") + " --tail 256");
    ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("warning"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("using the first 12345"), std::string::npos) << outcome.output;
    wavfile::Format info;
    const std::vector<int16_t> out = read_wav(path("out.wav"), info);
    ASSERT_EQ(out.size(), 12345u);
    auto correlation = [&](int lag) {
        double sum = 0.0, out_power = 0.0, mic_power = 0.0;
        for (size_t t = 1000; t + 1000 < out.size(); ++t) {
            sum += double(out[t]) * mic[t + lag];
            out_power += double(out[t]) * out[t];
            mic_power += double(mic[t + lag]) * mic[t + lag];
        }
        return sum / std::sqrt(out_power * mic_power);
    };
    EXPECT_GT(correlation(0), 0.95);
    for (int lag : {-256, -128, -16, -1, 1, 16, 128, 256})
        EXPECT_LT(std::fabs(correlation(lag)), 0.1) << lag;
    // The last samples come through too: the tool flushes the delay.
    double tail_power = 0.0;
    for (size_t t = out.size() - 200; t < out.size(); ++t)
        tail_power += double(out[t]) * out[t];
    EXPECT_GT(tail_power / 200.0, 1e6);
}

TEST_F(OstrelRun, PreprocessorOptionsRun)
{
    const EchoScene scene = far_end_echo(16000);
    const std::vector<int16_t>&mic = scene.mic, &ref = scene.ref;
    write_wav(path("mic.wav"), mic);
    write_wav(path("ref.wav"), ref);
    const Outcome outcome = run_tool("--mic " + path("mic.wav") + " --ref " + path("ref.wav") +
                                     " --out " + path("out.wav") +
                                     " --denoise --agc 8000 --residual-echo --noise-db -20"
                                     " --echo-db -45 --echo-active-db -12 --tail 1024");
    ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
    wavfile::Format info;
    EXPECT_EQ(read_wav(path("out.wav"), info).size(), mic.size());
}

// --denoise and --residual-echo each do only what they say, and the field
// stages run from the command line.
TEST_F(OstrelRun, SuppressorOptionsAreIndependentAndFieldModeRuns)
{
    EchoRoom room;
    room.near_level = 400.0; // loud near-end noise
    const EchoScene scene = echo_scene(16000 * 3, 12, room);
    write_wav(path("mic.wav"), scene.mic);
    write_wav(path("ref.wav"), scene.ref);
    auto output = [&](const std::string& flags) {
        const Outcome outcome = run_tool("--mic " + path("mic.wav") + " --ref " + path("ref.wav") +
                                         " --out " + path("out.wav") + " " + flags);
        EXPECT_EQ(outcome.exit_code, 0) << flags << "\n" << outcome.output;
        wavfile::Format info;
        return read_wav(path("out.wav"), info);
    };
    auto level = [](const std::vector<int16_t>& s) {
        double sum = 0.0;
        for (size_t t = 16000; t < s.size(); ++t)
            sum += double(s[t]) * s[t];
        return 10.0 * std::log10(sum / double(s.size() - 16000));
    };
    const double echo_only = level(output("--residual-echo"));
    const double both = level(output("--denoise --residual-echo"));
    const double denoise_only = level(output("--denoise"));
    // Noise suppression takes several dB of the noise only when asked for.
    EXPECT_GT(echo_only - both, 3.0);
    EXPECT_GT(level(output("")) - denoise_only, 3.0);
    EXPECT_EQ(output("--field-align --field-nonlinear --field-recovery").size(), scene.mic.size());
    EXPECT_EQ(output("--field --field-strength 6").size(), scene.mic.size());
    EXPECT_NE(run_tool("--help").output.find("--field-residual"), std::string::npos);
}

TEST_F(OstrelRun, BadInputFailsClearly)
{
    const std::vector<int16_t> samples(1600, 100);
    write_wav(path("good.wav"), samples);
    write_wav(path("rate.wav"), samples, 8000);
    write_wav(path("stereo.wav"), samples, 16000, 2);
    write_wav(path("float.wav"), samples, 16000, 1, wavfile::Writer::Encoding::Float);
    const std::string good = " --ref " + path("good.wav") + " --out " + path("out.wav");

    expect_failures({
        {"--mic " + path("missing.wav") + good, 1, "missing.wav: cannot open"},
        {"--mic " + path("rate.wav") + good, 1, "expected a 16000 Hz mono 16-bit PCM WAV"},
        {"--mic " + path("stereo.wav") + good, 1, "2 channels"},
        {"--mic " + path("float.wav") + good, 1, "not 16-bit PCM"},
        {"--mic " + path("good.wav") + " --ref " + path("good.wav") + " --out " +
             path("no/such/dir/out.wav"),
         1, "cannot create"},
        {"--ref " + path("good.wav") + " --out " + path("out.wav"), 2, "--mic is required"},
        {"--mic " + path("good.wav") + good + " --tail abc", 2,
         "--tail wants a whole number, got 'abc'"},
        {"--mic " + path("good.wav") + good + " --tail 0", 2,
         "--tail wants an echo tail in samples (1 to 65535), got '0'"},
        {"--mic " + path("good.wav") + good + " --agc 32768", 2,
         "--agc wants a gain-control target level (1 to 32767)"},
        {"--mic " + path("good.wav") + good + " --noise-db 5", 2,
         "--noise-db wants an attenuation in dB (-120 to 0), got '5'"},
        {"--mic " + path("good.wav") + good + " --echo-db", 2, "--echo-db needs a value"},
        {"--mic " + path("good.wav") + good + " --loud", 2, "unknown option --loud (see --help)"},
        {"--mic " + path("good.wav") + good + " --field-strength 21", 2,
         "--field-strength wants a residual-echo over-estimation in dB (-10 to 20)"},
    });
    EXPECT_FALSE(fs::exists(path("out.wav")));
}

// An output that is an input (by another name) is refused and the input kept;
// a header-only input is refused; a failed write leaves the old output as it
// was and no temporary file behind.
TEST_F(OstrelRun, ProtectsInputsAndWritesOutputsWhole)
{
    const EchoScene scene = far_end_echo(16000 * 2);
    write_wav(path("mic.wav"), scene.mic);
    write_wav(path("ref.wav"), scene.ref);
    fs::create_hard_link(path("mic.wav"), path("linked.wav"));
    const std::string mic_bytes = file_bytes(path("mic.wav"));
    const std::string inputs = "--mic " + path("mic.wav") + " --ref " + path("ref.wav");
    for (const std::string& out : {path("linked.wav"), dir_.string() + "/./ref.wav"}) {
        const Outcome outcome = run_tool(inputs + " --out " + out);
        EXPECT_EQ(outcome.exit_code, 1) << out;
        EXPECT_NE(outcome.output.find("is the input"), std::string::npos) << outcome.output;
    }
    EXPECT_EQ(file_bytes(path("mic.wav")), mic_bytes);

    write_wav(path("empty.wav"), {});
    const Outcome empty = run_tool("--mic " + path("empty.wav") + " --ref " + path("ref.wav") +
                                   " --out " + path("out.wav"));
    EXPECT_EQ(empty.exit_code, 1) << empty.output;
    EXPECT_NE(empty.output.find("holds no samples"), std::string::npos) << empty.output;
    EXPECT_FALSE(fs::exists(path("out.wav")));

    std::FILE* old = std::fopen(path("out.wav").c_str(), "wb");
    std::fputs("previous output", old);
    std::fclose(old);
    const size_t before = entries(dir_);
    const Outcome full = run_tool_with_file_limit(inputs + " --out " + path("out.wav"), 16);
    EXPECT_EQ(full.exit_code, 1) << full.output;
    EXPECT_EQ(file_bytes(path("out.wav")), "previous output");
    EXPECT_EQ(entries(dir_), before);
}
