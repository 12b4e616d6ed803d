// One unstuffed message of the link and the framing functions that turn it
// into wire bytes and back: checksum, byte stuffing, end marker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "LinkProtocol.h"

struct LinkMessage {
    // Number of valid bytes in data. While a message is sent the checksum
    // byte is appended and counted; after a received message has been
    // verified the checksum is no longer counted.
    uint32_t length = 0;
    // [0] destination address, [1] source address, [2] code, [3..] payload.
    uint8_t data[LINK_MESSAGE_CAPACITY] = {};
};

// Appends the byte that makes the content sum 0 modulo 256. Returns false,
// changing nothing, when the message is already full.
bool AppendChecksum(LinkMessage& message);

// Checks that all bytes, checksum included, sum to 0 modulo 256, then drops
// the checksum from the length. An empty message counts as valid and stays
// empty (there is no checksum byte to drop).
bool VerifyChecksum(LinkMessage& message);

// Writes the stuffed bytes of the message followed by FRAME_END into out.
// Returns the number of bytes written, or 0 when they would not fit in
// outCapacity (a written frame always holds at least the end marker).
size_t StuffFrame(const LinkMessage& message, uint8_t* out, size_t outCapacity);

// Reads wire bytes up to the first FRAME_END and stores the unstuffed content
// in message. Fails on a frame without an end marker, an escape followed by a
// byte other than FRAME_ESC or FRAME_ESC_END, an escape left dangling at the
// end marker, or content larger than the message capacity.
bool UnstuffFrame(const uint8_t* wire, size_t wireLength, LinkMessage& message);
