#include "SerialComm.h"

#include <algorithm>
#include <cstring>

SerialComm::SerialComm() : CComPort(nullptr), ownAddress(PANEL_ADDRESS), resyncing(false)
{
    SetBinaryMode();
}

SerialComm::~SerialComm() = default;

bool SerialComm::SetOwnAddress(unsigned address)
{
    if (address > 255)
        return false;
    ownAddress = address;
    return true;
}

int SerialComm::GetOwnAddress() const
{
    return static_cast<int>(ownAddress);
}

int SerialComm::SetBinaryMode()
{
    SetEndMarker(FRAME_END);
    return 0;
}

int SerialComm::SetTextMode()
{
    SetEndMarker(TEXT_END);
    return 0;
}

bool SerialComm::SendMessage(LinkMessage& message)
{
    if (!IsOpen())
        return false;
    if (!AppendChecksum(message))
        return false;
    uint8_t wire[LINK_BUFFER_SIZE];
    const size_t length = StuffFrame(message, wire, sizeof wire);
    if (length == 0)
        return false;
    int written = 0;
    return Write(wire, static_cast<int>(length), written) && written == static_cast<int>(length);
}

bool SerialComm::ReceiveMessage(LinkMessage& message, double timeoutSeconds)
{
    bool timedOut = false;
    return ReceiveMessage(message, timeoutSeconds, timedOut);
}

bool SerialComm::ReceiveMessage(LinkMessage& message, double timeoutSeconds, bool& timedOut)
{
    timedOut = false;
    if (!IsOpen())
        return false;
    uint8_t frame[LINK_BUFFER_SIZE];
    bool got = false;
    if (!ReadFrame(frame, static_cast<int>(sizeof frame), got, timeoutSeconds))
        return false;
    if (!got) {
        timedOut = !HasFailed();
        return false;
    }
    // The frame ends at its end marker or where the frame buffer ran full;
    // UnstuffFrame rejects the latter for lack of an end marker.
    size_t frameLength = 0;
    while (frameLength < sizeof frame && frame[frameLength] != endMarker)
        ++frameLength;
    if (frameLength < sizeof frame)
        ++frameLength;
    if (!UnstuffFrame(frame, frameLength, message))
        return false;
    return VerifyChecksum(message);
}

int SerialComm::SendCommand(uint8_t destination, uint8_t code, unsigned payloadLength,
                            const uint8_t* payload)
{
    if (payloadLength > LINK_MAX_REQUEST_PAYLOAD || (payloadLength > 0 && payload == nullptr))
        return -1;
    if (resyncing && DiscardInput() == 0 && sinceTimeout.elapsed() > LATE_ANSWER_WINDOW_MS)
        resyncing = false;
    LinkMessage message;
    message.length = payloadLength + 3;
    message.data[0] = destination;
    message.data[1] = static_cast<uint8_t>(ownAddress);
    message.data[2] = code;
    if (payloadLength > 0)
        std::memcpy(message.data + 3, payload, payloadLength);
    return SendMessage(message) ? 1 : -1;
}

int SerialComm::WaitAnswer(uint8_t source, uint8_t code, uint16_t timeoutMs, unsigned capacity,
                           uint8_t* out)
{
    const double timeoutSeconds = timeoutMs / 1000.0;
    const uint8_t answerCode = static_cast<uint8_t>(code + ANSWER_FLAG);
    LinkMessage message;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        // Frames of other codes do not extend the wait beyond its bound.
        const double left = 2.0 * timeoutSeconds - waited.elapsed() / 1000.0;
        bool timedOut = left <= 0.0;
        if (timedOut || !ReceiveMessage(message, std::min(timeoutSeconds, left), timedOut)) {
            if (timedOut) {
                resyncing = true;
                sinceTimeout.start();
            }
            return -1;
        }
        if (message.length < 3 || message.data[0] != ownAddress || message.data[1] != source)
            return -1;
        if (message.data[2] == answerCode || message.data[2] == code)
            break;
    }
    const unsigned payloadLength = message.length - 3;
    if (payloadLength == 0)
        return 0;
    if (out == nullptr || capacity == 0)
        return -1;
    for (unsigned i = 0; i < payloadLength; ++i) {
        if (i == capacity)
            return -1; // the first capacity bytes stay in out
        out[i] = message.data[3 + i];
    }
    return static_cast<int>(payloadLength);
}

bool SerialComm::WriteBytes(const uint8_t* bytes, int length)
{
    if (!IsOpen() || length < 0 || (length > 0 && bytes == nullptr))
        return false;
    int written = 0;
    return Write(bytes, length, written) && written == length;
}

bool SerialComm::WriteString(const char* text)
{
    if (text == nullptr)
        return false;
    return WriteBytes(reinterpret_cast<const uint8_t*>(text), static_cast<int>(std::strlen(text)));
}

bool SerialComm::ReadLine(char* out, int maxLen, double timeoutSeconds)
{
    if (!IsOpen() || out == nullptr)
        return false;
    bool got = false;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(out);
    if (!ReadFrame(bytes, maxLen, got, timeoutSeconds) || !got)
        return false;
    // The frame ends at the first CR, or holds maxLen bytes without one.
    int end = 0;
    while (end < maxLen && bytes[end] != TEXT_END)
        ++end;
    out[end < maxLen ? end + 1 : maxLen] = '\0';
    return true;
}
