// Frame unstuffing and checksum: any wire bytes either fail cleanly or give a
// message that stuffs back to the same frame and keeps its checksum.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "LinkMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LinkMessage message;
    if (!UnstuffFrame(data, size, message))
        return 0;
    if (message.length > LINK_MESSAGE_CAPACITY)
        std::abort();
    const LinkMessage unstuffed = message;
    uint8_t wire[2 * LINK_MESSAGE_CAPACITY + 1];
    const size_t length = StuffFrame(unstuffed, wire, sizeof wire);
    if (length == 0 || wire[length - 1] != FRAME_END)
        std::abort();
    LinkMessage again;
    if (!UnstuffFrame(wire, length, again) || again.length != unstuffed.length ||
        std::memcmp(again.data, unstuffed.data, unstuffed.length) != 0)
        std::abort();
    // A verified message, with its checksum appended again, verifies again.
    if (VerifyChecksum(message) && message.length > 0) {
        if (!AppendChecksum(message) || !VerifyChecksum(message))
            std::abort();
    }
    return 0;
}
