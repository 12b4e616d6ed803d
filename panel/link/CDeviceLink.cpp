#include "CDeviceLink.h"

#include <cstring>
#include <utility>

#include "SerialComm.h"

namespace
{
constexpr double READ_LINE_TIMEOUT_SECONDS = 10.0;
constexpr unsigned SEVEN_BYTES = 7;
} // namespace

CDeviceLink::CDeviceLink() : comm(new SerialComm()) {}

CDeviceLink::~CDeviceLink()
{
    delete comm;
}

void CDeviceLink::SetPortNumber(int n)
{
    comm->SetPortNumber(n);
}

int CDeviceLink::Open(int baud)
{
    return comm->Open(baud) ? 0 : -1;
}

int CDeviceLink::Close()
{
    return comm->Close() ? 0 : -1;
}

bool CDeviceLink::IsOpen() const
{
    return comm->IsOpen();
}

bool CDeviceLink::HasFailed() const
{
    return comm->HasFailed();
}

void CDeviceLink::SetSlowWaitHandler(std::function<void()> handler)
{
    comm->SetSlowWaitHandler(std::move(handler));
}

int CDeviceLink::SetOwnAddress(uint8_t address)
{
    comm->SetOwnAddress(address);
    return 0;
}

int CDeviceLink::SetTextMode()
{
    return comm->SetTextMode();
}

int CDeviceLink::SetBinaryMode()
{
    return comm->SetBinaryMode();
}

// Sends one request and waits for its answer; no wait when the send failed.
int CDeviceLink::Command(uint8_t address, uint8_t code, unsigned payloadLength,
                         const uint8_t* payload, unsigned capacity, uint8_t* out)
{
    if (comm->SendCommand(address, code, payloadLength, payload) == -1)
        return -1;
    return comm->WaitAnswer(address, code, LINK_TIMEOUT_MS, capacity, out);
}

int CDeviceLink::Ping(uint8_t address)
{
    return Command(address, CMD_PING, 0, nullptr, 0, nullptr);
}

int CDeviceLink::ReadBoardName(uint8_t address, unsigned capacity, uint8_t* out)
{
    return Command(address, CMD_READ_BOARD_NAME, 0, nullptr, capacity, out);
}

int CDeviceLink::ReadBoardName(uint8_t address, unsigned capacity, char* out)
{
    return ReadBoardName(address, capacity, reinterpret_cast<uint8_t*>(out));
}

int CDeviceLink::SetParameters(uint8_t address, unsigned mask, const FeatureParameterBlock& block)
{
    uint8_t payload[1 + sizeof(FeatureParameterBlock)];
    payload[0] = static_cast<uint8_t>(mask & 0xFF);
    const size_t length = 1 + PackParameterSections(block, mask, payload + 1, sizeof payload - 1);
    return Command(address, CMD_SET_PARAMETERS, static_cast<unsigned>(length), payload, 0, nullptr);
}

int CDeviceLink::GetParameters(uint8_t address, unsigned mask, FeatureParameterBlock& block)
{
    uint8_t answer[PARAMETER_ANSWER_CAPACITY] = {};
    const uint8_t request = static_cast<uint8_t>(mask & 0xFF);
    if (comm->SendCommand(address, CMD_GET_PARAMETERS, 1, &request) == -1)
        return -1;
    const int result = comm->WaitAnswer(address, CMD_GET_PARAMETERS, LINK_TIMEOUT_MS,
                                        PARAMETER_ANSWER_CAPACITY, answer);
    // Whatever the result, the requested sections take what arrived (zeros
    // where nothing did); callers check the result before showing a value.
    UnpackParameterSections(answer + 1, sizeof answer - 1, request, block);
    return result;
}

int CDeviceLink::WriteByteValue(uint8_t address, unsigned value)
{
    const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    return Command(address, CMD_WRITE_BYTE, 1, &byte, 0, nullptr);
}

int CDeviceLink::WriteSevenBytes(uint8_t address, const uint8_t bytes[7])
{
    return Command(address, CMD_WRITE_SEVEN, SEVEN_BYTES, bytes, 0, nullptr);
}

int CDeviceLink::ReadSevenBytes(uint8_t address, uint8_t out[7])
{
    return Command(address, CMD_READ_SEVEN, 0, nullptr, SEVEN_BYTES, out);
}

int CDeviceLink::PlainCommand(uint8_t address)
{
    return Command(address, CMD_PLAIN, 0, nullptr, 0, nullptr);
}

int CDeviceLink::SendWithoutAnswer(uint8_t address)
{
    return comm->SendCommand(address, CMD_NO_ANSWER, 0, nullptr);
}

int CDeviceLink::WriteBytes(const uint8_t* bytes, int length)
{
    return comm->WriteBytes(bytes, length) ? 0 : -1;
}

int CDeviceLink::WriteString(const char* text)
{
    return comm->WriteString(text) ? 0 : -1;
}

bool CDeviceLink::ReadLine(char* out, int maxLen)
{
    return comm->ReadLine(out, maxLen, READ_LINE_TIMEOUT_SECONDS);
}
