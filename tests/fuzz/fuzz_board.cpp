// The emulated board's receiver and request handling: any byte stream is
// split into frames, every valid request gets at most one answer, and each
// answer is a well-formed message that survives the wire.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "DemoBoard.h"
#include "FrameReceiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    DemoBoard board("Fuzzed board", data[0], data[1]);
    FrameReceiver receiver;
    double now = 0.0;
    for (size_t i = 2; i < size; ++i) {
        LinkMessage request;
        if (!receiver.Push(data[i], request))
            continue;
        now += 0.016 * (data[i] & 7);
        board.Advance(now);
        LinkMessage answer;
        if (!board.Answer(request, answer))
            continue;
        if (answer.length < 3 || answer.length > LINK_MESSAGE_CAPACITY - 1)
            std::abort();
        LinkMessage sent = answer;
        if (!AppendChecksum(sent))
            std::abort();
        uint8_t wire[2 * LINK_MESSAGE_CAPACITY + 1];
        const size_t length = StuffFrame(sent, wire, sizeof wire);
        LinkMessage back;
        if (length == 0 || !UnstuffFrame(wire, length, back) || !VerifyChecksum(back) ||
            back.length != answer.length || std::memcmp(back.data, answer.data, answer.length) != 0)
            std::abort();
    }
    return 0;
}
