// Framing, checked against hand-made wire bytes
// and against the plain reference framer of the tests.
#include <gtest/gtest.h>

#include "LinkMessage.h"
#include "pty_peer.h"

namespace
{

Bytes Wire(LinkMessage message)
{
    EXPECT_TRUE(AppendChecksum(message));
    Bytes out(LINK_BUFFER_SIZE);
    out.resize(StuffFrame(message, out.data(), out.size()));
    return out;
}

Bytes Content(const LinkMessage& message)
{
    return Bytes(message.data, message.data + message.length);
}

} // namespace

TEST(Framing, KnownFramesAndRoundTrip)
{
    EXPECT_EQ(Wire(MessageOf({0x32, 0x00, 0x01})), (Bytes{0x32, 0x00, 0x01, 0xCD, 0xF0}));
    EXPECT_EQ(Wire(MessageOf({0x00, 0x32, 0x81})), (Bytes{0x00, 0x32, 0x81, 0x4D, 0xF0}));
    EXPECT_EQ(Wire(MessageOf({0x00, 0x32, 0xC1, 0x04, 0xF0, 0x00})),
              (Bytes{0x00, 0x32, 0xC1, 0x04, 0xF1, 0xF2, 0x00, 0x19, 0xF0}));
    // Empty content: checksum 0.
    EXPECT_EQ(Wire(MessageOf({})), (Bytes{0x00, 0xF0}));

    // Contents whose bytes and checksums hit both special values survive the
    // round trip and match the reference framer.
    for (const Bytes& content : {Bytes{0xF0, 0xF1, 0xF2, 0x00}, Bytes{0x0F}, Bytes{0x0E},
                                 Bytes{0xF1, 0xF1, 0xF0, 0xF0, 0x2F}}) {
        const Bytes wire = Wire(MessageOf(content));
        EXPECT_EQ(wire, Frame(content));
        LinkMessage back;
        ASSERT_TRUE(UnstuffFrame(wire.data(), wire.size(), back));
        ASSERT_TRUE(VerifyChecksum(back));
        EXPECT_EQ(Content(back), content);
    }
}

TEST(Framing, RejectsBadFramesWithoutOverrun)
{
    LinkMessage message;
    const Bytes badEscape{0x00, 0x32, 0xF1, 0x33, 0xF0};
    const Bytes danglingEscape{0x00, 0x32, 0x81, 0xF1, 0xF0};
    const Bytes noEnd{0x00, 0x32, 0x81, 0x4D};
    EXPECT_FALSE(UnstuffFrame(badEscape.data(), badEscape.size(), message));
    EXPECT_FALSE(UnstuffFrame(danglingEscape.data(), danglingEscape.size(), message));
    EXPECT_FALSE(UnstuffFrame(noEnd.data(), noEnd.size(), message));
    LinkMessage badSum = MessageOf({0x00, 0x32, 0x81, 0x4E});
    EXPECT_FALSE(VerifyChecksum(badSum));
    // An empty message has no checksum to drop; it stays empty rather than
    // wrapping its unsigned length round to a huge payload.
    LinkMessage empty;
    EXPECT_TRUE(VerifyChecksum(empty));
    EXPECT_EQ(empty.length, 0u);

    // Content beyond the message capacity is refused, not written past it.
    Bytes tooLong(LINK_MESSAGE_CAPACITY + 1, 0x11);
    tooLong.push_back(0xF0);
    EXPECT_FALSE(UnstuffFrame(tooLong.data(), tooLong.size(), message));
    tooLong.erase(tooLong.begin());
    EXPECT_TRUE(UnstuffFrame(tooLong.data(), tooLong.size(), message));
    EXPECT_EQ(message.length, LINK_MESSAGE_CAPACITY);

    // A full message has no room for its checksum.
    EXPECT_FALSE(AppendChecksum(message));
    EXPECT_EQ(message.length, LINK_MESSAGE_CAPACITY);

    // Stuffing refuses an output buffer that is too small.
    LinkMessage escaped = MessageOf({0xF0, 0xF0});
    uint8_t out[4];
    EXPECT_EQ(StuffFrame(escaped, out, 4), 0u);
    uint8_t room[5];
    EXPECT_EQ(StuffFrame(escaped, room, 5), 5u);
}
