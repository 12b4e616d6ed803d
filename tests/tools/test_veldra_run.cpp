// veldra-run end to end: clear failures for bad options and files, the
// output's format and alignment, and directivity on simulated PDM scenes.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "tool_test_support.h"

using namespace tool_test;

namespace
{

// Mean power in dB over [from, end).
double power_db(const std::vector<double>& x, size_t from)
{
    double sum = 0.0;
    for (size_t n = from; n < x.size(); ++n)
        sum += x[n] * x[n];
    return 10.0 * std::log10(sum / double(x.size() - from) + 1e-9);
}

// Normalised correlation of a[n] with b[n + lag] over the common range.
double correlation(const std::vector<double>& a, const std::vector<double>& b, long lag)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (long n = 300; n + 300 < long(a.size()); ++n) {
        const long m = n + lag;
        if (m < 0 || m >= long(b.size()))
            continue;
        ab += a[n] * b[m];
        aa += a[n] * a[n];
        bb += b[m] * b[m];
    }
    return ab / std::sqrt(aa * bb + 1e-30);
}

class VeldraRun : public ToolTest
{
  protected:
    // A scene from pdm-scene; false (with a skip) when the tool is not built.
    bool make_scene(const std::string& arguments, const char* name)
    {
#ifdef PDM_SCENE_PATH
        const Outcome outcome = run(PDM_SCENE_PATH, "--out " + path(name) + " " + arguments);
        EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
        return outcome.exit_code == 0;
#else
        (void)arguments;
        (void)name;
        return false;
#endif
    }
};

} // namespace

TEST_F(VeldraRun, BadOptionsAndFilesFailClearly)
{
    const std::vector<int16_t> frames(2 * 1600, 100);
    write_wav(path("good.wav"), frames, 16000, 2);
    write_wav(path("mono.wav"), frames, 16000, 1);
    write_wav(path("rate.wav"), frames, 8000, 2);
    write_wav(path("float.wav"), frames, 16000, 2, wavfile::Writer::Encoding::Float);
    std::ofstream(path("good.pdm"), std::ios::binary) << std::string(4 * 256, '\x55');
    std::ofstream(path("empty.pdm"), std::ios::binary).flush();
    const std::string out = " --out " + path("out.wav");
    const std::string pcm = "--pcm " + path("good.wav") + out;
    const std::string pdm = "--pdm " + path("good.pdm") + out;

    expect_failures({
        // Options the tool itself refuses, with its usage.
        {"--pcm " + path("good.wav"), 2, "--out OUT.wav is required"},
        {pcm + " --loud 3", 2, "unknown option --loud (see --help)"},
        {pcm + " --type", 2, "--type needs a value"},
        {pdm + " --clock 1024 --type 4", 2,
         "--type wants an algorithm type (0, 1, 2 or 3), got '4'"},
        {pdm + " --clock 1024 --type -1", 2,
         "--type wants an algorithm type (0, 1, 2 or 3), got '-1'"},
        {pdm + " --clock 1024 --volume 52", 2, "--volume wants a gain in dB (0 to 51)"},
        {pdm + " --clock 1024 --second-output 2", 2,
         "--second-output wants a second output (0, 1 or 7)"},
        {pdm + " --clock 1024 --mic2-gain nan", 2, "--mic2-gain wants a number, got 'nan'"},
        {pdm + " --clock fast", 2, "--clock wants a whole number, got 'fast'"},
        {pdm, 2, "--pdm needs --clock KHZ"},
        {pdm + " --clock 16", 2, "--clock 16 is the PCM rate"},
        {pdm + " --clock 1024 --delay-line", 2, "--delay-line applies to --pcm input only"},
        {pcm + " --clock 1024", 2, "--clock applies to --pdm input only"},
        {pcm + " --pdm " + path("good.pdm"), 2, "give exactly one of --pdm FILE and --pcm"},
        // Values the library refuses, reported by the name of their error bit.
        {pdm + " --clock 1000", 1, "Veldra_Init: VELDRA_ERR_FREQUENCY"},
        {pdm + " --clock 1024 --distance 213", 1, "Veldra_setConfig: VELDRA_ERR_DISTANCE"},
        {pdm + " --clock 1024 --distance 0", 1, "Veldra_setConfig: VELDRA_ERR_DISTANCE"},
        {pcm + " --delay-line --distance 150", 1, "Veldra_setConfig: VELDRA_ERR_DISTANCE"},
        {pcm + " --mic2-gain -1", 1, "Veldra_setConfig: VELDRA_ERR_GAIN"},
        // Files.
        {"--pdm " + path("missing.pdm") + " --clock 1024" + out, 1, "cannot read"},
        {"--pdm " + dir_.string() + " --clock 1024" + out, 1, "cannot read"},
        {"--pdm " + path("empty.pdm") + " --clock 1024" + out, 1, "holds no PDM data"},
        {"--pcm " + path("missing.wav") + out, 1, "cannot open"},
        {"--pcm " + path("mono.wav") + out, 1, "must be 16 kHz 16-bit stereo"},
        {"--pcm " + path("rate.wav") + out, 1, "must be 16 kHz 16-bit stereo"},
        {"--pcm " + path("float.wav") + out, 1, "must be 16 kHz 16-bit stereo"},
        {"--pcm " + path("good.wav") + " --out " + path("no/such/dir/out.wav"), 1, "cannot create"},
    });
    EXPECT_FALSE(fs::exists(path("out.wav")));

    const Outcome help = run_tool("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.output.find("veldra-run --pcm IN.wav"), std::string::npos) << help.output;
}

// PCM input, type 0, second microphone silent: the beam is the first
// microphone through the causal equaliser, so it must depend on the same
// microphone sample and not on the next one; the second output is the first
// microphone itself, sample for sample. A length that is no multiple of the
// 16-sample frame shows that the tail is played out too.
TEST_F(VeldraRun, PcmOutputIsAlignedWithTheFirstMicrophone)
{
    const size_t length = 3001;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> noise(-1500, 1500);
    std::vector<int16_t> frames(2 * length, 0);
    for (size_t n = 0; n < length; ++n)
        frames[2 * n] = static_cast<int16_t>(noise(rng));
    write_wav(path("in.wav"), frames, 16000, 2);
    std::vector<double> mic1(length);
    for (size_t n = 0; n < length; ++n)
        mic1[n] = frames[2 * n];

    for (const char* mode : {"", " --delay-line"}) {
        SCOPED_TRACE(mode[0] ? mode : "caller-made delays");
        const Outcome outcome = run_tool("--pcm " + path("in.wav") + mode + " --type 0" +
                                         " --second-output 1 --out " + path("out.wav"));
        ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
        std::vector<double> out[2];
        ASSERT_TRUE(read_stereo(path("out.wav"), out));
        ASSERT_EQ(out[0].size(), length);
        size_t mismatches = 0, first = length;
        for (size_t n = 0; n < length; ++n)
            if (out[1][n] != mic1[n] && mismatches++ == 0)
                first = n;
        EXPECT_EQ(mismatches, 0u) << "first at sample " << first;
        EXPECT_GT(correlation(out[0], mic1, 0), 0.3);
        for (long lag : {1L, 2L, 16L, 256L, -256L})
            EXPECT_LT(std::fabs(correlation(out[0], mic1, lag)), 0.05) << lag;
        EXPECT_GT(power_db(out[0], length - 16), 40.0); // the last frame is there
    }

    // With --second-output 0 channel 1 stays silent.
    ASSERT_EQ(run_tool("--pcm " + path("in.wav") + " --out " + path("out.wav")).exit_code, 0);
    std::vector<double> silent[2];
    ASSERT_TRUE(read_stereo(path("out.wav"), silent));
    EXPECT_EQ(std::count(silent[1].begin(), silent[1].end(), 0.0), long(length));
}

// A 1 kHz tone in front of a 15 mm array and the same tone behind it: the
// front beam keeps the first and rejects the second by far more than the
// 20 dB asked here (a cardioid's null; about 50 dB measured), and the rear
// beam on channel 1 does the opposite; in field mode too.
TEST_F(VeldraRun, PdmSceneFrontBeamRejectsTheRear)
{
    const std::string scene = "--clock 1024 --spacing 15 --duration 1 --tone 1000@";
    if (!make_scene(scene + "0:-20", "front.pdm") || !make_scene(scene + "180:-20", "back.pdm"))
        GTEST_SKIP() << "pdm-scene not built";
    for (const char* type : {"0", "2", "2 --field"}) {
        SCOPED_TRACE(std::string("type ") + type);
        double front[2] = {0.0, 0.0}, back[2] = {0.0, 0.0};
        for (int side = 0; side < 2; ++side) {
            const std::string input = path(side == 0 ? "front.pdm" : "back.pdm");
            const Outcome outcome =
                run_tool("--pdm " + input + " --clock 1024 --distance 150 --type " + type +
                         " --second-output 7 --out " + path("out.wav"));
            ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
            std::vector<double> out[2];
            ASSERT_TRUE(read_stereo(path("out.wav"), out));
            ASSERT_EQ(out[0].size(), 16000u);
            // After the filters and (type 2) the adaptive stage have settled.
            (side == 0 ? front : back)[0] = power_db(out[0], 8000);
            (side == 0 ? front : back)[1] = power_db(out[1], 8000);
        }
        EXPECT_GT(front[0], 50.0); // a -20 dB tone comes through at a useful level
        EXPECT_GT(front[0] - back[0], 20.0) << front[0] << " " << back[0];
        EXPECT_GT(back[1] - front[1], 20.0) << front[1] << " " << back[1];
    }
}

// PDM input: the second output (first microphone, same call) and the beam
// (played out 256 samples later, 384 in field mode, which the tool removes)
// line up; and a file that ends inside a millisecond is padded to a whole
// one.
TEST_F(VeldraRun, PdmSecondOutputLinesUpWithTheBeam)
{
    if (!make_scene("--clock 512 --spacing 15 --duration 0.5 --noise 0:-25", "noise.pdm"))
        GTEST_SKIP() << "pdm-scene not built";
    for (const char* mode : {"", " --field", " --field-decimation --field-calibration"}) {
        SCOPED_TRACE(mode);
        const Outcome outcome = run_tool("--pdm " + path("noise.pdm") + mode +
                                         " --clock 512 --second-output 1 --out " + path("out.wav"));
        ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
        std::vector<double> out[2];
        ASSERT_TRUE(read_stereo(path("out.wav"), out));
        ASSERT_EQ(out[0].size(), 8000u);
        long best = 0;
        for (long lag = -300; lag <= 300; ++lag)
            if (correlation(out[0], out[1], lag) > correlation(out[0], out[1], best))
                best = lag;
        EXPECT_LE(std::labs(best), 2) << best;
        EXPECT_GT(correlation(out[0], out[1], best), 0.5);
    }

    // 2.5 ms of bytes: three milliseconds out, with a warning.
    std::ifstream in(path("noise.pdm"), std::ios::binary);
    std::string bytes(5 * 64, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    std::ofstream(path("short.pdm"), std::ios::binary) << bytes;
    const Outcome padded =
        run_tool("--pdm " + path("short.pdm") + " --clock 512 --out " + path("short.wav"));
    ASSERT_EQ(padded.exit_code, 0) << padded.output;
    EXPECT_NE(padded.output.find("last millisecond incomplete (64 of 128 bytes), padded"),
              std::string::npos)
        << padded.output;
    std::vector<double> short_out[2];
    ASSERT_TRUE(read_stereo(path("short.wav"), short_out));
    EXPECT_EQ(short_out[0].size(), 48u);
}

// An output that is the input (through a link) is refused; a failed write
// leaves no output and no temporary file behind.
TEST_F(VeldraRun, ProtectsTheInputAndWritesTheOutputWhole)
{
    std::vector<int16_t> stereo(2 * 16000);
    for (size_t n = 0; n < stereo.size(); ++n)
        stereo[n] = int16_t((n * 7919) % 2000 - 1000);
    write_wav(path("in.wav"), stereo, 16000, 2);
    fs::create_symlink(path("in.wav"), path("alias.wav"));
    const std::string in_bytes = file_bytes(path("in.wav"));
    const Outcome same = run_tool("--pcm " + path("in.wav") + " --out " + path("alias.wav"));
    EXPECT_EQ(same.exit_code, 1) << same.output;
    EXPECT_NE(same.output.find("is the input"), std::string::npos) << same.output;
    EXPECT_EQ(file_bytes(path("in.wav")), in_bytes);

    const size_t before = entries(dir_);
    const Outcome full =
        run_tool_with_file_limit("--pcm " + path("in.wav") + " --out " + path("out.wav"), 16);
    EXPECT_EQ(full.exit_code, 1) << full.output;
    EXPECT_FALSE(fs::exists(path("out.wav")));
    EXPECT_EQ(entries(dir_), before);
}
