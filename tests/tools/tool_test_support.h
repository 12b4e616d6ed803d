// Shared by the host-tool tests: running a tool with its output captured, a
// private scratch folder per test binary, WAV files through the tools' own
// WAV layer, and a table of invocations that must fail with a clear message.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "wav_file.h"

namespace tool_test
{

namespace fs = std::filesystem;

struct Outcome {
    int exit_code;
    std::string output; // stdout and stderr
};

inline Outcome run(const std::string& program, const std::string& arguments)
{
    const std::string command = program + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Outcome outcome{-1, {}};
    if (pipe == nullptr)
        return outcome;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.output.append(buffer, got);
    const int status = pclose(pipe);
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

inline Outcome run_tool(const std::string& arguments)
{
    return run(TOOL_PATH, arguments);
}

// Interleaved 16-bit samples into a WAV file of the given format.
inline void write_wav(const fs::path& path, const std::vector<int16_t>& samples, int rate = 16000,
                      int channels = 1,
                      wavfile::Writer::Encoding encoding = wavfile::Writer::Encoding::Pcm16)
{
    wavfile::Writer file;
    const std::string error = file.open(path.string(), rate, channels, encoding);
    ASSERT_EQ(error, "");
    file.write(samples.data(), samples.size() / size_t(channels));
    ASSERT_TRUE(file.close());
}

// Interleaved samples of a sound file (empty when it cannot be opened).
inline std::vector<int16_t> read_wav(const fs::path& path, wavfile::Format& info)
{
    wavfile::Reader file;
    info = wavfile::Format{};
    if (!file.open(path.string()).empty())
        return {};
    info = file.format();
    std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
    file.read(samples.data(), static_cast<size_t>(info.frames));
    return samples;
}

// Both channels of a file that must be a 16 kHz 16-bit stereo WAV, each
// sample divided by `full_scale`; false (and a failed expectation) otherwise.
inline bool read_stereo(const fs::path& path, std::vector<double> channel[2],
                        double full_scale = 1.0)
{
    wavfile::Format info;
    const std::vector<int16_t> frames = read_wav(path, info);
    EXPECT_EQ(info.rate, 16000) << path;
    EXPECT_EQ(info.channels, 2) << path;
    EXPECT_TRUE(info.pcm16) << path;
    if (info.channels != 2)
        return false;
    for (int c = 0; c < 2; ++c)
        channel[c].clear();
    for (size_t n = 0; n < frames.size() / 2; ++n)
        for (int c = 0; c < 2; ++c)
            channel[c].push_back(frames[2 * n + c] / full_scale);
    return true;
}

// The tool with writes limited to `kilobytes` per file (a full disk, in
// effect): a write beyond fails instead of killing the tool.
inline Outcome run_tool_with_file_limit(const std::string& arguments, int kilobytes)
{
    return run("bash -c 'trap \"\" XFSZ; ulimit -f " + std::to_string(kilobytes) +
                   "; exec \"$0\" \"$@\"' " TOOL_PATH,
               arguments);
}

// The bytes of a file (empty when missing).
inline std::string file_bytes(const fs::path& path)
{
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, got);
        std::fclose(f);
    }
    return bytes;
}

// Names in a folder, to see that no temporary file is left behind.
inline size_t entries(const fs::path& dir)
{
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// A scratch folder for the test's files, removed afterwards.
class ToolTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("halvane_tool_test_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

// An invocation that must fail with this exit code and message.
struct Failure {
    std::string arguments;
    int exit_code;
    std::string message;
};

inline void expect_failures(const std::vector<Failure>& cases)
{
    for (const Failure& c : cases) {
        const Outcome outcome = run_tool(c.arguments);
        EXPECT_EQ(outcome.exit_code, c.exit_code) << c.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(c.message), std::string::npos) << c.arguments << "\n"
                                                                     << outcome.output;
    }
}

} // namespace tool_test
