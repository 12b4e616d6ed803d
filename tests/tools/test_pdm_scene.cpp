// pdm-scene end to end: options, the PDM file's size and layout, the level
// and inter-microphone delay of a tone read straight from the bits, the
// ideal PCM file, sound-file sources and reproducibility.
#include <sys/stat.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <iterator>

#include "tool_test_support.h"

using namespace tool_test;

namespace
{

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One microphone's bits as +1/-1, most significant bit of each byte first.
std::vector<double> microphone_bits(const std::vector<uint8_t>& pdm, int mic)
{
    std::vector<double> bits;
    bits.reserve(pdm.size() * 4);
    for (size_t i = size_t(mic); i < pdm.size(); i += 2)
        for (int b = 7; b >= 0; --b)
            bits.push_back((pdm[i] >> b) & 1 ? 1.0 : -1.0);
    return bits;
}

// Fourier coefficient of x at `freq` (x holds whole periods): its magnitude
// is the peak amplitude of that sine.
std::complex<double> tone_coefficient(const std::vector<double>& x, double freq, double rate)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < x.size(); ++n)
        sum += x[n] * std::polar(1.0, -2.0 * kPi * freq * double(n) / rate);
    return 2.0 * sum / double(x.size());
}

using PdmScene = ToolTest;

} // namespace

TEST_F(PdmScene, HelpAndBadOptions)
{
    const Outcome help = run_tool("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.output.find("usage: pdm-scene --clock KHZ --out FILE.pdm"), std::string::npos);

    const std::string base = "--clock 1024 --out " + path("out.pdm");
    const std::string tone = " --tone 1000@0";
    expect_failures({
        {"--out " + path("out.pdm") + tone, 2, "--clock is required"},
        {"--clock 1024" + tone, 2, "--out is required"},
        {base, 2, "no source given"},
        {base + " --loud 3" + tone, 2, "unknown option --loud"},
        {base + tone + " --seed", 2, "--seed needs a value"},
        {"--clock 1000 --out " + path("out.pdm") + tone, 2,
         "--clock wants a PDM clock in kHz (256, 384, 512, 768, 1024, 1280 or 2048), got '1000'"},
        {"--clock 16 --out " + path("out.pdm") + tone, 2,
         "--clock wants a PDM clock in kHz (256, 384"},
        {base + " --tone 1000", 2, "--tone: expected FREQ@ANGLE[:DB], got 1000"},
        {base + " --tone 1000@front", 2, "--tone: expected FREQ@ANGLE[:DB]"},
        {base + " --tone 1000@0:loud", 2, "--tone: expected FREQ@ANGLE[:DB]"},
        {base + " --tone 8000@0", 2, "frequency must lie between 0 and 8000 Hz"},
        {base + " --tone 0@0", 2, "frequency must lie between 0 and 8000 Hz"},
        {base + " --noise x", 2, "--noise: expected ANGLE[:DB]"},
        {base + " --speech @0", 2, "--speech: expected FILE@ANGLE[:DB]"},
        {base + " --speech " + path("missing.wav") + "@0", 2, "cannot read"},
        {base + " --diffuse-noise -30:0", 2, "N from 1 to 1000"},
        {base + " --duration 0" + tone, 2,
         "--duration wants a duration in seconds (0.001 to 3600)"},
        {base + " --duration 3601" + tone, 2, "--duration wants a duration in seconds"},
        {base + " --spacing 0" + tone, 2,
         "--spacing wants a spacing in millimetres (above 0, up to 1000)"},
        {base + " --seed 1.5" + tone, 2, "--seed wants a whole number, got '1.5'"},
        {base + " --seed -1" + tone, 2, "--seed wants a seed (0 to 4294967295), got '-1'"},
        {base + " --mic-noise 3" + tone, 2,
         "--mic-noise wants a level in dB full scale (at most 0)"},
        {base + " --modulator-order 3" + tone, 2,
         "--modulator-order wants a modulator order (2 or 4)"},
        {base + " --mic2-sensitivity 21" + tone, 2,
         "--mic2-sensitivity wants a sensitivity in dB (-20 to 20)"},
        {base + " --tone 1000@0..190", 2, "--tone: expected FREQ@ANGLE[:DB]"},
        {base + " --noise 30..x", 2, "--noise: expected ANGLE[:DB]"},
        {"--clock 1024 --out " + path("no/such/dir/out.pdm") + tone, 2, "cannot create"},
    });
    EXPECT_FALSE(fs::exists(path("out.pdm")));
}

// Two microphones of clock / 8 bytes per second each; the duration is
// rounded to whole milliseconds. A silent scene and a tone (no DC) both have
// a bit density of one half on each microphone.
TEST_F(PdmScene, SizeAndBitDensity)
{
    for (unsigned clock : {256u, 384u, 512u, 768u, 1024u, 1280u, 2048u}) {
        for (const char* duration : {"0.25", "0.0031"}) {
            SCOPED_TRACE(std::to_string(clock) + " kHz, " + duration + " s");
            const double ms = std::round(std::stod(duration) * 1000.0);
            const Outcome outcome =
                run_tool("--clock " + std::to_string(clock) + " --duration " + duration +
                         " --out " + path("out.pdm") + " --tone 1000@0:-200");
            ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
            EXPECT_EQ(fs::file_size(path("out.pdm")), size_t(ms * clock / 8.0 * 2.0));
        }
    }
    for (const char* level : {"-200", "-6"}) {
        SCOPED_TRACE(std::string("tone at ") + level + " dB");
        ASSERT_EQ(run_tool("--clock 1024 --duration 0.5 --out " + path("out.pdm") +
                           " --tone 1000@0:" + level)
                      .exit_code,
                  0);
        const std::vector<uint8_t> pdm = read_bytes(path("out.pdm"));
        for (int mic = 0; mic < 2; ++mic) {
            double sum = 0.0;
            for (double bit : microphone_bits(pdm, mic))
                sum += bit;
            EXPECT_NEAR(sum / (pdm.size() * 4.0), 0.0, 1e-4) << "microphone " << mic + 1;
        }
    }
}

// A 1 kHz tone at -20 dB (peak 0.1) read straight from each microphone's bits:
// its level, and the second microphone lagging the first by the travel time
// spacing x cos(azimuth) / 343 m/s. The ideal PCM file agrees.
TEST_F(PdmScene, ToneLevelAndDelayBetweenMicrophones)
{
    const double spacing_m = 0.015, freq = 1000.0;
    for (int angle : {0, 60, 180}) {
        SCOPED_TRACE("azimuth " + std::to_string(angle));
        const Outcome outcome = run_tool("--clock 1024 --spacing 15 --duration 1 --out " +
                                         path("out.pdm") + " --pcm-out " + path("out.wav") +
                                         " --tone 1000@" + std::to_string(angle) + ":-20");
        ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
        const double expected_phase =
            2.0 * kPi * freq * spacing_m * std::cos(angle * kPi / 180.0) / 343.0;

        const std::vector<uint8_t> pdm = read_bytes(path("out.pdm"));
        std::complex<double> mic[2];
        for (int m = 0; m < 2; ++m)
            mic[m] = tone_coefficient(microphone_bits(pdm, m), freq, 1024e3);
        EXPECT_NEAR(std::abs(mic[0]), 0.1, 0.0005);
        EXPECT_NEAR(std::abs(mic[1]), 0.1, 0.0005);
        EXPECT_NEAR(std::arg(mic[0] / mic[1]), expected_phase, 0.001);

        std::vector<double> pcm[2];
        ASSERT_TRUE(read_stereo(path("out.wav"), pcm, 32768.0));
        ASSERT_EQ(pcm[0].size(), 16000u);
        for (int m = 0; m < 2; ++m)
            mic[m] = tone_coefficient(pcm[m], freq, 16e3);
        EXPECT_NEAR(std::abs(mic[0]), 0.1, 0.0002);
        EXPECT_NEAR(std::arg(mic[0] / mic[1]), expected_phase, 0.0005);
    }
}

// Fourth-order modulator, a second microphone 3 dB more sensitive and a
// tone moving from the front (0 degrees) to behind (180): levels from the
// bits, and the lag of the second microphone at the start and at the end.
TEST_F(PdmScene, FourthOrderMismatchAndMovingSource)
{
    const Outcome outcome = run_tool("--clock 1024 --spacing 15 --duration 2 --modulator-order 4 "
                                     "--mic2-sensitivity 3 --out " +
                                     path("out.pdm") + " --tone 1000@0..180:-20");
    ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
    const std::vector<uint8_t> pdm = read_bytes(path("out.pdm"));
    std::vector<double> bits[2];
    for (int m = 0; m < 2; ++m)
        bits[m] = microphone_bits(pdm, m);
    const size_t tenth = 102400; // 0.1 s of bits
    const double travel = 2.0 * kPi * 1000.0 * 0.015 / 343.0;
    for (int end = 0; end < 2; ++end) {
        std::complex<double> mic[2];
        for (int m = 0; m < 2; ++m) {
            const auto first = bits[m].begin() + long(end ? bits[m].size() - tenth : 0);
            mic[m] =
                tone_coefficient(std::vector<double>(first, first + long(tenth)), 1000.0, 1024e3);
        }
        EXPECT_NEAR(std::abs(mic[0]), 0.1, 0.001);
        EXPECT_NEAR(std::abs(mic[1]), 0.1 * std::pow(10.0, 3.0 / 20.0), 0.0015);
        // The 0.1 s segments average the direction over 9 degrees.
        EXPECT_NEAR(std::arg(mic[0] / mic[1]), end ? -travel : travel, 0.02);
    }
}

// Noise sources reach their RMS level in dB full scale. Noise flat up to
// 7.2 kHz, delayed by t between the microphones, correlates between them as
// sin(x) / x with x = 2 pi 7200 t; the diffuse field's directions average
// that (to about 0.8 at 15 mm); the microphones' self-noise is independent.
TEST_F(PdmScene, NoiseLevelsAndCorrelation)
{
    const double x = 2.0 * kPi * 7200.0 * 0.015 * std::cos(60.0 * kPi / 180.0) / 343.0;
    const double point = std::sin(x) / x;
    struct Case {
        std::string sources;
        double rms_db, min_correlation, max_correlation;
    };
    const std::vector<Case> cases = {
        {"--noise 90:-30", -30.0, 0.999, 1.0},
        {"--noise 60:-30", -30.0, point - 0.02, point + 0.02},
        {"--diffuse-noise -30:12", -30.0, 0.7, 0.9},
        {"--tone 1000@0:-200 --mic-noise -40", -40.0, -0.05, 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sources);
        const Outcome outcome =
            run_tool("--clock 256 --spacing 15 --duration 1 --out " + path("out.pdm") +
                     " --pcm-out " + path("out.wav") + " " + c.sources);
        ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
        std::vector<double> pcm[2];
        ASSERT_TRUE(read_stereo(path("out.wav"), pcm, 32768.0));
        double power[2] = {0.0, 0.0}, cross = 0.0;
        for (size_t n = 0; n < pcm[0].size(); ++n) {
            for (int m = 0; m < 2; ++m)
                power[m] += pcm[m][n] * pcm[m][n];
            cross += pcm[0][n] * pcm[1][n];
        }
        for (int m = 0; m < 2; ++m)
            EXPECT_NEAR(10.0 * std::log10(power[m] / double(pcm[m].size())), c.rms_db, 0.3);
        const double correlation = cross / std::sqrt(power[0] * power[1]);
        EXPECT_GE(correlation, c.min_correlation);
        EXPECT_LE(correlation, c.max_correlation);
    }
}

// A 48 kHz stereo sound file is mixed to mono and brought to 16 kHz: from
// the side (equal delays) both microphones carry the mixed sine at its level.
TEST_F(PdmScene, SoundFileSourceIsMixedAndResampled)
{
    const int rate = 48000;
    std::vector<int16_t> frames(2 * rate);
    for (int n = 0; n < rate; ++n) {
        frames[2 * n] =
            static_cast<int16_t>(std::lround(16000.0 * std::sin(2 * kPi * 1000.0 * n / rate)));
        frames[2 * n + 1] = 0;
    }
    write_wav(path("voice.wav"), frames, rate, 2);

    const Outcome outcome =
        run_tool("--clock 1024 --duration 0.5 --out " + path("out.pdm") + " --pcm-out " +
                 path("out.wav") + " --speech " + path("voice.wav") + "@90");
    ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
    std::vector<double> pcm[2];
    ASSERT_TRUE(read_stereo(path("out.wav"), pcm, 32768.0));
    ASSERT_EQ(pcm[0].size(), 8000u);
    // Away from the edges of the interpolation: whole periods from 1 ms to 499 ms.
    const std::vector<double> middle(pcm[0].begin() + 16, pcm[0].end() - 16);
    const double expected = 16000.0 / 32768.0 / 2.0;
    EXPECT_NEAR(std::abs(tone_coefficient(middle, 1000.0, 16e3)), expected, 0.0005);
    double residual = 0.0, power = 0.0, mismatch = 0.0;
    for (size_t n = 16; n + 16 < pcm[0].size(); ++n) {
        const double sine = expected * std::sin(2 * kPi * 1000.0 * double(n) / 16e3);
        residual += (pcm[0][n] - sine) * (pcm[0][n] - sine);
        power += sine * sine;
        mismatch = std::max(mismatch, std::fabs(pcm[0][n] - pcm[1][n]));
    }
    EXPECT_GT(10.0 * std::log10(power / residual), 60.0); // in time, no pitch change
    EXPECT_LE(mismatch, 1.0 / 32768.0);
}

// The same arguments give the same file, whatever the order of the options
// around the sources; another seed changes the noise.
TEST_F(PdmScene, Reproducible)
{
    const std::string sources = " --noise 30:-30 --diffuse-noise -40:8 --tone 500@120";
    const std::string out = " --clock 768 --out ";
    ASSERT_EQ(run_tool("--duration 0.2 --seed 11" + out + path("a.pdm") + sources).exit_code, 0);
    ASSERT_EQ(run_tool("--duration 0.2 --seed 11" + out + path("b.pdm") + sources).exit_code, 0);
    ASSERT_EQ(run_tool(out + path("c.pdm") + sources + " --seed 11 --duration 0.2").exit_code, 0);
    ASSERT_EQ(run_tool("--duration 0.2 --seed 12" + out + path("d.pdm") + sources).exit_code, 0);
    const std::vector<uint8_t> a = read_bytes(path("a.pdm"));
    ASSERT_EQ(a.size(), 200u * 96u * 2u);
    EXPECT_TRUE(a == read_bytes(path("b.pdm")));
    EXPECT_TRUE(a == read_bytes(path("c.pdm")));
    EXPECT_FALSE(a == read_bytes(path("d.pdm")));
}

// Unsafe inputs and outputs: an output that is an input, a FIFO as a sound
// file (would block), absurd levels or samples (silent file), a long file at a tiny
// sample rate (resampled whole, it would take minutes and gigabytes), and a
// failing --pcm-out, which must not leave the PDM file behind.
TEST_F(PdmScene, RefusesUnsafeFilesAndLevels)
{
    std::vector<int16_t> slow(4000);
    for (size_t n = 0; n < slow.size(); ++n)
        slow[n] = int16_t(n % 2 ? 8000 : -8000);
    write_wav(path("slow.wav"), slow, 1, 1);
    const std::string out = " --clock 1024 --duration 0.25 --out ";
    const auto limited = [](const std::string& arguments) {
        return run("timeout 10 " TOOL_PATH, arguments);
    };
    const Outcome tiny = limited(out + path("tiny.pdm") + " --pcm-out " + path("tiny.wav") +
                                 " --speech " + path("slow.wav") + "@0:-20");
    EXPECT_EQ(tiny.exit_code, 0) << tiny.output;
    std::vector<double> pcm[2];
    ASSERT_TRUE(read_stereo(path("tiny.wav"), pcm));
    EXPECT_EQ(pcm[0].size(), 4000u);

    ASSERT_EQ(mkfifo(path("fifo.wav").c_str(), 0600), 0);
    {
        wavfile::Writer file;
        ASSERT_EQ(file.open(path("huge.wav"), 16000, 1, wavfile::Writer::Encoding::Float), "");
        const float huge[4] = {0.5f, 3e38f, -3e38f, 0.0f};
        file.write(huge, 4);
        ASSERT_TRUE(file.close());
    }
    const std::string speech = path("slow.wav");
    const std::vector<Failure> cases = {
        {out + speech + " --speech " + speech + "@0", 2, "is the input"},
        {out + path("a.pdm") + " --pcm-out " + speech + " --speech " + speech + "@0", 2,
         "is the input"},
        {out + path("a.pdm") + " --pcm-out " + path("a.pdm") + " --tone 100@0", 2, "the same file"},
        {out + path("a.pdm") + " --speech " + path("fifo.wav") + "@0", 2, "not a regular file"},
        {out + path("a.pdm") + " --speech " + path("huge.wav") + "@0", 2, "beyond 60 dB"},
        {out + path("a.pdm") + " --tone 1000@0:6200", 2, "above the largest"},
        {out + path("a.pdm") + " --noise 0:61", 2, "above the largest"},
        {out + path("a.pdm") + " --diffuse-noise 7000", 2, "above the largest"},
        {out + path("a.pdm") + " --pcm-out " + path("missing/a.wav") + " --tone 100@0", 2,
         "cannot create"},
    };
    for (const Failure& c : cases) {
        const Outcome outcome = limited(c.arguments);
        EXPECT_EQ(outcome.exit_code, c.exit_code) << c.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(c.message), std::string::npos) << c.arguments << "\n"
                                                                     << outcome.output;
    }
    wavfile::Format info;
    EXPECT_EQ(read_wav(speech, info).size(), slow.size());
    EXPECT_FALSE(fs::exists(path("a.pdm")));
    EXPECT_EQ(entries(dir_), 5u); // slow, huge and fifo .wav, tiny.pdm, tiny.wav
}
