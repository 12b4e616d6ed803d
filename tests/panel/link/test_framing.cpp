// Framing and parameter-block packing, checked against hand-made wire bytes
// and against the plain reference framer of the tests.
#include <gtest/gtest.h>

#include <cstring>

#include "FeatureParameterBlock.h"
#include "LinkMessage.h"
#include "pty_peer.h"

namespace {

LinkMessage Message(const Bytes& content) {
    LinkMessage message;
    message.length = static_cast<uint32_t>(content.size());
    if (!content.empty()) std::memcpy(message.data, content.data(), content.size());
    return message;
}

Bytes Wire(LinkMessage message) {
    EXPECT_TRUE(AppendChecksum(message));
    Bytes out(LINK_BUFFER_SIZE);
    out.resize(StuffFrame(message, out.data(), out.size()));
    return out;
}

Bytes Content(const LinkMessage& message) {
    return Bytes(message.data, message.data + message.length);
}

}  // namespace

TEST(Framing, KnownFramesAndRoundTrip) {
    EXPECT_EQ(Wire(Message({0x32, 0x00, 0x01})), (Bytes{0x32, 0x00, 0x01, 0xCD, 0xF0}));
    EXPECT_EQ(Wire(Message({0x00, 0x32, 0x81})), (Bytes{0x00, 0x32, 0x81, 0x4D, 0xF0}));
    EXPECT_EQ(Wire(Message({0x00, 0x32, 0xC1, 0x04, 0xF0, 0x00})),
              (Bytes{0x00, 0x32, 0xC1, 0x04, 0xF1, 0xF2, 0x00, 0x19, 0xF0}));
    // Empty content: checksum 0.
    EXPECT_EQ(Wire(Message({})), (Bytes{0x00, 0xF0}));

    // Contents whose bytes and checksums hit both special values survive the
    // round trip and match the reference framer.
    for (const Bytes& content : {Bytes{0xF0, 0xF1, 0xF2, 0x00}, Bytes{0x0F}, Bytes{0x0E},
                                 Bytes{0xF1, 0xF1, 0xF0, 0xF0, 0x2F}}) {
        const Bytes wire = Wire(Message(content));
        EXPECT_EQ(wire, Frame(content));
        LinkMessage back;
        ASSERT_TRUE(UnstuffFrame(wire.data(), wire.size(), back));
        ASSERT_TRUE(VerifyChecksum(back));
        EXPECT_EQ(Content(back), content);
    }
}

TEST(Framing, RejectsBadFramesWithoutOverrun) {
    LinkMessage message;
    const Bytes badEscape{0x00, 0x32, 0xF1, 0x33, 0xF0};
    const Bytes danglingEscape{0x00, 0x32, 0x81, 0xF1, 0xF0};
    const Bytes noEnd{0x00, 0x32, 0x81, 0x4D};
    EXPECT_FALSE(UnstuffFrame(badEscape.data(), badEscape.size(), message));
    EXPECT_FALSE(UnstuffFrame(danglingEscape.data(), danglingEscape.size(), message));
    EXPECT_FALSE(UnstuffFrame(noEnd.data(), noEnd.size(), message));

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
    LinkMessage escaped = Message({0xF0, 0xF0});
    uint8_t out[4];
    EXPECT_EQ(StuffFrame(escaped, out, 4), 0u);
    uint8_t room[5];
    EXPECT_EQ(StuffFrame(escaped, room, 5), 5u);
}

TEST(Framing, ChecksumVerification) {
    LinkMessage good = Message({0x00, 0x32, 0x81, 0x4D});
    EXPECT_TRUE(VerifyChecksum(good));
    EXPECT_EQ(good.length, 3u);
    LinkMessage bad = Message({0x00, 0x32, 0x81, 0x4E});
    EXPECT_FALSE(VerifyChecksum(bad));
    EXPECT_EQ(bad.length, 3u);
    // An empty message has no checksum to drop; it stays empty rather than
    // wrapping its unsigned length round.
    LinkMessage empty;
    EXPECT_TRUE(VerifyChecksum(empty));
    EXPECT_EQ(empty.length, 0u);
}

TEST(ParameterBlock, SectionOrderAndPacking) {
    EXPECT_EQ(ParameterSectionsSize(PARAM_ALL), 146u);
    EXPECT_EQ(ParameterSectionsSize(0x80), 0u);

    FeatureParameterBlock block;
    uint8_t* raw = reinterpret_cast<uint8_t*>(&block);
    for (size_t i = 0; i < sizeof block; ++i) raw[i] = static_cast<uint8_t>(i * 7 + 1);

    uint8_t out[200];
    // SLOC (block 32..55) goes before BEAM (56..79), AEC (80..103) before DBNOISE (104..123).
    ASSERT_EQ(PackParameterSections(block, PARAM_BEAM | PARAM_SLOC, out, sizeof out), 48u);
    EXPECT_EQ(0, std::memcmp(out, raw + 32, 48));
    ASSERT_EQ(PackParameterSections(block, PARAM_DBNOISE | PARAM_AEC, out, sizeof out), 44u);
    EXPECT_EQ(0, std::memcmp(out, raw + 80, 44));
    ASSERT_EQ(PackParameterSections(block, PARAM_ALL, out, sizeof out), 146u);
    EXPECT_EQ(0, std::memcmp(out, raw, 146));
    EXPECT_EQ(PackParameterSections(block, PARAM_ALL, out, 145), 0u);

    // Named fields sit at their wire offsets, little-endian.
    FeatureParameterBlock named{};
    named.sloc.angle = -100;
    named.general.currentVolume = 0x01020304;
    named.output.outputVolume = 64;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&named);
    EXPECT_EQ(bytes[32], 0x9C);
    EXPECT_EQ(bytes[33], 0xFF);
    EXPECT_EQ(bytes[20], 0x04);
    EXPECT_EQ(bytes[23], 0x01);
    EXPECT_EQ(bytes[145], 64);

    // Unpacking a short input fills the selected sections only as far as it reaches.
    FeatureParameterBlock target{};
    const uint8_t input[30] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                               16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
    EXPECT_EQ(UnpackParameterSections(input, sizeof input, PARAM_SLOC | PARAM_BEAM, target), 30u);
    const uint8_t* filled = reinterpret_cast<const uint8_t*>(&target);
    EXPECT_EQ(0, std::memcmp(filled + 32, input, 30));
    EXPECT_EQ(filled[62], 0);
}
