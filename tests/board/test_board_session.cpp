// The link against the real emulated board over a pseudo-terminal: the
// panel's connection sequence, every section read and written back, bad
// frames ignored, delayed answers, and a clean stop.
#include <gtest/gtest.h>

#include <cstring>
#include <QString>
#include <sys/stat.h>

#include "board_process.h"
#include "CDeviceLink.h"
#include "pty_peer.h"
#include "qt_environment.h"
#include "SerialComm.h"

namespace
{

struct Session {
    explicit Session(int port, std::vector<std::string> extra = {})
        : board(Arguments(port, std::move(extra)))
    {
        link.SetPortNumber(port);
    }
    static std::vector<std::string> Arguments(int port, std::vector<std::string> extra)
    {
        PrivateTempDir();
        extra.insert(extra.begin(), {"--port", std::to_string(port)});
        return extra;
    }
    BoardProcess board;
    CDeviceLink link;
};

bool LinkExists(int port)
{
    struct stat info {
    };
    return ::lstat((PrivateTempDir() + "/halvane/COM" + std::to_string(port)).c_str(), &info) == 0;
}

} // namespace

TEST(BoardSession, ConnectionSequenceAndSectionLengths)
{
    Session s(9201);
    EXPECT_EQ(s.board.ReadyLine().rfind("COM9201 /dev/pts/", 0), 0u) << s.board.ReadyLine();
    ASSERT_EQ(s.link.Open(TEST_BAUD), 0);
    ASSERT_EQ(s.link.Ping(BOARD_ADDRESS), 0);
    char name[BOARD_NAME_CAPACITY];
    const int nameLength = s.link.ReadBoardName(BOARD_ADDRESS, sizeof name, name);
    ASSERT_GT(nameLength, 0);
    EXPECT_TRUE(QString::fromUtf8(name, nameLength).contains("Zodurev"));
    FeatureParameterBlock block{};
    ASSERT_EQ(s.link.GetParameters(BOARD_ADDRESS, PARAM_ALL, block), 147);
    EXPECT_EQ(block.general.availableFeatures, 0x3F);
    EXPECT_EQ(block.general.enabledFeatures, 0x09);

    const std::pair<unsigned, int> polls[] = {
        {PARAM_SLOC, 25},    {PARAM_ASR, 21}, {PARAM_GENERAL, 33}, {PARAM_BEAM, 25},
        {PARAM_DBNOISE, 21}, {PARAM_AEC, 25}, {PARAM_OUTPUT, 3}};
    for (const auto& [mask, length] : polls)
        EXPECT_EQ(s.link.GetParameters(BOARD_ADDRESS, mask, block), length);
    EXPECT_GE(block.dbnoise.noiseLevel, 40);
    EXPECT_LE(block.dbnoise.noiseLevel, 60);
    EXPECT_EQ(block.sloc.angle, SLOC_NO_SOURCE); // localisation is off

    // The unused commands keep their frame shapes.
    const uint8_t seven[7] = {9, 8, 7, 6, 5, 4, 3};
    uint8_t back[7] = {};
    EXPECT_EQ(s.link.WriteByteValue(BOARD_ADDRESS, 0x1234), 0);
    EXPECT_EQ(s.link.WriteSevenBytes(BOARD_ADDRESS, seven), 0);
    EXPECT_EQ(s.link.ReadSevenBytes(BOARD_ADDRESS, back), 7);
    EXPECT_EQ(0, std::memcmp(seven, back, 7));
    EXPECT_EQ(s.link.PlainCommand(BOARD_ADDRESS), 0);
    EXPECT_EQ(s.link.SendWithoutAnswer(BOARD_ADDRESS), 1);
    EXPECT_EQ(s.link.Ping(BOARD_ADDRESS), 0); // nothing stray came back for 15
}

TEST(BoardSession, EverySectionWrittenBackAndReadAgain)
{
    Session s(9202);
    ASSERT_EQ(s.link.Open(TEST_BAUD), 0);
    FeatureParameterBlock block{};
    ASSERT_EQ(s.link.GetParameters(BOARD_ADDRESS, PARAM_ALL, block), 147);
    const FeatureParameterBlock original = block;

    block.general.enabledFeatures = FEATURE_BEAMFORMING | FEATURE_SLOC | FEATURE_ASR;
    block.general.micVolume = 64;
    block.general.micMask = 0x5;
    block.sloc.resolution = 8;
    block.sloc.threshold = 120;
    block.beam.beamType = 3;
    block.beam.beamDirection = 6;
    block.aec.agcLevel = 4350;
    block.aec.denoiser = 0;
    block.dbnoise.noiseOffset = -12;
    block.output.outputSource = 2;
    block.output.outputVolume = 77;
    for (const auto& section : PARAMETER_SECTIONS) {
        if (section.mask != PARAM_ASR) {
            EXPECT_EQ(s.link.SetParameters(BOARD_ADDRESS, section.mask, block), 0);
        }
    }
    FeatureParameterBlock read{};
    ASSERT_EQ(s.link.GetParameters(BOARD_ADDRESS, PARAM_ALL, read), 147);
    EXPECT_EQ(read.general.enabledFeatures, block.general.enabledFeatures);
    EXPECT_EQ(read.general.micVolume, 64);
    EXPECT_EQ(read.general.currentVolume, 64u);
    EXPECT_EQ(read.general.micMask, 0x5u);
    EXPECT_EQ(read.sloc.resolution, 8);
    EXPECT_EQ(read.sloc.threshold, 120);
    EXPECT_EQ(read.beam.beamType, 3);
    EXPECT_EQ(read.beam.beamDirection, 6);
    EXPECT_EQ(read.aec.agcLevel, 4350);
    EXPECT_EQ(read.aec.denoiser, 0);
    EXPECT_EQ(read.dbnoise.noiseOffset, -12);
    EXPECT_EQ(read.output.outputVolume, 77);
    // Bytes nobody interprets survived the write-back.
    EXPECT_EQ(0, std::memcmp(original.general.reserved5, read.general.reserved5,
                             sizeof read.general.reserved5));
    EXPECT_EQ(
        0, std::memcmp(original.sloc.reserved6, read.sloc.reserved6, sizeof read.sloc.reserved6));
    EXPECT_EQ(0, std::memcmp(original.beam.reserved12, read.beam.reserved12,
                             sizeof read.beam.reserved12));
    EXPECT_EQ(0,
              std::memcmp(original.aec.reserved0, read.aec.reserved0, sizeof read.aec.reserved0));
    EXPECT_EQ(0, std::memcmp(original.dbnoise.reserved4, read.dbnoise.reserved4,
                             sizeof read.dbnoise.reserved4));
    EXPECT_EQ(0,
              std::memcmp(original.asr.reserved2, read.asr.reserved2, sizeof read.asr.reserved2));

    // With localisation now running the talker's direction shows up.
    bool direction = false;
    for (int i = 0; i < 300 && !direction; ++i) {
        ASSERT_EQ(s.link.GetParameters(BOARD_ADDRESS, PARAM_SLOC, read), 25);
        direction = read.sloc.angle != SLOC_NO_SOURCE;
        if (direction) {
            EXPECT_GE(read.sloc.angle, 0);
            EXPECT_LT(read.sloc.angle, 360);
            EXPECT_EQ(read.sloc.angle % 8, 0); // at the resolution set
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    EXPECT_TRUE(direction);
}

TEST(BoardSession, IgnoresFramesNotForIt)
{
    Session s(9203);
    SerialComm comm;
    comm.SetPortNumber(9203);
    ASSERT_TRUE(comm.Open(TEST_BAUD));
    // Another destination, and a bad checksum: no answer.
    EXPECT_EQ(comm.SendCommand(51, CMD_PING, 0, nullptr), 1);
    EXPECT_EQ(comm.WaitAnswer(51, CMD_PING, 150, 0, nullptr), -1);
    Bytes bad = Frame({0x32, 0x00, 0x01});
    bad[3] ^= 0x10;
    EXPECT_TRUE(comm.WriteBytes(bad.data(), static_cast<int>(bad.size())));
    EXPECT_EQ(comm.WaitAnswer(BOARD_ADDRESS, CMD_PING, 150, 0, nullptr), -1);
    // A flood without end marker, then a proper request: answered.
    const Bytes flood(5000, 0x42);
    EXPECT_TRUE(comm.WriteBytes(flood.data(), static_cast<int>(flood.size())));
    const Bytes end{0xF0};
    EXPECT_TRUE(comm.WriteBytes(end.data(), 1));
    EXPECT_EQ(comm.SendCommand(BOARD_ADDRESS, CMD_PING, 0, nullptr), 1);
    EXPECT_EQ(comm.WaitAnswer(BOARD_ADDRESS, CMD_PING, 2000, 0, nullptr), 0);
}

TEST(BoardSession, DelayedAnswerTimesOutAndServesTheNextRequest)
{
    Session s(9204, {"--reply-delay", "2300"});
    ASSERT_EQ(s.link.Open(TEST_BAUD), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.link.Ping(BOARD_ADDRESS), -1);
    EXPECT_GE(MillisecondsSince(start), 1950.0);
    EXPECT_EQ(s.link.Ping(BOARD_ADDRESS), 0); // the first answer, late
    EXPECT_LT(MillisecondsSince(start), 3000.0);
}

TEST(BoardSession, StopsCleanlyAndGuardsItsPort)
{
    auto first = std::make_unique<Session>(9205);
    ASSERT_FALSE(first->board.ReadyLine().empty());
    EXPECT_TRUE(LinkExists(9205));
    {
        BoardProcess second({"--port", "9205"});
        EXPECT_TRUE(second.ReadyLine().empty());
        EXPECT_EQ(second.Stop(), 1); // refused: the port is served
    }
    CDeviceLink link;
    link.SetPortNumber(9205);
    ASSERT_EQ(link.Open(TEST_BAUD), 0);
    ASSERT_EQ(link.Ping(BOARD_ADDRESS), 0);
    EXPECT_EQ(first->board.Stop(SIGINT), 0);
    // The board going away fails the next command instead of hanging it.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Ping(BOARD_ADDRESS), -1);
    EXPECT_LT(MillisecondsSince(start), 2500.0);
    link.Close();
    EXPECT_TRUE(first->board.RestOfOutput().empty()); // one line only
    EXPECT_FALSE(LinkExists(9205));
    first.reset();

    BoardProcess third({"--port", "9205"});
    EXPECT_EQ(third.ReadyLine().rfind("COM9205 ", 0), 0u);
    EXPECT_EQ(third.Stop(SIGTERM), 0);

    BoardProcess bad({"--port", "x"});
    EXPECT_EQ(bad.Stop(), 2);
}
