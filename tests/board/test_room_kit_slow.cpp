// The real kit in the simulated room, run faster than real time in the
// test's thread: measured direction and noise level against the room's
// truth, the beam's gain against a competing talker, the echo canceller's
// reduction of the loudspeaker's echo, all through the recorded stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "RoomBoard.h"
#include "wav_file.h"

namespace
{

FeatureParameterBlock Settings(uint16_t enabled)
{
    FeatureParameterBlock block{};
    block.general.enabledFeatures = enabled;
    block.general.micVolume = 32;
    block.general.currentVolume = 32;
    block.general.micMask = 1;
    block.sloc.resolution = 4;
    block.sloc.threshold = 24;
    block.beam.beamType = 0;
    block.beam.beamDirection = 1;
    block.aec.denoiser = 0;
    block.output.outputVolume = 50;
    return block;
}

RoomBoardOptions Quiet(double talkerAngle)
{
    RoomBoardOptions options;
    options.recognition = false;
    options.room.talkerAngle = talkerAngle;
    return options;
}

std::string TempWav(const char* name)
{
    return std::string(::testing::TempDir()) + "/room_" + std::to_string(::getpid()) + "_" + name +
           ".wav";
}

// Mean power in dB of one channel of a stereo recording from second `from` on.
double ChannelLevelDb(const std::string& path, int channel, double from)
{
    wavfile::Reader file;
    const std::string error = file.open(path);
    EXPECT_EQ(error, "");
    if (!error.empty())
        return 0.0;
    const wavfile::Format& info = file.format();
    EXPECT_EQ(info.rate, 16000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_TRUE(info.pcm16);
    std::vector<int16_t> frames(static_cast<size_t>(info.frames) * 2);
    file.read(frames.data(), static_cast<size_t>(info.frames));
    double sum = 0.0;
    size_t count = 0;
    for (size_t i = static_cast<size_t>(from * 16000); i < static_cast<size_t>(info.frames);
         ++i, ++count)
        sum += double(frames[2 * i + static_cast<size_t>(channel)]) *
               frames[2 * i + static_cast<size_t>(channel)];
    std::remove(path.c_str());
    return 10.0 * std::log10(sum / std::max<size_t>(count, 1) + 1e-9);
}

double Circular(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

} // namespace

// 15 dB SNR: talker at 60 dB SPL, diffuse noise at 45. While the talker
// speaks the direction lies within the resolution plus a few degrees;
// before the first word (half a second of silence) there is none.
TEST(RoomKit, DirectionOfAStaticTalkerWithinTheResolution)
{
    for (double truth : {0.0, 45.0, 90.0, 180.0, 270.0}) {
        RoomBoardOptions options = Quiet(truth);
        RoomBoard board(options);
        std::string error, notes;
        ASSERT_TRUE(board.Prepare(error, notes)) << error;
        board.Apply(Settings(FEATURE_BEAMFORMING | FEATURE_SLOC));
        board.RunMilliseconds(300);
        EXPECT_EQ(board.Readings().angle, -100) << "nobody talks yet";
        int reports = 0, close = 0;
        for (int step = 0; step < 150; ++step) {
            board.RunMilliseconds(20);
            const int16_t angle = board.Readings().angle;
            if (angle == -100)
                continue;
            EXPECT_EQ(angle % 4, 0);
            ++reports;
            close += Circular(angle, truth) <= 4 + 4;
        }
        EXPECT_GE(reports, 40) << truth;
        std::printf("talker at %.0f deg: %d of %d reports within 8 deg\n", truth, close, reports);
        EXPECT_GE(close, reports * 9 / 10) << truth;
    }
}

// The talker walks round at 20 degrees a second and moves on during the
// pauses; the direction follows without clinging to the last word's.
TEST(RoomKit, DirectionFollowsAMovingTalker)
{
    RoomBoardOptions options = Quiet(0.0);
    options.room.talkerMoving = true;
    RoomBoard board(options);
    std::string error, notes;
    ASSERT_TRUE(board.Prepare(error, notes)) << error;
    board.Apply(Settings(FEATURE_SLOC));
    int reports = 0, close = 0;
    for (int step = 0; step < 500; ++step) {
        board.RunMilliseconds(20);
        const RoomReadings r = board.Readings();
        if (r.angle == -100)
            continue;
        ++reports;
        close += Circular(r.angle, r.talkerAngle) <= 10;
    }
    std::printf("moving talker: %d of %d reports within 10 deg\n", close, reports);
    EXPECT_GE(reports, 100);
    EXPECT_GE(close, reports * 8 / 10);
}

TEST(RoomKit, CoarseResolutionAndHighThreshold)
{
    RoomBoard board(Quiet(100.0));
    std::string error, notes;
    ASSERT_TRUE(board.Prepare(error, notes)) << error;
    FeatureParameterBlock block = Settings(FEATURE_SLOC);
    block.sloc.resolution = 45;
    board.Apply(block);
    int reports = 0;
    for (int step = 0; step < 100; ++step) {
        board.RunMilliseconds(20);
        const int16_t angle = board.Readings().angle;
        if (angle == -100)
            continue;
        ++reports;
        EXPECT_EQ(angle, 90);
    }
    EXPECT_GT(reports, 10);
    // 250 asks for 62.5 dB above the background: speech at 15 dB SNR never gets there.
    block.sloc.threshold = 250;
    board.Apply(block);
    board.RunMilliseconds(400);
    for (int step = 0; step < 50; ++step) {
        board.RunMilliseconds(20);
        EXPECT_EQ(board.Readings().angle, -100);
    }
}

TEST(RoomKit, NoiseLevelFollowsTheRoom)
{
    for (double noise : {40.0, 55.0, 75.0}) {
        RoomBoardOptions options = Quiet(30.0);
        options.room.noiseDb = noise;
        RoomBoard board(options);
        std::string error, notes;
        ASSERT_TRUE(board.Prepare(error, notes)) << error;
        board.Apply(Settings(FEATURE_BEAMFORMING | FEATURE_DBNOISE));
        board.RunMilliseconds(3500);
        std::printf("noise %.0f dB SPL: measured %d\n", noise, board.Readings().noiseLevel);
        EXPECT_NEAR(board.Readings().noiseLevel, noise, 3.0);
    }
}

// The plain cardioid chain is linear, so the talker's and the competing
// talker's shares of the output can be recorded one at a time.
TEST(RoomKit, BeamTowardTheTalkerBeatsTheBeamTurnedAway)
{
    auto level = [](bool talker, int direction) {
        RoomBoardOptions options = Quiet(0.0);
        options.room.noiseDb = 0.0;
        options.room.talker = talker;
        options.room.interferer = !talker;
        options.room.interfererAngle = 180.0;
        options.audioOut = TempWav(talker ? "talker" : "interferer");
        RoomBoard board(options);
        std::string error, notes;
        EXPECT_TRUE(board.Prepare(error, notes)) << error;
        FeatureParameterBlock block = Settings(FEATURE_BEAMFORMING);
        block.beam.beamDirection = static_cast<uint8_t>(direction);
        board.Apply(block);
        board.RunMilliseconds(3000);
        board.Stop();
        return ChannelLevelDb(options.audioOut, 0, 0.5);
    };
    const double toward = level(true, 1) - level(false, 1);
    const double away = level(true, 5) - level(false, 5);
    RecordProperty("snr_toward_db", std::to_string(toward));
    RecordProperty("snr_away_db", std::to_string(away));
    std::printf("SNR against the competing talker: beam toward %.1f dB, away %.1f dB\n", toward,
                away);
    EXPECT_GT(toward - away, 12.0);
}

TEST(RoomKit, EchoCancellationLowersTheFarEnd)
{
    auto level = [](uint16_t enabled) {
        RoomBoardOptions options = Quiet(0.0);
        options.room.talker = false;
        options.room.noiseDb = 30.0;
        options.room.farEnd = true;
        options.room.farEndDb = 65.0;
        options.audioOut = TempWav(enabled ? "aec" : "raw");
        RoomBoard board(options);
        std::string error, notes;
        EXPECT_TRUE(board.Prepare(error, notes)) << error;
        board.Apply(Settings(enabled));
        board.RunMilliseconds(6000);
        board.Stop();
        return ChannelLevelDb(options.audioOut, 0, 3.0);
    };
    const double raw = level(0); // streaming M1
    const double cancelled = level(FEATURE_AEC);
    std::printf("far-end echo: streamed %.1f dB, echo-cancelled %.1f dB\n", raw, cancelled);
    EXPECT_GT(raw - cancelled, 10.0);
}
