// The emulated board's protocol side and room simulation, without a terminal.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include <QDir>

#include "BoardOptions.h"
#include "DemoBoard.h"
#include "FrameReceiver.h"
#include "PseudoTerminal.h"
#include "pty_peer.h"
#include "RoomSimulation.h"

namespace
{

Bytes Answered(DemoBoard& board, const Bytes& request)
{
    LinkMessage answer;
    if (!board.Answer(MessageOf(request), answer))
        return {};
    return Bytes(answer.data, answer.data + answer.length);
}

} // namespace

TEST(DemoBoard, AnswersOrStaysSilent)
{
    DemoBoard board("Zodurev test", 0x3F, 0x09);
    EXPECT_EQ(Answered(board, {0x32, 0x00, 0x01}), (Bytes{0x00, 0x32, 0x81}));
    EXPECT_EQ(Answered(board, {0x32, 0x07, 0x0E}), (Bytes{0x07, 0x32, 0x8E}));
    // Silent: command 15, unknown codes, other destinations, malformed payloads.
    EXPECT_TRUE(Answered(board, {0x32, 0x00, 0x0F}).empty());
    EXPECT_TRUE(Answered(board, {0x32, 0x00, 0x33}).empty());
    EXPECT_TRUE(Answered(board, {0x33, 0x00, 0x01}).empty());
    EXPECT_TRUE(Answered(board, {0x32, 0x00, 0x0C, 1, 2}).empty());
    EXPECT_TRUE(Answered(board, {0x32, 0x00, 0x41}).empty());
    EXPECT_TRUE(Answered(board, {0x32, 0x00, 0x40, 0x40, 0x01}).empty());
    EXPECT_EQ(Answered(board, {0x32, 0x00, 0x41, 0x80}), (Bytes{0x00, 0x32, 0xC1, 0x80}));

    // The features on offer stay the board's own when a block is written back.
    Bytes set{0x32, 0x00, 0x40, 0x01, 0x01, 0x00, 0x1F, 0x00};
    set.resize(4 + sizeof(GeneralSection));
    EXPECT_EQ(Answered(board, set), (Bytes{0x00, 0x32, 0xC0}));
    EXPECT_EQ(Answered(board, {0x32, 0x00, 0x41, 0x01}).at(4), 0x3F);
    EXPECT_EQ(Answered(board, {0x32, 0x00, 0x41, 0x01}).at(6), 0x1F);
}

TEST(FrameReceiver, SplitsStreamAndDropsBadFrames)
{
    FrameReceiver receiver;
    LinkMessage message;
    Bytes badSum = Frame({0x32, 0x00, 0x01});
    badSum[3] ^= 1;
    Bytes oversized(FrameReceiver::MAX_FRAME + 10, 0x11);
    oversized.push_back(0xF0);
    const Bytes stream =
        Concat(Concat(Concat({0xF0, 0xF0}, badSum), Concat({0x32, 0xF1, 0x33, 0xF0}, oversized)),
               Frame({0x32, 0x00, 0x40, 0xF0, 0xF1}));
    std::vector<Bytes> got;
    for (uint8_t b : stream) {
        if (receiver.Push(b, message))
            got.emplace_back(message.data, message.data + message.length);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (Bytes{0x32, 0x00, 0x40, 0xF0, 0xF1}));
    EXPECT_EQ(receiver.DroppedFrames(), 3u);
}

TEST(BoardOptions, ParsesAndRejects)
{
    auto parse = [](std::vector<std::string> args, BoardOptions& options, std::string& error) {
        std::vector<char*> argv{const_cast<char*>("halvane-board")};
        for (std::string& a : args)
            argv.push_back(&a[0]);
        return ParseBoardOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    };
    BoardOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--port", "12", "--features", "0x1f", "--enabled", "3", "--reply-delay",
                       "250", "--name", "u4 board", "--verbose"},
                      options, error));
    EXPECT_EQ(options.port, 12);
    EXPECT_EQ(options.features, 0x1F);
    EXPECT_EQ(options.enabled, 0x03);
    EXPECT_EQ(options.replyDelayMs, 250);
    EXPECT_EQ(options.name, "u4 board");
    EXPECT_TRUE(options.verbose);
    EXPECT_FALSE(options.room);

    BoardOptions room;
    ASSERT_TRUE(parse({"--talker-angle", "-45.5", "--room", "--talker-moving", "--noise-db", "60",
                       "--interferer-angle", "180", "--far-end-db", "70", "--audio-out", "x.wav",
                       "--play", "--fast"},
                      room, error))
        << error;
    EXPECT_TRUE(room.room && room.talkerMoving && room.play && room.fast && room.interferer &&
                room.farEnd);
    EXPECT_EQ(room.talkerAngle, -45.5);
    EXPECT_EQ(room.noiseDb, 60.0);
    EXPECT_EQ(room.interfererAngle, 180.0);
    EXPECT_EQ(room.farEndDb, 70.0);
    EXPECT_EQ(room.audioOut, "x.wav");

    // The wording of the host programs' shared parser.
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--port"}, "--port needs a value"},
        {{"--port", "-1"}, "--port wants a port number (0 to 9999), got '-1'"},
        {{"--port", "7x"}, "--port wants a whole number, got '7x'"},
        {{"--features", "10000"}, "--features wants feature bits (0 to FFFF), got '10000'"},
        {{"--enabled", "zz"}, "--enabled wants a hexadecimal number, got 'zz'"},
        {{"--reply-delay", ""}, "--reply-delay wants a whole number, got ''"},
        {{"--name", ""}, "--name must hold 1 to"},
        {{"--bogus"}, "unknown option --bogus (see --help)"},
        {{"--noise-db", "50"}, "--noise-db needs --room"},
        {{"--fast"}, "--fast needs --room"},
        {{"--room", "--noise-db", "loud"}, "--noise-db wants a number, got 'loud'"},
        {{"--room", "--far-end-db", "-3"}, "--far-end-db wants a level in dB SPL (0 to 110)"},
        {{"--room", "--talker-angle"}, "--talker-angle needs a value"},
        {{"--room", "--audio-out", ""}, "--audio-out needs a file name"}};
    for (const auto& [args, message] : bad) {
        BoardOptions fresh;
        error.clear();
        EXPECT_FALSE(parse(args, fresh, error)) << args[0];
        EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    }
    // --help ends the parsing: what follows is not looked at.
    BoardOptions help;
    EXPECT_TRUE(parse({"--verbose", "--help", "--bogus"}, help, error));
    EXPECT_TRUE(help.help && help.verbose);
}

TEST(RoomSimulation, LiveValuesMovePlausibly)
{
    RoomSimulation room;
    FeatureParameterBlock block{};
    block.general.enabledFeatures = FEATURE_SLOC | FEATURE_ASR | FEATURE_DBNOISE;
    block.general.micVolume = 32;
    block.sloc.resolution = 1;
    block.beam.beamDirection = 3;
    const std::set<int> known(std::begin(RoomSimulation::KNOWN_COMMANDS),
                              std::end(RoomSimulation::KNOWN_COMMANDS));

    int silent = 0, heard = 0, lastAngle = SLOC_NO_SOURCE, biggestStep = 0;
    int noiseLow = 1000, noiseHigh = -1000;
    std::set<int> commands;
    const int steps = 10 * 60 * 1000 / 16; // ten minutes of 16 ms polls
    for (int i = 0; i < steps; ++i) {
        room.Advance(i * 0.016, block);
        const int angle = block.sloc.angle;
        if (angle == SLOC_NO_SOURCE) {
            ++silent;
        } else {
            ++heard;
            ASSERT_GE(angle, 0);
            ASSERT_LT(angle, 360);
            if (lastAngle != SLOC_NO_SOURCE) {
                const int step = std::abs(angle - lastAngle);
                biggestStep = std::max(biggestStep, std::min(step, 360 - step));
            }
        }
        lastAngle = angle;
        noiseLow = std::min<int>(noiseLow, block.dbnoise.noiseLevel);
        noiseHigh = std::max<int>(noiseHigh, block.dbnoise.noiseLevel);
        const int command = block.asr.asrCommand;
        if (command != 0) {
            ASSERT_TRUE(known.count(command)) << command;
            commands.insert(command);
        }
        // Without gesture control the volume in force is the one set and the
        // beam stays where it was put.
        ASSERT_EQ(block.general.currentVolume, 32u);
        ASSERT_EQ(block.beam.beamDirection, 3);
    }
    EXPECT_GT(silent, steps / 10); // the talker pauses
    EXPECT_GT(heard, steps / 3);   // and talks most of the time
    EXPECT_LE(biggestStep, 3);     // walking, not jumping
    EXPECT_GE(noiseLow, 40);
    EXPECT_LE(noiseHigh, 60);
    EXPECT_GT(noiseHigh - noiseLow, 4); // it does drift
    EXPECT_GE(commands.size(), 5u);

    // Gestures move volume and beam; localisation off reports no source.
    block.general.enabledFeatures = 0;
    block.general.volumeGesture = 1;
    block.beam.beamGesture = 1;
    std::set<unsigned> volumes;
    std::set<int> directions;
    for (int i = steps; i < steps + 60 * 1000 / 16; ++i) {
        room.Advance(i * 0.016, block);
        ASSERT_EQ(block.sloc.angle, SLOC_NO_SOURCE);
        ASSERT_EQ(block.asr.asrCommand, i < steps + 200 ? block.asr.asrCommand : 0);
        ASSERT_LE(block.general.currentVolume, 128u);
        ASSERT_GE(block.beam.beamDirection, 1);
        ASSERT_LE(block.beam.beamDirection, 8);
        volumes.insert(block.general.currentVolume);
        directions.insert(block.beam.beamDirection);
    }
    EXPECT_GE(volumes.size(), 3u);
    EXPECT_GE(directions.size(), 3u);
}

TEST(BoardOptions, TempDirMatchesQt)
{
    // The board publishes its link where the panel looks: Qt's temp path.
    for (const char* path :
         {"/tmp", "/tmp/", "//tmp//x/", "/tmp/./a/../b", "rel/./x/..", "../up", "/"}) {
        EXPECT_EQ(CleanPath(path), QDir::cleanPath(path).toStdString()) << path;
    }
}
