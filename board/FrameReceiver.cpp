#include "FrameReceiver.h"

constexpr size_t FrameReceiver::MAX_FRAME;

bool FrameReceiver::Push(uint8_t byte, LinkMessage& message)
{
    if (byte != FRAME_END) {
        if (count < MAX_FRAME - 1) {
            frame[count++] = byte;
        } else {
            overflowed = true;
        }
        return false;
    }
    const size_t length = count;
    const bool tooLong = overflowed;
    count = 0;
    overflowed = false;
    if (length == 0 && !tooLong)
        return false; // empty frame
    frame[length] = FRAME_END;
    if (tooLong || !UnstuffFrame(frame, length + 1, message) || !VerifyChecksum(message) ||
        message.length < 3) {
        ++dropped;
        return false;
    }
    return true;
}
