#include "LinkMessage.h"

namespace
{

uint8_t ByteSum(const uint8_t* bytes, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

} // namespace

bool AppendChecksum(LinkMessage& message)
{
    if (message.length >= LINK_MESSAGE_CAPACITY)
        return false;
    message.data[message.length] = static_cast<uint8_t>(0u - ByteSum(message.data, message.length));
    ++message.length;
    return true;
}

bool VerifyChecksum(LinkMessage& message)
{
    if (message.length == 0)
        return true;
    size_t count = message.length <= LINK_MESSAGE_CAPACITY ? message.length : LINK_MESSAGE_CAPACITY;
    bool valid = ByteSum(message.data, count) == 0;
    --message.length;
    return valid;
}

size_t StuffFrame(const LinkMessage& message, uint8_t* out, size_t outCapacity)
{
    size_t count = message.length <= LINK_MESSAGE_CAPACITY ? message.length : LINK_MESSAGE_CAPACITY;
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = message.data[i];
        bool escaped = b == FRAME_END || b == FRAME_ESC;
        if (n + (escaped ? 2 : 1) > outCapacity)
            return 0;
        if (b == FRAME_END) {
            out[n++] = FRAME_ESC;
            out[n++] = FRAME_ESC_END;
        } else if (b == FRAME_ESC) {
            out[n++] = FRAME_ESC;
            out[n++] = FRAME_ESC;
        } else {
            out[n++] = b;
        }
    }
    if (n + 1 > outCapacity)
        return 0;
    out[n++] = FRAME_END;
    return n;
}

bool UnstuffFrame(const uint8_t* wire, size_t wireLength, LinkMessage& message)
{
    size_t stored = 0;
    bool escape = false;
    for (size_t i = 0; i < wireLength; ++i) {
        uint8_t b = wire[i];
        if (b == FRAME_END) {
            if (escape)
                return false;
            message.length = static_cast<uint32_t>(stored);
            return true;
        }
        uint8_t value = b;
        if (escape) {
            if (b == FRAME_ESC_END) {
                value = FRAME_END;
            } else if (b != FRAME_ESC) {
                return false;
            }
            escape = false;
        } else if (b == FRAME_ESC) {
            escape = true;
            continue;
        }
        if (stored >= LINK_MESSAGE_CAPACITY)
            return false;
        message.data[stored++] = value;
    }
    return false; // no end marker
}
