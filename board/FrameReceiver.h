// Splits the byte stream from the panel into frames at the end marker and
// hands out the valid messages among them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "LinkMessage.h"

class FrameReceiver
{
  public:
    // Longest frame kept: a full message, every byte escaped, end marker.
    static constexpr size_t MAX_FRAME = 2 * LINK_MESSAGE_CAPACITY + 1;

    // Adds one byte. Returns true when it completed a frame that unstuffed
    // and passed its checksum; message then holds it (checksum dropped).
    // Empty frames, frames with bad stuffing or checksum, and frames too
    // long to hold (dropped up to their end marker) give nothing.
    bool Push(uint8_t byte, LinkMessage& message);

    unsigned DroppedFrames() const { return dropped; }

  private:
    uint8_t frame[MAX_FRAME];
    size_t count = 0;
    bool overflowed = false;
    unsigned dropped = 0;
};
