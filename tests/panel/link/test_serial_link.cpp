// The link against a scripted peer on a real pseudo-terminal. Answers are
// written before the request where the scenario allows it: bytes that arrive
// outside a wait are read by the next wait, so no second thread is needed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <QDir>
#include <thread>

#include "CDeviceLink.h"
#include "pty_peer.h"
#include "qt_environment.h"
#include "SerialComm.h"

namespace
{

Bytes Answer(uint8_t code, const Bytes& payload = {})
{
    return Frame(Concat({0x00, 0x32, code}, payload));
}

struct LinkOnPeer {
    explicit LinkOnPeer(int portNumber) : peer(portNumber)
    {
        link.SetPortNumber(portNumber);
        EXPECT_EQ(link.Open(TEST_BAUD), 0);
    }
    PtyPeer peer;
    CDeviceLink link;
};

struct CommOnPeer {
    explicit CommOnPeer(int portNumber) : peer(portNumber)
    {
        comm.SetPortNumber(portNumber);
        EXPECT_TRUE(comm.Open(TEST_BAUD));
    }
    PtyPeer peer;
    SerialComm comm;
};

} // namespace

TEST(SerialLink, OpenCloseAndPortNames)
{
    PrivateTempDir();
    CDeviceLink link;
    link.SetPortNumber(9199); // nothing serves it
    EXPECT_EQ(link.Open(TEST_BAUD), -1);
    EXPECT_EQ(link.Close(), -1);
    EXPECT_EQ(link.Ping(BOARD_ADDRESS), -1);

    PtyPeer peer(9101);
    EXPECT_EQ(CComPort::ResolvePortName("COM9101"), QDir::tempPath() + "/halvane/COM9101");
    EXPECT_EQ(CComPort::ResolvePortName("COM9199"), "COM9199");
    EXPECT_EQ(CComPort::ResolvePortName("/dev/null"), "/dev/null");
    link.SetPortNumber(9101);
    EXPECT_EQ(link.Open(TEST_BAUD), 0);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(link.Close(), -1);
    EXPECT_EQ(link.Open(TEST_BAUD), 0); // and again
}

TEST(SerialLink, RequestsOnTheWire)
{
    LinkOnPeer t(9102);
    t.peer.Send(Answer(0x81));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), 0);
    EXPECT_EQ(t.peer.Received(), (Bytes{0x32, 0x00, 0x01, 0xCD, 0xF0}));

    t.peer.Send(Answer(0x8B));
    EXPECT_EQ(t.link.WriteByteValue(BOARD_ADDRESS, 0x1234), 0);
    EXPECT_EQ(t.peer.Received(), Frame({0x32, 0x00, 0x0B, 0x34}));

    // Command 15 is not awaited: sent is success even with nobody answering.
    EXPECT_EQ(t.link.SendWithoutAnswer(BOARD_ADDRESS), 1);
    EXPECT_EQ(t.peer.Received(), Frame({0x32, 0x00, 0x0F}));

    FeatureParameterBlock block{};
    block.output.outputSource = 2;
    block.output.outputVolume = 64;
    t.peer.Send(Answer(0xC0));
    EXPECT_EQ(t.link.SetParameters(BOARD_ADDRESS, PARAM_OUTPUT, block), 0);
    EXPECT_EQ(t.peer.Received(), (Bytes{0x32, 0x00, 0x40, 0x40, 0x02, 0x40, 0x0C, 0xF0}));

    uint8_t* raw = reinterpret_cast<uint8_t*>(&block);
    for (size_t i = 0; i < sizeof block; ++i)
        raw[i] = static_cast<uint8_t>(i);
    t.peer.Send(Answer(0xC0));
    EXPECT_EQ(t.link.SetParameters(BOARD_ADDRESS, PARAM_SLOC | PARAM_BEAM, block), 0);
    Bytes expected{0x32, 0x00, 0x40, 0x06};
    expected.insert(expected.end(), raw + 32, raw + 80); // 24 SLOC, then 24 BEAM bytes
    EXPECT_EQ(t.peer.Received(), Frame(expected));
}

TEST(SerialLink, AnswerMatching)
{
    LinkOnPeer t(9103);
    // The request code itself is accepted as well as code + 128.
    t.peer.Send(Answer(0x01));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), 0);
    // Other codes are skipped and the wait goes on; empty frames are skipped.
    t.peer.Send(Concat(Concat({0xF0, 0xF0}, Answer(0x82, {'x'})), Concat({0xF0}, Answer(0x81))));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), 0);
    // An acknowledgement that carries payload fails a command without payload.
    t.peer.Send(Answer(0x81, {0x00}));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), -1);

    // Wrong source or wrong destination fails at once, without waiting.
    const auto start = std::chrono::steady_clock::now();
    t.peer.Send(Frame({0x00, 0x33, 0x81}));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), -1);
    t.peer.Send(Frame({0x01, 0x32, 0x81}));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), -1);
    EXPECT_LT(MillisecondsSince(start), 500.0);

    // Bad checksum, invalid escape and dangling escape each fail the wait.
    Bytes badSum = Answer(0x81);
    badSum[3] ^= 0x01;
    for (const Bytes& bad :
         {badSum, Bytes{0x00, 0x32, 0xF1, 0x33, 0xF0}, Bytes{0x00, 0x32, 0x81, 0xF1, 0xF0}}) {
        t.peer.Send(bad);
        EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), -1);
    }
    // The link is still usable afterwards.
    t.peer.Send(Answer(0x81));
    EXPECT_EQ(t.link.Ping(BOARD_ADDRESS), 0);
}

TEST(SerialLink, AnswerPayloadAndCapacity)
{
    LinkOnPeer t(9104);
    const Bytes name{'Z', 'o', 'd', 'u', 'r', 'e', 'v', ' ', 'd', 'e', 'm', 'o'};
    uint8_t buffer[128] = {};
    t.peer.Send(Answer(0x82, name));
    EXPECT_EQ(t.link.ReadBoardName(BOARD_ADDRESS, 100, buffer), 12);
    EXPECT_EQ(0, std::memcmp(buffer, name.data(), name.size()));

    Bytes longName(101);
    for (size_t i = 0; i < longName.size(); ++i)
        longName[i] = static_cast<uint8_t>(0x20 + i);
    std::memset(buffer, 0, sizeof buffer);
    t.peer.Send(Answer(0x82, longName));
    EXPECT_EQ(t.link.ReadBoardName(BOARD_ADDRESS, 100, buffer), -1);
    EXPECT_EQ(0, std::memcmp(buffer, longName.data(), 100));
    EXPECT_EQ(buffer[100], 0); // nothing written past the capacity

    uint8_t seven[7];
    t.peer.Send(Answer(0x8D, {1, 2, 3}));
    EXPECT_EQ(t.link.ReadSevenBytes(BOARD_ADDRESS, seven), 3);
    t.peer.Send(Answer(0x8D));
    EXPECT_EQ(t.link.ReadSevenBytes(BOARD_ADDRESS, seven), 0);
}

TEST(SerialLink, GetParametersFillsSections)
{
    LinkOnPeer t(9105);
    FeatureParameterBlock block{};
    Bytes sloc{0x04};
    for (uint8_t i = 1; i <= 24; ++i)
        sloc.push_back(i);
    t.peer.Send(Answer(0xC1, sloc));
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_SLOC, block), 25);
    EXPECT_EQ(t.peer.Received(), Frame({0x32, 0x00, 0x41, 0x04}));
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&block);
    EXPECT_EQ(0, std::memcmp(raw + 32, sloc.data() + 1, 24));
    EXPECT_EQ(raw[31], 0);
    EXPECT_EQ(raw[56], 0);

    Bytes all{0xFF};
    for (int i = 0; i < 146; ++i)
        all.push_back(static_cast<uint8_t>(0xA0 ^ i));
    t.peer.Send(Answer(0xC1, all));
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_ALL, block), 147);
    EXPECT_EQ(0, std::memcmp(raw, all.data() + 1, 146));

    // An answer longer than 164 bytes fails, but its first bytes are unpacked.
    Bytes tooLong(170, 0x55);
    t.peer.Send(Answer(0xC1, tooLong));
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_GENERAL, block), -1);
    EXPECT_EQ(raw[0], 0x55);
    EXPECT_EQ(raw[32], all[33]);

    // A failed send leaves the block untouched.
    const FeatureParameterBlock before = block;
    t.link.Close();
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_ALL, block), -1);
    EXPECT_EQ(0, std::memcmp(&before, &block, sizeof block));
}

TEST(SerialLink, TimedOutGetZeroFillsAndLateAnswersAreNotTakenByLaterRequests)
{
    LinkOnPeer t(9106);
    FeatureParameterBlock block;
    std::memset(&block, 0x77, sizeof block);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_DBNOISE, block), -1);
    EXPECT_GE(MillisecondsSince(start), 1900.0);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&block);
    for (int i = 104; i < 124; ++i)
        EXPECT_EQ(raw[i], 0) << i;
    EXPECT_EQ(raw[103], 0x77);
    EXPECT_EQ(raw[124], 0x77);

    auto noiseAnswer = [](uint8_t level) {
        Bytes payload{0x08, level};
        payload.resize(21, 0);
        return Answer(0xC1, payload);
    };
    // The missed answer arrives before the next request: it is dropped, and
    // the request gets its own answer.
    t.peer.Send(noiseAnswer(1));
    std::thread board([&] {
        t.peer.NextRequest();
        t.peer.Send(noiseAnswer(2));
    });
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_DBNOISE, block), 21);
    EXPECT_EQ(block.dbnoise.noiseLevel, 2);
    board.join();

    // A board answering later than the timeout: the answer that comes during
    // the next wait is taken (nothing tells them apart), but the one behind
    // it does not shift every later reading by one request.
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_DBNOISE, block), -1);
    board = std::thread([&] {
        t.peer.NextRequest();
        t.peer.Send(Concat(noiseAnswer(3), noiseAnswer(4)));
        t.peer.NextRequest();
        t.peer.Send(noiseAnswer(5));
    });
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_DBNOISE, block), 21);
    EXPECT_EQ(block.dbnoise.noiseLevel, 3);
    EXPECT_EQ(t.link.GetParameters(BOARD_ADDRESS, PARAM_DBNOISE, block), 21);
    EXPECT_EQ(block.dbnoise.noiseLevel, 5);
    board.join();
}

TEST(SerialLink, StreamStateAcrossCalls)
{
    CommOnPeer t(9107);
    LinkMessage message;
    // Two frames in one read: two calls, the second without waiting.
    t.peer.Send(Concat(Answer(0x81), Answer(0x82, {'a'})));
    ASSERT_TRUE(t.comm.ReceiveMessage(message, 2.0));
    EXPECT_EQ(message.data[2], 0x81);
    // A new connection starts empty: the buffered frame is gone after
    // closing and reopening the port.
    EXPECT_TRUE(t.comm.Close());
    EXPECT_TRUE(t.comm.Open(TEST_BAUD));
    EXPECT_FALSE(t.comm.ReceiveMessage(message, 0.1));
    t.peer.Send(Answer(0x82, {'a'}));
    ASSERT_TRUE(t.comm.ReceiveMessage(message, 2.0));
    EXPECT_EQ(message.length, 4u);
    EXPECT_EQ(message.data[3], 'a');

    // The timeout bounds each silence, not the call: a frame trickling in
    // with pauses shorter than the timeout arrives whole.
    const Bytes frame = Answer(0x82, {'b', 'c', 'd'});
    std::thread trickle([&] {
        for (uint8_t b : frame) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            t.peer.Send({b});
        }
    });
    const auto slow = std::chrono::steady_clock::now();
    EXPECT_TRUE(t.comm.ReceiveMessage(message, 0.2));
    EXPECT_GT(MillisecondsSince(slow), 200.0);
    trickle.join();
    EXPECT_EQ(message.length, 6u);
    EXPECT_FALSE(t.comm.ReceiveMessage(message, 0.05));

    // ...but a trickle that never ends a frame is bounded in all: at most
    // twice the silence timeout.
    std::atomic<bool> trickling{true};
    std::thread endless([&] {
        while (trickling) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            t.peer.Send({0x55});
        }
    });
    const auto bounded = std::chrono::steady_clock::now();
    EXPECT_FALSE(t.comm.ReceiveMessage(message, 0.2));
    EXPECT_LT(MillisecondsSince(bounded), 1500.0);
    trickling = false;
    endless.join();
}

TEST(SerialLink, FloodsAndOversizedFramesAreRejected)
{
    CommOnPeer t(9108);
    LinkMessage message;
    // 2,048 bytes without an end marker are one frame, which fails; the
    // valid answer behind them is the next frame.
    t.peer.Send(Concat(Bytes(LINK_BUFFER_SIZE, 0x55), Answer(0x81)));
    EXPECT_FALSE(t.comm.ReceiveMessage(message, 2.0));
    ASSERT_TRUE(t.comm.ReceiveMessage(message, 2.0));
    EXPECT_EQ(message.data[2], 0x81);

    // A frame whose content exceeds the message capacity is dropped whole.
    t.peer.Send(Concat(Frame(Concat({0x00, 0x32, 0x81}, Bytes(1500, 0x11))), Answer(0x81)));
    EXPECT_EQ(t.comm.WaitAnswer(BOARD_ADDRESS, CMD_PING, 2000, 0, nullptr), -1);
    EXPECT_EQ(t.comm.WaitAnswer(BOARD_ADDRESS, CMD_PING, 2000, 0, nullptr), 0);

    // A long flood without end marker fails each wait quickly and never hangs.
    t.peer.Send(Bytes(3 * LINK_BUFFER_SIZE, 0x42));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.comm.WaitAnswer(BOARD_ADDRESS, CMD_PING, 2000, 0, nullptr), -1);
    EXPECT_LT(MillisecondsSince(start), 1000.0);

    // Requests too large for the transmit buffer are refused, not truncated.
    const Bytes huge(LINK_MAX_REQUEST_PAYLOAD + 1, 0xF0);
    EXPECT_EQ(
        t.comm.SendCommand(BOARD_ADDRESS, 0x40, static_cast<unsigned>(huge.size()), huge.data()),
        -1);
    const Bytes largest(LINK_MAX_REQUEST_PAYLOAD, 0xF0);
    EXPECT_EQ(t.comm.SendCommand(BOARD_ADDRESS, 0x40, static_cast<unsigned>(largest.size()),
                                 largest.data()),
              1);
    EXPECT_EQ(t.peer.Received(), Frame(Concat({0x32, 0x00, 0x40}, largest)));
}

TEST(SerialLink, TextMode)
{
    CommOnPeer t(9109);
    t.comm.SetTextMode();
    EXPECT_TRUE(t.comm.WriteString("AT\r"));
    EXPECT_EQ(t.peer.Received(), (Bytes{'A', 'T', '\r'}));
    char line[9];
    t.peer.Send({'O', 'K', '\r', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', '\r'});
    ASSERT_TRUE(t.comm.ReadLine(line, 8, 2.0));
    EXPECT_STREQ(line, "OK\r");
    // A line longer than maxLen comes in pieces; nothing is lost.
    ASSERT_TRUE(t.comm.ReadLine(line, 8, 2.0));
    EXPECT_STREQ(line, "ABCDEFGH");
    ASSERT_TRUE(t.comm.ReadLine(line, 8, 2.0));
    EXPECT_STREQ(line, "IJ\r");
    EXPECT_FALSE(t.comm.ReadLine(line, 8, 0.05));
}
